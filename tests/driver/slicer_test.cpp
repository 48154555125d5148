// The slicing driver end to end: geometry and ordering invariants of the
// G-code, determinism over thread counts, the single-job guard, progress
// chunks and failures from the parallel stage.
#include "common/buildvolume.h"
#include "gcode/gcodesim.h"
#include "params/slicerparams.h"
#include "fixtures/meshes.h"
#include "scene/project.h"
#include "raster/paralell.h"
#include "driver/slicer.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <QRegularExpression>

namespace {

// Box, outward facing, from (x0, 0, z0) to (x1, h, z1) in the scene; the
// side face `open` (0 -x, 1 +x) is left out for a mesh that must be repaired.
void addBox(Project &prj, float x0, float z0, float x1, float z1, float h, int open = -1)
{
    Obj *o = prj.addObject(boxMesh(Vec3(x0, 0, z0), Vec3(x1, h, z1), open), "box", false);
    // addObject stands the mesh on the origin; put it back where asked.
    o->moveBy(Vec3((x0 + x1) / 2, 0, (z0 + z1) / 2));
}

void useThreads(int n)
{
    setCoresAndPriority(n, QThread::InheritPriority);
    omp_set_num_threads(n); // more threads than cores still splits the work
}

QList<int> layerNumbers(const QByteArray &gcode)
{
    QList<int> out;
    const QRegularExpression re("; Layer #(\\d+)\r\n");
    auto it = re.globalMatch(QString::fromLatin1(gcode));
    while (it.hasNext())
        out << it.next().captured(1).toInt();
    return out;
}

QByteArray slice(Project &prj, const SlicerParams &sp, const SliceProgress &progress = {})
{
    BuildVolume bv;
    return sliceScene(&prj, &sp, &bv, progress);
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override { useThreads(2); }
};

TEST_F(DriverTest, CubeLayersWallsAndFilament)
{
    Project prj;
    addBox(prj, -5, -5, 5, 5, 10);
    SlicerParams sp;
    sp.SkirtEnable = false;
    const QByteArray gcode = slice(prj, sp);

    // 10 mm at 0.2 mm: 50 layers, each once, ascending.
    QList<int> expected;
    for (int i = 0; i < 50; ++i)
        expected << i;
    EXPECT_EQ(layerNumbers(gcode), expected);

    GCodeSim sim;
    sim.load(gcode);
    ASSERT_TRUE(sim.rejected().isEmpty());
    ASSERT_FALSE(sim.parser().hasError()) << qPrintable(sim.parser().firstError());
    const BuildVolume bv;
    const MachineXY lo = sceneToMachine(bv, -5, 5), hi = sceneToMachine(bv, 5, -5);
    const std::vector<GCodeMove> &mv = sim.moves();
    int extruding = 0, perimeterPts = 0;
    float maxZ = 0;
    double fil = 0; // E of the moves that draw (primes and layer resets left out)
    for (size_t k = 1; k < mv.size(); ++k) {
        if (!(mv[k].e > mv[k - 1].e) || (mv[k].x == mv[k - 1].x && mv[k].y == mv[k - 1].y))
            continue;
        ++extruding;
        fil += mv[k].e - mv[k - 1].e;
        maxZ = std::max(maxZ, mv[k].z);
        // Every extrusion lies inside the outline, at least a third of a
        // width in (its bead then ends within the wall).
        const float inset = std::min({mv[k].x - lo.X, hi.X - mv[k].x, mv[k].y - lo.Y, hi.Y - mv[k].y});
        EXPECT_GT(inset, 0.12f) << "line " << mv[k].line;
        if (mv[k].segType == Perimeter) {
            ++perimeterPts;
            // The outer wall's centre is about half a width inside.
            EXPECT_LT(inset, 0.3f) << "line " << mv[k].line;
        }
    }
    EXPECT_GT(extruding, 1000);
    EXPECT_GE(perimeterPts, 50 * 4);  // four sides a layer at least
    EXPECT_NEAR(maxZ, 10.0f, 0.01f);

    // Filament volume: walls, 3 + 3 solid layers and 10 % infill of a
    // 1000 mm3 cube come to roughly half of it.
    const double volume = fil * 3.14159265 * 0.875 * 0.875;
    EXPECT_GT(volume, 300.0);
    EXPECT_LT(volume, 900.0);
}

TEST_F(DriverTest, SameBytesForAnyThreadCountAndEveryStartPosition)
{
    Project prj;
    addBox(prj, -9, -4, -1, 4, 3);
    addBox(prj, 2, -3, 8, 5, 2.2f);
    // Open on one side, 24 layers tall: after more than 20 repaired layers
    // every later layer is repaired too, whichever chunk of layers a thread
    // count cuts together.
    addBox(prj, -9, 6, -3, 12, 2.5f, 0);
    prj.freeHandBar(Vec3(0, 2.5f, 8), Vec3(0, 0, 8), 1.0f);
    for (int pos = 0; pos <= 6; ++pos) {
        SlicerParams sp;
        sp.LayerStartPos = pos;
        sp.LayerHeight = 0.1f;
        sp.InfillType = 2;
        QByteArray first;
        for (int threads : {1, 2, 4, 2}) {
            useThreads(threads);
            const QByteArray g = slice(prj, sp);
            if (first.isEmpty()) {
                first = g;
                EXPECT_GT(g.count(";segType:Support"), 0) << "LayerStartPos " << pos;
            } else {
                EXPECT_TRUE(g == first) << "LayerStartPos " << pos << ", " << threads << " threads";
            }
        }
    }
}

TEST_F(DriverTest, SameBytesForAnyThreadCountOnAWideFootprint)
{
    // Two small blocks 150 mm apart: the layer planes are large, so the
    // window of layers in flight is short (one layer per thread), unlike the small
    // footprints above; the bytes must not depend on it.
    Project prj;
    addBox(prj, -80, -80, -72, -72, 2.4f);
    addBox(prj, 70, 70, 80, 78, 1.6f);
    SlicerParams sp;
    sp.InfillType = 2;
    QByteArray first;
    for (int threads : {1, 2, 3}) {
        useThreads(threads);
        const QByteArray g = slice(prj, sp);
        if (first.isEmpty()) {
            first = g;
            EXPECT_EQ(layerNumbers(g).size(), 12);
        } else {
            EXPECT_TRUE(g == first) << threads << " threads";
        }
    }
}

TEST_F(DriverTest, SecondJobIsRefusedWhileOneRuns)
{
    Project prj;
    addBox(prj, -5, -5, 5, 5, 2);
    SlicerParams sp;
    QString refusal;
    int calls = 0;
    const QByteArray g = slice(prj, sp, [&](int, const QByteArray &) {
        if (calls++ == 0) {
            EXPECT_NE(Slicer::running(), nullptr);
            try {
                slice(prj, sp);
            } catch (const QString &e) {
                refusal = e;
            }
        }
    });
    EXPECT_EQ(refusal, "FATAL ERROR: Already slicing.");
    EXPECT_EQ(layerNumbers(g).size(), 10); // the running job went on untouched
    EXPECT_EQ(Slicer::running(), nullptr);
    EXPECT_EQ(slice(prj, sp), g); // and a later job runs
}

// How many reports come before the end depends on the machine's speed (they
// are throttled in time); the end is reported once, with the whole text.
TEST_F(DriverTest, TinyJobEndsProgressOnceWithTheWholeText)
{
    Project prj;
    addBox(prj, -3, -3, 3, 3, 0.6f);
    SlicerParams sp;
    QList<int> percents;
    QByteArray chunks;
    const QByteArray g = slice(prj, sp, [&](int p, const QByteArray &c) {
        percents << p;
        chunks += c;
    });
    ASSERT_FALSE(percents.isEmpty());
    EXPECT_EQ(percents.last(), 100);
    EXPECT_EQ(percents.count(100), 1);
    EXPECT_EQ(chunks, g);
}

TEST_F(DriverTest, ProgressChunksRebuildTheTextInOrder)
{
    Project prj;
    addBox(prj, -20, -20, 20, 20, 30);
    SlicerParams sp;
    QList<int> percents;
    QByteArray chunks;
    const QByteArray g = slice(prj, sp, [&](int p, const QByteArray &c) {
        percents << p;
        chunks += c;
    });
    EXPECT_EQ(chunks, g);
    ASSERT_FALSE(percents.isEmpty());
    EXPECT_EQ(percents.last(), 100);
    for (int k = 1; k < percents.size(); ++k)
        EXPECT_LE(percents[k - 1], percents[k]);
}

// Streamed, every batch arrives on its own as soon as it is written: the
// chunks are the whole text in order, and none is held back for the end.
TEST_F(DriverTest, StreamingHandsOutEveryBatchAndKeepsNothing)
{
    Project prj;
    addBox(prj, -20, -20, 20, 20, 30);
    SlicerParams sp;
    BuildVolume bv;
    const QByteArray whole = slice(prj, sp);
    QList<int> percents;
    QList<QByteArray> chunks;
    sliceSceneStreaming(&prj, &sp, &bv, [&](int p, const QByteArray &c) {
        percents << p;
        chunks << c;
    });
    EXPECT_EQ(chunks.join(), whole);
    ASSERT_FALSE(percents.isEmpty());
    EXPECT_EQ(percents.count(100), 1);
    EXPECT_EQ(percents.last(), 100);
    // 150 layers in batches of a few layers each.
    EXPECT_GE(chunks.size(), 150 / 16);
    EXPECT_FALSE(chunks.contains(QByteArray()));
}

// A preview shows the first layers while the rest is sliced: they are
// reported as soon as they are written, whatever the machine's speed.
TEST_F(DriverTest, FirstLayersAreReportedAtOnce)
{
    Project prj;
    addBox(prj, -10, -10, 10, 10, 30);
    SlicerParams sp;
    QList<int> percents;
    QList<QByteArray> chunks;
    const QByteArray g = slice(prj, sp, [&](int p, const QByteArray &c) {
        percents << p;
        chunks << c;
    });
    ASSERT_GE(percents.size(), 2);
    EXPECT_LT(percents.first(), 50);
    EXPECT_TRUE(g.startsWith(chunks.first()));
    EXPECT_TRUE(chunks.first().contains(";segType:"));
}

// The window's cancel throws from the progress callback, which runs while
// the other threads go on with later layers: the job ends with that
// exception, whatever the thread count, and the next job runs as usual.
TEST_F(DriverTest, AnExceptionFromTheProgressCallbackEndsTheJob)
{
    struct Stop {};
    Project prj;
    addBox(prj, -20, -20, 20, 20, 30);
    SlicerParams sp;
    const QByteArray whole = slice(prj, sp);
    for (int threads : {1, 2, 4}) {
        useThreads(threads);
        int calls = 0;
        try {
            slice(prj, sp, [&](int, const QByteArray &) {
                ++calls;
                throw Stop();
            });
            ADD_FAILURE() << threads << " threads: no exception";
        } catch (const Stop &) {
        }
        EXPECT_EQ(calls, 1) << threads << " threads";
        EXPECT_EQ(Slicer::running(), nullptr);
        EXPECT_TRUE(slice(prj, sp) == whole) << threads << " threads";
    }
}

TEST_F(DriverTest, ThinSceneAndZeroShellLayersStillSlice)
{
    struct Case {
        const char *name;
        float height;
        int hshellCnt;
        int layers;
    };
    for (const Case &c : {Case{"below FirstLayerHeight", 0.1f, 3, 1},
                          Case{"HShellCnt 0", 2.0f, 0, 10},
                          Case{"HShellCnt beyond the layer count", 1.0f, 100, 5}}) {
        Project prj;
        addBox(prj, -6, -6, 6, 6, c.height);
        SlicerParams sp;
        sp.HShellCnt = c.hshellCnt;
        sp.SkirtEnable = false;
        const QByteArray g = slice(prj, sp);
        EXPECT_EQ(layerNumbers(g).size(), c.layers) << c.name;
        EXPECT_GT(g.count(";segType:Perimeter"), 0) << c.name;
        // With nothing buried under HShellCnt layers, the inside is all shell.
        EXPECT_EQ(g.count(";segType:Infill"), 0) << c.name;
        EXPECT_GT(g.count(";segType:HShell"), 0) << c.name;
    }
}

TEST_F(DriverTest, FailuresBecomeMessagesAndFreeTheGuard)
{
    struct Case {
        const char *name;
        const char *set;
        const char *message;
        bool beforeSlicing; // refused before any layer is cut: no progress at all
    };
    for (const Case &c :
         {Case{"enumeration out of its list", "LayerStartPos=7",
               "Invalid parameter LayerStartPos: must be from 0 to 6 (is 7)", true},
          Case{"refused before slicing", "FilamentDiameter=0", "Invalid parameter FilamentDiameter",
               true}}) {
        Project prj;
        addBox(prj, -5, -5, 5, 5, 3);
        SlicerParams sp;
        sp.applyOverride(c.set);
        int calls = 0;
        try {
            slice(prj, sp, [&](int, const QByteArray &) { ++calls; });
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const QString &e) {
            EXPECT_TRUE(e.startsWith(c.message)) << c.name << ": " << qPrintable(e);
        }
        if (c.beforeSlicing) {
            EXPECT_EQ(calls, 0) << c.name;
        }
        EXPECT_EQ(Slicer::running(), nullptr) << c.name;
    }
}

} // namespace
