// Full slice of a generated model: a 40 mm sphere of about 20k triangles
// standing on a 60 x 60 x 4 mm plate, default parameters, all cores.
#include "common/buildvolume.h"
#include "params/slicerparams.h"
#include "scene/project.h"
#include "raster/paralell.h"
#include "driver/slicer.h"

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
    // Plate, outward facing (corner k: x bit 0, y bit 1, z bit 2).
    const Vec3 lo(-30, 0, -30), hi(30, 4.5f, 30);
    auto c = [&](int k) { return Vec3(k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z); };
    static const int quads[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4},
                                    {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
    for (const auto &q : quads) {
        f.append(c(q[0]), c(q[1]), c(q[2]));
        f.append(c(q[0]), c(q[2]), c(q[3]));
    }
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

