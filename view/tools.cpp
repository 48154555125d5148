#include "view/tools.h"

#include "scene/fileops.h"
#include "scene/placement.h"
#include "scene/project.h"
#include "view/gllist.h"
#include "view/glviewer.h"
#include "view/shaders.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <cmath>

namespace {
const int kClickSlop = 3;          // pixels: a press that moves less is a click
const float kDegPerPixel = 0.5f;   // roll and fallback rotation speed

Vec3 toVec(const QVector3D &v) { return Vec3(v.x(), v.y(), v.z()); }
QVector3D toQ(const Vec3 &v) { return QVector3D(v.x, v.y, v.z); }

Vec3 bottomCentre(const Box3 &b)
{
    const Vec3 c = b.center();
    return Vec3(c.x, b.isEmpty() ? 0.0f : b.min.y, c.z);
}
} // namespace

ViewTools::ViewTools(GlViewer *viewer) : QObject(viewer), m_viewer(viewer)
{
    // A modifier pressed or let go mid-drag takes effect at once.
    connect(&viewer->mouse, &MouseState::changed, this, [this] {
        const MouseState &m = m_viewer->mouse;
        if (m.modifiers != m.prevModifiers && (m_drag == Moving || m_drag == Rotating || m_drag == Rolling ||
                                               m_drag == Scaling || m_drag == DropRolling))
            updateDrag();
    });
}

ViewTools::~ViewTools() = default;

Project *ViewTools::project() const { return m_viewer->project; }

bool ViewTools::dragging() const { return m_drag != None; }

bool ViewTools::lowDetail() const
{
    return m_drag == Moving || m_drag == Rotating || m_drag == Rolling || m_drag == Scaling || m_drag == DropRolling ||
           m_progress >= 0;
}

void ViewTools::beginEdit()
{
    if (fileOps)
        fileOps->takeSnapshot();
}

void ViewTools::record(const QString &label)
{
    if (fileOps)
        fileOps->record(label);
    emit edited(label);
    m_viewer->update();
}

QPointF ViewTools::screenOf(const Vec3 &p) const { return m_viewer->projectToScreen(toQ(p)); }

bool ViewTools::planeHit(QPoint px, float planeY, Vec3 *out) const
{
    QVector3D a, b;
    m_viewer->pixelRay(px.x(), px.y(), &a, &b);
    const float dy = b.y() - a.y();
    if (std::fabs(dy) < 1e-9f)
        return false;
    const float t = (planeY - a.y()) / dy;
    if (!(t > 0) || !std::isfinite(t))
        return false;
    const QVector3D h = a + (b - a) * t;
    *out = toVec(h);
    return isFinite(*out);
}

// ---------------------------------------------------------------- selection

void ViewTools::clickSelect(const PickHit &hit)
{
    Project *p = project();
    const Qt::KeyboardModifiers mods = m_pressMods;
    Obj *o = hit.kind == PickHit::Object ? hit.object : nullptr;
    if (mods & Qt::ControlModifier) {
        if (o)
            o->selected = !o->selected;
    } else {
        if (!(mods & Qt::ShiftModifier))
            p->selectNone();
        if (o)
            o->selected = true;
    }
    emit selectionChanged();
    m_viewer->update();
}

void ViewTools::rectSelect()
{
    Project *p = project();
    const MouseState &m = m_viewer->mouse;
    const QRect r = QRect(m_pressPos, QPoint(m.x, m.y)).normalized();
    const QList<int> inside = m_viewer->objectsInRect(r);
    if (m_pressMods & Qt::ControlModifier) {
        for (int i : inside)
            p->objs[size_t(i)]->selected = !p->objs[size_t(i)]->selected;
    } else {
        if (!(m_pressMods & Qt::ShiftModifier))
            p->selectNone();
        for (int i : inside)
            p->objs[size_t(i)]->selected = true;
    }
    emit selectionChanged();
}

