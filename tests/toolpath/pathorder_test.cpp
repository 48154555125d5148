#include "fixtures/rasterfixtures.h"
#include "toolpath/pathorder.h"
#include "toolpath/nearestends.h"
#include "toolpath/runlabels.h"
#include "toolpath/travelrouter.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <QRect>
#include <QSize>

#include <cmath>
#include <random>
#include <limits>

namespace {

PolyLine line(int type, std::initializer_list<PolyPoint> pts, bool closed = false)
{
    PolyLine p(type);
    p.pts = pts;
    p.closed = closed;
    return p;
}

PolyLine squareLoop(int type, float x0, float y0, float x1, float y1)
{
    return line(type, {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}, true);
}

// A layer mask in the driver's sense: set bits are outside the part.
Plane1 maskWithRects(int w, int h, std::initializer_list<QRect> inside)
{
    Plane1 m(w, h);
    m.fill(0xFF);
    for (const QRect &r : inside)
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                m.setPixel(x, y, false);
    return m;
}

// U: two arms x 8..23 and x 40..55 (y 8..55), joined by a base y 44..55.
Plane1 uMask()
{
    return maskWithRects(64, 64, {QRect(8, 8, 16, 48), QRect(40, 8, 16, 48), QRect(8, 44, 48, 12)});
}

void expectRouteInside(const TravelRouter &router, const PolyLine &route, PolyPoint from,
                       PolyPoint to)
{
    ASSERT_GE(route.pts.size(), 2);
    EXPECT_EQ(route.type, Travel);
    EXPECT_EQ(route.pts.first(), from);
    EXPECT_EQ(route.pts.last(), to);
    for (int i = 1; i < route.pts.size(); ++i)
        EXPECT_TRUE(router.segmentFree(route.pts[i - 1], route.pts[i])) << "segment " << i;
}

} // namespace

TEST(FindNearest, GoodEnoughRadiusTakesPoolOrder)
{
    // a = 2: radius 3. Both starts lie within it; the first in the pool wins.
    PathList pool = {line(Infill, {{2.5f, 0}, {9, 0}}), line(Infill, {{0.5f, 0}, {9, 1}})};
    int v = -1;
    EXPECT_EQ(findNearest(pool, 2, {0, 0}, false, &v), 0);
    EXPECT_EQ(v, 0);
    // Outside the radius the nearest wins, ties keep the earlier one.
    pool = {line(Infill, {{10, 0}, {20, 0}}), line(Infill, {{0, 5}, {0, 20}}),
            line(Infill, {{5, 0}, {5, 20}})};
    EXPECT_EQ(findNearest(pool, 2, {0, 0}, false, &v), 1);
    // Closed paths offer every vertex.
    pool = {line(Infill, {{10, 0}, {20, 0}}), squareLoop(Loop, 30, 30, 4, 4)};
    EXPECT_EQ(findNearest(pool, 0, {0, 0}, false, &v), 1);
    EXPECT_EQ(v, 2);
    pool.clear();
    EXPECT_EQ(findNearest(pool, 2, {0, 0}, true, &v), -1);
}

TEST(FindNearest, ReversalOnlyWhenAllowed)
{
    PolyPoint head{0, 0};
    PathList pool = {line(Infill, {{20, 0}, {10, 0}, {1, 1}})};
    int v = -1;
    EXPECT_EQ(findNearest(pool, 0, head, true, &v), 0);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(findNearest(pool, 0, head, false, &v), 0);
    EXPECT_EQ(v, 0);

    PathList out;
    PathList p2 = pool;
    orderPaths(0, 0, 0, p2, out, true, head);
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out[0].pts, (QVector<PolyPoint>{{1, 1}, {10, 0}, {20, 0}}));
    EXPECT_EQ(head, PolyPoint(20, 0));
    head = {0, 0};
    out.clear();
    orderPaths(0, 0, 0, pool, out, false, head);
    EXPECT_EQ(out[0].pts.first(), PolyPoint(20, 0));
}

TEST(OrderPaths, ClosedLoopRotatedOpenedAndGapped)
{
    // Square entered at vertex 2 (10, 10).
    PathList pool = {squareLoop(Perimeter, 0, 0, 10, 10)};
    PathList out;
    PolyPoint head{11, 11};
    // a = 2, gap 1: gap length 2, one unit off each end.
    EXPECT_TRUE(orderPaths(2, 2.5f, 1, pool, out, false, head));
    ASSERT_EQ(out.size(), 1);
    EXPECT_FALSE(out[0].closed);
    EXPECT_EQ(out[0].pts,
              (QVector<PolyPoint>{{9, 10}, {0, 10}, {0, 0}, {10, 0}, {10, 9}}));
    EXPECT_TRUE(pool.isEmpty());
    // Without gap the loop closes on its start vertex.
    pool = {squareLoop(Perimeter, 0, 0, 10, 10)};
    out.clear();
    head = {11, 11};
    orderPaths(2, 2.5f, 0, pool, out, false, head);
    EXPECT_EQ(out[0].pts,
              (QVector<PolyPoint>{{10, 10}, {0, 10}, {0, 0}, {10, 0}, {10, 10}}));
    // The head is nudged past the seam: last segment runs +y, its normal -x.
    EXPECT_EQ(head, PolyPoint(10 - 2, 10 + 3));
}

