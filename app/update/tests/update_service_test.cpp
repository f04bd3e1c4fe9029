#include "app/NewsCheck.h"
#include "app/UpdatePackage.h"
#include "app/UpdateService.h"
#include "app/maker_server.h"
#include "platform/crypto.h"
#include "platform/linked_folder.h"
#include "platform/modules.h"
#include "profiles/CatalogueMaker.h"
#include "profiles/GameList.h"
#include "testing/temp_dir.h"
#include "update_test_data.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <optional>
#include <iterator>
#include <map>


namespace {

class FakeViews final : public CViewLibraryHost {
public:
    std::uint32_t version = 0;
    int reloads = 0;
    std::uint32_t GetViewsVersion() override { return version; }
    void SetViewsEnabled(bool enabled) override { reloads += enabled ? 1 : 0; }
};

// A local server with canned answers per path; the service points at it.
class UpdateServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_.server().Get(R"(/update/news/query_url\.cgi)", [this](const httplib::Request&, httplib::Response& r) {
            // Ends early when the test is over, so the server stops promptly.
            for (int i = 0; i < 300 && hangNews_ && !done_; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::lock_guard guard(lock_);
            r.set_content(newsReply_, "text/xml");
        });
        ASSERT_TRUE(server_.start());
        config_.serviceUrl = server_.base();
        config_.folder = dir_.path();
        config_.cameraSerial = 123456;
        config_.catalogueKey = publicKey();
        config_.connectTimeoutMs = 1000;
        config_.totalTimeoutMs = 2000;
        config_.downloadTimeoutMs = 2000;
    }
    void TearDown() override { done_ = true; }

    std::string reply(int version, const std::string& file, const std::string& minimum = "4.1.000", int status = 1)
    {
        return "<Update><FileID>x</FileID><FileVersion>" + std::to_string(version) + "</FileVersion><DownloadURL>" +
               server_.base() + "/files/" + file + "</DownloadURL><MinimumSoftwareVersion>" + minimum +
               "</MinimumSoftwareVersion><Status>" + std::to_string(status) + "</Status></Update>";
    }
    void serve(const std::string& name, std::span<const std::uint8_t> data) { server_.serve(name, data); }
    void setReplies(std::string sgl, std::string views) { server_.setReplies(std::move(sgl), std::move(views)); }
    void setNews(std::string news)
    {
        std::lock_guard guard(lock_);
        newsReply_ = std::move(news);
    }

    // A catalogue package made with the real catalogue maker, version inside,
    // signed as a catalogue package of `signedVersion` (the version inside
    // unless given).
    std::vector<std::uint8_t> cataloguePackage(int version, const crypto::Bytes& key = privateKey(),
                                               std::optional<std::uint32_t> signedVersion = std::nullopt)
    {
        const CataloguePackage made = MakeCataloguePackage(version, key, signedVersion);
        catalogueData_ = made.data;
        catalogueSig_ = made.signature;
        cataloguePackageSig_ = made.packageSignature;
        return made.package;
    }
    // The version of the catalogue the program would load from the folder.
    int installedCatalogue()
    {
        CGameList list;
        return list.Load(dir_.path(), publicKey()) == 0 ? list.Version : -1;
    }
    void writeOld(const char* name, const std::string& text)
    {
        std::ofstream(dir_.file(name), std::ios::binary) << text;
    }
    std::string contents(const char* name)
    {
        const auto data = readFile(dir_.file(name));
        return {data.begin(), data.end()};
    }

    std::atomic<bool> done_{false};
    std::atomic<bool> hangNews_{false};
    testing_support::TempDir dir_{"h20-update"};
    platform::http::CurlClient client_;
    CUpdateService::Config config_;
    std::mutex lock_;
    std::string newsReply_;
    std::vector<std::uint8_t> catalogueData_, catalogueSig_, cataloguePackageSig_;
    // Last, so it stops before the answers its handlers read go away.
    testing_support::MakerServer server_;
};

