// Mesh content hashes run CRC-32 over whole meshes; every slice job and every
// preset switch goes through the parameter text.
#include "common/crc32.h"
#include "params/slicerparams.h"

#include <benchmark/benchmark.h>

static void BM_Crc32(benchmark::State &state)
{
    QByteArray bytes(int(state.range(0)), '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 131 + (i >> 7));
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(bytes));
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_Crc32)->Arg(1 << 20)->Arg(16 << 20);

static void BM_ParamsRoundTrip(benchmark::State &state)
{
    SlicerParams p;
    for (auto _ : state) {
        SlicerParams q;
        q.fromText(p.toText());
        benchmark::DoNotOptimize(q.LayerHeight);
    }
}
BENCHMARK(BM_ParamsRoundTrip);
