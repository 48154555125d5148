// The distance step's levels against distances measured by brute force: every
// pixel inside the section gets 128 + (distance to the traced outline - step)
// * 255 / ramp, whatever the outline's slant, bends and reflex corners, and
// whether the pixel is close to one segment or to several.
#include "toolpath/distancestep.h"
#include "toolpath/shellsteps.h"

#include "raster/plane1.h"
#include "raster/plane8.h"
#include "raster/contourdetect3.h"
#include "fixtures/rasterfixtures.h"

#include <gtest/gtest.h>
#include <QPoint>
#include <QSize>
#include <random>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <limits>

namespace {

float distanceToOutline(float px, float py, const PathList &outline)
{
    float best = std::numeric_limits<float>::infinity();
    for (const PolyLine &pl : outline) {
        const int n = pl.pts.size();
        for (int k = 0; k < (pl.closed ? n : n - 1); ++k) {
            const PolyPoint a = pl.pts[k], b = pl.pts[(k + 1) % n];
            const float dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
            const float t = l2 > 0 ? std::clamp(((px - a.x) * dx + (py - a.y) * dy) / l2, 0.0f, 1.0f) : 0.0f;
            best = std::min(best, std::hypot(px - a.x - t * dx, py - a.y - t * dy));
        }
    }
    return best;
}

// The level a pixel inside at distance r should get for a step of d.
int expectedLevel(float r, float d)
{
    const float s = r - d;
    const int q = int(std::floor(std::clamp(128 + s * 255 / kDistanceRamp, -1.0f, 256.0f) + 0.5f));
    return std::clamp(s >= 0 ? std::max(128, q) : std::min(127, q), 0, 255);
}

} // namespace

TEST(DistanceStep, LevelsAreTheDistanceToTheOutline)
{
    struct Shape {
        const char *name;
        std::function<bool(float, float)> inside;
    };
    // Wide shapes only: parts nowhere wider than kThinInset are dropped on
    // purpose, which the formula above does not describe.
    const Shape shapes[] = {
        {"disc", [](float x, float y) { return std::hypot(x - 64.3f, y - 63.8f) < 40; }},
        {"ring", [](float x, float y) {
             const float r = std::hypot(x - 64.6f, y - 64.1f);
             return r < 50 && r > 21.5f;
         }},
        {"slanted square", [](float x, float y) {
             const float u = 0.940f * (x - 64) + 0.342f * (y - 64), v = -0.342f * (x - 64) + 0.940f * (y - 64);
             return std::fabs(u) < 35.2f && std::fabs(v) < 30.7f;
         }},
        {"L with a reflex corner", [](float x, float y) {
             return x > 20.3f && y > 18.6f && x < 108 && y < 110 && !(x > 60.4f && y > 57.9f);
         }},
        {"acute wedge", [](float x, float y) {
             return y > 30.2f && y < 100 && std::fabs(x - 64.2f) < (y - 30.2f) * 0.27f;
         }},
    };
    for (const Shape &sh : shapes) {
        for (float d : {kMinDistanceStep + 0.5f, 3.003f, 5.7f, kMaxDistanceStep}) {
            Plane8 cov = emptyCoverage(128, 128);
            paint(cov, sh.inside);
            const Plane8 before = cov;
            Plane8 summary;
            blockSummary8(cov, summary);
            Plane1 visited;
            PathList edge;
            distanceOffset(cov, summary, d, visited, &edge, true);
            ASSERT_FALSE(edge.isEmpty()) << sh.name;
            int checked = 0, wrong = 0;
            for (int y = 0; y < cov.height; ++y)
                for (int x = 0; x < cov.width; ++x) {
                    const int was = before.data[y * cov.width + x], got = cov.data[y * cov.width + x];
                    if (was < 128) {
                        EXPECT_EQ(got, 0) << sh.name << " d " << d << " at " << x << "," << y;
                        continue;
                    }
                    const float r = distanceToOutline(x + 0.5f, y + 0.5f, edge);
                    // Pixels the thin-part rule may touch: a wedge's tip.
                    if (r < d + kThinInset / 2 + 1 && std::string(sh.name) == "acute wedge" && y < 30.2f + 4 * (d + 3))
                        continue;
                    ++checked;
                    // One level for the float rounding of the distance.
                    if (std::abs(got - expectedLevel(r, d)) > 1) {
                        ++wrong;
                        ADD_FAILURE() << sh.name << " d " << d << " at " << x << "," << y << ": level " << got
                                      << ", distance " << r << " wants " << expectedLevel(r, d);
                    }
                    if (wrong > 5)
                        break;
                }
            EXPECT_GT(checked, 200) << sh.name;
            // The summary still describes the plane.
            Plane8 fresh;
            blockSummary8(cov, fresh);
            for (int i = 0; i < fresh.width * fresh.height; ++i)
                ASSERT_EQ(summary.data[i], fresh.data[i]) << sh.name << " d " << d << " block " << i;
        }
    }
}

