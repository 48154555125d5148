// The main window's commands: the on-screen button bars, the keyboard map,
// model import and export, mirroring, selection and drag and drop.
#include "app/frmmain.h"

#include "app/keyfilter.h"
#include "app/qmyapp.h"
#include "common/utils.h"
#include "view/btnsys.h"
#include "view/glviewer.h"

#include <QApplication>
#include <QDebug>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <cmath>

namespace {
// Cells of the icon sheet res/icons.png (drawn by scripts/make-icons.cpp).
enum Icon {
    IcNew, IcOpen, IcSave, IcSaveAs, IcExport, IcUndo, IcRedo, IcAdd,
    IcRemove, IcSelect, IcMove, IcRotate, IcScale, IcDropPlane, IcAutoDrop, IcSupport,
    IcSlice, IcOptions, IcObjects, IcGCode, IcStats, IcClear, IcLoad, IcPrint,
};

const QColor kFileColor(70, 88, 120);
const QColor kEditColor(64, 104, 92);
const QColor kModeColor(78, 84, 104);
const QColor kPageColor(104, 82, 120);
const QColor kSliceColor(150, 96, 50);

bool hasExt(const QString &path, const QString &list)
{
    for (const QString &ext : list.split('|'))
        if (path.endsWith(ext, Qt::CaseInsensitive))
            return true;
    return false;
}

QString gcodeExts()
{
    return QString(".gcode|.gco|.") + "z" + "code";
}

const char *const kModeNames[] = {"Select", "Move", "Rotate", "Scale", "Drop plane", "Support", "GCode"};
} // namespace

// ---------------------------------------------------------------- buttons