TEST_F(UpdateServiceTest, QueriesAreSentByteForByteWithTheAgentAndNoCredentials)
{
    setReplies(reply(1, "a"), reply(1, "b"));
    setNews("<NewsInfo><URLVersion>3</URLVersion><ReplyURL>http://n/3</ReplyURL></NewsInfo>");
    CUpdateService service(client_, config_);
    CUpdateReply r;
    EXPECT_EQ(service.QueryGameListUpdate(5, r), 0);
    EXPECT_EQ(service.QueryUpdates("VIEWMOD", 9, "games", r), 0);
    CNewsReply news;
    EXPECT_EQ(service.QueryNews(news), 0);
    EXPECT_EQ(news.URLVersion, 3);
    EXPECT_EQ(news.ReplyURL, "http://n/3");
    const auto seen = server_.seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].target, "/update/files/queryinfo.cgi?camera_serial=123456&software_version=4.1.037"
                              "&software_type=Vistrel&file_version=5&file_id=SGL&category=0");
    EXPECT_EQ(seen[1].target, "/update/files/queryinfo.cgi?camera_serial=123456&software_version=4.1.037"
                              "&software_type=Vistrel&file_version=9&file_id=VIEWMOD&category=games");
    EXPECT_EQ(seen[2].target, "/update/news/query_url.cgi?camera_serial=123456&software_version=4.1.037"
                              "&software_type=Vistrel&category=0&camera_count=1&operating_system=" +
                                  CurrentOperatingSystemText());
    for (const auto& s : seen) {
        EXPECT_EQ(s.userAgent, "Orvane Vistrel 4.1.037");
        EXPECT_TRUE(s.authorization.empty());
    }
}

TEST_F(UpdateServiceTest, ServiceAddressComesFromTheEnvironment)
{
    ::setenv("ORVANE_SERVICE_URL", server_.base().c_str(), 1);
    CUpdateService::Config config;
    ::unsetenv("ORVANE_SERVICE_URL");
    EXPECT_EQ(config.serviceUrl, server_.base());
    EXPECT_EQ(CUpdateService::Config().serviceUrl, std::string(kDefaultServiceUrl));
    setReplies(reply(1, "a"), "");
    CUpdateReply r;
    EXPECT_EQ(CUpdateService(client_, config).QueryGameListUpdate(0, r), 0);
    EXPECT_EQ(r.FileVersion, 1);
}

TEST_F(UpdateServiceTest, BadRepliesReportClearly)
{
    CUpdateService service(client_, config_);
    CUpdateReply r;
    setReplies(reply(1, "a", "4.1.000", 2), "");
    EXPECT_EQ(service.QueryGameListUpdate(0, r), kErrorBadReply);
    setReplies("<Update><FileVersion>3", "");
    EXPECT_EQ(service.QueryGameListUpdate(0, r), kErrorBadReply);
    setReplies(reply(1, "a"), "");
    server_.setStatus(500);
    EXPECT_EQ(service.QueryGameListUpdate(0, r), kErrorBadReply);
    server_.setStatus(200);

    std::vector<std::uint8_t> data;
    EXPECT_EQ(service.DownloadFile(server_.base() + "/files/none", data), kErrorBadReply);
    EXPECT_EQ(service.DownloadFile("ftp://127.0.0.1/x", data), static_cast<int>(platform::http::kErrorInvalidUrl));
    EXPECT_EQ(service.DownloadFile("http:///x", data), static_cast<int>(platform::http::kErrorInvalidUrl));
    EXPECT_EQ(service.DownloadFile("http://127.0.0.1/a b", data), static_cast<int>(platform::http::kErrorInvalidUrl));

    hangNews_ = true;
    auto slow = config_;
    slow.totalTimeoutMs = 100;
    CNewsReply news;
    EXPECT_EQ(CUpdateService(client_, slow).QueryNews(news), static_cast<int>(platform::http::kErrorTimeout));

    hangNews_ = false;
    server_.stop();
    EXPECT_EQ(service.QueryGameListUpdate(0, r), 1222);
    const CUpdateOutcome outcome = service.CheckGameUpdates(0, *std::make_unique<FakeViews>());
    EXPECT_EQ(outcome.messageId, kMsgUpdateError);
    EXPECT_EQ(outcome.text, "An error occurred while contacting the update server.  The error was:\n\n" +
                                UpdateErrorText(1222));
}

