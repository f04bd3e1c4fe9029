// A module the process tests load into the stand-in game. Its constructor
// leaves a mark in the game's data page at a fixed address (when the game
// mapped one there), which the game's "dump" then shows. The slow build
// sleeps in its constructor first.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>

extern "C" {
__attribute__((visibility("default"))) std::uint32_t processTestModuleMark = 0;
}

namespace {

constexpr std::uintptr_t kMarkAddress = 0x10410ff0;

__attribute__((constructor)) void loaded()
{
#ifdef SLOW_MODULE
    if (const char* gate = std::getenv("PROCESS_TEST_MODULE_GATE")) {
        const int fd = ::open(gate, O_RDONLY | O_CLOEXEC);
        char byte = 0;
        while (fd >= 0 && ::read(fd, &byte, 1) < 0 && errno == EINTR) {
        }
        if (fd >= 0)
            ::close(fd);
    } else {
        timespec t{5, 0};
        while (::nanosleep(&t, &t) != 0) {
        }
    }
#endif
    processTestModuleMark = 0x600D;
    // The game's data page, when it has one there: the mark shows the
    // constructor ran inside the game.
    unsigned char present = 0;
    if (::mincore(reinterpret_cast<void*>(kMarkAddress & ~std::uintptr_t{4095}), 4096, &present) == 0)
        *reinterpret_cast<volatile std::uint32_t*>(kMarkAddress) = 0x600D;
}

} // namespace
