#pragma once
// What the program's simulated camera shows. The file that ORVANE_SIMCAM_SCENE
// names holds "key value" lines ('#' starts a comment):
//   revision 8        camera hardware revision (5-9, 12, 13)
//   location 0        clip mounting location (0-4)
//   motion scripted   the head sweeps the range users move in, or: still
//   pose 20 -10 5 30 -20 40
//                     where a still head is held: yaw, pitch, roll (degrees,
//                     within 90) and x, y, z (mm, within 300) from the
//                     neutral pose; the scripted head does not use it
//   reach 1.0         share of that range the scripted head sweeps (0-1)
//   noise 0.2         pixel noise of the marker centres (standard deviation)
//   radius 4          marker disc radius in pixels
//   rate 100          frames per second while the program leaves the camera's
//                     frame-rate register unset (1-500)
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "simcam/scene/scene.h"

namespace simcam {

struct SceneSettings {
    int revision = 8;
    int location = 0;
    bool still = false;
    scene::HeadPose pose{}; // of the still head
    double reach = 1.0;
    double noise = 0.0;
    double radius = 4.0;
    double rate = 100.0;
};

// Reads the lines into `out` (keys not given keep their values). False, with
// the line and what is wrong in `error`, at the first line that is not
// understood; `out` is then left as it was.
bool ParseSceneSettings(std::string_view text, SceneSettings& out, std::string& error);

// A scene file is a few lines; one far larger is refused unread.
inline constexpr std::size_t kMaxSceneFileBytes = 64u << 10;

// The settings of the file, or the defaults (with the reason in `error`)
// when it cannot be read or understood. Only a regular file of at most
// kMaxSceneFileBytes is read: a folder or a FIFO named by mistake is
// refused, not read as an empty scene or waited on.
SceneSettings LoadSceneSettings(const std::filesystem::path& file, std::string& error);

} // namespace simcam
