// Every operation's frames per hardware revision, against the simulated
// camera's log; and the reads through the simulated camera.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "camera_fixture.h"

using namespace camera_test;
using Orvane::Camera;

namespace {

const int kRevisions[] = {5, 6, 7, 8, 9, 12, 13};

struct Case {
    const char* name;
    std::function<int(Camera&)> op;
    // Revision -> frames; revisions not listed return -1 and send nothing.
    std::map<int, std::vector<Bytes>> frames;
};

std::map<int, std::vector<Bytes>> every(std::vector<Bytes> f)
{
    std::map<int, std::vector<Bytes>> m;
    for (int r : kRevisions)
        m[r] = f;
    return m;
}

std::map<int, std::vector<Bytes>> only(std::initializer_list<int> revs, std::vector<Bytes> f)
{
    std::map<int, std::vector<Bytes>> m;
    for (int r : revs)
        m[r] = f;
    return m;
}

std::vector<Case> cases()
{
    const Bytes off{0x14, 0x01}, on{0x14, 0x00}, fifo{0x12};
    std::vector<Case> c = {
        {"TurnLedOn", [](Camera& k) { return k.TurnLedOn(); }, every({{0x10, 0x80, 0x80}})},
        {"TurnLedOff", [](Camera& k) { return k.TurnLedOff(); }, every({{0x10, 0x00, 0x80}})},
        {"StatusOn", [](Camera& k) { return k.StatusOn(); }, every({{0x10, 0x20, 0x20}})},
        {"StatusOff", [](Camera& k) { return k.StatusOff(); }, every({{0x10, 0x00, 0x20}})},
        {"StatusCaseOn", [](Camera& k) { return k.StatusCaseOn(); }, every({{0x10, 0x40, 0x40}})},
        {"StatusCaseOff", [](Camera& k) { return k.StatusCaseOff(); }, every({{0x10, 0x00, 0x40}})},
        {"StatusRedOn", [](Camera& k) { return k.StatusRedOn(); }, every({{0x10, 0x10, 0x10}})},
        {"StatusRedOff", [](Camera& k) { return k.StatusRedOff(); }, every({{0x10, 0x00, 0x10}})},
        {"SetIRLEDBrightness", [](Camera& k) { return k.SetIRLEDBrightness(0x70); }, every({{0x10, 0, 2, 0, 0x70}})},
        {"TurnNumericOn", [](Camera& k) { return k.TurnNumericOn(7); }, every({{0x1E, 1, 7}})},
        {"TurnNumericOff", [](Camera& k) { return k.TurnNumericOff(); }, every({{0x1E, 2, 0}})},
        {"ShutDown", [](Camera& k) { return k.ShutDown(); }, every({{0x13}})},
        {"ResetFiFo", [](Camera& k) { return k.ResetFiFo(); }, every({fifo})},
        {"TurnVideoOn", [](Camera& k) { return k.TurnVideoOn(); }, every({on})},
        {"TurnVideoOff", [](Camera& k) { return k.TurnVideoOff(); }, every({off})},
        {"SetCameraOptions", [](Camera& k) { return k.SetCameraOptions(120, true, false); }, every({{0x15, 120, 0, 0}})},
        {"SetCameraOptionsPlain", [](Camera& k) { return k.SetCameraOptions(300, false, true); },
         every({{0x15, 44, 1, 1}})},
        {"InitFpgaForConfig", [](Camera& k) { return k.InitFpgaForConfig(); }, every({{0x1B}})},
        {"SendFpgaRerunConfigScript", [](Camera& k) { return k.SendFpgaRerunConfigScript(); }, every({{0x20}})},
        {"FPGARegWrite", [](Camera& k) { return k.FPGARegWrite(21, 16, 0x9019); }, every({{0x19, 21, 16, 0x90, 0x19}})},
        {"WriteI2CData", [](Camera& k) { return k.WriteI2CData(64, 3, 9); }, every({{0x40, 64, 3, 9}})},
        {"WriteI2CDataNoLock",
         [](Camera& k) {
             k.SetI2CAddress(64), k.SetI2CSubAddress(1), k.SetI2CData(2);
             return k.WriteI2CDataNoLock();
         },
         every({{0x23, 64, 1, 2, 0, 0}})},
        {"WriteI2CDataNoLockSafe",
         [](Camera& k) {
             k.SetI2CAddress(144), k.SetI2CSubAddress(11), k.SetI2CData(1);
             return k.WriteI2CDataNoLockSafe();
         },
         every({{0x23, 144, 11, 1, 1, 0x3C}})},
        {"WriteI2CDataU16NoLockSafe",
         [](Camera& k) {
             k.SetI2CAddress(144), k.SetI2CSubAddress(11), k.SetI2CData(1), k.SetI2CData2(0x2C);
             return k.WriteI2CDataU16NoLockSafe();
         },
         every({{0x26, 144, 11, 1, 0x2C, 0x3C}})},
        {"WriteEEPROM16Data", [](Camera& k) { return k.WriteEEPROM16Data(1, 2, 3); }, every({{0x42, 1, 2, 3}})},
        {"ReadEEPROM16Data", [](Camera& k) { return k.ReadEEPROM16Data(1, 2, 0); }, every({{0x43, 1, 2}})},
        {"Unlock", [](Camera& k) { return k.Unlock(1); }, every({{0x18, 0x4F, 0x56, 0x4C, 1}})},
        {"SetIntensity13",
         [](Camera& k) { return k.SetIntensity(13); },
         {{7, {{0x19, 4, 15, 0, 13}}}, {8, {{0x19, 4, 15, 0, 13}}}, {12, {{0x19, 4, 15, 0, 13}}},
          {9, {{0x10, 0, 2, 0, 0xD0}}}}},
        {"SetIntensity12",
         [](Camera& k) { return k.SetIntensity(12); },
         {{6, {{0x19, 4, 15, 0, 12}}}, {7, {{0x19, 4, 15, 0, 12}}}, {8, {{0x19, 4, 15, 0, 12}}},
          {12, {{0x19, 4, 15, 0, 12}}}, {9, {{0x10, 0, 2, 0, 0xC0}}}}},
        {"SetFrameRate60",
         [](Camera& k) { return k.SetFrameRate(60); },
         {{6, {{0x23, 64, 0, 0x88, 0, 0}}}, {7, {{0x19, 32, 16, 0, 100}}}, {8, {{0x19, 32, 16, 0, 100}}},
          {12, {{0x19, 32, 16, 0, 100}}}, {9, {}}}},
        {"SetFrameRate20",
         [](Camera& k) { return k.SetFrameRate(20); },
         {{6, {{0x23, 64, 0, 0xA8, 0, 0}}}, {7, {{0x19, 32, 16, 0, 25}}}, {8, {{0x19, 32, 16, 0, 25}}},
          {12, {{0x19, 32, 16, 0, 25}}}, {9, {}}}},
        {"SetFrameRate101", [](Camera& k) { return k.SetFrameRate(101); }, only({6, 7, 8, 9, 12}, {})},
        // Revision 6 rewrites register 0 with the frame-rate code, 5 since SetFrameRate(20).
        {"SetExposure300",
         [](Camera& k) { return k.SetExposure(300); },
         {{6, {{0x23, 64, 28, 44, 0, 0}, {0x23, 64, 29, 1, 0, 0}, {0x23, 64, 0, 0xAC, 0, 0}}},
          {7, {{0x23, 144, 11, 1, 1, 0x3C}, {0x23, 144, 240, 44, 1, 0x3C}}},
          {8, {{0x23, 144, 11, 1, 1, 0x3C}, {0x23, 144, 240, 44, 1, 0x3C}}},
          {9, {{0x23, 66, 8, 1, 0, 0}, {0x23, 66, 16, 44, 0, 0}}},
          {12, {{0x26, 144, 11, 1, 44, 0x3C}}}}},
        {"SetVideoType1",
         [](Camera& k) { return k.SetVideoType(1); },
         {{6, {off, {0x19, 3, 15, 0, 1}, fifo}}, {7, {off, {0x19, 3, 15, 0, 1}, fifo}},
          {8, {off, {0x19, 3, 15, 0, 1}, fifo}}, {12, {off, {0x19, 3, 15, 0, 1}, fifo}},
          {9, {off, {0x19, 3, 16, 0, 3}, fifo}}}},
        {"SetResetFrameCount", [](Camera& k) { return k.SetResetFrameCount(); }, only({6, 7, 8, 12}, {{0x19, 6, 15, 0, 1}})},
        {"SetCameraId42", [](Camera& k) { return k.SetCameraId(42); }, only({6, 7, 8, 12}, {{0x19, 7, 15, 0, 42}})},
        {"SetCameraId150", [](Camera& k) { return k.SetCameraId(150); }, only({6, 7, 8, 12}, {})},
        {"SetMinimumSegmentLength",
         [](Camera& k) { return k.SetMinimumSegmentLength(3); },
         {{6, {{0x19, 14, 15, 0, 3}}}, {7, {{0x19, 14, 15, 0, 3}}}, {8, {{0x19, 14, 15, 0, 3}}},
          {12, {{0x19, 14, 15, 0, 3}}}, {9, {{0x19, 6, 16, 0, 3}}}}},
        {"SetMaximumSegmentLength",
         [](Camera& k) { return k.SetMaximumSegmentLength(511); },
         {{6, {{0x19, 15, 15, 1, 0xFF}}}, {7, {{0x19, 15, 15, 1, 0xFF}}}, {8, {{0x19, 15, 15, 1, 0xFF}}},
          {12, {{0x19, 15, 15, 1, 0xFF}}}, {9, {{0x19, 7, 16, 1, 0xFF}}}}},
        {"SetWindowExtentsX", [](Camera& k) { return k.SetWindowExtentsX(74); }, only({6, 7, 8, 12}, {{0x19, 8, 15, 0, 74}})},
        {"SetWindowExtentsXEnd", [](Camera& k) { return k.SetWindowExtentsXEnd(427); },
         only({6, 7, 8, 12}, {{0x19, 9, 15, 1, 0xAB}})},
        {"SetWindowExtentsY", [](Camera& k) { return k.SetWindowExtentsY(11); }, only({6, 7, 8, 12}, {{0x19, 10, 15, 0, 11}})},
        {"SetWindowExtentsYEnd", [](Camera& k) { return k.SetWindowExtentsYEnd(299); },
         only({6, 7, 8, 12}, {{0x19, 11, 15, 1, 0x2B}})},
        {"SetFrameDecimation", [](Camera& k) { return k.SetFrameDecimation(2); }, only({6, 7, 8, 12}, {{0x19, 12, 15, 0, 2}})},
    };
    return c;
}

// The unchecked settings write on their revisions and send nothing elsewhere.
struct Unchecked {
    const char* name;
    std::function<void(Camera&)> op;
    std::map<int, std::vector<Bytes>> frames;
};

std::vector<Unchecked> unchecked()
{
    // In this order: the snapshot writes do not store the control byte.
    return {
        {"TriggerSnapshot", [](Camera& k) { k.TriggerSnapshot(); }, every({{0x19, 20, 15, 0, 8}})},
        {"ResetSnapshotID", [](Camera& k) { k.ResetSnapshotID(); }, every({{0x19, 20, 15, 0, 0x10}})},
        {"SensorClockForceEnable", [](Camera& k) { k.SensorClockForceEnable(true); },
         only({7, 12}, {{0x19, 20, 15, 0, 1}})},
        {"SetSyncMode", [](Camera& k) { k.SetSyncMode(3); }, only({7, 12}, {{0x19, 20, 15, 0, 7}})},
        {"SetShutterDelay", [](Camera& k) { k.SetShutterDelay(300); }, only({7, 12}, {{0x19, 19, 15, 1, 44}})},
        {"SetGrayscaleDecimation", [](Camera& k) { k.SetGrayscaleDecimation(2); },
         only({7, 8, 12}, {{0x19, 24, 15, 0, 2}})},
    };
}

} // namespace

