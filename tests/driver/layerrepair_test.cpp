// The layer road: fill rule, check and repair over whole meshes.
#include "driver/layerraster.h"
#include "driver/slicefaces.h"
#include "raster/repairpolygons.h"
#include "scene/project.h"

#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <omp.h>

namespace {

// Closed axis-aligned box, triangles counter-clockwise seen from outside
// (or all reversed), as 12 floats per triangle.
void addBox(std::vector<float> &f, float x0, float z0, float x1, float z1, float h, bool reversed,
            float y0 = 0)
{
    const float y1 = y0 + h;
    const float v[8][3] = {{x0, y0, z0}, {x1, y0, z0}, {x1, y1, z0}, {x0, y1, z0},
                           {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}};
    const int q[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {3, 7, 6, 2}, {0, 4, 7, 3}, {1, 2, 6, 5}};
    for (auto &k : q)
        for (int t = 0; t < 2; ++t) {
            int tri[3] = {k[0], k[1 + t], k[2 + t]};
            if (reversed)
                std::swap(tri[1], tri[2]);
            for (int c : tri)
                f.insert(f.end(), v[c], v[c] + 3);
            f.insert(f.end(), {0, 0, 0});
        }
}

double insideArea(const LayerRasterizer &r)
{
    Plane1 mask;
    r.mask(mask);
    long long n = 0;
    for (int y = 0; y < mask.height; ++y)
        for (int x = 0; x < mask.width; ++x)
            n += !mask.pixel(x, y);
    return double(n) * r.grid().pitchX * r.grid().pitchY;
}

// Area of layer 2 of the given soup under a fill rule, and whether it needed repair.
double layerArea(const std::vector<float> &soup, int alg, bool *repaired = nullptr)
{
    QVector<SliceLayer> layers;
    const SliceFrame fr = SliceFaces(soup.data(), int(soup.size() / 12), {}, 0, 1000, 0.2f, 0.2f, 0, 0.5f, layers);
    LayerRasterizer r(layerGrid(fr.rect, 0.4f), alg);
    const bool rep = r.fill(layers[2].segs);
    if (repaired)
        *repaired = rep;
    return insideArea(r);
}

} // namespace

TEST(LayerRasterizer, FillRulesOnFacingAndOverlap)
{
    std::vector<float> good, reversed, overlap;
    addBox(good, 0, 0, 10, 10, 2, false);
    addBox(reversed, 0, 0, 10, 10, 2, true);
    addBox(overlap, 0, 0, 10, 10, 2, false);
    addBox(overlap, 5, 0, 15, 10, 2, false); // overlap 5 x 10
    struct Case { const std::vector<float> *soup; int alg; double area; };
    const Case cases[] = {
        {&good, 0, 100}, {&good, 1, 100}, {&good, 2, 100},
        {&reversed, 0, 100}, {&reversed, 1, 0}, {&reversed, 2, 100},
        {&overlap, 0, 150}, {&overlap, 1, 150}, {&overlap, 2, 100},
    };
    for (const Case &c : cases) {
        bool repaired = true;
        // Half-covered edge pixels count as inside: about half a sample per edge.
        EXPECT_NEAR(layerArea(*c.soup, c.alg, &repaired), c.area, c.area * 0.04 + 0.01)
            << "case " << (&c - cases);
        EXPECT_FALSE(repaired);
    }
}

TEST(LayerRasterizer, OpenLayerIsRepairedAndFilled)
{
    std::vector<float> soup;
    addBox(soup, 0, 0, 10, 10, 2, false);
    // Drop one triangle of the +x wall: layers get an open outline.
    const int wall = 5 * 2; // face {1, 2, 6, 5}, first triangle
    soup.erase(soup.begin() + 12 * wall, soup.begin() + 12 * (wall + 1));
    for (int alg : {0, 1, 2}) {
        bool repaired = false;
        const double a = layerArea(soup, alg, &repaired);
        EXPECT_TRUE(repaired) << alg;
        // The gap along the wall is bridged by one straight segment.
        EXPECT_NEAR(a, 100, 4.5) << alg;
    }
}

TEST(LayerRasterizer, AfterTwentyRepairsEveryLayerIsRepairedUnchecked)
{
    const Segments open{{0, 0, 5, 0}, {5, 0, 5, 5}}; // never closes
    const Segments closed{{0, 0, 5, 0}, {5, 0, 5, 5}, {5, 5, 0, 0}};
    LayerRasterizer r(layerGrid(Extents{0, 0, 5, 5}, 0.4f), 0);
    for (int i = 0; i < 21; ++i) {
        Segments s = open;
        EXPECT_TRUE(r.fill(s));
        EXPECT_EQ(s.size(), 3); // closed by one segment back to the start
    }
    EXPECT_EQ(r.repairCount(), 21);
    Segments s = closed;
    EXPECT_TRUE(r.fill(s)); // no check any more
    EXPECT_EQ(s.size(), 3);
    EXPECT_EQ(r.repairCount(), 22);
}

