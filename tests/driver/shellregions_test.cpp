#include "driver/shellregions.h"

#include "fixtures/rasterfixtures.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr int W = 64, Hgt = 32;

struct Split {
    QVector<Plane1> shell, infill;
};

// Runs the driver's loop for i = -2H … N - 1 with rings of the driver's
// capacities (window B), storing R(i + H) before each step.
Split runSteps(int H, int N, const std::function<Plane1(int)> &region, int B = 3)
{
    FIFO<Plane1> inner(H + 1), pairs(std::max((H + 1) / 2, 1)), stacks(H + 2), shell(B), infill(B);
    FIFO<Plane8> shellSums(B), infillSums(B);
    // With the regions' summaries, as the driver runs it: each one must be
    // its region's (or absent).
    ShellRegionRings rings{inner, pairs, stacks, shell, infill, &shellSums, &infillSums};
    Split out;
    for (int i = -2 * H; i < N; ++i) {
        const int L = i + H;
        inner.acquire(L) = (L >= 0 && L < N) ? region(L) : emptyMask(W, Hgt);
        shellRegionsStep(i, H, N, rings);
        if (i >= 0) {
            out.shell.append(shell.get(i));
            out.infill.append(infill.get(i));
            for (const Plane8 *sum : {&shellSums.get(i), &infillSums.get(i)})
                EXPECT_TRUE(sum->width == 0
                            || *sum == (sum == &shellSums.get(i) ? shell : infill).get(i).blockSummary())
                    << "H " << H << " layer " << i;
            if (H > 0) {
                EXPECT_TRUE(shellSums.get(i) == shell.get(i).blockSummary()) << "H " << H << " layer " << i;
            }
        }
    }
    return out;
}

// Infill = inside the layer and inside all H layers below and above.
Plane1 expectedInfill(int i, int H, int N, const std::function<Plane1(int)> &region)
{
    Plane1 f = region(i);
    for (int k = i - H; k <= i + H; ++k) {
        const Plane1 r = (k >= 0 && k < N) ? region(k) : emptyMask(W, Hgt);
        Plane1::bitwiseOp(2, &f, &r, nullptr, true);
    }
    if (H == 0)
        f.fill(0);
    return f;
}

Plane1 rect(int x0, int y0, int x1, int y1)
{
    Plane1 m = emptyMask(W, Hgt);
    maskRect(m, x0, y0, x1, y1);
    return m;
}

} // namespace

TEST(ShellRegions, CubeWithThreeShellLayers)
{
    const auto cube = [](int) { return rect(8, 4, 56, 28); };
    const Split s = runSteps(3, 10, cube);
    ASSERT_EQ(s.shell.size(), 10);
    for (int i = 0; i < 10; ++i) {
        const bool skin = i < 3 || i > 6;
        EXPECT_EQ(countSet(s.shell[i]), skin ? 48 * 24 : 0) << i;
        EXPECT_EQ(countSet(s.infill[i]), skin ? 0 : 48 * 24) << i;
    }
}

TEST(ShellRegions, OverhangAndRoof)
{
    // Layers 0-5 a small square, 6-13 a big one around it.
    const auto part = [](int k) { return k < 6 ? rect(24, 8, 40, 24) : rect(8, 4, 56, 28); };
    const Split s = runSteps(3, 14, part);
    const int small = 16 * 16, big = 48 * 24;
    for (int i = 6; i <= 8; ++i) {  // overhang: the ring outside the small square
        EXPECT_EQ(countSet(s.shell[i]), big - small) << i;
        EXPECT_FALSE(s.shell[i].pixel(30, 15)) << i;
    }
    for (int i = 3; i <= 5; ++i)   // buried under the big square
        EXPECT_EQ(countSet(s.infill[i]), small) << i;
    for (int i = 9; i <= 10; ++i)
        EXPECT_EQ(countSet(s.infill[i]), big) << i;
    for (int i = 11; i <= 13; ++i)  // roof
        EXPECT_EQ(countSet(s.shell[i]), big) << i;
}

TEST(ShellRegions, AgreesWithDirectIntersectionForEveryDepth)
{
    // Layers whose regions drift and change size, so every neighbour matters.
    const auto drifting = [](int k) {
        Plane1 m = rect(4 + k, 2 + (k % 3), 40 + 2 * (k % 4), 28 - (k % 5));
        maskRect(m, 50 - k % 7, 10, 60, 20);
        return m;
    };
    for (int H : {0, 1, 2, 3, 4, 5, 6}) {
        for (int N : {1, 2, 7, 12}) {
            const Split s = runSteps(H, N, drifting, 4);
            ASSERT_EQ(s.shell.size(), N);
            for (int i = 0; i < N; ++i) {
                const Plane1 f = expectedInfill(i, H, N, drifting);
                EXPECT_TRUE(s.infill[i] == f) << "H " << H << " N " << N << " i " << i;
                Plane1 both = s.infill[i];
                Plane1::bitwiseOp(6, &both, &s.shell[i], nullptr, true);
                EXPECT_TRUE(both == drifting(i));  // shell and infill tile the region
                Plane1 overlap = s.infill[i];
                Plane1::bitwiseOp(2, &overlap, &s.shell[i], nullptr, true);
                EXPECT_EQ(countSet(overlap), 0);
            }
        }
    }
}
