#include "platform/registry.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace reg = platform::registry;
using reg::Root;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/orvane-registry-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        file_ = dir_ / "sub" / "registry.db";
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::filesystem::path dir_;
    std::filesystem::path file_;
};

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCaseAndKeepSpelling)
{
    reg::Store store(file_);
    ASSERT_EQ(store.openStatus(), reg::kSuccess);
    bool created = false;
    ASSERT_EQ(store.createKey(Root::CurrentUser, "SOFTWARE\\Orvane\\Orvane\\OVClient Location", &created),
              reg::kSuccess);
    EXPECT_TRUE(created);
    // The clients spell the key differently; it is the same key.
    EXPECT_EQ(store.createKey(Root::CurrentUser, u"Software\\Orvane\\ORVANE\\ovclient location", &created),
              reg::kSuccess);
    EXPECT_FALSE(created);
    ASSERT_EQ(store.setString(Root::CurrentUser, "SOFTWARE\\Orvane\\Orvane\\OVClient Location", "Path",
                              u"/opt/orvane/", false),
              reg::kSuccess);
    std::u16string path;
    EXPECT_EQ(store.queryString(Root::CurrentUser, u"software\\orvane\\orvane\\OVCLIENT LOCATION", u"PATH", path),
              reg::kSuccess);
    EXPECT_EQ(path, u"/opt/orvane/");

    std::vector<std::u16string> subs;
    ASSERT_EQ(store.subkeys(Root::CurrentUser, "software\\orvane", subs), reg::kSuccess);
    EXPECT_EQ(subs, std::vector<std::u16string>{u"Orvane"});

    // Folding goes beyond ASCII.
    ASSERT_EQ(store.createKey(Root::CurrentUser, u"Software\\Ärger Ωmega Жук"), reg::kSuccess);
    EXPECT_EQ(store.openKey(Root::CurrentUser, u"software\\äRGER ωMEGA жУК"), reg::kSuccess);
    // Empty path segments are skipped.
    EXPECT_EQ(store.openKey(Root::CurrentUser, "\\Software\\\\Orvane\\"), reg::kSuccess);
}

TEST_F(RegistryTest, RootsAreSeparate)
{
    reg::Store store(file_);
    ASSERT_EQ(store.createKey(Root::LocalMachine, "SOFTWARE\\Orvane\\Vistrel"), reg::kSuccess);
    ASSERT_EQ(store.setDword(Root::LocalMachine, "SOFTWARE\\Orvane\\Vistrel", "MSFSSleepTime", 40), reg::kSuccess);
    EXPECT_EQ(store.openKey(Root::CurrentUser, "SOFTWARE\\Orvane\\Vistrel"), reg::kNotFound);
    std::uint32_t n = 0;
    EXPECT_EQ(store.queryDword(Root::CurrentUser, "SOFTWARE\\Orvane\\Vistrel", "MSFSSleepTime", n), reg::kNotFound);
    EXPECT_EQ(store.queryDword(Root::LocalMachine, "software\\orvane\\vistrel", "msfssleeptime", n), reg::kSuccess);
    EXPECT_EQ(n, 40u);
}

