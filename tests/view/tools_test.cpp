// The view's tools driven by pointer events on a shown GlViewer: what a drag
// does to the scene, which undo entry it leaves, and that undoing it brings
// the project bytes back exactly.
#include "scene/fileops.h"
#include "scene/placement.h"
#include "scene/project.h"
#include "view/glviewer.h"
#include "fixtures/meshes.h"

#include <QApplication>
#include <QMouseEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// A prism along X whose underside slopes from the back wall's foot (z = 0,
// y = 0) up to the front top edge (z = 20, y = 20): an overhang facing down
// and toward the default camera.
Faces overhang()
{
    const Vec3 a0(-10, 0, 0), b0(-10, 20, 0), c0(-10, 20, 20);
    const Vec3 a1(10, 0, 0), b1(10, 20, 0), c1(10, 20, 20);
    Faces f;
    f.append(a0, c0, b0); // x = -10 end
    f.append(a1, b1, c1); // x = +10 end
    f.append(a0, b1, a1); // back wall z = 0
    f.append(a0, b0, b1);
    f.append(b0, c1, b1); // top y = 20
    f.append(b0, c0, c1);
    f.append(a0, c1, c0); // sloped underside
    f.append(a0, a1, c1);
    return f;
}

struct Scene {
    Project project;
    FileOps fileOps{".tvprj", "Tessavo project",
                    [this](int code, QByteArray &buf) {
                        if (code == FileOps::LoadSnapshot)
                            project.loadFromStr(buf, true);
                        else if (code == FileOps::SaveSnapshot)
                            buf = project.saveToStr(true);
                        else if (code == FileOps::SaveFull)
                            buf = project.saveToStr(false);
                        else
                            project.loadFile(buf);
                    },
                    nullptr};
    GlViewer view;

    Scene()
    {
        view.project = &project;
        view.tools().fileOps = &fileOps;
        view.resize(800, 600);
        view.show();
        QElapsedTimer t;
        t.start();
        while (!view.isVisible() && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_TRUE(view.isVisible());
        view.repaint();
    }
    QByteArray bytes() const { return project.saveToStr(false); }
    QPoint at(const Vec3 &p) const { return view.projectToScreen(QVector3D(p.x, p.y, p.z)).toPoint(); }

    void send(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons,
              Qt::KeyboardModifiers mods)
    {
        QMouseEvent e(type, pos, view.mapToGlobal(pos), button, buttons, mods);
        QApplication::sendEvent(&view, &e);
    }
    // Press at `from`, move in steps to `to` (repainting as a user would
    // see it), release there unless `release` is false.
    void drag(QPoint from, QPoint to, Qt::KeyboardModifiers mods = Qt::NoModifier, bool release = true)
    {
        send(QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton, mods);
        send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, mods);
        const int steps = 8;
        for (int i = 1; i <= steps; ++i) {
            send(QEvent::MouseMove, from + (to - from) * i / steps, Qt::NoButton, Qt::LeftButton, mods);
            view.repaint();
        }
        if (release)
            send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, mods);
    }
    void click(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier) { drag(p, p, mods); }

    QStringList labels() const
    {
        QStringList out;
        for (const FileOps::Entry &e : fileOps.undoList())
            out << e.description;
        return out;
    }
};

bool finiteTransform(const Obj &o)
{
    return std::all_of(o.transform.m, o.transform.m + 16, [](float v) { return std::isfinite(v); });
}

} // namespace

