#pragma once
// What each thread of a process has used so far, from /proc: processor time
// (schedstat, nanoseconds) and context switches, voluntary and involuntary
// (status), which count its wake-ups. Header only, for the benchmarks that
// count where a program's time and wake-ups go.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>

namespace bench {

struct ThreadUse {
    std::string name;
    std::uint64_t cpuNs = 0;
    std::uint64_t switches = 0;
};

// Every thread of process `pid` ("self" for this one) by thread id.
inline std::map<int, ThreadUse> ThreadsOf(const std::string& pid = "self")
{
    std::map<int, ThreadUse> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + pid + "/task", ec)) {
        ThreadUse use;
        std::ifstream comm(entry.path() / "comm");
        std::getline(comm, use.name);
        std::ifstream(entry.path() / "schedstat") >> use.cpuNs;
        std::ifstream status(entry.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("voluntary_ctxt_switches:") || line.starts_with("nonvoluntary_ctxt_switches:"))
                use.switches += std::stoull(line.substr(line.find(':') + 1));
        }
        out[std::stoi(entry.path().filename().string())] = use;
    }
    return out;
}

} // namespace bench
