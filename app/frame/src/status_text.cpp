#include "app/frame/status_text.h"

#include "app/shell/texts.h"

std::array<std::u16string, 4> StatusTexts(const StatusInputs& in, const app::CResourceTexts* texts)
{
    const auto text = [texts](unsigned id) {
        return texts != nullptr ? texts->Get(id) : std::u16string(app::BuiltInText(id));
    };
    unsigned state = 0;
    if (in.recording)
        state = app::ids::kRecording;
    else if (in.playback)
        state = app::ids::kPlayback;
    else if (!in.devicePresent)
        state = app::ids::kNoDevice;
    else if (in.configuring)
        state = app::ids::kConfiguring;
    else if (in.paused)
        state = app::ids::kDisabled;
    else if (in.targetLost)
        state = app::ids::kNoData;
    else
        state = app::ids::kTracking;
    return {app::FormatText(text(app::ids::kStatusFormat), {text(state)}),
            app::FormatText(text(app::ids::kTrackingFormat),
                            {text(in.motionType != 0 ? app::ids::kPendrix : app::ids::kDot)}),
            app::FormatText(text(app::ids::kCenterFormat), {in.centerKey}),
            app::FormatText(text(app::ids::kEnableFormat), {in.pauseKey})};
}
