#include "driver/slicefaces.h"
#include "common/perfdata.h"
#include "params/slicerparams.h"
#include "scene/project.h"

#include <QString>
#include <algorithm>
#include <cmath>
#include <omp.h>
#include <xmmintrin.h>
#include <vector>

namespace {

// More layers than this cannot come from a sane job (1000 mm at 0.005 mm)
// and would only exhaust memory.
const float kMaxLayers = 200000.0f;

struct P2 { float x, y; };

// std::floor and std::ceil by truncation and one correcting step where that
// is exact (|v| < 2^23; beyond, every float is whole). A zero may come out
// +0 where the library gives -0: the callers only compare and convert to int.
inline float floorF(float v)
{
    if (!(std::fabs(v) < 8388608.0f))
        return std::floor(v);
    const float i = float(int(v));
    return v < i ? i - 1.0f : i;
}
inline float ceilF(float v)
{
    if (!(std::fabs(v) < 8388608.0f))
        return std::ceil(v);
    const float i = float(int(v));
    return v > i ? i + 1.0f : i;
}

bool finite9(const float *v)
{
    for (int i = 0; i < 9; ++i)
        if (!std::isfinite(v[i]))
            return false;
    return true;
}

// Each layer is cut at the middle of its own slab: layer 0 at
// FirstLayerHeight / 2 above zmin, layer j >= 1 at FirstLayerHeight +
// (j - 0.5) LayerHeight, where its record's z says it is. Heights are
// measured in layer units f = (y - zmin) / lh - 0.5 - shift, so that layer
// j >= 1 lies at f = j and layer 0 at f = f0 (both 0 when the two heights
// are equal, and then every number is the same as on an even grid).
struct Cutter {
    float zmin, lh;
    float shift; // (FirstLayerHeight - LayerHeight) / LayerHeight
    float f0;    // layer 0's plane in layer units: below 1, at 0 for equal heights
    int n;
    QVector<SliceLayer> &layers;
    // Crossing buffers, one entry per layer: rising and falling edges.
    QVector<P2> rising, falling;

    Cutter(float zmin, float lh, float firstLh, int n, QVector<SliceLayer> &layers)
        : zmin(zmin), lh(lh), shift((firstLh - lh) / lh), f0(0.5f - 0.5f * (firstLh / lh)), n(n),
          layers(layers), rising(n), falling(n) {}

    float units(float y) const { return (y - zmin) / lh - 0.5f - shift; }
    // Height of the plane of layer j.
    float planeY(int j) const { return zmin + ((j == 0 ? f0 : float(j)) + 0.5f + shift) * lh; }

    // Layers [lo, hi] whose planes lie in [fa, fb] (layer units), clamped to
    // the job's layers before converting to int. f0 < 1, so layer 0 and
    // layers from 1 on always form one range.
    bool range(float fa, float fb, int &lo, int &hi) const
    {
        float l = std::max(ceilF(fa), 1.0f);
        float h = std::min(floorF(fb), float(n - 1));
        const bool zero = fa <= f0 && f0 <= fb;
        if (zero)
            l = 0;
        else if (!(l <= h))
            return false;
        if (zero && !(1.0f <= h))
            h = 0;
        lo = int(l);
        hi = int(h);
        return true;
    }
    // Layer j's plane in layer units.
    float at(int j) const { return j == 0 ? f0 : float(j); }

