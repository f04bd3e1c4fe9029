#include "windows/gauge_model.h"

namespace gauges {

int PoseIndexOfGauge(int gauge)
{
    static constexpr std::array<int, kGaugeCount> kIndex{3, 4, 5, 0, 1, 2};
    return gauge >= 0 && gauge < kGaugeCount ? kIndex[static_cast<std::size_t>(gauge)] : -1;
}

bool IsTranslationGauge(int gauge) { return gauge >= 3 && gauge < kGaugeCount; }

GaugeValues ValuesForGauge(int gauge, const PoseAxes& raw, const PoseAxes& output, const PoseAxes& preCompensation)
{
    const int index = PoseIndexOfGauge(gauge);
    if (index < 0)
        return {};
    const auto i = static_cast<std::size_t>(index);
    const float scale = static_cast<float>(1.0 / kPoseFullScale) * 50.0f;
    GaugeValues v;
    v.raw = static_cast<float>(raw[i]) * scale;
    v.output = static_cast<float>(output[i]) * scale;
    v.third = IsTranslationGauge(gauge) ? static_cast<float>(preCompensation[i]) * scale : v.raw;
    return v;
}

bool IsGaugeActive(const CProfile& profile, int gauge)
{
    if (gauge < 0 || gauge >= kGaugeCount)
        return false;
    if (profile.MotionType == 0)
        return gauge == 0 || gauge == 1;
    return profile.Axes[static_cast<std::size_t>(gauge)].Enabled != 0;
}

bool GaugeResponds(const CProfile& profile, int gauge)
{
    if (gauge < 0 || gauge >= kGaugeCount)
        return false;
    return gauge < 2 || profile.MotionType != 0;
}

GaugePicture LayoutGauge(int width, int height, const CProfileAxis& axis, bool active, const GaugeValues& values)
{
    const GaugePens& pens = active ? kActivePens : kInactivePens;
    GaugePicture pic;
    pic.width = width;
    pic.height = height;
    pic.background = pens.background;
    pic.curveColour = pens.curve;
    const int half = width / 2;
    const float xs = static_cast<float>(half) * 0.02f;
    const float ys = static_cast<float>(height) * 0.0125f;
    const auto xAt = [&](float percent) { return static_cast<int>(percent * xs + static_cast<float>(half)); };

    for (std::size_t k = 0; k < kGaugeKnotX.size(); ++k) {
        pic.curve[k].x = static_cast<int>(static_cast<float>(kGaugeKnotX[k]) * xs + static_cast<float>(half));
        pic.curve[k].y = static_cast<int>(static_cast<float>(height) - static_cast<float>(axis.CurveData[k]) * ys);
    }
    pic.lines.push_back({LineKind::Centre, half, 2, pens.centre});
    pic.lines.push_back({LineKind::Raw, xAt(values.raw), 2, pens.raw});
    pic.lines.push_back({LineKind::Output, xAt(values.output), 2, pens.output});
    if (values.third != values.raw)
        pic.lines.push_back({LineKind::Third, xAt(values.third), 1, pens.third});
    return pic;
}

int GaugeAt(const std::array<Rect, kGaugeCount>& rects, int x, int y, const CProfile& profile)
{
    for (int i = 0; i < kGaugeCount; ++i) {
        if (rects[static_cast<std::size_t>(i)].Contains(x, y))
            return GaugeResponds(profile, i) ? i : -1;
    }
    return -1;
}

int CGaugesController::OnRightButtonUp(int x, int y)
{
    const CProfile* profile = source_.CurrentProfile();
    if (!profile)
        return -1;
    const int gauge = GaugeAt(rects_, x, y, *profile);
    if (gauge < 0)
        return -1;
    point_ = {x, y};
    gauge_ = gauge;
    return gauge;
}

bool CGaugesController::OnDoubleClick(int x, int y)
{
    const CProfile* profile = source_.CurrentProfile();
    if (!profile)
        return false;
    const int gauge = GaugeAt(rects_, x, y, *profile);
    if (gauge < 0)
        return false;
    EditCurve(gauge);
    return true;
}

bool CGaugesController::OnCommand(int command)
{
    CProfile* profile = source_.CurrentProfile();
    if (!profile)
        return false;
    switch (command) {
    case kCmdEdit: {
        const int gauge = GaugeAt(rects_, point_.x, point_.y, *profile);
        if (gauge < 0)
            return false;
        EditCurve(gauge);
        return true;
    }
    case kCmdEnable:
    case kCmdInvert: {
        if (gauge_ < 0 || gauge_ >= kGaugeCount)
            return false;
        CProfileAxis& axis = profile->Axes[static_cast<std::size_t>(gauge_)];
        std::int32_t& flag = command == kCmdEnable ? axis.Enabled : axis.Inverted;
        flag = flag ? 0 : 1;
        source_.SaveProfile(*profile);
        return true;
    }
    default: return false;
    }
}

bool CGaugesController::IsEnabled(int gauge) const
{
    const CProfile* p = source_.CurrentProfile();
    return p && gauge >= 0 && gauge < kGaugeCount && p->Axes[static_cast<std::size_t>(gauge)].Enabled != 0;
}

bool CGaugesController::IsInverted(int gauge) const
{
    const CProfile* p = source_.CurrentProfile();
    return p && gauge >= 0 && gauge < kGaugeCount && p->Axes[static_cast<std::size_t>(gauge)].Inverted != 0;
}

bool CGaugesController::EditCurve(int gauge)
{
    CProfile* live = source_.CurrentProfile();
    if (!live || !editor_ || gauge < 0 || gauge >= kGaugeCount)
        return false;
    const CProfile backup = *live;
    const bool ok = editor_(*live, gauge);
    if (ok)
        source_.SaveProfile(*live);
    else
        *live = backup;
    return ok;
}

} // namespace gauges
