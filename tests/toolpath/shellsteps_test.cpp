#include "toolpath/shellsteps.h"

#include "params/slicerparams.h"
#include "raster/contourdetect3.h"
#include "toolpath/distancestep.h"
#include "fixtures/rasterfixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <omp.h>

namespace {

const float P = testGrid().widthInPixels;

ShellStepsResult runShells(const Plane8 &cov, const SlicerParams &sp)
{
    ShellStepsResult r;
    OffsetScratch s;
    shellSteps(testGrid(), cov, sp, r, s);
    return r;
}

PathList ofType(const PathList &l, int type)
{
    PathList out;
    for (const PolyLine &p : l)
        if (p.type == type)
            out.append(p);
    return out;
}

// Outline of `type` that encloses (cx, cy): the crossing pair around cx.
bool edgesAround(const PathList &outlines, float cx, float y, float *left, float *right)
{
    for (const PolyLine &o : outlines) {
        const QVector<float> xs = crossingsAtY(o, y);
        for (int i = 0; i + 1 < xs.size(); i += 2)
            if (xs[i] < cx && xs[i + 1] > cx) {
                *left = xs[i];
                *right = xs[i + 1];
                return true;
            }
    }
    return false;
}

} // namespace

TEST(ShellSteps, SquareLoopsLieWholeWidthsInside)
{
    Plane8 cov = emptyCoverage(256, 256);
    paintRect(cov, 64, 64, 192, 192);
    SlicerParams sp;
    sp.VShellCnt = 3;
    const ShellStepsResult r = runShells(cov, sp);
    const PathList per = ofType(r.outlines, Perimeter), loops = ofType(r.outlines, Loop);
    ASSERT_EQ(per.size(), 1);
    EXPECT_TRUE(per[0].closed);
    EXPECT_TRUE(r.hairs.isEmpty());
    // Shell s has its centre line (s + 0.5) widths inside, on every straight side.
    for (float y : {90.0f, 128.0f, 170.0f}) {
        float l, rr;
        ASSERT_TRUE(edgesAround(per, 128, y, &l, &rr));
        EXPECT_NEAR(l, 64 + 0.5f * P, 0.05f * P) << y;
        EXPECT_NEAR(rr, 192 - 0.5f * P, 0.05f * P) << y;
        for (int s = 1; s <= 2; ++s) {
            PathList one;
            for (const PolyLine &o : loops) {
                float a, b;
                if (edgesAround({o}, 128, y, &a, &b) && std::fabs(a - (64 + (s + 0.5f) * P)) < P / 2)
                    one.append(o);
            }
            ASSERT_EQ(one.size(), 1) << "loop " << s;
            ASSERT_TRUE(edgesAround(one, 128, y, &l, &rr));
            EXPECT_NEAR(l, 64 + (s + 0.5f) * P, 0.05f * P) << s;
            EXPECT_NEAR(rr, 192 - (s + 0.5f) * P, 0.05f * P) << s;
        }
    }
    EXPECT_EQ(loops.size(), 2);
    ASSERT_EQ(r.shells.size(), 3);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(r.shells[k].size(), 1);
        EXPECT_EQ(r.shells[k][0].type, k == 0 ? int(Perimeter) : int(Loop));
    }
    // The infill region starts half a width inside the last loop.
    EXPECT_FALSE(r.infill.pixel(64 + int(3.0f * P) - 1, 128));
    EXPECT_TRUE(r.infill.pixel(64 + int(3.0f * P) + 1, 128));
    EXPECT_TRUE(r.infill.pixel(128, 128));
}

TEST(ShellSteps, LoopsLieWholeWidthsApartOverSubPixelPhases)
{
    // Each step lands one width after the previous outline: the pixel grid
    // may move a single edge by a few hundredths of a width, but not on
    // average, or a gap opens between the perimeter and the first loop
    // (the step after the perimeter landed 1.00 … 1.04 width in).
    SlicerParams sp;
    sp.VShellCnt = 3;
    const QVector<float> phases{0.0f, 0.25f, 0.5f, 0.75f};
    float sum[3] = {0, 0, 0};
    for (float phase : phases) {
        Plane8 cov = emptyCoverage(256, 256);
        const float x0 = 64 + phase, x1 = 192 + phase;
        paintRect(cov, x0, 64, x1, 192);
        const ShellStepsResult r = runShells(cov, sp);
        ASSERT_EQ(r.shells.size(), 3) << phase;
        float prevL = x0, prevR = x1;
        for (int k = 0; k < 3; ++k) {
            float l, rr;
            ASSERT_TRUE(edgesAround(r.shells[k], 128, 128, &l, &rr)) << phase << " " << k;
            const float step = k == 0 ? 0.5f * P : P;
            EXPECT_NEAR(l - prevL, step, 0.045f * P) << "phase " << phase << " shell " << k;
            EXPECT_NEAR(prevR - rr, step, 0.045f * P) << "phase " << phase << " shell " << k;
            sum[k] += (l - prevL) + (prevR - rr) - 2 * step;
            prevL = l;
            prevR = rr;
        }
    }
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(sum[k] / (2 * phases.size()), 0.0f, 0.01f * P) << "shell " << k;
}

