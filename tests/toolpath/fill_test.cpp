#include "toolpath/fill.h"

#include "params/slicerparams.h"
#include "fixtures/rasterfixtures.h"
#include "toolpath/shellsteps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

const float P = testGrid().widthInPixels;

// Direction of a path in whole degrees, 0 … 179.
int lineAngle(const PolyLine &pl)
{
    const PolyPoint d = pl.pts.last() - pl.pts.first();
    int a = int(std::lround(std::atan2(d.y, d.x) * 180 / 3.14159265358979));
    return ((a % 180) + 180) % 180;
}

// Every point of every path on a set pixel (ends may sit on the far border
// of their last pixel, so sample just inside).
void expectInside(const PathList &paths, const Plane1 &region)
{
    for (const PolyLine &pl : paths)
        for (int i = 0; i + 1 < pl.size(); ++i) {
            const PolyPoint a = pl.pts[i], b = pl.pts[i + 1];
            const float len = std::hypot(b.x - a.x, b.y - a.y);
            const int n = std::max(2, int(len * 4));
            for (int k = 1; k < n; ++k) {
                const float t = float(k) / n;
                const int x = int(std::floor(a.x + t * (b.x - a.x)));
                const int y = int(std::floor(a.y + t * (b.y - a.y)));
                ASSERT_TRUE(x >= 0 && y >= 0 && x < region.width && y < region.height);
                // Zig-zag joints of shell paths cross between lines: only
                // the runs themselves must stay inside.
                if (pl.type == Infill || i % 2 == 0) {
                    ASSERT_TRUE(region.pixel(x, y)) << x << "," << y;
                }
            }
        }
}

// Offset of a line from the pattern origin along its normal.
float normalOffset(const PolyLine &pl, const Plane1 &region)
{
    const PolyPoint d = pl.pts.last() - pl.pts.first();
    const float len = std::hypot(d.x, d.y);
    const float vx = -d.y / len, vy = d.x / len;
    const float ox = (region.width - 2) / 2.0f, oy = (region.height - 2) / 2.0f;
    return (pl.pts.first().x - ox) * vx + (pl.pts.first().y - oy) * vy;
}

} // namespace

TEST(PatternFill, DirectionsAnglesAndSpacing)
{
    Plane1 region = emptyMask(128, 96);
    maskRect(region, 10, 10, 118, 86);
    struct Case { int d; float angle; std::set<int> angles; };
    const Case cases[] = {
        {1, 0, {0}}, {1, 30, {30}}, {2, 45, {45, 135}}, {3, 0, {0, 60, 120}}, {4, 10, {10, 55, 100, 145}},
    };
    for (const Case &c : cases) {
        PathList pool;
        patternFill(pool, region, Infill, 10, c.angle, c.d, 1, P, 2 * P);
        ASSERT_FALSE(pool.isEmpty());
        std::set<int> seen;
        for (const PolyLine &pl : pool) {
            EXPECT_EQ(pl.type, int(Infill));
            EXPECT_FALSE(pl.closed);
            EXPECT_EQ(pl.size(), 2);
            EXPECT_GT(pl.length(), 2 * P);
            seen.insert(lineAngle(pl));
        }
        EXPECT_EQ(seen, c.angles) << c.d;
        expectInside(pool, region);
    }
    // Horizontal lines: 10 pixels apart on y = oy + 10 k, filled to the edges.
    PathList pool;
    patternFill(pool, region, Infill, 10, 0, 1, 1, P, 2 * P);
    for (const PolyLine &pl : pool) {
        const float off = normalOffset(pl, region);
        EXPECT_NEAR(off, 10 * std::round(off / 10), 1e-3f);
        EXPECT_NEAR(std::min(pl.pts[0].x, pl.pts[1].x), 10, 1e-3f);
        EXPECT_NEAR(std::max(pl.pts[0].x, pl.pts[1].x), 118, 1e-3f);
    }
    EXPECT_EQ(pool.size(), 7);  // y = 17, 27, … 77 inside 10 … 86; 7 and 87 outside
}

