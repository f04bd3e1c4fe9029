#pragma once
// Small values the view library's tests share: pose records and byte text.
#include "client/ovclient.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace views_test {

// A pose record with the six axes (in the record's units) and a frame count.
inline OVPosePacket pose(float roll = 0, float pitch = 0, float yaw = 0, float x = 0, float y = 0, float z = 0,
                         std::uint16_t frame = 1)
{
    OVPosePacket p{};
    p.frame = frame;
    p.value[0] = roll;
    p.value[1] = pitch;
    p.value[2] = yaw;
    p.value[3] = x;
    p.value[4] = y;
    p.value[5] = z;
    return p;
}

// Bytes as the stand-in game's "dump" prints them.
inline std::string hex(const std::vector<std::uint8_t>& bytes)
{
    std::string s;
    char buf[3];
    for (auto b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        s += buf;
    }
    return s;
}

// A whole file's text; empty when it cannot be read.
inline std::string readAll(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace views_test