TEST_F(UpdateServiceTest, LongAnswersAreReadWholeAndNewsIsCutNear4096)
{
    server_.server().Get("/chunked", [](const httplib::Request&, httplib::Response& r) {
        r.set_chunked_content_provider("text/xml", [](std::size_t offset, httplib::DataSink& sink) {
            static const std::string body = "<Update><Pad>" + std::string(5000, 'p') +
                                            "</Pad><FileVersion>12</FileVersion></Update>";
            if (offset >= body.size()) {
                sink.done();
                return true;
            }
            const std::size_t n = std::min<std::size_t>(37, body.size() - offset);
            return sink.write(body.data() + offset, n);
        });
    });
    CUpdateService service(client_, config_);
    std::vector<std::uint8_t> data;
    ASSERT_EQ(service.DownloadFile(server_.base() + "/chunked", data), 0);
    CUpdateReply r;
    EXPECT_EQ(ParseUpdateReply(data, r), 0);
    EXPECT_EQ(r.FileVersion, 12);

    // The ReplyURL lies past 4096 bytes: the cut document does not parse.
    setNews("<NewsInfo><URLVersion>3</URLVersion><Pad>" + std::string(5000, 'p') +
            "</Pad><ReplyURL>http://n</ReplyURL></NewsInfo>");
    CNewsReply news;
    news.ReplyURL = "kept";
    EXPECT_EQ(service.QueryNews(news), kErrorBadReply);
    EXPECT_EQ(news.ReplyURL, "kept");
    setNews("<NewsInfo><Pad>" + std::string(3900, 'p') +
            "</Pad><URLVersion>4</URLVersion><ReplyURL>http://n</ReplyURL></NewsInfo>");
    EXPECT_EQ(service.QueryNews(news), 0);
    EXPECT_EQ(news.URLVersion, 4);
    EXPECT_EQ(news.ReplyURL, "http://n");
}

TEST_F(UpdateServiceTest, NewerCatalogueIsInstalledAsAPairAndLoads)
{
    writeOld("sgl.dat", "old data");
    writeOld("sgl.sig", "old sig");
    serve("sgl5.pkg", cataloguePackage(5));
    setReplies(reply(5, "sgl5.pkg"), reply(0, "none"));
    FakeViews views;
    CUpdateService service(client_, config_);
    const CUpdateOutcome outcome = service.CheckGameUpdates(4, views);
    EXPECT_EQ(outcome.messageId, kMsgUpdated) << outcome.text;
    EXPECT_EQ(outcome.text, "Your game support has been updated.  Restart Vistrel to activate the changes.");
    EXPECT_TRUE(outcome.gamesUpdated);
    EXPECT_FALSE(outcome.viewsUpdated);
    // The pair lives in the folder the "catalogue" link names; what the
    // program came with stays as it was.
    const auto current = CurrentCatalogueFolder(dir_.path());
    EXPECT_EQ(current.parent_path(), std::filesystem::canonical(dir_.path()));
    EXPECT_EQ(readFile(current / "sgl.dat"), catalogueData_);
    EXPECT_EQ(readFile(current / "sgl.sig"), catalogueSig_);
    EXPECT_EQ(contents("sgl.dat"), "old data");
    EXPECT_EQ(installedCatalogue(), 5);
    EXPECT_EQ(views.reloads, 0);

    // The next one takes the previous one's place; nothing else is left.
    ASSERT_EQ(service.StoreGameList(cataloguePackage(6)), 0);
    EXPECT_EQ(installedCatalogue(), 6);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "catalogue");
    EXPECT_EQ(names[1], CurrentCatalogueFolder(dir_.path()).filename().string());
    EXPECT_EQ(names[2], "sgl.dat");
    EXPECT_EQ(names[3], "sgl.sig");
}

