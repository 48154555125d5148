#include "app/frmmain.h"
#include "common/ini.h"
#include "common/utils.h"
#include "view/btnsys.h"
#include "view/glviewer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include "fixtures/events.h"

#include <gtest/gtest.h>

namespace {
// Answers every message box that shows while alive with its default
// button, recording the texts and whether the main window was on screen.
struct BoxWatcher {
    QStringList texts;
    QList<bool> windowShown;
    QTimer poll;
    explicit BoxWatcher(const QWidget *window = nullptr)
    {
        QObject::connect(&poll, &QTimer::timeout, [this, window] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts << box->text();
                windowShown << (window && window->isVisible());
                box->done(QMessageBox::Ok);
            }
        });
        poll.start(30);
    }
};

void writeStl(const QString &path, int triangles = 1)
{
    QByteArray s = "solid t\n";
    for (int i = 0; i < triangles; ++i)
        s += QString("facet normal 0 0 1\nouter loop\nvertex %1 0 0\nvertex %2 0 0\nvertex %1 10 0\nendloop\nendfacet\n")
                 .arg(i * 20)
                 .arg(i * 20 + 10)
                 .toUtf8();
    writeFile(path, s + "endsolid t\n");
}

// A clean start: no first-start question, no project to reopen.
void freshStart()
{
    Ini::instance().setInt("askForCheckUpdates", 0);
    Ini::instance().setString("lastProject", "");
    Ini::instance().setInt("lastEditMode", 0);
    Ini::instance().setInt("lastObjEditMode", 0);
    QFile::remove(dataDir() + "_lastUnsavedProject.tvprj");
}

struct Window {
    FrmMain w;
    Window()
    {
        w.resize(1280, 800);
        w.show();
        QApplication::setActiveWindow(&w);
        runEvents(300, [this] { return w.viewer()->framesPainted > 0; });
    }
    ~Window() { w.fileOps().newDocument(false); }
    bool key(QWidget *receiver, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString &text = QString())
    {
        receiver->setFocus();
        QKeyEvent e(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(receiver, &e);
        return e.isAccepted();
    }
    QPoint centre(const QString &name)
    {
        Btn *b = w.btnSys().find(name);
        return b->rect(w.viewer()->width(), w.viewer()->height()).center();
    }
    void mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
    {
        QMouseEvent e(type, at, w.viewer()->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
        QApplication::sendEvent(w.viewer(), &e);
    }
    void click(QPoint down, QPoint up)
    {
        mouse(QEvent::MouseMove, down, Qt::NoButton);
        mouse(QEvent::MouseButtonPress, down, Qt::LeftButton);
        mouse(QEvent::MouseMove, up, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, up, Qt::NoButton);
    }
    int mode() const { return viewModeState().mode; }
    // Pages slide in over a few heartbeats; buttons are where they land.
    void settle()
    {
        runEvents(5000, [this] {
            for (const auto &g : w.btnSys().groups)
                if (g->visibility != g->target)
                    return false;
            return viewModeState().smooth == float(viewModeState().mode);
        });
    }
    void drag(QEvent::Type type, const QString &file, QPoint at = QPoint(640, 500))
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(file)});
        if (type == QEvent::DragLeave) {
            QDragLeaveEvent e;
            QApplication::sendEvent(&w, &e);
        } else if (type == QEvent::Drop) {
            QDropEvent e(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &e);
        } else if (type == QEvent::DragEnter) {
            QDragEnterEvent e(at, Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &e);
        } else {
            QDragMoveEvent e(at, Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &e);
        }
    }
};
} // namespace