TEST(ViewTools, MoveDragWithShiftKeepsOneAxisAndUndoRestoresTheBytes)
{
    Scene s;
    Obj *o = s.project.addObject(boxMesh(Vec3(-10, 0, -10), Vec3(10, 20, 10)), "cube", false);
    s.view.setTool(EM_Move);
    const QByteArray before = s.bytes();
    const QPoint grab = s.at(Vec3(0, 20, 0));

    // Diagonal on screen, Shift held: only the dominant scene axis moves.
    s.drag(grab, grab + QPoint(90, 35), Qt::ShiftModifier);
    const Vec3 t = o->transform.translationPart();
    EXPECT_TRUE((t.x != 0) != (t.z != 0)) << t.x << " " << t.z;
    EXPECT_GT(std::fabs(t.x) + std::fabs(t.z), 5.0f);
    EXPECT_EQ(t.y, 0.0f);
    EXPECT_TRUE(o->selected); // the press selected it
    EXPECT_EQ(s.labels(), QStringList{"move"});
    s.fileOps.undo();
    EXPECT_EQ(s.bytes(), before);

    // Without Shift the same drag moves along both axes.
    s.drag(grab, grab + QPoint(90, 35));
    o = s.project.objs[0].get();
    EXPECT_NE(o->transform.m[12], 0.0f);
    EXPECT_NE(o->transform.m[14], 0.0f);
    s.fileOps.undo(); // back to the press: the object as it was, unselected
    EXPECT_EQ(s.bytes(), before);
    s.project.objs[0]->selected = true; // as the next press would select it
    const QByteArray start = s.bytes();

    // Esc in the middle of a drag, and a press released where it began,
    // leave neither a change nor an undo entry.
    s.drag(grab, grab + QPoint(60, 0), Qt::NoModifier, false);
    EXPECT_NE(s.project.objs[0]->transform.m[12], 0.0f);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&s.view, &esc);
    s.send(QEvent::MouseButtonRelease, grab + QPoint(60, 0), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    s.click(grab);
    EXPECT_EQ(s.bytes(), start);
    EXPECT_EQ(s.fileOps.undoList().size(), 0);
}

TEST(ViewTools, AltDragClonesSharingTheMeshAndUndoRemovesTheCopy)
{
    Scene s;
    Obj *o = s.project.addObject(boxMesh(Vec3(-10, 0, -10), Vec3(10, 20, 10)), "cube", true);
    s.fileOps.takeSnapshot();
    s.view.setTool(EM_Move);
    const QByteArray before = s.bytes();
    const Mat4 original = o->transform;

    s.drag(s.at(Vec3(0, 20, 0)), s.at(Vec3(0, 20, 0)) + QPoint(120, 0), Qt::AltModifier);
    ASSERT_EQ(s.project.objs.size(), 2u);
    Obj *a = s.project.objs[0].get(), *b = s.project.objs[1].get();
    EXPECT_EQ(a->mesh, b->mesh);
    EXPECT_EQ(s.project.cache.size(), 1);
    EXPECT_EQ(a->transform, original); // the original stays
    EXPECT_NE(b->transform, original);
    EXPECT_FALSE(a->selected);
    EXPECT_TRUE(b->selected);
    EXPECT_EQ(a->displayName, "cube(1)");
    EXPECT_EQ(b->displayName, "cube(2)");
    EXPECT_EQ(s.labels(), QStringList{"clone"});
    s.fileOps.undo();
    EXPECT_EQ(s.bytes(), before);

    // An Alt press released in place leaves no copy behind.
    s.click(s.at(Vec3(0, 20, 0)), Qt::AltModifier);
    EXPECT_EQ(s.project.objs.size(), 1u);
    EXPECT_EQ(s.bytes(), before);
}

