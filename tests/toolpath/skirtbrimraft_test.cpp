#include "toolpath/skirtbrimraft.h"
#include "fixtures/rasterfixtures.h"
#include "raster/contourdetect3.h"
#include "raster/plane8.h"
#include "toolpath/pathorder.h"

#include <gtest/gtest.h>

#include <QList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

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

namespace {

// The skirt as first written, the twin of skirtLoops: every loop's
// coverage made afresh over the whole enlarged plane.
PathList skirtLoopsTwin(const Plane1 &footprint, float p, float offset, float minLength, int minCount, bool brim,
                        float gap, float smoothing, PolyPoint &head)
{
    auto clampGrow = [](float v) {
        const float r = std::floor(v + 0.5f);
        return r == r ? int(std::clamp(r, -4096.0f, 4096.0f)) : 0;
    };
    auto up32 = [](int v) { return (v + 31) / 32 * 32; };
    const int grow = clampGrow(offset * p), margin = up32(std::max(grow, 0) + int(std::ceil(20 * p)));
    Plane1 big(up32(footprint.width) + 2 * margin, up32(footprint.height) + 2 * margin);
    big.fill(0);
    for (int y = 0; y < footprint.height; ++y)
        for (int x = 0; x < footprint.width; ++x)
            if (footprint.pixel(x, y))
                big.setPixel(x + margin, y + margin, true);
    Plane1 region = big.offsetBy(grow);
    const PathParams pp = PathParams::fromSmoothing(p, smoothing);
    const float shift = float(margin);
    PolyPoint h{head.x + shift, head.y + shift};
    PathList chain;
    float target = minLength;
    for (int c = 0; c < 20; ++c) {
        Plane8 coverage;
        coverage.fromPlane1(region);
        Plane1 visited;
        PathList loops;
        for (PolyLine &l : contourDetect3(coverage, region.blockSummary(), visited, pp))
            if (l.closed && l.area() >= 0.2f * p * p) {
                l.type = Skirt;
                loops.append(l);
            }
        if (loops.isEmpty() && chain.isEmpty())
            break;
        orderPaths(p, 2.5f, gap, loops, chain, false, h);
        if (c < minCount)
            target = std::max(target, totalLength(chain));
        else if (PolyLine::truncateChain(chain, target, 0))
            break;
        region = region.offsetBy(clampGrow(p));
    }
    if (brim) {
        std::reverse(chain.begin(), chain.end());
        for (PolyLine &path : chain)
            path = path.reversed();
    }
    for (PolyLine &path : chain)
        path.translate(-shift, -shift);
    head = chain.isEmpty() ? PolyPoint{h.x - shift, h.y - shift} : chain.last().pts.last();
    return chain;
}

bool samePaths(const PathList &a, const PathList &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (a[i].type != b[i].type || a[i].closed != b[i].closed || a[i].pts.size() != b[i].pts.size()
            || std::memcmp(a[i].pts.constData(), b[i].pts.constData(), sizeof(PolyPoint) * size_t(a[i].pts.size())))
            return false;
    return true;
}

} // namespace

// Footprints of scattered islands, some against the footprint's sides,
// grown into many loops that merge and reach the enlarged plane's margin:
// the skirt must come out exactly as its twin draws it.
TEST(Skirt, SameLoopsAsTheTwin)
{
    std::mt19937 rng(11);
    for (const QSize size : {QSize(64, 64), QSize(96, 40), QSize(50, 70)})
        for (int trial = 0; trial < 4; ++trial) {
            Plane1 fp = emptyMask(size.width(), size.height());
            for (int k = 0; k < 1 + trial * 2; ++k) {
                const int x0 = int(rng() % unsigned(size.width() - 4)), y0 = int(rng() % unsigned(size.height() - 4));
                maskRect(fp, x0, y0, std::min(size.width(), x0 + 3 + int(rng() % 20)),
                         std::min(size.height(), y0 + 3 + int(rng() % 20)));
            }
            for (const bool brim : {false, true}) {
                const float offset = brim ? 0.3f : float(trial);
                const int count = brim ? 4 : 8;
                PolyPoint h1{3, 4}, h2{3, 4};
                const PathList got = skirtLoops(fp, P, offset, 2000, count, brim, 0.5f, 0.2f, h1);
                const PathList want = skirtLoopsTwin(fp, P, offset, 2000, count, brim, 0.5f, 0.2f, h2);
                ASSERT_FALSE(want.isEmpty());
                EXPECT_TRUE(samePaths(got, want)) << size.width() << " trial " << trial << " brim " << brim;
                EXPECT_EQ(h1, h2);
            }
        }
}
