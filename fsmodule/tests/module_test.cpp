#include <gtest/gtest.h>

#include <link.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "engine/VSLEnhanced.h"
#include "fake_simulator.h"
#include "fsmodule/module_interface.h"
#include "testing/temp_registry.h"
#include "testing/temp_session.h"

using namespace std::chrono_literals;
using fake_simulator::Contains;
using fake_simulator::Event;
using fake_simulator::Recorder;
using fsmodule::Word;

namespace {

// Long enough for several view periods (20 ms each).
constexpr auto kQuiet = 120ms;

class ModuleTest : public ::testing::Test {
protected:
    testing_support::TempSession session;
    testing_support::TempRegistry registry;
    fsmodule::SimulatorHost::Table table = fake_simulator::MakeTable();
    std::unique_ptr<fsmodule::SimulatorHost> host;
    FSSetView_t setView = nullptr;
    FSSetViewEx_t setViewEx = nullptr;
    FSSetCustomView_t setCustomView = nullptr;
    FSResetView_t resetView = nullptr;

    void SetUp() override
    {
        Recorder::instance().clear();
        host = std::make_unique<fsmodule::SimulatorHost>(table);
        ASSERT_TRUE(host->Load(FSMODULE_LIBRARY)) << host->error();
        setView = reinterpret_cast<FSSetView_t>(host->symbol("FSSetView"));
        setViewEx = reinterpret_cast<FSSetViewEx_t>(host->symbol("FSSetViewEx"));
        setCustomView = reinterpret_cast<FSSetCustomView_t>(host->symbol("FSSetCustomView"));
        resetView = reinterpret_cast<FSResetView_t>(host->symbol("FSResetView"));
        ASSERT_TRUE(setView && setViewEx && setCustomView && resetView);
    }
    void TearDown() override { host.reset(); }

    void SetLocation(const std::string& folder)
    {
        auto store = registry.store();
        ASSERT_EQ(store->createKey(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey), 0);
        ASSERT_EQ(store->setString(platform::registry::Root::CurrentUser, CVSLEnhanced::kLocationKey, "Path",
                                   std::u16string(folder.begin(), folder.end()) + u"\\"),
                  0);
    }
    static bool Quiet()
    {
        std::this_thread::sleep_for(kQuiet);
        return Recorder::instance().events().empty();
    }
    static bool WaitFor(Event e)
    {
        return Recorder::instance().waitFor([e](const std::vector<Event>& ev) { return Contains(ev, e); });
    }
};

TEST_F(ModuleTest, RecordsAsTheSimulatorFindsThem)
{
    const Word* linkage = host->linkage();
    EXPECT_EQ(linkage[0], 0x13u);
    EXPECT_NE(linkage[1], 0u);
    EXPECT_NE(linkage[2], 0u);
    EXPECT_EQ(linkage[3], 0u);
    EXPECT_EQ(linkage[4], 0u);
    EXPECT_EQ(linkage[5], 0x800u);
    EXPECT_EQ(linkage[7], 0u);
    const Word* fn = host->functionTable();
    EXPECT_EQ(fn[0], 0x320u);
    EXPECT_STREQ(reinterpret_cast<const char*>(fn[fsmodule::kTableName]), "ViewControl");
    EXPECT_EQ(fn[10], 0u);
    EXPECT_EQ(fn[11], 1u);
    const auto* import = static_cast<const Word*>(host->symbol("ImportTable"));
    EXPECT_EQ(import[0], 0x0Fu);
    EXPECT_EQ(import[1], reinterpret_cast<Word>(table.data()));
    EXPECT_EQ(import[2], 0u);
    EXPECT_EQ(import[3], 0u);
    // Only the module interface's names are exported.
    EXPECT_EQ(host->symbol("FSModuleInit"), nullptr);
    EXPECT_EQ(host->symbol("OV_GetData"), nullptr);
}

TEST_F(ModuleTest, ForwardersPassArgumentsAndTheContextWord)
{
    auto* context = reinterpret_cast<Word*>(host->functionTable()[fsmodule::kTableContext]);
    context[0] = 0xC0DE;
    for (std::size_t i = 0; i < fsmodule::kForwardCount; ++i) {
        Recorder::instance().clear();
        const std::size_t entry = fsmodule::kSimForward[i];
        EXPECT_EQ(host->Forward(i, 11, 22), entry);
        const std::vector<Word> args =
            fsmodule::kForwardTakesTwo[i] ? std::vector<Word>{11, 22, 0xC0DE} : std::vector<Word>{11, 0xC0DE};
        EXPECT_EQ(Recorder::instance().calls(), (std::vector<fake_simulator::Call>{{entry, args}})) << i;
    }
    context[0] = 0;

    Recorder::instance().clear();
    auto callback = reinterpret_cast<FSModuleCallback_t>(host->symbol("FSModuleCallback"));
    ASSERT_NE(callback, nullptr);
    callback();
    const auto calls = Recorder::instance().calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].entry, fsmodule::kSimCallback);
    EXPECT_NE(calls[0].args[0], 0u);
}

