// Loading a large binary STL the way "Add" does: read, parse, orientation
// check, bottom-centre, hash and register in the project's mesh cache.
#include "common/utils.h"
#include "scene/project.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cmath>

namespace {

// A closed UV sphere of 2 * rings * (segments - 1) triangles, outward.
Faces sphere(int rings, int segments, float radius)
{
    auto at = [&](int i, int j) {
        const double th = M_PI * i / rings, ph = 2 * M_PI * j / segments;
        return Vec3(float(radius * std::sin(th) * std::cos(ph)), float(radius * std::cos(th)),
                    float(radius * std::sin(th) * std::sin(ph)));
    };
    Faces f;
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < segments; ++j) {
            const Vec3 a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
            if (i > 0)
                f.append(a, d, c);
            if (i < rings - 1)
                f.append(a, c, b);
        }
    return f;
}

struct LargeFile {
    QTemporaryDir dir;
    QString path;
    int tris = 0;
    LargeFile()
    {
        const Faces f = sphere(336, 336, 40); // 225,120 triangles
        tris = f.count();
        path = dir.filePath("large.stl");
        f.exportFile(path, true);
    }
};

LargeFile &largeFile()
{
    static LargeFile file;
    return file;
}

void BM_AddObjectFromLargeStl(benchmark::State &state)
{
    LargeFile &file = largeFile();
    for (auto _ : state) {
        Project p;
        Obj *o = p.addObject(file.path, true);
        benchmark::DoNotOptimize(o->mesh->hash);
    }
    state.counters["triangles"] = file.tris;
}
BENCHMARK(BM_AddObjectFromLargeStl)->Unit(benchmark::kMillisecond);

void BM_OrientationCheck(benchmark::State &state)
{
    const Faces f = sphere(336, 336, 40);
    for (auto _ : state)
        benchmark::DoNotOptimize(f.orientationCheck());
}
BENCHMARK(BM_OrientationCheck)->Unit(benchmark::kMillisecond);

// The plain loop the batched check must equal: 150 rays, one triangle at a time.
void BM_OrientationPlainLoop(benchmark::State &state)
{
    const Faces f = sphere(336, 336, 40);
    const int stride = f.count() / 150;
    for (auto _ : state) {
        int inside = 0;
        for (int i = 0; i < 150; ++i) {
            const Triangle &t = f.tris[i * stride];
            const Vec3 m = (t.p + t.q + t.r) * 0.3333333f;
            inside += f.rayCrossings(m, m + t.n, i * stride) & 1;
        }
        benchmark::DoNotOptimize(inside);
    }
}
BENCHMARK(BM_OrientationPlainLoop)->Unit(benchmark::kMillisecond);

void BM_ContentHash(benchmark::State &state)
{
    const Faces f = sphere(336, 336, 40);
    for (auto _ : state)
        benchmark::DoNotOptimize(f.contentHash());
}
BENCHMARK(BM_ContentHash)->Unit(benchmark::kMillisecond);

} // namespace

namespace {
// A real model for one's own runs: TESSAVO_LARGE_STL=/path/to/file.stl.
void BM_AddObjectFromEnvFile(benchmark::State &state)
{
    const QString path = qEnvironmentVariable("TESSAVO_LARGE_STL");
    if (path.isEmpty()) {
        state.SkipWithError("TESSAVO_LARGE_STL not set");
        return;
    }
    for (auto _ : state) {
        Project p;
        benchmark::DoNotOptimize(p.addObject(path, true)->mesh->hash);
    }
}
BENCHMARK(BM_AddObjectFromEnvFile)->Unit(benchmark::kMillisecond);

void BM_ImportOnlyEnvFile(benchmark::State &state)
{
    const QString path = qEnvironmentVariable("TESSAVO_LARGE_STL");
    if (path.isEmpty()) {
        state.SkipWithError("TESSAVO_LARGE_STL not set");
        return;
    }
    for (auto _ : state) {
        Faces f;
        f.loadStl(readFile(path));
        benchmark::DoNotOptimize(f.count());
    }
}
BENCHMARK(BM_ImportOnlyEnvFile)->Unit(benchmark::kMillisecond);
} // namespace

namespace {
// Automatic support under a 225k-triangle sphere hanging 10 mm above the bed.
void BM_GenerateSupportUnderSphere(benchmark::State &state)
{
    Project p;
    Obj *o = p.addObject(sphere(336, 336, 40), "ball", false);
    o->transform = Mat4::translation({0, 10, 0});
    for (auto _ : state) {
        p.clearBars();
        p.generateSupport(2.0f, 45.0f);
        benchmark::DoNotOptimize(p.bars.size());
    }
    state.counters["bars"] = p.bars.size();
}
BENCHMARK(BM_GenerateSupportUnderSphere)->Unit(benchmark::kMillisecond);
} // namespace
