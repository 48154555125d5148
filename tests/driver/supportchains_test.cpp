// Support chains: canonical direction, order by start x, the reach rule and
// the raster conversion, on small segment lists.
#include "driver/supportchains.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using Pts = QVector<PolyPoint>;

TEST(SupportChains, ChainingRules)
{
    const float nan = std::nanf("");
    // Origin 0, pitch 1 and bar width 1: the reach is |dx| + 2|dy| < 1.9.
    struct Case {
        const char *name;
        Segments segs;
        QVector<Pts> chains;
    };
    const Case cases[] = {
        {"touching segments form one chain", {{0, 0, 1, 0}, {1, 0, 2, 0}}, {{{0, 0}, {1, 0}, {2, 0}}}},
        {"a backward segment is turned round", {{1, 0, 0, 0}, {2, 0, 1, 0}}, {{{0, 0}, {1, 0}, {2, 0}}}},
        {"sorted by start x before chaining", {{1, 0, 2, 0}, {0, 0, 1, 0}}, {{{0, 0}, {1, 0}, {2, 0}}}},
        {"a start within reach joins, the gap bridged",
         {{0, 0, 1, 0}, {1, 0.5f, 2, 0.5f}},
         {{{0, 0}, {1, 0}, {1, 0.5f}, {2, 0.5f}}}},
        {"y counts twice: 2 x 1 is out of reach",
         {{0, 0, 1, 0}, {1, 1, 2, 1}},
         {{{0, 0}, {1, 0}}, {{1, 1}, {2, 1}}}},
        {"ends on one x always start a chain",
         {{0, 0, 1, 0}, {1, 0, 1, 1}},
         {{{0, 0}, {1, 0}}, {{1, 0}, {1, 1}}}},
        {"the newest chain in reach wins",
         {{0, 0, 1, 0}, {0, 0.9f, 1, 0.9f}, {1.2f, 0.45f, 2, 0.45f}},
         {{{0, 0}, {1, 0}}, {{0, 0.9f}, {1, 0.9f}, {1.2f, 0.45f}, {2, 0.45f}}}},
        {"non-finite segments are left out", {{0, 0, nan, 0}, {0, 0, 1, 0}}, {{{0, 0}, {1, 0}}}},
    };
    for (const Case &c : cases) {
        const PathList got = supportChains(c.segs, 0, 0, 1, 1, 1);
        ASSERT_EQ(got.size(), c.chains.size()) << c.name;
        for (int k = 0; k < got.size(); ++k) {
            EXPECT_EQ(got[k].type, Support) << c.name;
            EXPECT_FALSE(got[k].closed) << c.name;
            EXPECT_EQ(got[k].pts, c.chains[k]) << c.name << ", chain " << k;
        }
    }
}

TEST(SupportChains, RasterUnitsAndReachScaleWithPitch)
{
    // Origin (10, 20), pitch 0.5 x 0.25 mm: (11, 21) is raster (2, 4). Bar
    // width 1 mm: reach 1.9 / 0.5 = 3.8 raster units.
    const Segments segs = {{11, 21, 12, 21}, {13.5f, 21, 14, 21}, {16, 21, 16.5f, 21}};
    const PathList got = supportChains(segs, 10, 20, 0.5f, 0.25f, 1.0f);
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[0].pts, (Pts{{2, 4}, {4, 4}, {7, 4}, {8, 4}})); // 3 units on: joined
    EXPECT_EQ(got[1].pts, (Pts{{12, 4}, {13, 4}}));               // 4 units on: a new chain
}

} // namespace
