#include "driver/slicefaces.h"
#include "scene/project.h"
#include "fixtures/meshes.h"

#include <QString>
#include <gtest/gtest.h>
#include <omp.h>
#include <algorithm>
#include <cstring>
#include <cmath>
#include <random>
#include <vector>

namespace {

// Triangle soup builder: 12 floats per triangle (corners and a zero normal).
struct Mesh {
    std::vector<float> f;
    void tri(const float *a, const float *b, const float *c)
    {
        f.insert(f.end(), a, a + 3);
        f.insert(f.end(), b, b + 3);
        f.insert(f.end(), c, c + 3);
        f.insert(f.end(), {0, 0, 0});
    }
    int count() const { return int(f.size() / 12); }
    // The shared fixture's box (counter-clockwise seen from outside); with
    // the corners swapped on every axis every triangle is reversed.
    void box(float x0, float y0, float z0, float x1, float y1, float z1, bool inverted = false)
    {
        const Vec3 a(x0, y0, z0), b(x1, y1, z1);
        for (const Triangle &t : (inverted ? boxMesh(b, a) : boxMesh(a, b)).tris)
            tri(&t.p.x, &t.q.x, &t.r.x);
    }
};

// Signed area of a layer's segments, by the shoelace sum over independent
// segments; a closed outline of +1 winding gives its area.
double windingArea(const Segments &s)
{
    double a = 0;
    for (const Segment &g : s)
        a += double(g.x0) * g.y1 - double(g.x1) * g.y0;
    return -0.5 * a;
}

SliceFrame cut(const Mesh &m, QVector<SliceLayer> &layers, float lh = 0.2f, float flh = 0.2f)
{
    return SliceFaces(m.f.data(), m.count(), {}, 0, 1000, lh, flh, 0, 0.5f, layers);
}

} // namespace

TEST(SliceFaces, LayerCountAndHeights)
{
    struct Case { float height, lh, flh; int layers; };
    const Case cases[] = {
        {10.0f, 0.2f, 0.2f, 50}, {10.0f, 0.2f, 0.3f, 50}, {10.0f, 0.25f, 0.3f, 40},
        {0.1f, 0.2f, 0.2f, 1},   // lower than the first layer: still one layer
        {0.0f, 0.2f, 0.2f, 1},
    };
    for (const Case &c : cases) {
        Mesh m;
        m.box(0, 0, 0, 5, c.height, 5);
        QVector<SliceLayer> layers;
        SliceFrame fr = cut(m, layers, c.lh, c.flh);
        ASSERT_EQ(layers.size(), c.layers) << c.height << " " << c.lh << " " << c.flh;
        EXPECT_FLOAT_EQ(fr.zmin, 0);
        EXPECT_FLOAT_EQ(layers[0].z, c.flh * 0.5f);
        for (int j = 0; j < layers.size(); ++j) {
            EXPECT_EQ(layers[j].index, j);
            if (j > 0) {
                EXPECT_NEAR(layers[j].z, (j - 0.5f) * c.lh + c.flh, 1e-4);
            }
            // The print height to the last bit: the float sum the G-code
            // has always printed (derived from z, a quarter of the layers
            // would differ in the last bits).
            EXPECT_EQ(layers[j].printZ, c.lh * float(j) + c.flh) << j;
        }
    }
}

