#pragma once
// Runs a piece of a test as another local user: the stranger that the
// program must keep out. The code runs in a forked child that has dropped
// to user and group "nobody" (65534), so this works only when the test runs
// as root (CI does); elsewhere such tests skip.
#include <chrono>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace testing_support {

inline constexpr unsigned kOtherUid = 65534;

// Whether runAsOtherUser can work here; when not, `why` says why (for the
// test's skip message).
bool canRunAsOtherUser(std::string* why = nullptr);

// Whether the other user can make shared-memory objects here (a /dev/shm
// that everyone may write to, as on every desktop); a chroot or container
// with a private /dev may not give it one. When not, `why` says why.
bool canMakeSharedObjectsAsOtherUser(std::string* why = nullptr);

// Forks; the child drops to uid/gid 65534 (no supplementary groups), runs
// `fn` and exits with its result (0..255). Returns that exit code, 126 when
// the ids could not be dropped, or -1 when the child did not end within
// `timeout` (it is killed then). Only async-signal-safe work and plain
// system calls belong in `fn`: the child is a copy of a threaded process.
int runAsOtherUser(const std::function<int()>& fn,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Makes the shared-memory object `objectName` ("/<session>.<name>") as the
// other user would, ahead of us and open to everyone (mode 0666, `bytes`
// long); false when it could not.
bool makeSharedObjectAsOtherUser(const std::string& objectName, long bytes = 4096);

// What any local user can learn and do with a process's message socket:
// its abstract name, read from /proc/net/unix (empty when process `pid`
// has none in `session`), and a raw connection to it (-1 when it cannot be
// made; at once for a non-blocking one).
std::string messageSocketOf(int pid, const std::string& session);
int connectToMessageSocket(const std::string& name, bool nonBlocking = false);

} // namespace testing_support

// In a test body: skips the test, saying why, when no other user is at hand.
#define ORVANE_REQUIRE_OTHER_USER()                                                                                    \
    do {                                                                                                               \
        std::string why_;                                                                                              \
        if (!::testing_support::canRunAsOtherUser(&why_))                                                              \
            GTEST_SKIP() << why_;                                                                                      \
    } while (0)

// In a test body: skips the test, saying why, when no other user is at hand
// or cannot make shared objects here (then none can be made ahead of us).
#define ORVANE_REQUIRE_OTHER_USERS_SHARED_OBJECTS()                                                                    \
    do {                                                                                                               \
        std::string why_;                                                                                              \
        if (!::testing_support::canMakeSharedObjectsAsOtherUser(&why_))                                                \
            GTEST_SKIP() << why_;                                                                                      \
    } while (0)
