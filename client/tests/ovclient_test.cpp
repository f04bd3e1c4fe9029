#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <cstring>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "client/ovclient.h"
#include "testing/client_process.h"
#include "platform/messages.h"
#include "platform/modules.h"
#include "platform/sync.h"
#include "testing/other_user.h"
#include "testing/temp_dir.h"
#include "testing/temp_session.h"

using namespace std::chrono_literals;
using testing_support::ClientProcess;

namespace {

const std::string kLibrary = OVCLIENT_LIBRARY;
const std::string kBin = OVCLIENT_BIN;

// The library as the test process loads it: by name, as every client does.
struct Lib {
    platform::Module module = *platform::Module::load(kLibrary);
    template <typename F>
    F fn(const char* name) const
    {
        auto f = module.function<F>(name);
        EXPECT_NE(f, nullptr) << name;
        return f;
    }
    OV_GetData_t getData = fn<OV_GetData_t>("OV_GetData");
    OV_QueryVersion_t queryVersion = fn<OV_QueryVersion_t>("OV_QueryVersion");
    OV_GetParameter_t getParam = fn<OV_GetParameter_t>("OV_GetParameter");
    OV_SetParameter_t setParam = fn<OV_SetParameter_t>("OV_SetParameter");
    OV_Command0_t recenter = fn<OV_Command0_t>("OV_ReCenter");
    OV_Command16_t requestData = fn<OV_Command16_t>("OV_RequestData");
    OVPriv_SetData_t setData = fn<OVPriv_SetData_t>("OVPriv_SetData");
    OVPriv_SetVersion_t setVersion = fn<OVPriv_SetVersion_t>("OVPriv_SetVersion");
    OVPriv_SetLastError_t setLastError = fn<OVPriv_SetLastError_t>("OVPriv_SetLastError");
    OVPriv_GetLastError_t getLastError = fn<OVPriv_GetLastError_t>("OVPriv_GetLastError");
    OVPriv_SetParameter_t privSetParam = fn<OVPriv_SetParameter_t>("OVPriv_SetParameter");
    OVPriv_ClientNotify_t notify = fn<OVPriv_ClientNotify_t>("OVPriv_ClientNotify");
};
Lib& lib()
{
    static Lib l;
    return l;
}

// A stand-in for the main program's command window: answers each command
// with the code `answer` returns, through the library's last error.
class TestServer {
public:
    using Answer = std::function<int(std::uint32_t code, std::uint32_t arg)>;
    explicit TestServer(Answer answer = {}, bool pump = true) : answer_(std::move(answer))
    {
        thread_ = std::thread([this, pump] {
            hwnd_ = platform::createWindow({"OrvaneTest", "Orvane", true},
                                           [this](platform::HWND, platform::UINT m, platform::WPARAM w,
                                                  platform::LPARAM l) -> platform::LRESULT {
                                               if (m == OV_COMMAND_MESSAGE) {
                                                   const auto code = static_cast<std::uint32_t>(w);
                                                   const auto arg = static_cast<std::uint32_t>(l);
                                                   {
                                                       std::lock_guard lock(mutex_);
                                                       commands_.emplace_back(code, arg);
                                                   }
                                                   if (answer_)
                                                       lib().setLastError(answer_(code, arg));
                                               }
                                               return 0;
                                           });
            ready_.set();
            if (!pump) {
                release_.wait(10000);
            } else {
                platform::Msg msg;
                while (platform::getMessage(msg) != 0)
                    platform::dispatchMessage(msg);
            }
            platform::destroyWindow(hwnd_);
        });
        ready_.wait(5000);
    }
    ~TestServer()
    {
        release();
        platform::postMessage(hwnd_, platform::WM_QUIT, 0, 0);
        thread_.join();
    }
    void release() { release_.set(); }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> commands()
    {
        std::lock_guard lock(mutex_);
        return commands_;
    }

private:
    Answer answer_;
    platform::Event ready_;
    platform::Event release_;
    std::atomic<platform::HWND> hwnd_{0};
    std::mutex mutex_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> commands_;
    std::thread thread_;
};

class OVClientTest : public ::testing::Test {
protected:
    testing_support::TempSession session;
    ClientProcess spawn(const std::string& exe) { return ClientProcess(kBin + "/" + exe, kLibrary); }
};

TEST_F(OVClientTest, WithoutMainProgramEveryCommandAndDataExportAnswersOne)
{
    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    c.ask("window");
    for (const char* cmd : {"regwin", "unreg", "profile 2302", "request 119", "start", "stop", "cursoron",
                            "cursoroff", "recenter"})
        EXPECT_EQ(c.ask(cmd), "1") << cmd;
    EXPECT_EQ(c.ask("getdata").substr(0, 2), "1 ");
    EXPECT_EQ(c.ask("version"), "1 0");
    // Parameters are plain words of the section, there with or without it.
    EXPECT_EQ(c.ask("getparam 0"), "0 0");

    OVPosePacket p{};
    EXPECT_EQ(lib().setData(&p), OV_NO_SERVER);
}

TEST_F(OVClientTest, VersionAndResultsComeBackAcrossProcesses)
{
    TestServer server([](std::uint32_t code, std::uint32_t arg) {
        if (code == OV_CMD_REGISTER_WINDOW)
            return OV_ALREADY_REGISTERED;
        if (code == OV_CMD_REGISTER_PROFILE && arg == 0)
            return OV_PROFILE_REFUSED;
        return OV_OK;
    });
    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    EXPECT_EQ(c.ask("version"), "0 256");
    lib().setVersion(0x400);
    EXPECT_EQ(c.ask("version"), "0 1024");
    EXPECT_EQ(c.ask("regwin 1234"), "7");
    EXPECT_EQ(c.ask("profile 0"), "8");
    EXPECT_EQ(c.ask("profile 2302"), "0");
    EXPECT_EQ(c.ask("request 119"), "0");
    EXPECT_EQ(c.ask("cursoroff"), "0");
    EXPECT_EQ(c.ask("unreg"), "0");
    const auto cmds = server.commands();
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {1020, 1234}, {1010, 0}, {1010, 2302}, {1030, 119}, {3020, 0}, {1021, 0}};
    EXPECT_EQ(cmds, expected);
}