// Every layer is cut where its record says it lies (the middle of its own
// slab), also when FirstLayerHeight differs from LayerHeight: a pyramid's
// section there has the half-width the record's z gives, and a cube keeps
// every layer below its top, so it is never shortened by more than half a
// layer. Cutting at zmin + (j + 0.5) LayerHeight lost the cube's top layer
// and cut the pyramid's layers off their labelled heights.
TEST(SliceFaces, LayersAreCutAtTheirRecordsHeight)
{
    const float heights[][2] = {{0.2f, 0.2f}, {0.3f, 0.1f}, {0.2f, 0.4f}, {0.1f, 0.3f},
                                {0.25f, 0.05f}, {0.15f, 0.6f}, {5.0f, 0.2f}};
    const float a = 6, H = 10; // pyramid: base half-width a, apex at H
    const float base[4][3] = {{-a, 0, -a}, {a, 0, -a}, {a, 0, a}, {-a, 0, a}};
    const float apex[3] = {0, H, 0};
    Mesh pyramid;
    for (int k = 0; k < 4; ++k)
        pyramid.tri(base[k], apex, base[(k + 1) % 4]);
    pyramid.tri(base[0], base[1], base[2]);
    pyramid.tri(base[0], base[2], base[3]);
    Mesh cube;
    cube.box(0, 0, 0, 10, 10, 10);
    for (const auto &hh : heights) {
        const float lh = hh[0], flh = hh[1];
        QVector<SliceLayer> layers;
        cut(pyramid, layers, lh, flh);
        for (const SliceLayer &l : layers) {
            float w = 0;
            for (const Segment &g : l.segs)
                w = std::max({w, std::fabs(g.x0), std::fabs(g.x1)});
            const float want = l.z < H ? a * (1 - l.z / H) : 0;
            EXPECT_NEAR(w, want, 1e-3f) << "pyramid lh " << lh << " flh " << flh << " layer " << l.index
                                        << " z " << l.z;
        }
        cut(cube, layers, lh, flh);
        float top = 0;
        for (const SliceLayer &l : layers) {
            EXPECT_EQ(l.segs.size(), l.z < 10 ? 8 : 0) << "cube lh " << lh << " flh " << flh << " layer "
                                                       << l.index << " z " << l.z;
            if (!l.segs.isEmpty())
                top = l.z + 0.5f * (l.index == 0 ? flh : lh);
        }
        EXPECT_GE(top, 10 - 0.5f * lh - 1e-4f) << "cube lh " << lh << " flh " << flh;
    }
}

TEST(SliceFaces, CubeLayersAreClosedSquaresOfPositiveWinding)
{
    Mesh m;
    m.box(1, 0, 2, 11, 10, 12);
    QVector<SliceLayer> layers;
    SliceFrame fr = cut(m, layers);
    ASSERT_EQ(layers.size(), 50);
    EXPECT_FLOAT_EQ(fr.rect.minX, 1);
    EXPECT_FLOAT_EQ(fr.rect.minY, 2);
    EXPECT_FLOAT_EQ(fr.rect.maxX, 11);
    EXPECT_FLOAT_EQ(fr.rect.maxY, 12);
    for (const SliceLayer &l : layers) {
        // Each side face is two triangles: 8 segments per layer.
        ASSERT_EQ(l.segs.size(), 8) << l.index;
        EXPECT_NEAR(windingArea(l.segs), 100.0, 1e-3) << l.index;
        EXPECT_TRUE(l.supportSegs.isEmpty());
    }
    Mesh inv;
    inv.box(1, 0, 2, 11, 10, 12, true);
    cut(inv, layers);
    EXPECT_NEAR(windingArea(layers[7].segs), -100.0, 1e-3);
}

// The segment runs from the falling edge's crossing to the rising edge's:
// for a counter-clockwise wall on the +x side of a solid it runs toward -z.
TEST(SliceFaces, SegmentRunsFromFallingToRisingEdge)
{
    const float p[3] = {5, 0, 0}, q[3] = {5, 0, 4}, r[3] = {5, 4, 2};
    Mesh m;
    m.tri(p, q, r); // seen from +x: counter-clockwise, normal +x
    QVector<SliceLayer> layers;
    cut(m, layers, 1.0f, 1.0f);
    ASSERT_EQ(layers.size(), 4);
    // Plane of layer 1 at y = 1.5: P->Q is horizontal, Q->R rises, R->P falls.
    ASSERT_EQ(layers[1].segs.size(), 1);
    const Segment s = layers[1].segs[0];
    EXPECT_FLOAT_EQ(s.x0, 5);
    EXPECT_FLOAT_EQ(s.y0, 2 * 1.5f / 4); // on R->P
    EXPECT_FLOAT_EQ(s.y1, 4 - 2 * 1.5f / 4); // on Q->R
    EXPECT_GT(s.y1, s.y0);

    Mesh flipped;
    flipped.tri(p, r, q);
    cut(flipped, layers, 1.0f, 1.0f);
    EXPECT_LT(layers[1].segs[0].y1, layers[1].segs[0].y0);
}