TEST_F(UpdateServiceTest, CataloguesNotNewerOrNotSignedAsCataloguesAreRefused)
{
    CUpdateService service(client_, config_);
    ASSERT_EQ(service.StoreGameList(cataloguePackage(5)), 0);
    const auto before = CurrentCatalogueFolder(dir_.path());

    const auto older = cataloguePackage(4);
    const auto same = cataloguePackage(5);
    const auto versionLies = cataloguePackage(6, privateKey(), 7u); // says 7, holds 6
    cataloguePackage(6);
    // Signed over the same bytes, but as a view library: not a catalogue.
    const auto asViews = MakePackage({{kRecordGameList, catalogueData_},
                                      {kRecordGameListSignature, catalogueSig_},
                                      {kRecordGameListPackageSignature,
                                       SignPackageFile(CPackageKind::ViewLibrary, 6, catalogueData_, privateKey())}});
    // The loader's signature alone no longer makes a package.
    const auto plainOnly = MakePackage({{kRecordGameList, catalogueData_}, {kRecordGameListSignature, catalogueSig_}});
    struct Case {
        const char* name;
        std::vector<std::uint8_t> package;
        int expected;
    } cases[] = {
        {"older", older, kErrorNotNewer},
        {"the same version", same, kErrorNotNewer},
        {"version signed differs from the data's", versionLies, kErrorBadFormat},
        {"signed as a view library", asViews, kErrorBadSignature},
        {"no package signature", plainOnly, kErrorBadSignature},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(service.StoreGameList(c.package), c.expected);
        EXPECT_EQ(installedCatalogue(), 5);
        EXPECT_EQ(CurrentCatalogueFolder(dir_.path()), before);
    }

    // The reply's unsigned "newer" does not decide: an old package served
    // as version 9 is refused and said so.
    serve("old.pkg", older);
    setReplies(reply(9, "old.pkg"), reply(0, "none"));
    FakeViews views;
    const CUpdateOutcome outcome = service.CheckGameUpdates(5, views);
    EXPECT_EQ(outcome.messageId, kMsgUpdateError);
    EXPECT_EQ(outcome.error, kErrorNotNewer);
    EXPECT_NE(outcome.text.find("not newer than what is installed"), std::string::npos) << outcome.text;
    EXPECT_EQ(installedCatalogue(), 5);
}

// An installed program's updates live in its working folder while the
// catalogue it ships lies elsewhere: the loader takes the update first, and
// an update is judged against what the loader loads.
TEST_F(UpdateServiceTest, AnInstalledProgramsUpdateIsJudgedAgainstTheCatalogueItLoads)
{
    testing_support::TempDir shipped("h20-update-shipped");
    cataloguePackage(5);
    std::ofstream(shipped.file("sgl.dat"), std::ios::binary)
        .write(reinterpret_cast<const char*>(catalogueData_.data()), static_cast<std::streamsize>(catalogueData_.size()));
    std::ofstream(shipped.file("sgl.sig"), std::ios::binary)
        .write(reinterpret_cast<const char*>(catalogueSig_.data()), static_cast<std::streamsize>(catalogueSig_.size()));
    const CCatalogueFolders folders{dir_.path(), shipped.path()};
    auto loads = [&] {
        CGameList list;
        return list.Load(folders, publicKey()) == 0 ? list.Version : -1;
    };
    ASSERT_EQ(loads(), 5);

    config_.shippedCatalogueFolder = shipped.path();
    CUpdateService service(client_, config_);
    EXPECT_EQ(service.StoreGameList(cataloguePackage(4)), kErrorNotNewer);
    EXPECT_EQ(service.StoreGameList(cataloguePackage(5)), kErrorNotNewer);
    EXPECT_FALSE(std::filesystem::exists(dir_.file(kCatalogueUpdateFolder)));
    ASSERT_EQ(service.StoreGameList(cataloguePackage(6)), 0);
    EXPECT_EQ(loads(), 6);
    EXPECT_EQ(service.StoreGameList(cataloguePackage(6)), kErrorNotNewer);
    ASSERT_EQ(service.StoreGameList(cataloguePackage(7)), 0);
    EXPECT_EQ(loads(), 7);

    // An update that no longer loads gives way to the shipped catalogue,
    // and is judged so.
    const auto update = CurrentCatalogueFolder(dir_.path());
    std::ofstream(update / "sgl.sig", std::ios::binary | std::ios::trunc) << "spoiled";
    EXPECT_EQ(loads(), 5);
    ASSERT_EQ(service.StoreGameList(cataloguePackage(6)), 0);
    EXPECT_EQ(loads(), 6);
}