TEST(ShellSteps, ShellsKeepSquareCornersOfASquare)
{
    // The blur rounds convex corners; the perimeter and loops put them back
    // where their straight sides meet, so the wall band's corners are
    // filled (RepairCorners stays off). Around a hole (corners reflex for
    // the material) the perimeter is mitred too: the beads of an arc's
    // chords would reach into the hole. The loops keep their traced shape.
    SlicerParams sp;
    sp.VShellCnt = 3;
    Plane8 cov = emptyCoverage(256, 256);
    paintRect(cov, 64, 64, 192, 192);
    Plane8 hole = emptyCoverage(256, 256);
    paintRect(hole, 112, 112, 144, 144);
    for (int i = 0; i < cov.width * cov.height; ++i)
        cov.data[i] = uchar(cov.data[i] - hole.data[i]);
    const ShellStepsResult r = runShells(cov, sp);
    ASSERT_EQ(r.shells.size(), 3);
    for (int k = 0; k < 3; ++k) {
        const float in = (k + 0.5f) * P;
        struct Case { float x, y; bool sharp; };
        const Case cases[] = {{64 + in, 64 + in, true}, {192 - in, 192 - in, true},
                              {112 - in, 112 - in, k == 0}, {144 + in, 144 + in, k == 0}};
        for (const Case &c : cases) {
            float best = 1e9f;
            for (const PolyLine &o : r.shells[k])
                for (const PolyPoint &q : o.pts)
                    best = std::min(best, std::hypot(q.x - c.x, q.y - c.y));
            // A loop's reflex corner is an arc of radius `in` around the
            // hole's corner: no vertex comes near the square corner point.
            if (c.sharp)
                EXPECT_LT(best, 0.1f * P) << "shell " << k << " at " << c.x;
            else
                EXPECT_GT(best, 0.2f * in) << "shell " << k << " at " << c.x;
        }
    }
}

TEST(ShellSteps, ShellsKeepSixtyDegreeCorners)
{
    // At a 60-degree corner the rounding of several steps reaches far along
    // the sides; every shell still gets its corner where its sides meet.
    const float cx = 128, cy = 128, R = 60;
    float vx[3], vy[3];
    for (int i = 0; i < 3; ++i) {
        const float a = float(M_PI) * (0.5f + 2.0f * i / 3);
        vx[i] = cx + R * std::cos(a);
        vy[i] = cy + R * std::sin(a);
    }
    Plane8 cov = emptyCoverage(256, 256);
    paintTriangle(cov, vx, vy);
    SlicerParams sp;
    sp.VShellCnt = 3;
    const ShellStepsResult r = runShells(cov, sp);
    ASSERT_EQ(r.shells.size(), 3);
    for (int k = 0; k < 3; ++k) {
        // The inset triangle keeps the centre; its inradius is R / 2 - in.
        const float scale = (0.5f * R - (k + 0.5f) * P) / (0.5f * R);
        for (int i = 0; i < 3; ++i) {
            const float x = cx + (vx[i] - cx) * scale, y = cy + (vy[i] - cy) * scale;
            float best = 1e9f;
            for (const PolyLine &o : r.shells[k])
                for (const PolyPoint &q : o.pts)
                    best = std::min(best, std::hypot(q.x - x, q.y - y));
            EXPECT_LT(best, 0.2f * P) << "shell " << k << " corner " << i;
        }
    }
}

TEST(ShellSteps, CirclePerimeterRadius)
{
    Plane8 cov = emptyCoverage(256, 256);
    paintCircle(cov, 128.3f, 127.6f, 70);
    SlicerParams sp;
    sp.VShellCnt = 2;
    const ShellStepsResult r = runShells(cov, sp);
    const PathList per = ofType(r.outlines, Perimeter);
    ASSERT_EQ(per.size(), 1);
    double sum = 0, worst = 0;
    for (const PolyPoint &q : per[0].pts) {
        const double d = std::hypot(q.x - 128.3, q.y - 127.6) - (70 - 0.5 * P);
        sum += d;
        worst = std::max(worst, std::fabs(d));
    }
    EXPECT_NEAR(sum / per[0].size(), 0.0, 0.05 * P);
    EXPECT_LT(worst, 0.15 * P);
    EXPECT_GT(per[0].area(), 0);  // outer outlines run counter-clockwise
}

