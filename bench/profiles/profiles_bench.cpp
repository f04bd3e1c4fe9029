// Start-up work of the profiles area: reading every profile file of the
// Profiles folder, and verifying, deciphering and parsing the catalogue.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "camera/xml_utils.h"
#include "platform/crypto.h"
#include "profiles/CatalogueMaker.h"
#include "profiles/GameList.h"
#include "profiles/Profile.h"

namespace fs = std::filesystem;

namespace {

struct TempDir {
    TempDir()
    {
        std::string t = (fs::temp_directory_path() / "profiles-bench-XXXXXX").string();
        if (!mkdtemp(t.data()))
            std::abort();
        path = t;
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

void LoadProfiles(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    TempDir dir;
    std::vector<std::u16string> paths;
    for (int i = 0; i < count; ++i) {
        CProfile p;
        p.Name = u"Profile " + Orvane::XmlUtils::Widen(std::to_string(i)) + u" & notes <x>";
        p.Notes = u"Written for the benchmark.\nSecond line.";
        p.GameIds = {static_cast<std::uint32_t>(1000 + i)};
        p.Smoothing = static_cast<float>(1 + i % 100);
        for (auto& a : p.Axes)
            a.SetCurveType(i % 6);
        p.Path = Orvane::XmlUtils::Widen((dir.path / ("p" + std::to_string(i) + ".xml")).string());
        if (p.Save() != 0)
            state.SkipWithError("save failed");
        paths.push_back(p.Path);
    }
    for (auto _ : state) {
        int loaded = 0;
        for (const auto& path : paths) {
            CProfile p;
            p.Path = path;
            loaded += p.Load() == 0;
        }
        if (loaded != count)
            state.SkipWithError("a profile failed to load");
        benchmark::DoNotOptimize(loaded);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(LoadProfiles)->Arg(200)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

// One profile far beyond any real one: thousands of associated games and
// axis records. Loading grows with the file's size, not its square.
void LoadLargeProfile(benchmark::State& state)
{
    const int entries = static_cast<int>(state.range(0));
    TempDir dir;
    CProfile big;
    big.Name = u"Large";
    for (int i = 0; i < entries; ++i)
        big.GameIds.push_back(static_cast<std::uint32_t>(i));
    big.Path = Orvane::XmlUtils::Widen((dir.path / "large.xml").string());
    // Extra axis records (each later one overwrites the earlier of its
    // type), as an edited or damaged file may hold.
    std::u16string xml = big.ToXml();
    std::u16string axes;
    for (int i = 0; i < entries / 8; ++i)
        axes += u"  <Axis Type=\"" + Orvane::XmlUtils::Widen(std::to_string(i % 6)) + u"\" Enabled=\"1\"></Axis>\n";
    xml.insert(xml.find(u"  <HotKeys"), axes);
    {
        std::ofstream out(dir.path / "large.xml", std::ios::binary);
        for (char16_t c : xml)
            out.put(static_cast<char>(c & 0xFF)).put(static_cast<char>(c >> 8));
    }
    state.counters["bytes"] = static_cast<double>(xml.size() * 2);
    for (auto _ : state) {
        CProfile p;
        p.Path = big.Path;
        if (p.Load() != 0 || p.GameIds.size() != static_cast<std::size_t>(entries))
            state.SkipWithError("the large profile did not load");
        benchmark::DoNotOptimize(p.GameIds.data());
    }
    state.SetComplexityN(entries);
}
BENCHMARK(LoadLargeProfile)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond)->Complexity();

std::vector<std::uint8_t> readAll(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void LoadCatalogue(benchmark::State& state)
{
    TempDir dir;
    const auto priv = platform::crypto::generateRsaKeyPair(2048);
    const auto pub = platform::crypto::RsaPrivateKey::fromBlob(priv)->publicBlob();
    const auto xml = readAll(ORVANE_BENCH_GAMES_XML);
    if (MakeCatalogue(xml, priv, dir.path / "sgl.dat", dir.path / "sgl.sig") != 0)
        state.SkipWithError("cannot make the catalogue");
    for (auto _ : state) {
        CGameList list;
        if (list.Load(dir.path, pub) != 0 || list.GetSize() == 0)
            state.SkipWithError("the catalogue did not load");
        benchmark::DoNotOptimize(list.GetSize());
    }
}
BENCHMARK(LoadCatalogue)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

} // namespace
