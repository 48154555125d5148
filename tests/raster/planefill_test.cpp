#include "raster/plane1.h"
#include "raster/plane8.h"
#include "raster/meshlayers.h"

#include <gtest/gtest.h>
#include <omp.h>
#include <cmath>
#include <random>
#include <vector>

namespace {

// 64 x 64 plane over 0 .. 64 mm: one pixel per mm.
const Extents kExt{0, 0, 64, 64};

// Rectangle outline whose inside has winding +1: the wall at smaller x runs
// toward larger y (the facing a correctly oriented mesh gives).
Segments rect(float x0, float y0, float x1, float y1, bool reversed = false)
{
    Segments s{{x0, y0, x0, y1}, {x0, y1, x1, y1}, {x1, y1, x1, y0}, {x1, y0, x0, y0}};
    if (reversed)
        for (Segment &g : s)
            g = {g.x1, g.y1, g.x0, g.y0};
    return s;
}

enum Rule { NonZero, Positive, Odd };

struct Filled {
    Plane8 plane;
    bool unclosed;
};

Filled fill(Rule rule, const Segments &segs, bool check = true, int w = 64, int h = 64, Extents ext = kExt)
{
    Filled f{Plane8(w, h), false};
    Plane1 scratch;
    f.unclosed = rule == Odd ? f.plane.fromSegs2(segs, ext, scratch, check)
                             : f.plane.fromSegs3(segs, ext, scratch, rule == NonZero, check);
    return f;
}

bool inRect(int x, int y, int x0, int y0, int x1, int y1) { return x >= x0 && x < x1 && y >= y0 && y < y1; }

} // namespace

TEST(Fill, SquareFillsUnderAllRulesReversedOnlyUnderNonZeroAndOdd)
{
    struct Case {
        Rule rule;
        bool reversed;
        bool filled;
    };
    const Case cases[] = {{NonZero, false, true}, {Positive, false, true}, {Odd, false, true},
                          {NonZero, true, true},  {Positive, true, false}, {Odd, true, true}};
    for (const Case &c : cases) {
        const Filled f = fill(c.rule, rect(10, 10, 30, 30, c.reversed));
        EXPECT_FALSE(f.unclosed);
        for (int y = 0; y < 64; y++)
            for (int x = 0; x < 64; x++) {
                const uchar v = f.plane.pixel(x, y);
                if (!c.filled || !inRect(x, y, 10, 10, 30, 30))
                    ASSERT_EQ(v, 0) << "rule " << c.rule << " rev " << c.reversed << " at " << x << "," << y;
                else if (c.rule == Odd)
                    ASSERT_GE(v, 240) << x << "," << y; // 240 beside edges, 255 in edge-free runs
                else
                    ASSERT_EQ(v, 255) << x << "," << y;
            }
    }
    // Odd: edge-free runs of four pixels read 255.
    EXPECT_EQ(fill(Odd, rect(10, 10, 30, 30)).plane.pixel(20, 20), 255);
    EXPECT_EQ(fill(Odd, rect(10, 10, 30, 30)).plane.pixel(10, 20), 240);
}

TEST(Fill, OverlappingSquaresFollowTheRule)
{
    Segments two = rect(10, 10, 30, 30);
    two += rect(20, 20, 40, 40);
    for (Rule rule : {NonZero, Positive, Odd}) {
        const Filled f = fill(rule, two);
        EXPECT_FALSE(f.unclosed);
        EXPECT_GE(f.plane.pixel(15, 15), 240);
        EXPECT_GE(f.plane.pixel(35, 35), 240);
        EXPECT_EQ(f.plane.pixel(25, 25), rule == Odd ? 0 : 255) << "rule " << rule;
        EXPECT_EQ(f.plane.pixel(35, 15), 0);
    }
    // A reversed square inside a correct one cuts a hole under every rule.
    Segments hole = rect(10, 10, 40, 40);
    hole += rect(20, 20, 30, 30, true);
    for (Rule rule : {NonZero, Positive, Odd}) {
        const Filled f = fill(rule, hole);
        EXPECT_EQ(f.plane.pixel(25, 25), 0) << rule;
        EXPECT_GE(f.plane.pixel(15, 25), 240) << rule;
    }
}

