#include "simcam/scene_file.h"

#include <charconv>
#include <cstdint>
#include <vector>

#include "platform/file_read.h"

namespace simcam {
namespace {

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

template <class T>
bool Number(std::string_view text, T& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// Six numbers: yaw, pitch, roll within 90 degrees, x, y, z within 300 mm.
bool Pose(std::string_view text, scene::HeadPose& pose)
{
    double v[6];
    for (int i = 0; i < 6; ++i) {
        text = Trim(text);
        const std::size_t end = text.find_first_of(" \t");
        if (!Number(text.substr(0, end), v[i])) return false;
        const double limit = i < 3 ? 90.0 : 300.0;
        if (!(v[i] >= -limit && v[i] <= limit)) return false;
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end);
    }
    if (!Trim(text).empty()) return false;
    pose = {v[0], v[1], v[2], v[3], v[4], v[5]};
    return true;
}

} // namespace

bool ParseSceneSettings(std::string_view text, SceneSettings& out, std::string& error)
{
    SceneSettings s = out;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        line = Trim(line);
        if (line.empty()) continue;
        const std::size_t space = line.find_first_of(" \t");
        const std::string_view key = line.substr(0, space);
        const std::string_view value = space == std::string_view::npos ? std::string_view{} : Trim(line.substr(space));
        bool ok = false;
        if (key == "revision") {
            int r = 0;
            ok = Number(value, r) && ((r >= 5 && r <= 9) || r == 12 || r == 13);
            if (ok) s.revision = r;
        } else if (key == "location") {
            int l = 0;
            ok = Number(value, l) && l >= 0 && l <= 4;
            if (ok) s.location = l;
        } else if (key == "motion") {
            ok = value == "scripted" || value == "still";
            if (ok) s.still = value == "still";
        } else if (key == "pose") {
            ok = Pose(value, s.pose);
        } else if (key == "reach") {
            double r = 0;
            ok = Number(value, r) && r >= 0.0 && r <= 1.0;
            if (ok) s.reach = r;
        } else if (key == "noise") {
            double n = 0;
            ok = Number(value, n) && n >= 0.0 && n <= 10.0;
            if (ok) s.noise = n;
        } else if (key == "radius") {
            double r = 0;
            ok = Number(value, r) && r >= 1.0 && r <= 20.0;
            if (ok) s.radius = r;
        } else if (key == "rate") {
            double r = 0;
            ok = Number(value, r) && r >= 1.0 && r <= 500.0;
            if (ok) s.rate = r;
        } else {
            error = "line " + std::to_string(lineNumber) + ": unknown key \"" + std::string(key) + "\"";
            return false;
        }
        if (!ok) {
            error = "line " + std::to_string(lineNumber) + ": bad value for " + std::string(key) + ": \"" +
                    std::string(value) + "\"";
            return false;
        }
    }
    out = s;
    return true;
}

SceneSettings LoadSceneSettings(const std::filesystem::path& file, std::string& error)
{
    SceneSettings s;
    std::vector<std::uint8_t> bytes;
    if (!platform::files::ReadFileLimited(file, kMaxSceneFileBytes, bytes, error)) return s;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!ParseSceneSettings(text, s, error)) error = file.string() + ", " + error;
    return s;
}

} // namespace simcam