TEST(SliceFaces, VertexOnPlaneGivesZeroLengthSegment)
{
    // Layer height 1: the plane of layer 1 is y = 1.5 and passes exactly through P.
    const float p[3] = {1, 1.5f, 1}, q[3] = {2, 3, 1}, r[3] = {1, 3, 2};
    const float f0[3] = {0, 0, 0}, f1[3] = {1, 0, 0}, f2[3] = {0, 0, 1};
    Mesh m;
    m.tri(f0, f1, f2); // horizontal: sets the bottom, cuts nothing
    m.tri(p, q, r);
    QVector<SliceLayer> layers;
    cut(m, layers, 1.0f, 1.0f);
    ASSERT_EQ(layers.size(), 3);
    EXPECT_TRUE(layers[0].segs.isEmpty());
    ASSERT_EQ(layers[1].segs.size(), 1);
    const Segment s = layers[1].segs[0];
    EXPECT_FLOAT_EQ(s.x0, 1);
    EXPECT_FLOAT_EQ(s.x1, 1);
    EXPECT_FLOAT_EQ(s.y0, 1);
    EXPECT_FLOAT_EQ(s.y1, 1);
}

TEST(SliceFaces, NonFiniteAndFarAwayTrianglesDoNotBreakTheCut)
{
    Mesh m;
    m.box(0, 0, 0, 4, 2, 4);
    const float nanv[3] = {NAN, 1, 0}, a[3] = {0, 0, 0}, b[3] = {1, 1, 1};
    const float inf[3] = {0, INFINITY, 0};
    m.tri(nanv, a, b);
    m.tri(inf, a, b);
    const float far0[3] = {0, -1e30f, 0}, far1[3] = {1e30f, 1e30f, 0}, far2[3] = {0, 1e30f, 1};
    m.tri(far0, far1, far2); // cut at every layer, but placed far away
    QVector<SliceLayer> layers;
    // The upper limit keeps the huge triangle from making absurd layer counts.
    SliceFaces(m.f.data(), m.count(), {}, 0, 2, 0.2f, 0.2f, 0, 0.5f, layers);
    ASSERT_EQ(layers.size(), 10);
    for (const SliceLayer &l : layers)
        for (const Segment &s : l.segs)
            EXPECT_TRUE(std::isfinite(s.x0) && std::isfinite(s.y0) && std::isfinite(s.x1) && std::isfinite(s.y1));

    // A scene entirely above the upper limit: one empty layer.
    Mesh high;
    high.box(0, 1e30f, 0, 1, 2e30f, 1);
    SliceFaces(high.f.data(), high.count(), {}, 0, 1000, 0.2f, 0.2f, 0, 0.5f, layers);
    EXPECT_EQ(layers.size(), 1);

    QVector<SliceLayer> none;
    EXPECT_THROW(SliceFaces(m.f.data(), m.count(), {}, 0, 1000, 0, 0.2f, 0, 0.5f, none), QString);
    EXPECT_THROW(SliceFaces(m.f.data(), m.count(), {}, -1e30f, 1e30f, 0.2f, 0.2f, 0, 0.5f, none), QString);
}