TEST(DistanceStep, RegionReachingThePlaneBorderShrinksFromIt)
{
    // Beyond the plane counts as outside: a region that fills it must still
    // lose `d` from every side, or the shell steps would never use it up.
    // A band along each side in turn, touching no other side, and one
    // filling the plane.
    const float d = 3.003f;
    for (int side = 0; side < 5; ++side) {
        // (u, v): u across the band from its plane side, v along it.
        auto toPlane = [side](int u, int v) {
            return side == 0 ? QPoint(v, u) : side == 1 ? QPoint(v, 63 - u) : side == 2 ? QPoint(u, v) : QPoint(63 - u, v);
        };
        Plane8 cov = emptyCoverage(64, 64);
        if (side == 4)
            paintRect(cov, 0, 0, 64, 64);
        else
            for (int u = 0; u < 30; ++u)
                for (int v = 8; v < 56; ++v) {
                    const QPoint q = toPlane(u, v);
                    cov.data[q.y() * 64 + q.x()] = 255;
                }
        Plane8 summary;
        blockSummary8(cov, summary);
        Plane1 visited;
        distanceOffset(cov, summary, d, visited, nullptr, true);
        for (int v = 0; v < 64; ++v)
            for (int u = 0; u < 64; ++u) {
                const QPoint q = toPlane(u, v);
                const bool in = cov.data[q.y() * 64 + q.x()] >= 128;
                const float fromBorder = side == 4 ? std::min({v + 0.5f, 64 - v - 0.5f, u + 0.5f, 64 - u - 0.5f})
                                                   : u + 0.5f;
                if (side < 4 && (v < 20 || v >= 44 || u >= 20))
                    continue;  // near the band's own ends and far side
                if (fromBorder < d - 0.1f) {
                    EXPECT_FALSE(in) << "side " << side << " at " << u << "," << v;
                } else if (fromBorder > d + 0.1f) {
                    EXPECT_TRUE(in) << "side " << side << " at " << u << "," << v;
                }
            }
    }
}

TEST(DistanceStep, ChordTestMatchesItsScalarTwin)
{
    // Runs of crossings along slanted, straight and bent edges, chords of
    // every length and slant (a zero-length one too), counts that leave a
    // tail beyond the groups of four, and points right at the tolerance.
    uint32_t seed = 12345;
    auto rnd = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1u << 24);
    };
    const float tol2 = 0.005f * 0.005f;
    int agreeTrue = 0, agreeFalse = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const int count = 1 + trial % 70;
        const PolyPoint a(rnd() * 500, rnd() * 500);
        const float ang = rnd() * 6.2832f, len = trial % 97 == 0 ? 0.0f : 1 + rnd() * 80;
        const PolyPoint b(a.x + len * std::cos(ang), a.y + len * std::sin(ang));
        // Off the chord by up to twice the tolerance, and on it exactly.
        const float spread = trial % 3 == 0 ? 0.0f : trial % 3 == 1 ? 0.004f : 0.012f;
        std::vector<PolyPoint> pts;
        for (int j = 0; j < count; ++j) {
            const float t = (j + 1.0f) / (count + 1) + (trial % 5 == 0 ? rnd() * 0.4f - 0.2f : 0);
            const float off = (rnd() * 2 - 1) * spread;
            pts.emplace_back(a.x + t * (b.x - a.x) - off * std::sin(ang), a.y + t * (b.y - a.y) + off * std::cos(ang));
        }
        if (trial % 251 == 0)
            pts[size_t(trial % count)].x = std::numeric_limits<float>::quiet_NaN();
        const bool scalar = pointsNearChordScalar(pts.data(), count, a, b, tol2);
        ASSERT_EQ(pointsNearChord(pts.data(), count, a, b, tol2), scalar) << "trial " << trial;
        ++(scalar ? agreeTrue : agreeFalse);
    }
    // Both answers were exercised.
    EXPECT_GT(agreeTrue, 500);
    EXPECT_GT(agreeFalse, 500);
}