// Round walls, outside and in holes: the blur pulls an offset edge towards
// the centre of curvature (a fraction of a pixel on a small boss or hole).
TEST(ShellSteps, RoundWallsKeepTheirRadius)
{
    struct Case { float r; bool hole; };
    for (const Case c : {Case{9, false}, Case{15, false}, Case{30, false}, Case{70, false},
                         Case{9, true}, Case{15, true}, Case{30, true}}) {
        Plane8 cov = emptyCoverage(256, 256);
        const float cx = 128.3f, cy = 127.6f;
        paint(cov, [&](float x, float y) {
            const bool in = (x - cx) * (x - cx) + (y - cy) * (y - cy) < c.r * c.r;
            return c.hole ? !in && std::fabs(x - cx) < 100 && std::fabs(y - cy) < 100 : in;
        });
        SlicerParams sp;
        sp.VShellCnt = 2;
        const PathList per = ofType(runShells(cov, sp).outlines, Perimeter);
        ASSERT_EQ(per.size(), c.hole ? 2 : 1) << c.r;
        const PolyLine &o = c.hole ? (std::fabs(per[0].area()) < std::fabs(per[1].area()) ? per[0] : per[1]) : per[0];
        // The radius of the circle with the outline's area.
        const float radius = std::sqrt(std::fabs(o.area()) / float(M_PI));
        EXPECT_NEAR(radius, c.hole ? c.r + 0.5f * P : c.r - 0.5f * P, 0.04f * P) << c.r << " hole " << c.hole;
    }
}

TEST(ShellSteps, OneWidthWallBecomesOneOuterHair)
{
    // Vertical and horizontal walls one extrusion width thick.
    for (bool vertical : {true, false}) {
        Plane8 cov = emptyCoverage(256, 256);
        if (vertical)
            paintRect(cov, 100, 40, 100 + P, 200);
        else
            paintRect(cov, 40, 100, 200, 100 + P);
        SlicerParams sp;
        const ShellStepsResult r = runShells(cov, sp);
        ASSERT_EQ(r.hairs.size(), 1) << vertical;
        const PolyLine &h = r.hairs[0];
        EXPECT_EQ(h.type, int(OuterHair));
        EXPECT_FALSE(h.closed);
        ASSERT_EQ(h.w.size(), h.pts.size());
        for (int i = 0; i < h.size(); ++i) {
            const float across = vertical ? h.pts[i].x : h.pts[i].y;
            EXPECT_NEAR(across, 100 + P / 2, 0.2f);
            EXPECT_NEAR(h.w[i], P, 0.2f * P);
        }
        EXPECT_GT(h.length(), 150);
        EXPECT_TRUE(r.outlines.isEmpty());
        EXPECT_EQ(countSet(r.infill), 0);
    }
}

TEST(ShellSteps, SlantedWallHairKeepsItsWidth)
{
    for (float deg : {30.0f, 45.0f, 70.0f}) {
        const float a = deg * 3.14159265f / 180, ux = std::cos(a), uy = std::sin(a);
        const float cx = 128, cy = 128;
        Plane8 cov = emptyCoverage(256, 256);
        paint(cov, [=](float x, float y) {
            const float along = (x - cx) * ux + (y - cy) * uy;
            const float across = -(x - cx) * uy + (y - cy) * ux;
            return std::fabs(along) < 80 && std::fabs(across) < P / 2;
        });
        const ShellStepsResult r = runShells(cov, SlicerParams());
        ASSERT_EQ(r.hairs.size(), 1) << deg;
        const PolyLine &h = r.hairs[0];
        EXPECT_GT(h.length(), 130) << deg;
        for (int i = 0; i < h.size(); ++i) {
            const float across = -(h.pts[i].x - cx) * uy + (h.pts[i].y - cy) * ux;
            const float along = (h.pts[i].x - cx) * ux + (h.pts[i].y - cy) * uy;
            // The end caps cut the row runs short, which pulls the last
            // vertex sideways by up to half the width.
            EXPECT_NEAR(across, 0, std::fabs(along) < 75 ? 0.3f : P / 2) << deg << " along " << along;
            if (std::fabs(along) < 70) {
                EXPECT_NEAR(h.w[i], P, 0.2f * P) << deg;
            }
        }
        EXPECT_TRUE(r.outlines.isEmpty()) << deg;
    }
}