TEST(CameraOperations, FramesPerOperationAndRevision)
{
    for (int rev : kRevisions) {
        SimCamera sim(revision(rev));
        for (const auto& c : cases()) {
            sim.device->clearLog();
            int result = c.op(*sim.camera);
            sim.camera->Sync();
            auto it = c.frames.find(rev);
            if (it == c.frames.end()) {
                EXPECT_EQ(result, -1) << c.name << " on revision " << rev;
                EXPECT_TRUE(sim.frames().empty()) << c.name << " on revision " << rev;
            } else {
                EXPECT_EQ(result, 0) << c.name << " on revision " << rev;
                EXPECT_EQ(sim.frames(), it->second) << c.name << " on revision " << rev;
            }
        }
        for (const auto& u : unchecked()) {
            sim.device->clearLog();
            u.op(*sim.camera);
            sim.camera->Sync();
            auto it = u.frames.find(rev);
            EXPECT_EQ(sim.frames(), it == u.frames.end() ? std::vector<Bytes>{} : it->second)
                << u.name << " on revision " << rev;
        }
    }
}

TEST(CameraOperations, ReadsGoThroughTheCamera)
{
    // Exposure defaults as the simulated camera holds them, per revision.
    const std::map<int, int> exposure = {{6, 399}, {7, 55}, {8, 30}, {9, 479}, {12, 26}};
    for (int rev : kRevisions) {
        SimCamera sim(revision(rev));
        Camera& k = *sim.camera;
        auto e = exposure.find(rev);
        EXPECT_EQ(k.GetExposure(), e == exposure.end() ? -1 : e->second) << rev;
        EXPECT_EQ(k.GetExposureDefault(), e == exposure.end() ? -1 : e->second) << rev;
        if (e != exposure.end()) {
            k.SetExposure(300);
            EXPECT_EQ(k.GetExposure(), 300) << rev;
        }
        bool framed = rev == 6 || rev == 7 || rev == 8 || rev == 12;
        k.FPGARegWrite(7, 15, 42);
        EXPECT_EQ(k.GetCameraId(), framed ? 42 : -1);
        EXPECT_EQ(k.GetFrameRate(), framed ? 100 : -1) << rev;
        EXPECT_EQ(k.GetIntensity(), rev == 9 ? 10 : framed ? k.GetIntensityDefault() : -1) << rev;
        EXPECT_EQ(k.ValidDaxtel7(), rev == 7);
    }
}