TEST(OrderPaths, SeamAtSharpTipMovesOntoTheEdge)
{
    // A 60-degree tip at (0, 0): the loop is drawn through the tip and the
    // gap sits on its first edge, half a unit from the tip.
    PathList pool = {line(Perimeter, {{0, 0}, {20, 0}, {10, 17.3205f}}, true)};
    PathList out;
    PolyPoint head{-1, -1};
    orderPaths(2, 2.5f, 0.5f, pool, out, false, head); // gap 1 unit
    ASSERT_EQ(out.size(), 1);
    const QVector<PolyPoint> &p = out[0].pts;
    ASSERT_EQ(p.size(), 5);
    EXPECT_NEAR(p.first().x, 1.5f, 1e-5);
    EXPECT_NEAR(p.first().y, 0, 1e-5);
    EXPECT_EQ(p[3], PolyPoint(0, 0));
    EXPECT_NEAR(p.last().x, 0.5f, 1e-5);
    EXPECT_NEAR(p.last().y, 0, 1e-5);

    // Widths follow the moved ends; a short first edge is split at its
    // middle; a tip with hairs or a plain corner keeps its seam.
    PolyLine tip = line(Perimeter, {{0, 0}, {0.6f, 0}, {2, 5}, {0, 0}});
    tip.w = {1, 3, 1, 1};
    moveSeamOffSharpTip(tip, 2);
    EXPECT_NEAR(tip.pts.first().x, 0.3f, 1e-5);
    EXPECT_EQ(tip.pts.first(), tip.pts.last());
    ASSERT_EQ(tip.w.size(), tip.pts.size());
    EXPECT_NEAR(tip.w.first(), 2, 1e-5);
    EXPECT_NEAR(tip.w.last(), 2, 1e-5);
    PolyLine corner = line(Perimeter, {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}});
    const PolyLine cornerBefore = corner;
    moveSeamOffSharpTip(corner, 2);
    EXPECT_EQ(corner.pts, cornerBefore.pts);
    PolyLine hairy = line(Perimeter, {{0, 0}, {20, 0}, {10, 17.3205f}, {0, 0}});
    hairy.hairs.append(line(OuterHair, {{10, 1}, {10, 2}}));
    moveSeamOffSharpTip(hairy, 2);
    EXPECT_EQ(hairy.pts.first(), PolyPoint(0, 0));
}

TEST(OrderPaths, RemovePerimeterGapNeverPassesNeighbours)
{
    PolyLine p = line(Loop, {{0, 0}, {0.5f, 0}, {10, 0}, {10, 10}, {0, 0}});
    removePerimeterGap(p, 4);
    EXPECT_EQ(p.pts.first(), PolyPoint(0.5f, 0));
    EXPECT_NEAR(p.pts.last().x, std::sqrt(2.0f), 1e-5); // 2 units along the diagonal
    PolyLine zero = line(Loop, {{0, 0}, {0, 0}, {5, 0}});
    removePerimeterGap(zero, 2);
    EXPECT_EQ(zero.pts.first(), PolyPoint(0, 0));
}

TEST(OrderPaths, JoinsSameTypeLinesButNeverShells)
{
    const struct {
        int type;
        float gapX; // start of the second line beyond the end of the first
        int expectedPaths;
    } cases[] = {
        {Infill, 4.9f, 1},   // within k a = 2.5 * 2 (Manhattan)
        {Infill, 5.1f, 2},   // beyond
        {HShell, 2, 1},
        {Perimeter, 1, 2},   // shells never join
        {Loop, 1, 2},
    };
    for (const auto &c : cases) {
        PathList pool = {line(c.type, {{0, 0}, {10, 0}}),
                         line(c.type, {{10 + c.gapX, 0}, {30, 0}})};
        PathList out;
        PolyPoint head{-1, 0};
        orderPaths(2, 2.5f, 0, pool, out, false, head);
        EXPECT_EQ(out.size(), c.expectedPaths) << c.type << " " << c.gapX;
        EXPECT_EQ(out.last().pts.last(), PolyPoint(30, 0));
    }
    // Different types never join.
    PathList pool = {line(Infill, {{0, 0}, {10, 0}}), line(HShell, {{11, 0}, {30, 0}})};
    PathList out;
    PolyPoint head{-1, 0};
    orderPaths(2, 2.5f, 0, pool, out, false, head);
    EXPECT_EQ(out.size(), 2);
}

TEST(OrderPaths, SingleAndEmpty)
{
    PathList pool = {line(Infill, {{0, 0}, {1, 0}}), line(Infill, {{50, 0}, {60, 0}})};
    PathList out;
    PolyPoint head{0, 0};
    EXPECT_TRUE(orderPaths(1, 2.5f, 0, pool, out, false, head, true));
    EXPECT_EQ(out.size(), 1);
    EXPECT_EQ(pool.size(), 1);
    PathList none, out2;
    head = {3, 4};
    EXPECT_FALSE(orderPaths(1, 2.5f, 0, none, out2, false, head));
    EXPECT_EQ(head, PolyPoint(3, 4));
}