// The press on an object in an object tool: a plain press on an unselected
// object makes it the selection, Shift adds it; Ctrl toggles and drags
// nothing. Returns whether the selection can be dragged.
bool ViewTools::selectOnPress(const PickHit &hit)
{
    Obj *o = hit.object;
    if (m_pressMods & Qt::ControlModifier) {
        o->selected = !o->selected;
        emit selectionChanged();
        return false;
    }
    if (!o->selected) {
        if (!(m_pressMods & Qt::ShiftModifier))
            project()->selectNone();
        o->selected = true;
        emit selectionChanged();
    }
    return true;
}

void ViewTools::selectAll()
{
    if (!project())
        return;
    project()->selectAll();
    emit selectionChanged();
    m_viewer->update();
}

void ViewTools::selectNone()
{
    if (!project())
        return;
    project()->selectNone();
    emit selectionChanged();
    m_viewer->update();
}

// ---------------------------------------------------------------- mouse

void ViewTools::mousePress()
{
    const MouseState &m = m_viewer->mouse;
    if (!project() || !(m.buttons & Qt::LeftButton) || (m.prevButtons & Qt::LeftButton))
        return;
    if (m_drag != None)
        return;
    m_pressPos = QPoint(m.x, m.y);
    m_pressMods = m.modifiers;
    m_press = m_viewer->pickAt(m.x, m.y);
    // The state at the press is what undoing this gesture's edit brings back.
    beginEdit();
    const int mode = m_viewer->editMode;
    const bool onObject = m_press.kind == PickHit::Object;

    if (mode == EM_Support) {
        m_drag = (m_pressMods & Qt::ControlModifier) ? SupportRemove : SupportPending;
        m_barPreview = false;
        return;
    }
    if (mode > EM_Support)
        return;
    if (mode == EM_Select || !onObject) {
        m_drag = PendingSelect;
        return;
    }
    if (mode == EM_DropPlane) {
        if (m_pressMods & Qt::AltModifier) {
            // Lay the pressed face down now; the drag then rolls about it.
            const int tri = placement::firstTriangleHit(*m_press.object, m_viewer->rayFrom(m.x, m.y),
                                                        m_viewer->rayTo(m.x, m.y));
            placement::beginDrag(*project());
            if (tri >= 0)
                placement::layFaceDown(*m_press.object, placement::sceneNormal(*m_press.object, tri));
            // The roll starts from the laid-down pose, the cancel from the press.
            m_pivot = m_press.object->sceneBox().center();
            m_dropLaid = m_press.object->transform;
            m_angle = 0;
            m_drag = DropRolling;
            m_dragLabel = "dropPlane";
            m_viewer->update();
        } else {
            m_drag = DropPending;
        }
        return;
    }
    if (!selectOnPress(m_press)) {
        m_drag = Cancelled;
        m_viewer->update();
        return;
    }
    if (mode == EM_Move)
        startTransformDrag(Moving);
    else if (mode == EM_Rotate)
        startTransformDrag((m_pressMods & Qt::AltModifier) ? Rolling : Rotating);
    else if (mode == EM_Scale)
        startTransformDrag(Scaling);
}

void ViewTools::startTransformDrag(Drag kind)
{
    Project &p = *project();
    m_clones.clear();
    m_cloneSources.clear();
    m_dragLabel = kind == Moving ? "move" : kind == Scaling ? "scale" : "rotate";
    if (kind == Moving && (m_pressMods & Qt::AltModifier)) {
        for (const auto &o : p.objs)
            if (o->selected)
                m_cloneSources.append(o.get());
        m_clones = placement::cloneSelected(p);
        m_dragLabel = "clone";
        emit selectionChanged();
    }
    placement::beginDrag(p);
    const Box3 box = placement::selectionBox(p, true);
    // The grabbed point as the plane through it meets the press ray, so that
    // the same pixel gives exactly no motion.
    const float grabY = m_press.hasPoint ? m_press.point.y() : box.center().y;
    m_grabOk = planeHit(m_pressPos, grabY, &m_grab);
    m_pivot = kind == Scaling ? bottomCentre(box) : box.center();
    m_angle = 0;
    m_scaleAxis = -1;
    m_prevPlaneOk = kind == Rotating && planeHit(m_pressPos, m_pivot.y, &m_prevPlane);
    m_drag = kind;
    m_viewer->update();
}

