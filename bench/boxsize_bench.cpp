// Cost per layer against part size: square boxes of 20, 60, 120 and 200 mm
// side, all 20 mm tall (100 layers), 12 triangles each, default parameters
// with the grid infill, one thread. The layer's outline grows with the side
// and its area with the square of it; the per-layer time should follow the
// outline. Read "ms_per_layer" (process CPU time / layers).
#include "common/buildvolume.h"
#include "driver/slicer.h"
#include "params/slicerparams.h"
#include "raster/paralell.h"
#include "fixtures/meshes.h"
#include "scene/project.h"

#include <QThread>
#include <benchmark/benchmark.h>
#include <ctime>

namespace {

double processCpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

void addBox(Project &prj, float side, float height)
{
    prj.addObject(boxMesh(Vec3(0, 0, 0), Vec3(side, height, side)), "box", false);
}

void BM_SliceBoxBySide(benchmark::State &state)
{
    setCoresAndPriority(1, QThread::InheritPriority);
    const float side = float(state.range(0)), height = 20;
    Project prj;
    addBox(prj, side, height);
    SlicerParams sp;
    sp.InfillType = 2;
    const BuildVolume bv;
    const double start = processCpuMs();
    for (auto _ : state) {
        const QByteArray g = sliceScene(&prj, &sp, &bv, {});
        benchmark::DoNotOptimize(g.constData());
    }
    const double layers = height / sp.LayerHeight;
    // Measured here: the library's rate counters gave seconds, and ten times too many.
    state.counters["ms_per_layer"] = (processCpuMs() - start) / (double(state.iterations()) * layers);
}
BENCHMARK(BM_SliceBoxBySide)
    ->Arg(20)->Arg(60)->Arg(120)->Arg(200)
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(3);

} // namespace
