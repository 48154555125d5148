// The layer cut the driver and `tessavo-cli layers` share: fill rule,
// check and repair over whole meshes.
#include "driver/cutlayers.h"
#include "driver/slicefaces.h"
#include "params/slicerparams.h"
#include "scene/project.h"
#include "fixtures/meshes.h"

#include <gtest/gtest.h>
#include <cmath>
#include <omp.h>
#include <vector>

namespace {

// The triangles of several meshes in one list, as SliceFaces reads them.
QVector<Triangle> soup(std::initializer_list<Faces> meshes)
{
    QVector<Triangle> t;
    for (const Faces &f : meshes)
        t += f.tris;
    return t;
}

QVector<SliceLayer> cutFaces(const QVector<Triangle> &tris, SliceFrame *frame = nullptr)
{
    QVector<SliceLayer> layers;
    const SliceFrame fr = SliceFaces(reinterpret_cast<const float *>(tris.constData()), tris.size(), {}, 0,
                                     1000, 0.2f, 0.2f, 0, 0.5f, layers);
    if (frame)
        *frame = fr;
    return layers;
}

SlicerParams withAlg(int alg)
{
    SlicerParams sp;
    sp.PolyFillerAlg = alg;
    return sp;
}

double insideArea(const LayerGrid &g, const CutLayer &c)
{
    long long n = 0;
    for (int y = 0; y < c.mask.height; ++y)
        for (int x = 0; x < c.mask.width; ++x)
            n += !c.mask.pixel(x, y);
    return double(n) * g.pitchX * g.pitchY;
}

// Area of layer 2 of the given meshes under a fill rule, and whether it needed repair.
double layerArea(const QVector<Triangle> &tris, int alg, bool *repaired)
{
    SliceFrame fr;
    QVector<SliceLayer> layers = cutFaces(tris, &fr);
    const LayerGrid grid = layerGrid(fr.rect, 0.4f);
    CutState state;
    const QVector<CutLayer> cuts = cutLayers(grid, withAlg(alg), layers, 0, layers.size(), state);
    *repaired = cuts[2].repaired;
    return insideArea(grid, cuts[2]);
}

} // namespace

TEST(LayerCut, FillRulesOnFacingAndOverlap)
{
    const Faces box = boxMesh(Vec3(0, 0, 0), Vec3(10, 2, 10));
    // Corners swapped on every axis: the same box, every triangle reversed.
    const QVector<Triangle> good = soup({box}), reversed = soup({boxMesh(Vec3(10, 2, 10), Vec3(0, 0, 0))}),
                            overlap = soup({box, boxMesh(Vec3(5, 0, 0), Vec3(15, 2, 10))}); // overlap 5 x 10
    struct Case { const QVector<Triangle> *tris; int alg; double area; };
    const Case cases[] = {
        {&good, 0, 100}, {&good, 1, 100}, {&good, 2, 100},
        {&reversed, 0, 100}, {&reversed, 1, 0}, {&reversed, 2, 100},
        {&overlap, 0, 150}, {&overlap, 1, 150}, {&overlap, 2, 100},
    };
    for (const Case &c : cases) {
        bool repaired = true;
        // Half-covered edge pixels count as inside: about half a sample per edge.
        EXPECT_NEAR(layerArea(*c.tris, c.alg, &repaired), c.area, c.area * 0.04 + 0.01)
            << "case " << (&c - cases);
        EXPECT_FALSE(repaired);
    }
}

TEST(LayerCut, OpenLayerIsRepairedAndFilled)
{
    // Without its +x wall every layer's outline is open on one side.
    const QVector<Triangle> open = soup({boxMesh(Vec3(0, 0, 0), Vec3(10, 2, 10), 1)});
    for (int alg : {0, 1, 2}) {
        bool repaired = false;
        const double a = layerArea(open, alg, &repaired);
        EXPECT_TRUE(repaired) << alg;
        // The gap along the wall is bridged by one straight segment.
        EXPECT_NEAR(a, 100, 4.5) << alg;
    }
}

// The rule's count runs on from one call to the next: 21 open layers cut
// one at a time, then a closed one that is repaired without a check.
TEST(LayerCut, AfterTwentyRepairsEveryLayerIsRepairedUnchecked)
{
    const Segments open{{0, 0, 5, 0}, {5, 0, 5, 5}}; // never closes
    const Segments closed{{0, 0, 5, 0}, {5, 0, 5, 5}, {5, 5, 0, 0}};
    QVector<SliceLayer> layers(22);
    for (int i = 0; i < 22; ++i) {
        layers[i].index = i;
        layers[i].segs = i < 21 ? open : closed;
    }
    const LayerGrid grid = layerGrid(Extents{0, 0, 5, 5}, 0.4f);
    CutState state;
    for (int i = 0; i < 22; ++i) {
        EXPECT_TRUE(cutLayers(grid, withAlg(0), layers, i, 1, state)[0].repaired) << i;
        EXPECT_EQ(state.repairCount, i + 1);
        EXPECT_EQ(layers[i].segs.size(), 3) << i; // open ones closed by one segment back to the start
    }
}

TEST(LayerCut, GridIsPaddedAlignedAndBounded)
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

