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
