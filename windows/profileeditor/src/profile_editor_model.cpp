#include "windows/profile_editor_model.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace profile_editor {

namespace {

constexpr std::array<std::u16string_view, CProfile::kAxisCount> kAxisNames{
    u"Yaw", u"Pitch", u"Roll", u"X", u"Y", u"Z"};

constexpr std::array<std::u16string_view, CProfile::kAxisCount> kAxisTips{
    u"Yaw is created by turning the head left and right.",
    u"Pitch is created by tilting the head up and down.",
    u"Roll is created by tilting the head toward either shoulder.",
    u"X translation is created by moving left and right.",
    u"Y translation is created by moving up and down.",
    u"Z translation is created by moving forward and backward."};

constexpr std::array<std::u16string_view, kCurveNameCount> kCurveNames{
    u"Linear", u"Smooth", u"Aggressive", u"Dead Zone", u"Progressive", u"Custom"};

bool RowInMode(const CProfile& profile, int row)
{
    return row >= 0 && row < AxisRowCount(profile.MotionType);
}

} // namespace

int StartPage(int newProfile)
{
    return newProfile != 0 ? 0 : 1;
}

std::u16string Caption(int newProfile, std::u16string_view name)
{
    return newProfile != 0 ? std::u16string(kNewProfileCaption) : std::u16string(name);
}

std::u16string DefaultsQuestion(std::u16string_view name)
{
    std::u16string text(kDefaultsQuestion);
    const auto at = text.find(u"%s");
    text.replace(at, 2, name);
    return text;
}

bool CommitGeneral(CProfile& profile, std::u16string_view name, std::u16string_view notes)
{
    profile.Name.assign(name);
    profile.Notes.assign(notes);
    return !profile.Name.empty();
}

TrackingRadio RadioForMotionType(std::int32_t motionType)
{
    switch (motionType) {
    case 0: return TrackingRadio::Dot;
    case 2: return TrackingRadio::Halvexor;
    case 3: return TrackingRadio::Custom;
    default: return TrackingRadio::Pendrix;
    }
}

std::int32_t MotionTypeFromRadios(bool dot, bool halvexor, bool custom)
{
    if (dot) return 0;
    if (halvexor) return 2;
    if (custom) return 3;
    return 1;
}

bool CustomEditVisible(std::int32_t motionType)
{
    return motionType == 3;
}

int AxisRowCount(std::int32_t motionType)
{
    return motionType == 0 ? 2 : CProfile::kAxisCount;
}

const std::array<std::u16string_view, kCurveNameCount>& CurveTypeNames()
{
    return kCurveNames;
}

std::u16string_view AxisName(int row)
{
    if (row < 0 || row >= CProfile::kAxisCount) return {};
    return kAxisNames[static_cast<std::size_t>(row)];
}

std::u16string_view AxisToolTip(int row)
{
    if (row < 0 || row >= CProfile::kAxisCount) return {};
    return kAxisTips[static_cast<std::size_t>(row)];
}

std::u16string EditAxisButtonText(int row)
{
    std::u16string text = u"&Edit ";
    text += AxisName(row);
    text += u"...";
    return text;
}

std::vector<AxisRow> AxisRows(const CProfile& profile)
{
    std::vector<AxisRow> rows;
    const int count = AxisRowCount(profile.MotionType);
    rows.reserve(static_cast<std::size_t>(count));
    for (int r = 0; r < count; ++r) {
        const CProfileAxis& axis = profile.Axes[static_cast<std::size_t>(r)];
        AxisRow row;
        row.name = std::u16string(AxisName(r));
        row.enabled = axis.Enabled != 0;
        row.inverted = axis.Inverted != 0;
        // A type the combo cannot show selects nothing rather than a wrong name.
        row.curveType = (axis.CurveType >= 0 && axis.CurveType < kCurveNameCount) ? axis.CurveType : -1;
        row.toolTip = std::u16string(AxisToolTip(r));
        rows.push_back(std::move(row));
    }
    return rows;
}

bool ApplyAxisCheck(CProfile& profile, int row, int column, bool checked)
{
    if (!RowInMode(profile, row)) return false;
    CProfileAxis& axis = profile.Axes[static_cast<std::size_t>(row)];
    if (column == kColumnEnabled) {
        axis.Enabled = checked ? 1 : 0;
        return true;
    }
    if (column == kColumnInvert) {
        axis.Inverted = checked ? 1 : 0;
        return true;
    }
    return false;
}

