// Kernels that skip uniform 16 x 16 blocks against their pixel-by-pixel twins.
#include "fixtures/rasterfixtures.h"
#include "toolpath/fill.h"
#include "toolpath/hairdetect.h"
#include "toolpath/shellsteps.h"

#include <QRect>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

// Coverage with large uniform areas, thin walls, holes and a ramp: discs,
// rings and bars at random places; sizes that are and are not whole blocks.
Plane8 blobs(int w, int h, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> ux(0, float(w)), uy(0, float(h)), ur(2, 60);
    Plane8 p = emptyCoverage(w, h);
    for (int i = 0; i < 6; ++i) {
        const float cx = ux(rng), cy = uy(rng), r = ur(rng), hole = r * 0.5f;
        paint(p, [=](float x, float y) {
            const float d = std::hypot(x - cx, y - cy);
            return d < r && (i % 3 != 0 || d > hole);
        });
    }
    paintRect(p, 3.3f, 0, 5.1f, float(h));           // a wall under two pixels thick
    paintRect(p, 0, float(h) - 20, float(w), float(h)); // a band along the bottom edge
    return p;
}

TEST(BlockSkip, LevelBitsMatchThePixelWalk)
{
    for (const QSize size : {QSize(256, 192), QSize(200, 176), QSize(37, 50)})
        for (unsigned seed = 1; seed <= 4; ++seed) {
            const Plane8 cov = blobs(size.width(), size.height(), seed);
            Plane8 summary;
            blockSummary8(cov, summary);
            Plane8 wrongSize(3, 3);
            wrongSize.fill(255);
            for (bool columns : {false, true}) {
                std::vector<quint64> ref, fast, plain;
                int refWords = 0, fastWords = 0, plainWords = 0;
                levelLineBitsScalar(cov, columns, ref, refWords);
                levelLineBits(cov, &summary, columns, fast, fastWords);
                // A summary of another size is not trusted.
                levelLineBits(cov, &wrongSize, columns, plain, plainWords);
                EXPECT_EQ(fastWords, refWords);
                EXPECT_EQ(fast, ref) << size.width() << "x" << size.height() << " seed " << seed;
                EXPECT_EQ(plain, ref);
            }
        }
}

// The run scan over the plane pixel by pixel, over uniform blocks by the
// summary, and over a block snapshot of the plane (uniform blocks kept by
// value only; blocks cut by the border kept as pixels) finds the same runs.
TEST(BlockSkip, ThinRunMarkersSameWithSummaryAndSnapshot)
{
    for (const QSize size : {QSize(256, 192), QSize(200, 176), QSize(200, 150)})
        for (unsigned seed : {7u, 8u}) {
            const int w = size.width(), h = size.height();
            Plane8 before = blobs(w, h, seed), summary;
            blockSummary8(before, summary);
            Plane8 after = before;
            if (w % 16 == 0 && h % 16 == 0) {
                Plane8 afterSummary = summary;
                OffsetScratch s;
                offsetCoverage(after, afterSummary, 1.5f, 1.0f, s);
            } else {
                after = emptyCoverage(w, h); // every run vanishes
            }
            BlockSnapshot snap;
            snap.take(before, summary);
            EXPECT_EQ(snap.toPlane(), before);
            EXPECT_EQ(snap.summary(), before.blockSummary());
            for (bool columns : {false, true}) {
                HairMarkers plain, fast, kept;
                thinRunMarkers(before, after, columns, 12.0f, plain);
                thinRunMarkers(before, after, columns, 12.0f, fast, &summary);
                thinRunMarkers(snap, after, columns, 12.0f, kept);
                EXPECT_EQ(fast, plain) << w << "x" << h << " seed " << seed;
                EXPECT_EQ(kept, plain) << w << "x" << h << " seed " << seed;
                int n = 0;
                for (const auto &l : plain)
                    n += l.size();
                EXPECT_GT(n, 0) << w << "x" << h << " seed " << seed << ": the fixture's thin wall must give markers";
            }
        }
    // A summary of another size is not trusted: the snapshot makes its own.
    const Plane8 plane = blobs(64, 48, 3);
    BlockSnapshot snap;
    snap.take(plane, Plane8(1, 1));
    EXPECT_EQ(snap.toPlane(), plane);
    EXPECT_EQ(snap.summary(), plane.blockSummary());
}

