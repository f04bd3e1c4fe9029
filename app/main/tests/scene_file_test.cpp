// The simulated camera's scene file as a user checking a set-up meets it: a
// file the program cannot read or understand is told on standard error,
// naming the file (and the line), without any debug output asked for; the
// camera then shows its default scene, and the head is tracked.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include <sys/stat.h>

#include "testing/temp_dir.h"
#include "testing/vistrel_process.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct SceneCase {
    const char* name;
    // Text of the program's own scene file (empty: none is written).
    std::string text;
    // Or another file to name, made in `dir`; returns its path.
    std::function<fs::path(const fs::path& dir)> other;
    // What follows the file's path in the line on standard error.
    std::string told;
    friend void PrintTo(const SceneCase& c, std::ostream* out) { *out << c.name; }
};

class UnreadableScene : public ::testing::TestWithParam<SceneCase> {};

TEST_P(UnreadableScene, IsToldOnStandardErrorAndTheDefaultSceneShown)
{
    const SceneCase& c = GetParam();
    testing_support::TempDir dir("scene-file");
    auto options = testing_support::ProgramOptions();
    options.unset = {"ORVANE_DEBUG"};
    options.separateErrors = true;
    options.scene = c.text;
    fs::path file;
    if (c.other) {
        file = c.other(dir.path());
        options.env.push_back({"ORVANE_SIMCAM_SCENE", file.string()});
    }
    testing_support::VistrelProcess program(options);
    ASSERT_TRUE(program.ready()) << program.output();
    if (!c.other)
        file = program.root() / "scene.txt";
    // One line names the file (and, for a file that was read, the line and
    // the fault) and says what is shown instead.
    const std::string told = c.other ? "Simulated camera: cannot read " + file.string() + ": "
                                     : "Simulated camera: " + file.string() + ", " + c.told;
    const std::string errors = program.errors();
    const std::size_t at = errors.find(told);
    ASSERT_NE(at, std::string::npos) << errors;
    const std::string line = errors.substr(at, errors.find('\n', at) - at);
    EXPECT_TRUE(line.ends_with("; the default scene is shown.")) << line;
    // The scripted head of the default scene is tracked.
    EXPECT_TRUE(testing_support::WaitUntil(
        [&] { return program.output().find("vistrel: camera running, head tracked\n") != std::string::npos; }, 30s))
        << program.output();
    EXPECT_EQ(program.stop(), 0) << program.output();
    EXPECT_EQ(program.output().find("Status bar: "), std::string::npos) << "no debug output was asked for";
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnreadableScene,
    ::testing::Values(
        SceneCase{"Missing", "", [](const fs::path& dir) { return dir / "no-such-scene.txt"; }, ""},
        SceneCase{"AFolder", "", [](const fs::path& dir) { return dir; }, ""},
        SceneCase{"AFifo", "",
                  [](const fs::path& dir) {
                      const fs::path fifo = dir / "scene-fifo";
                      ::mkfifo(fifo.c_str(), 0600);
                      return fifo;
                  },
                  ""},
        SceneCase{"ABadValue", "motion still\npose 20 -10\n", nullptr, "line 2: bad value for pose: \"20 -10\""},
        SceneCase{"AnUnknownKey", "revision 8\n\nspin fast\n", nullptr, "line 3: unknown key \"spin\""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
