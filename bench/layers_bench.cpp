// The whole "layers" road on a large mesh: SliceFaces, then the driver's
// cut (fill chosen by PolyFillerAlg with the check, repair, 128 threshold).
#include "driver/cutlayers.h"
#include "driver/slicefaces.h"
#include "params/slicerparams.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <ctime>
#include <vector>

namespace {

// A standing torus (axis along X): major radius 16, minor 8, so 48 mm tall,
// with 450 x 250 quads = 225,000 triangles, counter-clockwise from outside.
const std::vector<float> &torus()
{
    static std::vector<float> f;
    if (!f.empty())
        return f;
    const int nu = 450, nv = 250;
    const double R = 16, r = 8;
    auto p = [&](int i, int j, float *out) {
        const double u = 2 * M_PI * (i % nu) / nu, v = 2 * M_PI * (j % nv) / nv;
        const double d = R + r * std::cos(v);
        out[0] = float(r * std::sin(v));           // x: along the axis
        out[1] = float(24 + d * std::sin(u));      // y: up, 0 .. 48
        out[2] = float(d * std::cos(u));
    };
    f.reserve(size_t(nu) * nv * 2 * 12);
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            float a[3], b[3], c[3], d[3];
            p(i, j, a); p(i + 1, j, b); p(i + 1, j + 1, c); p(i, j + 1, d);
            for (const float *t : {a, d, c, a, c, b}) {
                f.insert(f.end(), t, t + 3);
                if (f.size() % 12 == 9)
                    f.insert(f.end(), {0, 0, 0});
            }
        }
    return f;
}

void BM_SliceFaces(benchmark::State &st)
{
    const std::vector<float> &m = torus();
    QVector<SliceLayer> layers;
    for (auto _ : st) {
        SliceFaces(m.data(), int(m.size() / 12), {}, 0, 1000, 0.2f, 0.2f, 0, 0.5f, layers);
        benchmark::DoNotOptimize(layers.data());
    }
    st.counters["triangles"] = double(m.size() / 12);
    st.counters["layers"] = layers.size();
}
BENCHMARK(BM_SliceFaces)->Unit(benchmark::kMillisecond);

// Cut, fill and threshold every layer the way the driver does (cutLayers),
// all layers in one run on the threads. Arg: PolyFillerAlg.
void BM_LayersRoad(benchmark::State &st)
{
    const std::vector<float> &m = torus();
    QVector<SliceLayer> layers;
    SlicerParams sp;
    sp.PolyFillerAlg = int(st.range(0));
    long long inside = 0;
    const std::clock_t c0 = std::clock();
    for (auto _ : st) {
        const SliceFrame fr = SliceFaces(m.data(), int(m.size() / 12), {}, 0, 1000, 0.2f, 0.2f, 0, 0.5f, layers);
        CutState state;
        for (const CutLayer &c : cutLayers(layerGrid(fr.rect, 0.4f), sp, layers, 0, layers.size(), state))
            inside += c.mask.data[0];
        benchmark::DoNotOptimize(inside);
    }
    st.counters["layers"] = layers.size();
    // CPU time of all threads: on an idle machine the wall time on n cores
    // is about this divided by n; on a busy one wall times mean little.
    st.counters["cpu_all_threads_ms"] = 1000.0 * double(std::clock() - c0) / CLOCKS_PER_SEC / st.iterations();
}
BENCHMARK(BM_LayersRoad)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same, one layer per call.
void BM_LayersRoadSequential(benchmark::State &st)
{
    const std::vector<float> &m = torus();
    QVector<SliceLayer> layers;
    SlicerParams sp;
    sp.PolyFillerAlg = int(st.range(0));
    long long inside = 0;
    for (auto _ : st) {
        const SliceFrame fr = SliceFaces(m.data(), int(m.size() / 12), {}, 0, 1000, 0.2f, 0.2f, 0, 0.5f, layers);
        const LayerGrid grid = layerGrid(fr.rect, 0.4f);
        CutState state;
        for (int i = 0; i < layers.size(); ++i)
            inside += cutLayers(grid, sp, layers, i, 1, state)[0].mask.data[0];
        benchmark::DoNotOptimize(inside);
    }
}
BENCHMARK(BM_LayersRoadSequential)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