TEST(Commands, KeysGoToFieldsOrToTheKeyboardMapByReceiverAndMode)
{
    freshStart();
    QTemporaryDir dir;
    const QString model = dir.path() + "/k.stl";
    writeStl(model);
    Window t;
    FrmMain &w = t.w;
    GlViewer *view = w.viewer();
    ASSERT_TRUE(w.openFile(model));
    const QString projectPath = dir.path() + "/k.tvprj";
    ASSERT_TRUE(w.fileOps().saveAs(projectPath));

    // A digit typed into a panel's spin box edits it and leaves the page.
    w.setEditMode(EM_Rotate);
    runEvents(50);
    auto *snap = w.findChild<QDoubleSpinBox *>("seAngleSnap");
    ASSERT_TRUE(snap && snap->isVisible());
    snap->selectAll();
    t.key(snap, Qt::Key_3, Qt::NoModifier, "3");
    EXPECT_EQ(snap->value(), 3.0);
    EXPECT_EQ(t.mode(), VM_Objects);
    // The same digit with the view focused switches the page.
    EXPECT_TRUE(t.key(view, Qt::Key_3, Qt::NoModifier, "3"));
    EXPECT_EQ(t.mode(), VM_GCode);
    EXPECT_EQ(view->editMode, EM_GCode);

    // Esc keeps the selection in G-code mode and clears it in an object mode.
    ASSERT_TRUE(w.project().objs[0]->selected);
    t.key(view, Qt::Key_Escape);
    EXPECT_TRUE(w.project().objs[0]->selected);
    // Ctrl+S in G-code mode is the G-code's, not the project's: the G-code's
    // save dialog opens (and is cancelled here).
    w.fileOps().record("edit");
    QString dialogTitle;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&dialogTitle] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            dialogTitle = d->windowTitle();
            d->reject();
        }
    });
    closer.start(20);
    EXPECT_TRUE(t.key(view, Qt::Key_S, Qt::ControlModifier));
    closer.stop();
    EXPECT_EQ(dialogTitle.toStdString(), "Save GCode");
    EXPECT_TRUE(w.fileOps().isChanged());
    EXPECT_TRUE(t.key(view, Qt::Key_1, Qt::NoModifier, "1"));
    EXPECT_EQ(view->editMode, EM_Rotate) << "back to the last object tool";
    t.key(view, Qt::Key_Escape);
    EXPECT_FALSE(w.project().objs[0]->selected);
    EXPECT_TRUE(t.key(view, Qt::Key_S, Qt::ControlModifier));
    EXPECT_FALSE(w.fileOps().isChanged()) << "saved";
    EXPECT_EQ(readFile(projectPath), w.project().saveToStr(false));

    // Left on the first page stays there and re-selects the last object tool.
    w.setEditMode(EM_Scale);
    t.key(view, Qt::Key_Left);
    EXPECT_EQ(t.mode(), VM_Objects);
    EXPECT_EQ(view->editMode, EM_Scale);
    EXPECT_TRUE(w.btnSys().find("Scale")->selected);
    t.key(view, Qt::Key_Right);
    EXPECT_EQ(t.mode(), VM_Support);
    EXPECT_EQ(view->editMode, EM_Support);

    // Keys the map does not know are not taken from anyone.
    EXPECT_FALSE(w.handleKeyPress("F7"));
    EXPECT_TRUE(w.handleKeyPress("Home"));
}

TEST(Commands, DrawnButtonsClickOnceAndOnlyWherePressed)
{
    freshStart();
    QTemporaryDir dir;
    const QString model = dir.path() + "/b.stl";
    writeStl(model);
    Window t;
    FrmMain &w = t.w;
    ASSERT_TRUE(w.openFile(model));
    ASSERT_TRUE(w.openFile(model));
    t.settle();
    ASSERT_EQ(w.fileOps().undoList().size(), 2);

    int undos = 0;
    Btn *undo = w.btnSys().find("Undo");
    auto original = undo->action;
    undo->action = [&] {
        ++undos;
        original();
    };
    t.click(t.centre("Undo"), t.centre("Undo"));
    EXPECT_EQ(undos, 1);
    EXPECT_EQ(w.fileOps().undoList().size(), 1);
    EXPECT_EQ(w.project().objs.size(), 1u);

    // Pressed on Undo, released on Redo: nothing.
    t.click(t.centre("Undo"), t.centre("Redo"));
    EXPECT_EQ(undos, 1);
    EXPECT_EQ(w.fileOps().redoList().size(), 1);

    // A drawn mode button switches the tool; the page buttons slide pages.
    t.click(t.centre("Move"), t.centre("Move"));
    EXPECT_EQ(w.viewer()->editMode, EM_Move);
    t.click(t.centre("Support"), t.centre("Support"));
    EXPECT_EQ(t.mode(), VM_Support);
    t.settle();
    t.click(t.centre("Objects"), t.centre("Objects"));
    EXPECT_EQ(t.mode(), VM_Objects);
    EXPECT_EQ(w.viewer()->editMode, EM_Move);
    t.settle();

    // "Remove" does nothing without a selection.
    w.selectNone();
    t.click(t.centre("Remove"), t.centre("Remove"));
    EXPECT_EQ(w.project().objs.size(), 1u);
    w.selectAll();
    t.click(t.centre("Remove"), t.centre("Remove"));
    EXPECT_EQ(w.project().objs.size(), 0u);
}