// What a killed update leaves (and what the next start removes), among
// names that only look alike and must stay.
TEST_F(UpdateServiceTest, LeftoversOfKilledUpdatesAreRemovedAndNothingElse)
{
    CUpdateService service(client_, config_);
    ASSERT_EQ(service.StoreGameList(cataloguePackage(5)), 0);
    const std::string views = "views";
    ASSERT_EQ(service.StoreViewLibrary(
                  MakePackage({{kRecordViews, bytes(views)},
                               {kRecordViewsSignature, SignPackageFile(CPackageKind::ViewLibrary, 1, bytes(views), privateKey())}}),
                  0),
              0);
    const std::string catalogue = CurrentCatalogueFolder(dir_.path()).filename().string();
    const std::string viewPair = platform::files::LinkedFolder(dir_.file(kViewLibraryUpdateFolder))->filename().string();
    namespace fs = std::filesystem;
    enum Kind { File, Folder, Link };
    const struct {
        const char* name;
        Kind kind;
        bool leftover;
    } entries[] = {
        {"catalogue.Ab12Cd", Folder, true},
        {"catalogue.zzzzzz", Folder, true},
        {".catalogue.Ab12Cd.link", Link, true},
        {"views.Q1w2E3", Folder, true},
        {".views.Q1w2E3.link", Link, true},
        {".VSLViews.so.Xy12Zz", File, true},
        {".VSLViewsi.so.a1b2c3", File, true},
        // Not of the program's making, or not where it makes them.
        {"catalogue.Ab12C", Folder, false},
        {"catalogue.Ab12Cde", Folder, false},
        {"catalogue.Ab-2Cd", Folder, false},
        {"catalogue.Ab12Cd.bak", Folder, false},
        {"Catalogue.Ab12Cd", Folder, false},
        {"catalogue.Qq12Qq", File, false},
        {".catalogue.Ab12Cd.link2", Link, false},
        {".catalogue.Ab12Cd.link-file", File, false},
        {".views.Zz12Zz.link", File, false}, // a file of that name is not a link the program made
        {"views.Q1w2E", Folder, false},
        {".VSLViews.so.Xy12Z", File, false},
        {".VSLViews.so.Xy12Zz.keep", File, false},
        {"VSLViews.so.Xy12Zz", File, false},
        {".Other.so.Xy12Zz", File, false},
        {"mine", Folder, false},
    };
    for (const auto& e : entries) {
        const fs::path path = dir_.file(e.name);
        if (e.kind == Folder) {
            fs::create_directory(path);
            std::ofstream(path / "sgl.dat") << "x";
        } else if (e.kind == Link) {
            fs::create_directory_symlink(catalogue, path);
        } else {
            std::ofstream(path) << "x";
        }
    }
    std::size_t expected = 0;
    for (const auto& e : entries)
        expected += e.leftover ? 1 : 0;
    EXPECT_EQ(service.RemoveUpdateLeftovers(), expected);
    for (const auto& e : entries) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(fs::symlink_status(dir_.file(e.name)).type() == fs::file_type::not_found, e.leftover);
    }
    // The pairs in use stay, and load.
    EXPECT_EQ(CurrentCatalogueFolder(dir_.path()).filename(), catalogue);
    EXPECT_EQ(installedCatalogue(), 5);
    EXPECT_EQ(platform::files::LinkedFolder(dir_.file(kViewLibraryUpdateFolder))->filename(), viewPair);
    EXPECT_EQ(readFile(ViewLibraryFile(dir_.path(), kViewsFile)), std::vector<std::uint8_t>(views.begin(), views.end()));
    EXPECT_EQ(service.RemoveUpdateLeftovers(), 0u);
}

TEST_F(UpdateServiceTest, SameVersionDownloadsNothingAndTooNewNeedsNewSoftware)
{
    setReplies(reply(4, "sgl.pkg"), reply(0, "none"));
    FakeViews views;
    CUpdateService service(client_, config_);
    CUpdateOutcome outcome = service.CheckGameUpdates(4, views);
    EXPECT_EQ(outcome.messageId, kMsgUpToDate);
    EXPECT_EQ(outcome.text, "Your game list is up to date.");
    for (const auto& s : server_.seen())
        EXPECT_NE(s.target.rfind("/files/", 0), 0u) << s.target;

    setReplies(reply(9, "sgl.pkg", "4.2.000"), reply(0, "none"));
    outcome = service.CheckGameUpdates(4, views);
    EXPECT_EQ(outcome.messageId, kMsgNeedsNewSoftware);
    EXPECT_EQ(outcome.text, "The new games list requires the latest version of Vistrel software.  Download and "
                            "install the latest release of Vistrel.");
}

