#pragma once
// Whether the program in front reads the mouse through DirectInput (or is
// the emulator itself): moves are sent only then.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pointer.h"
#include "platform/process.h"

namespace vslmouse {

// The window in front and the modules of its process.
class ForegroundProbe {
public:
    virtual ~ForegroundProbe() = default;
    virtual std::uint64_t ForegroundWindow() = 0;
    // File names of the modules of the window's process, the executable
    // first; empty when the process cannot be read.
    virtual std::vector<std::string> ModuleNames(std::uint64_t window) = 0;
};

// True when the first module is the emulator ("VSLMouse.exe", or this
// build's program "vslmouse"), or any module's name starts with "dinput",
// ignoring case.
bool IsDirectInputModuleList(std::span<const std::string> modules);

// The desktop's window in front and the process's mapped files.
class SystemForeground final : public ForegroundProbe {
public:
    SystemForeground(platform::WindowFocus& focus, platform::ProcessSystem& processes)
        : focus_(focus), processes_(processes)
    {
    }
    std::uint64_t ForegroundWindow() override { return focus_.foregroundWindow(); }
    std::vector<std::string> ModuleNames(std::uint64_t window) override;

private:
    platform::WindowFocus& focus_;
    platform::ProcessSystem& processes_;
};

} // namespace vslmouse
