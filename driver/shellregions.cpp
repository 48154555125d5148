#include "driver/shellregions.h"
#include "common/perfdata.h"
#include "raster/rasterkernels.h"

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The step's plane operations, gathered and then run together: every one is
// byte for byte, so each thread takes the same byte range of every plane
// and runs them in order (what it reads, it or an earlier op of its own
// wrote), one parallel region per layer.
struct ByteOps {
    struct Op {
        int kind; // 1 … 7 as Plane1::bitwiseOp, 8 clear a, 9 shell split
        uchar *a, *a2;
        const uchar *b, *c, *d;
        int bytes;
    };
    std::vector<Op> ops;

    // Plane1::bitwiseOp's checks and resizing, the work deferred.
    void bitwise(int op, Plane1 *a, const Plane1 *b, const Plane1 *c = nullptr)
    {
        if (!a || !b)
            throw QString("Plane1::bitwiseOp() incompatible input planes");
        if (op == 1 || op == 4)
            a->setSize(b->size());
        if (a->size() != b->size() || (c && c->size() != a->size()))
            throw QString("Plane1::bitwiseOp() incompatible input planes");
        if ((op == 4 || op == 5) && !c)
            throw QString("Plane1::bitwiseOp() c operand is needed");
        if (op < 1 || op > 7 || (a == b && (op == 1 || op == 2 || op == 6)))
            return;
        ops.push_back(Op{op, a->data, nullptr, b->data, c ? c->data : nullptr, nullptr, a->byteSize});
    }
    void clear(Plane1 &a) { ops.push_back(Op{8, a.data, nullptr, nullptr, nullptr, nullptr, a.byteSize}); }
    void split(const Plane1 &below, const Plane1 &above, const Plane1 &r, Plane1 &s, Plane1 &f)
    {
        ops.push_back(Op{9, s.data, f.data, below.data, above.data, r.data, r.byteSize});
    }

    void run()
    {
        if (ops.empty())
            return;
        int most = 0;
        for (const Op &o : ops)
            most = std::max(most, o.bytes);
        // Small planes: a parallel region would cost more than it saves.
#pragma omp parallel if (most >= (1 << 17))
        {
            const int nt = omp_get_num_threads(), th = omp_get_thread_num();
            for (const Op &o : ops) {
                // 64-byte aligned cuts, the same for planes of one size.
                const int from = int(qint64(o.bytes) * th / nt) & ~63;
                const int to = th == nt - 1 ? o.bytes : int(qint64(o.bytes) * (th + 1) / nt) & ~63;
                if (to <= from)
                    continue;
                const int n = to - from;
                if (o.kind == 8)
                    std::memset(o.a + from, 0, size_t(n));
                else if (o.kind == 9)
                    rk::shellSplitSse2(o.b + from, o.c + from, o.d + from, o.a + from, o.a2 + from, n);
                else
                    rk::bitwiseSse2(o.kind, o.a + from, o.b + from, o.c ? o.c + from : nullptr, n);
            }
        }
    }
};

} // namespace

void shellRegionsStep(int i, int H, int N, ShellRegionRings &rings)
{
    PerfScope perf("shellRegions");
    if (H < 0)
        H = 0;
    auto R = [&](int k) -> const Plane1 & { return rings.inner.get(k); };
    auto D = [&](int k) -> const Plane1 & { return rings.pairs.get(k); };
    ByteOps ops;

    // 1. Region pair.
    const int k = i - 1 + H;
    if (H > 2 && (k & 1) == 0 && k >= -H && k <= N - 2 + H) {
        Plane1 &d = rings.pairs.acquire(k);
        ops.bitwise(4, &d, &R(k), &R(k + 1));
    }

    // 2. Stack intersection of the H layers from j upward.
    const int j = i + 1;
    if (j >= -H && j <= N) {
        Plane1 &t = rings.stacks.acquire(j);
        const bool even = (j & 1) == 0;
        if (H == 0) {
            t.setSize(R(i).size());
            ops.clear(t);
        } else if (H == 1) {
            ops.bitwise(1, &t, &R(j));
        } else if (H == 2) {
            ops.bitwise(4, &t, &R(j), &R(j + 1));
        } else if (H == 3) {
            if (even)
                ops.bitwise(4, &t, &D(j), &R(j + 2));
            else
                ops.bitwise(4, &t, &R(j), &D(j + 1));
        } else {
            int m;
            if (even) {
                ops.bitwise(1, &t, &D(j));
                m = j + 2;
            } else {
                ops.bitwise(1, &t, &R(j));
                m = j + 1;
            }
            for (; m < i + H; m += 2)
                ops.bitwise(2, &t, &D(m));
            if (m == i + H)
                ops.bitwise(2, &t, &R(m));
        }
    }

    // 3. Shell and infill split.
    if (i < 0 || i >= N) {
        ops.run();
        return;
    }
    const Plane1 &r = R(i);
    if (H == 0) {
        // Nothing is buried under zero layers: all shell. (T(i) is never made
        // when the loop starts at i = 0, so it must not be read here.)
        Plane1 &s = rings.shell.acquire(i);
        ops.bitwise(1, &s, &r);
        Plane1 &f = rings.infill.acquire(i);
        f.setSize(r.size());
        ops.clear(f);
        ops.run();
        return;
    }
    const Plane1 &below = rings.stacks.get(i - H);
    const Plane1 &above = rings.stacks.get(i + 1);
    if (below.size() != r.size() || above.size() != r.size())
        throw QString("Plane1::bitwiseOp() incompatible input planes");
    // S(i) = R(i) AND NOT (below AND above), F(i) = the rest of R(i), in one
    // pass over the three planes.
    Plane1 &s = rings.shell.acquire(i);
    Plane1 &f = rings.infill.acquire(i);
    s.setSize(r.size());
    f.setSize(r.size());
    ops.split(below, above, r, s, f);
    ops.run();
}