bool ApplyAxisCurve(CProfile& profile, int row, int curveType)
{
    if (!RowInMode(profile, row)) return false;
    if (curveType < 0 || curveType >= kCurveNameCount) return false;
    profile.Axes[static_cast<std::size_t>(row)].SetCurveType(curveType);
    return true;
}

int SmoothingSliderPosition(const CProfile& profile)
{
    const float s = profile.Smoothing;
    // NaN or out-of-range values would make the cast undefined.
    if (!(s >= static_cast<float>(kSmoothingMin))) return kSmoothingMin;
    if (s >= static_cast<float>(kSmoothingMax)) return kSmoothingMax;
    return static_cast<int>(s);
}

int StoreSmoothing(CProfile& profile, int position)
{
    const int p = std::clamp(position, kSmoothingMin, kSmoothingMax);
    profile.Smoothing = static_cast<float>(p);
    return p;
}

bool SmoothingScrollActs(int code)
{
    return code >= 0 && code != 6 && code <= 8;
}

std::u16string SmoothingText(int position)
{
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, position);
    return std::u16string(buf, res.ptr);
}

HotKeyFlags LoadHotKeyFlags(const CHotKeys& keys)
{
    const CKeyInfo c = keys.GetAt(CHotKeys::Center);
    const CKeyInfo p = keys.GetAt(CHotKeys::Pause);
    const CKeyInfo x = keys.GetAt(CHotKeys::Precision);
    HotKeyFlags f;
    f.centerEnable = c.Enable;
    f.centerTrap = c.Trap;
    f.pauseEnable = p.Enable;
    f.pauseToggle = p.Toggle;
    f.pauseTrap = p.Trap;
    f.precisionEnable = x.Enable;
    f.precisionToggle = x.Toggle;
    f.precisionTrap = x.Trap;
    return f;
}

void StoreHotKeyFlags(CHotKeys& keys, const HotKeyFlags& f)
{
    CKeyInfo c = keys.GetAt(CHotKeys::Center);
    CKeyInfo p = keys.GetAt(CHotKeys::Pause);
    CKeyInfo x = keys.GetAt(CHotKeys::Precision);
    c.Enable = f.centerEnable;
    c.Trap = f.centerTrap;
    p.Enable = f.pauseEnable;
    p.Toggle = f.pauseToggle;
    p.Trap = f.pauseTrap;
    x.Enable = f.precisionEnable;
    x.Toggle = f.precisionToggle;
    x.Trap = f.precisionTrap;
    keys.SetAtGrow(CHotKeys::Center, c);
    keys.SetAtGrow(CHotKeys::Pause, p);
    keys.SetAtGrow(CHotKeys::Precision, x);
}

bool TrapAvailable(const CKeyInfo& key)
{
    return key.Device == GUID_NULL;
}

void CPreviewWindows::Init()
{
    for (int w : {kHeads, kGauges, kTracking}) {
        if (host_.LaunchFlag(w) != 0 && !host_.IsWindowOpen(w)) {
            host_.OpenWindow(w);
            opened_[static_cast<std::size_t>(w)] = true;
        }
    }
}

void CPreviewWindows::Click(int window, bool checked)
{
    if (window < kGauges || window > kGlobe) return;
    host_.SetLaunchFlag(window, checked ? 1 : 0);
    host_.SaveSettings();
    if (window == kGlobe) return; // the globe has no window of its own here
    if (checked) {
        if (!host_.IsWindowOpen(window)) host_.OpenWindow(window);
    } else if (host_.IsWindowOpen(window)) {
        host_.CloseWindow(window);
    }
}

void CPreviewWindows::Destroy()
{
    for (int w : {kHeads, kTracking, kGauges, kGlobe}) {
        if (!host_.IsWindowOpen(w)) host_.SetLaunchFlag(w, 0);
    }
    host_.SaveSettings();
    for (int w : {kHeads, kTracking, kGauges}) {
        auto& mine = opened_[static_cast<std::size_t>(w)];
        if (mine) {
            if (host_.IsWindowOpen(w)) host_.CloseWindow(w);
            mine = false;
        }
    }
}

bool CPreviewWindows::Opened(int window) const
{
    if (window < kGauges || window > kHeads) return false;
    return opened_[static_cast<std::size_t>(window)];
}

CProfileEditSession::CProfileEditSession(CProfile& live, Locked lock)
    : live_(live), backup_(live), lock_(std::move(lock))
{
}

void CProfileEditSession::Cancel()
{
    auto restore = [this] { live_ = backup_; };
    if (lock_) {
        lock_(restore);
    } else {
        restore();
    }
}

} // namespace profile_editor
