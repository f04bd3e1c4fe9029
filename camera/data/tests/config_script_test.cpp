// The configuration script: exact file text, round trip, reading rules and
// applying it to a scorer and a camera's LEDs.
#include "camera/config_script.h"
#include "camera/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using Orvane::CameraConfigScript;
using Orvane::CameraLedControl;
using Orvane::TrackableScorer;

namespace {

class FakeLeds : public CameraLedControl {
public:
    bool SetIlluminationLeds(bool on) override { return Set(Illumination, on); }
    bool SetGreenStatus(bool on) override { return Set(Green, on); }
    bool SetRedStatus(bool on) override { return Set(Red, on); }
    bool SetCaseLight(bool on) override { return Set(Case, on); }
    bool Confirm(unsigned expected) override { return state == expected; }

    bool Set(unsigned bit, bool on)
    {
        if (refuse & bit)
            return false;
        if (!(stuck & bit))
            state = on ? (state | bit) : (state & ~bit);
        return true;
    }
    unsigned state = 0;
    unsigned refuse = 0;  // commands the camera does not take
    unsigned stuck = 0;   // taken, but the LED does not change
};

class ConfigScriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Orvane::Settings::ResetToDefaults();
        dir = std::filesystem::temp_directory_path() / ("h8-config-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Path(const char* name) const { return (dir / name).string(); }
    void Write(const char* name, const std::string& text) const { std::ofstream(dir / name) << text; }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::filesystem::path dir;
};

CameraConfigScript Sample()
{
    CameraConfigScript s;
    TrackableScorer scorer;
    s.GetScorerConfig(scorer);
    s.GetProximityScore().best = 0.1;
    s.SetVideoThreshold(87);
    s.SetPulseLeds(true);
    s.SetGreenStatusLedOn(true);
    s.SetIlluminationLedsOn(true);
    s.AddI2cCommand({0x42, 0x10, 0x80});
    return s;
}

TEST_F(ConfigScriptTest, WritesTheFileFormat)
{
    ASSERT_TRUE(Sample().WriteXml(Path("a.xml")));
    EXPECT_EQ(Read(Path("a.xml")),
              "<CameraConfiguration>\n"
              "  <ScorerData>\n"
              "    <objectMass min=\"3\" max=\"200\" best=\"100\" outOfRange=\"-2\" weight=\"1\"/>\n"
              "    <lastTracked min=\"0\" max=\"20\" best=\"0\" outOfRange=\"0\" weight=\"2\"/>\n"
              "    <staticCount min=\"0\" max=\"200\" best=\"0\" outOfRange=\"0\" weight=\"1\"/>\n"
              "    <aspectRatio min=\"0.25\" max=\"4\" best=\"1\" outOfRange=\"0\" weight=\"1\"/>\n"
              "    <proximity min=\"3\" max=\"300\" best=\"0.1\" outOfRange=\"0\" weight=\"1\"/>\n"
              "    <screenCenter min=\"0\" max=\"256\" best=\"0\" outOfRange=\"0\" weight=\"1\"/>\n"
              "  </ScorerData>\n"
              "  <I2cCommandList>\n"
              "    <I2cCommand address=\"0x42\" subAddress=\"0x10\">\n"
              "      <Data>0x80</Data>\n"
              "    </I2cCommand>\n"
              "  </I2cCommandList>\n"
              "  <LEDs green=\"On\" red=\"Off\" case=\"Off\" illumination=\"On\"/>\n"
              "  <CameraOptions threshold=\"87\" invert=\"false\" pulseLeds=\"true\"/>\n"
              "</CameraConfiguration>\n");
    CameraConfigScript back;
    ASSERT_TRUE(back.ReadXml(Path("a.xml"))) << back.GetLastError();
    EXPECT_TRUE(back == Sample());

    CameraConfigScript none;
    ASSERT_TRUE(none.WriteXml(Path("b.xml")));
    EXPECT_EQ(Read(Path("b.xml")).find("I2cCommandList"), std::string::npos);
    ASSERT_TRUE(back.ReadXml(Path("b.xml")));
    EXPECT_TRUE(back.GetI2cCommands().empty());
}

TEST_F(ConfigScriptTest, ReadingRules)
{
    std::string text = Sample().ToXml();
    auto replace = [&](std::string from, std::string to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    Write("lower.xml", replace("green=\"On\"", "green=\"on\""));
    CameraConfigScript s;
    ASSERT_TRUE(s.ReadXml(Path("lower.xml")));
    EXPECT_FALSE(s.GetGreenStatusLedOn());
    EXPECT_TRUE(s.GetIlluminationLedsOn());

    Write("octal.xml", replace("<Data>0x80</Data>", "<Data>010</Data>"));
    ASSERT_TRUE(s.ReadXml(Path("octal.xml")));
    EXPECT_EQ(s.GetI2cCommands().at(0).data, 8);

    // An I2C value that does not fit in its byte is refused with the
    // reason, never cut to its low byte; the script stays as it was.
    const CameraConfigScript octal = s;
    const struct {
        std::string from, to, error;
    } outOfRange[] = {
        {"<Data>0x80</Data>", "<Data>0x180</Data>", "Data 384"},
        {"<Data>0x80</Data>", "<Data>-1</Data>", "Data -1"},
        {"address=\"0x42\"", "address=\"256\"", "address 256"},
        {"subAddress=\"0x10\"", "subAddress=\"0x7FFFFFFF\"", "subAddress 2147483647"},
    };
    for (const auto& c : outOfRange) {
        Write("range.xml", replace(c.from, c.to));
        EXPECT_FALSE(s.ReadXml(Path("range.xml"))) << c.to;
        EXPECT_NE(s.GetLastError().find(c.error), std::string::npos) << s.GetLastError();
        EXPECT_TRUE(s == octal) << c.to;
    }
    for (const char* bad : {"nan", "inf", "-infinity", "1e400"}) {
        Write("score.xml", replace("weight=\"", std::string("weight=\"") + bad + "\" w=\""));
        EXPECT_FALSE(s.ReadXml(Path("score.xml"))) << bad;
        EXPECT_TRUE(s == octal) << bad;
    }
    Write("edge.xml", replace("<Data>0x80</Data>", "<Data>255</Data>"));
    ASSERT_TRUE(s.ReadXml(Path("edge.xml")));
    EXPECT_EQ(s.GetI2cCommands().at(0).data, 255);

    std::string huge = text;
    huge.insert(huge.find("<ScorerData>"), static_cast<std::size_t>(CameraConfigScript::MaxFileBytes), ' ');
    Write("huge.xml", huge);
    EXPECT_FALSE(s.ReadXml(Path("huge.xml")));
    EXPECT_NE(s.GetLastError().find("at most"), std::string::npos) << s.GetLastError();

    const CameraConfigScript before = s;
    const std::size_t start = text.find("    <screenCenter");
    std::string missing = text;
    missing.erase(start, text.find('\n', start) + 1 - start);
    Write("missing.xml", missing);
    EXPECT_FALSE(s.ReadXml(Path("missing.xml")));
    EXPECT_TRUE(s == before);  // a failed read changes nothing

    EXPECT_FALSE(s.ReadXml(Path("absent.xml")));
    EXPECT_EQ(s.GetLastError(), "Cannot open file " + Path("absent.xml"));
    Write("broken.xml", "<CameraConfiguration><ScorerData>");
    EXPECT_FALSE(s.ReadXml(Path("broken.xml")));
    EXPECT_FALSE(s.GetLastError().empty());
}

TEST_F(ConfigScriptTest, ApplyReportsSuccessTruly)
{
    CameraConfigScript script = Sample();
    script.GetObjectMassScore().outOfRange = -5.5;
    script.GetAspectRatioScore().weight = 3.0;
    TrackableScorer scorer;
    FakeLeds leds;
    EXPECT_TRUE(Orvane::ApplyConfiguration(script, scorer, leds));
    EXPECT_EQ(leds.state, CameraLedControl::Illumination | CameraLedControl::Green);
    // Every score keeps its own out-of-range value, whatever the weights.
    EXPECT_DOUBLE_EQ(scorer.GetOutsideRangeValue(TrackableScorer::ObjectMass), -5.5);
    EXPECT_DOUBLE_EQ(scorer.GetWeight(TrackableScorer::AspectRatio), 3.0);
    EXPECT_DOUBLE_EQ(scorer.GetBestValue(TrackableScorer::Proximity), 0.1);
    CameraConfigScript read;
    read.GetScorerConfig(scorer);
    EXPECT_EQ(read.GetScores(), script.GetScores());

    leds.refuse = CameraLedControl::Red;
    EXPECT_FALSE(Orvane::ApplyConfiguration(script, scorer, leds));
    leds.refuse = 0;
    leds.stuck = CameraLedControl::Green;
    leds.state = 0;
    EXPECT_FALSE(Orvane::ApplyConfiguration(script, scorer, leds));

    leds = FakeLeds();
    ASSERT_TRUE(script.WriteXml(Path("apply.xml")));
    CameraConfigScript target;
    EXPECT_TRUE(Orvane::ApplyConfiguration(Path("apply.xml"), target, scorer, leds));
    EXPECT_FALSE(Orvane::ApplyConfiguration(Path("nothing.xml"), target, scorer, leds));
    EXPECT_NE(target.ToString().find("Threshold : 87"), std::string::npos);
}

} // namespace

namespace {

// The device layer's camera as the binding sees it: operations answer -1
// when they do not apply, ReadLeds returns the LED byte.
struct FakeCamera {
    int result = 0;
    unsigned leds = 0;
    int Set(unsigned bit, bool on)
    {
        if (result >= 0)
            leds = on ? (leds | bit) : (leds & ~bit);
        return result;
    }
    int TurnLedOn() { return Set(0x80, true); }
    int TurnLedOff() { return Set(0x80, false); }
    int StatusOn() { return Set(0x20, true); }
    int StatusOff() { return Set(0x20, false); }
    int StatusRedOn() { return Set(0x10, true); }
    int StatusRedOff() { return Set(0x10, false); }
    int StatusCaseOn() { return Set(0x40, true); }
    int StatusCaseOff() { return Set(0x40, false); }
    unsigned char ReadLeds() { return static_cast<unsigned char>(leds | 0x03); }
};

TEST(CameraLedBindingTest, AppliesThroughTheCamerasOperations)
{
    FakeCamera camera;
    Orvane::CameraLedBinding<FakeCamera> leds(camera);
    CameraConfigScript script;
    script.SetCaseLightOn(true);
    script.SetRedStatusLedOn(true);
    EXPECT_TRUE(script.SetLeds(leds));
    EXPECT_EQ(camera.leds, 0x50u);
    camera.result = -1;
    script.SetCaseLightOn(false);
    EXPECT_FALSE(script.SetLeds(leds));
}

} // namespace