// Bit-exact run ends: the fast walk must cross the same pixels at the same
// times, on steep, shallow, axis-parallel and diagonal lines.
TEST(BlockSkip, ScanLineRunsMatchThePixelWalk)
{
    for (const QSize size : {QSize(256, 192), QSize(200, 176), QSize(160, 160), QSize(640, 480)}) {
        Plane1 region;
        if (size.width() == 640) {
            // A large solid with a hole and a notch: long walks through
            // uniform rectangles that end at block and pixel edges.
            region = emptyMask(640, 480);
            maskRect(region, 37, 21, 603, 459);
            for (int y = 200; y < 261; ++y)
                for (int x = 300; x < 357; ++x)
                    region.setPixel(x, y, false);
            for (int y = 21; y < 140; ++y)
                for (int x = 96; x < 112; ++x)
                    region.setPixel(x, y, false);
        } else if (size.width() == 160) {
            // Full and empty blocks as a chequerboard: a walk through a block
            // corner meets a side neighbour of the other state for one pixel.
            region = Plane1(160, 160);
            for (int y = 0; y < 160; ++y)
                for (int x = 0; x < 160; ++x)
                    region.setPixel(x, y, ((x >> 4) + (y >> 4)) % 2 == 0);
        } else {
            region.fromPlane8(blobs(size.width(), size.height(), 11), 128, false);
        }
        const Plane8 summary = region.blockSummary();
        const BlockRuns blocks = blockRuns(summary);
        // Lines whose direction's array was not made walk block by block.
        const BlockRuns some = blockRuns(summary, kRunsRight | kRunsUp);
        std::mt19937 rng(5);
        std::uniform_real_distribution<double> ang(0, 6.2832), off(-150, 150);
        int lines = 0, runs = 0;
        auto check = [&](double ax, double ay, double bx, double by) {
            std::vector<ScanRun> ref, plain, fast, far, part;
            scanLineRunsScalar(region, ax, ay, bx, by, 0.0f, ref);
            scanLineRuns(region, nullptr, ax, ay, bx, by, 0.0f, plain);
            scanLineRuns(region, &summary, ax, ay, bx, by, 0.0f, fast);
            scanLineRuns(region, &summary, ax, ay, bx, by, 0.0f, far, &blocks);
            scanLineRuns(region, &summary, ax, ay, bx, by, 0.0f, part, &some);
            for (const std::vector<ScanRun> *got : {&plain, &fast, &far, &part}) {
                ASSERT_EQ(got->size(), ref.size());
                for (size_t i = 0; i < ref.size(); ++i) {
                    EXPECT_EQ((*got)[i].a, ref[i].a);
                    EXPECT_EQ((*got)[i].b, ref[i].b);
                }
            }
            ++lines;
            runs += int(ref.size());
        };
        const double cx = size.width() / 2.0, cy = size.height() / 2.0;
        for (int i = 0; i < 300; ++i) {
            const double t = ang(rng), o = off(rng);
            const double ux = std::cos(t), uy = std::sin(t);
            const double px = cx - uy * o, py = cy + ux * o;
            check(px - 400 * ux, py - 400 * uy, px + 400 * ux, py + 400 * uy);
        }
        for (double y = 0.5; y < size.height(); y += 7.25) {
            check(-10, y, size.width() + 10, y);
            check(y, -10, y, size.height() + 10);
            check(-10, y - 100, size.width() + 10, y + size.width() + 10); // 45 degrees
        }
        // Segments ending inside the plane, many inside uniform blocks.
        std::uniform_real_distribution<double> px(0, size.width()), py(0, size.height()), l(0.3, 90);
        for (int i = 0; i < 300; ++i) {
            const double x0 = px(rng), y0 = py(rng), t = ang(rng), len = l(rng);
            check(x0, y0, x0 + len * std::cos(t), y0 + len * std::sin(t));
        }
        // Through pixel corners: x and y crossings fall at the same time.
        for (int k = -150; k < size.height(); k += 9) {
            check(0, k, 300, k + 300);
            check(300, k, 0, k + 300);
            check(1, k, 241, k + 120);
            check(1, k + 240, 121, k);
        }
        check(20.25, 30.75, 20.5, 31); // a short piece inside one block
        // The fill's nearly axis-parallel families (90 degrees in float
        // radians is not quite vertical) and shallow slopes.
        for (const double deg : {0.0, 90.0, 180.0, 270.0, 0.5, 89.5, 45.0, 135.0, 3.0}) {
            const double t = deg * 0.017453292, ux = std::cos(t), uy = std::sin(t), R = 500;
            for (double o = -260; o <= 260; o += 13.7) {
                const double px = cx - uy * o, py = cy + ux * o;
                check(px - R * ux, py - R * uy, px + R * ux, py + R * uy);
            }
        }
        EXPECT_GT(runs, lines / 2);
    }
}

} // namespace

