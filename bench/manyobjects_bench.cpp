// Scenes of many objects: copies of a 10 mm cube 1 um apart (their walls
// pile crossings onto the same raster samples) and a grid of separate 1 mm
// cubes (thousands of islands per layer to fill and order). Both used to grow
// with the square of the count.
#include "common/buildvolume.h"
#include "params/slicerparams.h"
#include "scene/project.h"
#include "raster/paralell.h"
#include "driver/slicer.h"
#include "fixtures/meshes.h"

#include <QThread>
#include <benchmark/benchmark.h>

namespace {

void addCube(Faces &f, const Vec3 &lo, float size)
{
    f.tris += boxMesh(lo, lo + Vec3(size, size, size)).tris;
}

void sliceOnce(benchmark::State &state, Project &prj)
{
    setCoresAndPriority(QThread::idealThreadCount(), QThread::InheritPriority);
    SlicerParams sp;
    const BuildVolume bv;
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray g = sliceScene(&prj, &sp, &bv, {});
        bytes = g.size();
        benchmark::DoNotOptimize(g.constData());
    }
    state.counters["gcode_MB"] = double(bytes) / 1e6;
}

void BM_SliceCoincidentCubes(benchmark::State &state)
{
    Faces f;
    for (int i = 0; i < state.range(0); ++i)
        addCube(f, Vec3(-5 + 0.001f * i, 0, -5), 10);
    Project prj;
    prj.addObject(f, "copies", false);
    sliceOnce(state, prj);
}
BENCHMARK(BM_SliceCoincidentCubes)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SliceGridOfSmallCubes(benchmark::State &state)
{
    Faces f;
    const int n = int(state.range(0)), side = int(std::ceil(std::sqrt(double(n))));
    for (int i = 0; i < n; ++i)
        addCube(f, Vec3(2.0f * (i % side) - side, 0, 2.0f * (i / side) - side), 1);
    Project prj;
    prj.addObject(f, "grid", false);
    sliceOnce(state, prj);
}
BENCHMARK(BM_SliceGridOfSmallCubes)->Arg(4000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