// A vertical bar wall: the triangle (s0, s1, e1) of the rectangle s0 s1 e1 e0
// is completed to the whole rectangle, one segment per layer between its
// horizontal sides, both corners of the wall's width apart.
TEST(SliceFaces, BarWallIsCutAsParallelogram)
{
    const float s0[3] = {0, 0, 0}, s1[3] = {1, 0, 0}, e1[3] = {1, 2, 0}, e0[3] = {0, 2, 0};
    const float flat[3] = {0, 0, 0};
    Mesh bar;
    for (int g = 0; g < 4; ++g) {
        bar.tri(flat, flat, flat);      // 4g: not used
        bar.tri(s0, s1, e1);            // 4g + 1: the wall
        bar.tri(flat, flat, flat);      // 4g + 2, 4g + 3: flat, no segments
        bar.tri(flat, flat, flat);
    }
    QVector<SliceBar> bars{SliceBar{bar.f.data(), bar.count(), 1.0f, 0}};
    QVector<SliceLayer> layers;
    // Thin bar (width <= limit): groups 1 and 3 only.
    SliceFaces(nullptr, 0, bars, 0, 1000, 0.5f, 0.5f, 1.0f, 0.5f, layers);
    ASSERT_EQ(layers.size(), 4);
    for (const SliceLayer &l : layers) {
        ASSERT_EQ(l.supportSegs.size(), 2) << l.index;
        const Segment s = l.supportSegs[0];
        EXPECT_FLOAT_EQ(std::fabs(s.x1 - s.x0), 1.0f);
        EXPECT_FLOAT_EQ(std::fmin(s.x0, s.x1), 0.0f); // the wall, not its mirror
        EXPECT_FLOAT_EQ(s.y0, 0);
        EXPECT_TRUE(l.segs.isEmpty());
    }
    (void)e0;
    // A wide bar uses all four groups.
    bars[0].width = 2.0f;
    SliceFaces(nullptr, 0, bars, 0, 1000, 0.5f, 0.5f, 1.0f, 0.5f, layers);
    EXPECT_EQ(layers[2].supportSegs.size(), 4);

    // A slanted wall is cut at the layers' own heights too: its section
    // starts at x = y there (layer 0 at FirstLayerHeight / 2).
    const float t0[3] = {0, 0, 0}, t1[3] = {1, 0, 0}, top[3] = {3, 2, 0};
    Mesh slanted;
    for (int g = 0; g < 4; ++g) {
        slanted.tri(flat, flat, flat);
        slanted.tri(t0, t1, top);
        slanted.tri(flat, flat, flat);
        slanted.tri(flat, flat, flat);
    }
    QVector<SliceBar> wall{SliceBar{slanted.f.data(), slanted.count(), 1.0f, 0}};
    for (float flh : {0.5f, 0.2f, 0.8f}) {
        SliceFaces(nullptr, 0, wall, 0, 1000, 0.5f, flh, 1.0f, 0.5f, layers);
        for (const SliceLayer &l : layers) {
            if (l.z >= 2)
                continue;
            ASSERT_EQ(l.supportSegs.size(), 2) << flh << " layer " << l.index;
            const Segment g = l.supportSegs[0];
            EXPECT_NEAR(std::fmin(g.x0, g.x1), l.z, 1e-5f) << flh << " layer " << l.index;
        }
    }

    // A wall triangle without a horizontal side cannot be a bar.
    const float bad[3] = {0, 0.5f, 0};
    Mesh broken;
    broken.tri(flat, flat, flat);
    broken.tri(s0, bad, e1);
    broken.tri(flat, flat, flat);
    broken.tri(flat, flat, flat);
    QVector<SliceBar> badBars{SliceBar{broken.f.data(), broken.count(), 2.0f, 0}};
    try {
        SliceFaces(nullptr, 0, badBars, 0, 1000, 0.5f, 0.5f, 1.0f, 0.5f, layers);
        FAIL() << "no exception";
    } catch (const QString &e) {
        EXPECT_EQ(e, "FATAL error: paralelogramProcess() invalid input");
    }
}

// Large meshes are cut in chunks on several threads; every layer still gets
// its segments in triangle order, so the result is the same for any count.
TEST(SliceFaces, SameSegmentsForAnyThreadCount)
{
    Mesh m; // UV sphere, radius 10, 60,000 triangles, outward facing
    const int nu = 200, nv = 150;
    auto p = [&](int i, int j, float *o) {
        const double u = 2 * M_PI * i / nu, v = M_PI * j / nv;
        o[0] = float(10 * std::sin(v) * std::cos(u));
        o[1] = float(10 - 10 * std::cos(v));
        o[2] = float(-10 * std::sin(v) * std::sin(u));
    };
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            float a[3], b[3], c[3], d[3];
            p(i, j, a); p(i + 1, j, b); p(i + 1, j + 1, c); p(i, j + 1, d);
            m.tri(a, b, c);
            m.tri(a, c, d);
        }
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    QVector<SliceLayer> ref;
    cut(m, ref);
    ASSERT_EQ(ref.size(), 100);
    EXPECT_NEAR(windingArea(ref[50].segs), M_PI * 100, 1.0); // closed, inside +1
    for (int threads : {2, 3}) {
        omp_set_num_threads(threads);
        QVector<SliceLayer> got;
        cut(m, got);
        ASSERT_EQ(got.size(), ref.size());
        for (int j = 0; j < ref.size(); ++j) {
            ASSERT_EQ(got[j].segs.size(), ref[j].segs.size()) << threads << " " << j;
            EXPECT_EQ(std::memcmp(got[j].segs.constData(), ref[j].segs.constData(),
                                  sizeof(Segment) * size_t(ref[j].segs.size())), 0) << threads << " " << j;
        }
    }
    omp_set_num_threads(saved);
}