TEST(Fill, PartialCoverageCountsSamples)
{
    // A square covering half of a pixel column and a quarter of a pixel row.
    const Filled f = fill(NonZero, rect(10.5f, 10, 20, 20.25f));
    EXPECT_EQ(f.plane.pixel(10, 15), 128); // 2 of 4 sample columns
    EXPECT_EQ(f.plane.pixel(15, 20), 64);  // 1 of 4 sample rows
    EXPECT_EQ(f.plane.pixel(10, 20), 32);  // 2 samples
    // A slanted edge: a right triangle covers half of its bounding square.
    const Segments tri{{10, 10, 10, 50}, {10, 50, 50, 10}, {50, 10, 10, 10}};
    for (Rule rule : {NonZero, Positive, Odd}) {
        const Filled t = fill(rule, tri);
        EXPECT_FALSE(t.unclosed);
        double area = 0;
        for (int i = 0; i < t.plane.byteSize; i++)
            area += t.plane.data[i] / 255.0;
        EXPECT_NEAR(area, 800.0, 12.0) << rule;
    }
}

TEST(Fill, OpenOutlineSetsFlagOnlyWhenChecking)
{
    Segments open = rect(10, 10, 30, 30);
    open.removeAt(2); // the wall at larger x is missing
    for (Rule rule : {NonZero, Positive, Odd}) {
        EXPECT_TRUE(fill(rule, open, true).unclosed) << rule;
        EXPECT_FALSE(fill(rule, open, false).unclosed) << rule;
        EXPECT_FALSE(fill(rule, rect(10, 10, 30, 30), true).unclosed) << rule;
    }
}

TEST(Fill, SameSampleCrossingsShiftLeftInsteadOfCancelling)
{
    // Every wall doubled: winding 2 inside. Without the shift the second
    // crossing of each sample would be lost and no row would close.
    Segments doubled = rect(10, 10, 30, 30);
    doubled += rect(10, 10, 30, 30);
    for (Rule rule : {NonZero, Positive}) {
        const Filled f = fill(rule, doubled);
        EXPECT_FALSE(f.unclosed) << rule;
        EXPECT_EQ(f.plane.pixel(20, 20), 255);
        EXPECT_EQ(f.plane.pixel(30, 20), 0);
        EXPECT_EQ(f.plane.pixel(9, 20), 64); // the second left-wall crossing moved one sample left
        EXPECT_EQ(f.plane.pixel(8, 20), 0);
        EXPECT_EQ(f.plane.pixel(29, 20), 255); // the second right-wall crossing stays inside pixel 29
    }
    // Under Odd the doubled walls cancel: the square is empty.
    EXPECT_EQ(fill(Odd, doubled).plane.pixel(20, 20), 0);
}