    // Cuts triangle (p, q, r) into the segment vectors chosen by `target`.
    template <class Target>
    void cutTriangle(const float *p, const float *q, const float *r, Target target)
    {
        const float *v[3] = {p, q, r};
        // units() is monotone in y, so the edge from the lowest corner to the
        // highest spans [fMin, fMax] and every other edge lies inside it: a
        // triangle whose span meets no plane (most of a fine mesh) gives no
        // crossing on any edge and is done here.
        const float f[3] = {units(p[1]), units(q[1]), units(r[1])};
        const float fMin = std::min({f[0], f[1], f[2]}), fMax = std::max({f[0], f[1], f[2]});
        int lo, hi;
        if (!(fMin < fMax) || !range(fMin, fMax, lo, hi))
            return;
        int first = n, last = -1;
        for (int e = 0; e < 3; ++e) {
            const int e1 = (e + 1) % 3;
            const float *s = v[e], *t = v[e1];
            const bool rises = s[1] <= t[1];
            const float *a = rises ? s : t, *b = rises ? t : s;
            const float fa = rises ? f[e] : f[e1];
            const float fb = rises ? f[e1] : f[e];
            if (fb <= fa)
                continue;
            if (!range(fa, fb, lo, hi))
                continue;
            P2 *buf = rises ? rising.data() : falling.data();
            const float inv = 1.0f / (fb - fa);
            const float dx = b[0] - a[0], dz = b[2] - a[2];
            for (int j = lo; j <= hi; ++j) {
                const float tt = (at(j) - fa) * inv;
                buf[j] = P2{a[0] + tt * dx, a[2] + tt * dz};
            }
            first = std::min(first, lo);
            last = std::max(last, hi);
        }
        for (int j = first; j <= last; ++j)
            target(j).append(Segment{falling[j].x, falling[j].y, rising[j].x, rising[j].y});
    }

    // A bar wall given by one of its triangles: two corners at one end of the
    // bar (equal height) and one at the other. The wall is the parallelogram
    // spanned by the equal-height side and the slanted side that starts at
    // the corner next to the third one. A plane exactly on the lower side
    // belongs to the next layer.
    void cutParallelogram(const float *t)
    {
        const float *c[3] = {t, t + 3, t + 6};
        int k = -1; // index of the corner off the horizontal side
        if (c[0][1] == c[1][1]) k = 2;
        else if (c[1][1] == c[2][1]) k = 0;
        else if (c[2][1] == c[0][1]) k = 1;
        if (k < 0)
            throw QString("FATAL error: paralelogramProcess() invalid input");
        const float *apex = c[k], *a = c[(k + 1) % 3], *b = c[(k + 2) % 3];
        auto d2 = [](const float *u, const float *w) {
            float dx = u[0] - w[0], dy = u[1] - w[1], dz = u[2] - w[2];
            return dx * dx + dy * dy + dz * dz;
        };
        // The corner adjacent to the apex along the wall is the nearer one:
        // the other is across the wall's diagonal.
        if (d2(b, apex) < d2(a, apex))
            std::swap(a, b);
        if (apex[1] == a[1])
            return; // flat: no slanted side
        const float lowY = std::min(apex[1], a[1]), highY = std::max(apex[1], a[1]);
        const float fLow = units(lowY);
        const float fHigh = units(highY);
        float l = std::max(std::floor(fLow) + 1.0f, 1.0f);
        float h = std::min(std::floor(fHigh), float(n - 1));
        const bool zero = fLow < f0 && f0 <= fHigh;
        if (zero)
            l = 0;
        if (!(l <= h) && !zero)
            return;
        if (zero && !(1.0f <= h))
            h = 0;
        const float ox = b[0] - a[0], oz = b[2] - a[2]; // the horizontal side
        for (int j = int(l); j <= int(h); ++j) {
            const float y = planeY(j);
            const float tt = (y - a[1]) / (apex[1] - a[1]);
            const float x0 = a[0] + tt * (apex[0] - a[0]);
            const float z0 = a[2] + tt * (apex[2] - a[2]);
            layers[j].supportSegs.append(Segment{x0, z0, x0 + ox, z0 + oz});
        }
    }
};

void growBox(float *box, const float *v, bool &any)
{
    for (int c = 0; c < 3; ++c) {
        if (!any || v[c] < box[c]) box[c] = v[c];
        if (!any || v[c] > box[c + 3]) box[c + 3] = v[c];
    }
    any = true;
}

struct ChunkBox {
    float box[6] = {0, 0, 0, 0, 0, 0};
    bool any = false;
};

} // namespace