TEST(Commands, DragAndDrop)
{
    freshStart();
    QTemporaryDir dir;
    const QString model = dir.path() + "/d.stl";
    writeStl(model, 2);
    const QString gcode = dir.path() + "/part.ZCODE";
    writeFile(gcode, "G1 X1 Y1 E1\n");
    Window t;
    FrmMain &w = t.w;
    ASSERT_TRUE(w.openFile(model));
    w.selectNone();
    w.project().objs[0]->selected = true;
    const QByteArray before = w.project().saveToStr(false);
    const int undoBefore = w.fileOps().undoList().size();

    // In and out again: as it was.
    t.drag(QEvent::DragEnter, model, QPoint(300, 400));
    ASSERT_EQ(w.project().objs.size(), 2u);
    EXPECT_FALSE(w.project().objs[0]->selected) << "the dragged model is the selection";
    EXPECT_TRUE(w.project().objs[1]->selected);
    const Vec3 first = w.project().objs[1]->sceneBox().center();
    t.drag(QEvent::DragMove, model, QPoint(900, 500));
    const Vec3 moved = w.project().objs[1]->sceneBox().center();
    EXPECT_GT(std::fabs(moved.x - first.x) + std::fabs(moved.z - first.z), 1.0f) << "follows the pointer";
    EXPECT_NEAR(w.project().objs[1]->sceneBox().min.y, 0.0f, 1e-3f) << "stands on the bed";
    t.drag(QEvent::DragLeave, model);
    EXPECT_EQ(w.project().saveToStr(false), before);
    EXPECT_EQ(w.fileOps().undoList().size(), undoBefore);

    // Dropped: kept, one undo entry.
    t.drag(QEvent::DragEnter, model);
    t.drag(QEvent::Drop, model);
    EXPECT_EQ(w.project().objs.size(), 2u);
    ASSERT_EQ(w.fileOps().undoList().size(), undoBefore + 1);
    EXPECT_EQ(w.fileOps().undoList().back().description, "add(d)");

    // A G-code file (any case of its extension) opens the G-code page.
    t.drag(QEvent::DragEnter, gcode);
    t.drag(QEvent::Drop, gcode);
    EXPECT_EQ(t.mode(), VM_GCode);
    EXPECT_EQ(w.viewer()->editMode, EM_GCode);
    EXPECT_EQ(w.gcode(), readFile(gcode));
    EXPECT_EQ(w.gcodeTitle(), gcode);
    EXPECT_EQ(w.project().objs.size(), 2u);

    // However long its path, the G-code panel keeps its size and place.
    QString deep = dir.path();
    for (int i = 0; i < 6; ++i)
        deep += "/" + QString(200, QChar('a' + i));
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString far = deep + "/far.gcode";
    writeFile(far, "G1 X1 Y1 E1\n");
    BoxWatcher boxes;
    t.drag(QEvent::DragEnter, far);
    t.drag(QEvent::Drop, far);
    runEvents(300);
    EXPECT_EQ(w.gcodeTitle(), far);
    QWidget *panel = w.modePanel(EM_GCode);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_LE(panel->width(), 1024);
    EXPECT_TRUE(w.viewer()->rect().contains(panel->geometry()));
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("; ").toStdString();
}

TEST(Commands, MirrorAndExportRoundTrip)
{
    freshStart();
    QTemporaryDir dir;
    // A closed tetrahedron, so that a turned-inside-out export shows.
    const QString model = dir.path() + "/m.stl";
    Faces tetra;
    const Vec3 a(0, 0, 0), b(10, 0, 0), c(0, 10, 0), d(0, 0, 10);
    tetra.append(a, c, b);
    tetra.append(a, b, d);
    tetra.append(a, d, c);
    tetra.append(b, c, d);
    ASSERT_TRUE(tetra.orientationCheck());
    tetra.exportFile(model, true);
    Window t;
    FrmMain &w = t.w;
    ASSERT_TRUE(w.openFile(model));
    const Box3 box = w.project().objs[0]->sceneBox();
    w.mirror(0);
    const Mat4 &m = w.project().objs[0]->transform;
    EXPECT_LT(m.det3(), 0);
    const Box3 after = w.project().objs[0]->sceneBox();
    EXPECT_NEAR(after.min.x, box.min.x, 1e-4f) << "mirrored in place";
    EXPECT_EQ(w.fileOps().undoList().back().description, "mirror");
    try {
        w.mirror(3);
        ADD_FAILURE() << "no error";
    } catch (const char *e) {
        EXPECT_STREQ(e, "FrmMain::mirror() invalid axisId");
    }

    // Export answers the save dialog; the file reads back with the same
    // triangles, placed (and mirrored) as in the scene.
    QString title, filter;
    const QString out = dir.path() + "/exported"; // the extension is added
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto *dlg = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            title = dlg->windowTitle();
            filter = dlg->nameFilters().join(";;");
            dlg->selectFile(out);
            QMetaObject::invokeMethod(dlg, "accept");
        }
    });
    answer.start(30);
    w.exportMeshes();
    EXPECT_EQ(title.toStdString(), "Export object: m");
    EXPECT_EQ(filter.toStdString(), "STL(*.stl);;Wavefront OBJ(*.obj)");
    Faces back;
    EXPECT_FALSE(back.importFile(out + ".stl")) << "read back without turning it outward";
    EXPECT_EQ(back.count(), 4);
    const Box3 placed = w.project().objs[0]->sceneBox(), read = back.boundingBox();
    EXPECT_NEAR(read.min.x, placed.min.x, 1e-3f);
    EXPECT_NEAR(read.max.z, placed.max.z, 1e-3f);

    w.selectNone();
    title.clear();
    w.exportMeshes();
    EXPECT_EQ(title.toStdString(), "Export scene");
    answer.stop();

    // An empty scene has nothing to export.
    w.fileOps().newDocument(false);
    BoxWatcher boxes;
    w.exportMeshes();
    runEvents(500, [&boxes] { return !boxes.texts.isEmpty(); });
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts[0].toStdString(), "Nothing to export.");
}