TEST(CameraOperations, RevisionSixFrameRateCodes)
{
    SimCamera sim(revision(6));
    const int rates[] = {100, 66, 50, 40, 33, 20, 16, 13, 10, 6, 3};
    for (int code = 0; code <= 15; ++code) {
        sim.device->setI2c(64, 0, (code << 3) | 0x80);
        EXPECT_EQ(sim.camera->GetFrameRate(), code <= 10 ? rates[code] : -1) << code;
        EXPECT_EQ(sim.camera->GetFrameRateCode(), code);
    }
    // Set and get meet again: 60 fps is code 1, read back as 66.
    sim.camera->SetFrameRate(60);
    EXPECT_EQ(sim.camera->GetFrameRate(), 66);
}

TEST(CameraOperations, RegisterAndI2cReadsTakeTheirReplyBytes)
{
    SimCamera sim;
    Camera& k = *sim.camera;
    sim.device->setReg(16, 5, 0x1234);
    unsigned v = 0;
    EXPECT_TRUE(k.FPGARegRead(5, &v));
    EXPECT_EQ(v, 0x1234u);
    sim.device->setI2c(112, 0, 23);
    EXPECT_TRUE(k.ReadI2CData(112, 0, &v));
    EXPECT_EQ(v, 23u);
    EXPECT_EQ(sim.frames().back(), (Bytes{0x41, 112, 0}));
    EXPECT_TRUE(k.ReadI2CDataNoLock(112, 0, &v));
    EXPECT_EQ(sim.frames().back(), (Bytes{0x24, 112, 0, 0, 0}));
    EXPECT_TRUE(k.ReadI2CDataNoLockSafe(112, 0, &v));
    EXPECT_EQ(sim.frames().back(), (Bytes{0x24, 112, 0, 1, 0x3C}));
    sim.device->setI2c16(144, 11, 0xBEEF);
    EXPECT_TRUE(k.ReadI2CDataU16NoLockSafe(144, 11, &v));
    EXPECT_EQ(v, 0xBEEFu);
    EXPECT_EQ(sim.frames().back(), (Bytes{0x27, 144, 11, 0x14}));
    k.SetSyncMode(2);
    EXPECT_EQ(k.GetSyncMode(), 2);
}