TEST_F(OVClientTest, ExecutableNameRules)
{
    TestServer server([](std::uint32_t code, std::uint32_t) {
        return code == OV_CMD_REGISTER_PROFILE ? OV_PROFILE_REFUSED : OV_OK;
    });
    {
        ClientProcess lockOn = spawn("LockOn.exe");
        ASSERT_TRUE(lockOn.ready());
        EXPECT_EQ(lockOn.ask("profile 0"), "8");
        EXPECT_EQ(lockOn.ask("profile 5"), "8");
        EXPECT_EQ(lockOn.ask("start"), "0"); // not in the table: no registration
    }
    {
        ClientProcess other = spawn("Other.exe");
        ASSERT_TRUE(other.ready());
        EXPECT_EQ(other.ask("profile 0"), "8");
    }
    {
        // Registers 4701 first; the start's own result comes back, though
        // the registration was refused.
        ClientProcess trainz = spawn("Trainz.exe");
        ASSERT_TRUE(trainz.ready());
        EXPECT_EQ(trainz.ask("start"), "0");
    }
    {
        // Names compare without case.
        ClientProcess lockOn = spawn("lockon.EXE");
        ClientProcess trainz = spawn("TRAINZ.exe");
        ASSERT_TRUE(lockOn.ready() && trainz.ready());
        EXPECT_EQ(lockOn.ask("profile 0"), "8");
        EXPECT_EQ(trainz.ask("start"), "0");
    }
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {1010, 1002}, {1010, 5}, {2010, 0}, {1010, 0}, {1010, 4701}, {2010, 0},
        {1010, 1002}, {1010, 4701}, {2010, 0}};
    EXPECT_EQ(server.commands(), expected);
}