TEST(ShellSteps, ThreeWidthWallGetsInnerHairDownTheMiddle)
{
    Plane8 cov = emptyCoverage(256, 256);
    paintRect(cov, 100, 40, 100 + 3 * P, 200);
    SlicerParams sp;
    sp.VShellCnt = 2;
    const ShellStepsResult r = runShells(cov, sp);
    const PathList per = ofType(r.outlines, Perimeter);
    ASSERT_EQ(per.size(), 1);
    float l, rr;
    ASSERT_TRUE(edgesAround(per, 100 + 1.5f * P, 120, &l, &rr));
    EXPECT_NEAR(l, 100 + 0.5f * P, 0.05f * P);
    EXPECT_NEAR(rr, 100 + 2.5f * P, 0.05f * P);
    const PathList inner = ofType(r.hairs, InnerHair);
    ASSERT_EQ(inner.size(), 1);
    EXPECT_TRUE(ofType(r.hairs, OuterHair).isEmpty());
    EXPECT_GT(inner[0].length(), 100);
    for (int i = 0; i < inner[0].size(); ++i)
        EXPECT_NEAR(inner[0].pts[i].x, 100 + 1.5f * P, 0.25f);
    // The hair tapers where the wall's ends round off; in between it fills
    // the gap between the perimeter's sides.
    const PolyLine &h = inner[0];
    for (float y : {60.5f, 100.5f, 140.5f, 180.5f}) {
        bool found = false;
        for (int i = 0; i + 1 < h.size(); ++i) {
            const PolyPoint a = h.pts[i], b = h.pts[i + 1];
            if ((a.y <= y) != (b.y <= y)) {
                found = true;
                EXPECT_NEAR(h.w[i] + (h.w[i + 1] - h.w[i]) * (y - a.y) / (b.y - a.y), P, 0.2f * P) << y;
            }
        }
        EXPECT_TRUE(found) << y;
    }
    // Nothing else covers the middle.
    for (const PolyLine &o : ofType(r.outlines, Loop))
        EXPECT_LT(std::fabs(o.area()), minOutlineArea(P) * 4);
    EXPECT_EQ(countSet(r.infill), 0);
}

TEST(ShellSteps, HairSwitchesAndDegenerateInput)
{
    Plane8 cov = emptyCoverage(128, 128);
    paintRect(cov, 20, 20, 20 + P, 110);        // a one-width wall
    paintRect(cov, 60, 20, 60 + 3 * P, 110);    // a three-width wall
    SlicerParams sp;
    sp.OuterHair = false;
    sp.InnerHair = false;
    EXPECT_TRUE(runShells(cov, sp).hairs.isEmpty());

    // VShellCnt 1: a perimeter and no loops.
    SlicerParams one;
    one.VShellCnt = 1;
    Plane8 sq = emptyCoverage(128, 128);
    paintRect(sq, 30, 30, 90, 90);
    const ShellStepsResult r1 = runShells(sq, one);
    EXPECT_EQ(ofType(r1.outlines, Perimeter).size(), 1);
    EXPECT_TRUE(ofType(r1.outlines, Loop).isEmpty());

    // Empty planes, a speck, a region touching the border, odd parameters.
    SlicerParams odd;
    odd.VShellOffset = 1;      // asks for an outward step the blur cannot make
    odd.VShellCnt = -2;
    odd.LoopFillOverlap = -5;
    Plane8 edge = emptyCoverage(64, 64);
    paintRect(edge, 0, 0, 64, 30);
    edge.data[50 * 64 + 50] = 255;
    SlicerParams huge;
    huge.VShellCnt = 1000000;  // stops once the region is used up
    for (const SlicerParams &p : {SlicerParams(), odd, huge}) {
        for (const Plane8 *pl : {&edge}) {
            ShellStepsResult r;
            OffsetScratch s;
            EXPECT_NO_THROW(shellSteps(testGrid(), *pl, p, r, s));
            for (const PolyLine &o : r.outlines)
                for (const PolyPoint &q : o.pts)
                    EXPECT_TRUE(q.x >= -1 && q.x <= 65 && q.y >= -1 && q.y <= 65);
        }
        ShellStepsResult r;
        OffsetScratch s;
        EXPECT_NO_THROW(shellSteps(testGrid(), emptyCoverage(32, 32), p, r, s));
        EXPECT_TRUE(r.outlines.isEmpty());
        EXPECT_EQ(countSet(r.infill), 0);
    }
}

// VShellOffset=1e9 overflowed an int in the blur window choice, so a step
// far beyond reach took the smallest window instead of the largest.
TEST(ShellSteps, OffsetFarBeyondReachActsLikeOneJustBeyond)
{
    Plane8 cov = emptyCoverage(128, 128);
    paintRect(cov, 30, 30, 98, 98);
    for (float sign : {1.0f, -1.0f}) {
        SlicerParams near, far;
        near.VShellOffset = sign * 1e3f;
        far.VShellOffset = sign * 1e9f;
        const ShellStepsResult a = runShells(cov, near), b = runShells(cov, far);
        ASSERT_EQ(a.outlines.size(), b.outlines.size()) << sign;
        for (int i = 0; i < a.outlines.size(); ++i)
            EXPECT_EQ(a.outlines[i].pts, b.outlines[i].pts) << sign << " outline " << i;
        EXPECT_EQ(countSet(a.infill), countSet(b.infill)) << sign;
    }
}

TEST(ShellSteps, RepairCornersSharpensRoundedCorners)
{
    Plane8 cov = emptyCoverage(128, 128);
    paintRect(cov, 30, 30, 98, 98);
    SlicerParams sp;
    sp.VShellCnt = 1;
    sp.RepairCorners = true;
    const PathList per = ofType(runShells(cov, sp).outlines, Perimeter);
    ASSERT_EQ(per.size(), 1);
    // Every corner of the perimeter is back at the square's corner.
    const float in = 0.5f * P;
    for (PolyPoint c : {PolyPoint(30 + in, 30 + in), PolyPoint(98 - in, 30 + in),
                        PolyPoint(98 - in, 98 - in), PolyPoint(30 + in, 98 - in)}) {
        float best = 1e9f;
        for (const PolyPoint &q : per[0].pts)
            best = std::min(best, std::hypot(q.x - c.x, q.y - c.y));
        EXPECT_LT(best, 0.3f);
    }
}

