// Full slice of a generated model: a 40 mm sphere of about 20k triangles
// standing on a 60 x 60 x 4 mm plate, default parameters, all cores.
#include "common/buildvolume.h"
#include "params/slicerparams.h"
#include "scene/project.h"
#include "raster/paralell.h"
#include "driver/slicer.h"
#include "fixtures/meshes.h"

#include <QThread>
#include <benchmark/benchmark.h>

#include <cmath>

namespace {

void addSphereOnPlate(Project &prj)
{
    Faces f;
    const int rings = 70, segs = 140;
    const float r = 20, cy = 4 + r;
    auto at = [&](int i, int j) {
        const float th = float(M_PI) * i / rings, ph = 2 * float(M_PI) * j / segs;
        return Vec3(r * std::sin(th) * std::cos(ph), cy + r * std::cos(th), r * std::sin(th) * std::sin(ph));
    };
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < segs; ++j) {
            const Vec3 a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
            if (i > 0)
                f.append(a, d, b);
            if (i < rings - 1)
                f.append(d, c, b);
        }
    f.tris += boxMesh(Vec3(-30, 0, -30), Vec3(30, 4.5f, 30)).tris; // the plate
    prj.addObject(f, "sphere on plate", false);
}

void BM_SliceSphereOnPlate(benchmark::State &state)
{
    setCoresAndPriority(QThread::idealThreadCount(), QThread::InheritPriority);
    Project prj;
    addSphereOnPlate(prj);
    SlicerParams sp;
    sp.InfillType = 2;
    const BuildVolume bv;
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray g = sliceScene(&prj, &sp, &bv, {});
        bytes = g.size();
        benchmark::DoNotOptimize(g.constData());
    }
    state.counters["gcode_MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_SliceSphereOnPlate)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

