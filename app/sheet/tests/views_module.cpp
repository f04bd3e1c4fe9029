// A stand-in game view library: counts its starts and stops in a file named
// by ORVANE_TEST_VIEWS_LOG, and reports version 7.
#include <cstdio>
#include <cstdlib>

namespace {
void Log(const char* what)
{
    const char* file = std::getenv("ORVANE_TEST_VIEWS_LOG");
    if (file == nullptr)
        return;
    if (std::FILE* f = std::fopen(file, "a")) {
        std::fputs(what, f);
        std::fclose(f);
    }
}
} // namespace

extern "C" __attribute__((visibility("default"))) int VSLViewsStart()
{
    Log("start\n");
    return 0;
}
extern "C" __attribute__((visibility("default"))) int VSLViewsStop()
{
    Log("stop\n");
    return 0;
}
extern "C" __attribute__((visibility("default"))) int VSLViewsVersion() { return 7; }
