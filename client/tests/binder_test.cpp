// The binder the suite's own clients use over the library: every game
// export found by its name, and 4 from every call whose function is missing.
#include <gtest/gtest.h>

#include <utility>

#include "client/binder.h"

namespace {

using ovclient::ClientBinder;
using ovclient::ClientFunctions;

void ExpectAllNotBound(const ClientBinder& b)
{
    std::uint16_t version = 0;
    OVPosePacket pose{};
    std::int32_t parameter = 0;
    const std::pair<const char*, std::int32_t> calls[] = {
        {"RegisterWindowHandle", b.RegisterWindowHandle(1)},
        {"UnregisterWindowHandle", b.UnregisterWindowHandle()},
        {"RegisterProgramProfileID", b.RegisterProgramProfileID(2302)},
        {"QueryVersion", b.QueryVersion(&version)},
        {"RequestData", b.RequestData(OV_AXIS_ALL)},
        {"GetData", b.GetData(&pose)},
        {"StartCursor", b.StartCursor()},
        {"StopCursor", b.StopCursor()},
        {"ReCenter", b.ReCenter()},
        {"StartDataTransmission", b.StartDataTransmission()},
        {"StopDataTransmission", b.StopDataTransmission()},
        {"GetParameter", b.GetParameter(0, &parameter)},
        {"SetParameter", b.SetParameter(0, 1)},
    };
    for (const auto& [name, result] : calls)
        EXPECT_EQ(result, OV_NOT_BOUND) << name;
}

TEST(ClientBinder, BindsEveryGameExportOfTheLibrary)
{
    auto library = platform::Module::load(OVCLIENT_LIBRARY);
    ASSERT_TRUE(library.has_value());
    const ClientFunctions f = ovclient::BindFunctions(*library);
    const std::pair<const char*, bool> bound[] = {
        {"OV_RegisterWindowHandle", f.registerWindowHandle != nullptr},
        {"OV_UnregisterWindowHandle", f.unregisterWindowHandle != nullptr},
        {"OV_RegisterProgramProfileID", f.registerProgramProfileID != nullptr},
        {"OV_QueryVersion", f.queryVersion != nullptr},
        {"OV_RequestData", f.requestData != nullptr},
        {"OV_GetData", f.getData != nullptr},
        {"OV_StartCursor", f.startCursor != nullptr},
        {"OV_StopCursor", f.stopCursor != nullptr},
        {"OV_ReCenter", f.reCenter != nullptr},
        {"OV_StartDataTransmission", f.startDataTransmission != nullptr},
        {"OV_StopDataTransmission", f.stopDataTransmission != nullptr},
        {"OV_GetParameter", f.getParameter != nullptr},
        {"OV_SetParameter", f.setParameter != nullptr},
    };
    for (const auto& [name, found] : bound)
        EXPECT_TRUE(found) << name;
}

TEST(ClientBinder, AnswersFourUntilBoundAndAgainAfterUnbind)
{
    ClientBinder b;
    EXPECT_FALSE(b.IsLoaded());
    ExpectAllNotBound(b);

    auto library = platform::Module::load(OVCLIENT_LIBRARY);
    ASSERT_TRUE(library.has_value());
    b.BindLibrary(std::move(*library));
    EXPECT_TRUE(b.IsLoaded());
    EXPECT_NE(b.Functions().getData, nullptr);

    b.Unbind();
    EXPECT_FALSE(b.IsLoaded());
    ExpectAllNotBound(b);

    // Functions given in place of a library: only those answer, and no
    // library is held.
    ClientFunctions one;
    one.reCenter = [] { return std::int32_t{7}; };
    b.BindFunctions(one);
    EXPECT_FALSE(b.IsLoaded());
    EXPECT_EQ(b.ReCenter(), 7);
    EXPECT_EQ(b.StartCursor(), OV_NOT_BOUND);
}

} // namespace