TEST(LayerRasterizer, GridIsPaddedAlignedAndBounded)
{
    const LayerGrid g = layerGrid(Extents{-5, -5, 5, 15}, 0.4f);
    EXPECT_EQ(g.width % 32, 0);
    EXPECT_EQ(g.height % 32, 0);
    // Pixels keep their nominal size (raster distances are counted in them);
    // the window around the padded scene grows evenly to the rounded grid.
    EXPECT_NEAR(g.pitchX, g.pixelSize, 1e-6);
    EXPECT_NEAR(g.pitchY, g.pixelSize, 1e-6);
    EXPECT_LE(g.originX, -5.4f);
    EXPECT_GE(g.originX + g.width * g.pitchX, 5.4f);
    EXPECT_LE(g.originY, -5.4f);
    EXPECT_GE(g.originY + g.height * g.pitchY, 15.4f);
    EXPECT_NEAR(g.originX + g.width * g.pitchX * 0.5f, 0.0f, 1e-4);
    EXPECT_NEAR(g.originY + g.height * g.pitchY * 0.5f, 5.0f, 1e-4);
    EXPECT_THROW(layerGrid(Extents{0, 0, 1e30f, 1}, 0.4f), QString);
    // Far out, the padded height rounds to 0 in float and the width alone
    // is beyond any int: refused, not converted.
    EXPECT_THROW(layerGrid(Extents{0, 1e15f, 1e14f, 1e15f}, 0.4f), QString);
    EXPECT_THROW(layerGrid(Extents{1e15f, 0, 1e15f, 1e14f}, 0.4f), QString);
    EXPECT_THROW(layerGrid(Extents{0, 0, 1, 1}, 0), QString);
    EXPECT_THROW(layerGrid(Extents{0, 0, 1, 1}, NAN), QString);
}

// A real broken file: the cube with a corner cut off and left open.
TEST(LayerRasterizer, RealMeshWithOpenCornerIsRepairedLayerByLayer)
{
    Project prj;
    prj.addObject(QString(TESSAVO_TEST_DATA) + "/slicer/cube_missing_corner.stl", false);
    QVector<SliceLayer> layers;
    const SliceFrame fr = SliceFaces(prj, 0, 1000, 0.2f, 0.2f, 0, 0.5f, layers);
    for (int alg : {0, 1, 2}) {
        LayerRasterizer r(layerGrid(fr.rect, 0.4f), alg);
        int repaired = 0;
        double minArea = 1e9;
        QVector<SliceLayer> work = layers;
        for (SliceLayer &l : work) {
            repaired += r.fill(l.segs);
            if (l.index % 16 == 0)
                minArea = std::min(minArea, insideArea(r));
        }
        EXPECT_GT(repaired, 0) << alg;
        EXPECT_LT(repaired, work.size()) << alg;
        EXPECT_GT(minArea, 0.8 * insideArea(r)) << alg; // no layer lost
    }
}

// The batch road repairs the same layers and makes the same rasters as the
// layer-after-layer one, for any thread count: here the first 12 layers
// are closed and the 30 above open, so the rule switches to "repair
// without check" in the middle of a batch.
TEST(LayerRasterizer, ParallelBatchesMatchLayerAfterLayer)
{
    std::vector<float> soup;
    addBox(soup, 0, 0, 10, 10, 6.0f, false, 2.4f);
    const int wall = 5 * 2;
    soup.erase(soup.begin() + 12 * wall, soup.begin() + 12 * (wall + 1)); // open from 2.4 up
    addBox(soup, 20, 0, 30, 10, 8.4f, false);
    QVector<SliceLayer> layers;
    const SliceFrame fr = SliceFaces(soup.data(), int(soup.size() / 12), {}, 0, 1000, 0.2f, 0.2f, 0, 0.5f, layers);
    const LayerGrid grid = layerGrid(fr.rect, 0.4f);

    LayerRasterizer seq(grid, 0);
    QVector<SliceLayer> ref = layers;
    std::vector<Plane8> refRasters;
    std::vector<bool> refRepaired;
    for (SliceLayer &l : ref) {
        refRepaired.push_back(seq.fill(l.segs));
        refRasters.push_back(seq.raster());
    }
    ASSERT_GT(seq.repairCount(), 21);
    ASSERT_FALSE(refRepaired[0]);

    const int saved = omp_get_max_threads();
    for (int threads : {1, 2, 3}) {
        omp_set_num_threads(threads);
        QVector<SliceLayer> work = layers;
        int next = 0;
        const int count = rasterizeLayers(work, grid, 0, [&](SliceLayer &l, const Plane8 &r, const Plane1 &mask, bool repaired) {
            Plane1 want;
            want.fromPlane8(refRasters[l.index], 128, true);
            EXPECT_TRUE(mask == want);
            ASSERT_EQ(l.index, next++);
            EXPECT_EQ(repaired, refRepaired[l.index]) << threads << " " << l.index;
            EXPECT_TRUE(r == refRasters[l.index]) << threads << " " << l.index;
            EXPECT_EQ(l.segs.size(), ref[l.index].segs.size());
        });
        EXPECT_EQ(count, seq.repairCount());
        EXPECT_EQ(next, layers.size());
    }
    omp_set_num_threads(saved);
}

// Segments that cannot be placed (not finite, far outside the raster) never
// break a layer: the square still fills, under every rule, checked or not.
TEST(LayerRasterizer, UnplaceableSegmentsAreSkipped)
{
    const Segments sq{{0, 0, 0, 4}, {0, 4, 4, 4}, {4, 4, 4, 0}, {4, 0, 0, 0}}; // inside +1
    for (int alg : {0, 1, 2}) {
        LayerRasterizer r(layerGrid(Extents{0, 0, 4, 4}, 0.4f), alg);
        Segments s = sq;
        s.append({NAN, 0, 1, 1});
        s.append({0, INFINITY, 1, 1});
        s.append({-1e30f, -1e30f, 1e30f, -1e30f});
        s.append({1e30f, 1e30f, 1e30f, -1e30f});
        r.fill(s);
        EXPECT_NEAR(insideArea(r), 16.0, 1.0) << alg;
    }
}