void ViewTools::mouseMove()
{
    const MouseState &m = m_viewer->mouse;
    if (!project())
        return;
    if (!(m.buttons & Qt::LeftButton)) {
        if (m_drag == None && m_viewer->editMode == EM_DropPlane)
            updateHover();
        return;
    }
    switch (m_drag) {
    case PendingSelect:
        if (m.dragDistance >= kClickSlop)
            m_drag = Rect;
        m_viewer->update();
        break;
    case Rect:
        m_viewer->update();
        break;
    case DropPending:
        updateHover();
        break;
    case SupportPending:
        if (m.dragDistance >= kClickSlop && m_press.kind == PickHit::Object && m_press.hasPoint) {
            const PickHit h = m_viewer->pickAt(m.x, m.y);
            m_barStart = toVec(m_press.point);
            m_barPreview = h.hasPoint;
            if (h.hasPoint) {
                m_barEnd = toVec(h.point);
                if (m.modifiers & Qt::ShiftModifier)
                    m_barEnd = Vec3(m_barStart.x, m_barEnd.y, m_barStart.z);
            }
            m_faceListDirty = true;
            m_viewer->update();
        }
        break;
    case Moving:
    case Rotating:
    case Rolling:
    case Scaling:
    case DropRolling:
        updateDrag();
        break;
    default:
        break;
    }
}