TEST(PatternFill, ThicknessBundles)
{
    Plane1 region = emptyMask(128, 136);
    maskRect(region, 0, 0, 128, 136);  // touches every border; lines at y = 7, 37, … 127
    PathList one, three;
    patternFill(one, region, Infill, 30, 0, 1, 1, P, 2 * P);
    patternFill(three, region, Infill, 30, 0, 1, 3, P, 2 * P);
    ASSERT_EQ(three.size(), 3 * one.size());
    std::multiset<long> offsets;
    for (const PolyLine &pl : three)
        offsets.insert(std::lround(normalOffset(pl, region) * 1000));
    for (const PolyLine &pl : one) {
        const float c = normalOffset(pl, region);
        for (float m : {-P, 0.0f, P})
            EXPECT_EQ(offsets.count(std::lround((c + m) * 1000)), 1u) << c << " " << m;
        EXPECT_NEAR(pl.length(), 128, 1e-3f);  // filled up to the border
    }
}

TEST(PatternFill, NothingToDraw)
{
    Plane1 region = emptyMask(64, 64);
    maskRect(region, 5, 5, 60, 60);
    PathList pool;
    patternFill(pool, region, Infill, 5, 0, 0, 1, P, 2 * P);           // disabled
    patternFill(pool, region, Infill, 0, 0, 2, 1, P, 2 * P);           // no spacing
    patternFill(pool, region, Infill, std::nanf(""), 0, 2, 1, P, 2 * P);
    patternFill(pool, emptyMask(64, 64), Infill, 5, 0, 2, 1, P, 2 * P); // empty region
    patternFill(pool, Plane1(), Infill, 5, 0, 2, 1, P, 2 * P);
    EXPECT_TRUE(pool.isEmpty());
    // A one-pixel speck is shorter than the minimum run.
    Plane1 speck = emptyMask(64, 64);
    speck.setPixel(30, 30, true);
    patternFill(pool, speck, Infill, 1, 0, 3, 1, P, 2 * P);
    EXPECT_TRUE(pool.isEmpty());
}

TEST(FillLayer, AnglesPerLayerAndDisabledInfill)
{
    Plane1 infill = emptyMask(128, 128);
    maskRect(infill, 10, 10, 118, 118);
    const Plane1 noShell = emptyMask(128, 128);
    struct Case { float angle, inc; int layer; int expect; };
    const Case cases[] = {
        {45, 90, 0, 45}, {45, 90, 1, 135}, {45, 90, 2, 45},  // 225° draws the 45° lines
        {0, 0.5f, 0, 0}, {0, 0.5f, 1, 0}, {0, 0.5f, 2, 1},     // whole degrees, truncated
        {-10, 0.7f, 3, 173},                                  // trunc(-7.9) = -7
    };
    for (const Case &c : cases) {
        SlicerParams sp;
        sp.InfillType = 1;
        sp.InfillDensity = 0.2f;
        sp.InfillAngle = c.angle;
        sp.InfillAngleInc = c.inc;
        PathList pool;
        fillLayer(testGrid(), c.layer, sp, infill, noShell, {}, pool);
        ASSERT_FALSE(pool.isEmpty());
        for (const PolyLine &pl : pool)
            EXPECT_EQ(lineAngle(pl), c.expect) << c.angle << " " << c.inc << " " << c.layer;
    }
    EXPECT_EQ(layerAngle(0, 0.5f, 2), 1);
    EXPECT_EQ(layerAngle(-10, 0.7f, 3), -7);

    // Square grid at density 0.2: two families five widths apart.
    SlicerParams grid;
    grid.InfillType = 2;
    grid.InfillDensity = 0.2f;
    PathList pool;
    fillLayer(testGrid(), 0, grid, infill, noShell, {}, pool);
    std::set<long> ys;
    for (const PolyLine &pl : pool)
        if (lineAngle(pl) == 0)
            ys.insert(std::lround(pl.pts[0].y * 100));
    ASSERT_GE(ys.size(), 2u);
    EXPECT_NEAR((*std::next(ys.begin()) - *ys.begin()) / 100.0, 5 * P, 0.01);

    for (float density : {0.1f, 1.0f, 0.0f}) {
        SlicerParams off;
        off.InfillType = 0;
        off.InfillDensity = density;
        PathList none;
        PolyLine loop(Loop);
        loop.pts = {{20, 20}, {40, 20}, {40, 40}};
        loop.closed = true;
        fillLayer(testGrid(), 0, off, infill, noShell, {loop}, none);
        ASSERT_EQ(none.size(), 1);  // only the outline handed in
        EXPECT_EQ(none[0].type, int(Loop));
    }
}