TEST(LayerStartPos, FarTargets)
{
    const float W = 250, D = 200, p = 3.0f;
    const float w = W * p * 100, h = D * p * 100;
    const struct {
        int mode, layer;
        PolyPoint target;
    } cases[] = {
        {1, 0, {std::trunc(w * std::cos(1.0f)), std::trunc(h * std::sin(1.0f))}},
        {2, 5, {0, -h}},
        {3, 5, {0, h}},
        {4, 5, {w, 0}},
        {5, 5, {-w, 0}},
        {6, 0, {w, 0}},
        {6, 1, {std::trunc(w * std::cos(166 * 3.14159265f / 180)),
                std::trunc(h * std::sin(166 * 3.14159265f / 180))}},
    };
    for (const auto &c : cases) {
        const PolyPoint t = layerStartTarget(c.mode, c.layer, W, D, p);
        EXPECT_NEAR(t.x, c.target.x, 1.0f) << c.mode << "/" << c.layer;
        EXPECT_NEAR(t.y, c.target.y, 1.0f) << c.mode << "/" << c.layer;
    }
    // Random: the same layer gives the same point, other layers others.
    EXPECT_EQ(layerStartTarget(1, 7, W, D, p), layerStartTarget(1, 7, W, D, p));
    EXPECT_NE(layerStartTarget(1, 7, W, D, p), layerStartTarget(1, 8, W, D, p));
    for (int bad : {0, 7, -1}) {
        try {
            layerStartTarget(bad, 0, W, D, p);
            ADD_FAILURE() << bad;
        } catch (const QString &m) {
            EXPECT_EQ(m, QString("FATAL ERROR: invalid sp.LayerStartPos while "
                                 "paralellLayerProcessing %1").arg(bad));
        }
    }
}

TEST(LayerStartPos, NorthStartsAtTheSmallestY)
{
    // An octagon-ish loop: from the far north target the search must pick
    // the vertex with the smallest raster y.
    PathList pool = {line(Perimeter, {{10, 5}, {20, 2}, {30, 5}, {30, 20}, {10, 20}}, true),
                     line(Infill, {{15, 10}, {25, 10}})};
    PolyPoint head = layerStartTarget(2, 3, 250, 200, 3.003f);
    PathList out;
    orderPaths(1, 2.5f, 0, pool, out, false, head);
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0].pts.first(), PolyPoint(20, 2));
}

TEST(RunLabels, AreasInScanOrderEightConnected)
{
    Plane1 m = maskWithRects(64, 32, {QRect(40, 2, 4, 4), QRect(2, 10, 4, 4), QRect(6, 14, 3, 3)});
    const RunLabels areas(m, false);
    EXPECT_EQ(areas.count(), 2); // the diagonal touch joins two rectangles
    EXPECT_EQ(areas.label(41, 3), 0);
    EXPECT_EQ(areas.label(3, 11), 1);
    EXPECT_EQ(areas.label(7, 15), 1);
    EXPECT_EQ(areas.label(20, 20), -1);
    EXPECT_EQ(areas.labelAt(-1.0f, 3.0f), -1);
    EXPECT_EQ(areas.labelAt(std::numeric_limits<float>::quiet_NaN(), 3.0f), -1);

    // A width that is no multiple of 8: runs reach the last pixel, and set
    // bits can be labelled as well.
    const Plane1 odd = maskWithRects(37, 4, {QRect(0, 0, 37, 1), QRect(30, 2, 7, 2)});
    const RunLabels set(odd, true), clear(odd, false);
    EXPECT_EQ(clear.count(), 2);
    EXPECT_EQ(clear.label(36, 0), 0);
    EXPECT_EQ(clear.label(36, 3), 1);
    EXPECT_EQ(set.count(), 1);
    EXPECT_EQ(set.label(0, 3), 0);
    EXPECT_EQ(set.label(36, 3), -1);
}

TEST(TravelRouter, StaysInsideUAndLShapes)
{
    const Plane1 u = uMask();
    const TravelRouter router(u);
    // Arm tip to arm tip: the straight line crosses the slot.
    const PolyPoint a{16, 12}, b{48, 12};
    EXPECT_FALSE(router.segmentFree(a, b));
    const PolyLine r = router.route(a, b);
    expectRouteInside(router, r, a, b);
    EXPECT_GT(r.pts.size(), 2);
    float maxY = 0;
    for (const PolyPoint &q : r.pts)
        maxY = std::max(maxY, q.y);
    EXPECT_GE(maxY, 44); // through the base
    // A straight line inside stays a plain two-point travel.
    EXPECT_EQ(router.route({12, 12}, {12, 50}).pts.size(), 2);

    // L: vertical bar x 4..15, y 4..59 and foot x 4..59, y 48..59.
    const Plane1 l = maskWithRects(64, 64, {QRect(4, 4, 12, 56), QRect(4, 48, 56, 12)});
    const TravelRouter lr(l);
    const PolyPoint top{10, 6}, toe{58, 54};
    const PolyLine lrt = lr.route(top, toe);
    expectRouteInside(lr, lrt, top, toe);
    EXPECT_GE(lrt.pts.size(), 3);
    // Pulled straight: a corner or two, not a pixel staircase.
    EXPECT_LE(lrt.pts.size(), 4);
}

