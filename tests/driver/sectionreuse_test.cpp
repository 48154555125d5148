// A thread's offsetting reuses the result of the last section it offset when
// the next section is the same raster (a prism's layers): the reused result
// must be exactly the computed one, and only equal rasters may count as same.
#include "driver/cutlayers.h"
#include "driver/slicefaces.h"
#include "driver/stages.h"
#include "params/slicerparams.h"
#include "fixtures/meshes.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <random>

namespace {

Plane8 plane(int w, int h, uchar v)
{
    Plane8 p;
    p.setSize(QSize(w, h));
    std::fill(p.data, p.data + size_t(w) * h, v);
    return p;
}

bool samePaths(const PathList &a, const PathList &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (a[i].pts != b[i].pts || a[i].w != b[i].w || a[i].type != b[i].type || a[i].closed != b[i].closed)
            return false;
    return true;
}

} // namespace

TEST(SectionReuse, SameSectionMeansSamePixels)
{
    // A section with a mixed block, and copies changed in a mixed block, in
    // a uniform block (its summary changes), and in size.
    Plane8 a = plane(64, 48, 0);
    for (int y = 16; y < 40; ++y)
        for (int x = 8; x < 40; ++x)
            a.data[y * 64 + x] = 255;
    a.data[20 * 64 + 8] = 77;
    const Plane8 as = a.blockSummary();
    struct Case {
        const char *name;
        int x, y, value;  // changed pixel (x < 0: none)
        bool same;
    } cases[] = {{"copy", -1, 0, 0, true},
                 {"mixed block byte", 9, 21, 254, false},
                 {"edge pixel level", 8, 20, 78, false},
                 {"uniform block", 60, 2, 1, false}};
    for (const Case &c : cases) {
        Plane8 b = a;
        if (c.x >= 0)
            b.data[c.y * 64 + c.x] = uchar(c.value);
        EXPECT_EQ(sameSection(a, as, b, b.blockSummary()), c.same) << c.name;
        EXPECT_EQ(sameSection(b, b.blockSummary(), a, as), c.same) << c.name;
        // The kept (compact) section answers as the whole plane does.
        LastSection kept;
        keepSection(b, b.blockSummary(), kept);
        EXPECT_EQ(sameSection(a, as, kept), c.same) << c.name;
        keepSection(a, as, kept);
        EXPECT_EQ(sameSection(b, b.blockSummary(), kept), c.same) << c.name;
    }
    const Plane8 wider = plane(80, 48, 0);
    EXPECT_FALSE(sameSection(a, as, wider, wider.blockSummary()));
    LastSection kept;
    keepSection(wider, wider.blockSummary(), kept);
    EXPECT_FALSE(sameSection(a, as, kept));
    EXPECT_FALSE(sameSection(a, as, LastSection()));
}

TEST(SectionReuse, KeptSectionMatchesWholePlaneOnRandomPlanes)
{
    // Random sections of a few levels (uniform and mixed blocks), each
    // against a changed copy: the compact comparison agrees with the
    // whole-plane one, and a kept section's memory follows its mixed blocks.
    std::mt19937 rng(19);
    for (int round = 0; round < 200; ++round) {
        Plane8 a = plane(96, 64, 0);
        for (int by = 0; by < 4; ++by)
            for (int bx = 0; bx < 6; ++bx) {
                const int kind = int(rng() % 3);
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x)
                        a.data[(by * 16 + y) * 96 + bx * 16 + x] =
                            kind == 0 ? 0 : kind == 1 ? 255 : uchar(rng() % 3 == 0 ? rng() % 256 : 255);
            }
        Plane8 b = a;
        if (round % 4) {
            const int x = int(rng() % 96), y = int(rng() % 64);
            b.data[y * 96 + x] = uchar(rng() % 256);
        }
        const Plane8 as = a.blockSummary(), bs = b.blockSummary();
        LastSection kept;
        keepSection(b, bs, kept);
        EXPECT_EQ(sameSection(a, as, kept), sameSection(a, as, b, bs)) << round;
        size_t mixed = 0;
        for (int i = 0; i < bs.width * bs.height; ++i)
            mixed += bs.data[i] != 0 && bs.data[i] != 255;
        EXPECT_EQ(kept.mixed.size(), mixed * 256) << round;
    }
}

TEST(SectionReuse, ReusedLayersEqualComputedOnes)
{
    // A prism (equal sections layer after layer) under a pyramid-like stack
    // of shrinking boxes (sections that change), cut in runs as the driver
    // does, on one and two threads, against every layer offset on its own.
    QVector<Triangle> tris = boxMesh(Vec3(0, 0, 0), Vec3(12, 2, 9)).tris;
    tris += boxMesh(Vec3(1, 2, 1), Vec3(11, 2.6f, 8)).tris;
    tris += boxMesh(Vec3(2, 2.6f, 2), Vec3(10, 3, 7)).tris;
    QVector<SliceLayer> layers;
    const SliceFrame fr = SliceFaces(reinterpret_cast<const float *>(tris.constData()), tris.size(), {}, 0, 1000,
                                     0.2f, 0.2f, 0, 0.5f, layers);
    const LayerGrid grid = layerGrid(fr.rect, 0.4f);
    const SlicerParams sp;
    ASSERT_GE(layers.size(), 14);

    QVector<CutLayer> want;
    for (int i = 0; i < layers.size(); ++i) {
        QVector<SliceLayer> one = layers;
        CutState fresh;
        want += cutAndOffsetLayers(grid, sp, one, i, 1, fresh);
    }
    const int saved = omp_get_max_threads();
    for (int threads : {1, 2}) {
        omp_set_num_threads(threads);
        QVector<SliceLayer> work = layers;
        CutState state;
        QVector<CutLayer> got;
        for (int first = 0; first < work.size(); first += 4)
            got += cutAndOffsetLayers(grid, sp, work, first, std::min(4, work.size() - first), state);
        ASSERT_EQ(got.size(), want.size());
        for (int i = 0; i < got.size(); ++i) {
            EXPECT_TRUE(got[i].mask == want[i].mask) << threads << " " << i;
            EXPECT_TRUE(got[i].inner == want[i].inner) << threads << " " << i;
            EXPECT_TRUE(samePaths(got[i].outlines, want[i].outlines)) << threads << " " << i;
            EXPECT_TRUE(samePaths(got[i].hairs, want[i].hairs)) << threads << " " << i;
        }
        // The prism's layers were offset once per thread, the rest reused.
        EXPECT_FALSE(got[5].outlines.isEmpty());

        // As the driver runs it: each run gets the planes of the run before
        // back, which hold the inner regions its ring gave up (a plane named
        // as this layer's result is not copied again).
        QVector<SliceLayer> work2 = layers;
        CutState state2;
        QVector<CutLayer> cuts;
        QVector<Plane1> ring(4);
        QVector<quint64> ringIds(4, 0);
        for (int first = 0; first < work2.size(); first += 3) {
            cuts = cutAndOffsetLayers(grid, sp, work2, first, std::min(3, work2.size() - first), state2,
                                      std::move(cuts));
            for (int k = 0; k < cuts.size(); ++k) {
                const int L = first + k;
                std::swap(ring[L % 4], cuts[k].inner);
                std::swap(ringIds[L % 4], cuts[k].innerId);
                EXPECT_TRUE(ring[L % 4] == want[L].inner) << threads << " recycled " << L;
            }
        }
    }
    omp_set_num_threads(saved);
}
