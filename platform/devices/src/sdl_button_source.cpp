// Joysticks and game controllers through SDL2's joystick layer, which needs
// no window and no video subsystem.
#include "buffered_device.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace platform::devices {
namespace {

// Holds the joystick subsystem for as long as a source or device lives.
class SdlJoysticks {
public:
    SdlJoysticks()
    {
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        ok_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
    }
    ~SdlJoysticks()
    {
        if (ok_) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }
    SdlJoysticks(const SdlJoysticks&) = delete;
    SdlJoysticks& operator=(const SdlJoysticks&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

DeviceId toId(const SDL_JoystickGUID& guid)
{
    DeviceId id{};
    static_assert(sizeof(guid.data) == 16);
    std::memcpy(id.data(), guid.data, id.size());
    return id;
}

class SdlButtonDevice final : public BufferedButtonDevice {
public:
    SdlButtonDevice(std::shared_ptr<SdlJoysticks> sdl, SDL_Joystick* joystick, DeviceInstance instance)
        : BufferedButtonDevice(std::move(instance)), sdl_(std::move(sdl)), joystick_(joystick)
    {
    }
    ~SdlButtonDevice() override { SDL_JoystickClose(joystick_); }

protected:
    bool sample(std::vector<bool>& down) override
    {
        SDL_JoystickUpdate();
        if (!SDL_JoystickGetAttached(joystick_)) return false;
        const int n = std::max(0, SDL_JoystickNumButtons(joystick_));
        down.assign(static_cast<std::size_t>(std::min(n, 128)), false);
        for (std::size_t i = 0; i < down.size(); ++i) down[i] = SDL_JoystickGetButton(joystick_, static_cast<int>(i)) != 0;
        return true;
    }

private:
    std::shared_ptr<SdlJoysticks> sdl_;
    SDL_Joystick* joystick_;
};

class SdlButtonSource final : public ButtonSource {
public:
    SdlButtonSource() : sdl_(std::make_shared<SdlJoysticks>()) {}

    void enumerate(const std::function<void(std::unique_ptr<ButtonDevice>)>& add) override
    {
        if (!sdl_->ok()) return;
        SDL_JoystickUpdate();  // picks up devices that came or went
        std::vector<DeviceId> seen;
        const int count = SDL_NumJoysticks();
        for (int i = 0; i < count; ++i) {
            SDL_Joystick* joystick = SDL_JoystickOpen(i);
            if (!joystick) continue;
            DeviceInstance instance;
            instance.product = toId(SDL_JoystickGetGUID(joystick));
            instance.instance = instance.product;
            const auto same = std::count(seen.begin(), seen.end(), instance.product);
            seen.push_back(instance.product);
            instance.instance[15] = static_cast<std::uint8_t>(instance.instance[15] ^ static_cast<std::uint8_t>(same));
            instance.devType = SDL_JoystickGetType(joystick) == SDL_JOYSTICK_TYPE_GAMECONTROLLER ? kTypeGamepad : kTypeJoystick;
            if (const char* name = SDL_JoystickName(joystick)) instance.name = name;
            add(std::make_unique<SdlButtonDevice>(sdl_, joystick, std::move(instance)));
        }
    }

private:
    std::shared_ptr<SdlJoysticks> sdl_;
};

} // namespace

std::unique_ptr<ButtonSource> makeSdlButtonSource() { return std::make_unique<SdlButtonSource>(); }

} // namespace platform::devices
