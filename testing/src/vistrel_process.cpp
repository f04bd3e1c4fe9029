#include "testing/vistrel_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/messages.h"

extern char** environ;

namespace testing_support {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What the program writes beside itself stays out of the copy, so that each
// run starts as a first run.
bool Written(const std::string& name)
{
    return name == "settings.xml" || name == "Profiles" || name == "vistrel.tdf";
}

void WriteFile(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// The program's own file is copied (its folder is where /proc/self/exe
// points); everything else it loads or reads is linked.
void PrepareFolder(const fs::path& program, const fs::path& folder, bool viewLibrary)
{
    fs::copy_file(program, folder / program.filename());
    for (const auto& entry : fs::directory_iterator(program.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (entry.path() == program || Written(name) || (!viewLibrary && name == "VSLViews.so"))
            continue;
        fs::create_symlink(entry.path(), folder / name);
    }
}

std::vector<std::string> Environment(const VistrelOptions& options, const fs::path& folder)
{
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq)
            env[std::string(*e, static_cast<std::size_t>(eq - *e))] = eq + 1;
    }
    env["ORVANE_CAMERA"] = "sim";
    // Update and news checks ask a closed local port: they end at once.
    env["ORVANE_SERVICE_URL"] = "http://127.0.0.1:9";
    env["XDG_CONFIG_HOME"] = (folder / "xdg-config").string();
    env["XDG_DATA_HOME"] = (folder / "xdg-data").string();
    env["XDG_CACHE_HOME"] = (folder / "xdg-cache").string();
    if (options.display.empty()) {
        env["QT_QPA_PLATFORM"] = "offscreen";
        env.erase("DISPLAY");
    } else {
        env["DISPLAY"] = options.display;
        env["QT_QPA_PLATFORM"] = "xcb";
        // Without a session bus the D-Bus library, seeing a display, tries to
        // start one through X; that never succeeds here and leaves what the
        // leak checker reports at exit.
        if (env.find("DBUS_SESSION_BUS_ADDRESS") == env.end())
            env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:";
    }
    if (!options.scene.empty())
        env["ORVANE_SIMCAM_SCENE"] = (folder / "scene.txt").string();
    if (options.cameraControl)
        env["ORVANE_SIMCAM_CONTROL"] = (folder / "camera-control").string();
    for (const auto& [name, value] : options.env)
        env[name] = value;
    for (const std::string& name : options.unset)
        env.erase(name);
    std::vector<std::string> out;
    for (const auto& [name, value] : env)
        out.push_back(name + "=" + value);
    return out;
}

bool Ready()
{
    return platform::findWindow("VistrelClass", nullptr) != 0 && platform::findWindow(nullptr, "Orvane") != 0;
}

} // namespace

VistrelProcess::VistrelProcess(VistrelOptions options)
{
    const fs::path& dir = folder_.path();
    fs::path program;
    if (options.prefix.empty()) {
        PrepareFolder(options.program, dir, options.viewLibrary);
        program = dir / options.program.filename();
        work_ = dir;
    } else {
        program = options.prefix / "bin" / "vistrel";
        work_ = dir / "xdg-data" / "orvane";
    }
    for (const auto& [name, text] : options.files)
        WriteFile(work_ / name, text);
    if (!options.scene.empty())
        WriteFile(dir / "scene.txt", options.scene);
    if (options.cameraControl)
        ::mkfifo((dir / "camera-control").c_str(), 0600);

    std::vector<std::string> args{program.string()};
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<std::string> env = Environment(options, dir);
    std::vector<char*> argv, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    if (options.beforeStart)
        options.beforeStart(session_.name());
    const std::string log = (dir / "output.log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string errors = (dir / "errors.log").string();
    if (options.separateErrors)
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    else
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid_ <= 0 || !options.waitReady)
        return;
    // Generous: the sanitizer builds start slowly.
    ready_ = WaitUntil([this] { return Ready() || !running(); }, 60s) && running() && Ready();
}

VistrelProcess::~VistrelProcess() { stop(); }

bool VistrelProcess::running()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_)
        return true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return false;
}

bool VistrelProcess::signal(int signal)
{
    // Never to a pid of 0 or below: that would reach other processes.
    return running() && ::kill(pid_, signal) == 0;
}

int VistrelProcess::stop(std::chrono::milliseconds limit)
{
    if (!running())
        return exitCode_;
    ::kill(pid_, SIGTERM);
    if (WaitUntil([this] { return !running(); }, limit))
        return exitCode_;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    exitCode_ = -1;
    return exitCode_;
}

namespace {

std::string ReadLog(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::string VistrelProcess::output() const
{
    return ReadLog(folder_.path() / "output.log") + ReadLog(folder_.path() / "errors.log");
}

std::string VistrelProcess::errors() const { return ReadLog(folder_.path() / "errors.log"); }

std::vector<std::string> VistrelProcess::lines(const std::string& prefix) const
{
    std::vector<std::string> out;
    const std::string text = output();
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        if (text.compare(at, prefix.size(), prefix) == 0 && end - at >= prefix.size())
            out.push_back(text.substr(at + prefix.size(), end - at - prefix.size()));
        at = end + 1;
    }
    return out;
}

bool VistrelProcess::camera(const std::string& command)
{
    // The program opens its end as it starts its camera: until then there is
    // no reader (ENXIO).
    const fs::path fifo = folder_.path() / "camera-control";
    int fd = -1;
    WaitUntil(
        [&] {
            fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            return fd >= 0 || errno != ENXIO || !running();
        },
        10s);
    if (fd < 0)
        return false;
    const std::string line = command + "\n";
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    return written;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

} // namespace testing_support
