#include "app/frame/status_text.h"

std::array<std::u16string, 4> StatusTexts(const StatusInputs& in)
{
    std::u16string state;
    if (in.recording)
        state = u"RECORDING";
    else if (in.playback)
        state = u"PLAYBACK";
    else if (!in.devicePresent)
        state = u"No Device";
    else if (in.configuring)
        state = u"Configuring";
    else if (in.paused)
        state = u"Disabled";
    else if (in.targetLost)
        state = u"No Data";
    else
        state = u"Tracking";
    return {u"Status: " + state, std::u16string(u"Tracking: ") + (in.motionType != 0 ? u"Pendrix" : u"Dot"),
            u"Center: " + in.centerKey, u"Enable: " + in.pauseKey};
}
