#include "raster/contourdetect3.h"
#include "raster/plane1.h"
#include "raster/plane8.h"

#include <gtest/gtest.h>
#include <omp.h>
#include <cmath>
#include <functional>
#include <random>

namespace {

Plane8 plane(int w, int h, const std::function<int(int, int)> &f)
{
    Plane8 p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.setPixel(x, y, uchar(f(x, y)));
    return p;
}

// Block summary: loose = 0/255 only for blocks of exactly 0/255 (what a
// blur leaves), tight = by side of the 128 level (hard edges can then lie
// between two uniform blocks).
Plane8 summaryOf(const Plane8 &p, bool tight)
{
    Plane8 s(p.width / 16, p.height / 16);
    for (int by = 0; by < s.height; ++by)
        for (int bx = 0; bx < s.width; ++bx) {
            int lo = 0, hi = 0;
            for (int y = by * 16; y < by * 16 + 16; ++y)
                for (int x = bx * 16; x < bx * 16 + 16; ++x) {
                    const int v = p.pixel(x, y);
                    lo += tight ? v < 128 : v == 0;
                    hi += tight ? v >= 128 : v == 255;
                }
            s.setPixel(bx, by, lo == 256 ? 0 : hi == 256 ? 255 : 128);
        }
    return s;
}

PathList trace(const Plane8 &p, bool tight = false, PathParams pp = PathParams{0, 0})
{
    Plane1 visited;
    return contourDetect3(p, summaryOf(p, tight), visited, pp);
}

bool onPixelEdge(const PolyPoint &q)
{
    auto onCentreLine = [](float v) { return std::fabs(v - 0.5f - std::round(v - 0.5f)) < 1e-4f; };
    return onCentreLine(q.x) || onCentreLine(q.y);
}

Plane8 square(int w, int x0, int y0, int x1, int y1)
{
    return plane(w, w, [=](int x, int y) { return x >= x0 && x < x1 && y >= y0 && y < y1 ? 255 : 0; });
}

} // namespace

TEST(ContourDetect3, UniformPlanesHaveNoContour)
{
    for (int v : {0, 127, 128, 255}) {
        const Plane8 p = plane(64, 32, [=](int, int) { return v; });
        EXPECT_TRUE(trace(p).isEmpty()) << v;
        EXPECT_TRUE(trace(p, true).isEmpty()) << v;
    }
}

TEST(ContourDetect3, SquareGivesOneClosedCounterClockwiseContourOnPixelEdges)
{
    for (bool tight : {false, true}) { // 16..48 lies on block borders
        const PathList c = trace(square(64, 16, 16, 48, 48), tight);
        ASSERT_EQ(c.size(), 1) << tight;
        const PolyLine &pl = c[0];
        EXPECT_TRUE(pl.closed);
        EXPECT_NEAR(pl.area(), 32.0 * 32.0, 2.0); // corners cut at the level
        EXPECT_LT(pl.area(), 32.0f * 32.0f);
        for (const PolyPoint &q : pl.pts) {
            EXPECT_TRUE(onPixelEdge(q)) << q.x << "," << q.y;
            // Hard edge: the level lies just past the middle between centres.
            EXPECT_GT(q.x, 15.99f);
            EXPECT_LT(q.x, 48.01f);
            EXPECT_GT(q.y, 15.99f);
            EXPECT_LT(q.y, 48.01f);
        }
        EXPECT_NE(pl.pts.first(), pl.pts.last()); // closed without a repeat
    }
}

TEST(ContourDetect3, CrossingsAreInterpolatedBetweenPixelCentres)
{
    // Left edge column 15 at 64, inside 255: the level lies 127/191 of the
    // way from the centre of pixel 16 (16.5) to that of pixel 15 (15.5).
    const Plane8 p = plane(64, 64, [](int x, int y) {
        if (y < 10 || y >= 50 || x >= 50) return 0;
        return x == 15 ? 64 : x > 15 ? 255 : 0;
    });
    const PathList c = trace(p);
    ASSERT_EQ(c.size(), 1);
    const float expect = 16.5f - 127.0f / 191.0f;
    int leftSide = 0;
    for (const PolyPoint &q : c[0].pts)
        if (q.x < 16 && q.y > 12 && q.y < 48) {
            EXPECT_NEAR(q.x, expect, 1e-4);
            ++leftSide;
        }
    EXPECT_GT(leftSide, 30);
}

