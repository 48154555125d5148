// Contour tracing on layer-sized planes as the offset chain hands them over:
// a filled outline, box-blurred twice (win 7), traced at the 128 level.
#include "bench/benchshapes.h"
#include "raster/contourdetect3.h"
#include "raster/plane1.h"
#include "raster/plane8.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

struct Blurred {
    Plane8 plane, summary;
};

// 80 x 80 mm at 0.1332 mm per pixel (608 x 608).
Blurred blurred(const Segments &segs)
{
    const Extents ext{0, 0, 80, 80};
    Plane8 cov(608, 608);
    Plane1 scratch;
    cov.fromSegs3(segs, ext, scratch, true, false);
    const Plane8 summary = cov.blockSummary();
    Blurred b;
    Plane8 t, ts;
    Plane8::blur2(7, 0, true, cov, t, summary, false, ts);
    Plane8::blur2(7, 0, true, t, b.plane, ts, false, b.summary);
    return b;
}

// One part: a wavy outer wall (2000 segments) with four holes.
const Blurred &part()
{
    static Blurred b = [] {
        Segments s;
        addLoop(s, 40, 40, 34, 3, 24, 2000, false);
        addLoop(s, 25, 40, 6, 0.5f, 6, 250, true);
        addLoop(s, 55, 40, 6, 0.5f, 6, 250, true);
        addLoop(s, 40, 25, 5, 0.3f, 5, 250, true);
        addLoop(s, 40, 55, 5, 0.3f, 5, 250, true);
        return blurred(s);
    }();
    return b;
}

// Many islands: a 20 x 20 lattice of small rings (800 contours, more
// block groups than labels).
const Blurred &islands()
{
    static Blurred b = [] {
        Segments s;
        for (int i = 0; i < 20; ++i)
            for (int j = 0; j < 20; ++j) {
                const float cx = 2 + 4 * i, cy = 2 + 4 * j;
                addLoop(s, cx, cy, 1.6f, 0.1f, 5, 64, false);
                addLoop(s, cx, cy, 0.7f, 0, 1, 32, true);
            }
        return blurred(s);
    }();
    return b;
}

void run(benchmark::State &st, const Blurred &b)
{
    Plane1 visited;
    const PathParams pp = PathParams::fromSmoothing(3.003f, 0.08f);
    int contours = 0, points = 0;
    for (auto _ : st) {
        const PathList r = contourDetect3(b.plane, b.summary, visited, pp);
        contours = r.size();
        points = 0;
        for (const PolyLine &p : r)
            points += p.size();
    }
    st.counters["contours"] = contours;
    st.counters["points"] = points;
}

void BM_ContourPart(benchmark::State &st) { run(st, part()); }
void BM_ContourIslands(benchmark::State &st) { run(st, islands()); }
BENCHMARK(BM_ContourPart)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ContourIslands)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