TEST_F(UpdateServiceTest, BadCataloguePackagesLoseNothing)
{
    writeOld("sgl.dat", "old data");
    writeOld("sgl.sig", "old sig");
    const auto good = cataloguePackage(5);
    auto truncated = good;
    truncated.resize(truncated.size() - 10);
    auto tampered = good;
    tampered[30] ^= 0x55; // inside the catalogue data
    const auto strangerKey = crypto::generateRsaKeyPair(1024);
    const auto otherKey = cataloguePackage(5, strangerKey);
    const auto noSignature = MakePackage({{kRecordGameList, catalogueData_}, {kRecordGameListPackageSignature, cataloguePackageSig_}});
    std::vector<std::uint8_t> badFormat = good;
    badFormat[8] = 2;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> package;
        int expected;
    } cases[] = {{"truncated", truncated, kErrorBadFormat},    {"tampered", tampered, kErrorBadSignature},
                 {"other key", otherKey, kErrorBadSignature}, {"no signature", noSignature, kErrorBadFormat},
                 {"format word 2", badFormat, kErrorBadFormat}, {"empty", {}, kErrorBadFormat}};
    CUpdateService service(client_, config_);
    for (const auto& c : cases) {
        EXPECT_EQ(service.StoreGameList(c.package), c.expected) << c.name;
        EXPECT_EQ(contents("sgl.dat"), "old data") << c.name;
        EXPECT_EQ(contents("sgl.sig"), "old sig") << c.name;
        EXPECT_EQ(CurrentCatalogueFolder(dir_.path()), dir_.path()) << c.name;
    }
    serve("bad.pkg", tampered);
    setReplies(reply(5, "bad.pkg"), reply(0, "none"));
    FakeViews views;
    const CUpdateOutcome outcome = service.CheckGameUpdates(4, views);
    EXPECT_EQ(outcome.messageId, kMsgUpdateError);
    EXPECT_NE(outcome.text.find(UpdateErrorText(kErrorBadSignature)), std::string::npos);
    EXPECT_EQ(contents("sgl.dat"), "old data");

    // A folder that cannot be written reports the file error and keeps the old files.
    std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const int rc = service.StoreGameList(good);
    std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all);
    if (::geteuid() != 0) {
        EXPECT_EQ(rc, 5);
    }
    EXPECT_EQ(installedCatalogue(), rc == 0 ? 5 : -1);
    EXPECT_EQ(contents("sgl.dat"), "old data");
}