TEST(ContourDetect3, HoleRunsOppositeToItsOutline)
{
    const Plane8 ring = plane(96, 96, [](int x, int y) {
        const float r = std::hypot(x + 0.5f - 48, y + 0.5f - 48);
        return r < 35 && r >= 15 ? 255 : 0;
    });
    const PathList c = trace(ring);
    ASSERT_EQ(c.size(), 2);
    const float a0 = c[0].area(), a1 = c[1].area();
    const float outer = std::max(a0, a1), inner = std::min(a0, a1);
    EXPECT_NEAR(outer, M_PI * 35 * 35, 40);
    EXPECT_NEAR(inner, -M_PI * 15 * 15, 25);
    EXPECT_TRUE(c[0].closed && c[1].closed);

    // Two separate regions give two outlines of the same turning direction.
    const Plane8 two = plane(96, 64, [](int x, int y) {
        return (y > 10 && y < 50) && ((x > 5 && x < 30) || (x > 60 && x < 90)) ? 200 : 0;
    });
    const PathList t = trace(two);
    ASSERT_EQ(t.size(), 2);
    EXPECT_GT(t[0].area(), 0);
    EXPECT_GT(t[1].area(), 0);
}

TEST(ContourDetect3, RegionsAtTheBorderAndTinyRegions)
{
    // The left part of the plane: an open contour from border to border,
    // with the inside on its left (walking up, x right / y up).
    const PathList half = trace(plane(64, 32, [](int x, int) { return x < 20 ? 255 : 0; }));
    ASSERT_EQ(half.size(), 1);
    EXPECT_FALSE(half[0].closed);
    EXPECT_LT(half[0].pts.first().y, half[0].pts.last().y);
    EXPECT_NEAR(half[0].pts.first().x, 20.0f, 0.01f);

    // A band along the bottom rising to the right: the contour leaves the
    // plane sideways, at both ends (walking west, the inside on its left).
    const PathList band = trace(plane(64, 32, [](int x, int y) { return 8 * y < 80 + x ? 255 : 0; }));
    ASSERT_EQ(band.size(), 1);
    EXPECT_FALSE(band[0].closed);
    EXPECT_NEAR(band[0].pts.first().x, 63.5f, 0.01f);
    EXPECT_NEAR(band[0].pts.last().x, 0.5f, 0.01f);
    EXPECT_NEAR(band[0].pts.first().y, 18.0f, 0.01f);
    EXPECT_NEAR(band[0].pts.last().y, 10.0f, 0.01f);
    // A quarter plane: in along one axis, out along the other.
    const PathList corner = trace(plane(48, 48, [](int x, int y) { return x < 21 && y < 30 ? 255 : 0; }));
    ASSERT_EQ(corner.size(), 1);
    EXPECT_FALSE(corner[0].closed);
    EXPECT_NEAR(corner[0].pts.first().y, 0.5f, 0.01f);
    EXPECT_NEAR(corner[0].pts.last().x, 0.5f, 0.01f);

    // A corner pixel gives two crossings and is dropped; an inner pixel four.
    EXPECT_TRUE(trace(plane(32, 32, [](int x, int y) { return x == 0 && y == 0 ? 255 : 0; })).isEmpty());
    const PathList dot = trace(plane(32, 32, [](int x, int y) { return x == 7 && y == 9 ? 255 : 0; }));
    ASSERT_EQ(dot.size(), 1);
    EXPECT_EQ(dot[0].pts.size(), 4);
    EXPECT_GT(dot[0].area(), 0);
}