void ViewTools::updateDrag()
{
    Project &p = *project();
    const MouseState &m = m_viewer->mouse;
    const QPoint now(m.x, m.y);
    const bool shift = m.modifiers & Qt::ShiftModifier;
    // Until the pointer leaves the click slop nothing moves: a click is no edit.
    if (m.dragDistance < kClickSlop && m_drag != DropRolling) {
        placement::restoreSaved(p);
        m_viewer->update();
        return;
    }
    switch (m_drag) {
    case Moving: {
        Vec3 hit;
        if (!m_grabOk || !planeHit(now, m_grab.y, &hit))
            return; // pointer above the horizon: keep the last place
        Vec3 d = hit - m_grab;
        d.y = 0;
        if (shift) {
            if (std::fabs(d.x) >= std::fabs(d.z))
                d.z = 0;
            else
                d.x = 0;
        }
        placement::moveSelected(p, d);
        break;
    }
    case Rotating: {
        Vec3 h;
        if (m_prevPlaneOk && planeHit(now, m_pivot.y, &h)) {
            const Vec3 u = m_prevPlane - m_pivot, v = h - m_pivot;
            const double cy = double(u.z) * v.x - double(u.x) * v.z; // (u × v).y
            const double dt = double(u.x) * v.x + double(u.z) * v.z;
            if (std::fabs(cy) + std::fabs(dt) > 0)
                m_angle += std::atan2(cy, dt) * 180.0 / M_PI;
            m_prevPlane = h;
        } else {
            // Grazing view: horizontal motion turns.
            m_angle += m.dx * kDegPerPixel;
        }
        const float step = placement::snapStep(settings.angleSnapOn, settings.angleSnap, shift);
        placement::rotateSelected(p, Vec3(0, 1, 0), placement::snapAngle(float(m_angle), step), m_pivot);
        break;
    }
    case Rolling: {
        // The horizontal axis across the view; dragging down tips the top toward the viewer.
        QVector3D a, b;
        m_viewer->pixelRay(m_viewer->width() / 2.0f, m_viewer->height() / 2.0f, &a, &b);
        const Vec3 view = toVec(b - a);
        const Vec3 axis(-view.z, 0, view.x);
        const float step = placement::snapStep(settings.angleSnapOn, settings.angleSnap, shift);
        const float angle = placement::snapAngle((m.y - m_pressPos.y()) * kDegPerPixel, step);
        placement::rotateSelected(p, axis, angle, m_pivot);
        break;
    }
    case Scaling: {
        const QPointF c = screenOf(placement::selectionBox(p, true).center());
        const QPointF p0 = QPointF(m_pressPos) - c, p1 = QPointF(now) - c;
        const bool oneAxis = shift != !settings.uniformScale;
        Vec3 f(1, 1, 1);
        if (!oneAxis) {
            m_scaleAxis = -1;
            const double r0 = std::max(10.0, std::hypot(p0.x(), p0.y()));
            const float s = float(std::hypot(p1.x(), p1.y()) / r0);
            f = Vec3(s, s, s);
        } else {
            const QPointF drag = QPointF(now) - QPointF(m_pressPos);
            if (m_scaleAxis < 0 && std::hypot(drag.x(), drag.y()) < 4)
                return;
            // The scene axis whose screen direction the drag follows best.
            QPointF dirs[3];
            for (int k = 0; k < 3; ++k) {
                Vec3 e;
                e[k] = 10;
                dirs[k] = screenOf(m_pivot + e) - screenOf(m_pivot);
            }
            if (m_scaleAxis < 0) {
                double best = -1;
                for (int k = 0; k < 3; ++k) {
                    const double len = std::hypot(dirs[k].x(), dirs[k].y());
                    const double a = len > 0 ? std::fabs(drag.x() * dirs[k].x() + drag.y() * dirs[k].y()) / len : 0;
                    if (a > best) {
                        best = a;
                        m_scaleAxis = k;
                    }
                }
            }
            const QPointF d = dirs[m_scaleAxis];
            const double len = std::hypot(d.x(), d.y());
            if (len <= 0)
                return;
            const double a0 = (p0.x() * d.x() + p0.y() * d.y()) / len, a1 = (p1.x() * d.x() + p1.y() * d.y()) / len;
            double s = std::fabs(a0) > 10 ? a1 / a0 : 1 + (a1 - a0) / 100.0;
            f[m_scaleAxis] = float(std::max(1e-6, s));
        }
        placement::scaleSelected(p, f, m_pivot);
        break;
    }
    case DropRolling: {
        Obj *o = m_press.object;
        const float step = placement::snapStep(settings.angleSnapOn, settings.angleSnap, shift);
        const float angle = placement::snapAngle((m.x - m_pressPos.x()) * kDegPerPixel, step);
        o->transform = Mat4::translation(m_pivot) * placement::rotationAbout(Vec3(0, 1, 0), angle) *
                       Mat4::translation(-m_pivot) * m_dropLaid;
        o->dropToBed();
        m_viewer->update();
        return;
    }
    default:
        return;
    }
    if (settings.autoDrop)
        placement::dropToBed(p, true);
    m_viewer->update();
}

void ViewTools::mouseRelease()
{
    const MouseState &m = m_viewer->mouse;
    if (!project() || (m.buttons & Qt::LeftButton) || m_drag == None)
        return;
    const Drag d = m_drag;
    m_drag = None;
    switch (d) {
    case PendingSelect:
        clickSelect(m_press);
        break;
    case Rect:
        rectSelect();
        m_viewer->update();
        break;
    case Moving:
    case Rotating:
    case Rolling:
    case Scaling:
        finishTransformDrag();
        break;
    case DropPending:
    case DropRolling:
        m_drag = d;
        finishDrop();
        m_drag = None;
        break;
    case SupportPending:
    case SupportRemove:
        m_drag = d;
        finishSupport();
        m_drag = None;
        break;
    default:
        m_viewer->update();
        break;
    }
}