TEST_F(UpdateServiceTest, ViewLibraryIsInstalledOnlyWhenSignedAsOneNewerThanTheLoadedOne)
{
    CUpdateService service(client_, config_);
    // An update installed before (version 2): the pair the program loads now.
    const std::string oldViews = "old views", oldInGame = "old in-game";
    ASSERT_EQ(service.StoreViewLibrary(
                  MakePackage({{kRecordViews, bytes(oldViews)},
                               {kRecordViewsSignature, SignPackageFile(CPackageKind::ViewLibrary, 2, bytes(oldViews), privateKey())},
                               {kRecordViewsInGame, bytes(oldInGame)},
                               {kRecordViewsInGameSignature,
                                SignPackageFile(CPackageKind::ViewLibraryInGame, 2, bytes(oldInGame), privateKey())}}),
                  0),
              0);
    // The files the program loads for "VSLViews.dll" and "VSLViewsi.dll".
    auto loaded = [&](const char* name) {
        const auto data = readFile(ViewLibraryFile(dir_.path(), name));
        return std::string(data.begin(), data.end());
    };
    auto old = [&] { return loaded(kViewsFile) == oldViews; };
    const auto pairBefore = platform::files::LinkedFolder(dir_.file(kViewLibraryUpdateFolder));
    ASSERT_TRUE(pairBefore.has_value());
    EXPECT_EQ(ViewLibraryFile(dir_.path(), kViewsFile), *pairBefore / "VSLViews.so");
    EXPECT_EQ(ViewLibraryFile(dir_.path(), "vslviewsi.DLL"), *pairBefore / "VSLViewsi.so");
    ASSERT_TRUE(old());
    const std::string views = "new views code", inGame = "new in-game code";
    auto signViews = [&](std::uint32_t version, CPackageKind kind = CPackageKind::ViewLibrary,
                         const crypto::Bytes& key = privateKey()) { return SignPackageFile(kind, version, bytes(views), key); };
    auto signInGame = [&](std::uint32_t version, CPackageKind kind = CPackageKind::ViewLibraryInGame) {
        return SignPackageFile(kind, version, bytes(inGame), privateKey());
    };
    const auto viewsSig = signViews(4), inGameSig = signInGame(4);
    const auto strangerSig = signViews(4, CPackageKind::ViewLibrary, crypto::generateRsaKeyPair(1024));
    // Records hold spans: every signature is kept for the whole test.
    const auto asCatalogue = signViews(4, CPackageKind::GameList);
    const auto asInGame = signViews(4, CPackageKind::ViewLibraryInGame);
    const auto plainSig = sign(bytes(views));
    const auto inGame5 = signInGame(5);
    const auto views3 = signViews(3), views2 = signViews(2);
    struct Case {
        const char* name;
        std::vector<CPackageRecord> records;
        int expected;
    } refused[] = {
        {"unsigned", {{kRecordViews, bytes(views)}, {kRecordViewsInGame, bytes(inGame)}}, kErrorBadSignature},
        {"one file unsigned", {{kRecordViews, bytes(views)}, {kRecordViewsSignature, viewsSig}, {kRecordViewsInGame, bytes(inGame)}},
         kErrorBadSignature},
        {"signature of the other file", {{kRecordViews, bytes(views)}, {kRecordViewsSignature, inGameSig}}, kErrorBadSignature},
        {"another key", {{kRecordViews, bytes(views)}, {kRecordViewsSignature, strangerSig}}, kErrorBadSignature},
        {"signed as a catalogue", {{kRecordViews, bytes(views)}, {kRecordViewsSignature, asCatalogue}},
         kErrorBadSignature},
        {"the library signed as the in-game module",
         {{kRecordViews, bytes(views)}, {kRecordViewsSignature, asInGame}},
         kErrorBadSignature},
        {"a catalogue's plain signature", {{kRecordViews, bytes(views)}, {kRecordViewsSignature, plainSig}},
         kErrorBadSignature},
        {"files of two versions",
         {{kRecordViews, bytes(views)}, {kRecordViewsSignature, viewsSig}, {kRecordViewsInGame, bytes(inGame)},
          {kRecordViewsInGameSignature, inGame5}},
         kErrorBadFormat},
        {"as old as the loaded one", {{kRecordViews, bytes(views)}, {kRecordViewsSignature, views3}}, kErrorNotNewer},
        {"older than the loaded one", {{kRecordViews, bytes(views)}, {kRecordViewsSignature, views2}}, kErrorNotNewer},
        {"no library", {{kRecordGameList, bytes(views)}}, kErrorBadFormat},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(service.StoreViewLibrary(MakePackage(c.records), 3), c.expected);
        EXPECT_TRUE(old());
        EXPECT_EQ(loaded(kViewsInGameFile), oldInGame);
        EXPECT_EQ(platform::files::LinkedFolder(dir_.file(kViewLibraryUpdateFolder)), pairBefore);
    }

    // Through the whole update: unsigned is refused, no reload; one whose
    // reply says newer but whose signed version is not is refused too.
    FakeViews host;
    host.version = 3;
    serve("views-unsigned.pkg", MakePackage(refused[0].records));
    setReplies(reply(0, "none"), reply(4, "views-unsigned.pkg"));
    CUpdateOutcome outcome = service.CheckGameUpdates(0, host);
    EXPECT_EQ(outcome.messageId, kMsgUpdateError);
    EXPECT_EQ(outcome.error, kErrorBadSignature);
    serve("views-old.pkg", MakePackage(refused[8].records));
    setReplies(reply(0, "none"), reply(9, "views-old.pkg"));
    outcome = service.CheckGameUpdates(0, host);
    EXPECT_EQ(outcome.error, kErrorNotNewer);
    EXPECT_EQ(host.reloads, 0);

    serve("views.pkg", MakePackage({{kRecordViews, bytes(views)}, {kRecordViewsSignature, viewsSig},
                                    {kRecordViewsInGame, bytes(inGame)}, {kRecordViewsInGameSignature, inGameSig}}));
    setReplies(reply(0, "none"), reply(4, "views.pkg"));
    outcome = service.CheckGameUpdates(0, host);
    EXPECT_EQ(outcome.messageId, kMsgUpdated) << outcome.text;
    EXPECT_TRUE(outcome.viewsUpdated);
    EXPECT_EQ(host.reloads, 1);
    // A new folder holds the new pair; the loaded one's folder stays until
    // the next start, as the running library may still use its module.
    const auto pairAfter = platform::files::LinkedFolder(dir_.file(kViewLibraryUpdateFolder));
    ASSERT_TRUE(pairAfter.has_value());
    EXPECT_NE(pairAfter, pairBefore);
    EXPECT_EQ(loaded(kViewsFile), views);
    EXPECT_EQ(loaded(kViewsInGameFile), inGame);
    EXPECT_FALSE(std::filesystem::exists(*pairAfter / kViewsFile));
    EXPECT_TRUE(std::filesystem::exists(*pairBefore / "VSLViews.so"));
    EXPECT_EQ(service.RemoveUpdateLeftovers(), 1u);
    EXPECT_FALSE(std::filesystem::exists(*pairBefore));
    EXPECT_EQ(loaded(kViewsFile), views);

    // A package of one file keeps the other of the pair in use.
    const std::string views5 = "views five";
    ASSERT_EQ(service.StoreViewLibrary(
                  MakePackage({{kRecordViews, bytes(views5)},
                               {kRecordViewsSignature, SignPackageFile(CPackageKind::ViewLibrary, 5, bytes(views5), privateKey())}}),
                  4),
              0);
    EXPECT_EQ(loaded(kViewsFile), views5);
    EXPECT_EQ(loaded(kViewsInGameFile), inGame);

    // Installed version equal, or above as unsigned: nothing is fetched.
    host.version = 4;
    bool updated = true;
    EXPECT_EQ(service.UpdateViewLibrary(updated, host), 0);
    EXPECT_FALSE(updated);
    host.version = 0x80000000u;
    setReplies(reply(0, "none"), reply(5, "views.pkg"));
    EXPECT_EQ(service.UpdateViewLibrary(updated, host), 0);
    EXPECT_FALSE(updated);
    EXPECT_EQ(host.reloads, 1);
}