// Travels noted while ordering and routed afterwards, all at once on the
// OpenMP threads, must give the paths routed one by one: short loops in
// both arms of a U (travels round the base between them, straight ones
// within an arm), joined lines, the router's blocks made on first use by
// whichever thread gets there.
TEST(TravelRouter, RoutesFoundLaterMatchRoutesFoundInTurn)
{
    const Plane1 u = uMask();
    PathList pool;
    for (int i = 0; i < 6; ++i) {
        const float x = i % 2 ? 44 : 12, y = 10 + 4 * i;
        pool.append(squareLoop(Loop, x, y, x + 6, y + 3));
        pool.append(line(Infill, {{x + 1, y + 4}, {x + 7, y + 4}}));
    }
    for (int threads : {1, 3}) {
        PathList poolA = pool, poolB = pool, inTurn, later;
        PolyPoint headA(60, 60), headB(60, 60);
        const TravelRouter a(u), b(u);
        // One path at a time, so that the arms alternate.
        std::vector<TravelRequest> notes;
        for (int i = 0; i < pool.size(); ++i) {
            PathList oneA = {poolA[i]}, oneB = {poolB[i]};
            orderPaths(2, 2.5f, 0, oneA, inTurn, true, headA, false, &a);
            orderPaths(2, 2.5f, 0, oneB, later, true, headB, false, &b, &notes);
        }
        const int before = omp_get_max_threads();
        omp_set_num_threads(threads);
        routeTravels(b, notes, later);
        omp_set_num_threads(before);
        ASSERT_EQ(later.size(), inTurn.size());
        int bends = 0;
        for (int i = 0; i < inTurn.size(); ++i) {
            EXPECT_EQ(later[i].type, inTurn[i].type) << i;
            EXPECT_EQ(later[i].pts, inTurn[i].pts) << i;
            bends += inTurn[i].type == Travel;
        }
        EXPECT_GE(bends, 3);
        EXPECT_TRUE(headA == headB);
    }
}

TEST(TravelRouter, NarrowPassageNeedsPixelSearch)
{
    // Two rooms joined by a corridor 3 pixels wide: no 4 x 4 block fits in it.
    const Plane1 m = maskWithRects(64, 64, {QRect(4, 4, 24, 56), QRect(36, 4, 24, 56),
                                            QRect(28, 49, 8, 3)});
    const TravelRouter router(m);
    const PolyPoint a{10, 6}, b{50, 6};
    const PolyLine r = router.route(a, b);
    expectRouteInside(router, r, a, b);
    float maxY = 0;
    for (const PolyPoint &q : r.pts)
        maxY = std::max(maxY, q.y);
    EXPECT_GE(maxY, 49);
}

TEST(TravelRouter, NoRouteBetweenSeparateAreas)
{
    const Plane1 m = maskWithRects(64, 32, {QRect(2, 2, 10, 10), QRect(40, 2, 10, 10)});
    const TravelRouter router(m);
    EXPECT_TRUE(router.route({5, 5}, {45, 5}).pts.isEmpty());
    EXPECT_TRUE(router.route({5, 5}, {std::numeric_limits<float>::infinity(), 5}).pts.isEmpty());
}

// The block grid read four rows of bytes at a time must match the pixel by
// pixel twin: random clear rectangles in masks whose sides are not whole
// bytes or blocks, lone set pixels in every position of a block.
TEST(TravelRouter, FreeBlocksMatchTheirScalarTwin)
{
    std::mt19937 rng(5);
    for (const QSize size : {QSize(64, 64), QSize(37, 23), QSize(100, 41), QSize(264, 13), QSize(7, 9), QSize(3, 3)}) {
        for (int trial = 0; trial < 20; ++trial) {
            Plane1 m(size.width(), size.height());
            m.fill(0xFF);
            std::uniform_int_distribution<int> x(0, size.width() - 1), y(0, size.height() - 1);
            for (int r = 0; r < 6; ++r) {
                const int x0 = x(rng), y0 = y(rng), x1 = x(rng), y1 = y(rng);
                for (int yy = std::min(y0, y1); yy <= std::max(y0, y1); ++yy)
                    for (int xx = std::min(x0, x1); xx <= std::max(x0, x1); ++xx)
                        m.setPixel(xx, yy, false);
            }
            for (int k = 0; k < trial; ++k)
                m.setPixel(x(rng), y(rng), true);
            const QVector<unsigned char> fast = freeBlocks4(m), slow = freeBlocks4Scalar(m);
            ASSERT_EQ(fast, slow) << size.width() << " x " << size.height() << " trial " << trial;
        }
    }
}