namespace {

// Lines that cannot meet the region are not walked: a patch in a corner of a
// large plane must get exactly the runs of every line walked pixel by pixel,
// at angles where the skipped lines lie on either side of the patch.
TEST(BlockSkip, PatternFillSkipsOnlyLinesThatMissTheRegion)
{
    const int w = 320, h = 256;
    for (const QRect patch : {QRect(8, 8, 40, 30), QRect(250, 200, 60, 50), QRect(150, 0, 20, 256)}) {
        Plane1 region = emptyMask(w, h);
        maskRect(region, patch.left(), patch.top(), patch.right() + 1, patch.bottom() + 1);
        for (const float angle : {0.0f, 30.0f, 45.0f, 90.0f, 137.0f}) {
            const float spacing = 7.5f;
            PathList pool;
            patternFill(pool, region, Infill, spacing, angle, 2, 1, 1.0f, 0.0f);
            // The documented line layout, every line walked.
            PathList ref;
            const double R = std::hypot(double(w), double(h)) / 2, ox = (w - 2) / 2.0, oy = (h - 2) / 2.0;
            const int n = int(std::ceil(R / spacing));
            for (int j = 0; j < 2; ++j) {
                const double t = angle * 0.017453292 + j * 3.14159265358979323846 / 2;
                const double ux = std::cos(t), uy = std::sin(t);
                for (int k = -n; k <= n; ++k) {
                    const double cx = ox - k * double(spacing) * uy, cy = oy + k * double(spacing) * ux;
                    std::vector<ScanRun> runs;
                    scanLineRuns(region, nullptr, cx - R * ux, cy - R * uy, cx + R * ux, cy + R * uy, 0.0f, runs);
                    for (const ScanRun &r : runs) {
                        PolyLine pl(Infill);
                        pl.pts = {r.a, r.b};
                        ref.append(pl);
                    }
                }
            }
            ASSERT_EQ(pool.size(), ref.size()) << angle;
            ASSERT_GT(ref.size(), 4);
            for (int i = 0; i < ref.size(); ++i)
                EXPECT_EQ(pool[i].pts, ref[i].pts) << angle << " path " << i;
        }
    }
}

} // namespace

namespace {

// The closed-form running sum against adding one by one: starts and steps
// that cross binades, steps that are not multiples of the start's unit (each
// addition rounds), ties that round by parity, steps under half a unit,
// powers of two and counts up to a whole line's pixels.
TEST(BlockSkip, RepeatedSumMatchesAddingOneByOne)
{
    struct Case { double s, c; };
    std::vector<Case> cases = {
        {0.1, 0.01}, {1e-3, 1.0 / 3}, {0.5, 0.25}, {0.999, 1e-3}, {0.3, 1.0 / 1586},
        {1.0, std::ldexp(1.0, -53)},                   // exactly half a unit: ties every step
        {1.0, 3 * std::ldexp(1.0, -53)},               // one and a half units
        {1.0 + std::ldexp(1.0, -52), std::ldexp(1.0, -53)},
        {0.75, std::ldexp(1.0, -60)},                  // under half a unit: never moves
        {std::ldexp(1.0, -30), 7e-6}, {2.5, 0.0}, {0.4, -0.001},
        {std::numeric_limits<double>::infinity(), 0.5},
        {0.2, std::numeric_limits<double>::infinity()}};
    std::mt19937_64 rng(17);
    std::uniform_real_distribution<double> start(1e-9, 1.5), step(1e-7, 0.05);
    for (int i = 0; i < 200; ++i)
        cases.push_back({start(rng), step(rng)});
    // Sums that cross into the next binade within the counts below.
    cases.push_back({0.49, 1e-4});
    cases.push_back({1.0 - 1e-6, 1.0 / 3000});
    for (const Case &c : cases) {
        // One asked in order, one backwards from far ahead.
        RunningSum sum(c.s, c.c), back(c.s, c.c);
        back.at(2900);
        for (long long k : {0LL, 1LL, 2LL, 15LL, 16LL, 17LL, 99LL, 100LL, 101LL, 300LL, 2900LL}) {
            const double ref = repeatedSumScalar(c.s, c.c, k);
            for (const double fast : {repeatedSum(c.s, c.c, k), sum.at(k), back.at(k)})
                EXPECT_TRUE(fast == ref || (std::isnan(fast) && std::isnan(ref)))
                    << std::hexfloat << c.s << " + " << c.c << " x " << k << ": " << fast << " vs " << ref;
        }
    }
}

} // namespace