TEST_F(UpdateServiceTest, AnInstalledViewLibraryIsTheOneTheModuleLoaderLoads)
{
    // A real library (version 7), downloaded and installed, then loaded by
    // the name the program loads the view library by.
    const auto library = readFile(TEST_VIEWS_LIBRARY);
    ASSERT_FALSE(library.empty());
    CUpdateService service(client_, config_);
    ASSERT_EQ(service.StoreViewLibrary(MakePackage({{kRecordViews, library},
                                                    {kRecordViewsSignature,
                                                     SignPackageFile(CPackageKind::ViewLibrary, 7, library, privateKey())}}),
                                       0),
              0);
    // As the camera thread loads it.
    const auto module = platform::Module::load(ViewLibraryFile(dir_.path(), kViewsFile).string());
    ASSERT_TRUE(module.has_value());
    const auto version = module->function<int (*)()>("VSLViewsVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 7);
}

TEST_F(UpdateServiceTest, DeleteTempFilesRemovesOnlyTheViewTemporaries)
{
    for (const char* name : {"VMI1.TMP", "vmi2.tmp", "VMIabc.tmp", "keep.tmp", "VMI1.dat", "sgl.dat"})
        writeOld(name, "x");
    CUpdateService(client_, config_).DeleteTempFiles();
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"VMI1.dat", "keep.tmp", "sgl.dat"}));
}

TEST_F(UpdateServiceTest, NewsThreadAnnouncesOnlyNewerNewsAndIsJoined)
{
    setNews("<NewsInfo><URLVersion>5</URLVersion><ReplyURL>http://n/5</ReplyURL></NewsInfo>");
    CUpdateService service(client_, config_);
    std::atomic<std::int32_t> last{5};
    std::mutex seenLock;
    std::vector<CNewsReply> announced;
    {
        CNewsCheck check(service, [&] { return last.load(); },
                         [&](const CNewsReply& r) {
                             std::lock_guard guard(seenLock);
                             announced.push_back(r);
                         });
        ASSERT_TRUE(check.Start());
        check.Join();
        EXPECT_TRUE(announced.empty()); // equal version: no question
        last = 4;
        ASSERT_TRUE(check.Start());
        check.Join();
        ASSERT_EQ(announced.size(), 1u);
        EXPECT_EQ(announced[0].URLVersion, 5);
        EXPECT_EQ(announced[0].ReplyURL, "http://n/5");
        EXPECT_FALSE(check.Running());
    }

    // A hanging server: the destructor's join is bounded by the time-out.
    hangNews_ = true;
    auto slow = config_;
    slow.totalTimeoutMs = 150;
    CUpdateService hanging(client_, slow);
    const auto start = std::chrono::steady_clock::now();
    {
        CNewsCheck check(hanging, [] { return 0; }, [&](const CNewsReply&) { ADD_FAILURE(); });
        ASSERT_TRUE(check.Start());
        EXPECT_FALSE(check.Start()); // one at a time
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

} // namespace
