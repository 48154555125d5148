#include "scene/raycount.h"

#include <emmintrin.h>
#include <immintrin.h>
#include <omp.h>

namespace {

// Triangles packed W to a block, lane by lane: a corner and its two edges.
// Unused lanes stay zero, which gives det = 0 and so never a crossing.
template <typename Block, int W>
std::vector<Block> packBlocks(const QVector<Triangle> &tris)
{
    std::vector<Block> blocks(size_t((tris.size() + W - 1) / W), Block{});
    for (int i = 0; i < tris.size(); ++i) {
        Block &b = blocks[size_t(i / W)];
        const int l = i % W;
        const Triangle &t = tris[i];
        const Vec3 e1 = t.q - t.p, e2 = t.r - t.p;
        b.px[l] = t.p.x; b.py[l] = t.p.y; b.pz[l] = t.p.z;
        b.e1x[l] = e1.x; b.e1y[l] = e1.y; b.e1z[l] = e1.z;
        b.e2x[l] = e2.x; b.e2y[l] = e2.y; b.e2z[l] = e2.z;
    }
    return blocks;
}

struct RayLanes {
    __m128 dx, dy, dz, ox, oy, oz;
    explicit RayLanes(const Vec3 &o, const Vec3 &d)
        : dx(_mm_set1_ps(d.x)), dy(_mm_set1_ps(d.y)), dz(_mm_set1_ps(d.z)),
          ox(_mm_set1_ps(o.x)), oy(_mm_set1_ps(o.y)), oz(_mm_set1_ps(o.z))
    {
    }
};

// Lane mask of the four triangles the ray crosses; t of every lane in *tOut
// when asked. Mirrors rayCrossesTriangle operation by operation.
inline int hitMask(const RayMesh::Block4 &b, const RayLanes &r, __m128 *tOut)
{
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const __m128 e1x = _mm_load_ps(b.e1x), e1y = _mm_load_ps(b.e1y), e1z = _mm_load_ps(b.e1z);
    const __m128 e2x = _mm_load_ps(b.e2x), e2y = _mm_load_ps(b.e2y), e2z = _mm_load_ps(b.e2z);
    // p = d x e2, det = e1 . p
    const __m128 pX = _mm_sub_ps(_mm_mul_ps(r.dy, e2z), _mm_mul_ps(r.dz, e2y));
    const __m128 pY = _mm_sub_ps(_mm_mul_ps(r.dz, e2x), _mm_mul_ps(r.dx, e2z));
    const __m128 pZ = _mm_sub_ps(_mm_mul_ps(r.dx, e2y), _mm_mul_ps(r.dy, e2x));
    const __m128 det = _mm_add_ps(_mm_add_ps(_mm_mul_ps(e1x, pX), _mm_mul_ps(e1y, pY)), _mm_mul_ps(e1z, pZ));
    const __m128 small = _mm_and_ps(_mm_cmpgt_ps(det, _mm_set1_ps(-1e-30f)), _mm_cmplt_ps(det, _mm_set1_ps(1e-30f)));
    const __m128 inv = _mm_div_ps(one, det);
    const __m128 sx = _mm_sub_ps(r.ox, _mm_load_ps(b.px));
    const __m128 sy = _mm_sub_ps(r.oy, _mm_load_ps(b.py));
    const __m128 sz = _mm_sub_ps(r.oz, _mm_load_ps(b.pz));
    const __m128 u = _mm_mul_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(sx, pX), _mm_mul_ps(sy, pY)), _mm_mul_ps(sz, pZ)), inv);
    __m128 ok = _mm_andnot_ps(small, _mm_and_ps(_mm_cmpge_ps(u, zero), _mm_cmple_ps(u, one)));
    if (_mm_movemask_ps(ok) == 0)
        return 0;
    // q = s x e1
    const __m128 qX = _mm_sub_ps(_mm_mul_ps(sy, e1z), _mm_mul_ps(sz, e1y));
    const __m128 qY = _mm_sub_ps(_mm_mul_ps(sz, e1x), _mm_mul_ps(sx, e1z));
    const __m128 qZ = _mm_sub_ps(_mm_mul_ps(sx, e1y), _mm_mul_ps(sy, e1x));
    const __m128 v = _mm_mul_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(r.dx, qX), _mm_mul_ps(r.dy, qY)), _mm_mul_ps(r.dz, qZ)), inv);
    ok = _mm_and_ps(ok, _mm_and_ps(_mm_cmpge_ps(v, zero), _mm_cmple_ps(_mm_add_ps(u, v), one)));
    const __m128 t = _mm_mul_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(e2x, qX), _mm_mul_ps(e2y, qY)), _mm_mul_ps(e2z, qZ)), inv);
    ok = _mm_and_ps(ok, _mm_cmpge_ps(t, zero));
    if (tOut)
        *tOut = t;
    return _mm_movemask_ps(ok);
}

