// VSLMouse: moves the mouse cursor from head motion, for programs that read
// the mouse but know nothing of head tracking.
#include <QApplication>

#include "mouse_dialog.h"
#include "platform/debug.h"
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

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
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
    dialog.exec();
    return 0;
}