TEST(Fill, BadSegmentsAreSkippedAndNothingIsWrittenOutside)
{
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const Segments good = rect(10, 10, 30, 30);
    Segments bad = good;
    bad += Segment{nan, 1, 2, 3};
    bad += Segment{1, inf, 2, -inf};
    bad += Segment{1e30f, -1e30f, -1e30f, 1e30f};
    // A closed square far outside the plane in every direction.
    bad += rect(1000, 1000, 2000, 2000);
    bad += rect(-2000, -2000, -1000, -1000);
    for (Rule rule : {NonZero, Positive, Odd}) {
        const Filled a = fill(rule, good, false), b = fill(rule, bad, false);
        EXPECT_EQ(a.plane, b.plane) << rule;
    }
    // A square sticking out of the plane on the left still fills its visible part.
    const Filled left = fill(NonZero, rect(-20, 10, 20, 30));
    EXPECT_EQ(left.plane.pixel(0, 20), 255);
    EXPECT_EQ(left.plane.pixel(19, 20), 255);
    EXPECT_EQ(left.plane.pixel(20, 20), 0);
    // Empty layers, zero-size planes and degenerate extents.
    for (Rule rule : {NonZero, Positive, Odd}) {
        const Filled empty = fill(rule, Segments());
        for (int i = 0; i < empty.plane.byteSize; i++)
            ASSERT_EQ(empty.plane.data[i], 0);
        EXPECT_FALSE(fill(rule, good, true, 0, 0).unclosed);
        const Filled flat = fill(rule, good, true, 64, 64, Extents{0, 0, 0, 64});
        EXPECT_EQ(flat.plane.pixel(20, 20), 0);
        const Filled nanExt = fill(rule, good, true, 64, 64, Extents{0, 0, nan, 64});
        EXPECT_EQ(nanExt.plane.pixel(20, 20), 0);
    }
    Plane8 zero;
    zero.fromSegs(good, kExt);
    EXPECT_EQ(zero.byteSize, 0);
}

TEST(Fill, PlainWindingAccumulation)
{
    Segments two = rect(10, 10, 30, 30);
    two += rect(20, 20, 40, 40);
    two += rect(50, 50, 60, 60, true);
    Plane8 p(64, 64);
    p.fromSegs(two, kExt);
    EXPECT_EQ(p.pixel(15, 15), 255); // winding -1 modulo 256
    EXPECT_EQ(p.pixel(25, 25), 254);
    EXPECT_EQ(p.pixel(35, 35), 255);
    EXPECT_EQ(p.pixel(55, 55), 1);
    EXPECT_EQ(p.pixel(45, 15), 0);
    EXPECT_EQ(p.pixel(9, 15), 0);
    EXPECT_EQ(p.pixel(10, 10), 255);
    EXPECT_EQ(p.pixel(29, 29), 254 + (29 < 20));
}

TEST(Fill, ResultDoesNotDependOnThreadCount)
{
    // A many-sided star with overlapping spikes, on a plane large enough for row parallelism.
    Segments star;
    const int n = 301;
    for (int i = 0; i < n; i++) {
        const double a0 = 2 * M_PI * i * 7 / n, a1 = 2 * M_PI * (i + 1) * 7 / n;
        star += Segment{float(50 + 45 * std::cos(a0)), float(50 + 45 * std::sin(a0)),
                        float(50 + 45 * std::cos(a1)), float(50 + 45 * std::sin(a1))};
    }
    const Extents ext{0, 0, 100, 100};
    const int saved = omp_get_max_threads();
    Filled results[2][3];
    for (int t = 0; t < 2; t++) {
        omp_set_num_threads(t + 1);
        for (Rule rule : {NonZero, Positive, Odd})
            results[t][rule] = fill(rule, star, true, 256, 256, ext);
    }
    omp_set_num_threads(saved);
    for (Rule rule : {NonZero, Positive, Odd}) {
        EXPECT_EQ(results[0][rule].plane, results[1][rule].plane) << rule;
        EXPECT_EQ(results[0][rule].unclosed, results[1][rule].unclosed);
        EXPECT_FALSE(results[0][rule].unclosed);
    }
    // The star's centre has winding 7 (all rules but Odd fill it).
    EXPECT_EQ(results[0][NonZero].plane.pixel(128, 128), 255);
    EXPECT_EQ(results[0][Odd].plane.pixel(128, 128), 255);
}