void FrmMain::buildButtons()
{
    m_btnSys.reset(new BtnSys);
    BtnSys &s = *m_btnSys;
    s.uiEnabled = &m_uiEnabled;
    auto anySelected = [this] { return m_project.anySelected(); };

    // Objects page.
    auto *g = new BtnGrp(&s, VM_Objects, 'l', 0, false);
    new Btn(g, "New Proj", IcNew, kFileColor, [this] { if (m_fileOps.newDocument(true)) setEditMode(m_viewer->lastObjEditMode); });
    new Btn(g, "Open", IcOpen, kFileColor, [this] { if (m_fileOps.open(QString(), true)) setEditMode(m_viewer->lastObjEditMode); });
    new Btn(g, "Save", IcSave, kFileColor, [this] { m_fileOps.save(); });
    new Btn(g, "SaveAs", IcSaveAs, kFileColor, [this] { m_fileOps.saveAs(QString()); });
    new Btn(g, "Export", IcExport, kFileColor, [this] { exportMeshes(); });

    g = new BtnGrp(&s, VM_Objects, 't', -5, false);
    new Btn(g, "Undo", IcUndo, kEditColor, [this] { undo(); });
    new Btn(g, "Redo", IcRedo, kEditColor, [this] { redo(); });

    g = new BtnGrp(&s, VM_Objects, 't', -2.5f, false);
    new Btn(g, "Add", IcAdd, kEditColor, [this] { addModelDialog(); });
    new Btn(g, "Remove", IcRemove, kEditColor, [this] { removeSelected(); }, anySelected);

    g = new BtnGrp(&s, VM_Objects, 't', 1.5f, true);
    const int modeIcons[] = {IcSelect, IcMove, IcRotate, IcScale, IcDropPlane};
    for (int mode = EM_Select; mode <= EM_DropPlane; ++mode)
        new Btn(g, kModeNames[mode], modeIcons[mode], kModeColor, [this, mode] { setEditMode(mode); });

    g = new BtnGrp(&s, VM_Objects, 't', 5, true);
    m_btnAutoDrop = new Btn(g, "Auto drop", IcAutoDrop, kModeColor, [this] {
        m_autoDrop = !m_autoDrop;
        m_btnAutoDrop->selected = m_autoDrop;
    });

    g = new BtnGrp(&s, VM_Objects, 'r', 0, false);
    new Btn(g, "Support", IcSupport, kPageColor, [this] { setViewMode(VM_Support); });
    new Btn(g, "Slice...", IcSlice, kSliceColor, [this] { sliceCommand(false); });

    g = new BtnGrp(&s, VM_Objects, 'r', 3.5f, false);
    new Btn(g, "Options", IcOptions, kFileColor, [this] { showOptionsDialog(); });

    // Support page.
    g = new BtnGrp(&s, VM_Support, 't', -5, false);
    new Btn(g, "Undo", IcUndo, kEditColor, [this] { undo(); });
    new Btn(g, "Redo", IcRedo, kEditColor, [this] { redo(); });

    g = new BtnGrp(&s, VM_Support, 'l', 0, false);
    new Btn(g, "Objects", IcObjects, kPageColor, [this] { setViewMode(VM_Objects); });

    g = new BtnGrp(&s, VM_Support, 'r', 0, false);
    new Btn(g, "GCode", IcGCode, kPageColor, [this] { setViewMode(VM_GCode); });
    new Btn(g, "Slice...", IcSlice, kSliceColor, [this] { sliceCommand(false); });

    g = new BtnGrp(&s, VM_Support, 'r', 3.5f, false);
    new Btn(g, "Options", IcOptions, kFileColor, [this] { showOptionsDialog(); });

    // GCode page.
    g = new BtnGrp(&s, VM_GCode, 'l', 0, false);
    new Btn(g, "Support", IcSupport, kPageColor, [this] { setViewMode(VM_Support); });
    new Btn(g, "Objects", IcObjects, kPageColor, [this] { setViewMode(VM_Objects); });

    g = new BtnGrp(&s, VM_GCode, 't', -0.54f, true);
    m_btnViewGCode = new Btn(g, "GCode", IcGCode, kModeColor, [this] {
        m_viewGCode = !m_viewGCode;
        refreshPanels();
    });

    g = new BtnGrp(&s, VM_GCode, 't', 0.54f, true);
    m_btnViewStats = new Btn(g, "Stats", IcStats, kModeColor, [this] {
        m_viewStats = !m_viewStats;
        setStatsVisible(m_viewStats);
        refreshPanels();
    });

    g = new BtnGrp(&s, VM_GCode, 'r', 0, false);
    new Btn(g, "Slice...", IcSlice, kSliceColor, [this] { sliceCommand(false); });
    new Btn(g, "Clear", IcClear, kFileColor, [this] { clearGCode(); });
    new Btn(g, "Load", IcLoad, kFileColor, [this] { openGCodeDialog(); });
    new Btn(g, "Save", IcSave, kFileColor, [this] { saveGCodeDialog(); });
    new Btn(g, "Print", IcPrint, kSliceColor, [this] { printGCode(); });

    g = new BtnGrp(&s, VM_GCode, 'r', 3.5f, false);
    new Btn(g, "Options", IcOptions, kFileColor, [this] { showOptionsDialog(); });

    m_viewer->btnSys = m_btnSys.get();
    // The pointer leaving the view takes the hover look with it.
    connect(&m_viewer->mouse, &MouseState::changed, this, [this] {
        const MouseState &m = m_viewer->mouse;
        if (m.buttons || m_viewer->rect().contains(m.x, m.y))
            return;
        bool changed = false;
        m_btnSys->mouse(m, m_viewer->width(), m_viewer->height(), &changed);
        if (changed)
            m_viewer->update();
    });
}

void FrmMain::activateModeButton(const QString &name)
{
    if (m_btnSys)
        m_btnSys->select(m_btnSys->find(name));
}

void FrmMain::stepPanelsAndKeyFrames()
{
    static QElapsedTimer clock;
    float dt = clock.isValid() ? float(clock.restart()) * 0.001f : 0.015f;
    if (!clock.isValid())
        clock.start();
    // The development setting's third state slides every bar out of sight.
    m_btnSys->setTargets(m_debugSetting == 2 ? -0.35f : 1.0f);
    m_btnSys->smoothPage = viewModeState().smooth;
    if (m_btnSys->animate(dt))
        m_viewer->update();
}

void FrmMain::setModeTool(const QString &button, int viewMode, int tool)
{
    activateModeButton(button);
    ViewModeState &vm = viewModeState();
    if (vm.mode != viewMode) {
        vm.previous = vm.mode;
        vm.mode = viewMode;
        m_viewer->update();
    }
    m_viewer->setTool(tool);
}

// ---------------------------------------------------------------- keys