TEST(CameraOperations, StatusAndLeds)
{
    simcam::Model m;
    m.fpga = simcam::FpgaStart::Running;
    m.fpgaChecksum = 0xABCD;
    SimCamera sim(m);
    Camera& k = *sim.camera;
    _OV_RESERVED s{};
    ASSERT_TRUE(k.ReadCameraStatus(&s));
    EXPECT_EQ(s.configured, 1);
    EXPECT_EQ(s.checksum[0], 0xAB);
    EXPECT_EQ(s.checksum[1], 0xCD);
    EXPECT_EQ(s.fpgaState, 2);
    EXPECT_EQ(sim.frames().back(), (Bytes{0x1D}));

    k.TurnLedOn();
    k.StatusCaseOn();
    EXPECT_EQ(k.ReadLeds(), 0xC0);
    k.InitFpgaForConfig();  // clears the cache
    k.TurnLedOn();
    k.StatusCaseOn();
    EXPECT_EQ(k.ReadLeds(), 0xC0);
    EXPECT_EQ(sim.device->leds(), 0xC0);
    const unsigned char a[] = {0x10, 0x80, 0x80}, b[] = {0x10, 0x00, 0x20};
    k.SendCommandBlocking(a, 3);
    k.SendCommandBlocking(b, 3);
    EXPECT_EQ(k.ReadLeds(), 0xC0);
}