namespace {

// The run maps against runs counted block by block.
TEST(BlockSkip, BlockRunsCountTheBlocksOfTheSameStateAhead)
{
    std::mt19937 rng(8);
    for (const QSize size : {QSize(1, 1), QSize(7, 1), QSize(1, 6), QSize(12, 9), QSize(40, 30)})
        for (int pattern = 0; pattern < 3; ++pattern) {
            Plane8 sum(size.width(), size.height());
            for (int y = 0; y < sum.height; ++y)
                for (int x = 0; x < sum.width; ++x) {
                    const bool inDisc = (x - 20) * (x - 20) + (y - 14) * (y - 14) < 150;
                    sum.setPixel(x, y, pattern == 0 ? uchar(inDisc ? 255 : 0)
                                       : pattern == 1 ? uchar(rng() % 7 ? 255 : 128)
                                                      : uchar(255));
                }
            const BlockRuns r = blockRuns(sum);
            // Only the arrays asked for.
            const BlockRuns some = blockRuns(sum, kRunsLeft | kRunsDown);
            EXPECT_EQ(some.left, r.left);
            EXPECT_EQ(some.down, r.down);
            EXPECT_TRUE(some.right.empty() && some.up.empty());
            ASSERT_EQ(r.width, sum.width);
            ASSERT_EQ(r.height, sum.height);
            auto count = [&](int x, int y, int ux, int uy) {
                int n = 0;
                for (int u = x, v = y; u >= 0 && v >= 0 && u < sum.width && v < sum.height
                                       && sum.pixel(u, v) == sum.pixel(x, y);
                     u += ux, v += uy)
                    ++n;
                return n;
            };
            for (int y = 0; y < sum.height; ++y)
                for (int x = 0; x < sum.width; ++x) {
                    const size_t i = size_t(y) * sum.width + x;
                    ASSERT_EQ(r.right[i], count(x, y, 1, 0)) << x << "," << y << " pattern " << pattern;
                    ASSERT_EQ(r.left[i], count(x, y, -1, 0)) << x << "," << y << " pattern " << pattern;
                    ASSERT_EQ(r.down[i], count(x, y, 0, 1)) << x << "," << y << " pattern " << pattern;
                    ASSERT_EQ(r.up[i], count(x, y, 0, -1)) << x << "," << y << " pattern " << pattern;
                }
        }
}

} // namespace

namespace {

// A whole family of lines from the region's boundary edges against each line
// walked pixel by pixel: run ends bit for bit, on random blobs, a large solid,
// a chequerboard of blocks, a region that fills the plane (runs that start and
// end on its border), planes of sizes that are not whole blocks (no summary),
// lines through pixel corners, segments that end inside the plane, uneven and
// unsorted offsets and families close to an axis.
TEST(BlockSkip, LineFamilyRunsMatchThePixelWalk)
{
    std::vector<Plane1> regions;
    for (const QSize size : {QSize(256, 192), QSize(200, 176), QSize(37, 50)}) {
        Plane1 r;
        r.fromPlane8(blobs(size.width(), size.height(), 21), 128, false);
        regions.push_back(r);
    }
    Plane1 solid = emptyMask(640, 480);
    maskRect(solid, 37, 21, 603, 459);
    for (int y = 200; y < 261; ++y)
        for (int x = 300; x < 357; ++x)
            solid.setPixel(x, y, false);
    regions.push_back(solid);
    Plane1 chequer(160, 160);
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 160; ++x)
            chequer.setPixel(x, y, ((x >> 4) + (y >> 4)) % 2 == 0);
    regions.push_back(chequer);
    Plane1 full = emptyMask(128, 96);
    maskRect(full, 0, 0, 128, 96);
    for (int y = 40; y < 50; ++y)
        for (int x = 0; x < 128; ++x)
            full.setPixel(x, y, (x / 8) % 2 == 0); // a row of notches across
    regions.push_back(full);

