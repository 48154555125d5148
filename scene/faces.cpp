#include "scene/faces.h"
#include "scene/raycount.h"
#include "common/crc32.h"

#include <QDataStream>
#include <QIODevice>
#include <QMap>

#include <omp.h>
#include <xmmintrin.h>

#include <algorithm>
#include <vector>

Vec3 faceNormal(const Vec3 &p, const Vec3 &q, const Vec3 &r)
{
    const Vec3 c = cross(q - p, r - p);
    const float inv = _mm_cvtss_f32(_mm_rsqrt_ss(_mm_set_ss(dot(c, c))));
    return c * inv;
}

bool rayCrossesTriangle(const Vec3 &origin, const Vec3 &dir, const Vec3 &P, const Vec3 &Q,
                        const Vec3 &R, float *tOut)
{
    // Kept operation for operation equal to the SIMD kernel in raycount.cpp,
    // which must count exactly the same crossings.
    const Vec3 e1 = Q - P, e2 = R - P;
    const Vec3 p = cross(dir, e2);
    const float det = dot(e1, p);
    if (det > -1e-30f && det < 1e-30f)
        return false;
    const float inv = 1.0f / det;
    const Vec3 s = origin - P;
    const float u = dot(s, p) * inv;
    if (!(u >= 0.0f && u <= 1.0f))
        return false;
    const Vec3 q = cross(s, e1);
    const float v = dot(dir, q) * inv;
    if (!(v >= 0.0f && u + v <= 1.0f))
        return false;
    const float t = dot(e2, q) * inv;
    if (!(t >= 0.0f))
        return false;
    if (tOut)
        *tOut = t;
    return true;
}

void Faces::reserve(int n)
{
    if (n > tris.capacity())
        tris.reserve(n);
}

void Faces::append(const Vec3 &p, const Vec3 &q, const Vec3 &r)
{
    tris.append(Triangle{p, q, r, faceNormal(p, q, r)});
}

void Faces::translate(const Vec3 &v)
{
    for (Triangle &t : tris) {
        t.p = t.p + v;
        t.q = t.q + v;
        t.r = t.r + v;
    }
}

void Faces::moveToAnchor(const Vec3 &anchor)
{
    const Box3 b = boundingBox();
    if (b.isEmpty())
        return;
    const Vec3 c = b.center(), h = b.size() * 0.5f;
    translate(-Vec3(c.x + anchor.x * h.x, c.y + anchor.y * h.y, c.z + anchor.z * h.z));
}

namespace {

// Box3::add on four lanes: minps(p, lo) is "p < lo ? p : lo", so a tie
// (-0 against +0) keeps the earlier value and a NaN is skipped, exactly as
// the scalar comparisons do.
struct BoxLanes {
    __m128 lo = _mm_set1_ps(FLT_MAX), hi = _mm_set1_ps(-FLT_MAX);
    void add(__m128 p)
    {
        lo = _mm_min_ps(p, lo);
        hi = _mm_max_ps(p, hi);
    }
    Box3 box() const
    {
        alignas(16) float l[4], h[4];
        _mm_store_ps(l, lo);
        _mm_store_ps(h, hi);
        Box3 b;
        b.min = Vec3(l[0], l[1], l[2]);
        b.max = Vec3(h[0], h[1], h[2]);
        return b;
    }
};

// The four floats from v.x on: v and the first coordinate after it, which
// inside a Triangle is always another of its floats.
inline __m128 lanes(const Vec3 &v) { return _mm_loadu_ps(&v.x); }

} // namespace

Box3 Faces::boundingBox() const
{
    BoxLanes b;
    for (const Triangle &t : tris) {
        b.add(lanes(t.p));
        b.add(lanes(t.q));
        b.add(lanes(t.r));
    }
    return b.box();
}

Box3 Faces::boundingBox(const Mat4 &m) const
{
    const Mat4Lanes ml(m);
    BoxLanes b;
    for (const Triangle &t : tris) {
        b.add(ml.map(t.p));
        b.add(ml.map(t.q));
        b.add(ml.map(t.r));
    }
    return b.box();
}

namespace {

// zlib's CRC-32 combination: the CRC of A followed by B from crc(A), crc(B)
// and B's length, by powers of the one-zero-bit operator over GF(2).
quint32 gf2Times(const quint32 *mat, quint32 vec)
{
    quint32 sum = 0;
    for (; vec; vec >>= 1, ++mat)
        if (vec & 1)
            sum ^= *mat;
    return sum;
}

void gf2Square(quint32 *square, const quint32 *mat)
{
    for (int n = 0; n < 32; ++n)
        square[n] = gf2Times(mat, mat[n]);
}

quint32 crc32Combine(quint32 crc1, quint32 crc2, qint64 len2)
{
    if (len2 <= 0)
        return crc1;
    quint32 even[32], odd[32];
    odd[0] = 0xEDB88320u; // one zero bit
    quint32 row = 1;
    for (int n = 1; n < 32; ++n, row <<= 1)
        odd[n] = row;
    gf2Square(even, odd); // two zero bits
    gf2Square(odd, even); // four
    do { // the first square gives one zero byte
        gf2Square(even, odd);
        if (len2 & 1)
            crc1 = gf2Times(even, crc1);
        len2 >>= 1;
        if (!len2)
            break;
        gf2Square(odd, even);
        if (len2 & 1)
            crc1 = gf2Times(odd, crc1);
        len2 >>= 1;
    } while (len2);
    return crc1 ^ crc2;
}

} // namespace