SliceFrame SliceFaces(const float *tris, int triCount, const QVector<SliceBar> &bars,
                      float lowerLimit, float upperLimit, float layerHeight,
                      float firstLayerHeight, float barWidthLimit, float barSizeLimit,
                      QVector<SliceLayer> &layers)
{
    PerfScope perf("SliceFaces");
    if (!(layerHeight > 0) || !std::isfinite(layerHeight) || !std::isfinite(firstLayerHeight))
        throw QString("SliceFaces() invalid layer height");

    SliceFrame fr;
    bool any = false;
    // The box of contiguous chunks, joined in chunk order: growBox keeps the
    // earlier of equal values (-0 against +0), so this is the box of one pass.
    {
        const int parts = std::max(1, std::min(omp_get_max_threads(), triCount / 20000));
        std::vector<ChunkBox> boxes(static_cast<size_t>(parts));
#pragma omp parallel for schedule(static) num_threads(parts)
        for (int c = 0; c < parts; ++c) {
            // growBox on four lanes: minps(v, lo) is "v < lo ? v : lo", and
            // from +inf the first finite corner is taken whole, as !any does.
            // The fourth lane (the next float of the record) is not used.
            __m128 lo = _mm_set1_ps(INFINITY), hi = _mm_set1_ps(-INFINITY);
            bool any = false;
            const int end = int((long long)triCount * (c + 1) / parts);
            for (int i = int((long long)triCount * c / parts); i < end; ++i) {
                const float *t = tris + 12 * i;
                if (!finite9(t))
                    continue;
                for (int k = 0; k < 3; ++k) {
                    const __m128 v = _mm_loadu_ps(t + 3 * k);
                    lo = _mm_min_ps(v, lo);
                    hi = _mm_max_ps(v, hi);
                }
                any = true;
            }
            alignas(16) float l[4], h[4];
            _mm_store_ps(l, lo);
            _mm_store_ps(h, hi);
            ChunkBox &b = boxes[size_t(c)];
            b.any = any;
            std::copy(l, l + 3, b.box);
            std::copy(h, h + 3, b.box + 3);
        }
        for (const ChunkBox &b : boxes)
            if (b.any) {
                growBox(fr.box, b.box, any);
                growBox(fr.box, b.box + 3, any);
            }
    }
    for (const SliceBar &bar : bars)
        for (int i = 0; i < bar.triCount; ++i) {
            const float *t = bar.tris + 12 * i;
            if (!finite9(t))
                continue;
            for (int k = 0; k < 3; ++k)
                growBox(fr.box, t + 3 * k, any);
        }
    fr.rect = Extents{fr.box[0], fr.box[2], fr.box[3], fr.box[5]};

    fr.zmin = std::max(lowerLimit, fr.box[1]);
    const float zmax = std::min(upperLimit, fr.box[4]);
    const float cnt = 1.0f - std::floor(-((zmax - fr.zmin - firstLayerHeight) / layerHeight));
    if (!(cnt <= kMaxLayers))
        throw QString("SliceFaces() too many layers (%1)").arg(double(cnt));
    const int n = cnt < 1.0f ? 1 : int(cnt); // a scene above the upper limit still gets one layer

    layers.clear();
    layers.resize(n);
    for (int j = 0; j < n; ++j) {
        layers[j].index = j;
        // Layer 0 is centred in the first layer's height above zmin, like
        // every other layer is centred in its own.
        layers[j].z = j == 0 ? fr.zmin + firstLayerHeight * 0.5f
                             : (float(j) - 0.5f) * layerHeight + fr.zmin + firstLayerHeight;
        // Not derived from z: a float sum in this order is the printed Z's
        // value to the last bit.
        layers[j].printZ = layerHeight * float(j) + firstLayerHeight;
    }

    // Triangles are cut in contiguous chunks, one per thread, each into
    // its own per-layer lists; joining the lists in chunk order gives every
    // layer its segments in triangle order, whatever the thread count.
    SliceLayer *L = layers.data();
    const int chunks = std::max(1, std::min(omp_get_max_threads(), triCount / 20000));
    if (chunks == 1) {
        Cutter cut(fr.zmin, layerHeight, firstLayerHeight, n, layers);
        auto objTarget = [L](int j) -> Segments & { return L[j].segs; };
        for (int i = 0; i < triCount; ++i) {
            const float *t = tris + 12 * i;
            if (finite9(t))
                cut.cutTriangle(t, t + 3, t + 6, objTarget);
        }
    } else {
        std::vector<std::vector<Segments>> parts(chunks, std::vector<Segments>(n));
#pragma omp parallel for schedule(static) num_threads(chunks)
        for (int c = 0; c < chunks; ++c) {
            Cutter cut(fr.zmin, layerHeight, firstLayerHeight, n, layers);
            std::vector<Segments> &mine = parts[c];
            auto target = [&mine](int j) -> Segments & { return mine[j]; };
            const int end = int((long long)triCount * (c + 1) / chunks);
            for (int i = int((long long)triCount * c / chunks); i < end; ++i) {
                const float *t = tris + 12 * i;
                if (finite9(t))
                    cut.cutTriangle(t, t + 3, t + 6, target);
            }
        }
#pragma omp parallel for schedule(static)
        for (int j = 0; j < n; ++j) {
            int total = 0;
            for (int c = 0; c < chunks; ++c)
                total += parts[c][j].size();
            Segments &segs = L[j].segs;
            segs.reserve(total);
            for (int c = 0; c < chunks; ++c)
                segs += parts[c][j];
        }
    }
    Cutter cut(fr.zmin, layerHeight, firstLayerHeight, n, layers);

    // Bar meshes come in groups of four triangles: 4g is not used, 4g + 1
    // is a wall cut as a whole parallelogram, 4g + 2 and 4g + 3 are cut as
    // ordinary triangles. Thin bars use only groups 1 and 3.
    auto supTarget = [L](int j) -> Segments & { return L[j].supportSegs; };
    for (const SliceBar &bar : bars) {
        const bool full = bar.width > barWidthLimit || bar.size2 > barSizeLimit;
        for (int g = 0; g < 4; ++g) {
            if (!full && (g == 0 || g == 2))
                continue;
            if (4 * g + 3 >= bar.triCount)
                break;
            const float *t = bar.tris + 12 * (4 * g);
            if (!finite9(t + 12) || !finite9(t + 24) || !finite9(t + 36))
                continue;
            cut.cutParallelogram(t + 12);
            cut.cutTriangle(t + 24, t + 27, t + 30, supTarget);
            cut.cutTriangle(t + 36, t + 39, t + 42, supTarget);
        }
    }
    return fr;
}

SliceFrame SliceFaces(Project &scene, float lowerLimit, float upperLimit, float layerHeight,
                      float firstLayerHeight, float barWidthLimit, float barSizeLimit,
                      QVector<SliceLayer> &layers)
{
    const QVector<Triangle> tris = scene.gatherTriangles(false); // the cut reads only corners
    QVector<SliceBar> bars;
    bars.reserve(scene.bars.size());
    for (const SupportBar &b : scene.bars)
        bars.append(SliceBar{reinterpret_cast<const float *>(b.mesh.tris.constData()), b.mesh.count(),
                             b.size, 0});
    return SliceFaces(reinterpret_cast<const float *>(tris.constData()), tris.size(), bars,
                      lowerLimit, upperLimit, layerHeight, firstLayerHeight, barWidthLimit,
                      barSizeLimit, layers);
}

SliceFrame SliceFaces(Project &scene, const SlicerParams &sp, QVector<SliceLayer> &layers)
{
    return SliceFaces(scene, sp.MinSliceHeight, sp.MaxSliceHeight, sp.LayerHeight, sp.FirstLayerHeight,
                      scene.minBarWidth() * 1.1f, 0.5f, layers);
}