namespace {

// Straightforward model of the 4 x 4 supersampled fills: every sample row
// keeps its crossings in a set, a taken sample pushes a crossing one sample
// left, and each sample row is walked from the left.
Plane8 modelFill(Rule rule, const Segments &segs, int w, int h, const Extents &e)
{
    const int cols = 4 * w, rows = 4 * h;
    std::vector<std::vector<int>> plus(size_t(rows), std::vector<int>(size_t(cols), 0)), minus = plus;
    const double kx = cols / (double(e.maxX) - e.minX), ky = rows / (double(e.maxY) - e.minY);
    auto rnd = [](double v) { return int(std::floor(v + 0.5)); };
    for (const Segment &s : segs) {
        // A row is crossed where the segment passes its centre, between the
        // segment's own (unrounded) ends.
        const double x0 = (s.x0 - e.minX) * kx, y0 = (s.y0 - e.minY) * ky;
        const double x1 = (s.x1 - e.minX) * kx, y1 = (s.y1 - e.minY) * ky;
        if (rnd(y0) == rnd(y1))
            continue;
        const bool up = y1 > y0;
        for (int r = rnd(std::min(y0, y1)); r < rnd(std::max(y0, y1)); r++) {
            const float x = float(x0 + (r + 0.5 - y0) * (x1 - x0) / (y1 - y0));
            int c = int(std::floor(x + 0.5f));
            if (r < 0 || r >= rows || c >= cols)
                continue;
            c = std::max(0, c);
            if (rule == Odd) {
                plus[size_t(r)][size_t(c)] ^= 1;
                continue;
            }
            auto &taken = up ? plus[size_t(r)] : minus[size_t(r)];
            while (c >= 0 && taken[size_t(c)])
                c--;
            if (c >= 0)
                taken[size_t(c)] = 1;
        }
    }
    Plane8 out(w, h);
    std::vector<int> covered(size_t(w) * h, 0), edge(size_t(w) * h, 0), rowsIn(size_t(w) * h, 0);
    for (int r = 0; r < rows; r++) {
        int wind = 0;
        for (int c = 0; c < cols; c++) {
            const size_t px = size_t(r / 4) * w + c / 4;
            wind += plus[size_t(r)][size_t(c)] - minus[size_t(r)][size_t(c)];
            edge[px] |= plus[size_t(r)][size_t(c)] | minus[size_t(r)][size_t(c)];
            const bool in = rule == Odd ? (wind & 1) : rule == NonZero ? wind != 0 : wind > 0;
            covered[px] += in;
            if (c % 4 == 0) // entering the pixel: the sample row's state for an edge-free pixel
                rowsIn[px] += rule == Odd ? ((wind - plus[size_t(r)][size_t(c)]) & 1) : 0;
        }
    }
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const size_t px = size_t(y) * w + x;
            int v = std::min(255, 16 * covered[px]);
            if (rule == Odd) {
                const int q = x & ~3;
                bool quadFree = true;
                for (int i = q; i < q + 4 && i < w; i++)
                    quadFree = quadFree && !edge[size_t(y) * w + i];
                v = quadFree ? std::min(255, 64 * rowsIn[px]) : 16 * std::min(15, covered[px]);
            }
            out.setPixel(x, y, uchar(v));
        }
    return out;
}

} // namespace

TEST(Fill, RandomPolygonsMatchTheSampleModel)
{
    // Coarse random vertices make many crossings share samples, so the
    // collision shift, band borders and edge-free runs are all exercised.
    std::mt19937 rng(31);
    const Extents ext{-2, -2, 26, 26};
    for (int round = 0; round < 12; round++) {
        Segments segs;
        for (int loop = 0; loop < 3; loop++) {
            const int n = 3 + int(rng() % 12);
            std::vector<std::pair<float, float>> pts;
            for (int i = 0; i < n; i++)
                pts.push_back({float(rng() % 97) / 4.0f, float(rng() % 97) / 4.0f});
            for (int i = 0; i < n; i++)
                segs += Segment{pts[size_t(i)].first, pts[size_t(i)].second, pts[size_t((i + 1) % n)].first,
                                pts[size_t((i + 1) % n)].second};
        }
        for (Rule rule : {NonZero, Positive, Odd}) {
            const Filled f = fill(rule, segs, false, 96, 72, ext);
            const Plane8 model = modelFill(rule, segs, 96, 72, ext);
            ASSERT_EQ(f.plane, model) << "round " << round << " rule " << rule;
        }
    }
}