TEST_F(ModuleTest, ExportsBeforeInitAndWithoutClientLibrary)
{
    EXPECT_EQ(setView(1, 2), 2);
    EXPECT_EQ(setViewEx(1, 2, 3, 4, 5, 6), 2);
    EXPECT_EQ(setCustomView(7, 1), 2);
    EXPECT_EQ(resetView(), 0);

    // No client location: the thread runs, GetData answers 4, the pose
    // sends nothing; only the reset asked for before init goes out.
    host->Init();
    EXPECT_TRUE(WaitFor({fsmodule::kEventReset, 0}));
    // That first period also sent a, b and c (0, against the initial 16383).
    EXPECT_EQ(Recorder::instance().events(),
              (std::vector<Event>{{fsmodule::kEventA, 0}, {fsmodule::kEventB, 0}, {fsmodule::kEventC, 0},
                                  {fsmodule::kEventReset, 0}}));
    Recorder::instance().clear();
    EXPECT_TRUE(Quiet());

    EXPECT_EQ(setView(16384, 0), 1);
    EXPECT_EQ(setView(-16383, 16383), 0);
    EXPECT_TRUE(WaitFor({fsmodule::kEventB, 16383}));
    EXPECT_EQ(Recorder::instance().events(),
              (std::vector<Event>{{fsmodule::kEventA, -16383}, {fsmodule::kEventB, 16383}}));

    Recorder::instance().clear();
    EXPECT_EQ(setCustomView(7, 100), 0);
    EXPECT_EQ(setCustomView(7, 120), 0);
    EXPECT_TRUE(WaitFor({7, 120}));
    EXPECT_FALSE(Contains(Recorder::instance().events(), {7, 100}));

    host->Deinit();
    EXPECT_EQ(setView(1, 2), 2);
}

TEST_F(ModuleTest, ViewFollowsThePublishedPose)
{
    SetLocation(OVCLIENT_DIR);
    CVSLEnhanced link(registry.store());
    link.Start();
    ASSERT_TRUE(link.IsLibraryLoaded());

    host->Init();
    // Registered as a client with its own window, profile 2302, transmitting.
    EXPECT_NE(link.ClientWindow(), 0u);
    EXPECT_TRUE(platform::isWindow(link.ClientWindow()));
    EXPECT_EQ(link.ProfileId(), 2302u);
    EXPECT_EQ(link.RequestFlags(), 119u);
    EXPECT_EQ(link.Transmitting(), 1);
    EXPECT_EQ(platform::findWindow("OVFSWindowClass", nullptr), link.ClientWindow());
    EXPECT_EQ(platform::windowTitle(link.ClientWindow()), "");

    // Yaw and pitch, truncated towards zero; roll and the rest do not matter.
    link.PublishPose(1, 2, 3, 444.0f, -1234.7f, 5678.9f);
    EXPECT_TRUE(WaitFor({fsmodule::kEventA, 5678}));
    EXPECT_TRUE(WaitFor({fsmodule::kEventB, -1234}));
    EXPECT_FALSE(Contains(Recorder::instance().events(), {fsmodule::kEventA, 444}));

    Recorder::instance().clear();
    link.PublishPose(0, 0, 0, 0, 10.5f, -16383.0f);
    EXPECT_TRUE(WaitFor({fsmodule::kEventA, -16383}));
    EXPECT_TRUE(WaitFor({fsmodule::kEventB, 10}));

    // A pose the view cannot take is refused as a whole.
    Recorder::instance().clear();
    link.PublishPose(0, 0, 0, 0, 50.0f, 20000.0f);
    EXPECT_TRUE(Quiet());

    host->Deinit();
    EXPECT_EQ(link.ClientWindow(), 0u);
    EXPECT_EQ(link.Transmitting(), 0);
    link.Stop();
}

