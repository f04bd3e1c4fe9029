#include "app/shell/monitor_slots.h"

#include <array>
#include <string>

namespace app {

CMonitorSlots::CMonitorSlots(IMonitorFactory& factory, CAppProfile& profile, std::function<bool()> frameShown)
    : factory_(factory), profile_(profile), frameShown_(std::move(frameShown))
{
}

CMonitorSlots::~CMonitorSlots() { CloseChildWindows(false); }

void CMonitorSlots::CreateChildWindow(int slot)
{
    // Slot 3 has no window of its own.
    if (!Valid(slot) || slot == kSlotCount - 1)
        return;
    auto& window = windows_[static_cast<std::size_t>(slot)];
    if (window) {
        window->Raise();
        return;
    }
    window = factory_.Open(slot);
}

void CMonitorSlots::CloseChildWindow(int slot)
{
    if (!Valid(slot))
        return;
    // Taken out of the slot first: stopping may report the window's destroy,
    // which must then find the slot already empty.
    std::unique_ptr<IMonitorWindow> window = std::move(windows_[static_cast<std::size_t>(slot)]);
    if (window)
        window->Stop();
}

void CMonitorSlots::CloseChildWindows(bool remember)
{
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (remember && IsOpen(slot))
            reopen_[static_cast<std::size_t>(slot)] = true;
        CloseChildWindow(slot);
    }
}

void CMonitorSlots::ShowChildWindows(bool force)
{
    if (!force && frameShown_ && !frameShown_())
        return;
    const auto marks = reopen_;
    reopen_ = {};
    for (int slot = 0; slot < kSlotCount; ++slot)
        if (marks[static_cast<std::size_t>(slot)])
            CreateChildWindow(slot);
}

void CMonitorSlots::OnModelessDestroyed(std::uintptr_t id)
{
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const auto& window = windows_[static_cast<std::size_t>(slot)];
        if (window && window->Id() == id) {
            CloseChildWindow(slot);
            return;
        }
    }
}

void CMonitorSlots::Toggle(int slot)
{
    if (IsOpen(slot))
        CloseChildWindow(slot);
    else
        CreateChildWindow(slot);
}

bool CMonitorSlots::IsOpen(int slot) const { return Valid(slot) && windows_[static_cast<std::size_t>(slot)] != nullptr; }

bool CMonitorSlots::ReopenFlag(int slot) const { return Valid(slot) && reopen_[static_cast<std::size_t>(slot)]; }

bool CMonitorSlots::Message(int slot, platform::UINT message, platform::WPARAM wParam)
{
    if (!IsOpen(slot))
        return false;
    return windows_[static_cast<std::size_t>(slot)]->Message(message, wParam);
}

void CMonitorSlots::LoadReopenFlags()
{
    for (int slot = 0; slot < kSlotCount; ++slot)
        reopen_[static_cast<std::size_t>(slot)] = profile_.GetProfileInt(kSection, std::to_string(slot), 0) != 0;
}

void CMonitorSlots::SaveOpenWindows()
{
    // One save, one change: the next start never re-opens half of one
    // exit's windows and half of another's.
    std::array<std::string, kSlotCount> names;
    std::array<CAppProfile::IntEntry, kSlotCount> entries;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const auto i = static_cast<std::size_t>(slot);
        names[i] = std::to_string(slot);
        entries[i] = {kSection, names[i], IsOpen(slot) ? 1 : 0};
    }
    profile_.WriteProfileInts(entries);
}

} // namespace app
