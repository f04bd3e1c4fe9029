// VSLMouse: moves the mouse cursor from head motion, for programs that read
// the mouse but know nothing of head tracking.
#include <QApplication>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "mouse_dialog.h"
#include "platform/debug.h"
#include "platform/gui/program_start.h"
#include "platform/pointer.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sync.h"

namespace {

// Without an X display nothing can be moved; the dialog still runs.
class NoPointer final : public platform::Pointer {
public:
    std::uint32_t sendInput(std::span<const platform::MouseInput>) override { return 0; }
    std::optional<platform::CursorPoint> cursorPos() override { return std::nullopt; }
};
class NoFocus final : public platform::WindowFocus {
public:
    std::uint64_t foregroundWindow() override { return 0; }
    int windowProcess(std::uint64_t) override { return 0; }
};

constexpr const char* kHelpText =
    "Usage: vslmouse [--help | --version]\n"
    "Orvane mouse emulation: moves the mouse cursor with the head pose that a\n"
    "running vistrel publishes.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "It needs an X display with the XTEST extension to move the cursor; without\n"
    "one the dialog still runs (headless) and moves nothing.\n"
    "See vslmouse(1).\n";

} // namespace

int main(int argc, char** argv)
{
    // SIGTERM and SIGINT end the dialog as its Cancel would, whenever they come.
    platform::gui::StopSignals stop;
    const std::vector<std::string> args(argv, argv + argc);
    const platform::gui::CommandLine commandLine = platform::gui::ParseCommandLine(args, "vslmouse");
    const std::string version = std::string("vslmouse (Orvane head tracking) ") + ORVANE_VERSION + "\n";
    if (const auto exit = platform::gui::AnswerCommandLine(commandLine, "vslmouse", kHelpText, version))
        return *exit;
    // With no display at all the dialog runs headless rather than abort.
    platform::gui::ChooseOffscreenWithoutDisplay();
    std::optional<platform::gui::HeadlessNoiseFilter> quietToolkit;
    if (platform::gui::HeadlessPlatform(commandLine))
        quietToolkit.emplace();

    QApplication app(argc, argv);
    stop.Watch([] { platform::gui::CancelModalDialogs(); });
    platform::Thread::setCurrentPriority(platform::ThreadPriority::AboveNormal);

    std::unique_ptr<platform::Pointer> pointer = platform::openX11Pointer();
    std::unique_ptr<platform::WindowFocus> focus = platform::openX11Focus();
    if (!pointer) {
        platform::debug::output("VSLMouse: no X display with XTEST; moves are not sent\n");
        pointer = std::make_unique<NoPointer>();
    }
    if (!focus)
        focus = std::make_unique<NoFocus>();
    vslmouse::SystemForeground foreground(*focus, platform::systemProcesses());
    vslmouse::ClientBinding client;
    auto store = platform::registry::defaultStore();

    vslmouse::MouseDialog dialog({client, *pointer, foreground, platform::systemClock(), *store});
    if (const int rc = dialog.Start(); rc != 0)
        return rc;
    // A stop that came before the dialog's loop ends it before it runs.
    if (!stop.Requested())
        dialog.exec();
    else
        dialog.reject();
    return 0;
}
