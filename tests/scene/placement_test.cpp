#include "fixtures/meshes.h"
#include "scene/placement.h"
#include "scene/project.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

float colLength(const Mat4 &m, int j)
{
    return std::sqrt(m.m[4 * j] * m.m[4 * j] + m.m[4 * j + 1] * m.m[4 * j + 1] + m.m[4 * j + 2] * m.m[4 * j + 2]);
}

bool finiteMat(const Mat4 &m)
{
    return std::all_of(m.m, m.m + 16, [](float v) { return std::isfinite(v); });
}

Obj *addBox(Project &p, const Vec3 &a, const Vec3 &b, const QString &name = "box")
{
    return p.addObject(boxMesh(a, b), name, false);
}

} // namespace

TEST(Placement, SnapStepFollowsTheCheckBoxShiftInvertsItAndTheValueIsClamped)
{
    struct Case {
        bool checked;
        float value;
        bool shift;
        float step;
    };
    const Case cases[] = {
        {true, 15, false, 15},        {true, 15, true, 0.0625f},  {false, 15, true, 15},
        {false, 15, false, 0.0625f},  {true, 0.001f, false, 0.01f}, {true, 500, false, 180},
        {true, -3, false, 0.01f},     {true, NAN, false, 180},
    };
    for (const Case &c : cases)
        EXPECT_EQ(placement::snapStep(c.checked, c.value, c.shift), c.step) << c.value << " " << c.checked << c.shift;
    EXPECT_EQ(placement::snapAngle(22.4f, 15), 15.0f);
    EXPECT_EQ(placement::snapAngle(-37.6f, 15), -45.0f);
    EXPECT_EQ(placement::snapAngle(0.1f, 0.0625f), 0.125f);
    EXPECT_EQ(placement::snapAngle(NAN, 15), 0.0f);
}

TEST(Placement, DragsStartFromTheSavedTransformAndStayInReach)
{
    Project p;
    Obj *a = addBox(p, Vec3(0, 0, 0), Vec3(10, 10, 10));
    Obj *b = addBox(p, Vec3(0, 0, 0), Vec3(10, 10, 10));
    a->selected = true;
    b->moveBy(Vec3(30, 0, 0));
    placement::beginDrag(p);
    const Mat4 bSaved = b->transform;

    // Many small steps of one drag end where one step to the same place does.
    for (int i = 1; i <= 1000; ++i)
        placement::rotateSelected(p, Vec3(0, 1, 0), 0.09f * float(i), Vec3(5, 0, 5));
    const Mat4 stepped = a->transform;
    placement::rotateSelected(p, Vec3(0, 1, 0), 90.0f, Vec3(5, 0, 5));
    EXPECT_EQ(a->transform, stepped);
    EXPECT_EQ(b->transform, bSaved); // unselected objects stay

    placement::moveSelected(p, Vec3(7, 0, -3));
    EXPECT_EQ(a->transform.translationPart(), Vec3(7, 0, -3));
    // Beyond reach: clamped, never NaN.
    const Vec3 d = placement::moveSelected(p, Vec3(1e20f, NAN, -INFINITY));
    EXPECT_EQ(d, Vec3(placement::kReach, 0, 0));
    EXPECT_EQ(a->transform.translationPart(), Vec3(placement::kReach, 0, 0));
    EXPECT_TRUE(placement::changedSinceSaved(p));
    placement::restoreSaved(p);
    EXPECT_FALSE(placement::changedSinceSaved(p));
}