TEST(ShellSteps, LoopFillOverlapMovesTheInfillEdge)
{
    Plane8 cov = emptyCoverage(128, 128);
    paintRect(cov, 20, 20, 108, 108);
    auto leftEdge = [](const Plane1 &m) {
        for (int x = 0; x < m.width; ++x)
            if (m.pixel(x, 64))
                return x;
        return -1;
    };
    SlicerParams sp;
    const int base = leftEdge(runShells(cov, sp).infill);
    ASSERT_GT(base, 20);
    for (int overlap : {-2, 1, 3}) {
        sp.LoopFillOverlap = overlap;  // thirds of a width = pixels; positive grows
        EXPECT_EQ(leftEdge(runShells(cov, sp).infill), base - overlap) << overlap;
    }
}

TEST(ShellSteps, WallOnABlockKeepsClearOfThePerimeter)
{
    // A block with a one-width fin standing out of it, and a pointed tab.
    Plane8 cov = emptyCoverage(256, 256);
    paintRect(cov, 40, 40, 120, 120);
    paintRect(cov, 120, 78, 200, 78 + P);
    paint(cov, [](float x, float y) { return y > 120 && y < 190 && std::fabs(x - 80) < (190 - y) * 0.12f; });
    const ShellStepsResult r = runShells(cov, SlicerParams());
    const PathList outer = ofType(r.hairs, OuterHair);
    ASSERT_GE(outer.size(), 2);
    bool fin = false, tip = false;
    for (const PolyLine &h : outer) {
        fin |= h.pts.first().y > 77 && h.pts.first().y < 82 && h.length() > 60;
        // The tab is under one width wide for its last 25 pixels (from y =
        // 177.5); a hair runs from there to where it is a third of a width.
        float lo = 1e9f, hi = -1e9f;
        for (const PolyPoint &q : h.pts) {
            lo = std::min(lo, q.y);
            hi = std::max(hi, q.y);
        }
        tip |= std::fabs(h.pts.first().x - 80) < 1 && lo <= 177.5f && hi >= 185;
    }
    EXPECT_TRUE(fin);
    EXPECT_TRUE(tip);
    // No outline passes closer to a hair than the two half widths (where a
    // hair tapers out to nothing it may end at a loop's tip). At the fin's
    // root the perimeter, the exact offset of block and fin, bends towards
    // the fin by up to (sqrt 2 - 1) half widths. Where a hair starts at the
    // tip of a loop narrowing along the tab, the loop's last sliver (thinner
    // than the pixel centres see) may reach half a pixel further.
    const float root = (std::sqrt(2.0f) - 1) * P / 2;
    for (const PolyLine &h : r.hairs)
        for (int i = 0; i < h.size(); ++i)
            if (h.w[i] >= P / 2) {
                const bool atRoot = (std::fabs(h.pts[i].x - 120) < 1 && std::fabs(h.pts[i].y - 79.5f) < 1)
                                    || (h.type == InnerHair && (i == 0 || i == h.size() - 1));
                for (PolyLine o : r.outlines) {
                    o.openLoop();  // sample the segments, not only the vertices
                    for (const PolyPoint &q : o.splitLongSegs(0.5f).pts)
                        ASSERT_GT(std::hypot(q.x - h.pts[i].x, q.y - h.pts[i].y),
                                  (h.w[i] + P) / 2 - 0.5f - (atRoot ? std::max(root, 0.5f) : 0));
                }
            }
}

TEST(ShellSteps, SameResultForAnyThreadCount)
{
    Plane8 cov = emptyCoverage(512, 256);
    for (int i = 0; i < 6; ++i)
        paintCircle(cov, 50 + 80 * i, 128, 20 + 6 * i);
    paintRect(cov, 20, 20, 480, 20 + P);
    const int before = omp_get_max_threads();
    omp_set_num_threads(1);
    const ShellStepsResult a = runShells(cov, SlicerParams());
    omp_set_num_threads(3);
    const ShellStepsResult b = runShells(cov, SlicerParams());
    omp_set_num_threads(before);
    ASSERT_EQ(a.outlines.size(), b.outlines.size());
    for (int i = 0; i < a.outlines.size(); ++i)
        EXPECT_EQ(a.outlines[i].pts, b.outlines[i].pts);
    ASSERT_EQ(a.hairs.size(), b.hairs.size());
    for (int i = 0; i < a.hairs.size(); ++i)
        EXPECT_EQ(a.hairs[i].pts, b.hairs[i].pts);
    EXPECT_TRUE(a.infill == b.infill);
}