TEST(ShellLineFill, AlternatingJoinedLines)
{
    Plane1 region = emptyMask(96, 96);
    maskRect(region, 10, 10, 80, 70);
    PathList pool;
    shellLineFill(pool, region, HShell, P, 0, 0.7f * P, 2 * P);
    // A convex region gives one zig-zag path.
    ASSERT_EQ(pool.size(), 1);
    const PolyLine &z = pool[0];
    EXPECT_EQ(z.type, int(HShell));
    ASSERT_EQ(z.size() % 2, 0);
    EXPECT_NEAR(z.size() / 2, 60 / P, 1.0);
    for (int i = 0; i + 1 < z.size(); i += 2) {
        const float dx = z.pts[i + 1].x - z.pts[i].x;
        EXPECT_NEAR(std::fabs(dx), 70, 1e-3f);
        if (i >= 2) {
            const float prevDx = z.pts[i - 1].x - z.pts[i - 2].x;
            EXPECT_LT(dx * prevDx, 0) << "successive lines alternate";
            EXPECT_NEAR(z.pts[i].y - z.pts[i - 1].y, P, 1e-3f);
        }
    }
    expectInside(pool, region);

    // Two blocks side by side: runs never bridge the gap between them, and
    // runs not longer than the minimum length are dropped.
    Plane1 two = emptyMask(96, 96);
    maskRect(two, 5, 5, 40, 90);
    maskRect(two, 50, 5, 90, 90);
    maskRect(two, 45, 40, 47, 42);  // a 2-pixel speck between them
    PathList p2;
    shellLineFill(p2, two, HShell, P, 90, 0.7f * P, 2 * P);
    ASSERT_EQ(p2.size(), 2);
    for (const PolyLine &pl : p2) {
        const bool left = pl.pts[0].x < 45;
        for (const PolyPoint &q : pl.pts)
            EXPECT_EQ(q.x < 45, left);
    }
    PathList none;
    shellLineFill(none, emptyMask(32, 32), HShell, P, 45, 0.7f * P, 2 * P);
    shellLineFill(none, region, HShell, -1, 45, 0.7f * P, 2 * P);
    EXPECT_TRUE(none.isEmpty());
}