TEST_F(ModuleTest, MainProgramAbsent)
{
    SetLocation(OVCLIENT_DIR);
    const auto start = std::chrono::steady_clock::now();
    host->Init();
    EXPECT_TRUE(Quiet());
    EXPECT_EQ(setView(300, 400), 0);
    EXPECT_TRUE(WaitFor({fsmodule::kEventB, 400}));
    host->Deinit();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST_F(ModuleTest, MainProgramGoesAway)
{
    SetLocation(OVCLIENT_DIR);
    CVSLEnhanced link(registry.store());
    link.Start();
    host->Init();
    link.PublishPose(0, 0, 0, 0, 20.0f, 30.0f);
    EXPECT_TRUE(WaitFor({fsmodule::kEventA, 30}));

    link.Stop();
    Recorder::instance().clear();
    // The view keeps its last values; nothing more comes from the pose.
    EXPECT_TRUE(Quiet());
    EXPECT_EQ(setView(31, 20), 0);
    EXPECT_TRUE(WaitFor({fsmodule::kEventA, 31}));

    const auto start = std::chrono::steady_clock::now();
    host->Deinit();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

// Whether the calling thread already has the thread-local block of the
// loaded library whose file name ends in `name`; nullopt when it has none.
std::optional<bool> HasThreadLocalBlock(std::string_view name)
{
    struct Query {
        std::string_view name;
        std::optional<bool> found;
    } query{name, std::nullopt};
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto* q = static_cast<Query*>(data);
            const std::string_view file = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (file.size() < q->name.size() || file.substr(file.size() - q->name.size()) != q->name)
                return 0;
            if (info->dlpi_tls_modid != 0)
                q->found = info->dlpi_tls_data != nullptr;
            return 1;
        },
        &query);
    return query.found;
}

// The libraries' thread-locals sit in static TLS: a thread gets them when it
// starts, never as a block allocated on first use (such blocks are also what
// the address sanitizer's leak check misreads at exit).
TEST_F(ModuleTest, ThreadLocalsOfTheLibrariesAreStatic)
{
    SetLocation(OVCLIENT_DIR);
    host->Init(); // loads OVClient.so
    for (const char* library : {"/Vistrel-2002.so", "/OVClient.so"}) {
        std::optional<bool> has;
        std::thread([&] { has = HasThreadLocalBlock(library); }).join();
        if (has) {
            EXPECT_TRUE(*has) << library;
        }
    }
    host->Deinit();
}

// Another process maps the same view section: what it sets, this
// process's view thread sends.
TEST_F(ModuleTest, AnotherProcessSetsTheView)
{
    const std::string command = std::string(FSMODULE_PEER) + " " + FSMODULE_LIBRARY + " 111 222";
    auto run = [&command] {
        std::string out;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr)
            return out;
        char line[64];
        while (std::fgets(line, sizeof line, pipe) != nullptr)
            out += line;
        ::pclose(pipe);
        return out;
    };
    EXPECT_EQ(run(), "2\n"); // nobody has initialised the module yet
    host->Init();
    EXPECT_EQ(run(), "0\n");
    EXPECT_TRUE(WaitFor({fsmodule::kEventC, 0}));
    EXPECT_EQ(Recorder::instance().events(), (std::vector<Event>{{fsmodule::kEventA, 111}, {fsmodule::kEventB, 222},
                                                                 {fsmodule::kEventC, 0}}));
    host->Deinit();
}

} // namespace