TEST(Placement, ScaleIsClampedPerLocalAxisForPlainRotatedAndDegenerateMeshes)
{
    Project p;
    Obj *plain = addBox(p, Vec3(0, 0, 0), Vec3(10, 10, 10));
    Obj *turned = addBox(p, Vec3(0, 0, 0), Vec3(10, 10, 10));
    turned->transform = placement::rotationAbout(Vec3(1, 1, 0), 37) * Mat4::scaling(Vec3(2, 0.5f, 1));
    Faces zero;
    ASSERT_NO_THROW(zero.importFile(TESSAVO_TEST_DATA "/scene/zero_size_cube.stl"));
    Obj *flat = p.addObject(zero, "zero", false);
    p.selectAll();

    struct Case {
        Vec3 factors;
    };
    for (const Case &c : {Case{Vec3(1e9f, 1e9f, 1e9f)}, Case{Vec3(1e-9f, 1e-9f, 1e-9f)}, Case{Vec3(1, 1e12f, 1)},
                          Case{Vec3(NAN, -2, 0)}, Case{Vec3(INFINITY, 3, 3)}}) {
        placement::beginDrag(p);
        placement::scaleSelected(p, c.factors, Vec3(5, 0, 5));
        for (Obj *o : {plain, turned, flat}) {
            ASSERT_TRUE(finiteMat(o->transform));
            for (int j = 0; j < 3; ++j) {
                EXPECT_GE(colLength(o->transform, j), placement::kMinScale * 0.999f);
                EXPECT_LE(colLength(o->transform, j), placement::kMaxScale * 1.001f);
            }
        }
    }
    // A factor inside the limits is applied as asked.
    placement::beginDrag(p);
    p.selectNone();
    plain->selected = true;
    const Vec3 applied = placement::scaleSelected(p, Vec3(0.5f, 0.5f, 0.5f), Vec3(0, 0, 0));
    EXPECT_EQ(applied, Vec3(0.5f, 0.5f, 0.5f));
    EXPECT_FLOAT_EQ(colLength(plain->transform, 0), colLength(plain->savedTransform, 0) * 0.5f);
}

TEST(Placement, LayFaceDownTurnsEachFaceToTheBedKeepingTheDeterminant)
{
    Project p;
    Obj *o = addBox(p, Vec3(0, 0, 0), Vec3(20, 10, 30));
    const Mat4 start = Mat4::translation(Vec3(3, 40, -7)) * placement::rotationAbout(Vec3(0.3f, 1, -0.5f), 33) *
                       Mat4::scaling(Vec3(-1.2f, 0.8f, 1.5f));
    for (int tri = 0; tri < o->mesh->count(); tri += 2) {
        o->transform = start;
        const float det = o->transform.det3();
        const Vec3 n = placement::sceneNormal(*o, tri);
        ASSERT_TRUE(placement::layFaceDown(*o, n));
        EXPECT_NEAR(o->transform.det3(), det, std::fabs(det) * 1e-5f) << tri;
        EXPECT_NEAR(o->sceneBox().min.y, 0.0f, 1e-4f) << tri;
        const Vec3 after = placement::sceneNormal(*o, tri);
        EXPECT_NEAR(after.y, -1.0f, 1e-4f) << tri;
        // That face is now the lowest: all its corners on the bed.
        const Triangle &t = o->mesh->tris[tri];
        for (const Vec3 &c : {t.p, t.q, t.r})
            EXPECT_NEAR(o->transform.map(c).y, 0.0f, 1e-3f) << tri;
    }
    const Mat4 before = o->transform;
    EXPECT_FALSE(placement::layFaceDown(*o, Vec3(NAN, 0, 0)));
    EXPECT_FALSE(placement::layFaceDown(*o, Vec3(0, 0, 0)));
    EXPECT_EQ(o->transform, before);
}

TEST(Placement, CopiesShareTheMeshAndAreNumbered)
{
    Project p;
    Obj *a = addBox(p, Vec3(0, 0, 0), Vec3(10, 10, 10), "part");
    a->selected = true;
    const QList<Obj *> copies = placement::cloneSelected(p);
    ASSERT_EQ(copies.size(), 1);
    ASSERT_EQ(p.objs.size(), 2u);
    EXPECT_EQ(copies[0]->mesh, a->mesh);
    EXPECT_EQ(p.cache.size(), 1);
    EXPECT_FALSE(a->selected);
    EXPECT_TRUE(copies[0]->selected);
    EXPECT_EQ(a->displayName, "part(1)");
    EXPECT_EQ(copies[0]->displayName, "part(2)");
    placement::removeObjects(p, copies);
    ASSERT_EQ(p.objs.size(), 1u);
    EXPECT_EQ(a->displayName, "part");
}

