// Raster plane hot paths on layer-sized planes: fills of a realistic outline
// (a wavy outer wall with holes, ~3000 segments), thresholding, blur, bit ops.
#include "bench/benchshapes.h"
#include "raster/plane1.h"
#include "raster/plane8.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

// The layer: 80 x 80 mm window (0.1332 mm pixels at 600 px).
Segments layerOutline()
{
    Segments s;
    addLoop(s, 40, 40, 34, 3, 24, 2000, false);
    addLoop(s, 25, 40, 6, 0.5f, 6, 250, true);
    addLoop(s, 55, 40, 6, 0.5f, 6, 250, true);
    addLoop(s, 40, 25, 5, 0.3f, 5, 250, true);
    addLoop(s, 40, 55, 5, 0.3f, 5, 250, true);
    return s;
}

const Extents kExt{0, 0, 80, 80};

void BM_FromSegs3(benchmark::State &state)
{
    const int n = int(state.range(0));
    const Segments segs = layerOutline();
    Plane8 p(n, n);
    Plane1 scratch;
    for (auto _ : state) {
        p.fromSegs3(segs, kExt, scratch, true, true);
        benchmark::ClobberMemory();
    }
    state.counters["segments"] = segs.size();
}

void BM_FromSegs2(benchmark::State &state)
{
    const int n = int(state.range(0));
    const Segments segs = layerOutline();
    Plane8 p(n, n);
    Plane1 scratch;
    for (auto _ : state) {
        p.fromSegs2(segs, kExt, scratch, true);
        benchmark::ClobberMemory();
    }
}

void BM_FromSegsPlain(benchmark::State &state)
{
    const int n = int(state.range(0));
    const Segments segs = layerOutline();
    Plane8 p(n, n);
    for (auto _ : state) {
        p.fromSegs(segs, kExt);
        benchmark::ClobberMemory();
    }
}

Plane8 filledLayer(int n)
{
    Plane8 p(n, n);
    Plane1 scratch;
    p.fromSegs3(layerOutline(), kExt, scratch, true, false);
    return p;
}

void BM_FromPlane8(benchmark::State &state)
{
    const Plane8 cov = filledLayer(int(state.range(0)));
    Plane1 mask;
    for (auto _ : state) {
        mask.fromPlane8(cov, 128, true);
        benchmark::ClobberMemory();
    }
}

void BM_Blur2TwoPasses(benchmark::State &state)
{
    const Plane8 cov = filledLayer(int(state.range(0)));
    Plane1 mask;
    mask.fromPlane8(cov, 128, false);
    const Plane8 summary = mask.blockSummary();
    Plane8 t, ts, out, os;
    for (auto _ : state) {
        Plane8::blur2(7, 0, true, cov, t, summary, false, ts);
        Plane8::blur2(7, 0, true, t, out, ts, false, os);
        benchmark::ClobberMemory();
    }
}

void BM_Blur2HairMode(benchmark::State &state)
{
    const Plane8 cov = filledLayer(int(state.range(0)));
    Plane1 mask;
    mask.fromPlane8(cov, 128, false);
    const Plane8 summary = mask.blockSummary();
    const BlurHairParams params{45, 75, 4, 10};
    QVector<QVector<quint32>> markers;
    Plane8 t, ts;
    for (auto _ : state) {
        Plane8::blur2(7, 0, true, cov, t, summary, false, ts, &params, &markers);
        benchmark::ClobberMemory();
    }
}

void BM_BitwiseOp(benchmark::State &state)
{
    const Plane8 cov = filledLayer(int(state.range(0)));
    Plane1 a, b;
    a.fromPlane8(cov, 128, false);
    b.fromPlane8(cov, 200, true);
    for (auto _ : state) {
        Plane1::bitwiseOp(3, &a, &b, nullptr, true);
        benchmark::ClobberMemory();
    }
}

void BM_OffsetBy(benchmark::State &state)
{
    const Plane8 cov = filledLayer(int(state.range(0)));
    Plane1 a;
    a.fromPlane8(cov, 128, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(a.offsetBy(-4));
}

} // namespace

BENCHMARK(BM_FromSegs3)->Arg(608)->Arg(1216)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FromSegs2)->Arg(608)->Arg(1216)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FromSegsPlain)->Arg(608)->Arg(1216)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FromPlane8)->Arg(608)->Arg(1216)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Blur2TwoPasses)->Arg(608)->Arg(1216)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Blur2HairMode)->Arg(608)->Arg(1216)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BitwiseOp)->Arg(608)->Arg(1216)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_OffsetBy)->Arg(608)->Arg(1216)->Unit(benchmark::kMicrosecond)->UseRealTime();