TEST(ContourDetect3, SaddlesAndSummaryMismatch)
{
    // A checkerboard of single pixels: every square is a saddle. Centres
    // average to 127.5 < 128, so diagonal pixels stay apart: 4-point dots.
    const Plane8 chk = plane(32, 32, [](int x, int y) {
        return x > 3 && x < 28 && y > 3 && y < 28 && (x + y) % 2 ? 255 : 0;
    });
    const PathList c = trace(chk);
    int dots = 0;
    for (int y = 4; y < 28; ++y)
        for (int x = 4; x < 28; ++x)
            dots += (x + y) % 2;
    EXPECT_EQ(c.size(), dots);
    for (const PolyLine &pl : c)
        EXPECT_EQ(pl.pts.size(), 4);

    Plane1 visited;
    // A summary that calls everything mixed only costs time; one that calls
    // everything empty hides the contours, but reads nothing out of bounds.
    Plane8 all(2, 2);
    all.fill(128);
    EXPECT_EQ(contourDetect3(chk, all, visited, PathParams{0, 0}).size(), c.size());
    all.fill(0);
    EXPECT_TRUE(contourDetect3(chk, all, visited, PathParams{0, 0}).isEmpty());
    EXPECT_THROW(contourDetect3(chk, Plane8(3, 2), visited, PathParams()), QString);
    const Plane8 odd(40, 32);
    EXPECT_THROW(contourDetect3(odd, Plane8(2, 2), visited, PathParams()), QString);
}

// Many groups (more than the 127 labels) split over any number of threads
// give the same contours in the same order.
TEST(ContourDetect3, ResultDoesNotDependOnThreadCount)
{
    const int w = 512;
    const Plane8 blobs = plane(w, w, [](int x, int y) {
        // A 16 x 16 lattice of discs with varying radii, anti-aliased.
        const int cx = x / 32, cy = y / 32;
        const float r = 4.0f + float((cx * 7 + cy * 3) % 11);
        const float d = std::hypot(x % 32 + 0.5f - 16, y % 32 + 0.5f - 16);
        return int(std::max(0.0f, std::min(255.0f, (r - d + 0.5f) * 255.0f)));
    });
    const PathParams pp = PathParams::fromSmoothing(3.003f, 0.08f);
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    const PathList ref = trace(blobs, false, pp);
    ASSERT_EQ(ref.size(), 256);
    for (int n : {2, 3, 8}) {
        omp_set_num_threads(n);
        const PathList got = trace(blobs, false, pp);
        ASSERT_EQ(got.size(), ref.size()) << n;
        for (int i = 0; i < ref.size(); ++i) {
            EXPECT_EQ(got[i].pts, ref[i].pts) << n << " " << i;
            EXPECT_EQ(got[i].closed, ref[i].closed);
        }
    }
    omp_set_num_threads(saved);
}

namespace {

// The row version of the examined-block rule against the block-by-block one:
// summaries of one row, one column and wider planes with uniform areas,
// boundaries between them, mixed blocks and values other than 0, 128, 255.
TEST(ContourDetect3, ExaminedBlocksMatchTheBlockByBlockRule)
{
    std::mt19937 rng(3);
    for (const QSize size : {QSize(1, 1), QSize(1, 9), QSize(9, 1), QSize(2, 2), QSize(17, 11), QSize(64, 40)})
        for (int pattern = 0; pattern < 4; ++pattern) {
            Plane8 sum(size.width(), size.height());
            std::uniform_int_distribution<int> pick(0, 9);
            for (int y = 0; y < sum.height; ++y)
                for (int x = 0; x < sum.width; ++x) {
                    const int r = pick(rng);
                    uchar v;
                    if (pattern == 0)      // random states
                        v = r < 4 ? 0 : r < 8 ? 255 : r == 8 ? 128 : 7;
                    else if (pattern == 1) // two uniform halves
                        v = x < sum.width / 2 ? 0 : 255;
                    else if (pattern == 2) // a uniform disc with a few mixed blocks
                        v = (x - 8) * (x - 8) + (y - 6) * (y - 6) < 30 ? (r == 0 ? 128 : 255) : 0;
                    else                   // all one value
                        v = 255;
                    sum.setPixel(x, y, v);
                }
            EXPECT_EQ(contourBlocksToExamine(sum), contourBlocksToExamineScalar(sum))
                << size.width() << "x" << size.height() << " pattern " << pattern;
        }
}

} // namespace