TEST(Commands, MendedStartAndFileFaults)
{
    freshStart();
    QTemporaryDir dir;
    const QString model = dir.path() + "/arg.stl";
    writeStl(model);

    // The last unsaved scene comes back and the argument lands on top of it.
    {
        Project earlier;
        Faces mesh;
        mesh.append(Vec3(0, 0, 0), Vec3(5, 0, 0), Vec3(0, 5, 0));
        earlier.addObject(mesh, "earlier", false);
        QDir().mkpath(dataDir());
        writeFile(dataDir() + "_lastUnsavedProject.tvprj", earlier.saveToStr(false));
    }
    {
        FrmMain w(model);
        w.show();
        ASSERT_TRUE(runEvents(20000, [&w] { return w.project().objs.size() == 2; }));
        EXPECT_EQ(w.project().objs[0]->name, "earlier");
        EXPECT_EQ(w.project().objs[1]->name, "arg");
        EXPECT_EQ(w.fileOps().fileName(), "");
        w.fileOps().newDocument(false);
    }

    // A damaged last state and a bad argument are told once the window
    // shows; an empty project file is no project.
    writeFile(dataDir() + "_lastUnsavedProject.tvprj", QByteArray());
    {
        FrmMain w(dir.path() + "/missing.stl");
        BoxWatcher boxes(&w);
        w.show();
        ASSERT_TRUE(runEvents(20000, [&boxes] { return boxes.texts.size() == 2; }));
        EXPECT_EQ(boxes.texts[0].toStdString(), "EXCEPTION : Invalid file signature.");
        EXPECT_EQ(boxes.texts[1], "File not found: \"" + dir.path() + "/missing.stl\"");
        EXPECT_EQ(boxes.windowShown, QList<bool>({true, true}));
        EXPECT_TRUE(w.project().objs.empty());
    }
    QFile::remove(dataDir() + "_lastUnsavedProject.tvprj");

    // A termination request is not held back by that message box.
    {
        QProcess p;
        p.start(QString(TESSAVO_BINARY_DIR) + "/tessavo", {dir.path() + "/missing.stl"});
        ASSERT_TRUE(p.waitForStarted(5000));
        runEvents(3000); // the window shows, then the box
        ASSERT_EQ(p.state(), QProcess::Running);
        p.terminate();
        EXPECT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        if (p.state() != QProcess::NotRunning)
            p.kill();
    }

    // Files without triangles add nothing and say so.
    Window t;
    BoxWatcher boxes;
    for (const QByteArray &content : {QByteArray(), QByteArray("solid empty\nendsolid empty\n"),
                                      QByteArray("just some text\n")}) {
        const QString path = dir.path() + "/none.stl";
        writeFile(path, content);
        boxes.texts.clear();
        bool opened = true;
        try {
            opened = t.w.openFile(path);
        } catch (const QString &e) {
            boxes.texts << e; // the reader's own message for an empty file or junk
            opened = false;
        }
        EXPECT_FALSE(opened);
        runEvents(200, [&boxes] { return !boxes.texts.isEmpty(); });
        ASSERT_EQ(boxes.texts.size(), 1) << content.constData();
        if (content.startsWith("solid")) {
            EXPECT_EQ(boxes.texts[0].toStdString(), ("No triangles found in \"" + path + "\"").toStdString());
        }
        EXPECT_TRUE(t.w.project().objs.empty());
        EXPECT_TRUE(t.w.fileOps().undoList().isEmpty());
    }

    // An empty project file is no project.
    const QString empty = dir.path() + "/empty.tvprj";
    writeFile(empty, QByteArray());
    try {
        t.w.openFile(empty);
        ADD_FAILURE() << "no error";
    } catch (const QString &e) {
        EXPECT_EQ(e, "Invalid file signature.");
    }
    EXPECT_EQ(t.w.fileOps().fileName(), "");

    // --help and --version answer on standard output, without a window.
    for (const char *arg : {"--help", "--version"}) {
        QProcess p;
        p.start(QString(TESSAVO_BINARY_DIR) + "/tessavo", {arg});
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 0);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_TRUE(out.contains(arg == QString("--help") ? "Usage: tessavo" : "Tessavo 1.08 beta #10213")) << arg;
    }
}