TEST(ViewTools, RotateDragLandsOnTheSnapStep)
{
    Scene s;
    Obj *o = s.project.addObject(boxMesh(Vec3(-20, 0, -5), Vec3(20, 10, 5)), "bar", true);
    s.fileOps.takeSnapshot();
    s.view.setTool(EM_Rotate);
    s.view.tools().settings.angleSnapOn = true;
    s.view.tools().settings.angleSnap = 15;
    const QByteArray before = s.bytes();

    struct Case {
        Qt::KeyboardModifiers mods;
        double step;
    };
    for (const Case &c : {Case{Qt::NoModifier, 15}, Case{Qt::ShiftModifier, 0.0625}}) {
        // From the bar's right end toward the camera: a turn of some tens of degrees.
        s.drag(s.at(Vec3(18, 10, 0)), s.at(Vec3(10, 10, 14)), c.mods);
        const double angle = std::atan2(o->transform.at(0, 2), o->transform.at(0, 0)) * 180 / M_PI;
        EXPECT_GT(std::fabs(angle), 10.0);
        const double steps = angle / c.step;
        EXPECT_NEAR(steps, std::round(steps), 1e-3) << angle;
        EXPECT_NEAR(o->transform.at(1, 1), 1.0, 1e-6); // about the vertical only
        EXPECT_EQ(o->sceneBox().min.y, 0.0f);
        EXPECT_EQ(s.labels().last(), "rotate");
        s.fileOps.undo();
        o = s.project.objs[0].get();
        EXPECT_EQ(s.bytes(), before);
    }
}

