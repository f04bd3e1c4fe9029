#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "peer_process.h"
#include "platform/messages.h"
#include "platform/shared.h"
#include "platform/sync.h"
#include "testing/other_user.h"
#include "testing/temp_session.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

class SharedTest : public ::testing::Test {
protected:
    testing_support::TempSession session;
};

TEST_F(SharedTest, SectionIsSharedAndInitialisedOnce)
{
    int inits = 0;
    auto init = [&](void* bytes, std::size_t size) {
        ++inits;
        std::memset(bytes, 0x5a, size);
    };
    auto a = SharedSection::open("section", 492, init);
    auto b = SharedSection::open("section", 492, init);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(inits, 1);
    EXPECT_TRUE(a->created());
    EXPECT_FALSE(b->created());
    EXPECT_EQ(static_cast<unsigned char*>(b->data())[491], 0x5a);
    static_cast<unsigned char*>(a->data())[7] = 0x11;
    EXPECT_EQ(static_cast<unsigned char*>(b->data())[7], 0x11);
}

TEST_F(SharedTest, SectionsOfOtherSessionsAreApart)
{
    auto a = SharedSection::open("section", 16);
    ASSERT_TRUE(a);
    static_cast<char*>(a->data())[0] = 'x';
    testing_support::TempSession other;
    auto b = SharedSection::open("section", 16);
    ASSERT_TRUE(b);
    EXPECT_EQ(static_cast<char*>(b->data())[0], 0);
}

TEST_F(SharedTest, MutexHeldByAnotherProcessTimesOutThenRecoversWhenHolderDies)
{
    auto m = NamedMutex::open("held");
    ASSERT_TRUE(m);
    peer::Process holder({IPC_PEER, "lock", "held"});
    ASSERT_EQ(holder.readLine(), "locked");

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(m->lock(25ms), LockResult::Timeout);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, 20ms);
    EXPECT_LT(waited, 250ms);

    holder.kill();
    EXPECT_EQ(m->lock(25ms), LockResult::Abandoned);
    m->unlock();
    // Made consistent: later lockers see a plain, healthy mutex.
    EXPECT_EQ(m->lock(25ms), LockResult::Acquired);
    m->unlock();
}

TEST_F(SharedTest, MutexExcludesThreads)
{
    // One mapping for both threads (the race detector tells mutexes apart
    // by address); other openers are covered across processes above.
    auto m = NamedMutex::open("count");
    ASSERT_TRUE(m);
    int counter = 0;
    auto work = [&](NamedMutex& mx) {
        for (int i = 0; i < 20000; ++i) {
            NamedLock lock(mx, 1000ms);
            ASSERT_TRUE(lock.owns());
            ++counter;
        }
    };
    std::thread t([&] { work(*m); });
    work(*m);
    t.join();
    EXPECT_EQ(counter, 40000);
}

TEST_F(SharedTest, EventsManualAndAuto)
{
    auto manual = NamedEvent::open("manual", true);
    auto autoEv = NamedEvent::open("auto", false);
    ASSERT_TRUE(manual && autoEv);
    EXPECT_EQ(manual->wait(1ms), kWaitTimeout);
    manual->set();
    EXPECT_EQ(manual->wait(1ms), kWaitObject0);
    EXPECT_EQ(manual->wait(1ms), kWaitObject0);
    manual->reset();
    EXPECT_EQ(manual->wait(1ms), kWaitTimeout);

    auto other = NamedEvent::open("auto", true); // the creator's mode holds
    std::thread setter([&] {
        std::this_thread::sleep_for(10ms);
        other->set();
    });
    EXPECT_EQ(autoEv->wait(2000ms), kWaitObject0);
    setter.join();
    EXPECT_EQ(autoEv->wait(1ms), kWaitTimeout);
}

