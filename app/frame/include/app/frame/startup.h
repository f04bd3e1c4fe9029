#pragma once
// The program's start-up order and its guards, kept free of the GUI so the
// order and the single-instance rule can be tested with fakes.
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/shared.h"

namespace app_frame {

inline constexpr const char* kInstanceMutexName = "{4BC482E9-655D-4070-8EFE-1ECE585874AB}";
inline constexpr const char* kSiblingMutexName = "AD7B7D4B-D9FE-417F-BE04-B2AF057275E3";
inline constexpr const char* kWindowClass = "VistrelClass";
inline constexpr platform::UINT WM_COMMAND_ = 0x0111;
inline constexpr platform::UINT WM_UPDATE_STATUS = 0x80C8;
inline constexpr platform::WPARAM ID_RESTORE = 32771;
inline constexpr platform::WPARAM ID_APP_EXIT = 57665;
inline constexpr const char16_t* kClientLocationKey = u"SOFTWARE\\Orvane\\Orvane\\OVClient Location";

} // namespace app_frame

// A named mutex opened at construction. The holder keeps it locked for its
// lifetime, so "another holder exists" survives only as long as that holder
// runs (a crashed holder leaves it recoverable, not stuck).
class MutexHolder {
public:
    explicit MutexHolder(std::string_view name);
    ~MutexHolder() { Close(); }
    MutexHolder(const MutexHolder&) = delete;
    MutexHolder& operator=(const MutexHolder&) = delete;

    // Another live holder had it when this one was made.
    bool AlreadyExists() const { return alreadyExists_; }
    bool IsOpen() const { return mutex_ != nullptr; }
    // Why it could not be opened (empty when it is open).
    const std::string& Refusal() const { return refusal_; }
    // Releases and closes it once.
    void Close();

private:
    std::unique_ptr<platform::NamedMutex> mutex_;
    bool owned_ = false;
    bool alreadyExists_ = false;
    std::string refusal_;
};

// Why the program cannot use its session's shared objects (its instance
// mutex, the window table, the client library's section and mutexes):
// another user made one of them first, or it is of another layout. The
// text names the object; empty when all is well.
std::string SessionObjectsRefused(const MutexHolder& instance);

// What start-up does, step by step; the program's backend and the tests'
// fake implement it.
class IStartupSteps {
public:
    virtual ~IStartupSteps() = default;
    virtual void SetWorkingFolder() = 0;
    // Loads the settings; writes the defaults when the load failed.
    virtual void LoadSettings() = 0;
    virtual void LoadLanguage() = 0;
    // Whether the sibling product runs (its mutex is held).
    virtual bool SiblingRunning() = 0;
    virtual void ReportSiblingRunning() = 0;
    // Whether this program already runs (the own mutex was held).
    virtual bool AlreadyRunning() = 0;
    // Brings the running instance to the front and tells it to restore.
    virtual void HandOver() = 0;
    virtual bool RegisterWindowClass() = 0;
    virtual void PublishClientLocation() = 0;
    virtual bool CreateFrame() = 0;
    virtual void ShowFrame() = 0;
    // Whether the program was asked to end (SIGTERM, SIGINT) meanwhile:
    // start-up then goes no further.
    virtual bool StopRequested() { return false; }
};

// Runs start-up in order; true when the message loop is to run. Between
// steps it ends (false) once a stop was requested.
bool RunStartup(IStartupSteps& steps);

// Hands over to the running instance: its window (class "VistrelClass")
// gets command 32771. False when there is no such window.
bool HandOverToRunningInstance();

// Writes the client library's folder (the program folder with a trailing
// backslash, no terminating null) under the current user; errors ignored.
void PublishClientLocation(platform::registry::Store& store, const std::filesystem::path& folder);

// The --help and --version texts; `version` is the suite's version. The
// command line itself is read by platform::gui::ParseCommandLine.
std::string HelpText();
std::string VersionText(std::string_view version);