    std::mt19937 rng(23);
    std::uniform_real_distribution<double> ang(0, 6.2832);
    int lines = 0, walked = 0, runs = 0;
    for (const Plane1 &region : regions) {
        const Plane8 summary = region.blockSummary();
        const BlockRuns blocks = blockRuns(summary);
        const int w = region.width, h = region.height;
        const double halfDiag = std::hypot(double(w), double(h)) / 2;
        std::vector<double> angles = {45, 135, 225, 315, 30, 100, 0.3, 89.7, 90, 0};
        for (int i = 0; i < 6; ++i)
            angles.push_back(ang(rng) * 57.29578);
        for (const double deg : angles)
            for (const int layout : {0, 1, 2, 3}) {
                // 0: a fill's family; 1: short segments; 2: through pixel
                // corners (whole-pixel centre, spacing a whole diagonal);
                // 3: uneven offsets (bundles), 4 unsorted handled below.
                const double t = deg * 0.017453292, ux = std::cos(t), uy = std::sin(t);
                double ox = (w - 2) / 2.0, oy = (h - 2) / 2.0, R = halfDiag;
                std::vector<double> offsets;
                if (layout == 1)
                    R = 23.5;
                const double spacing = layout == 2 ? std::sqrt(2.0) : 3.003;
                if (layout == 2) {
                    ox = std::floor(ox);
                    oy = std::floor(oy);
                }
                const int n = int(std::ceil(halfDiag / spacing));
                for (int k = -n; k <= n; ++k) {
                    if (layout == 3) {
                        offsets.push_back(k * 9.0 - 1.1);
                        offsets.push_back(k * 9.0 + 0.4);
                        offsets.push_back(k * 9.0 + 1.9);
                    } else {
                        offsets.push_back(k * spacing);
                    }
                }
                for (const float minRun : {0.0f, 2.1f}) {
                    const LineFamilyRuns family(region, &summary, &blocks, ox, oy, ux, uy, R, offsets, minRun);
                    ASSERT_EQ(family.lineCount(), int(offsets.size()));
                    for (int i = 0; i < family.lineCount(); ++i) {
                        const double cx = ox + offsets[size_t(i)] * -uy, cy = oy + offsets[size_t(i)] * ux;
                        std::vector<ScanRun> ref, got;
                        scanLineRunsScalar(region, cx - R * ux, cy - R * uy, cx + R * ux, cy + R * uy, minRun, ref);
                        family.lineRuns(i, got);
                        ASSERT_EQ(got.size(), ref.size()) << deg << " layout " << layout << " line " << i;
                        for (size_t k = 0; k < ref.size(); ++k) {
                            EXPECT_EQ(got[k].a, ref[k].a) << deg << " layout " << layout << " line " << i;
                            EXPECT_EQ(got[k].b, ref[k].b) << deg << " layout " << layout << " line " << i;
                        }
                        runs += int(ref.size());
                    }
                    lines += family.lineCount();
                    walked += family.walkedLines();
                }
            }
        // Unsorted offsets are walked, and still right.
        const std::vector<double> unsorted = {30, -12, 7.5, 0};
        const LineFamilyRuns family(region, &summary, &blocks, w / 2.0, h / 2.0, 0.8, 0.6, halfDiag, unsorted, 0);
        EXPECT_EQ(family.walkedLines(), 4);
        for (int i = 0; i < 4; ++i) {
            const double cx = w / 2.0 - unsorted[size_t(i)] * 0.6, cy = h / 2.0 + unsorted[size_t(i)] * 0.8;
            std::vector<ScanRun> ref, got;
            scanLineRunsScalar(region, cx - halfDiag * 0.8, cy - halfDiag * 0.6, cx + halfDiag * 0.8,
                               cy + halfDiag * 0.6, 0, ref);
            family.lineRuns(i, got);
            ASSERT_EQ(got.size(), ref.size());
            for (size_t k = 0; k < ref.size(); ++k)
                EXPECT_TRUE(got[k].a == ref[k].a && got[k].b == ref[k].b);
        }
    }
    EXPECT_GT(runs, lines / 2);
    // Lines near an axis and through corners are walked, most are not.
    EXPECT_LT(walked, lines / 3);
    EXPECT_GT(walked, 0);
}

} // namespace
