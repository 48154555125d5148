// Parsing and simulating a large G-code file, as the preview does for every
// slicing result. The file (>= 100 MB) is written to a temporary file once:
// a synthetic print in the style of common slicers (layer and type comments,
// walls, zig-zag infill, travels, retractions, absolute E). Set
// TESSAVO_GCODE_BENCH_FILE to keep it at that path (for comparing with wc -l).
#include "gcode/gcodesim.h"

#include <QFile>
#include <QTemporaryFile>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

QByteArray syntheticPrint(qsizetype minBytes)
{
    QByteArray out;
    out.reserve(minBytes + (1 << 20));
    out += ";FLAVOR:Marlin\nM104 S215\nM109 S215\nM82 ;absolute extrusion mode\nG28 ;Home\n"
           "G1 Z15.0 F6000\nG92 E0\nG1 F200 E3\nG92 E0\n";
    char line[128];
    double e = 0;
    const double cx = 110, cy = 100;
    auto put = [&](int n) { out.append(line, n); };
    for (int layer = 0; out.size() < minBytes; ++layer) {
        const double z = 0.3 + 0.2 * layer;
        put(std::snprintf(line, sizeof line, ";LAYER:%d\n", layer));
        put(std::snprintf(line, sizeof line, "G0 F7200 X%.3f Y%.3f Z%.3f\n", cx + 20, cy, z));
        put(std::snprintf(line, sizeof line, "G1 F1500 E%.5f\n", e));
        for (int wall = 0; wall < 3; ++wall) {
            out += wall == 0 ? ";TYPE:WALL-OUTER\n" : ";TYPE:WALL-INNER\n";
            const double r = 20 - 0.4 * wall - 0.01 * (layer % 7);
            double px = cx + r, py = cy;
            for (int i = 1; i <= 360; ++i) {
                const double a = i * (2 * M_PI / 360);
                const double x = cx + r * std::cos(a), y = cy + r * std::sin(a);
                e += std::hypot(x - px, y - py) * 0.0333;
                put(std::snprintf(line, sizeof line,
                                  i == 1 ? "G1 F1800 X%.3f Y%.3f E%.5f\n" : "G1 X%.3f Y%.3f E%.5f\n",
                                  x, y, e));
                px = x;
                py = y;
            }
        }
        out += ";TYPE:FILL\n";
        put(std::snprintf(line, sizeof line, "G1 F2700 E%.5f\n", e - 6.5));
        for (int k = -18; k <= 18; ++k) {
            const double y = cy + k * 0.9 + (layer % 2) * 0.45;
            const double half = std::sqrt(std::max(0.0, 18.5 * 18.5 - (y - cy) * (y - cy)));
            const double x0 = k % 2 ? cx - half : cx + half, x1 = k % 2 ? cx + half : cx - half;
            put(std::snprintf(line, sizeof line, "G0 F7200 X%.3f Y%.3f\n", x0, y));
            e += 2 * half * 0.0333;
            put(std::snprintf(line, sizeof line, "G1 F2400 X%.3f Y%.3f E%.5f\n", x1, y, e));
        }
        put(std::snprintf(line, sizeof line, ";TIME_ELAPSED:%.6f\n", layer * 31.25));
        if (layer == 1)
            out += "M106 S255\n";
    }
    out += "M107\nM104 S0\nM140 S0\nG28 X0 Y0\nM84\n";
    return out;
}

// The bench input, written to a file and read back as a user's file would be.
const QByteArray &benchFile()
{
    static const QByteArray text = [] {
        const QByteArray generated = syntheticPrint(qsizetype(105) << 20);
        const QByteArray keep = qgetenv("TESSAVO_GCODE_BENCH_FILE");
        QTemporaryFile tmp;
        const QString path = !keep.isEmpty() ? QString::fromLocal8Bit(keep)
                           : tmp.open()      ? tmp.fileName()
                                             : QString();
        QFile w(path);
        if (path.isEmpty() || !w.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || w.write(generated) != generated.size())
            return generated;
        w.close();
        QFile r(path);
        return r.open(QIODevice::ReadOnly) ? r.readAll() : generated;
    }();
    return text;
}

void BM_GCodeLoadWhole(benchmark::State &state)
{
    const QByteArray &text = benchFile();
    std::size_t moves = 0;
    int layers = 0;
    for (auto _ : state) {
        GCodeSim sim;
        sim.load(text);
        moves = sim.moves().size();
        layers = sim.layers().size();
        benchmark::DoNotOptimize(sim.parser().state().time);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
    state.counters["MB"] = double(text.size()) / (1 << 20);
    state.counters["moves"] = double(moves);
    state.counters["layers"] = layers;
}
BENCHMARK(BM_GCodeLoadWhole)->Unit(benchmark::kMillisecond)->Iterations(3);

// In 1 MB pieces, as a slicing run streams its result.
void BM_GCodeLoadPieces(benchmark::State &state)
{
    const QByteArray &text = benchFile();
    const int piece = 1 << 20;
    for (auto _ : state) {
        GCodeSim sim;
        for (qsizetype at = 0; at < text.size(); at += piece)
            sim.append(text.mid(at, piece));
        sim.finish();
        benchmark::DoNotOptimize(sim.moves().size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
}
BENCHMARK(BM_GCodeLoadPieces)->Unit(benchmark::kMillisecond)->Iterations(3);

// One line holding many commands ("G1 X1 Y2 E3 G1 X1 Y2 E3 ..."): the cost
// must grow with the line length, not with its square.
void BM_GCodeLongLine(benchmark::State &state)
{
    QByteArray text;
    while (text.size() < state.range(0))
        text += "G1 X1 Y2 E3 ";
    std::size_t moves = 0;
    for (auto _ : state) {
        GCodeSim sim;
        sim.load(text);
        moves = sim.moves().size();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
    state.counters["moves"] = double(moves);
}
BENCHMARK(BM_GCodeLongLine)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

} // namespace
