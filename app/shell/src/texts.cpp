#include "app/shell/texts.h"

#include "platform/debug.h"
#include "platform/modules.h"
#include "platform/utf.h"

#include <algorithm>
#include <array>
#include <utility>

namespace app {

namespace {

constexpr int kBufferSize = 1024;

struct Entry {
    unsigned id;
    std::u16string_view text;
};

constexpr std::array kBuiltIn{
    Entry{ids::kStillRunning, u"Vistrel is still running.  Click the system tray icon to access the application."},
    Entry{ids::kStillRunningTitle, u"Vistrel is still running!"},
    Entry{ids::kVersion, u"Version"},
    Entry{ids::kBuild, u"Build"},
    Entry{ids::kRecording, u"RECORDING"},
    Entry{ids::kPlayback, u"PLAYBACK"},
    Entry{ids::kCenterFormat, u"Center: %s"},
    Entry{ids::kEnableFormat, u"Enable: %s"},
    Entry{ids::kStatusFormat, u"Status: %s"},
    Entry{ids::kTracking, u"Tracking"},
    Entry{ids::kNoData, u"No Data"},
    Entry{ids::kDisabled, u"Disabled"},
    Entry{ids::kTrackingFormat, u"Tracking: %s"},
    Entry{ids::kDot, u"Dot"},
    Entry{ids::kPendrix, u"Pendrix"},
    Entry{ids::kConfiguring, u"Configuring"},
    Entry{ids::kNoDevice, u"No Device"},
    Entry{ids::kStartRecording, u"&Start Recording"},
    Entry{ids::kStopRecording, u"&Stop Recording"},
    Entry{ids::kStartPlayback, u"&Playback"},
    Entry{ids::kStopPlayback, u"Stop &Playback"},
    Entry{ids::kRecordingNotSaved, u"The recording could not be saved as %s (error %s).  It was kept as %s."},
    Entry{ids::kRecordingNotStarted, u"The recording could not be started in %s (error %s)."},
    Entry{ids::kDeleteProfile, u"Delete profile %s?"},
    Entry{ids::kLanguageChanged, u"Changing the language will take effect when the application is restarted."},
    Entry{ids::kConfirmQuit, u"Are you sure you want to quit?"},
    Entry{ids::kUpdateError, u"An error occurred while contacting the update server.  The error was:\n\n%s"},
    Entry{ids::kUpToDate, u"Your game list is up to date."},
    Entry{ids::kUpdated, u"Your game support has been updated.  Restart Vistrel to activate the changes."},
    Entry{ids::kSiblingRunning,
          u"Zorbel and Vistrel cannot be used at the same time.  Close Zorbel before running Vistrel."},
    Entry{ids::kNewsAvailable, u"Updated news is available.  View news now?"},
    Entry{ids::kNeedsNewSoftware, u"The new games list requires the latest version of Vistrel software.  Download and "
                                  u"install the latest release of Vistrel."},
    Entry{ids::kNewsCheckOff, u"Without the periodic news check you will not hear of new game support and software "
                              u"updates.  Turn the news check off?"},
    Entry{ids::kLanguageName, u"English"},
    Entry{ids::kProductName, u"Vistrel"},
};

} // namespace

std::u16string_view BuiltInText(unsigned id)
{
    const auto it = std::find_if(kBuiltIn.begin(), kBuiltIn.end(), [id](const Entry& e) { return e.id == id; });
    return it != kBuiltIn.end() ? it->text : std::u16string_view{};
}

std::u16string FormatText(std::u16string_view format, std::initializer_list<std::u16string_view> args)
{
    return platform::formatText(format, args);
}

bool CResourceTexts::LoadLanguage(const std::filesystem::path& folder, std::u16string_view module)
{
    load_ = nullptr;
    module_.reset();
    if (module.empty())
        return false;
    // Only a module of the language folder, by its file name: a setting
    // naming a path elsewhere loads nothing.
    const std::string name = std::filesystem::path(std::u16string(module)).string();
    std::optional<platform::Module> loaded = platform::Module::loadFromFolder(folder, name);
    if (!loaded) {
        if (!platform::isBareFileName(name))
            platform::debug::output("language: \"" + name + "\" is not a file name of the language folder; not loaded");
        return false;
    }
    const auto load = loaded->function<OrvaneLoadStringFn>(kLanguageStringFunction);
    if (load == nullptr)
        return false;
    module_ = std::move(loaded);
    load_ = load;
    return true;
}

std::u16string CResourceTexts::Get(unsigned id) const
{
    if (load_ != nullptr) {
        std::u16string text = LoadLanguageString<kBufferSize>(load_, id);
        if (!text.empty())
            return text;
    }
    return std::u16string(BuiltInText(id));
}

} // namespace app
