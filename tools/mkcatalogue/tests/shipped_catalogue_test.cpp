// The catalogue the build puts into bin/ loads under the program's built-in
// key and lists every game the suite's clients and the view library register.
#include <filesystem>

#include <gtest/gtest.h>

#include "profiles/GameList.h"

namespace {

TEST(ShippedCatalogue, VerifiesAndListsTheSuitesGames)
{
    CGameList list;
    ASSERT_EQ(list.Load(ORVANE_TEST_BIN_DIR, BuiltInCatalogueKey()), 0);
    const int ids[] = {// view library
                       2303, 2305, 2306, 4401, 3401, 2304, 8102, 8103, 7804, 7807, 9651,
                       // client library by executable
                       6001, 1202, 2202, 3301, 2203, 4801, 5101, 4701,
                       // flight-simulator module and mouse emulator
                       2302, 8501};
    for (int id : ids) {
        const int at = list.FindById(id);
        ASSERT_GE(at, 0) << id;
        EXPECT_FALSE(list[at].Name.empty()) << id;
        EXPECT_EQ(list[at].ProfileId, id);
    }
    EXPECT_EQ(list.GetSize(), 23);
    EXPECT_EQ(list[list.FindById(8102)].Name, u"ToCA Race Driver 2");
    EXPECT_EQ(list[list.FindById(4701)].Exe, u"Trainz.exe");
}

} // namespace
