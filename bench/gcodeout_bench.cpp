// Writer, ordering and travel routing on layers of realistic size.
#include "gcode/gcodewriter.h"
#include "toolpath/pathorder.h"
#include "toolpath/runlabels.h"
#include "toolpath/travelrouter.h"

#include <benchmark/benchmark.h>

namespace {

// A 150 x 150 mm square layer at 0.133 mm per raster unit: two loops and
// infill lines three widths apart, in pool order (not drawing order).
PathList squareLayer()
{
    PathList pool;
    const float n = 1100;
    for (int k = 0; k < 2; ++k) {
        const float o = 2 + 3 * k;
        PolyLine loop(k == 0 ? Perimeter : Loop);
        loop.pts = {{o, o}, {n - o, o}, {n - o, n - o}, {o, n - o}};
        loop.closed = true;
        pool.append(loop);
    }
    for (float y = 10; y < n - 10; y += 9) {
        PolyLine l(Infill);
        l.pts = {{10, y}, {n - 10, y}};
        pool.append(l);
    }
    return pool;
}

void BM_orderPaths(benchmark::State &state)
{
    const PathList pool = squareLayer();
    for (auto _ : state) {
        PathList p = pool, out;
        PolyPoint head{0, 0};
        orderPaths(1.8f, 2.5f, 0.1f, p, out, true, head);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_orderPaths)->Unit(benchmark::kMillisecond);

void BM_writeLayerGCode(benchmark::State &state)
{
    PathList pool = squareLayer(), ordered;
    PolyPoint head{0, 0};
    orderPaths(1.8f, 0, 0.1f, pool, ordered, true, head); // no joins: many travels
    SlicerParams sp;
    LayerGrid grid;
    grid.pitchX = grid.pitchY = 0.1332f;
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray text = writeLayerGCode(sp, 10, 2.2f, ordered, grid, BuildVolume(), 0);
        bytes += text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_writeLayerGCode)->Unit(benchmark::kMillisecond);

// A U-shaped part 1024 pixels across: a route from one arm tip to the other.
void BM_routeAroundU(benchmark::State &state)
{
    Plane1 mask(1024, 1024);
    mask.fill(0xFF);
    for (int y = 32; y < 992; ++y)
        for (int x = 32; x < 992; ++x)
            if (!(x >= 400 && x < 624 && y < 800))
                mask.setPixel(x, y, false);
    for (auto _ : state) {
        const TravelRouter router(mask);
        benchmark::DoNotOptimize(router.route({100, 40}, {900, 40}));
    }
}
BENCHMARK(BM_routeAroundU)->Unit(benchmark::kMillisecond);

} // namespace

namespace {
void BM_routerSetup(benchmark::State &state)
{
    Plane1 mask(1024, 1024);
    mask.fill(0xFF);
    for (int y = 32; y < 992; ++y)
        for (int x = 32; x < 992; ++x)
            if (!(x >= 400 && x < 624 && y < 800))
                mask.setPixel(x, y, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(TravelRouter(mask));
}
BENCHMARK(BM_routerSetup)->Unit(benchmark::kMillisecond);
} // namespace

namespace {
// Labelling a 2048 x 2048 layer mask with a few hundred round pins.
void BM_runLabels(benchmark::State &state)
{
    Plane1 mask(2048, 2048);
    mask.fill(0xFF);
    for (int cy = 64; cy < 2048 - 64; cy += 128)
        for (int cx = 64; cx < 2048 - 64; cx += 128)
            for (int y = -40; y <= 40; ++y)
                for (int x = -40; x <= 40; ++x)
                    if (x * x + y * y <= 1600)
                        mask.setPixel(cx + x, cy + y, false);
    for (auto _ : state) {
        const RunLabels areas(mask, false);
        benchmark::DoNotOptimize(areas.count());
    }
}
BENCHMARK(BM_runLabels)->Unit(benchmark::kMillisecond);
} // namespace