int countRange(const CrossingRay &ray, const RayMesh::Block4 *blocks, size_t b0, size_t b1)
{
    const RayLanes r(ray.origin, ray.dir);
    int hits = 0;
    for (size_t bi = b0; bi < b1; ++bi) {
        int mask = hitMask(blocks[bi], r, nullptr);
        if (mask && ray.skip >= 0 && size_t(ray.skip) / 4 == bi)
            mask &= ~(1 << (ray.skip % 4));
        hits += __builtin_popcount(unsigned(mask));
    }
    return hits;
}

// The same test eight triangles at a time, for processors with AVX. Only
// lane-wise IEEE operations without fused multiply-adds, in the same order,
// so every lane gives what hitMask gives.
struct alignas(32) Block8 {
    float px[8], py[8], pz[8];
    float e1x[8], e1y[8], e1z[8];
    float e2x[8], e2y[8], e2z[8];
};

std::vector<Block8> blocks8(const QVector<Triangle> &tris)
{
    return packBlocks<Block8, 8>(tris);
}

__attribute__((target("avx"))) int countRange8(const CrossingRay &ray, const Block8 *blocks, size_t b0,
                                               size_t b1)
{
    const __m256 dx = _mm256_set1_ps(ray.dir.x), dy = _mm256_set1_ps(ray.dir.y), dz = _mm256_set1_ps(ray.dir.z);
    const __m256 ox = _mm256_set1_ps(ray.origin.x), oy = _mm256_set1_ps(ray.origin.y),
                 oz = _mm256_set1_ps(ray.origin.z);
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 lo = _mm256_set1_ps(-1e-30f), hi = _mm256_set1_ps(1e-30f);
    int hits = 0;
    for (size_t bi = b0; bi < b1; ++bi) {
        const Block8 &b = blocks[bi];
        const __m256 e1x = _mm256_load_ps(b.e1x), e1y = _mm256_load_ps(b.e1y), e1z = _mm256_load_ps(b.e1z);
        const __m256 e2x = _mm256_load_ps(b.e2x), e2y = _mm256_load_ps(b.e2y), e2z = _mm256_load_ps(b.e2z);
        const __m256 pX = _mm256_sub_ps(_mm256_mul_ps(dy, e2z), _mm256_mul_ps(dz, e2y));
        const __m256 pY = _mm256_sub_ps(_mm256_mul_ps(dz, e2x), _mm256_mul_ps(dx, e2z));
        const __m256 pZ = _mm256_sub_ps(_mm256_mul_ps(dx, e2y), _mm256_mul_ps(dy, e2x));
        const __m256 det = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(e1x, pX), _mm256_mul_ps(e1y, pY)),
                                         _mm256_mul_ps(e1z, pZ));
        const __m256 small = _mm256_and_ps(_mm256_cmp_ps(det, lo, _CMP_GT_OS), _mm256_cmp_ps(det, hi, _CMP_LT_OS));
        const __m256 inv = _mm256_div_ps(one, det);
        const __m256 sx = _mm256_sub_ps(ox, _mm256_load_ps(b.px));
        const __m256 sy = _mm256_sub_ps(oy, _mm256_load_ps(b.py));
        const __m256 sz = _mm256_sub_ps(oz, _mm256_load_ps(b.pz));
        const __m256 u = _mm256_mul_ps(
            _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(sx, pX), _mm256_mul_ps(sy, pY)), _mm256_mul_ps(sz, pZ)), inv);
        __m256 ok = _mm256_andnot_ps(small, _mm256_and_ps(_mm256_cmp_ps(u, zero, _CMP_GE_OS),
                                                          _mm256_cmp_ps(u, one, _CMP_LE_OS)));
        if (_mm256_movemask_ps(ok) == 0)
            continue;
        const __m256 qX = _mm256_sub_ps(_mm256_mul_ps(sy, e1z), _mm256_mul_ps(sz, e1y));
        const __m256 qY = _mm256_sub_ps(_mm256_mul_ps(sz, e1x), _mm256_mul_ps(sx, e1z));
        const __m256 qZ = _mm256_sub_ps(_mm256_mul_ps(sx, e1y), _mm256_mul_ps(sy, e1x));
        const __m256 v = _mm256_mul_ps(
            _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(dx, qX), _mm256_mul_ps(dy, qY)), _mm256_mul_ps(dz, qZ)), inv);
        ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(v, zero, _CMP_GE_OS),
                                             _mm256_cmp_ps(_mm256_add_ps(u, v), one, _CMP_LE_OS)));
        const __m256 t = _mm256_mul_ps(
            _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(e2x, qX), _mm256_mul_ps(e2y, qY)), _mm256_mul_ps(e2z, qZ)), inv);
        ok = _mm256_and_ps(ok, _mm256_cmp_ps(t, zero, _CMP_GE_OS));
        int mask = _mm256_movemask_ps(ok);
        if (mask && ray.skip >= 0 && size_t(ray.skip) / 8 == bi)
            mask &= ~(1 << (ray.skip % 8));
        hits += __builtin_popcount(unsigned(mask));
    }
    return hits;
}

} // namespace