void ViewTools::finishTransformDrag()
{
    Project &p = *project();
    if (placement::changedSinceSaved(p)) {
        m_clones.clear();
        m_cloneSources.clear();
        record(m_dragLabel);
        return;
    }
    // Released where nothing changed: no edit, no copies. A plain click on
    // an object of a larger selection makes it the selection, as in Select.
    if (m_clones.isEmpty() && m_viewer->mouse.dragDistance < kClickSlop &&
        !(m_pressMods & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) && m_press.object) {
        p.selectNone();
        m_press.object->selected = true;
        emit selectionChanged();
    }
    if (!m_clones.isEmpty()) {
        placement::removeObjects(p, m_clones);
        for (Obj *o : m_cloneSources)
            o->selected = true;
        m_clones.clear();
        m_cloneSources.clear();
        emit selectionChanged();
    }
    m_viewer->update();
}

bool ViewTools::cancelDrag()
{
    if (m_drag == None || m_drag == Cancelled)
        return false;
    Project *p = project();
    if (p && (m_drag == Moving || m_drag == Rotating || m_drag == Rolling || m_drag == Scaling ||
              m_drag == DropRolling)) {
        placement::restoreSaved(*p);
        if (!m_clones.isEmpty()) {
            placement::removeObjects(*p, m_clones);
            for (Obj *o : m_cloneSources)
                o->selected = true;
            emit selectionChanged();
        }
    }
    m_clones.clear();
    m_cloneSources.clear();
    m_barPreview = false;
    m_drag = Cancelled;
    m_viewer->update();
    return true;
}