// The band's blocks through padded rows must match the per-block tests:
// summaries of random blocks (runs of one value, lone mixed blocks) on
// planes of one block, one row, one column and more, with and without the
// border counting as an edge.
TEST(DistanceStep, BandBlocksMatchTheirScalarTwin)
{
    std::mt19937 rng(31);
    const uchar values[3] = {0, 128, 255};
    for (const QSize size : {QSize(1, 1), QSize(7, 1), QSize(1, 9), QSize(5, 4), QSize(33, 17), QSize(64, 40)})
        for (int trial = 0; trial < 12; ++trial) {
            Plane8 summary(size.width(), size.height());
            std::uniform_int_distribution<int> pick(0, 2), keep(0, 9);
            uchar v = values[pick(rng)];
            for (int i = 0; i < size.width() * size.height(); ++i) {
                if (keep(rng) < 2)
                    v = values[pick(rng)];
                summary.data[i] = v;
            }
            for (bool border : {false, true})
                ASSERT_EQ(bandBlocks(summary, border), bandBlocksScalar(summary, border))
                    << size.width() << " x " << size.height() << " trial " << trial << " border " << border;
        }
}

TEST(DistanceStep, MergingStraightRunsMatchesItsScalarTwin)
{
    // Outlines as the trace gives them: runs along the pixel axes (exactly
    // shared coordinates, forwards and back, a point off the line, a point
    // past the chord's end), slanted runs, bends and corners, far from the
    // origin too.
    uint32_t seed = 777;
    auto rnd = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1u << 24);
    };
    int merged = 0;
    for (int trial = 0; trial < 300; ++trial) {
        PolyLine pl;
        pl.closed = true;
        PolyPoint q(rnd() * 4000, rnd() * 4000);
        while (pl.pts.size() < 400) {
            const int kind = int(rnd() * 5);
            const int len = 1 + int(rnd() * 90);
            const float step = (rnd() < 0.5f ? -1 : 1) * (0.2f + rnd() * 1.5f);
            for (int k = 0; k < len; ++k) {
                if (kind == 0)
                    q.x += step;
                else if (kind == 1)
                    q.y += step;
                else if (kind == 2)
                    q = q + PolyPoint(step, step * 0.37f);
                else if (kind == 3)
                    q = q + PolyPoint(step * std::cos(k * 0.1f), step * std::sin(k * 0.1f));
                else
                    q.y += (k == len / 2 ? -3 : 1) * step;  // doubles back past the chord's end
                PolyPoint v = q;
                if (rnd() < 0.02f)
                    v.x += rnd() < 0.5f ? 0.004f : 0.03f;  // off the line, within and beyond tolerance
                pl.pts.append(v);
            }
        }
        for (float tol : {0.005f, 0.0001f}) {
            PolyLine fast = pl, slow = pl;
            mergeStraightRuns(fast, tol, 64);
            mergeStraightRunsScalar(slow, tol, 64);
            ASSERT_EQ(fast.pts.size(), slow.pts.size()) << "trial " << trial;
            for (int i = 0; i < fast.pts.size(); ++i)
                ASSERT_TRUE(fast.pts[i] == slow.pts[i]) << "trial " << trial << " point " << i;
            merged += pl.pts.size() - fast.pts.size();
        }
    }
    EXPECT_GT(merged, 10000);
    // And what the distance step really feeds it: the area outline of a
    // section with long axis runs (over maxRun), slants and a round part.
    Plane8 cov = emptyCoverage(256, 160);
    paintRect(cov, 10, 10, 200, 120.5f);
    paintCircle(cov, 190, 110, 40);
    const float vx[3] = {30, 120, 60}, vy[3] = {130, 150, 100};
    paintTriangle(cov, vx, vy);
    Plane8 summary;
    blockSummary8(cov, summary);
    Plane1 visited;
    const PathList outline = areaOutline(cov, summary, visited);
    ASSERT_FALSE(outline.isEmpty());
    for (const PolyLine &pl : outline)
        for (int maxRun : {64, 5}) {
            PolyLine fast = pl, slow = pl;
            mergeStraightRuns(fast, 0.005f, maxRun);
            mergeStraightRunsScalar(slow, 0.005f, maxRun);
            EXPECT_EQ(fast.pts, slow.pts) << pl.size() << " crossings, maxRun " << maxRun;
        }
}

