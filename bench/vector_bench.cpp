// The vector offsetter against the raster chain on a generated part: 40
// layers of a 120 x 90 mm plate whose cross-section changes with the layer
// (a grid of round holes of varying size, round pins, thin ribs and a
// slanted slot), 0.4 mm extrusion width, two shells. Both paths start from
// the layer's cross-section segments and end with the outlines and the
// inner region; the raster path includes the layer fill it needs.
#include "params/slicerparams.h"
#include "raster/layergrid.h"
#include "toolpath/shellsteps.h"
#include "toolpath/vectoroffset.h"

#include <benchmark/benchmark.h>
#include <QPointF>

#include <cmath>

namespace {

constexpr float kW = 120, kH = 90;
constexpr int kLayers = 40;

// Counter-clockwise points as slicer-orientation segments (see segment.h).
void addRing(Segments &out, const QVector<QPointF> &ccw, bool hole)
{
    for (int i = 0; i < ccw.size(); i++) {
        QPointF a = ccw[i], b = ccw[(i + 1) % ccw.size()];
        if (hole)
            std::swap(a, b);
        out.append(Segment{float(b.x()), float(b.y()), float(a.x()), float(a.y())});
    }
}

void addCircle(Segments &out, double cx, double cy, double r, int n, bool hole)
{
    QVector<QPointF> pts;
    for (int i = 0; i < n; i++)
        pts.append(QPointF(cx + r * std::cos(2 * M_PI * i / n), cy + r * std::sin(2 * M_PI * i / n)));
    addRing(out, pts, hole);
}

void addRect(Segments &out, double x0, double y0, double x1, double y1, bool hole)
{
    addRing(out, {QPointF(x0, y0), QPointF(x1, y0), QPointF(x1, y1), QPointF(x0, y1)}, hole);
}

Segments layerSegs(int layer)
{
    Segments s;
    addRect(s, 0, 0, kW, kH, false);
    const double grow = 0.5 + 0.5 * std::sin(layer * 0.3);
    for (int j = 0; j < 6; j++)
        for (int i = 0; i < 10; i++) {
            const double cx = 8 + i * 8, cy = 8 + j * 8;
            addCircle(s, cx, cy, 1.0 + grow * (1 + (i + j) % 3), 48, true);
        }
    // A pocket with thin ribs and round pins standing in it.
    addRect(s, 88, 4, 116, 50, true);
    for (int i = 0; i < 6; i++)
        addRect(s, 90 + i * 4.4, 6, 90.3 + i * 4.4 + 0.2 * (i % 3), 48, false);
    for (int i = 0; i < 5; i++)
        addCircle(s, 92 + i * 5, 52 + 3 * grow, 0.8, 24, true);
    // A slanted slot and a notched tab.
    addRing(s, {QPointF(10, 60), QPointF(70, 75 + layer * 0.1), QPointF(70, 77 + layer * 0.1), QPointF(10, 62)}, true);
    addRing(s, {QPointF(80, 60), QPointF(115, 60), QPointF(115, 85), QPointF(100, 70), QPointF(80, 85)}, true);
    return s;
}

struct Job {
    QVector<Segments> layers;
    LayerGrid grid;
    SlicerParams sp;
    Job()
    {
        for (int i = 0; i < kLayers; i++)
            layers.append(layerSegs(i));
        grid = layerGrid(Extents{0, 0, kW, kH}, 0.4f);
        sp.VShellCnt = 2;
    }
};

void BM_VectorOffsetLayers(benchmark::State &state)
{
    const Job job;
    VectorOffsetResult r;
    int outlines = 0;
    for (auto _ : state) {
        outlines = 0;
        for (const Segments &segs : job.layers) {
            vectorOffsetLayer(segs, job.grid, job.sp, r);
            outlines += r.outlines.size();
        }
    }
    state.counters["outlines"] = outlines;
    state.counters["s_per_layer"] = benchmark::Counter(kLayers, benchmark::Counter::kIsIterationInvariantRate |
                                                                 benchmark::Counter::kInvert);
}
BENCHMARK(BM_VectorOffsetLayers)->Unit(benchmark::kMillisecond);

void BM_RasterOffsetLayers(benchmark::State &state)
{
    const Job job;
    Plane8 raster(job.grid.width, job.grid.height);
    Plane1 scratch;
    OffsetScratch os;
    ShellStepsResult r;
    int outlines = 0;
    for (auto _ : state) {
        outlines = 0;
        for (const Segments &segs : job.layers) {
            rasterizeLayer(segs, job.grid.extents, 0, raster, scratch, false);
            shellSteps(job.grid, raster, job.sp, r, os);
            outlines += r.outlines.size();
        }
    }
    state.counters["outlines"] = outlines;
    state.counters["s_per_layer"] = benchmark::Counter(kLayers, benchmark::Counter::kIsIterationInvariantRate |
                                                                 benchmark::Counter::kInvert);
}
BENCHMARK(BM_RasterOffsetLayers)->Unit(benchmark::kMillisecond);

} // namespace