// The one-pass shrink against offsetN's one-pixel steps, on layer-like masks
// (set = outside: a part with holes and a thin slot, at times touching the
// plane's edges and first and last rows), on parts of one run a row and on
// noise, at widths of whole
// and half 64-pixel words and plane heights down to three rows.
TEST(TravelRouter, ShrinkManhattanMatchesOffsetSteps)
{
    std::mt19937 rng(9);
    for (const QSize size : {QSize(544, 480), QSize(96, 40), QSize(64, 3), QSize(32, 70), QSize(160, 5)}) {
        const int w = size.width(), h = size.height();
        std::uniform_int_distribution<int> ux(-8, w + 8), uy(-8, h + 8), ur(1, std::max(2, std::min(w, h) / 3));
        for (int trial = 0; trial < 8; ++trial) {
            Plane1 m(w, h);
            if (trial == 5 || trial == 6) {
                // One clear run a row: a steep thin bar (a window's runs
                // share no pixel) and a wedge (they do).
                m.fill(0xFF);
                for (int y = 0; y < h; ++y) {
                    const int x0 = trial == 5 ? (3 * y) % std::max(1, w - 3) : w / 2 - y / 2;
                    const int x1 = trial == 5 ? x0 + 2 : w / 2 + y / 3 + 1;
                    for (int x = std::max(0, x0); x < std::min(w, x1); ++x)
                        m.setPixel(x, y, false);
                }
            } else if (trial == 7) {
                std::bernoulli_distribution bit(0.85);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        m.setPixel(x, y, bit(rng));
            } else {
                m.fill(0xFF);
                for (int k = 0; k < 4; ++k) { // clear discs: the part
                    const int cx = ux(rng), cy = uy(rng), r = ur(rng);
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x)
                            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r)
                                m.setPixel(x, y, false);
                }
                for (int k = 0; k < 3; ++k) { // set holes and a slot
                    const int cx = ux(rng), cy = uy(rng), r = ur(rng) / 3;
                    maskRect(m, cx - r, cy - r, cx + r + 1, cy + r + 1);
                }
                maskRect(m, w / 2, 0, w / 2 + 2, h);
            }
            const RunLabels maskAreas(m, false);
            for (const int n : {0, 1, 2, 3, 4, 5, 8, 13, 64}) {
                const Plane1 ref = m.offsetN(n, 'a', 'a');
                ASSERT_TRUE(shrinkManhattan(m, n) == ref) << w << " x " << h << " trial " << trial << " n " << n;
                // From the mask's runs, with the labels of its clear areas.
                Plane1 fromRuns;
                RunLabels areas;
                shrinkManhattanRuns(m, maskAreas, n, fromRuns, areas);
                ASSERT_TRUE(fromRuns == ref) << w << " x " << h << " trial " << trial << " n " << n;
                const RunLabels refAreas(ref, false);
                ASSERT_EQ(areas.count(), refAreas.count());
                for (int y = 0; y <= h; ++y)
                    ASSERT_EQ(areas.rowBegin(y), refAreas.rowBegin(y)) << "row " << y << " n " << n;
                for (int i = 0; i < refAreas.rowBegin(h); ++i) {
                    ASSERT_EQ(areas.run(i).x0, refAreas.run(i).x0);
                    ASSERT_EQ(areas.run(i).x1, refAreas.run(i).x1);
                    ASSERT_EQ(areas.run(i).label, refAreas.run(i).label);
                }
            }
        }
    }
}

// Segments sampled every half pixel, floored by truncation where the
// coordinates allow: the same answers as flooring each sample, also across
// negative coordinates, on pixel edges and far off the plane.
TEST(TravelRouter, SegmentFreeFloorsLikeFloor)
{
    const Plane1 m = uMask();
    const TravelRouter router(m);
    auto reference = [&](PolyPoint a, PolyPoint b) {
        const float dx = b.x - a.x, dy = b.y - a.y;
        const float len = std::sqrt(dx * dx + dy * dy);
        if (!std::isfinite(len))
            return false;
        const int n = std::max(1, int(std::ceil(len * 2.0f)));
        for (int i = 0; i <= n; ++i) {
            const float t = float(i) / float(n);
            if (!router.freeAt(int(std::floor(a.x + t * dx)), int(std::floor(a.y + t * dy))))
                return false;
        }
        return true;
    };
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> c(-8, 72);
    std::uniform_int_distribution<int> whole(-4, 68);
    int free = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        PolyPoint a(c(rng), c(rng)), b(c(rng), c(rng));
        if (trial % 3 == 0)
            a = PolyPoint(float(whole(rng)), float(whole(rng)));  // on pixel edges
        if (trial % 5 == 0)
            b = a + PolyPoint(0.25f * float(whole(rng) % 5), 0);
        const bool want = reference(a, b);
        ASSERT_EQ(router.segmentFree(a, b), want) << a.x << "," << a.y << " " << b.x << "," << b.y;
        free += want;
    }
    EXPECT_GT(free, 100);
    EXPECT_FALSE(router.segmentFree({-3e9f, 5}, {10, 10}));

    // Long segments between sparse single pixels (many pass within a pixel
    // of one without a sample landing on it), near-flat and near-upright
    // ones, and ones along the plane's border.
    Plane1 dots = emptyMask(256, 224);
    std::uniform_int_distribution<int> px(0, 255), py(0, 223);
    for (int i = 0; i < 60; ++i)
        dots.setPixel(px(rng), py(rng), true);
    const TravelRouter sparse(dots);
    std::uniform_real_distribution<float> sx(-2, 258), sy(-2, 226), tiny(-0.01f, 0.01f);
    int sparseFree = 0, sparseBlocked = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        PolyPoint a(sx(rng), sy(rng)), b(sx(rng), sy(rng));
        if (trial % 4 == 1)
            b.y = a.y + tiny(rng);
        if (trial % 4 == 2)
            b.x = a.x + tiny(rng);
        if (trial % 16 == 3)
            a.y = b.y = 0.0f;
        const float dx = b.x - a.x, dy = b.y - a.y;
        const int n = std::max(1, int(std::ceil(std::sqrt(dx * dx + dy * dy) * 2.0f)));
        bool want = true;
        for (int i = 0; i <= n && want; ++i) {
            const float t = float(i) / float(n);
            want = sparse.freeAt(int(std::floor(a.x + t * dx)), int(std::floor(a.y + t * dy)));
        }
        ASSERT_EQ(sparse.segmentFree(a, b), want) << a.x << "," << a.y << " " << b.x << "," << b.y;
        (want ? sparseFree : sparseBlocked)++;
    }
    EXPECT_GT(sparseFree, 300);
    EXPECT_GT(sparseBlocked, 300);
}