// The box is also taken in chunks on several threads; it must be the box of
// one pass in triangle order (the first of equal values wins, so which zero
// is kept shows), non-finite triangles left out.
TEST(SliceFaces, BoxIsOnePassForAnyThreadCount)
{
    std::mt19937 rng(5);
    for (float sign : {1.0f, -1.0f}) {
        const float values[] = {0.0f, -0.0f, sign, 2 * sign, 0.5f * sign};
        Mesh m;
        for (int i = 0; i < 60000; ++i) {
            float c[9];
            for (float &v : c)
                v = values[rng() % 5];
            if (i % 1000 == 999)
                c[rng() % 9] = (i & 1000) ? NAN : -INFINITY;
            m.tri(c, c + 3, c + 6);
        }
        float want[6];
        bool any = false;
        for (int i = 0; i < m.count(); ++i) {
            const float *t = m.f.data() + 12 * i;
            if (!std::all_of(t, t + 9, [](float v) { return std::isfinite(v); }))
                continue;
            for (int k = 0; k < 3; ++k) {
                for (int c = 0; c < 3; ++c) {
                    const float v = t[3 * k + c];
                    if (!any || v < want[c]) want[c] = v;
                    if (!any || v > want[c + 3]) want[c + 3] = v;
                }
                any = true;
            }
        }
        const int saved = omp_get_max_threads();
        for (int threads : {1, 2, 3}) {
            omp_set_num_threads(threads);
            QVector<SliceLayer> layers;
            const SliceFrame fr = cut(m, layers);
            EXPECT_EQ(std::memcmp(fr.box, want, sizeof want), 0) << sign << " " << threads;
        }
        omp_set_num_threads(saved);
    }
}

// The cut skips a triangle whose height span meets no plane before looking
// at its edges. This is the cut that looks at every edge, kept to show that
// the skip never loses a crossing.
static QVector<Segments> edgeByEdgeCut(const Mesh &m, float zmin, float lh, float flh, int n)
{
    const float shift = (flh - lh) / lh, f0 = 0.5f - 0.5f * (flh / lh);
    auto units = [&](float y) { return (y - zmin) / lh - 0.5f - shift; };
    auto at = [&](int j) { return j == 0 ? f0 : float(j); };
    QVector<Segments> out(n);
    std::vector<float> rx(static_cast<size_t>(n)), rz(rx), fx(rx), fz(rx);
    for (int i = 0; i < m.count(); ++i) {
        const float *v[3] = {&m.f[size_t(12 * i)], &m.f[size_t(12 * i + 3)], &m.f[size_t(12 * i + 6)]};
        int first = n, last = -1;
        for (int e = 0; e < 3; ++e) {
            const float *s = v[e], *t = v[(e + 1) % 3];
            const bool rises = s[1] <= t[1];
            const float *a = rises ? s : t, *b = rises ? t : s;
            const float fa = units(a[1]), fb = units(b[1]);
            if (fb <= fa)
                continue;
            float l = std::max(std::ceil(fa), 1.0f), h = std::min(std::floor(fb), float(n - 1));
            const bool zero = fa <= f0 && f0 <= fb;
            if (zero)
                l = 0;
            else if (!(l <= h))
                continue;
            if (zero && !(1.0f <= h))
                h = 0;
            const float inv = 1.0f / (fb - fa), dx = b[0] - a[0], dz = b[2] - a[2];
            for (int j = int(l); j <= int(h); ++j) {
                const float tt = (at(j) - fa) * inv;
                (rises ? rx : fx)[size_t(j)] = a[0] + tt * dx;
                (rises ? rz : fz)[size_t(j)] = a[2] + tt * dz;
            }
            first = std::min(first, int(l));
            last = std::max(last, int(h));
        }
        for (int j = first; j <= last; ++j)
            out[j].append(Segment{fx[size_t(j)], fz[size_t(j)], rx[size_t(j)], rz[size_t(j)]});
    }
    return out;
}

