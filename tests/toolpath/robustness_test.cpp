// Random layers and parameters through the whole toolpath road: nothing
// throws, and every path is well formed and on the plane.
#include "params/slicerparams.h"
#include "fixtures/rasterfixtures.h"
#include "toolpath/fill.h"
#include "toolpath/shellsteps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

void expectWellFormed(const PathList &paths, int w, int h)
{
    for (const PolyLine &pl : paths) {
        ASSERT_GE(pl.size(), 2);
        ASSERT_TRUE(pl.w.isEmpty() || pl.w.size() == pl.pts.size());
        for (const PolyPoint &q : pl.pts) {
            ASSERT_TRUE(std::isfinite(q.x) && std::isfinite(q.y));
            ASSERT_TRUE(q.x >= -1 && q.y >= -1 && q.x <= w + 1 && q.y <= h + 1) << q.x << "," << q.y;
        }
        for (float v : pl.w)
            ASSERT_TRUE(std::isfinite(v) && v >= 0);
    }
}

} // namespace

TEST(ToolpathRobustness, RandomLayersAndParameters)
{
    std::mt19937 rng(12345);
    auto uni = [&](float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); };
    for (int round = 0; round < 24; ++round) {
        const int W = 32 * (1 + int(rng() % 5)), H = 32 * (1 + int(rng() % 4));
        Plane8 cov = emptyCoverage(W, H);
        const int shapes = int(rng() % 6);
        for (int s = 0; s < shapes; ++s) {
            if (rng() % 2)
                paintCircle(cov, uni(-10, W + 10), uni(-10, H + 10), uni(0.3f, 40));
            else {
                const float x = uni(-5, W), y = uni(-5, H);
                paintRect(cov, x, y, x + uni(0.5f, 60), y + uni(0.5f, 60));
            }
        }
        if (rng() % 4 == 0)
            cov.data[(rng() % H) * W + rng() % W] = 255;  // a lone speck
        SlicerParams sp;
        sp.VShellCnt = int(rng() % 6) - 1;
        sp.VShellOffset = uni(-0.3f, 0.3f);
        sp.OuterHair = rng() % 2;
        sp.InnerHair = rng() % 2;
        sp.RepairCorners = rng() % 2;
        sp.LoopFillOverlap = int(rng() % 11) - 5;
        sp.PathSmoothing = uni(0, 9);
        sp.InfillType = int(rng() % 6) - 1;
        sp.InfillDensity = uni(-0.1f, 1.5f);
        sp.InfillThickness = int(rng() % 5);
        sp.InfillAngle = uni(-360, 360);
        sp.HShellDensity = uni(0, 2);
        sp.HShellType = int(rng() % 2);
        ShellStepsResult r;
        OffsetScratch s;
        ASSERT_NO_THROW(shellSteps(testGrid(), cov, sp, r, s)) << round;
        expectWellFormed(r.outlines, W, H);
        expectWellFormed(r.hairs, W, H);
        for (const PolyLine &o : r.outlines)
            EXPECT_TRUE(o.closed && o.size() >= 3);
        // Half of the inner region as shell, the rest infill.
        Plane1 shell = r.infill;
        for (int y = 0; y < H / 2; ++y)
            for (int x = 0; x < W; ++x)
                shell.setPixel(x, y, false);
        Plane1 infill = r.infill;
        Plane1::bitwiseOp(3, &infill, &shell, nullptr, true);
        PathList pool;
        ASSERT_NO_THROW(fillLayer(testGrid(), round, sp, infill, shell, r.outlines, pool)) << round;
        ASSERT_NO_THROW(concentricShells(testGrid(), shell, sp, pool, s)) << round;
        expectWellFormed(pool, W, H);
    }
}