TEST(CameraOperations, MultiCameraRegisterDance)
{
    simcam::Hub hub;
    auto da = hub.addOwn(10);
    auto db = hub.addOwn(11);
    Camera a(hub, 10, nullptr, fastTiming());
    Camera b(hub, 11, nullptr, fastTiming());
    for (Camera* c : {&a, &b}) {
        c->OpenUsbDevice();
        c->InitializeCameraCommunication();
        c->ReadCameraData();
        c->GetConfigurationData().WaitValid();
    }
    a.Sync();
    b.Sync();
    da->clearLog();
    db->clearLog();
    EXPECT_EQ(a.QueryMaster(0), 1);
    a.Sync();
    b.Sync();
    auto nonEmpty = [](const std::shared_ptr<simcam::Device>& d) {
        std::vector<Bytes> out;
        for (auto& f : d->frameBytes())
            if (!f.empty())
                out.push_back(f);
        return out;
    };
    EXPECT_EQ(nonEmpty(da), (std::vector<Bytes>{{0x1F, 1}, {0x19, 16, 15, 0, 0}, {0x19, 6, 15, 0, 0},
                                                {0x19, 19, 16, 1, 0xFF}, {0x19, 16, 15, 0, 1}}));
    EXPECT_EQ(nonEmpty(db), (std::vector<Bytes>{{0x19, 20, 15, 0, 1}, {0x19, 16, 15, 0, 1}, {0x19, 6, 15, 0, 1}}));

    da->clearLog();
    db->clearLog();
    da->setReg(15, 1, 0);
    EXPECT_EQ(a.QueryMaster(0), 0);
    a.Sync();
    b.Sync();
    EXPECT_EQ(nonEmpty(da), (std::vector<Bytes>{{0x1F, 1}}));
    EXPECT_TRUE(nonEmpty(db).empty());

    a.SetMultiCamera(true);
    a.Sync();
    b.Sync();
    EXPECT_EQ(nonEmpty(db), (std::vector<Bytes>{{0x19, 20, 15, 0, 0}}));
}

TEST(CameraOperations, ThreadProceduresReturnTheirCodes)
{
    SimCamera sim;
    EXPECT_EQ(Camera::LedOnThreadProc(sim.camera.get()), 21u);
    EXPECT_EQ(Camera::ReadEEPROM16DataThreadProc(sim.camera.get()), 55u);
    EXPECT_EQ(Camera::SetCameraOptionsThreadProc(sim.camera.get()), 47u);
    sim.camera->Sync();
    EXPECT_EQ(sim.frames().front(), (Bytes{0x10, 0x80, 0x80}));
}

