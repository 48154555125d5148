// Shell steps and the per-layer fill on a realistic layer: a 60 x 45 mm part
// at 0.4 mm extrusion width (about 450 x 340 pixels of a 512 x 384 plane)
// with round holes, a slot, thin ribs and a pointed tab.
#include "fixtures/rasterfixtures.h"
#include "params/slicerparams.h"
#include "toolpath/fill.h"
#include "toolpath/shellsteps.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

Plane8 realisticLayer(int scale = 1)
{
    const int W = 512 * scale, H = 384 * scale;
    Plane8 p(W, H);
    p.fill(0);
    auto inside = [](float x, float y) {
        const bool body = x > 30 && x < 480 && y > 20 && y < 360;
        const bool hole1 = std::hypot(x - 120, y - 120) < 45;
        const bool hole2 = std::hypot(x - 380, y - 260) < 30;
        const bool slot = x > 200 && x < 330 && y > 220 && y < 240;
        const bool ribGap = x > 300 && x < 450 && y > 40 && y < 160;
        const bool rib = ribGap && (int(x - 300) % 30 < 3 || int(x - 300) % 30 >= 21);
        const bool tab = y > 360 && y < 375 && x > 240 - (375 - y) * 2 && x < 240 + (375 - y) * 2;
        return (body && !hole1 && !hole2 && !slot && (!ribGap || rib)) || tab;
    };
    const float k = 1.0f / scale;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            int n = 0;
            for (int s = 0; s < 16; ++s)
                n += inside((x + (s % 4 + 0.5f) / 4) * k, (y + (s / 4 + 0.5f) / 4) * k);
            p.data[y * W + x] = uchar(std::min(255, n * 16));
        }
    return p;
}

void BM_ShellSteps(benchmark::State &state)
{
    const Plane8 layer = realisticLayer(int(state.range(1)));
    SlicerParams sp;
    sp.VShellCnt = int(state.range(0));
    OffsetScratch scratch;
    ShellStepsResult r;
    for (auto _ : state) {
        shellSteps(testGrid(), layer, sp, r, scratch);
        benchmark::DoNotOptimize(r.outlines.size());
    }
    state.counters["outlines"] = r.outlines.size();
    state.counters["hairs"] = r.hairs.size();
}
// Args: shell count, scale (3 gives a 1536 x 1152 plane, a 200 x 150 mm part).
BENCHMARK(BM_ShellSteps)->Args({2, 1})->Args({4, 1})->Args({2, 3})->Unit(benchmark::kMillisecond);

void BM_FillLayer(benchmark::State &state)
{
    const Plane8 layer = realisticLayer();
    SlicerParams sp;
    sp.InfillType = int(state.range(0));
    sp.InfillDensity = 0.2f;
    OffsetScratch scratch;
    ShellStepsResult r;
    shellSteps(testGrid(), layer, sp, r, scratch);
    // Half of the inner region as top shell, the rest infill.
    Plane1 shell = r.infill;
    for (int y = 0; y < shell.height / 2; ++y)
        for (int x = 0; x < shell.width; ++x)
            shell.setPixel(x, y, false);
    Plane1 infill = r.infill;
    Plane1::bitwiseOp(3, &infill, &shell, nullptr, true);
    PathList pool;
    for (auto _ : state) {
        pool.clear();
        fillLayer(testGrid(), 7, sp, infill, shell, r.outlines, pool);
        benchmark::DoNotOptimize(pool.size());
    }
    state.counters["paths"] = pool.size();
}
BENCHMARK(BM_FillLayer)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_ShellStepsAndFill(benchmark::State &state)
{
    const Plane8 layer = realisticLayer();
    SlicerParams sp;
    OffsetScratch scratch;
    ShellStepsResult r;
    PathList pool;
    const Plane1 noShell = [] { Plane1 p(512, 384); p.fill(0); return p; }();
    for (auto _ : state) {
        shellSteps(testGrid(), layer, sp, r, scratch);
        pool.clear();
        fillLayer(testGrid(), 3, sp, r.infill, noShell, r.outlines, pool);
        benchmark::DoNotOptimize(pool.size());
    }
}
BENCHMARK(BM_ShellStepsAndFill)->Unit(benchmark::kMillisecond);

} // namespace