// Makes shared-memory object `name` with `bytes` bytes and `mode`, as any
// program may; false when it cannot.
bool makeObject(const std::string& name, off_t bytes, mode_t mode)
{
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
    if (fd < 0)
        return false;
    const bool ok = ::fchmod(fd, mode) == 0 && ::ftruncate(fd, bytes) == 0;
    ::close(fd);
    return ok;
}

TEST_F(SharedTest, ObjectsAnotherUserMadeFirstAreRefusedByName)
{
    ORVANE_REQUIRE_OTHER_USERS_SHARED_OBJECTS();
    // The stranger makes the names ahead of us, open to everyone, each with
    // the size our build would give it.
    const std::string section = "/" + session.name() + ".section";
    const std::string mutex = "/" + session.name() + ".mutex.held";
    const std::string windows = "/" + session.name() + ".windows";
    ASSERT_EQ(testing_support::runAsOtherUser([&] {
                  return makeObject(section, 576, 0666) && makeObject(mutex, 128, 0666) &&
                                 makeObject(windows, 1 << 16, 0666)
                             ? 0
                             : 1;
              }),
              0);

    struct Case {
        const char* what;
        std::function<bool()> opens;
        std::string object;
    } cases[] = {
        {"section", [] { return SharedSection::open("section", 492) != nullptr; }, section},
        {"mutex", [] { return NamedMutex::open("held") != nullptr; }, mutex},
        {"window table",
         [] { return createWindow({"C", "T", true}, [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }) != 0; },
         windows},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(c.opens());
        const std::string error = sharedObjectError();
        EXPECT_NE(error.find("/dev/shm" + c.object), std::string::npos) << error;
        EXPECT_NE(error.find("belongs to user 65534"), std::string::npos) << error;
    }
}

TEST_F(SharedTest, OursAreMadePrivateAndOfTheSizeAgreed)
{
    // Made 0600, whatever the umask says.
    const mode_t old = ::umask(0);
    auto fresh = SharedSection::open("fresh", 492);
    ::umask(old);
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(sharedObjectError().empty());
    struct stat st{};
    ASSERT_EQ(::stat(("/dev/shm" + fresh->objectName()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());

    // One of ours with another size (another build's layout) is not used.
    const std::string odd = "/" + session.name() + ".odd";
    ASSERT_TRUE(makeObject(odd, 100, 0600));
    EXPECT_EQ(SharedSection::open("odd", 492), nullptr);
    EXPECT_NE(sharedObjectError().find("/dev/shm" + odd + " has 100 bytes where 576 are expected"),
              std::string::npos)
        << sharedObjectError();

    // One just made by another process of ours, not sized yet, is taken.
    const std::string unsized = "/" + session.name() + ".unsized";
    ASSERT_TRUE(makeObject(unsized, 0, 0600));
    auto taken = SharedSection::open("unsized", 492);
    ASSERT_TRUE(taken);
    static_cast<char*>(taken->data())[491] = 1;
}

} // namespace

#include "platform/session.h"

namespace {

TEST(Session, NameFollowsTheEnvironment)
{
    testing_support::TempSession session;
    EXPECT_EQ(platform::sessionName(), session.name());
    EXPECT_EQ(platform::currentSession(), session.name());
    EXPECT_EQ(platform::sessionObjectName("x/y"), "/" + session.name() + ".x_y");
    {
        testing_support::TempSession inner;
        EXPECT_EQ(platform::currentSession(), inner.name());
        ::setenv("ORVANE_SESSION", "a/b", 1);
        EXPECT_EQ(platform::currentSession(), "a_b");
        ::setenv("ORVANE_SESSION", "a/bc", 1);
        EXPECT_EQ(platform::currentSession(), "a_bc");
        ::setenv("ORVANE_SESSION", "", 1);
        EXPECT_EQ(platform::currentSession(), "orvane-" + std::to_string(::getuid()));
        ::unsetenv("ORVANE_SESSION");
        EXPECT_EQ(platform::currentSession(), "orvane-" + std::to_string(::getuid()));
    }
    EXPECT_EQ(platform::currentSession(), session.name());
}

} // namespace
