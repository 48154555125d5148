#include "raster/repairpolygons.h"

#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <omp.h>

namespace {
Segments square(float x, float y, float s)
{
    return {{x, y, x + s, y}, {x + s, y, x + s, y + s}, {x + s, y + s, x, y + s}, {x, y + s, x, y}};
}
}

TEST(RepairPolygons, OpenOutlineIsClosedFromItsEndToItsStart)
{
    Segments s = square(0, 0, 10);
    s.removeLast(); // chain (0,0) -> ... -> (0,10), open
    const Segments before = s;
    EXPECT_EQ(repairPolygons(s, 0.03f), 1);
    ASSERT_EQ(s.size(), 4);
    for (int i = 0; i < 3; ++i) // existing segments untouched
        EXPECT_EQ(std::memcmp(&s[i], &before[i], sizeof(Segment)), 0);
    EXPECT_FLOAT_EQ(s[3].x0, 0);
    EXPECT_FLOAT_EQ(s[3].y0, 10);
    EXPECT_FLOAT_EQ(s[3].x1, 0);
    EXPECT_FLOAT_EQ(s[3].y1, 0);
}

TEST(RepairPolygons, ClosedOrNearlyJoinedOutlinesGetNothing)
{
    Segments s = square(0, 0, 10);
    EXPECT_EQ(repairPolygons(s, 0.03f), 0);
    // Ends that miss each other by less than the tolerance count as joined.
    s[1].x0 += 0.02f;
    s[2].y1 -= 0.029f;
    EXPECT_EQ(repairPolygons(s, 0.03f), 0);
    EXPECT_EQ(s.size(), 4);
    // Beyond the tolerance the gap is bridged.
    s[1].x0 += 0.05f;
    EXPECT_EQ(repairPolygons(s, 0.03f), 1);
}

TEST(RepairPolygons, NearestPairsAreJoinedFirstAndDirectionKept)
{
    // Two open chains: a closes onto its own start (near), b likewise.
    Segments a = square(0, 0, 10), b = square(100, 0, 10);
    a.removeLast();
    b.removeFirst();
    Segments s = a + b;
    EXPECT_EQ(repairPolygons(s, 0.03f), 2);
    // Every vertex balanced: sum of start/end points per position matches.
    double area = 0;
    for (const Segment &g : s)
        area += double(g.x0) * g.y1 - double(g.x1) * g.y0;
    EXPECT_NEAR(area * 0.5, 200.0, 1e-3); // both squares closed counter-clockwise
}

TEST(RepairPolygons, IgnoresNonFiniteSegments)
{
    Segments s = square(0, 0, 1);
    s.append({NAN, 0, 1, 1});
    s.append({0, INFINITY, 2, 2});
    EXPECT_EQ(repairPolygons(s, 0.03f), 0);
}

TEST(RepairPolygons, ManyOpenEndsStayFast)
{
    // 5000 separate open segments: 5000 ends and starts to pair.
    Segments s;
    for (int i = 0; i < 5000; ++i)
        s.append({float(i % 100) * 2, float(i / 100) * 2, float(i % 100) * 2 + 1, float(i / 100) * 2});
    EXPECT_EQ(repairPolygons(s, 0.03f), 5000);
}