TEST(Islands, SplitShellsByDepth)
{
    // A 60-pixel square with a 12-pixel hole; p = 3, the perimeter 1.5 inside.
    Plane1 mask = maskWithRects(96, 96, {QRect(4, 4, 60, 60)});
    for (int y = 28; y < 40; ++y)
        for (int x = 28; x < 40; ++x)
            mask.setPixel(x, y, true);
    auto ring = [](int type, float inset) {
        return squareLoop(type, 4 + inset, 4 + inset, 64 - inset, 64 - inset);
    };
    // Around the hole the offset rounds the corners: an octagon.
    auto holeRing = [](int type, float inset) {
        const float c = inset / std::sqrt(2.0f);
        return line(type, {{28 - inset, 34}, {28 - c, 28 - c}, {34, 28 - inset},
                           {40 + c, 28 - c}, {40 + inset, 34}, {40 + c, 40 + c},
                           {34, 40 + inset}, {28 - c, 40 + c}}, true);
    };
    const PathList outlines = {ring(Loop, 10.5f), holeRing(Loop, 4.5f), ring(Perimeter, 1.5f),
                               ring(Loop, 4.5f),  holeRing(Perimeter, 1.5f), ring(Loop, 7.5f)};
    const QVector<PathList> shells = splitShells(mask, outlines, 3, 1.5f);
    ASSERT_EQ(shells.size(), 4);
    const int sizes[4] = {2, 2, 1, 1};
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(shells[k].size(), sizes[k]) << k;
    EXPECT_EQ(shells[3][0].pts[0], PolyPoint(14.5f, 14.5f));
    EXPECT_EQ(shells[1][0].pts[0], PolyPoint(23.5f, 34)); // around the hole
    for (const PolyLine &p : shells[0])
        EXPECT_EQ(p.type, Perimeter);
    // An absurd first offset either way (or NaN) puts every loop in shell 1
    // or the last, never converts an out-of-range float to int.
    for (float first : {1e30f, -1e30f, NAN}) {
        const QVector<PathList> s = splitShells(mask, outlines, 3, first);
        int loops = 0;
        for (int k = 1; k < s.size(); ++k)
            loops += s[k].size();
        EXPECT_EQ(loops, 4) << first;
        EXPECT_LE(s.size(), 1001) << first;
    }
}

TEST(Islands, NearestIslandFirstInnerShellsBeforePerimeterThenFill)
{
    // Two square islands; head near the right one.
    const Plane1 mask = maskWithRects(96, 32, {QRect(4, 4, 24, 24), QRect(60, 4, 24, 24)});
    QVector<PathList> shells(2);
    shells[0] = {squareLoop(Perimeter, 5, 5, 26, 26), squareLoop(Perimeter, 61, 5, 82, 26)};
    shells[1] = {squareLoop(Loop, 8, 8, 23, 23), squareLoop(Loop, 64, 8, 79, 23)};
    const PathList fill = {line(Infill, {{10, 10}, {20, 20}}), line(Infill, {{66, 10}, {76, 20}}),
                           line(Infill, {{66, 14}, {76, 14}})};
    PathList remaining = {line(OuterHair, {{40, 1}, {50, 1}})};
    const QVector<Island> islands = formIslands(mask, shells, fill, remaining);
    ASSERT_EQ(islands.size(), 2);
    EXPECT_EQ(remaining.size(), 1);
    EXPECT_EQ(islands[1].fill.size(), 2);

    SlicerParams sp;
    sp.PerimeterGap = 0;
    PolyPoint head{90, 16};
    PathList out;
    processIslands(sp, 3.003f, 1.8f, islands, remaining, head, out, &mask);
    QVector<int> types;
    for (const PolyLine &p : out)
        if (p.type != Travel)
            types.append(p.type);
    // Right island: loop, perimeter, fill (joined or not); then the left one.
    ASSERT_GE(types.size(), 7);
    EXPECT_EQ(types[0], Loop);
    EXPECT_EQ(types[1], Perimeter);
    for (const PolyLine &p : out) {
        if (p.type != Travel) {
            EXPECT_GT(p.pts.first().x, 60);
            break;
        }
    }
    int firstLeft = -1;
    for (int i = 0; i < out.size(); ++i)
        if (out[i].type != Travel && out[i].pts.first().x < 40 && firstLeft < 0)
            firstLeft = i;
    ASSERT_GT(firstLeft, 0);
    EXPECT_EQ(out[firstLeft].type, Loop);
    EXPECT_EQ(out.last().type, OuterHair);
}