TEST_F(OVClientTest, ParametersAreReadOnlyExceptClearingTheRecentreRequest)
{
    Lib& l = lib();
    std::int32_t v = -1;
    EXPECT_EQ(l.getParam(3, &v), OV_BAD_ARGUMENT);
    EXPECT_EQ(l.getParam(-1, &v), OV_BAD_ARGUMENT);
    EXPECT_EQ(l.getParam(0, nullptr), OV_BAD_ARGUMENT);
    EXPECT_EQ(l.privSetParam(5, 9), 3);   // index - 2, nothing stored
    EXPECT_EQ(l.privSetParam(-3, 9), -5);
    EXPECT_EQ(l.privSetParam(0, 1), 1);
    EXPECT_EQ(l.privSetParam(1, 1), 1);
    EXPECT_EQ(l.privSetParam(2, 1), 1);
    EXPECT_EQ(l.setParam(0, 0), OV_READ_ONLY);
    EXPECT_EQ(l.setParam(1, 5), OV_READ_ONLY);
    EXPECT_EQ(l.setParam(2, 1), OV_BAD_ARGUMENT);
    EXPECT_EQ(l.setParam(3, 0), OV_BAD_ARGUMENT);

    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    EXPECT_EQ(c.ask("getparam 0"), "0 1");
    EXPECT_EQ(c.ask("getparam 1"), "0 1");
    EXPECT_EQ(c.ask("getparam 2"), "0 1");
    EXPECT_EQ(c.ask("setparam 2 0"), "0");
    EXPECT_EQ(c.ask("getparam 2"), "0 0");
    EXPECT_EQ(c.ask("setparam 1 0"), "9");
    EXPECT_EQ(c.ask("getparam 1"), "0 1");
}

TEST_F(OVClientTest, NotifyTypesSelectSlots)
{
    TestServer server;
    Lib& l = lib();
    OVPosePacket zero{};
    ASSERT_EQ(l.setData(&zero), OV_OK);
    struct Case {
        std::uint16_t type;
        int result;
        int slot;
    };
    const Case cases[] = {{1, 0, 0},   {2, 0, 1},   {4, 0, 2},    {8, 3, -1},   {16, 0, 3},     {64, 0, 5},
                          {128, 0, 6}, {1024, 0, 9}, {32768, 0, 14}, {3, 3, -1}, {0, 3, -1}, {0x8001, 3, -1}};
    std::uint16_t status = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(l.notify(c.type, 7), c.result) << c.type;
        OVPosePacket p{};
        ASSERT_EQ(l.getData(&p), OV_OK);
        if (c.slot >= 0) {
            status = static_cast<std::uint16_t>(status | c.type);
            EXPECT_EQ(p.value[c.slot], 7.0f) << c.type;
        }
        EXPECT_EQ(p.status, status) << c.type;
    }
    EXPECT_EQ(l.notify(1024, 65535), 0);
    OVPosePacket p{};
    l.getData(&p);
    EXPECT_EQ(p.value[9], 65535.0f);
}

TEST_F(OVClientTest, RecordReachesAnotherProcessExactly)
{
    TestServer server;
    OVPosePacket rec{};
    rec.frame = 32766;
    for (int i = 0; i < 15; ++i)
        rec.value[i] = i < 6 ? static_cast<float>(i * 100 - 250) + 0.5f : 0.0f;
    ASSERT_EQ(lib().setData(&rec), OV_OK);
    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    EXPECT_EQ(c.ask("getdata"), "0 0 32766 0 -249.5 -149.5 -49.5 50.5 150.5 250.5 0 0 0 0 0 0 0 0 0");

    // Null pointers are refused, not written through.
    EXPECT_EQ(lib().getData(nullptr), OV_BAD_ARGUMENT);
    EXPECT_EQ(lib().queryVersion(nullptr), OV_BAD_ARGUMENT);
    EXPECT_EQ(lib().setData(nullptr), OV_BAD_ARGUMENT);
}

