#include "toolpath/skirtbrimraft.h"
#include "fixtures/rasterfixtures.h"

#include <gtest/gtest.h>

#include <QList>

#include <algorithm>
#include <cmath>

namespace {

const float P = 1.0f / 0.333f; // one extrusion width in raster units
const float PixelSize = 0.4f * 0.333f;

// Chebyshev distance of a point from the square [20, 44] x [20, 44].
float distFromSquare(PolyPoint q)
{
    const float dx = std::max({20.0f - q.x, q.x - 44.0f, 0.0f});
    const float dy = std::max({20.0f - q.y, q.y - 44.0f, 0.0f});
    return std::max(dx, dy);
}

float totalLength(const PathList &chain)
{
    float s = 0;
    for (const PolyLine &p : chain)
        s += p.length();
    return s;
}

float maxDist(const PathList &chain)
{
    float m = 0;
    for (const PolyLine &p : chain)
        for (const PolyPoint &q : p.pts)
            m = std::max(m, distFromSquare(q));
    return m;
}

SlicerParams plainParams()
{
    SlicerParams sp;
    sp.PerimeterGap = 0;
    sp.SkirtEnable = sp.BrimEnable = sp.RaftEnable = false;
    sp.MinLayerTime = 0;
    sp.FanEnable = false;
    sp.TravelHeight = 0;
    return sp;
}

FirstLayerExtras run(const SlicerParams &sp, PolyPoint &head)
{
    return brimSkirtRaft(sp, squareFootprint(), P, PixelSize, head);
}

} // namespace

TEST(Skirt, MinCountZeroCutsOneLoopToTheMinimumLength)
{
    PolyPoint head{0, 0};
    const PathList chain =
        skirtLoops(squareFootprint(), P, 2, 50, 0, false, 0, 0, head);
    ASSERT_FALSE(chain.isEmpty());
    EXPECT_NEAR(totalLength(chain), 50, 0.01);
    for (const PolyLine &p : chain) {
        EXPECT_EQ(p.type, Skirt);
        EXPECT_FALSE(p.closed);
    }
    // One loop, about two widths (6 pixels) out, half a pixel for the edge.
    EXPECT_NEAR(maxDist(chain), 6.5f, 1.0f);
    EXPECT_EQ(head, chain.last().pts.last());
}

TEST(Skirt, MinCountGivesWholeLoopsThenMinLengthAddsMore)
{
    PolyPoint head{0, 0};
    // Two whole loops when they are longer than the minimum length together.
    const PathList two = skirtLoops(squareFootprint(), P, 2, 10, 2, false, 0, 0, head);
    const float twoLen = totalLength(two);
    EXPECT_GT(twoLen, 2 * 4 * 30.0f);
    EXPECT_NEAR(maxDist(two), 6.5f + 3, 1.0f); // the second loop is one width further out
    // A minimum length beyond two loops adds a third, cut short at exactly that.
    head = {0, 0};
    const PathList more = skirtLoops(squareFootprint(), P, 2, twoLen + 20, 2, false, 0, 0, head);
    EXPECT_NEAR(totalLength(more), twoLen + 20, 0.05);
    EXPECT_NEAR(maxDist(more), 6.5f + 6, 1.0f);
}

TEST(Skirt, EmptyFootprintGivesNothing)
{
    Plane1 empty(64, 64);
    empty.fill(0);
    PolyPoint head{5, 5};
    EXPECT_TRUE(skirtLoops(empty, P, 2, 100, 3, false, 0, 0, head).isEmpty());
    EXPECT_EQ(head, PolyPoint(5, 5));
}

TEST(Brim, DrawnFromTheOutsideInEndingAtTheObject)
{
    SlicerParams sp = plainParams();
    sp.BrimEnable = true;
    sp.BrimCount = 3;
    PolyPoint head{0, 0};
    const FirstLayerExtras ex = run(sp, head);
    ASSERT_FALSE(ex.skirt.isEmpty());
    EXPECT_TRUE(ex.raft.layers.isEmpty());
    const float first = distFromSquare(ex.skirt.first().pts.first());
    const float last = distFromSquare(ex.skirt.last().pts.last());
    EXPECT_GT(first, last + 4); // three loops one width apart
    EXPECT_LT(last, 2.5f);      // the innermost hugs the object
    EXPECT_EQ(head, ex.skirt.last().pts.last());
}

TEST(BrimSkirtRaft, PrecedenceSkirtThenBrimThenRaft)
{
    SlicerParams sp = plainParams();
    sp.SkirtEnable = sp.BrimEnable = sp.RaftEnable = true;
    sp.SkirtOffset = 5;
    sp.SkirtMinCount = 1;
    sp.SkirtMinLength = 0;
    PolyPoint head{0, 0};
    FirstLayerExtras ex = run(sp, head);
    EXPECT_NEAR(maxDist(ex.skirt), 5 * P + 0.5f, 1.0f); // the skirt's offset, not the brim's
    EXPECT_TRUE(ex.raft.layers.isEmpty());
    EXPECT_EQ(ex.raft.height, 0);

    sp.SkirtEnable = false;
    head = {0, 0};
    ex = run(sp, head);
    EXPECT_LT(distFromSquare(ex.skirt.last().pts.last()), 2.5f); // brim
    EXPECT_TRUE(ex.raft.layers.isEmpty());

    sp.BrimEnable = false;
    head = {0, 0};
    ex = run(sp, head);
    EXPECT_TRUE(ex.skirt.isEmpty());
    EXPECT_FALSE(ex.raft.layers.isEmpty());

    sp.RaftEnable = false;
    ex = run(sp, head);
    EXPECT_TRUE(ex.skirt.isEmpty() && ex.raft.layers.isEmpty());
}