// Each run joins the nearest end (Manhattan, under twoP, first in the
// previous line's order on a tie) of a path that took a run of the line
// before, else starts a path: against a plain scan of every end, where
// lines cross a few islands (ends looked at one by one) and dozens of them
// (ends found by cell).
TEST(ShellLineFill, JoinsTheNearestEndOfThePreviousLine)
{
    auto reference = [](const Plane1 &region, float spacing, float angleDeg, float minLen, float twoP) {
        const double theta = angleDeg * 0.017453292;
        const std::int64_t w = region.width, h = region.height;
        const double R = std::sqrt(double(w * w + h * h)) / 2, ox = (w - 2) / 2.0, oy = (h - 2) / 2.0;
        const double ux = std::cos(theta), uy = std::sin(theta);
        const int n = int(std::ceil(R / spacing));
        PathList built;
        std::vector<int> prevLine;
        for (int k = -n; k <= n; ++k) {
            const double off = k * double(spacing), cx = ox - off * uy, cy = oy + off * ux;
            std::vector<ScanRun> runs;
            scanLineRunsScalar(region, cx - R * ux, cy - R * uy, cx + R * ux, cy + R * uy, minLen, runs);
            if (k & 1) {
                std::reverse(runs.begin(), runs.end());
                for (ScanRun &r : runs)
                    std::swap(r.a, r.b);
            }
            std::vector<int> thisLine;
            for (const ScanRun &r : runs) {
                int best = -1;
                float bestD = twoP;
                for (const int idx : prevLine) {
                    if (std::find(thisLine.begin(), thisLine.end(), idx) != thisLine.end())
                        continue;
                    const PolyPoint e = built[idx].pts.last();
                    const float d = std::fabs(e.x - r.a.x) + std::fabs(e.y - r.a.y);
                    if (d < bestD) {
                        bestD = d;
                        best = idx;
                    }
                }
                if (best < 0) {
                    built.append(PolyLine(HShell));
                    best = built.size() - 1;
                }
                built[best].pts.append(r.a);
                built[best].pts.append(r.b);
                thisLine.push_back(best);
            }
            prevLine = thisLine;
        }
        return built;
    };
    Plane1 few = emptyMask(160, 128);
    maskRect(few, 10, 10, 70, 110);
    maskRect(few, 80, 20, 150, 60);
    maskRect(few, 90, 70, 140, 120);
    Plane1 many = emptyMask(320, 256); // 6 x 6 islands 10 pixels apart
    for (int y = 8; y + 6 < 248; y += 10)
        for (int x = 8; x + 6 < 312; x += 10)
            maskRect(many, x, y, x + 6, y + 6);
    for (const Plane1 *region : {&few, &many})
        for (const float angle : {0.0f, 45.0f, 30.0f, 90.0f})
            for (const float twoP : {2 * P, 12.0f}) {
                PathList got;
                shellLineFill(got, *region, HShell, P, angle, 0.7f * P, twoP);
                const PathList want = reference(*region, P, angle, 0.7f * P, twoP);
                ASSERT_EQ(got.size(), want.size()) << "angle " << angle << " twoP " << twoP;
                for (int i = 0; i < want.size(); ++i)
                    ASSERT_EQ(got[i].pts, want[i].pts) << "path " << i << " angle " << angle;
            }
}

TEST(ConcentricShells, RingsOneWidthApart)
{
    Plane1 shell = emptyMask(128, 128);
    maskRect(shell, 32, 32, 96, 96);
    SlicerParams sp;
    sp.HShellType = 1;
    PathList pool;
    OffsetScratch s;
    concentricShells(testGrid(), shell, sp, pool, s);
    ASSERT_FALSE(pool.isEmpty());
    QVector<float> lefts;
    for (const PolyLine &pl : pool) {
        EXPECT_EQ(pl.type, int(HShell));
        const QVector<float> xs = crossingsAtY(pl, 64.3f);
        if (pl.closed && xs.size() >= 2)
            lefts.append(xs.first());
    }
    std::sort(lefts.begin(), lefts.end());
    ASSERT_GE(lefts.size(), 8);
    for (int k = 0; k < 8; ++k)
        EXPECT_NEAR(lefts[k], 32 + (k + 0.5f) * P, 0.05f * P) << k;

    PathList none;
    concentricShells(testGrid(), emptyMask(64, 64), sp, none, s);
    EXPECT_TRUE(none.isEmpty());

    // A strip one width wide is drawn as one HShell line with widths.
    Plane1 strip = emptyMask(128, 64);
    maskRect(strip, 10, 30, 110, 33);
    PathList thin;
    concentricShells(testGrid(), strip, sp, thin, s);
    ASSERT_EQ(thin.size(), 1);
    EXPECT_EQ(thin[0].type, int(HShell));
    EXPECT_FALSE(thin[0].closed);
    ASSERT_EQ(thin[0].w.size(), thin[0].size());
    EXPECT_GT(thin[0].length(), 90);
    for (const PolyPoint &q : thin[0].pts)
        EXPECT_NEAR(q.y, 31.5f, 0.2f);
}