bool FrmMain::handleKeyPress(const QString &k)
{
    const int em = m_viewer->editMode;
    const bool objectMode = em <= EM_DropPlane;
    const bool gcodeMode = em == EM_GCode;
    // While slicing or loading G-code the keys are still claimed, but
    // nothing may start a second job or change the scene under it.
    const bool run = m_uiEnabled;
    bool handled = true;

    if (k == "Esc" && m_viewer->tools().cancelDrag())
        return true; // Esc first ends a drag in progress
    if ((k == "Num++" || k == "Num+-") && em == EM_Support) {
        if (run && m_seBarSize)
            m_seBarSize->setValue(m_seBarSize->value() + (k == "Num++" ? 1 : -1));
    } else if (k == "Ctrl+A" && objectMode) {
        if (run)
            selectAll();
    } else if (k == "Esc" && objectMode) {
        if (run)
            selectNone();
    } else if ((k == "Ins" || k == "Num++") && objectMode) {
        if (run)
            addModelDialog();
    } else if ((k == "Del" || k == "Num+-") && objectMode) {
        if (run)
            removeSelected();
    } else if ((k == "Ctrl+S" || k == "Ctrl+O" || k == "Ctrl+N") && !gcodeMode) {
        if (run) {
            if (k == "Ctrl+S")
                m_fileOps.save();
            else if (k == "Ctrl+O" ? m_fileOps.open(QString(), true) : m_fileOps.newDocument(true))
                setEditMode(m_viewer->lastObjEditMode);
        }
    } else if ((k == "Ctrl+Z" || k == "Ctrl+Y") && !gcodeMode) {
        if (run) {
            if (k == "Ctrl+Z")
                undo();
            else
                redo();
        }
    } else if ((k == "Ctrl+S" || k == "Ctrl+O" || k == "Ctrl+N") && gcodeMode) {
        if (run) {
            if (k == "Ctrl+S")
                saveGCodeDialog();
            else if (k == "Ctrl+O")
                openGCodeDialog();
            else
                clearGCode();
        }
    } else if (k == "Space") {
        if (run)
            setEditMode(EM_Select);
    } else if (k == "M" || k == "R" || k == "S") {
        const int tool = k == "M" ? EM_Move : k == "R" ? EM_Rotate : EM_Scale;
        if (run)
            setModeTool(kModeNames[tool], VM_Objects, tool);
    } else if (k == "U") {
        if (run)
            setModeTool("Support", VM_Support, EM_Support);
    } else if (k == "G") {
        if (run)
            setModeTool("GCode", VM_GCode, EM_GCode);
    } else if (k == "1" || k == "2" || k == "3") {
        if (run)
            setViewMode(k.toInt() - 1);
    } else if (k == "4") {
        m_btnSys->press(m_btnSys->find("Print")); // the button knows the UI flag
    } else if (k == "Left" || k == "Right") {
        if (run)
            setViewMode(viewModeState().mode + (k == "Left" ? -1 : 1));
    } else if (k == "Ctrl+L") {
        if (run)
            sliceCommand(false);
    } else if (k == "Ctrl+Shift+L") {
        if (run)
            sliceBackground();
    } else if (k == "Ctrl+Q") {
        if (run)
            close();
    } else if (k == "Ctrl+P") {
        if (run)
            printGCode();
    } else if (k == "Home") {
        m_viewer->cam.reset(false);
    } else if (k == "Ctrl+E") {
        if (run)
            exportMeshes();
    } else if (k == "Ctrl+Space") {
        logSnapshot();
    } else if (k == "Ctrl+Alt+X") {
        m_viewer->showFPS = !m_viewer->showFPS; // the frame statistics line
    } else if (k == "Ctrl+Alt+Z") {
        m_debugSetting = (m_debugSetting + 1) % 3;
    } else {
        handled = false;
    }
    if (handled)
        m_viewer->update();
    return handled;
}

void FrmMain::logSnapshot()
{
    QString first = m_project.objs.empty() ? QString() : m_project.objs.front()->name;
    QByteArray clip;
    for (const char *name : {"seClipX", "seClipY", "seClipZ"})
        if (auto *se = findChild<QDoubleSpinBox *>(name))
            clip += QByteArray::number(se->value()) + " ";
    qDebug() << Q_FUNC_INFO << "frmmain" << "snapshot" << first << m_viewer->cam.toText().toBase64()
             << clip.trimmed().toBase64();
}

// ---------------------------------------------------------------- scene commands

Obj *FrmMain::importModel(const QString &path)
{
    Faces mesh;
    mesh.importFile(path);
    if (mesh.isEmpty()) {
        QMessageBox::information(this, QString(), "No triangles found in \"" + path + "\"");
        return nullptr;
    }
    return m_project.addObject(std::move(mesh), QFileInfo(path).completeBaseName(), true);
}