// A real broken file: the cube with a corner cut off and left open, cut
// with the job's own SliceFaces arguments.
TEST(LayerCut, RealMeshWithOpenCornerIsRepairedLayerByLayer)
{
    Project prj;
    prj.addObject(QString(TESSAVO_TEST_DATA) + "/slicer/cube_missing_corner.stl", false);
    for (int alg : {0, 1, 2}) {
        const SlicerParams sp = withAlg(alg);
        QVector<SliceLayer> layers;
        const SliceFrame fr = SliceFaces(prj, sp, layers);
        const LayerGrid grid = layerGrid(fr.rect, sp.ExtrusionWidth);
        CutState state;
        const QVector<CutLayer> cuts = cutLayers(grid, sp, layers, 0, layers.size(), state);
        int repaired = 0;
        double minArea = 1e9;
        for (int i = 0; i < cuts.size(); ++i) {
            repaired += cuts[i].repaired;
            if (i % 16 == 0)
                minArea = std::min(minArea, insideArea(grid, cuts[i]));
        }
        EXPECT_EQ(repaired, state.repairCount) << alg;
        EXPECT_GT(repaired, 0) << alg;
        EXPECT_LT(repaired, cuts.size()) << alg;
        EXPECT_GT(minArea, 0.8 * insideArea(grid, cuts.last())) << alg; // no layer lost
    }
}

// Cutting many layers at once on threads repairs the same layers and makes
// the same masks as cutting one layer after the other: here the first 12
// layers are closed and the 30 above open, so the rule switches to "repair
// without check" in the middle of a run; the follow-up sees every layer's
// final raster, also after a re-cut.
TEST(LayerCut, ParallelRunsMatchLayerAfterLayer)
{
    // The left box is open (+x wall left out) from 2.4 mm up; the right one is closed.
    const QVector<Triangle> tris = soup({boxMesh(Vec3(0, 2.4f, 0), Vec3(10, 8.4f, 10), 1),
                                         boxMesh(Vec3(20, 0, 0), Vec3(30, 8.4f, 10))});
    SliceFrame fr;
    const QVector<SliceLayer> layers = cutFaces(tris, &fr);
    const LayerGrid grid = layerGrid(fr.rect, 0.4f);
    const SlicerParams sp = withAlg(0);
    // What the follow-up saw of each layer: its final raster.
    auto keepRaster = [](std::vector<Plane8> &seen) {
        return [&seen](const SliceLayer &l, CutScratch &s, CutLayer &) { seen[l.index] = s.raster; };
    };

    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    QVector<SliceLayer> ref = layers;
    CutState refState;
    QVector<CutLayer> want;
    std::vector<Plane8> wantRasters(layers.size());
    for (int i = 0; i < ref.size(); ++i)
        want += cutLayers(grid, sp, ref, i, 1, refState, keepRaster(wantRasters));
    ASSERT_GT(refState.repairCount, 21);
    ASSERT_FALSE(want[0].repaired);

    for (int threads : {1, 2, 3}) {
        omp_set_num_threads(threads);
        for (int run : {5, 100}) {
            QVector<SliceLayer> work = layers;
            CutState state;
            QVector<CutLayer> got;
            std::vector<Plane8> rasters(layers.size());
            for (int first = 0; first < work.size(); first += run)
                got += cutLayers(grid, sp, work, first, std::min(run, work.size() - first), state,
                                 keepRaster(rasters));
            ASSERT_EQ(got.size(), want.size());
            EXPECT_EQ(state.repairCount, refState.repairCount);
            for (int i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].repaired, want[i].repaired) << threads << " " << run << " " << i;
                EXPECT_TRUE(got[i].mask == want[i].mask) << threads << " " << run << " " << i;
                EXPECT_TRUE(rasters[i] == wantRasters[i]) << threads << " " << run << " " << i;
                EXPECT_EQ(work[i].segs.size(), ref[i].segs.size()) << threads << " " << run << " " << i;
            }
        }
    }
    omp_set_num_threads(saved);
}

// Segments that cannot be placed (not finite, far outside the raster) never
// break a layer: the square still fills, under every rule, checked or not.
TEST(LayerCut, UnplaceableSegmentsAreSkipped)
{
    const Segments sq{{0, 0, 0, 4}, {0, 4, 4, 4}, {4, 4, 4, 0}, {4, 0, 0, 0}}; // inside +1
    const LayerGrid grid = layerGrid(Extents{0, 0, 4, 4}, 0.4f);
    for (int alg : {0, 1, 2})
        for (int repairsBefore : {0, 21}) {
            QVector<SliceLayer> layers(1);
            layers[0].segs = sq;
            layers[0].segs.append({NAN, 0, 1, 1});
            layers[0].segs.append({0, INFINITY, 1, 1});
            layers[0].segs.append({-1e30f, -1e30f, 1e30f, -1e30f});
            layers[0].segs.append({1e30f, 1e30f, 1e30f, -1e30f});
            CutState state;
            state.repairCount = repairsBefore;
            const QVector<CutLayer> cuts = cutLayers(grid, withAlg(alg), layers, 0, 1, state);
            EXPECT_NEAR(insideArea(grid, cuts[0]), 16.0, 1.0) << alg << " " << repairsBefore;
        }
}

// A failing follow-up fails the whole run with the lowest layer's message,
// whatever the thread that met it.
TEST(LayerCut, LowestFailingLayerIsReported)
{
    const QVector<Triangle> tris = soup({boxMesh(Vec3(0, 0, 0), Vec3(10, 4, 10))});
    SliceFrame fr;
    QVector<SliceLayer> layers = cutFaces(tris, &fr);
    const LayerGrid grid = layerGrid(fr.rect, 0.4f);
    CutState state;
    try {
        cutLayers(grid, withAlg(0), layers, 0, layers.size(), state, [](const SliceLayer &l, CutScratch &, CutLayer &) {
            if (l.index == 7 || l.index == 12)
                throw QString("layer %1").arg(l.index);
        });
        FAIL() << "no exception";
    } catch (const QString &e) {
        EXPECT_EQ(e, "layer 7");
    }
}
