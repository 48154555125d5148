#include "scene/raycount.h"

#include <emmintrin.h>
#include <omp.h>

#include <vector>

namespace {

// Four triangles as P, e1 = Q - P, e2 = R - P in lanes. Unused lanes are
// zero, which gives det = 0 and so never a crossing.
struct alignas(16) Block4 {
    float px[4], py[4], pz[4];
    float e1x[4], e1y[4], e1z[4];
    float e2x[4], e2y[4], e2z[4];
};

std::vector<Block4> makeBlocks(const QVector<Triangle> &tris)
{
    const int n = tris.size();
    std::vector<Block4> blocks(size_t((n + 3) / 4));
    for (Block4 &b : blocks)
        b = Block4{};
    for (int i = 0; i < n; ++i) {
        Block4 &b = blocks[size_t(i / 4)];
        const int l = i % 4;
        const Triangle &t = tris[i];
        const Vec3 e1 = t.q - t.p, e2 = t.r - t.p;
        b.px[l] = t.p.x; b.py[l] = t.p.y; b.pz[l] = t.p.z;
        b.e1x[l] = e1.x; b.e1y[l] = e1.y; b.e1z[l] = e1.z;
        b.e2x[l] = e2.x; b.e2y[l] = e2.y; b.e2z[l] = e2.z;
    }
    return blocks;
}

int countRange(const CrossingRay &ray, const Block4 *blocks, size_t b0, size_t b1)
{
    const __m128 dx = _mm_set1_ps(ray.dir.x), dy = _mm_set1_ps(ray.dir.y), dz = _mm_set1_ps(ray.dir.z);
    const __m128 ox = _mm_set1_ps(ray.origin.x), oy = _mm_set1_ps(ray.origin.y), oz = _mm_set1_ps(ray.origin.z);
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const __m128 epsNeg = _mm_set1_ps(-1e-30f), epsPos = _mm_set1_ps(1e-30f);
    int hits = 0;
    for (size_t bi = b0; bi < b1; ++bi) {
        const Block4 &b = blocks[bi];
        const __m128 e1x = _mm_load_ps(b.e1x), e1y = _mm_load_ps(b.e1y), e1z = _mm_load_ps(b.e1z);
        const __m128 e2x = _mm_load_ps(b.e2x), e2y = _mm_load_ps(b.e2y), e2z = _mm_load_ps(b.e2z);
        // p = d x e2, det = e1 . p
        const __m128 pX = _mm_sub_ps(_mm_mul_ps(dy, e2z), _mm_mul_ps(dz, e2y));
        const __m128 pY = _mm_sub_ps(_mm_mul_ps(dz, e2x), _mm_mul_ps(dx, e2z));
        const __m128 pZ = _mm_sub_ps(_mm_mul_ps(dx, e2y), _mm_mul_ps(dy, e2x));
        const __m128 det = _mm_add_ps(_mm_add_ps(_mm_mul_ps(e1x, pX), _mm_mul_ps(e1y, pY)), _mm_mul_ps(e1z, pZ));
        const __m128 small = _mm_and_ps(_mm_cmpgt_ps(det, epsNeg), _mm_cmplt_ps(det, epsPos));
        const __m128 inv = _mm_div_ps(one, det);
        const __m128 sx = _mm_sub_ps(ox, _mm_load_ps(b.px));
        const __m128 sy = _mm_sub_ps(oy, _mm_load_ps(b.py));
        const __m128 sz = _mm_sub_ps(oz, _mm_load_ps(b.pz));
        const __m128 u = _mm_mul_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(sx, pX), _mm_mul_ps(sy, pY)), _mm_mul_ps(sz, pZ)), inv);
        __m128 ok = _mm_andnot_ps(small, _mm_and_ps(_mm_cmpge_ps(u, zero), _mm_cmple_ps(u, one)));
        if (_mm_movemask_ps(ok) == 0)
            continue;
        // q = s x e1
        const __m128 qX = _mm_sub_ps(_mm_mul_ps(sy, e1z), _mm_mul_ps(sz, e1y));
        const __m128 qY = _mm_sub_ps(_mm_mul_ps(sz, e1x), _mm_mul_ps(sx, e1z));
        const __m128 qZ = _mm_sub_ps(_mm_mul_ps(sx, e1y), _mm_mul_ps(sy, e1x));
        const __m128 v = _mm_mul_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, qX), _mm_mul_ps(dy, qY)), _mm_mul_ps(dz, qZ)), inv);
        ok = _mm_and_ps(ok, _mm_and_ps(_mm_cmpge_ps(v, zero), _mm_cmple_ps(_mm_add_ps(u, v), one)));
        const __m128 t = _mm_mul_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(e2x, qX), _mm_mul_ps(e2y, qY)), _mm_mul_ps(e2z, qZ)), inv);
        ok = _mm_and_ps(ok, _mm_cmpge_ps(t, zero));
        int mask = _mm_movemask_ps(ok);
        if (ray.skip >= 0 && size_t(ray.skip) / 4 == bi)
            mask &= ~(1 << (ray.skip % 4));
        hits += __builtin_popcount(unsigned(mask));
    }
    return hits;
}

} // namespace

QVector<int> countCrossings(const QVector<Triangle> &tris, const QVector<CrossingRay> &rays)
{
    QVector<int> counts(rays.size(), 0);
    if (tris.isEmpty() || rays.isEmpty())
        return counts;
    const std::vector<Block4> blocks = makeBlocks(tris);
    // Triangles are walked in chunks that stay in cache while every ray of
    // this thread is tested against them.
    const size_t chunk = 2048;
    const int nr = rays.size();
    int *out = counts.data();
#pragma omp parallel if (blocks.size() * size_t(nr) > 20000)
    {
        const int nt = omp_get_num_threads(), th = omp_get_thread_num();
        const int r0 = int(qint64(nr) * th / nt), r1 = int(qint64(nr) * (th + 1) / nt);
        for (size_t c0 = 0; c0 < blocks.size(); c0 += chunk) {
            const size_t c1 = std::min(blocks.size(), c0 + chunk);
            for (int r = r0; r < r1; ++r)
                out[r] += countRange(rays[r], blocks.data(), c0, c1);
        }
    }
    return counts;
}