void FrmMain::addModelDialog()
{
    QString path = openFileDialog("Open model", "Models (*.stl *.obj);;STL(*.stl);;Wavefront OBJ(*.obj)", "model");
    if (!path.isEmpty())
        openFile(path);
}

void FrmMain::removeSelected()
{
    if (!m_project.anySelected())
        return;
    m_project.deleteSelected();
    m_project.updateNames();
    m_fileOps.record("remove");
    emit m_viewer->selectionChanged();
    m_viewer->update();
}

void FrmMain::selectAll()
{
    m_project.selectAll();
    emit m_viewer->selectionChanged();
    m_viewer->update();
}

void FrmMain::selectNone()
{
    m_project.selectNone();
    emit m_viewer->selectionChanged();
    m_viewer->update();
}

void FrmMain::undo()
{
    m_fileOps.undo();
    refreshPanels();
    m_viewer->update();
}

void FrmMain::redo()
{
    m_fileOps.redo();
    refreshPanels();
    m_viewer->update();
}

void FrmMain::mirror(int axisId)
{
    if (axisId < 0 || axisId > 2)
        throw "FrmMain::mirror() invalid axisId";
    QList<Obj *> sel = m_project.selectedObjects();
    if (sel.isEmpty())
        return;
    // The selection turns as one piece, about the centre of its box.
    Box3 box;
    for (Obj *o : sel)
        box.add(o->sceneBox());
    Vec3 s(1, 1, 1);
    s[axisId] = -1;
    for (Obj *o : sel)
        o->transformAbout(Mat4::scaling(s), box.center());
    m_fileOps.record("mirror");
    m_viewer->update();
}

void FrmMain::exportMeshes()
{
    if (m_project.objs.empty()) {
        QMessageBox::information(this, QString(), "Nothing to export.");
        return;
    }
    QList<Obj *> chosen = m_project.selectedObjects();
    QString title = chosen.size() == 1 ? "Export object: " + chosen.front()->name
                    : chosen.size() > 1 ? QString("Export selected objects")
                                        : QString("Export scene");
    if (chosen.isEmpty())
        for (const auto &o : m_project.objs)
            chosen.append(o.get());
    QString base = chosen.size() == 1 ? chosen.front()->name : QFileInfo(m_fileOps.fileName()).completeBaseName();
    if (base.isEmpty())
        base = "scene";
    QString path = saveFileDialog(title, "STL(*.stl);;Wavefront OBJ(*.obj)", "model", base + ".stl");
    if (path.isEmpty())
        return;
    if (!hasExt(path, ".stl|.obj"))
        path += ".stl";

    // Placed as in the scene; a mirroring placement turns the winding back.
    Faces out;
    for (const Obj *o : chosen) {
        const bool reverse = (o->transform.det3() < 0) != o->facesReversed;
        for (const Triangle &t : o->mesh->tris) {
            Vec3 p = o->transform.map(t.p), q = o->transform.map(t.q), r = o->transform.map(t.r);
            if (reverse)
                out.append(p, r, q);
            else
                out.append(p, q, r);
        }
    }
    out.exportFile(path, true);
}

// ---------------------------------------------------------------- drag and drop

void FrmMain::dragEnterEvent(QDragEnterEvent *e)
{
    finishDrag(false);
    // Nothing is taken while a dialog waits or a slice or G-code load runs.
    if (QApplication::activeModalWidget() || !m_uiEnabled || !e->mimeData()->hasUrls()) {
        e->ignore();
        return;
    }
    QStringList models;
    for (const QUrl &url : e->mimeData()->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (!QFileInfo(path).isFile())
            continue;
        if (hasExt(path, ".stl|.obj"))
            models << path;
        else if (m_dragFile.isEmpty() && hasExt(path, ".tvprj|" + gcodeExts()))
            m_dragFile = path;
    }
    if (!models.isEmpty()) {
        m_dragSelection.clear();
        for (const auto &o : m_project.objs)
            m_dragSelection.push_back(o->selected);
        m_project.selectNone();
        for (const QString &path : models) {
            // A bad file is not worth a message box in the middle of a drag:
            // it is passed over here and reported when dropped.
            try {
                Faces mesh;
                mesh.importFile(path);
                if (mesh.isEmpty()) {
                    m_dragErrors << "No triangles found in \"" + path + "\"";
                    continue;
                }
                m_dragObjs.push_back(m_project.addObject(std::move(mesh), QFileInfo(path).completeBaseName(), false));
                m_dragObjs.back()->selected = true;
            } catch (...) {
                m_dragErrors << currentExceptionText();
            }
        }
    }
    if (m_dragObjs.empty() && m_dragFile.isEmpty() && models.isEmpty()) {
        e->ignore();
        return;
    }
    e->acceptProposedAction();
    placeDraggedAt(m_viewer->mapFrom(this, e->pos()));
}