TEST(ViewTools, DropPlaneLaysAMirroredScaledCubeOnTheClickedSideFace)
{
    Scene s;
    Obj *o = s.project.addObject(boxMesh(Vec3(-10, 0, -10), Vec3(10, 20, 10)), "cube", false);
    // Mirrored and stretched: picking and the face normal must follow what is drawn.
    o->transform = Mat4::scaling(Vec3(-1.5f, 1.0f, 1.2f));
    o->dropToBed();
    s.fileOps.takeSnapshot();
    const float det = o->transform.det3();
    s.view.setTool(EM_DropPlane);
    const QByteArray before = s.bytes();

    // The front face (+Z), hovered first: it lights up as one face of two triangles.
    const QPoint front = s.at(Vec3(0, 8, 12));
    s.send(QEvent::MouseMove, front, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    EXPECT_EQ(s.view.tools().highlightObject(), o);
    EXPECT_EQ(s.view.tools().highlightFace().size(), 2);
    s.click(front);

    EXPECT_NEAR(o->transform.det3(), det, std::fabs(det) * 1e-5);
    EXPECT_NEAR(o->sceneBox().min.y, 0.0f, 1e-4);
    // The face that was in front now faces the bed.
    const Vec3 n = o->transform.mapVector(Vec3(0, 0, 1));
    EXPECT_LT(n.y / std::sqrt(dot(n, n)), -0.9999f);
    EXPECT_EQ(s.labels(), QStringList{"dropPlane"});
    s.fileOps.undo();
    EXPECT_EQ(s.bytes(), before);
}

TEST(ViewTools, SupportClickUnderAnOverhangAddsOneBarAndCtrlClickRemovesIt)
{
    Scene s;
    s.project.addObject(overhang(), "wedge", false);
    s.fileOps.takeSnapshot();
    s.view.setTool(EM_Support);
    s.view.tools().settings.barSize = 2;
    const QByteArray empty = s.bytes();

    // Added with its bottom centre at the origin, the slope runs y = z + 10.
    s.click(s.at(Vec3(0, 10, 0)));
    ASSERT_EQ(s.project.bars.size(), 1);
    const SupportBar bar = s.project.bars[0];
    EXPECT_NEAR(bar.end.y, 0.0f, 1e-4);                       // down to the bed
    EXPECT_NEAR(bar.start.y, 10.0f - 0.1f, 0.5f);               // from just under the clicked point
    EXPECT_NEAR(bar.start.y + 0.1f, bar.start.z + 10.0f, 0.01f); // which lies on the slope
    EXPECT_EQ(bar.start.x, bar.end.x);
    EXPECT_EQ(bar.start.z, bar.end.z);
    EXPECT_EQ(s.labels(), QStringList{"SupportBar create"});
    const QByteArray withBar = s.bytes();

    // Ctrl + click on the bar's front takes it away.
    s.click(s.at(Vec3(bar.start.x, 4, bar.start.z + 1.0f)), Qt::ControlModifier);
    EXPECT_EQ(s.project.bars.size(), 0);
    EXPECT_EQ(s.labels(), (QStringList{"SupportBar create", "SupportBar remove"}));
    s.fileOps.undo();
    EXPECT_EQ(s.bytes(), withBar);
    s.fileOps.undo();
    EXPECT_EQ(s.bytes(), empty);

    // A click on the bed builds nothing and records nothing.
    s.click(s.at(Vec3(60, 0, 60)));
    EXPECT_EQ(s.project.bars.size(), 0);
    EXPECT_EQ(s.fileOps.undoList().size(), 0);
}

TEST(ViewTools, RectangleSelectsTheObjectsInsideShiftAddsCtrlToggles)
{
    Scene s;
    for (float x : {-60.0f, 0.0f, 60.0f}) {
        Obj *o = s.project.addObject(boxMesh(Vec3(-8, 0, -8), Vec3(8, 16, 8)), "b", false);
        o->moveBy(Vec3(x, 0, 0));
    }
    s.view.setTool(EM_Select);
    auto selected = [&] {
        QString out;
        for (const auto &o : s.project.objs)
            out += o->selected ? "1" : "0";
        return out;
    };
    const QPoint l = s.at(Vec3(-60, 8, 0)), m = s.at(Vec3(0, 8, 0)), r = s.at(Vec3(60, 8, 0));
    s.drag(l + QPoint(-40, -40), m + QPoint(40, 40));
    EXPECT_EQ(selected(), "110");
    s.drag(r + QPoint(-30, -30), r + QPoint(30, 30), Qt::ShiftModifier);
    EXPECT_EQ(selected(), "111");
    s.drag(m + QPoint(-30, -30), r + QPoint(30, 30), Qt::ControlModifier);
    EXPECT_EQ(selected(), "100");
    s.click(m);
    EXPECT_EQ(selected(), "010");
    // In an object tool a plain click on one of several selected objects
    // leaves it alone selected, without an edit.
    s.project.selectAll();
    s.view.setTool(EM_Move);
    s.click(r);
    EXPECT_EQ(selected(), "001");
    s.view.setTool(EM_Select);
    s.click(m + QPoint(0, 200)); // the empty bed
    EXPECT_EQ(selected(), "000");
    EXPECT_EQ(s.fileOps.undoList().size(), 0); // selecting is no edit
}

TEST(ViewTools, DegenerateMeshesNeverGetANonFiniteTransform)
{
    Scene s;
    Faces flat; // a single triangle, no volume
    flat.append(Vec3(-10, 0, -10), Vec3(10, 0, -10), Vec3(0, 0, 10));
    Faces point; // every corner in one spot
    point.append(Vec3(0, 0, 0), Vec3(0, 0, 0), Vec3(0, 0, 0));
    s.project.addObject(flat, "flat", false);
    Obj *p = s.project.addObject(point, "point", false);
    p->moveBy(Vec3(40, 0, 0));
    s.project.selectAll();
    const QPoint c = s.at(Vec3(0, 0, 0));
    for (int mode : {EM_Move, EM_Rotate, EM_Scale, EM_DropPlane}) {
        s.view.setTool(mode);
        for (auto mods : {Qt::NoModifier, Qt::ShiftModifier, Qt::AltModifier}) {
            s.drag(c, c + QPoint(150, -120), mods);
            s.drag(c, c + QPoint(-400, 500), mods);
        }
    }
    s.view.tools().scaleBy(Vec3(1e9f, 1e9f, 1e9f));
    s.view.tools().scaleBy(Vec3(NAN, 0, -1));
    s.view.tools().resetRotation();
    s.view.tools().realign();
    for (const auto &o : s.project.objs) {
        EXPECT_TRUE(finiteTransform(*o)) << o->name.toStdString();
        for (int j = 0; j < 3; ++j) {
            const Vec3 col(o->transform.m[4 * j], o->transform.m[4 * j + 1], o->transform.m[4 * j + 2]);
            EXPECT_LE(std::sqrt(dot(col, col)), placement::kMaxScale * 1.0001f);
        }
    }
}