RayMesh::RayMesh(const QVector<Triangle> &tris)
{
    blocks = packBlocks<Block4, 4>(tris);
}

int RayMesh::crossings(const Vec3 &origin, const Vec3 &dir, int skip) const
{
    return countRange(CrossingRay{origin, dir, skip}, blocks.data(), 0, blocks.size());
}

void RayMesh::forEachHit(const Vec3 &origin, const Vec3 &dir, const std::function<void(int, float)> &hit) const
{
    const RayLanes r(origin, dir);
    for (size_t bi = 0; bi < blocks.size(); ++bi) {
        __m128 t;
        const int mask = hitMask(blocks[bi], r, &t);
        if (!mask)
            continue;
        alignas(16) float ts[4];
        _mm_store_ps(ts, t);
        for (int l = 0; l < 4; ++l)
            if (mask & (1 << l))
                hit(int(bi * 4) + l, ts[l]);
    }
}

// Triangles are walked in chunks that stay in cache while every ray of this
// thread is tested against them; each thread takes its own share of the rays.
template <class Block, class Count>
void countInChunks(const std::vector<Block> &blocks, size_t chunk, const QVector<CrossingRay> &rays, int *out,
                   bool parallel, Count count)
{
    const int nr = rays.size();
#pragma omp parallel if (parallel)
    {
        const int nt = omp_get_num_threads(), th = omp_get_thread_num();
        const int r0 = int(qint64(nr) * th / nt), r1 = int(qint64(nr) * (th + 1) / nt);
        for (size_t c0 = 0; c0 < blocks.size(); c0 += chunk) {
            const size_t c1 = std::min(blocks.size(), c0 + chunk);
            for (int r = r0; r < r1; ++r)
                out[r] += count(rays[r], blocks.data(), c0, c1);
        }
    }
}

QVector<int> countCrossings(const QVector<Triangle> &tris, const QVector<CrossingRay> &rays, bool wide)
{
    QVector<int> counts(rays.size(), 0);
    if (tris.isEmpty() || rays.isEmpty())
        return counts;
    const bool parallel = size_t((tris.size() + 3) / 4) * size_t(rays.size()) > 20000;
    if (wide && __builtin_cpu_supports("avx"))
        countInChunks(blocks8(tris), 1024, rays, counts.data(), parallel, countRange8);
    else
        countInChunks(RayMesh(tris).blocks, 2048, rays, counts.data(), parallel, countRange);
    return counts;
}