void FrmMain::dragMoveEvent(QDragMoveEvent *e)
{
    e->acceptProposedAction();
    placeDraggedAt(m_viewer->mapFrom(this, e->pos()));
}

void FrmMain::dragLeaveEvent(QDragLeaveEvent *e)
{
    finishDrag(false);
    e->accept();
}

void FrmMain::finishDrag(bool keep)
{
    if (!keep && !m_dragObjs.empty()) {
        auto &objs = m_project.objs;
        objs.erase(std::remove_if(objs.begin(), objs.end(),
                                  [this](const std::unique_ptr<Obj> &o) {
                                      return std::find(m_dragObjs.begin(), m_dragObjs.end(), o.get()) != m_dragObjs.end();
                                  }),
                   objs.end());
        for (size_t i = 0; i < objs.size() && i < m_dragSelection.size(); ++i)
            objs[i]->selected = m_dragSelection[i];
        m_project.updateNames();
        m_viewer->update();
    }
    m_dragObjs.clear();
    m_dragSelection.clear();
    if (!keep) {
        m_dragFile.clear();
        m_dragErrors.clear();
    }
}

void FrmMain::placeDraggedAt(const QPoint &pos)
{
    if (m_dragObjs.empty())
        return;
    const int w = m_viewer->width(), h = m_viewer->height();
    const QVector3D a = m_viewer->cam.unproject(pos.x(), pos.y(), 0.0f, w, h, 1000);
    const QVector3D b = m_viewer->cam.unproject(pos.x(), pos.y(), 0.5f, w, h, 1000);
    const Vec3 from(a.x(), a.y(), a.z()), to(b.x(), b.y(), b.z());
    const Vec3 dir = to - from;

    // Nearest of the bed plane and the other objects.
    bool found = false;
    Vec3 best;
    float bestDist = 0;
    auto consider = [&](const Vec3 &p) {
        const Vec3 v = p - from;
        const float d = std::sqrt(dot(v, v));
        if (!found || d < bestDist) {
            found = true;
            best = p;
            bestDist = d;
        }
    };
    if (std::fabs(dir.y) > 1e-9f) {
        float t = -from.y / dir.y;
        if (t > 0)
            consider(from + dir * t);
    }
    for (const auto &o : m_project.objs) {
        if (std::find(m_dragObjs.begin(), m_dragObjs.end(), o.get()) != m_dragObjs.end())
            continue;
        Obj::Hit hit = o->rayIntersect('o', from, to);
        if (hit.hit)
            consider(hit.point);
    }
    if (!found)
        return; // looking past the bed into the sky: stay where they are

    Box3 box;
    for (Obj *o : m_dragObjs)
        box.add(o->sceneBox());
    if (box.isEmpty())
        return;
    const Vec3 foot((box.min.x + box.max.x) / 2, box.min.y, (box.min.z + box.max.z) / 2);
    for (Obj *o : m_dragObjs)
        o->moveBy(best - foot);
    m_viewer->update();
}

void FrmMain::dropEvent(QDropEvent *e)
{
    activateWindow();
    m_viewer->setFocus();
    e->acceptProposedAction();
    if (!m_dragObjs.empty()) {
        placeDraggedAt(m_viewer->mapFrom(this, e->pos()));
        QString name = m_dragObjs.front()->name;
        finishDrag(true);
        m_fileOps.record("add(" + name + ")");
        setEditMode(m_viewer->lastObjEditMode);
    } else {
        finishDrag(true);
    }
    // Models that could not be read are reported now.
    const QStringList errors = m_dragErrors;
    m_dragErrors.clear();
    for (const QString &msg : errors)
        QMessageBox::information(this, QString(), msg);
    const QString file = m_dragFile;
    m_dragFile.clear();
    if (file.isEmpty())
        return;
    if (hasExt(file, gcodeExts())) {
        setViewMode(VM_GCode);
        loadGCode(readFile(file), file);
    } else if (m_fileOps.open(file, true)) {
        setViewMode(VM_Objects);
    }
    m_viewer->update();
}
