// Any bytes as settings.xml: the load reads it or refuses it unchanged, and
// whatever it reads is written and read back the same (the language module's
// name aside: characters a file cannot hold are replaced on writing).
#include "profiles/AppSettings.h"

#include "testing/fuzz_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static testing_support::FuzzFile file;
    static testing_support::FuzzFile copy;
    file.Write(data, size);
    CAppSettings s;
    const int r = s.Load(file.Path());
    if (r != 0) {
        if (!(s == CAppSettings()))
            std::abort();
        return 0;
    }
    const std::string text = s.ToXml();
    copy.Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    CAppSettings back;
    back.Favorites.clear();
    if (back.Load(copy.Path()) != 0)
        std::abort();
    back.LanguageDll = s.LanguageDll;
    if (!(back == s))
        std::abort();
    return 0;
}