TEST_F(OVClientTest, HeldMutexGivesSixAndADeadHolderIsRecovered)
{
    TestServer server;
    OVPosePacket rec{};
    rec.frame = 5;
    ASSERT_EQ(lib().setData(&rec), OV_OK);
    ClientProcess holder = spawn("Other.exe");
    ASSERT_TRUE(holder.ready());
    ASSERT_EQ(holder.ask("hold"), "held");

    OVPosePacket out{};
    out.frame = 999;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(lib().getData(&out), OV_MUTEX_TIMEOUT);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, 20ms);
    EXPECT_LT(waited, 250ms);
    EXPECT_EQ(out.frame, 999); // unchanged
    rec.frame = 6;
    EXPECT_EQ(lib().setData(&rec), OV_MUTEX_TIMEOUT);

    holder.tell("die");
    holder.wait();
    ClientProcess next = spawn("Other.exe");
    ASSERT_TRUE(next.ready());
    EXPECT_EQ(next.ask("getdata").substr(0, 6), "0 0 5 ");
    EXPECT_EQ(lib().setData(&rec), OV_OK);
    EXPECT_EQ(lib().getData(&out), OV_OK);
    EXPECT_EQ(out.frame, 6);
}

TEST_F(OVClientTest, APoseSectionAnotherUserMadeFirstIsNeitherWrittenNorRead)
{
    ORVANE_REQUIRE_OTHER_USERS_SHARED_OBJECTS();
    // The stranger makes the session's pose section first, open to all and
    // of the size this build gives it, to read and forge the poses.
    const std::string object = "/" + session.name() + ".OVClient";
    ASSERT_EQ(testing_support::runAsOtherUser([&] {
                  const int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
                  const bool ok = fd >= 0 && ::fchmod(fd, 0666) == 0 && ::ftruncate(fd, 576) == 0;
                  if (fd >= 0)
                      ::close(fd);
                  return ok ? 0 : 1;
              }),
              0);
    TestServer server;

    // The user's program does not publish into it, and says which object
    // it refused on its error output.
    testing_support::TempDir dir{"ovclient-refused"};
    const int saved = ::dup(2);
    const int errors = ::open(dir.file("errors.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(errors, 0);
    ::dup2(errors, 2);
    OVPosePacket rec{};
    rec.frame = 77;
    rec.value[0] = 12.5f;
    const int published = lib().setData(&rec);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(errors);
    EXPECT_EQ(published, OV_NO_SERVER);
    std::ifstream in(dir.file("errors.txt"));
    const std::string said{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(said.find("OVClient: The shared object /dev/shm" + object + " belongs to user 65534"),
              std::string::npos)
        << said;

    // A game of the user does not read it either.
    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    EXPECT_EQ(c.ask("getdata").substr(0, 2), "1 ");
    // And the stranger's object holds nothing of ours.
    EXPECT_EQ(testing_support::runAsOtherUser([&] {
                  const int fd = ::shm_open(object.c_str(), O_RDONLY, 0);
                  if (fd < 0)
                      return 2;
                  unsigned char bytes[576];
                  const bool zero = ::pread(fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes) &&
                                    std::all_of(std::begin(bytes), std::end(bytes), [](unsigned char b) { return b == 0; });
                  ::close(fd);
                  return zero ? 0 : 1;
              }),
              0);
}

TEST_F(OVClientTest, CommandsOfTwoClientsNeverInterleave)
{
    // The server answers a data request with its flags, after a pause that
    // lets the other client's command arrive meanwhile.
    TestServer server([](std::uint32_t code, std::uint32_t arg) {
        if (code != OV_CMD_REQUEST_DATA)
            return 0;
        lib().setLastError(static_cast<int>(arg));
        std::this_thread::sleep_for(200us);
        return static_cast<int>(arg);
    });
    ClientProcess a = spawn("Other.exe");
    ClientProcess b = spawn("Other.exe");
    ASSERT_TRUE(a.ready() && b.ready());
    a.tell("spam 11 300");
    b.tell("spam 22 300");
    EXPECT_EQ(a.readLine(), "0");
    EXPECT_EQ(b.readLine(), "0");
}

TEST_F(OVClientTest, SendThatFailsMidCallIsNotSuccess)
{
    // A command window whose thread ends without handling the command.
    auto server = std::make_unique<TestServer>(TestServer::Answer{}, false);
    ClientProcess c = spawn("Other.exe");
    ASSERT_TRUE(c.ready());
    c.tell("recenter");
    std::this_thread::sleep_for(50ms);
    server->release();
    EXPECT_EQ(c.readLine(), "1");
    server.reset();
    EXPECT_EQ(c.ask("recenter"), "1");
}

} // namespace