// The per-direction walk against the walk as first written, point for
// point: noise thresholded at and around the level (saddles, crossings at a
// pixel centre, values of exactly 128), anti-aliased discs, slanted hard
// edges, regions cut by every border, one plane traced twice with the same
// scratch (marks of the first trace must not leak into the second), and a
// summary as exact as the shell steps keep it or one calling all mixed.
TEST(ContourDetect3, DirectionWalkMatchesThePlainWalk)
{
    std::mt19937 rng(19);
    std::uniform_int_distribution<int> byte(0, 255), coin(0, 3);
    std::vector<Plane8> planes;
    for (int k = 0; k < 6; ++k) {
        const int w = 16 * (2 + k), h = 16 * (1 + k % 4);
        std::vector<int> noise(size_t(w * h));
        for (int &v : noise)
            v = coin(rng) == 0 ? 128 : byte(rng);
        planes.push_back(plane(w, h, [&](int x, int y) { return noise[size_t(y * w + x)]; }));
        planes.push_back(plane(w, h, [&](int x, int y) { return noise[size_t(y * w + x)] >= 120 ? 255 : 0; }));
    }
    planes.push_back(plane(160, 96, [](int x, int y) {
        const float d = std::hypot(x + 0.5f - 70, y + 0.5f - 40), e = std::hypot(x + 0.5f - 150, y + 0.5f - 90);
        const float disc = std::clamp((30 - d + 0.5f) * 255.0f, 0.0f, 255.0f);
        const float cut = std::clamp((25 - e + 0.5f) * 255.0f, 0.0f, 255.0f);  // off the corner
        const float slab = 0.37f * x - y + 70 > 0 && y > 60 ? 255.0f : 0.0f;     // slanted, to the bottom
        return int(std::max({disc, cut, slab}));
    }));
    planes.push_back(plane(64, 48, [](int x, int y) { return (x / 3 + y / 2) % 3 == 0 ? 255 : x < 2 || y > 45 ? 200 : 0; }));
    Plane1 visited;  // reused; the plain walk gets fresh scratch
    int points = 0;
    for (const Plane8 &p : planes)
        for (bool tight : {false, true})
            for (int again = 0; again < 2; ++again) {
                Plane8 sum = summaryOf(p, tight);
                if (again && tight)
                    sum.fill(128);
                const PathList got = contourDetect3(p, sum, visited, PathParams{0, 0});
                Plane1 fresh;
                const PathList want = contourDetect3Plain(p, sum, fresh, PathParams{0, 0});
                ASSERT_EQ(got.size(), want.size()) << p.width << "x" << p.height;
                for (int i = 0; i < want.size(); ++i) {
                    EXPECT_EQ(got[i].pts, want[i].pts) << p.width << "x" << p.height << " line " << i;
                    EXPECT_EQ(got[i].closed, want[i].closed);
                    points += want[i].size();
                }
            }
    EXPECT_GT(points, 20000);

    // Marks left by one trace where the next one marks too, at the column
    // before a mixed block whose left neighbour is uniform and so not
    // examined: first every block of column 0 is mixed and the edge at
    // x = 15 | 16 is crossed in every row, then column 0 is all inside.
    const Plane8 first = plane(64, 32, [](int x, int) { return x > 0 && x < 16 ? 255 : 0; });
    const Plane8 second = plane(64, 32, [](int x, int y) { return x < 16 || (x < 24 && y % 4 == 0) ? 255 : 0; });
    Plane1 reused, fresh;
    contourDetect3(first, summaryOf(first, true), reused, PathParams{0, 0});
    const PathList got = contourDetect3(second, summaryOf(second, true), reused, PathParams{0, 0});
    const PathList want = contourDetect3Plain(second, summaryOf(second, true), fresh, PathParams{0, 0});
    ASSERT_EQ(got.size(), want.size());
    for (int i = 0; i < want.size(); ++i)
        EXPECT_EQ(got[i].pts, want[i].pts) << i;
}