// Many coincident or nearly coincident walls pile their crossings onto the
// same samples; each moves left past all the taken ones (links jump over
// runs already walked). The result is the one-sample-at-a-time walk's.
TEST(Fill, CoincidentWallsMatchTheSampleModel)
{
    const Extents ext{-2, -2, 26, 26};
    for (int copies : {2, 5, 40, 300}) {
        Segments segs;
        for (int i = 0; i < copies; i++) {
            const float d = float(i % 7) * 0.01f; // 0.01 mm apart: mostly the same samples
            segs += rect(3 + d, 4, 20 + d, 19);
            if (i % 3 == 0)
                segs += rect(8 - d, 2, 12 - d, 23, true); // opposite walls crossing the first ones
        }
        for (Rule rule : {NonZero, Positive}) {
            const Filled f = fill(rule, segs, false, 96, 72, ext);
            const Plane8 model = modelFill(rule, segs, 96, 72, ext);
            ASSERT_EQ(f.plane, model) << copies << " copies, rule " << rule;
        }
    }
}

TEST(Fill, AnyHeightAndThreadCountGiveTheSameResult)
{
    // Heights that leave a partial band, with more threads than full bands.
    Segments segs = rect(3, 3, 50, 40);
    segs += rect(10, 10, 20, 20, true);
    const int saved = omp_get_max_threads();
    for (int h : {1, 7, 9, 60, 61, 64}) {
        const Extents ext{0, 0, 64, float(h)};
        Filled single[3];
        omp_set_num_threads(1);
        for (Rule rule : {NonZero, Positive, Odd})
            single[rule] = fill(rule, segs, true, 64, h, ext);
        omp_set_num_threads(8);
        for (Rule rule : {NonZero, Positive, Odd}) {
            const Filled many = fill(rule, segs, true, 64, h, ext);
            EXPECT_EQ(many.plane, single[rule].plane) << "height " << h << " rule " << rule;
            EXPECT_EQ(many.unclosed, single[rule].unclosed);
        }
    }
    omp_set_num_threads(saved);
}

// A real part's layers against the model, filled one after another into one
// plane that keeps its pixels and block summary (as a thread's raster does:
// blocks that keep their value are not written again), and the fill's
// summary hint made exact against the pixels.
TEST(Fill, RealLayersMatchTheSampleModelInAKeptPlane)
{
    const MeshLayers real = meshLayers(TESSAVO_TEST_DATA "/driver/star_spikes.stl", 0.45f);
    ASSERT_GE(real.layers.size(), 10u);
    const int w = real.grid.width, h = real.grid.height;
    for (Rule rule : {NonZero, Positive, Odd}) {
        Plane8 kept(w, h), summary;
        Plane1 scratch;
        kept.fill(7);
        bool known = false;
        for (size_t k = 0; k < real.layers.size(); ++k) {
            const Segments &segs = real.layers[k];
            Plane8 hint;
            const Plane8 before = summary;
            if (rule == Odd)
                kept.fromSegs2(segs, real.grid.extents, scratch, false, &hint, known ? &before : nullptr);
            else
                kept.fromSegs3(segs, real.grid.extents, scratch, rule == NonZero, false, &hint, known ? &before : nullptr);
            summary = kept.blockSummary();
            known = true;
            Plane8 refined = hint;
            kept.refineBlockSummary(refined);
            ASSERT_EQ(refined, summary) << "layer " << k << " rule " << rule;
            if (k % 3 == 0) {
                ASSERT_EQ(kept, modelFill(rule, segs, w, h, real.grid.extents)) << "layer " << k << " rule " << rule;
            }
        }
    }
}