// The next island is the one holding the vertex nearest to the head, ties to
// the lower island index, for any number of islands (found through a grid of
// vertices, checked here against a scan of all of them at every step).
TEST(Islands, NearestIslandAmongManyMatchesAFullScan)
{
    std::mt19937 rng(7);
    for (int layout = 0; layout < 3; ++layout) {
        QVector<Island> islands;
        for (int j = 0; j < 30; ++j)
            for (int i = 0; i < 30; ++i) {
                // Layout 0: a regular grid (many equal distances); 1: jittered;
                // 2: all on one line.
                float x = 20.0f * i, y = layout == 2 ? 0.0f : 20.0f * j;
                if (layout == 1) {
                    x += float(rng() % 1000) * 0.01f;
                    y += float(rng() % 1000) * 0.01f;
                }
                if (layout == 2)
                    x += 600.0f * j;
                // One fill line each, further apart than fill lines join.
                Island isl;
                isl.fill = {line(Infill, {{x, y}, {x + 1, y}})};
                islands.append(isl);
            }
        for (const PolyPoint start : {PolyPoint{0, 0}, PolyPoint{290, 290}, PolyPoint{10.5f, 0}, PolyPoint{-1000, 5},
                                      PolyPoint{1e6f, -1e6f}}) {
            PolyPoint head = start;
            PathList out;
            SlicerParams sp;
            sp.PerimeterGap = 0;
            processIslands(sp, 3.003f, 1.8f, islands, {}, head, out);
            ASSERT_EQ(out.size(), islands.size());
            std::vector<bool> done(size_t(islands.size()), false);
            PolyPoint h = start;
            for (const PolyLine &path : out) {
                int want = -1;
                float best = 1e30f;
                for (int k = 0; k < islands.size(); ++k) {
                    if (done[size_t(k)])
                        continue;
                    for (const PolyPoint &q : islands[k].fill[0].pts) {
                        const float dx = q.x - h.x, dy = q.y - h.y, d = dx * dx + dy * dy;
                        if (d < best) {
                            best = d;
                            want = k;
                        }
                    }
                }
                ASSERT_GE(want, 0);
                const PolyLine &w = islands[want].fill[0];
                const bool same = (path.pts.first() == w.pts.first() && path.pts.last() == w.pts.last())
                    || (path.pts.first() == w.pts.last() && path.pts.last() == w.pts.first());
                ASSERT_TRUE(same) << "layout " << layout << " start " << start.x << "," << start.y
                                  << ": wanted island " << want;
                done[size_t(want)] = true;
                h = path.pts.last();
            }
        }
    }
}

TEST(Islands, TravelInsideAUShapedIsland)
{
    const Plane1 mask = uMask();
    QVector<PathList> shells(1);
    // Fill lines at the tips of both arms.
    const PathList fill = {line(Infill, {{12, 10}, {20, 10}}), line(Infill, {{44, 10}, {52, 10}})};
    PathList remaining;
    const QVector<Island> islands = formIslands(mask, shells, fill, remaining);
    ASSERT_EQ(islands.size(), 1);
    PolyPoint head{12, 9};
    PathList out;
    processIslands(SlicerParams(), 3.003f, 1.8f, islands, remaining, head, out, &mask);
    ASSERT_EQ(out.size(), 3);
    EXPECT_EQ(out[1].type, Travel);
    const TravelRouter router(mask);
    expectRouteInside(router, out[1], out[0].pts.last(), out[2].pts.first());
}

TEST(Islands, TravelAfterALoopStartsWhereTheLoopEnds)
{
    // The head is nudged off a loop's end for the search; the routed travel
    // must still leave from the nozzle's real position.
    const Plane1 mask = uMask();
    QVector<PathList> shells(1);
    shells[0] = {squareLoop(Perimeter, 10, 10, 21, 40)};
    const PathList fill = {line(Infill, {{44, 10}, {52, 10}})}; // in the other arm
    SlicerParams sp;
    PolyPoint head{10, 9};
    PathList out;
    orderLayer(sp, 3.003f, 1.8f, mask, &mask, shells, fill, {}, head, out);
    ASSERT_EQ(out.size(), 3);
    EXPECT_EQ(out[0].type, Perimeter);
    ASSERT_EQ(out[1].type, Travel);
    const TravelRouter router(mask);
    expectRouteInside(router, out[1], out[0].pts.last(), out[2].pts.first());
}

TEST(Islands, FillJoinsLessWithConcentricShells)
{
    const Plane1 mask = maskWithRects(64, 32, {QRect(2, 2, 40, 20)});
    QVector<PathList> shells(1);
    // Two shell lines whose ends are 2 units apart (Manhattan).
    const PathList fill = {line(HShell, {{5, 5}, {30, 5}}), line(HShell, {{30, 7}, {5, 7}})};
    for (int type : {0, 1}) {
        SlicerParams sp;
        sp.HShellType = type;
        PolyPoint head{4, 5};
        PathList out;
        orderLayer(sp, 3.003f, 1.8f, mask, &mask, shells, fill, {}, head, out);
        // Join reach: 2.5 p for line shells, 0.5 p for concentric ones.
        EXPECT_EQ(out.size(), type == 0 ? 1 : 2) << type;
    }
}

