// The vector offsetter inside a whole slicing job: what reaches the G-code.
#include "common/buildvolume.h"
#include "gcode/gcodesim.h"
#include "params/slicerparams.h"
#include "fixtures/meshes.h"
#include "scene/project.h"
#include "driver/slicer.h"

#include <gtest/gtest.h>
#include <QMap>
#include <cmath>

namespace {

// Closed box, outward facing, from (x0, 0, z0) to (x1, h, z1) in the scene.
void addBox(Project &prj, float x0, float z0, float x1, float z1, float h)
{
    Obj *o = prj.addObject(boxMesh(Vec3(x0, 0, z0), Vec3(x1, h, z1)), "box", false);
    o->moveBy(Vec3((x0 + x1) / 2, 0, (z0 + z1) / 2));
}

SlicerParams vectorParams()
{
    SlicerParams sp;
    sp.UseVectorOffseter = true;
    sp.SkirtEnable = false;
    return sp;
}

QByteArray slice(Project &prj, const SlicerParams &sp)
{
    BuildVolume bv;
    return sliceScene(&prj, &sp, &bv, {});
}

} // namespace

TEST(VectorSlice, CubePerimeterLiesOnTheExactInsetWithItsCorners)
{
    Project prj;
    addBox(prj, -10, -10, 10, 10, 20);
    const QByteArray gcode = slice(prj, vectorParams());
    GCodeSim sim;
    sim.load(gcode);
    ASSERT_FALSE(sim.parser().hasError()) << qPrintable(sim.parser().firstError());

    const BuildVolume bv;
    const MachineXY a = sceneToMachine(bv, -10, 10), b = sceneToMachine(bv, 10, -10);
    const float x0 = std::min(a.X, b.X) + 0.2f, x1 = std::max(a.X, b.X) - 0.2f;
    const float y0 = std::min(a.Y, b.Y) + 0.2f, y1 = std::max(a.Y, b.Y) - 0.2f;
    const std::vector<GCodeMove> &mv = sim.moves();
    const float corners[4][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    // Layer z -> bit set of the corners some move reaches: exactly, and within
    // the writer's seam (the loop starts a fiftieth of a mm past its first
    // vertex and stops short of it).
    QMap<float, int> cornersByZ, seamCornersByZ;
    int perimeterMoves = 0;
    for (size_t k = 1; k < mv.size(); ++k) {
        const GCodeMove &m = mv[k];
        for (int c = 0; c < 4; c++)
            if (std::hypot(m.x - corners[c][0], m.y - corners[c][1]) <= 0.01f)
                cornersByZ[m.z] |= 1 << c;
            else if (std::hypot(m.x - corners[c][0], m.y - corners[c][1]) <= 0.025f)
                seamCornersByZ[m.z] |= 1 << c;
        if (m.segType != Perimeter || !(m.e > mv[k - 1].e))
            continue;
        ++perimeterMoves;
        // On the inset square: on one of its sides, within its extent.
        const float off = std::min({std::fabs(m.x - x0), std::fabs(m.x - x1), std::fabs(m.y - y0), std::fabs(m.y - y1)});
        EXPECT_LE(off, 0.01f) << "line " << m.line;
        EXPECT_TRUE(m.x > x0 - 0.01f && m.x < x1 + 0.01f && m.y > y0 - 0.01f && m.y < y1 + 0.01f) << "line " << m.line;
    }
    EXPECT_GE(perimeterMoves, 100 * 4);
    ASSERT_EQ(cornersByZ.size(), 100); // 20 mm at 0.2 mm
    for (auto it = cornersByZ.cbegin(); it != cornersByZ.cend(); ++it) {
        const int exact = it.value(), seam = seamCornersByZ.value(it.key()) & ~exact;
        EXPECT_EQ(exact | seam, 15) << "z " << it.key();
        EXPECT_LE(seam & (seam - 1), 0) << "more than the seam corner is cut at z " << it.key();
    }
}

TEST(VectorSlice, ShellCountsAndNoHairs)
{
    // A block with a fin one extrusion width thick: the raster chain draws
    // the fin as a hair, the vector path never draws hairs. (A fin between
    // one and two widths keeps the perimeter's exact offset into it.)
    Project prj;
    addBox(prj, -8, -8, 8, 8, 2);
    addBox(prj, 8, -0.2f, 14, 0.2f, 2);
    struct Case {
        bool vector;
        int vshells;
        bool perimeters, loops, hairs;
    };
    const Case cases[] = {
        {true, 0, false, false, false},
        {true, 2, true, true, false},
        {false, 2, true, true, true},
    };
    for (const Case &c : cases) {
        SlicerParams sp = vectorParams();
        sp.UseVectorOffseter = c.vector;
        sp.VShellCnt = c.vshells;
        const QByteArray g = slice(prj, sp);
        EXPECT_EQ(g.count(";segType:Perimeter") > 0, c.perimeters) << c.vector << c.vshells;
        EXPECT_EQ(g.count(";segType:Loop") > 0, c.loops) << c.vector << c.vshells;
        EXPECT_EQ(g.count(";segType:OuterHair") + g.count(";segType:InnerHair") > 0, c.hairs)
            << c.vector << c.vshells;
        EXPECT_GT(g.count(";segType:Infill") + g.count(";segType:HShell"), 0) << c.vector << c.vshells;
    }
}