bool ViewTools::keyPress(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape)
        return cancelDrag();
    if ((e->modifiers() & Qt::KeypadModifier) && m_viewer->editMode == EM_Support &&
        (e->key() == Qt::Key_Plus || e->key() == Qt::Key_Minus)) {
        changeBarSize(e->key() == Qt::Key_Plus ? 1 : -1);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- drop plane

void ViewTools::updateHover()
{
    const MouseState &m = m_viewer->mouse;
    const PickHit h = m_viewer->pickAt(m.x, m.y);
    const Obj *obj = nullptr;
    int tri = -1;
    if (h.kind == PickHit::Object) {
        obj = h.object;
        tri = placement::firstTriangleHit(*h.object, m_viewer->rayFrom(m.x, m.y), m_viewer->rayTo(m.x, m.y));
    }
    if (tri < 0)
        obj = nullptr;
    // A triangle of the face on show keeps it: no rescan while the pointer stays on it.
    if (obj && obj == m_faceObj && m_face.contains(tri))
        return;
    if (obj == m_faceObj && tri == m_faceTri)
        return;
    m_faceObj = obj;
    m_faceTri = tri;
    m_face = obj ? placement::coplanarFace(*obj->mesh, tri) : QVector<int>();
    m_faceListDirty = true;
    m_viewer->update();
}

void ViewTools::finishDrop()
{
    Project &p = *project();
    if (m_drag == DropRolling) {
        if (placement::changedSinceSaved(p))
            record(m_dragLabel);
        m_viewer->update();
        return;
    }
    // The face under the release point (a drag may have picked another one).
    const MouseState &m = m_viewer->mouse;
    const PickHit h = m_viewer->pickAt(m.x, m.y);
    if (h.kind != PickHit::Object)
        return;
    const int tri = placement::firstTriangleHit(*h.object, m_viewer->rayFrom(m.x, m.y), m_viewer->rayTo(m.x, m.y));
    if (tri < 0)
        return;
    placement::beginDrag(p);
    placement::layFaceDown(*h.object, placement::sceneNormal(*h.object, tri));
    if (placement::changedSinceSaved(p))
        record("dropPlane");
    m_faceObj = nullptr;
    m_face.clear();
    m_faceTri = -1;
    m_faceListDirty = true;
    m_viewer->update();
}

// ---------------------------------------------------------------- support

void ViewTools::finishSupport()
{
    Project &p = *project();
    const MouseState &m = m_viewer->mouse;
    const bool click = m.dragDistance < kClickSlop;
    m_barPreview = false;
    m_viewer->update();
    if (m_drag == SupportRemove) {
        if (!click)
            return;
        int index = m_press.kind == PickHit::Bar ? m_press.index : -1;
        if (index < 0 && m_press.hasPoint)
            index = p.nearestBarEnd(toVec(m_press.point), std::max(3.0f, 2 * settings.barSize));
        if (index < 0 || index >= p.bars.size())
            return;
        p.bars.remove(index);
        record("SupportBar remove");
        return;
    }
    if (m_press.kind != PickHit::Object || !m_press.hasPoint)
        return;
    if (click) {
        // The exact surface point and normal along the pointer ray.
        const Obj::Hit hit = m_press.object->rayIntersect('o', m_viewer->rayFrom(m_pressPos.x(), m_pressPos.y()),
                                                          m_viewer->rayTo(m_pressPos.x(), m_pressPos.y()));
        if (!hit.hit)
            return;
        SupportBar bar;
        if (!p.buildBar(hit.point, hit.normal, settings.barSize, &bar))
            return;
        p.bars.append(bar);
        record("SupportBar create");
        return;
    }
    const PickHit end = m_viewer->pickAt(m.x, m.y);
    if (!end.hasPoint)
        return;
    const Vec3 a = toVec(m_press.point);
    Vec3 b = toVec(end.point);
    if (m.modifiers & Qt::ShiftModifier)
        b = Vec3(a.x, b.y, a.z);
    if (!isFinite(a) || !isFinite(b) || manhattan(a, b) < 0.1f)
        return;
    p.freeHandBar(a, b, settings.barSize);
    record("SupportBar create");
}

bool ViewTools::changeBarSize(int steps)
{
    const float s = std::max(0.2f, std::min(20.0f, settings.barSize + 0.5f * float(steps)));
    if (s == settings.barSize)
        return false;
    settings.barSize = s;
    emit barSizeChanged(s);
    return true;
}

bool ViewTools::generateSupport()
{
    Project *p = project();
    if (!p)
        return false;
    beginEdit();
    const int before = p->bars.size();
    m_progress = 0;
    emit progressChanged(0);
    m_viewer->repaint();
    struct Done {
        ViewTools *t;
        ~Done()
        {
            t->m_progress = -1;
            emit t->progressChanged(-1);
        }
    } done{this};
    p->generateSupport(settings.barSize, settings.steepness, [this](int percent) {
        m_progress = percent;
        emit progressChanged(percent);
        m_viewer->repaint();
        // Paint and timers go on; input waits, so nobody edits the scene under the generator.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    if (p->bars.size() == before)
        return false;
    record("Supports generated");
    return true;
}

bool ViewTools::clearSupport()
{
    Project *p = project();
    if (!p || p->bars.isEmpty())
        return false;
    beginEdit();
    p->clearBars();
    record("Supports cleared");
    return true;
}

// ---------------------------------------------------------------- panel edits

bool ViewTools::realign()
{
    Project *p = project();
    if (!p)
        return false;
    beginEdit();
    if (!placement::realignAll(*p, m_viewer->volume.W))
        return false;
    record("realignAll");
    return true;
}

// Resets one part of the selection's transforms, drops it to the bed when
// Auto drop is on, and records one entry under `label` if anything moved.
bool ViewTools::resetTransform(bool (*reset)(Project &), const char *label)
{
    Project *p = project();
    if (!p)
        return false;
    beginEdit();
    placement::beginDrag(*p);
    reset(*p);
    if (settings.autoDrop)
        placement::dropToBed(*p, true);
    if (!placement::changedSinceSaved(*p))
        return false;
    record(label);
    return true;
}

bool ViewTools::resetRotation() { return resetTransform(placement::resetRotation, "rotReset"); }

bool ViewTools::resetScale() { return resetTransform(placement::resetScale, "scaleReset"); }

bool ViewTools::scaleBy(const Vec3 &factors)
{
    Project *p = project();
    if (!p)
        return false;
    beginEdit();
    placement::scaleSelectionBy(*p, factors);
    if (settings.autoDrop)
        placement::dropToBed(*p, true);
    if (!placement::changedSinceSaved(*p))
        return false;
    record("scaleBy");
    return true;
}

bool ViewTools::mirror(int axis)
{
    Project *p = project();
    if (!p)
        return false;
    beginEdit();
    if (!placement::mirrorSelected(*p, axis))
        return false;
    record("mirror");
    return true;
}

// ---------------------------------------------------------------- drawing

void ViewTools::drawScene()
{
    QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
    if (m_faceListDirty) {
        m_faceListDirty = false;
        m_faceList.reset();
        if (m_faceObj && !m_face.isEmpty()) {
            QVector<float> v, n;
            for (int i : m_face) {
                const Triangle &t = m_faceObj->mesh->tris[i];
                for (const Vec3 *q : {&t.p, &t.q, &t.r}) {
                    v << q->x << q->y << q->z;
                    n << t.n.x << t.n.y << t.n.z;
                }
            }
            m_faceList.reset(new GLList_Phong(GL_TRIANGLES));
            m_faceList->setBuffer('v', v, 3);
            m_faceList->setBuffer('n', n, 3);
        }
    }
    const bool faceOnShow = m_faceList && m_faceObj && m_viewer->editMode == EM_DropPlane && project() &&
                            std::any_of(project()->objs.begin(), project()->objs.end(),
                                        [&](const auto &o) { return o.get() == m_faceObj; });
    if (faceOnShow) {
        pushMatrix('m');
        topMatrix('m') = m_viewer->objectMatrix(m_faceObj);
        f->glFrontFace(topMatrix('m').determinant() < 0 ? GL_CCW : GL_CW);
        // Drawn over the object's own surface.
        f->glEnable(GL_POLYGON_OFFSET_FILL);
        f->glPolygonOffset(-1, -2);
        m_faceList->color = GlViewer::shaderColor(QColor(90, 220, 120));
        m_faceList->draw();
        f->glDisable(GL_POLYGON_OFFSET_FILL);
        f->glFrontFace(GL_CW);
        popMatrix('m');
    }
    if (m_barPreview && m_drag == SupportPending) {
        SupportBar bar(m_barStart, m_barEnd, settings.barSize);
        QVector<float> v, n;
        for (const Triangle &t : bar.mesh.tris)
            for (const Vec3 *q : {&t.p, &t.q, &t.r}) {
                v << q->x << q->y << q->z;
                n << t.n.x << t.n.y << t.n.z;
            }
        GLList_Phong list(GL_TRIANGLES);
        list.setBuffer('v', v, 3);
        list.setBuffer('n', n, 3);
        list.color = GlViewer::shaderColor(QColor(120, 230, 255));
        list.draw();
    }
}

void ViewTools::drawOverlay(QPainter &p)
{
    if (m_drag == Rect) {
        const MouseState &m = m_viewer->mouse;
        const QRect r = QRect(m_pressPos, QPoint(m.x, m.y)).normalized();
        p.setPen(QPen(QColor(255, 200, 90), 1, Qt::DashLine));
        p.setBrush(QColor(255, 200, 90, 40));
        p.drawRect(r);
        p.setBrush(Qt::NoBrush);
    }
    if (m_progress >= 0) {
        const QString text = QString("Generating support: %1%").arg(m_progress);
        QFont font = p.font();
        font.setPointSize(14);
        p.setFont(font);
        QRect r = p.fontMetrics().boundingRect(text).adjusted(-12, -8, 12, 8);
        r.moveCenter(QPoint(m_viewer->width() / 2, m_viewer->height() / 2));
        p.fillRect(r, QColor(0, 0, 0, 170));
        p.setPen(Qt::white);
        p.drawText(r, Qt::AlignCenter, text);
    }
}