TEST(Placement, ResetsKeepTheBottomCentreAndRealignLeavesNoOverlap)
{
    Project p;
    Obj *o = addBox(p, Vec3(0, 0, 0), Vec3(20, 10, 30));
    o->transform = Mat4::translation(Vec3(50, 0, 20)) * placement::rotationAbout(Vec3(1, 2, 3), 40) *
                   Mat4::scaling(Vec3(2, 2, 2));
    o->dropToBed();
    o->selected = true;
    const Box3 b0 = o->sceneBox();

    EXPECT_TRUE(placement::resetRotation(p));
    EXPECT_FALSE(placement::resetRotation(p)); // nothing left to reset
    for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(colLength(o->transform, j), 2.0f, 1e-5f);
    const Box3 b1 = o->sceneBox();
    EXPECT_NEAR(b1.center().x, b0.center().x, 1e-3f);
    EXPECT_NEAR(b1.center().z, b0.center().z, 1e-3f);
    EXPECT_NEAR(b1.min.y, 0.0f, 1e-4f);
    EXPECT_NEAR(b1.size().x, 40.0f, 1e-3f);

    EXPECT_TRUE(placement::resetScale(p));
    EXPECT_FALSE(placement::resetScale(p));
    EXPECT_NEAR(o->sceneBox().size().z, 30.0f, 1e-3f);
    EXPECT_NEAR(o->sceneBox().min.y, 0.0f, 1e-4f);

    // Realign: five boxes of 60 mm on a 150 mm bed make rows of two.
    Project q;
    for (int i = 0; i < 5; ++i) {
        Obj *x = addBox(q, Vec3(0, 0, 0), Vec3(60, 10, 40));
        x->moveBy(Vec3(float(i), float(5 * i), 0)); // overlapping and floating
    }
    EXPECT_TRUE(placement::realignAll(q, 150));
    for (size_t i = 0; i < q.objs.size(); ++i) {
        const Box3 bi = q.objs[i]->sceneBox();
        EXPECT_NEAR(bi.min.y, 0.0f, 1e-4f);
        for (size_t j = i + 1; j < q.objs.size(); ++j) {
            const Box3 bj = q.objs[j]->sceneBox();
            const bool apart = bi.max.x <= bj.min.x || bj.max.x <= bi.min.x || bi.max.z <= bj.min.z || bj.max.z <= bi.min.z;
            EXPECT_TRUE(apart) << i << " " << j;
        }
    }
    const Box3 all = q.objectsBox();
    EXPECT_LE(all.size().x, 150.0f);
    EXPECT_NEAR(all.center().x, 0.0f, 1e-3f);
    EXPECT_NEAR(all.center().z, 0.0f, 1e-3f);
    EXPECT_FALSE(placement::realignAll(q, 150)); // already laid out
}

TEST(Placement, CoplanarFaceGathersTheWholeSideOfATessellatedBox)
{
    const Faces box = tessellatedBox(30, 4); // 32 triangles per side
    for (int tri : {0, 40, 100, 191}) {
        const QVector<int> face = placement::coplanarFace(box, tri);
        EXPECT_EQ(face.size(), 32) << tri;
        EXPECT_EQ(face.first(), tri);
    }
    Faces degenerate;
    degenerate.append(Vec3(1, 1, 1), Vec3(1, 1, 1), Vec3(1, 1, 1));
    EXPECT_TRUE(placement::coplanarFace(degenerate, 0).isEmpty());
    EXPECT_TRUE(placement::coplanarFace(box, box.count()).isEmpty());
}