TEST(CameraOperations, WindowAndStoredOptions)
{
    SimCamera sim(revision(7));
    Camera& k = *sim.camera;
    EXPECT_EQ(k.GetActualWindow(), (Camera::Window{1, 1, 640, 480}));
    EXPECT_EQ(k.GetActualWindow().Width(), 640);
    k.SetGrayscaleDecimation(2);
    k.SetVideoType(1);
    EXPECT_EQ(k.GetActualWindow(), (Camera::Window{0, 0, 319, 239}));
    EXPECT_EQ(k.GetActualWindow().Height(), 240);
    SimCamera six(revision(6));
    EXPECT_EQ(six.camera->GetActualWindow(), (Camera::Window{98, 14, 450, 302}));
    k.SetSendFrameOption(6);
    k.SetWantEmptyFrames(true);
    EXPECT_EQ(k.GetSendFrameOption(), 7);
    k.SetWantEmptyFrames(false);
    EXPECT_FALSE(k.GetWantEmptyFrames());
    EXPECT_EQ(k.GetInstanceString(), "");
    EXPECT_EQ(k.GetObjectCap(), 500);
    EXPECT_EQ(k.GetTrackedObjectColor(), 0x64FF64ul);
    EXPECT_EQ(k.GetThresholdValue(), 140);  // the revision's default threshold after the read
}

// The camera rasterises a frame with its own display settings: the raster
// object colour as colour scheme, the non-tracked and tracked colours, the
// video type as processing mode and the text overlay as display options.
TEST(CameraOperations, RasterizeFrameDrawsWithTheCamerasDisplaySettings)
{
    SimCamera sim(revision(7));
    Camera& k = *sim.camera;
    Orvane::Frame frame;
    frame.frameId = 12;
    frame.SetObjectCount(2);
    Orvane::LineSegment a(30, 40.0f, 44.0f, 5.0f), b(50, 10.0f, 20.0f, 11.0f);
    frame.AddSegment(a);
    frame.AddSegment(b);
    frame.objects[0].AddScanLine(&frame.segments[0]);
    frame.objects[0].rank = 2;
    frame.objects[1].AddScanLine(&frame.segments[1]);
    frame.objects[1].rank = 1;

    EXPECT_EQ(k.GetRasterObjectColor(), Camera::OV_OBJECT_COLOR_TRACKED);
    k.SetRasterObjectColor(Camera::OV_OBJECT_COLOR_FIRST_THREE_GREY);
    k.SetTrackedObjectColor(0x102030);
    k.SetNonTrackedObjectColor(0x405060);
    k.SetTextOverlayOption(Orvane::RasterSettings::InfoText | Orvane::RasterSettings::ObjectNumbers);
    k.SetVideoType(1);
    ASSERT_EQ(k.GetVideoTypeValue(), 1);

    Orvane::RasterSettings expected;
    expected.colourScheme = 4;
    expected.highlightColour = 0x102030;
    expected.normalColour = 0x405060;
    expected.processingMode = Orvane::RasterSettings::Greyscale;
    expected.displayOptions = Orvane::RasterSettings::InfoText | Orvane::RasterSettings::ObjectNumbers;
    for (int depth : {16, 24, 32}) {
        SCOPED_TRACE(depth);
        const auto d = Orvane::BitMap::DepthFor(depth);
        Orvane::BitMap drawn(120, 80, 0, d), want(120, 80, 0, d);
        k.RasterizeFrame(frame, drawn);
        Orvane::RasterizeFrame(frame, want, expected);
        const auto bytes = [](const Orvane::BitMap& m) {
            return std::vector<std::uint8_t>(m.GetBits(), m.GetBits() + m.GetSize());
        };
        EXPECT_EQ(bytes(drawn), bytes(want));
        EXPECT_NE(drawn.GetPixel(42, 30), 0u) << "object 0 drawn in the tracked colour";

        // The same over the caller's pixels, each line 4 bytes longer.
        const int span = 120 * drawn.GetBytesPerPixel() + 4;
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(span) * 80, 0xEE);
        k.RasterizeFrame(frame, 120, 80, span, depth, pixels.data());
        Orvane::BitMap view(120, 80, span, d, pixels.data());
        int differ = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 120; ++x)
                differ += view.GetPixel(x, y) != want.GetPixel(x, y);
        EXPECT_EQ(differ, 0);
    }
}
