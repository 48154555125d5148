#include "driver/shellregions.h"
#include "common/perfdata.h"
#include "raster/plane8.h"
#include "raster/rasterkernels.h"

void shellRegionsStep(int i, int H, int N, ShellRegionRings &rings)
{
    PerfScope perf("shellRegions");
    if (H < 0)
        H = 0;
    auto R = [&](int k) -> const Plane1 & { return rings.inner.get(k); };
    auto D = [&](int k) -> const Plane1 & { return rings.pairs.get(k); };

    // 1. Region pair.
    const int k = i - 1 + H;
    if (H > 2 && (k & 1) == 0 && k >= -H && k <= N - 2 + H) {
        Plane1 &d = rings.pairs.acquire(k);
        Plane1::bitwiseOp(4, &d, &R(k), &R(k + 1), true);
    }

    // 2. Stack intersection of the H layers from j upward.
    const int j = i + 1;
    if (j >= -H && j <= N) {
        Plane1 &t = rings.stacks.acquire(j);
        const bool even = (j & 1) == 0;
        if (H == 0) {
            t.setSize(R(i).size());
            t.fill(0);
        } else if (H == 1) {
            Plane1::bitwiseOp(1, &t, &R(j), nullptr, true);
        } else if (H == 2) {
            Plane1::bitwiseOp(4, &t, &R(j), &R(j + 1), true);
        } else if (H == 3) {
            if (even)
                Plane1::bitwiseOp(4, &t, &D(j), &R(j + 2), true);
            else
                Plane1::bitwiseOp(4, &t, &R(j), &D(j + 1), true);
        } else {
            int m;
            if (even) {
                Plane1::bitwiseOp(1, &t, &D(j), nullptr, true);
                m = j + 2;
            } else {
                Plane1::bitwiseOp(1, &t, &R(j), nullptr, true);
                m = j + 1;
            }
            for (; m < i + H; m += 2)
                Plane1::bitwiseOp(2, &t, &D(m), nullptr, true);
            if (m == i + H)
                Plane1::bitwiseOp(2, &t, &R(m), nullptr, true);
        }
    }

    // 3. Shell and infill split.
    if (i < 0 || i >= N)
        return;
    const Plane1 &r = R(i);
    if (H == 0) {
        // Nothing is buried under zero layers: all shell. (T(i) is never made
        // when the loop starts at i = 0, so it must not be read here.)
        Plane1 &s = rings.shell.acquire(i);
        Plane1::bitwiseOp(1, &s, &r, nullptr, true);
        Plane1 &f = rings.infill.acquire(i);
        f.setSize(r.size());
        f.fill(0);
        if (rings.shellSummary && rings.infillSummary) {
            rings.shellSummary->acquire(i) = Plane8();
            rings.infillSummary->acquire(i) = Plane8();
        }
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
    if (rings.shellSummary && rings.infillSummary) {
        // The fill reads both regions' block summaries: made here from the
        // bytes as they are written rather than by two more passes.
        Plane8 &ss = rings.shellSummary->acquire(i);
        Plane8 &fs = rings.infillSummary->acquire(i);
        if (r.width % 16 == 0 && r.height % 16 == 0) {
            ss.setSize(QSize(r.width / 16, r.height / 16));
            fs.setSize(ss.size());
            rk::shellSplitSummarySse2(below.data, above.data, r.data, s.data, f.data, r.stride(), r.height, ss.data,
                                      fs.data);
            return;
        }
        ss = Plane8();
        fs = Plane8();
    }
    rk::shellSplitSse2(below.data, above.data, r.data, s.data, f.data, r.byteSize);
}