TEST(SliceFaces, SkippingTrianglesBetweenPlanesLosesNoCrossing)
{
    std::mt19937 rng(11);
    struct Heights { float lh, flh; };
    for (const Heights hs : {Heights{0.2f, 0.2f}, Heights{0.2f, 0.3f}, Heights{0.25f, 0.1f}}) {
        Mesh m;
        m.box(-5, 0, -5, 5, 6, 5); // a real closed part among the soup
        // Corners on planes, just off them, sharing heights (flat edges and
        // flat triangles) and small triangles between two planes.
        std::uniform_real_distribution<float> xz(-10, 10);
        for (int i = 0; i < 3000; ++i) {
            auto y = [&] {
                const int j = int(rng() % 30);
                switch (rng() % 4) {
                case 0: return hs.flh + (float(j) - 0.5f) * hs.lh;            // near a plane
                case 1: return std::nextafter(float(j) * hs.lh, 100.0f);       // just above a layer border
                case 2: return float(j) * hs.lh + 0.01f * float(rng() % 10);   // between planes
                default: return std::uniform_real_distribution<float>(0, 6)(rng);
                }
            };
            const float y0 = y();
            float a[3] = {xz(rng), y0, xz(rng)}, b[3] = {xz(rng), rng() % 3 ? y() : y0, xz(rng)},
                  c[3] = {xz(rng), rng() % 3 ? y() : y0, xz(rng)};
            m.tri(a, b, c);
        }
        // A corner far above the job's top: layer units beyond 2^23, where
        // every float is whole.
        const float far[3] = {1, 3e8f, 2}, low[3] = {0, 0.5f, 1}, side[3] = {2, 1.7f, 0};
        m.tri(low, far, side);
        QVector<SliceLayer> layers;
        const SliceFrame fr = cut(m, layers, hs.lh, hs.flh);
        const QVector<Segments> want = edgeByEdgeCut(m, fr.zmin, hs.lh, hs.flh, layers.size());
        int total = 0;
        for (int j = 0; j < layers.size(); ++j) {
            ASSERT_EQ(layers[j].segs.size(), want[j].size()) << hs.flh << " " << j;
            EXPECT_EQ(std::memcmp(layers[j].segs.constData(), want[j].constData(), sizeof(Segment) * size_t(want[j].size())), 0)
                << hs.flh << " " << j;
            total += want[j].size();
        }
        EXPECT_GT(total, 3000);
    }
}

TEST(SupportBarMesh, CutterSeesTheSquareSection)
{
    // The cross-section cutter completes triangle 4g + 1 of each group to the
    // side face: every layer through the bar gets the four sides of its square.
    Project p;
    p.freeHandBar({1, 5, 2}, {1, 0, 2}, 2.0f);
    QVector<SliceLayer> layers;
    SliceFaces(p, 0, 100, 0.5f, 0.5f, 0.0f, 0.0f, layers);
    ASSERT_GE(layers.size(), 9);
    for (int j = 1; j < 9; ++j) {
        const Segments &s = layers[j].supportSegs;
        ASSERT_GE(s.size(), 4) << j;
        Box3 box;
        float length = 0;
        for (const Segment &g : s) {
            box.add({g.x0, 0, g.y0});
            box.add({g.x1, 0, g.y1});
            length += std::hypot(g.x1 - g.x0, g.y1 - g.y0);
        }
        EXPECT_FLOAT_EQ(box.min.x, 0) << j;
        EXPECT_FLOAT_EQ(box.max.x, 2) << j;
        EXPECT_FLOAT_EQ(box.min.z, 1) << j;
        EXPECT_FLOAT_EQ(box.max.z, 3) << j;
        EXPECT_FLOAT_EQ(length, 8) << j; // perimeter of the 2 mm square
    }
}