TEST(Islands, UndeterminableIslandStopsSlicing)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Island isl;
    isl.fill = {line(Infill, {{nan, nan}, {nan, nan}})};
    PolyPoint head{0, 0};
    PathList out;
    try {
        processIslands(SlicerParams(), 3.003f, 1.8f, {isl}, {}, head, out);
        ADD_FAILURE();
    } catch (const QString &m) {
        EXPECT_EQ(m, QString("FATAL ERROR: processIslands_and_RemainingHairs() islandIdx<0 1"));
    }
}

// The grid of path ends against findNearest on the shrinking pool, step by
// step: open and closed paths, ends shared by several paths and on cell
// borders (ties), heads near the ends, between them and far outside, radii
// from below a cell to beyond the pool.
TEST(PathOrder, NearestEndsGiveFindNearestsAnswer)
{
    std::mt19937 rng(11);
    auto coord = [&](float span) { return float(int(rng() % 4000)) / 4000.0f * span; };
    for (int round = 0; round < 40; ++round) {
        const float span = round % 3 == 0 ? 10.0f : 400.0f;
        PathList pool;
        const int n = 40 + int(rng() % 80);
        for (int i = 0; i < n; ++i) {
            PolyLine pl(Infill);
            const int pts = 1 + int(rng() % 4);
            for (int k = 0; k < pts; ++k)
                pl.pts.append(i % 7 == 3 && k == 0 && !pool.isEmpty() ? pool[0].pts[0] // a shared end
                                                                      : PolyPoint(coord(span), coord(span)));
            pl.closed = rng() % 4 == 0;
            pool.append(pl);
        }
        const float a = round % 4 == 0 ? 0.01f : round % 4 == 1 ? 2.0f : round % 4 == 2 ? 30.0f : 1e4f;
        const bool reverse = round % 2 == 0;
        const NearestEnds grid(pool, a, reverse);
        NearestEnds ends = grid;
        ASSERT_TRUE(ends.valid());
        std::vector<int> ids(size_t(pool.size()));
        for (int i = 0; i < pool.size(); ++i)
            ids[size_t(i)] = i;
        PolyPoint head(coord(span), coord(span));
        for (int step = 0; !pool.isEmpty(); ++step) {
            if (step % 5 == 4)
                head = PolyPoint(coord(3 * span) - span, -coord(span)); // outside the pool
            int v1 = -1, v2 = -1;
            const int want = findNearest(pool, a, head, reverse, &v1);
            const int got = ends.find(head, &v2);
            ASSERT_GE(want, 0);
            ASSERT_EQ(got, ids[size_t(want)]) << "round " << round << " step " << step;
            ASSERT_EQ(v2, v1) << "round " << round << " step " << step;
            const PolyLine taken = pool.takeAt(want);
            ids.erase(ids.begin() + want);
            ends.remove(got);
            head = taken.pts[v1];
            if (step % 3 == 1)
                head = head + PolyPoint(a * 0.5f, -a * 0.7f); // inside or near the radius
        }
        EXPECT_EQ(ends.find(head, nullptr), -1);
    }
    // An end exactly on the radius stops the search (a = 2: radius 3), though
    // a later one is nearer.
    PathList line;
    for (int i = 0; i < 40; ++i) {
        PolyLine pl(Infill);
        pl.pts = {PolyPoint(i == 0 ? 5.0f : i == 1 ? 3.0f : i == 2 ? 1.0f : 50.0f + i, 0), PolyPoint(90, 90)};
        line.append(pl);
    }
    int vertex = -1;
    ASSERT_EQ(findNearest(line, 2.0f, PolyPoint(0, 0), false, &vertex), 1);
    EXPECT_EQ(NearestEnds(line, 2.0f, false).find(PolyPoint(0, 0), &vertex), 1);
    // The first end within the radius just inside it, a nearer later one:
    // the first wins wherever the grid's cell borders fall around it.
    for (int step = 0; step < 400; ++step) {
        const float hx = 10.0f + 0.01f * float(step);
        PathList pool;
        std::vector<PolyPoint> ends = {PolyPoint(hx + 2.995f, 7), PolyPoint(hx + 0.9f, 7)};
        for (int i = 0; i < 15; ++i) // far from the head; cells about the radius wide
            for (int j = 0; j < 14; ++j)
                ends.push_back(PolyPoint(2.1f * float(i), 15.0f + 2.1f * float(j)));
        for (const PolyPoint e : ends) {
            PolyLine pl(Infill);
            pl.pts = {e, PolyPoint(200, 200)};
            pool.append(pl);
        }
        const PolyPoint head(hx, 7);
        ASSERT_EQ(findNearest(pool, 2.0f, head, false, &vertex), 0);
        ASSERT_EQ(NearestEnds(pool, 2.0f, false).find(head, &vertex), 0) << hx;
    }
    // Ends that are not finite: the grid declines.
    PathList bad;
    PolyLine pl(Infill);
    pl.pts = {PolyPoint(NAN, 0), PolyPoint(1, 1)};
    bad.append(pl);
    EXPECT_FALSE(NearestEnds(bad, 1.0f, true).valid());
}
