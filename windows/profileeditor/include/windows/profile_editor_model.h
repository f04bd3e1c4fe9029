#pragma once
// The profile editor's rules, kept free of the widget toolkit so that every
// page decision can be checked in a table. The editor works on the live
// profile the engine reads: each change lands in the profile at once and the
// host is told to push it on. The opener keeps a copy for Cancel
// (CProfileEditSession).
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "input/HotKeys.h"
#include "profiles/Profile.h"

namespace profile_editor {

// Dialog templates of the pages, in sheet order.
inline constexpr int kGeneralDialog = 137;
inline constexpr int kMotionDialog = 108;
inline constexpr int kHotKeysDialog = 107;

inline constexpr std::u16string_view kNewProfileCaption = u"New Profile";
inline constexpr std::u16string_view kDefaultsQuestion = u"Set profile %s to default values?";
inline constexpr std::u16string_view kInvalidName = u"The profile name is not valid.";

// Editing opens on the Motion page (1); a new profile on General (0).
int StartPage(int newProfile);
// "New Profile" for a new profile, else the given name.
std::u16string Caption(int newProfile, std::u16string_view name);
// The Defaults question with the profile's name in place of "%s".
std::u16string DefaultsQuestion(std::u16string_view name);

// Copies the General page's fields into the profile. Returns false when the
// name is empty: the page then shows kInvalidName and keeps the user there.
bool CommitGeneral(CProfile& profile, std::u16string_view name, std::u16string_view notes);

// --- Motion page -----------------------------------------------------------

enum class TrackingRadio { Dot = 0, Pendrix = 1, Halvexor = 2, Custom = 3 };

// Loading: 0 Dot, 1 Pendrix, 2 Halvexor, 3 Custom; any other value Pendrix.
TrackingRadio RadioForMotionType(std::int32_t motionType);
// Read-back in the order Dot, Halvexor, Custom, else Pendrix (1).
std::int32_t MotionTypeFromRadios(bool dot, bool halvexor, bool custom);
// The Custom "Edit" button is visible only in Custom mode.
bool CustomEditVisible(std::int32_t motionType);

// Two rows (yaw, pitch) in Dot mode, six otherwise.
int AxisRowCount(std::int32_t motionType);

inline constexpr int kCurveNameCount = 6;
// Index i is curve type i; "Custom" is type 5.
const std::array<std::u16string_view, kCurveNameCount>& CurveTypeNames();
// Row r is profile axis r: "Yaw", "Pitch", "Roll", "X", "Y", "Z".
std::u16string_view AxisName(int row);
// The tool tip every cell of row r carries.
std::u16string_view AxisToolTip(int row);
// "&Edit <axis>..." for the Edit axis button.
std::u16string EditAxisButtonText(int row);

enum AxisColumn : int { kColumnAxis = 0, kColumnEnabled = 1, kColumnInvert = 2, kColumnCurve = 3 };

struct AxisRow {
    std::u16string name;
    bool enabled = false;
    bool inverted = false;
    int curveType = 0; // combo selection
    std::u16string toolTip;
    friend bool operator==(const AxisRow&, const AxisRow&) = default;
};
// The list's rows for the profile's mode.
std::vector<AxisRow> AxisRows(const CProfile& profile);

// A check box click: column 1 sets Enabled, column 2 Inverted. Returns true
// when the profile changed (a row outside the mode's rows, or another
// column, does nothing).
bool ApplyAxisCheck(CProfile& profile, int row, int column, bool checked);
// A combo choice: the axis takes the curve type (presets 0-4 load their
// slopes, Custom keeps them) and rebuilds its table. A type outside the
// combo's list is refused.
bool ApplyAxisCurve(CProfile& profile, int row, int curveType);

inline constexpr int kSmoothingMin = 1;
inline constexpr int kSmoothingMax = 100;
// The slider position loaded from the profile (truncated, kept in range).
int SmoothingSliderPosition(const CProfile& profile);
// Stores a slider position (clamped to the range) as the profile's smoothing.
// Returns the stored position.
int StoreSmoothing(CProfile& profile, int position);
// Horizontal scroll codes the page acts on: all but 6 (top) and above 8.
bool SmoothingScrollActs(int code);
// "%d" of the position, for the value label.
std::u16string SmoothingText(int position);

// --- HotKeys page ----------------------------------------------------------

// The eight check boxes of the page.
struct HotKeyFlags {
    std::int32_t centerEnable = 0, centerTrap = 0;
    std::int32_t pauseEnable = 0, pauseToggle = 0, pauseTrap = 0;
    std::int32_t precisionEnable = 0, precisionToggle = 0, precisionTrap = 0;
    friend bool operator==(const HotKeyFlags&, const HotKeyFlags&) = default;
};
HotKeyFlags LoadHotKeyFlags(const CHotKeys& keys);
// Writes all eight flags back into keys 0-2 (Center's Toggle is not on the
// page and stays).
void StoreHotKeyFlags(CHotKeys& keys, const HotKeyFlags& flags);
// Trapping exists for the keyboard hook alone.
bool TrapAvailable(const CKeyInfo& key);

// --- Preview windows ---------------------------------------------------------

// Window indices as the main frame numbers them.
enum PreviewWindow : int { kGauges = 0, kTracking = 1, kHeads = 2, kGlobe = 3 };

// The monitor windows and the settings that hold their launch flags.
class IPreviewHost {
public:
    virtual ~IPreviewHost() = default;
    virtual bool IsWindowOpen(int window) const = 0;
    virtual void OpenWindow(int window) = 0;
    virtual void CloseWindow(int window) = 0;
    virtual std::int32_t LaunchFlag(int window) const = 0;
    virtual void SetLaunchFlag(int window, std::int32_t value) = 0;
    virtual void SaveSettings() = 0;
};

// The Motion page's share of the preview windows: what it opened at init,
// the clicks, and the tidy-up when the page goes.
class CPreviewWindows {
public:
    explicit CPreviewWindows(IPreviewHost& host) : host_(host) {}

    // Opens, in the order heads, gauges, tracking, each flagged window that
    // is not open, remembering which it opened.
    void Init();
    // A check box click: store, save, then open or close at once.
    void Click(int window, bool checked);
    // A window that is no longer open clears its flag; the settings are
    // saved; then the windows this page opened at init are closed.
    void Destroy();

    bool Opened(int window) const;

private:
    IPreviewHost& host_;
    std::array<bool, 3> opened_{}; // gauges, tracking, heads
};

// --- Live edit -----------------------------------------------------------------

// What the opener holds while the editor runs: a copy of the live profile
// taken at the start, assigned back on Cancel. `lock` runs the assignment
// under the engine's state lock.
class CProfileEditSession {
public:
    using Locked = std::function<void(const std::function<void()>&)>;
    CProfileEditSession(CProfile& live, Locked lock);

    const CProfile& Backup() const { return backup_; }
    // Cancel: the live profile becomes the copy again.
    void Cancel();

private:
    CProfile& live_;
    CProfile backup_;
    Locked lock_;
};

} // namespace profile_editor