// The scratch keeps the working plane between layers and copies only the
// blocks that changed: a layer after others (a larger section, a smaller
// one, one of another size) must come out as with a fresh scratch.
TEST(ShellSteps, ReusedScratchGivesTheFreshResult)
{
    Plane8 big = emptyCoverage(256, 192), small = emptyCoverage(256, 192), other = emptyCoverage(128, 64);
    paintRect(big, 20, 20, 230, 170);
    paintCircle(small, 100, 90, 40);
    paintRect(small, 150, 30, 150 + P, 160);
    paintCircle(other, 60, 30, 20);
    const SlicerParams sp;
    OffsetScratch s;
    for (const Plane8 *cov : {&big, &big, &small, &small, &other, &big}) {
        ShellStepsResult reused;
        shellSteps(testGrid(), *cov, sp, reused, s);
        const ShellStepsResult fresh = runShells(*cov, sp);
        ASSERT_EQ(reused.outlines.size(), fresh.outlines.size());
        for (int i = 0; i < fresh.outlines.size(); ++i)
            EXPECT_EQ(reused.outlines[i].pts, fresh.outlines[i].pts);
        ASSERT_EQ(reused.hairs.size(), fresh.hairs.size());
        for (int i = 0; i < fresh.hairs.size(); ++i)
            EXPECT_EQ(reused.hairs[i].pts, fresh.hairs[i].pts);
        EXPECT_TRUE(reused.infill == fresh.infill);
    }
}

// On the section in place: the same result as on a copy, and the plane
// left holding the region inside the innermost loop, described by the
// summary (the next layer's fill trusts it); one scratch for all, as a
// driver thread keeps it, and a summary of another size is made anew.
TEST(ShellSteps, InPlaceGivesTheSameResultAndLeavesTheInnerRegion)
{
    Plane8 big = emptyCoverage(256, 192), small = emptyCoverage(256, 192), other = emptyCoverage(128, 64);
    paintRect(big, 20, 20, 230, 170);
    paintCircle(small, 100, 90, 40);
    paintRect(small, 150, 30, 150 + P, 160);
    paintCircle(small, 200, 60, 0.7f * P);
    paintCircle(other, 60, 30, 20);
    SlicerParams sp;
    for (int overlap : {0, 1}) {
        sp.LoopFillOverlap = overlap;
        OffsetScratch s;
        for (const Plane8 *cov : {&big, &small, &other, &small}) {
            const ShellStepsResult copy = runShells(*cov, sp);
            Plane8 work = *cov, summary = cov == &other ? Plane8() : cov->blockSummary();
            ShellStepsResult r;
            shellStepsInPlace(testGrid(), work, summary, sp, r, s);
            ASSERT_EQ(r.outlines.size(), copy.outlines.size());
            for (int i = 0; i < copy.outlines.size(); ++i)
                EXPECT_EQ(r.outlines[i].pts, copy.outlines[i].pts);
            ASSERT_EQ(r.hairs.size(), copy.hairs.size());
            for (int i = 0; i < copy.hairs.size(); ++i)
                EXPECT_EQ(r.hairs[i].pts, copy.hairs[i].pts);
            EXPECT_TRUE(r.infill == copy.infill);
            EXPECT_EQ(summary, work.blockSummary());
            Plane1 inner;
            inner.fromPlane8(work, 128, false);
            if (overlap != 0)
                inner = inner.offsetBy(overlap);
            EXPECT_TRUE(inner == r.infill);
            EXPECT_FALSE(r.hairs.isEmpty() && cov == &small) << "the thin wall and the pin make hairs";
        }
    }
}

TEST(ShellSteps, ShellOffsetMovesThePerimeter)
{
    Plane8 cov = emptyCoverage(128, 128);
    paintRect(cov, 20, 20, 108, 108);
    for (float off : {-0.05f, 0.05f}) {
        SlicerParams sp;
        sp.VShellOffset = off;  // the first step becomes 0.5 p - off p²
        const PathList per = ofType(runShells(cov, sp).outlines, Perimeter);
        ASSERT_EQ(per.size(), 1);
        float l, rr;
        ASSERT_TRUE(edgesAround(per, 64, 64, &l, &rr));
        EXPECT_NEAR(l, 20 + 0.5f * P - off * P * P, 0.05f * P) << off;
    }
}

TEST(ShellSteps, WallsOfAnyThicknessAreFilledOnce)
{
    // Across a long wall, the widths of all paths crossing its middle add up
    // to the wall's thickness: nothing left empty, nothing drawn twice.
    for (float ew : {1.0f, 1.5f, 1.58f, 2.0f, 2.5f, 3.0f, 4.0f, 5.0f}) {
        const float t = ew * P;
        Plane8 cov = emptyCoverage(128, 256);
        paintRect(cov, 40, 20, 40 + t, 236);
        SlicerParams sp;
        sp.VShellCnt = 6;  // more shells than any of these walls takes
        const ShellStepsResult r = runShells(cov, sp);
        float sum = 0;
        for (const PolyLine &o : r.outlines)
            sum += crossingsAtY(o, 128.5f).size() * P;
        for (const PolyLine &h : r.hairs) {
            for (int i = 0; i + 1 < h.size(); ++i) {
                const PolyPoint a = h.pts[i], b = h.pts[i + 1];
                if ((a.y <= 128.5f) != (b.y <= 128.5f))
                    sum += h.w[i] + (h.w[i + 1] - h.w[i]) * (128.5f - a.y) / (b.y - a.y);
            }
        }
        EXPECT_NEAR(sum, t, 0.25f * P) << ew << " widths";
        EXPECT_EQ(countSet(r.infill), 0) << ew;
    }
}