TEST_F(RegistryTest, TypedValues)
{
    reg::Store store(file_);
    const char* key = "Software\\Orvane\\Types";
    ASSERT_EQ(store.createKey(Root::CurrentUser, key), reg::kSuccess);

    ASSERT_EQ(store.setDword(Root::CurrentUser, key, "d", 0xFFFFFFFFu), reg::kSuccess);
    ASSERT_EQ(store.setString(Root::CurrentUser, key, "s", u"h\u00e9llo \U0001F600"), reg::kSuccess);
    const std::vector<std::uint8_t> bytes{0, 1, 2, 0xFF, 0};
    ASSERT_EQ(store.setBinary(Root::CurrentUser, key, "b", bytes), reg::kSuccess);
    ASSERT_EQ(store.setBinary(Root::CurrentUser, key, "empty", {}), reg::kSuccess);
    ASSERT_EQ(store.setString(Root::CurrentUser, key, "", u"default"), reg::kSuccess);

    reg::Value v;
    ASSERT_EQ(store.queryValue(Root::CurrentUser, key, "d", v), reg::kSuccess);
    EXPECT_EQ(v.type, reg::kTypeDword);
    EXPECT_EQ(v.data, (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    std::uint32_t d = 0;
    EXPECT_EQ(store.queryDword(Root::CurrentUser, key, "D", d), reg::kSuccess);
    EXPECT_EQ(d, 0xFFFFFFFFu);

    ASSERT_EQ(store.queryValue(Root::CurrentUser, key, "s", v), reg::kSuccess);
    EXPECT_EQ(v.type, reg::kTypeString);
    EXPECT_EQ(v.data.size(), (8u + 1u) * 2u) << "UTF-16 units (a surrogate pair for the emoji) and the terminator";
    std::u16string s;
    EXPECT_EQ(store.queryString(Root::CurrentUser, key, "s", s), reg::kSuccess);
    EXPECT_EQ(s, u"h\u00e9llo \U0001F600");
    std::string s8;
    EXPECT_EQ(store.queryStringUtf8(Root::CurrentUser, key, "s", s8), reg::kSuccess);
    EXPECT_EQ(s8, "h\xc3\xa9llo \xf0\x9f\x98\x80");

    ASSERT_EQ(store.queryValue(Root::CurrentUser, key, "b", v), reg::kSuccess);
    EXPECT_EQ(v.type, reg::kTypeBinary);
    EXPECT_EQ(v.data, bytes);
    ASSERT_EQ(store.queryValue(Root::CurrentUser, key, "empty", v), reg::kSuccess);
    EXPECT_TRUE(v.data.empty());

    // Wrong type or size is reported, not misread.
    EXPECT_EQ(store.queryDword(Root::CurrentUser, key, "b", d), reg::kInvalidData);
    EXPECT_EQ(store.queryString(Root::CurrentUser, key, "d", s), reg::kInvalidData);
    EXPECT_EQ(store.queryValue(Root::CurrentUser, key, "missing", v), reg::kNotFound);

    // Overwriting changes type and data, one value remains.
    ASSERT_EQ(store.setString(Root::CurrentUser, key, "D", u"now text"), reg::kSuccess);
    EXPECT_EQ(store.queryString(Root::CurrentUser, key, "d", s), reg::kSuccess);
    EXPECT_EQ(s, u"now text");

    std::vector<reg::NamedValue> all;
    ASSERT_EQ(store.values(Root::CurrentUser, key, all), reg::kSuccess);
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[0].name, u"d"); // first spelling and position kept
    EXPECT_EQ(all[0].value.type, reg::kTypeString);
    EXPECT_EQ(all[4].name, u"");
}

TEST_F(RegistryTest, StringWithoutTerminatorAndRawStringData)
{
    reg::Store store(file_);
    ASSERT_EQ(store.createKey(Root::CurrentUser, "k"), reg::kSuccess);
    ASSERT_EQ(store.setString(Root::CurrentUser, "k", "p", u"ab", false), reg::kSuccess);
    reg::Value v;
    ASSERT_EQ(store.queryValue(Root::CurrentUser, "k", "p", v), reg::kSuccess);
    EXPECT_EQ(v.data, (std::vector<std::uint8_t>{'a', 0, 'b', 0}));
    // Data with an odd byte count and an embedded null: read up to the null.
    const std::vector<std::uint8_t> odd{'x', 0, 0, 0, 'y', 0, 'z'};
    ASSERT_EQ(store.setValue(Root::CurrentUser, "k", "q", reg::kTypeString, odd), reg::kSuccess);
    std::u16string s;
    ASSERT_EQ(store.queryString(Root::CurrentUser, "k", "q", s), reg::kSuccess);
    EXPECT_EQ(s, u"x");
}

TEST_F(RegistryTest, MissingKeysAndDeletion)
{
    reg::Store store(file_);
    EXPECT_EQ(store.setDword(Root::CurrentUser, "no\\such", "v", 1), reg::kNotFound);
    std::vector<std::u16string> subs;
    EXPECT_EQ(store.subkeys(Root::CurrentUser, "no\\such", subs), reg::kNotFound);

    ASSERT_EQ(store.createKey(Root::CurrentUser, "a\\b\\c"), reg::kSuccess);
    ASSERT_EQ(store.createKey(Root::CurrentUser, "a\\B2"), reg::kSuccess);
    ASSERT_EQ(store.setDword(Root::CurrentUser, "a\\b\\c", "v", 7), reg::kSuccess);
    ASSERT_EQ(store.subkeys(Root::CurrentUser, "A", subs), reg::kSuccess);
    EXPECT_EQ(subs, (std::vector<std::u16string>{u"b", u"B2"}));

    EXPECT_EQ(store.deleteKey(Root::CurrentUser, "a\\b"), reg::kAccessDenied) << "has a subkey";
    EXPECT_EQ(store.deleteKey(Root::CurrentUser, ""), reg::kAccessDenied) << "a root";
    EXPECT_EQ(store.deleteTree(Root::CurrentUser, ""), reg::kAccessDenied);
    EXPECT_EQ(store.deleteValue(Root::CurrentUser, "a\\b\\c", "none"), reg::kNotFound);
    EXPECT_EQ(store.deleteValue(Root::CurrentUser, "a\\b\\c", "V"), reg::kSuccess);
    EXPECT_EQ(store.deleteValue(Root::CurrentUser, "a\\b\\c", "v"), reg::kNotFound);
    EXPECT_EQ(store.deleteKey(Root::CurrentUser, "A\\B\\C"), reg::kSuccess);
    EXPECT_EQ(store.openKey(Root::CurrentUser, "a\\b\\c"), reg::kNotFound);
    EXPECT_EQ(store.openKey(Root::CurrentUser, "a\\b"), reg::kSuccess);

    ASSERT_EQ(store.createKey(Root::CurrentUser, "a\\b\\x\\y"), reg::kSuccess);
    ASSERT_EQ(store.setDword(Root::CurrentUser, "a\\b\\x\\y", "v", 7), reg::kSuccess);
    EXPECT_EQ(store.deleteTree(Root::CurrentUser, "a"), reg::kSuccess);
    EXPECT_EQ(store.openKey(Root::CurrentUser, "a"), reg::kNotFound);
    // A key made again under the same name starts empty.
    ASSERT_EQ(store.createKey(Root::CurrentUser, "a\\b\\x\\y"), reg::kSuccess);
    std::vector<reg::NamedValue> vals;
    ASSERT_EQ(store.values(Root::CurrentUser, "a\\b\\x\\y", vals), reg::kSuccess);
    EXPECT_TRUE(vals.empty());
}

TEST_F(RegistryTest, FilesAreTheUsersAlone)
{
    const mode_t old = ::umask(022);
    auto mode = [](const std::filesystem::path& p) {
        struct stat st{};
        return ::stat(p.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0u;
    };
    const std::filesystem::path files[] = {file_, file_.string() + "-wal", file_.string() + "-shm"};
    {
        reg::Store store(file_);
        ASSERT_EQ(store.createKey(Root::CurrentUser, "Software\\Orvane"), reg::kSuccess);
        ASSERT_EQ(store.setDword(Root::CurrentUser, "Software\\Orvane", "x", 1), reg::kSuccess);
        for (const auto& f : files)
            EXPECT_EQ(mode(f), 0600u) << f;
        EXPECT_EQ(mode(file_.parent_path()), 0700u) << "the folder it made";
    }
    // Files an older build left readable by all are narrowed when opened.
    for (const auto& f : files)
        if (std::filesystem::exists(f))
            std::filesystem::permissions(f, std::filesystem::perms(0644));
    {
        reg::Store store(file_);
        ASSERT_EQ(store.openStatus(), reg::kSuccess);
        EXPECT_EQ(mode(file_), 0600u);
        std::uint32_t value = 0;
        EXPECT_EQ(store.queryDword(Root::CurrentUser, "Software\\Orvane", "x", value), reg::kSuccess);
        EXPECT_EQ(value, 1u);
        for (const auto& f : files) {
            if (std::filesystem::exists(f)) {
                EXPECT_EQ(mode(f), 0600u) << f;
            }
        }
    }
    ::umask(old);
}

TEST_F(RegistryTest, BatchAppliesAllOrNothing)
{
    reg::Store store(file_);
    ASSERT_EQ(store.createKey(Root::CurrentUser, "Old"), reg::kSuccess);
    ASSERT_EQ(store.setDword(Root::CurrentUser, "Old", "Gone", 1), reg::kSuccess);

    reg::Batch batch;
    const std::uint8_t blob[] = {1, 2, 3};
    batch.createKey(Root::CurrentUser, "A\\B")
        .setDword(Root::CurrentUser, "a\\b", "N", 0x01020304)
        .setString(Root::CurrentUser, "A\\B", "S", u"text")
        .setBinary(Root::CurrentUser, "A\\B", "Bin", blob)
        .deleteValue(Root::CurrentUser, "Old", "Gone")
        .deleteValue(Root::CurrentUser, "Old", "NeverThere")
        .deleteValue(Root::CurrentUser, "NoSuchKey", "X");
    ASSERT_EQ(store.apply(batch), reg::kSuccess);
    std::uint32_t n = 0;
    EXPECT_EQ(store.queryDword(Root::CurrentUser, "A\\B", "n", n), reg::kSuccess);
    EXPECT_EQ(n, 0x01020304u);
    std::u16string text;
    EXPECT_EQ(store.queryString(Root::CurrentUser, "A\\B", "S", text), reg::kSuccess);
    EXPECT_EQ(text, u"text");
    reg::Value v;
    EXPECT_EQ(store.queryValue(Root::CurrentUser, "A\\B", "Bin", v), reg::kSuccess);
    EXPECT_EQ(v.data, std::vector<std::uint8_t>(std::begin(blob), std::end(blob)));
    EXPECT_EQ(store.queryValue(Root::CurrentUser, "Old", "Gone", v), reg::kNotFound);

    // A change that fails (its key is missing) undoes the ones before it.
    reg::Batch failing;
    failing.createKey(Root::CurrentUser, "New")
        .setDword(Root::CurrentUser, "A\\B", "N", 7)
        .setDword(Root::CurrentUser, "Missing", "X", 1);
    EXPECT_EQ(store.apply(failing), reg::kNotFound);
    EXPECT_EQ(store.queryDword(Root::CurrentUser, "A\\B", "N", n), reg::kSuccess);
    EXPECT_EQ(n, 0x01020304u);
    EXPECT_EQ(store.openKey(Root::CurrentUser, "New"), reg::kNotFound);

    EXPECT_EQ(store.apply(reg::Batch()), reg::kSuccess);
    std::filesystem::create_directories(dir_ / "file-as-folder" / "x.db");
    EXPECT_EQ(reg::Store(dir_ / "file-as-folder" / "x.db").apply(batch), reg::kIoFailed);
}

TEST_F(RegistryTest, ReopenAfterClose)
{
    {
        reg::Store store(file_);
        ASSERT_EQ(store.createKey(Root::CurrentUser, "Software\\Orvane\\Vistrel\\ProfileMap"), reg::kSuccess);
        ASSERT_EQ(store.setString(Root::CurrentUser, "Software\\Orvane\\Vistrel\\ProfileMap", "12", u"Falcon"),
                  reg::kSuccess);
    }
    reg::Store again(file_);
    std::u16string s;
    EXPECT_EQ(again.queryString(Root::CurrentUser, "software\\orvane\\vistrel\\profilemap", "12", s), reg::kSuccess);
    EXPECT_EQ(s, u"Falcon");
}

TEST_F(RegistryTest, UnopenableFileFailsEveryCall)
{
    // A directory where the file should be.
    std::filesystem::create_directories(file_);
    reg::Store store(file_);
    EXPECT_EQ(store.openStatus(), reg::kIoFailed);
    EXPECT_EQ(store.createKey(Root::CurrentUser, "a"), reg::kIoFailed);
    std::uint32_t d = 0;
    EXPECT_EQ(store.queryDword(Root::CurrentUser, "a", "b", d), reg::kIoFailed);
}

// Two processes write to one file at the same time; each sees all of the
// other's committed writes, including those of a process that died without
// closing its store.
TEST_F(RegistryTest, TwoProcessesWriteAndRead)
{
    constexpr int kCount = 200;
    {
        reg::Store store(file_);
        ASSERT_EQ(store.createKey(Root::CurrentUser, "shared"), reg::kSuccess);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failures = 0;
        {
            reg::Store store(file_);
            for (int i = 0; i < kCount; ++i) {
                if (store.setDword(Root::CurrentUser, "SHARED", "child" + std::to_string(i),
                                   static_cast<std::uint32_t>(i)) != reg::kSuccess) {
                    ++failures;
                }
                if (store.createKey(Root::CurrentUser, "shared\\c" + std::to_string(i)) != reg::kSuccess) {
                    ++failures;
                }
            }
            // Die without closing the connection.
            _exit(failures == 0 ? 0 : 1);
        }
    }
    reg::Store store(file_);
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(store.setDword(Root::CurrentUser, "shared", "parent" + std::to_string(i),
                                 static_cast<std::uint32_t>(i)),
                  reg::kSuccess);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    std::vector<reg::NamedValue> vals;
    ASSERT_EQ(store.values(Root::CurrentUser, "shared", vals), reg::kSuccess);
    EXPECT_EQ(vals.size(), 2u * kCount);
    std::uint32_t d = 0;
    EXPECT_EQ(store.queryDword(Root::CurrentUser, "shared", "Child199", d), reg::kSuccess);
    EXPECT_EQ(d, 199u);
    std::vector<std::u16string> subs;
    ASSERT_EQ(store.subkeys(Root::CurrentUser, "shared", subs), reg::kSuccess);
    EXPECT_EQ(subs.size(), static_cast<std::size_t>(kCount));

    // A fresh process opening the file sees the same.
    const pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        reg::Store mine(file_);
        std::uint32_t v = 0;
        const bool ok = mine.queryDword(Root::CurrentUser, "shared", "parent0", v) == reg::kSuccess && v == 0 &&
                        mine.queryDword(Root::CurrentUser, "shared", "child42", v) == reg::kSuccess && v == 42;
        _exit(ok ? 0 : 1);
    }
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A store opened before fork() keeps working in the child, on a connection
// of the child's own, and the parent's connection is unharmed.
TEST_F(RegistryTest, StoreUsedAcrossFork)
{
    reg::Store store(file_);
    ASSERT_EQ(store.createKey(Root::CurrentUser, "forked"), reg::kSuccess);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool ok = store.setDword(Root::CurrentUser, "forked", "child", 1) == reg::kSuccess &&
                        store.openKey(Root::CurrentUser, "forked") == reg::kSuccess;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::uint32_t v = 0;
    EXPECT_EQ(store.queryDword(Root::CurrentUser, "forked", "child", v), reg::kSuccess);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(store.setDword(Root::CurrentUser, "forked", "parent", 2), reg::kSuccess);
}

// Threads share one store, and a second store on the same file writes
// alongside them.
TEST_F(RegistryTest, ThreadsAndTwoConnections)
{
    reg::Store a(file_);
    reg::Store b(file_);
    ASSERT_EQ(a.createKey(Root::LocalMachine, "t"), reg::kSuccess);
    constexpr int kPerThread = 50;
    std::vector<std::thread> threads;
    for (int n = 0; n < 4; ++n) {
        reg::Store& store = n % 2 ? b : a;
        threads.emplace_back([&store, n] {
            for (int i = 0; i < kPerThread; ++i) {
                const std::string name = "v" + std::to_string(n) + "_" + std::to_string(i);
                EXPECT_EQ(store.setDword(Root::LocalMachine, "t", name, static_cast<std::uint32_t>(i)), reg::kSuccess);
                std::uint32_t back = 0;
                EXPECT_EQ(store.queryDword(Root::LocalMachine, "T", name, back), reg::kSuccess);
                EXPECT_EQ(back, static_cast<std::uint32_t>(i));
            }
        });
    }
    for (auto& t : threads) t.join();
    std::vector<reg::NamedValue> vals;
    ASSERT_EQ(b.values(Root::LocalMachine, "t", vals), reg::kSuccess);
    EXPECT_EQ(vals.size(), 4u * kPerThread);
}

// Puts an environment variable back as it was.
class SavedEnv {
public:
    explicit SavedEnv(const char* name) : name_(name)
    {
        const char* v = std::getenv(name);
        had_ = v != nullptr;
        if (v) value_ = v;
    }
    ~SavedEnv()
    {
        if (had_) {
            ::setenv(name_, value_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    SavedEnv(const SavedEnv&) = delete;
    SavedEnv& operator=(const SavedEnv&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string value_;
};

TEST_F(RegistryTest, DefaultStoreFollowsEnvironment)
{
    SavedEnv registry("ORVANE_REGISTRY"), xdgHome("XDG_CONFIG_HOME"), home("HOME");
    ::setenv("ORVANE_REGISTRY", file_.c_str(), 1);
    reg::resetDefaultStore();
    EXPECT_EQ(reg::defaultPath(), file_);
    auto store = reg::defaultStore();
    EXPECT_EQ(store->path(), file_);
    EXPECT_EQ(reg::defaultStore(), store) << "one instance until reset";

    const auto other = dir_ / "other.db";
    ::setenv("ORVANE_REGISTRY", other.c_str(), 1);
    EXPECT_EQ(reg::defaultStore()->path(), file_);
    reg::resetDefaultStore();
    EXPECT_EQ(reg::defaultStore()->path(), other);
    EXPECT_EQ(store->createKey(Root::CurrentUser, "still works"), reg::kSuccess);

    ::unsetenv("ORVANE_REGISTRY");
    const auto xdg = dir_ / "xdg";
    ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    EXPECT_EQ(reg::defaultPath(), xdg / "orvane" / "registry.db");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("HOME", dir_.c_str(), 1);
    EXPECT_EQ(reg::defaultPath(), dir_ / ".config" / "orvane" / "registry.db");
    reg::resetDefaultStore();
}

} // namespace
