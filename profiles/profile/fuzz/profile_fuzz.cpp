// Any bytes as a profile file: the load either reads it or refuses it and
// leaves the object as it was; what it reads can be written out again.
#include "profiles/Profile.h"

#include "camera/xml_utils.h"
#include "testing/fuzz_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static testing_support::FuzzFile file;
    file.Write(data, size);
    CProfile p;
    p.Path = Orvane::XmlUtils::Widen(file.Path());
    p.Name = u"untouched";
    const int r = p.Load([](std::u16string_view) {});
    if (r != 0) {
        // Refused: nothing changed.
        CProfile fresh;
        fresh.Path = p.Path;
        fresh.Name = u"untouched";
        if (!(p == fresh))
            std::abort();
        return 0;
    }
    if (p.ToXml().empty())
        std::abort();
    return 0;
}