// The perimeter is half a width inside a straight side whatever its
// direction; the box blur alone leaves it 0.1 width too far out at 45°.
TEST(ShellSteps, PerimeterDistanceDoesNotDependOnEdgeDirection)
{
    const float cx = 160.3f, cy = 159.7f, half = 90;
    for (float deg : {0.0f, 10.0f, 22.5f, 30.0f, 37.0f, 45.0f, 60.0f, 135.0f}) {
        const float a = deg * float(M_PI) / 180, c = std::cos(a), s = std::sin(a);
        // (u, v): coordinates across and along the square's sides.
        auto uv = [=](PolyPoint q) { return PolyPoint((q.x - cx) * c + (q.y - cy) * s, -(q.x - cx) * s + (q.y - cy) * c); };
        Plane8 cov = emptyCoverage(320, 320);
        paint(cov, [&](float x, float y) {
            const PolyPoint q = uv(PolyPoint(x, y));
            return std::fabs(q.x) < half && std::fabs(q.y) < half;
        });
        SlicerParams sp;
        sp.VShellCnt = 2;
        const PathList per = ofType(runShells(cov, sp).outlines, Perimeter);
        ASSERT_EQ(per.size(), 1) << deg;
        // Where the perimeter crosses lines across the side u = -half, away
        // from the corners.
        const PolyLine &o = per[0];
        int hits = 0;
        for (int i = 0; i < o.pts.size(); ++i) {
            const PolyPoint A = uv(o.pts[i]), B = uv(o.pts[(i + 1) % o.pts.size()]);
            for (float v : {-31.3f, -12.1f, 0.0f, 17.7f, 33.2f})
                if (A.x < 0 && B.x < 0 && (A.y <= v) != (B.y <= v)) {
                    const float u = A.x + (v - A.y) / (B.y - A.y) * (B.x - A.x);
                    EXPECT_NEAR((u + half) / P, 0.5f, 0.03f) << deg << " at " << v;
                    ++hits;
                }
        }
        EXPECT_EQ(hits, 5) << deg;
    }
}

// Each side of a triangle is one chord of the simplified perimeter; its ends
// sit by the rounded corners. The chord must stay half a width inside along
// all of the side, not only in its middle: a side turned by an end that kept
// the blur's inward error is out near one corner and in near the other.
TEST(ShellSteps, TriangleSidesStayParallel)
{
    for (float turn : {0.0f, 7.0f, 90.0f}) {
        const float cx = 100.4f, cy = 99.8f, R = 60;  // circumradius: sides of 104 pixels
        float vx[3], vy[3];
        for (int i = 0; i < 3; ++i) {
            const float a = (turn + 120.0f * i) * float(M_PI) / 180;
            vx[i] = cx + R * std::cos(a);
            vy[i] = cy + R * std::sin(a);
        }
        Plane8 cov = emptyCoverage(208, 208);
        paintTriangle(cov, vx, vy);
        SlicerParams sp;
        sp.VShellCnt = 2;
        const PathList per = ofType(runShells(cov, sp).outlines, Perimeter);
        ASSERT_EQ(per.size(), 1) << turn;
        const PolyLine &o = per[0];
        for (int i = 0; i < 3; ++i) {
            const int j = (i + 1) % 3;
            const float len = std::hypot(vx[j] - vx[i], vy[j] - vy[i]);
            const float ux = (vx[j] - vx[i]) / len, uy = (vy[j] - vy[i]) / len;
            // Lines across the side, from a fifth of it past each corner's
            // rounding to the middle.
            float lo = 1e9f, hi = -1e9f;
            for (float f : {0.2f, 0.3f, 0.5f, 0.7f, 0.8f}) {
                const float along = f * len;
                int hits = 0;
                for (int k = 0; k < o.pts.size(); ++k) {
                    const PolyPoint A = o.pts[k], B = o.pts[(k + 1) % o.pts.size()];
                    const float sa = (A.x - vx[i]) * ux + (A.y - vy[i]) * uy - along;
                    const float sb = (B.x - vx[i]) * ux + (B.y - vy[i]) * uy - along;
                    const float da = -(A.x - vx[i]) * uy + (A.y - vy[i]) * ux;
                    const float db = -(B.x - vx[i]) * uy + (B.y - vy[i]) * ux;
                    if ((sa <= 0) == (sb <= 0) || da > 3 * P || db > 3 * P)
                        continue;
                    const float d = da + (db - da) * sa / (sa - sb);
                    EXPECT_NEAR(d / P, 0.5f, 0.05f) << turn << " side " << i << " at " << f;
                    lo = std::min(lo, d / P);
                    hi = std::max(hi, d / P);
                    ++hits;
                }
                EXPECT_EQ(hits, 1) << turn << " side " << i << " at " << f;
            }
            // The pixel grid may move a side by a few hundredths as a whole,
            // but not turn it.
            EXPECT_LT(hi - lo, 0.02f) << turn << " side " << i;
        }
    }
}

