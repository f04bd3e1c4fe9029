#pragma once
// The interface texts by string id. The program's own texts are English;
// a language module chosen in the settings (LanguageDll, loaded from the
// "Language" folder at start) supplies its own where it has one.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/modules.h"
#include "profiles/LanguageModule.h"

namespace app {

// String ids of the shell's texts.
namespace ids {
inline constexpr unsigned kStillRunning = 500;
inline constexpr unsigned kStillRunningTitle = 501;
inline constexpr unsigned kVersion = 1000;
inline constexpr unsigned kBuild = 1001;
inline constexpr unsigned kRecording = 2026;
inline constexpr unsigned kPlayback = 2027;
inline constexpr unsigned kCenterFormat = 3001;
inline constexpr unsigned kEnableFormat = 3002;
inline constexpr unsigned kStatusFormat = 3003;
inline constexpr unsigned kTracking = 3004;
inline constexpr unsigned kNoData = 3005;
inline constexpr unsigned kDisabled = 3006;
inline constexpr unsigned kTrackingFormat = 3007;
inline constexpr unsigned kDot = 3008;
inline constexpr unsigned kPendrix = 3009;
inline constexpr unsigned kConfiguring = 3010;
inline constexpr unsigned kNoDevice = 3011;
inline constexpr unsigned kStartRecording = 3200;
inline constexpr unsigned kStopRecording = 3201;
inline constexpr unsigned kStartPlayback = 3202;
inline constexpr unsigned kStopPlayback = 3203;
inline constexpr unsigned kRecordingNotSaved = 3204;
inline constexpr unsigned kRecordingNotStarted = 3205;
inline constexpr unsigned kLanguageChanged = 5101;
inline constexpr unsigned kConfirmQuit = 5104;
inline constexpr unsigned kUpdateError = 5122;
inline constexpr unsigned kUpToDate = 5123;
inline constexpr unsigned kUpdated = 5124;
inline constexpr unsigned kSiblingRunning = 5125;
inline constexpr unsigned kNewsAvailable = 5126;
inline constexpr unsigned kNeedsNewSoftware = 5127;
inline constexpr unsigned kNewsCheckOff = 5128;
inline constexpr unsigned kDeleteProfile = 5000;
inline constexpr unsigned kLanguageName = 40001;
inline constexpr unsigned kProductName = 57344;
} // namespace ids

// The built-in English text of an id; empty when there is none.
std::u16string_view BuiltInText(unsigned id);

// `format` with each "%s" replaced, in order, by the arguments.
std::u16string FormatText(std::u16string_view format, std::initializer_list<std::u16string_view> args);

class CResourceTexts {
public:
    CResourceTexts() = default;

    // Loads "<folder>/<module>"; false when it does not load or carries no
    // texts (the built-in ones stay). The built-in English entry names the
    // program itself, which is no module of that folder.
    bool LoadLanguage(const std::filesystem::path& folder, std::u16string_view module);
    bool HasLanguage() const { return load_ != nullptr; }

    // The language module's text, else the built-in one.
    std::u16string Get(unsigned id) const;

private:
    std::optional<platform::Module> module_;
    OrvaneLoadStringFn load_ = nullptr;
};

} // namespace app