quint32 Faces::contentHash() const
{
    // The first 36 bytes of a Triangle are its vertices as little-endian
    // floats (x86), so they can be fed to the CRC as they lie in memory.
    // Large meshes are hashed in chunks on all threads and the chunk CRCs
    // combined in order: the CRC of the whole sequence.
    const int n = tris.size();
    const int chunks = std::max(1, std::min(omp_get_max_threads(), n / 20000));
    std::vector<quint32> part(size_t(chunks), 0);
#pragma omp parallel for schedule(static) num_threads(chunks)
    for (int c = 0; c < chunks; ++c) {
        quint32 crc = 0;
        const int i1 = int(qint64(n) * (c + 1) / chunks);
        for (int i = int(qint64(n) * c / chunks); i < i1; ++i)
            crc = crc32(&tris[i], 36, crc);
        part[size_t(c)] = crc;
    }
    quint32 crc = part[0];
    for (int c = 1; c < chunks; ++c)
        crc = crc32Combine(crc, part[size_t(c)], 36 * (qint64(n) * (c + 1) / chunks - qint64(n) * c / chunks));
    return crc;
}

int Faces::rayCrossings(const Vec3 &origin, const Vec3 &through, int skip) const
{
    const Vec3 dir = through - origin;
    int n = 0;
    for (int i = 0; i < tris.size(); ++i)
        if (i != skip && rayCrossesTriangle(origin, dir, tris[i].p, tris[i].q, tris[i].r))
            ++n;
    return n;
}

bool Faces::orientationCheck() const
{
    const int n = tris.size();
    if (n == 0)
        return true;
    // Sample triangle j casts a ray from its centroid along its normal; an odd
    // crossing count means the normal points into the solid. Both passes
    // share results for equal j (small meshes repeat triangle 0 many times).
    const int S1 = 150, S2 = 25;
    const int stride1 = n / S1, stride2 = n / S2;
    QMap<int, int> sampleIndex; // j -> ray slot
    QVector<CrossingRay> rays;
    auto addSample = [&](int j) {
        if (sampleIndex.contains(j))
            return;
        const Triangle &t = tris[j];
        const Vec3 m = (t.p + t.q + t.r) * 0.3333333f;
        sampleIndex.insert(j, rays.size());
        rays.append(CrossingRay{m, (m + t.n) - m, j});
    };
    for (int i = 0; i < S1; ++i)
        addSample(i * stride1);
    QVector<int> counts = countCrossings(tris, rays);
    auto inside = [&](int j) { return (counts[sampleIndex.value(j)] & 1) != 0; };

    int inside1 = 0;
    for (int i = 0; i < S1; ++i)
        inside1 += inside(i * stride1);
    if (inside1 == 0)
        return true;

    const int before = rays.size();
    for (int i = 0; i < S2; ++i)
        addSample(i * stride2);
    if (rays.size() > before) {
        const QVector<CrossingRay> more = rays.mid(before);
        counts += countCrossings(tris, more);
    }
    int in2 = 0, out2 = 0;
    for (int i = 0; i < S2; ++i)
        (inside(i * stride2) ? in2 : out2)++;
    return out2 > in2;
}

void Faces::flip()
{
    for (Triangle &t : tris) {
        std::swap(t.q, t.r);
        t.n = -t.n;
    }
}

void Faces::writeBlock(QDataStream &s) const
{
    s << qint32(tris.size());
    for (const Triangle &t : tris)
        for (int i = 0; i < 9; ++i)
            s << (&t.p.x)[i];
}

void Faces::readBlock(QDataStream &s)
{
    clear();
    qint32 n = 0;
    s >> n;
    if (n < 1)
        return;
    // Never trust the count: a corrupt stream must not make us reserve memory
    // for triangles that are not there.
    const QIODevice *dev = s.device();
    const qint64 avail = dev ? dev->bytesAvailable() : 0;
    if (qint64(n) > avail / 36)
        throw QString("Faces::readBlock() Corrupt data: triangle count exceeds the remaining bytes.");
    reserve(n);
    float v[9];
    for (qint32 i = 0; i < n; ++i) {
        for (float &f : v)
            s >> f;
        // As the file loaders do: a non-finite corner drops its triangle.
        const Vec3 p(v[0], v[1], v[2]), q(v[3], v[4], v[5]), r(v[6], v[7], v[8]);
        if (isFinite(p) && isFinite(q) && isFinite(r))
            append(p, q, r);
    }
}
