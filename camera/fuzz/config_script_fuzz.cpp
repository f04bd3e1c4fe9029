// Any bytes as a camera configuration script: the read succeeds or fails
// with a reason and the script unchanged; a script it reads writes out and
// reads back the same.
#include "camera/config_script.h"

#include "testing/fuzz_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static testing_support::FuzzFile file;
    static testing_support::FuzzFile copy;
    file.Write(data, size);
    Orvane::CameraConfigScript script;
    const Orvane::CameraConfigScript before = script;
    if (!script.ReadXml(file.Path())) {
        if (!(script == before) || script.GetLastError().empty())
            std::abort();
        return 0;
    }
    const std::string text = script.ToXml();
    copy.Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    Orvane::CameraConfigScript back;
    if (!back.ReadXml(copy.Path()) || !(back == script))
        std::abort();
    return 0;
}
