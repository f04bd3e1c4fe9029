// A stand-in for the in-game helper of Battlefield 2. Loaded into the game,
// it reads the profile id the view library left in the shared section and
// whether the view library holds "VSLVIEWSHOOKMUTEX" (the sign that it is the
// one loading the helper), notes "loaded <id> held" (or "... free") in the
// file named by VSLVIEWSI_RECORD, then notes "again" each time its event
// "VSLViewsEvent<pid>" is set.
#include "platform/shared.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

void note(const std::string& line)
{
    const char* path = std::getenv("VSLVIEWSI_RECORD");
    if (!path)
        return;
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

__attribute__((constructor)) void loaded()
{
    std::uint32_t id = 0;
    if (auto section = platform::SharedSection::open("VistrelVMSharedMemory", 4))
        std::memcpy(&id, section->data(), sizeof id);
    bool held = false;
    if (auto mutex = platform::NamedMutex::open("VSLVIEWSHOOKMUTEX")) {
        held = !platform::holds(mutex->lock(std::chrono::milliseconds(0)));
        if (!held)
            mutex->unlock();
    }
    note("loaded " + std::to_string(id) + (held ? " held" : " free"));
    const std::string name = "VSLViewsEvent" + std::to_string(::getpid());
    std::thread([name] {
        auto again = platform::NamedEvent::open(name, false);
        if (!again)
            return;
        for (;;)
            if (again->wait(std::chrono::milliseconds(200)) == 0)
                note("again");
    }).detach();
}

} // namespace
