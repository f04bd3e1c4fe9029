#include "engine/pose_models.h"

CameraModel CameraModelForRevision(int hardwareRevision)
{
    switch (hardwareRevision) {
    case 5:
        return {355.0f, 290.0f, 2.2f, 1.8f, 2.1f, true, 425.0f, 426.0f, -0.373921f, 0.419047f};
    case 8:
        return {640.0f, 480.0f, 3.84f, 2.88f, 4.9f, false, 0.0f, 0.0f, 0.0f, 0.0f};
    case 9:
        return {640.0f, 480.0f, 3.84f, 2.88f, 3.99f, true, 630.0f, 630.0f, 0.0614822f, -0.684426f};
    default:
        return {355.0f, 290.0f, 2.2f, 1.8f, 3.7f, false, 0.0f, 0.0f, 0.0f, 0.0f};
    }
}

CHeadsetModel CHeadsetModel::ForLocation(int location)
{
    CHeadsetModel m;
    m.Location = location;
    switch (location) {
    case 1:
    case 2:
        m.Sorting = 2;
        m.Dist01 = double(50.07f);
        m.Dist02 = double(94.12f);
        m.Dist12 = double(111.41f);
        m.Del0 = -771; m.Del1 = -747; m.Del2 = -703;
        m.TX = -50; m.TY = -25; m.TZ = 130;
        break;
    case 3:
        m.Sorting = 3;
        m.Dist01 = 101; m.Dist02 = 92; m.Dist12 = 155;
        m.Del0 = -710; m.Del1 = -760; m.Del2 = -760;
        m.TX = 85; m.TY = 0; m.TZ = -100;
        break;
    case 4:
        m.Sorting = 3;
        m.Dist01 = 112; m.Dist02 = 106.5; m.Dist12 = double(179.3f);
        m.Del0 = -710; m.Del1 = -760; m.Del2 = -760;
        m.TX = 85; m.TY = 0; m.TZ = -100;
        break;
    default:
        m.Sorting = 0;
        m.Dist01 = 113; m.Dist02 = 113; m.Dist12 = 68;
        m.Del0 = -716; m.Del1 = -600; m.Del2 = -600;
        m.TX = 0; m.TY = 0; m.TZ = -200;
        break;
    }
    m.Finish();
    return m;
}

void CHeadsetModel::Finish()
{
    P0OnTop = (Del0 < Del1 && Del0 < Del2) ? 1 : 0;
    DistCenter = 100.0;
    DistBack = 25.0;
    Distol = (Dist01 + Dist02) * 0.5;
    pivot[0] = TX;
    pivot[1] = TY;
    pivot[2] = TZ;
}

bool ApplyModelOverride(CHeadsetModel& model, const IModelOverrideSource& source)
{
    const auto code = source.ReadDword("PendrixOverride");
    if (!code || *code != kPendrixOverrideCode) return false;
    auto take = [&source](std::string_view name, double& field) {
        if (auto v = source.ReadDword(name)) field = double(*v);
    };
    auto takeInt = [&source](std::string_view name, std::int32_t& field) {
        if (auto v = source.ReadDword(name)) field = static_cast<std::int32_t>(*v);
    };
    take("Dist01", model.Dist01);
    take("Dist02", model.Dist02);
    take("Dist12", model.Dist12);
    take("Distol", model.Distol);
    take("DistCenter", model.DistCenter);
    take("DistBack", model.DistBack);
    takeInt("P0OnTop", model.P0OnTop);
    takeInt("Location", model.Location);
    return true;
}