// A distance step reuses the trace of the loops before it: simplifying the
// kept crossings afterwards must give what the smoothing tracer gives, on
// area coverage and on a step's ramp, for lines closed and ended at the
// plane's border, under every smoothing the steps use.
TEST(ShellSteps, OutlinesFromAKeptTraceMatchTheSmoothingTrace)
{
    Plane8 cov = emptyCoverage(256, 128);
    paintCircle(cov, 60, 64, 30);
    const float vx[3] = {110, 200, 130}, vy[3] = {20, 50, 110};
    paintTriangle(cov, vx, vy);
    paintRect(cov, 210, 10, 256, 90);  // runs off the plane's right side
    Plane8 summary;
    blockSummary8(cov, summary);
    Plane8 stepped = cov, steppedSummary = summary;
    Plane1 visited;
    distanceOffset(stepped, steppedSummary, 0.5f * P, visited);
    const PathParams pp = PathParams::fromSmoothing(P, SlicerParams().PathSmoothing);
    PathParams fine = pp;
    fine.maxDeviation = 0.03f;
    PathParams coarse = PathParams::fromSmoothing(P, 4 * SlicerParams().PathSmoothing);
    coarse.maxDeviation = 2;
    OffsetScratch s;
    for (const auto &[plane, sum] : {std::pair{&cov, &summary}, std::pair{&stepped, &steppedSummary}})
        for (const PathParams &params : {pp, fine, coarse}) {
            const PathList traced = contourDetect3(*plane, *sum, visited, keepEveryCrossing());
            const PathList want = traceOutlines(*plane, *sum, params, Loop, minOutlineArea(P), s);
            const PathList got = outlinesFromTrace(traced, params, Loop, minOutlineArea(P));
            ASSERT_GE(want.size(), 3);
            ASSERT_EQ(got.size(), want.size());
            for (int i = 0; i < want.size(); ++i) {
                EXPECT_EQ(got[i].pts, want[i].pts);
                EXPECT_EQ(got[i].type, want[i].type);
                EXPECT_EQ(got[i].closed, want[i].closed);
            }
        }
}

// The simplifier's fast road (zero-area queue, four-lane deviation scan)
// against its twin on what the shell steps really feed it: every crossing of
// the level after a distance step, on a section with slanted sides at many
// angles, a round part and a hole, for the perimeter's and the loops'
// deviation bounds.
TEST(ShellSteps, SimplifyMatchesItsTwinOnTracedOffsets)
{
    Plane8 cov = emptyCoverage(320, 288);
    // A triangle with a hole, and a disc beside it.
    const float vx[3] = {20.3f, 290.0f, 130.7f}, vy[3] = {25.1f, 60.4f, 270.2f};
    paint(cov, [&](float x, float y) {
        bool inTriangle = true;
        for (int i = 0; i < 3; ++i) {
            const int j = (i + 1) % 3;
            inTriangle &= (vx[j] - vx[i]) * (y - vy[i]) - (vy[j] - vy[i]) * (x - vx[i]) >= 0;
        }
        return (inTriangle && std::hypot(x - 140, y - 110) >= 18) || std::hypot(x - 250, y - 230) < 40.3f;
    });
    Plane8 summary;
    blockSummary8(cov, summary);
    Plane1 visited;
    int traced = 0, collapsed = 0;
    for (const float d : {0.5f * P, 1.5f * P}) {
        Plane8 step = cov, stepSummary = summary;
        distanceOffset(step, stepSummary, d, visited);
        const PathList lines = contourDetect3(step, stepSummary, visited, keepEveryCrossing());
        PathParams perimeter = PathParams::fromSmoothing(P, SlicerParams().PathSmoothing);
        perimeter.maxDeviation = 0.03f;
        for (const PathParams &pp : {PathParams::fromSmoothing(P, SlicerParams().PathSmoothing), perimeter})
            for (const PolyLine &line : lines) {
                PolyLine fast = line, ref = line;
                fast.simplify(pp);
                ref.simplifyOneHeap(pp);
                EXPECT_EQ(fast.pts, ref.pts) << line.size() << " crossings";
                traced += line.size();
                collapsed += fast.size() < line.size() / 8;
            }
    }
    EXPECT_GT(traced, 2000);
    EXPECT_GT(collapsed, 0) << "long straight runs must collapse";
}