// The band's faster kernels against their first forms, byte for byte: random
// scenes of discs, rings, slanted bars, wedges and strips too thin to keep
// (some reaching the plane's border), stepped as the shell steps do: the
// first step from area coverage, the next ones from the level before, with
// and without the trace handed in.
TEST(DistanceStep, MatchesItsReferenceTwin)
{
    std::mt19937 rng(2026);
    std::uniform_real_distribution<float> u(0, 1);
    int compared = 0;
    for (int scene = 0; scene < 40; ++scene) {
        const int w = 16 * (4 + scene % 7), h = 16 * (3 + scene % 5);
        Plane8 cov = emptyCoverage(w, h);
        const int shapes = 1 + scene % 4;
        for (int k = 0; k < shapes; ++k) {
            const float cx = u(rng) * w, cy = u(rng) * h, r = 3 + u(rng) * 0.4f * std::min(w, h);
            const float ang = u(rng) * 3.1416f, c = std::cos(ang), sn = std::sin(ang);
            switch ((scene + k) % 5) {
            case 0:
                paintCircle(cov, cx, cy, r);
                break;
            case 1:
                paint(cov, [=](float x, float y) {
                    const float q = std::hypot(x - cx, y - cy);
                    return q < r + 6 && q > r - 1.5f - (scene % 3);
                });
                break;
            case 2: {  // a slanted bar, now and then thinner than any step keeps
                const float half = scene % 2 ? 1.2f + 0.3f * k : 4 + r / 4;
                paint(cov, [=](float x, float y) {
                    const float along = c * (x - cx) + sn * (y - cy), across = -sn * (x - cx) + c * (y - cy);
                    return std::fabs(along) < r && std::fabs(across) < half;
                });
                break;
            }
            case 3: {
                const float vx[3] = {cx, cx + r * c, cx - r * sn}, vy[3] = {cy, cy + r * sn, cy + r * c};
                paintTriangle(cov, vx, vy);
                break;
            }
            default:
                paintRect(cov, scene % 2 ? 0 : cx - r, cy - r / 2, cx + r, scene % 3 ? cy + r / 2 : float(h));
            }
        }
        Plane8 covA = cov, covB = cov, sumA, sumB;
        blockSummary8(covA, sumA);
        blockSummary8(covB, sumB);
        Plane1 visA, visB;
        for (int step = 0; step < 3; ++step) {
            const float d = kMinDistanceStep + u(rng) * (kMaxDistanceStep - kMinDistanceStep) * (step ? 0.5f : 1);
            const bool area = step == 0;
            PathList edgeA, edgeB, traced;
            const PathList *given = nullptr;
            if (!area && step == 2) {
                traced = contourDetect3(covA, sumA, visA, keepEveryCrossing());
                given = &traced;
            }
            distanceOffset(covA, sumA, d, visA, &edgeA, area, given);
            distanceOffsetReference(covB, sumB, d, visB, &edgeB, area, given);
            const std::string where = "scene " + std::to_string(scene) + " step " + std::to_string(step);
            ASSERT_EQ(0, std::memcmp(covA.data, covB.data, size_t(w) * h)) << where;
            ASSERT_EQ(0, std::memcmp(sumA.data, sumB.data, size_t(sumA.width) * sumA.height)) << where;
            ASSERT_EQ(edgeA.size(), edgeB.size()) << where;
            for (int i = 0; i < edgeA.size(); ++i)
                ASSERT_TRUE(edgeA[i].pts == edgeB[i].pts) << where << " edge " << i;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 120);
}

// Thin bars that fill a block end to end: their start pixels lie along the
// block's sides, where the faster thin-part test reads the blocks around it.
// Each is dropped whole (the twin says so), and the fast road must agree.
TEST(DistanceStep, ThinBarsAlongBlockSidesMatchTheReferenceTwin)
{
    for (int vertical = 0; vertical < 2; ++vertical)
        for (float shift : {0.3f, 0.0f, -0.4f})
            for (int block = 1; block < 3; ++block) {
                Plane8 cov = emptyCoverage(80, 64);
                const float lo = 16.0f * block + shift, hi = lo + 15.4f, mid = 24 + 16 * (block - 1) + 0.5f;
                if (vertical)
                    paintRect(cov, mid - 2.3f, lo, mid + 2.3f, hi);
                else
                    paintRect(cov, lo, mid - 2.3f, hi, mid + 2.3f);
                // A wide part elsewhere keeps the plane from emptying.
                paintRect(cov, 60, 40, 78, 62);
                Plane8 covB = cov, sumA, sumB;
                blockSummary8(cov, sumA);
                blockSummary8(covB, sumB);
                Plane1 visA, visB;
                distanceOffset(cov, sumA, kMinDistanceStep, visA, nullptr, true);
                distanceOffsetReference(covB, sumB, kMinDistanceStep, visB, nullptr, true);
                const std::string where = std::string(vertical ? "vertical" : "horizontal") + " bar at " +
                                          std::to_string(lo);
                int kept = 0;
                for (int y = 0; y < 40; ++y)
                    for (int x = 0; x < 56; ++x)
                        kept += covB.data[y * 80 + x] >= 128;
                EXPECT_EQ(kept, 0) << where;
                ASSERT_EQ(0, std::memcmp(cov.data, covB.data, 80 * 64)) << where;
                ASSERT_EQ(0, std::memcmp(sumA.data, sumB.data, size_t(sumA.width) * sumA.height)) << where;
            }
}

// The thin-part walks keep their marks from call to call on a thread: a
// call after others (a larger plane with many walks, and the same scene
// again) must give what it gives on a fresh thread.
TEST(DistanceStep, ThinPartsDoNotDependOnEarlierCalls)
{
    auto scene = [](int w, int h, int bars) {
        Plane8 cov = emptyCoverage(w, h);
        paintRect(cov, w - 40.0f, h - 40.0f, w - 4.0f, h - 4.0f);  // a wide part, kept
        for (int k = 0; k < bars; ++k) {
            const float x = 6 + 9.0f * k + 0.3f * (k % 3);
            paintRect(cov, x, 5, x + 4.6f - 0.4f * (k % 2), h - (k % 2 ? 20.0f : 6.0f));
        }
        return cov;
    };
    auto step = [](Plane8 cov) {
        Plane8 summary;
        blockSummary8(cov, summary);
        Plane1 visited;
        distanceOffset(cov, summary, kMinDistanceStep, visited, nullptr, true);
        return cov;
    };
    const Plane8 big = scene(320, 160, 28), small = scene(96, 80, 6);
    Plane8 fresh;
    std::thread([&] { fresh = step(small); }).join();
    int dropped = 0;
    for (int i = 0; i < 96 * 80; ++i)
        dropped += small.data[i] >= 128 && fresh.data[i] < 128;
    EXPECT_GT(dropped, 100);  // the scene has thin parts to walk
    step(big);
    const Plane8 after = step(small);
    EXPECT_EQ(0, std::memcmp(fresh.data, after.data, 96 * 80));
    const Plane8 again = step(small);
    EXPECT_EQ(0, std::memcmp(fresh.data, again.data, 96 * 80));
}
