// Any bytes as the simulated camera's scene file: every line is taken or
// the first bad one refused with the settings unchanged. The harness knows
// no keys, so a key the parser learns needs no change here.
#include "simcam/scene_file.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    simcam::SceneSettings settings;
    const simcam::SceneSettings before = settings;
    std::string error;
    if (!simcam::ParseSceneSettings(text, settings, error)) {
        if (error.empty())
            std::abort();
        const simcam::SceneSettings& s = settings;
        const simcam::SceneSettings& b = before;
        if (s.revision != b.revision || s.location != b.location || s.still != b.still)
            std::abort();
    }
    return 0;
}
