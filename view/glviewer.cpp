#include "glviewer.h"

#include "scene/project.h"
#include "view/btnsys.h"
#include "view/gllist.h"
#include "view/pickpass.h"
#include "view/shaders.h"

#include <QCursor>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

ViewModeState &viewModeState()
{
    static ViewModeState s;
    return s;
}

// One GPU list per cached mesh; objects sharing a mesh share the list.
struct GlViewer::MeshList {
    quint32 hash = 0;
    int count = 0;
    GLList_Phong list{GL_TRIANGLES};
    bool used = false;
};

namespace {
QMatrix4x4 toQMatrix(const float m[16])
{
    return QMatrix4x4(m).transposed(); // Qt's constructor takes rows; ours are columns
}

QOpenGLFunctions *gl()
{
    return QOpenGLContext::currentContext()->functions();
}
} // namespace

QVector4D GlViewer::shaderColor(const QColor &c)
{
    return QVector4D(float(c.blueF()), float(c.greenF()), float(c.redF()), float(c.alphaF()));
}

GlViewer::GlViewer(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(64, 64);
    installEventFilter(&mouse);
    m_tools = std::make_unique<ViewTools>(this);
    m_pick = std::make_unique<PickPass>();
}

GlViewer::~GlViewer()
{
    // GPU lists go while the renderer's context still exists.
    if (renderer.context()) {
        try {
            renderer.makeCurrent();
        } catch (...) {
        }
    }
    m_meshLists.clear();
    m_bed.reset();
    m_volumeLines.reset();
    m_pick.reset();
    m_coarseLists.clear();
    m_barList.reset();
    m_logo.reset();
    m_tools.reset();
}

void GlViewer::setTool(int mode)
{
    mode = std::max(0, std::min(6, mode));
    if (mode != EM_GCode)
        lastNonGCodeMode = mode;
    if (mode < EM_Support)
        lastObjEditMode = mode;
    if (mode != editMode) {
        editMode = mode;
        update();
    }
}

bool GlViewer::animate(float dt)
{
    bool moved = cam.animate(dt);
    for (auto it = m_flyIn.begin(); it != m_flyIn.end();) {
        it->t += dt / 1.2f;
        moved = true;
        if (it->t >= 1)
            it = m_flyIn.erase(it);
        else
            ++it;
    }
    float target = editMode == EM_Support && supportPlacing && !(mouse.modifiers & Qt::ControlModifier) ? 1.0f : 0.0f;
    if (supportFade != target) {
        float k = dt < 0.25f ? 1 - std::pow(0.2f, 30 * dt) : 1.0f;
        supportFade += (target - supportFade) * k;
        if (std::fabs(supportFade - target) < 0.01f)
            supportFade = target;
        moved = true;
    }
    animating = animating || moved;
    return moved;
}

void GlViewer::startFlyIn(Obj *obj, const float startTransform[16])
{
    FlyIn f;
    std::copy(startTransform, startTransform + 16, f.start);
    m_flyIn.insert(obj, f);
    animating = true;
}

void GlViewer::clearFlyIn()
{
    m_flyIn.clear();
}

QMatrix4x4 GlViewer::drawTransform(const Obj *o) const
{
    auto it = m_flyIn.find(o);
    if (it == m_flyIn.end())
        return toQMatrix(o->transform.m);
    // Ease out: fast start, soft landing.
    float s = 1 - std::pow(1 - std::min(1.0f, it->t), 3.0f);
    float m[16];
    for (int i = 0; i < 16; i++)
        m[i] = it->start[i] + (o->transform.m[i] - it->start[i]) * s;
    return toQMatrix(m);
}

GLList_Phong *GlViewer::meshList(const Obj *o)
{
    const Faces *mesh = o->mesh;
    std::shared_ptr<MeshList> &ml = m_meshLists[mesh];
    if (!ml || ml->hash != mesh->hash || ml->count != mesh->count()) {
        ml = std::make_shared<MeshList>();
        ml->hash = mesh->hash;
        ml->count = mesh->count();
        QVector<float> v, n;
        v.reserve(mesh->count() * 9);
        n.reserve(mesh->count() * 9);
        for (const Triangle &t : mesh->tris) {
            Vec3 nn = isFinite(t.n) ? t.n : Vec3(0, 1, 0);
            for (const Vec3 *p : {&t.p, &t.q, &t.r}) {
                v << p->x << p->y << p->z;
                n << nn.x << nn.y << nn.z;
            }
        }
        ml->list.setBuffer('v', v, 3);
        ml->list.setBuffer('n', n, 3);
    }
    ml->used = true;
    return &ml->list;
}

void GlViewer::setupFrameMatrices(bool pick)
{
    resetMatrices();
    QPoint p = renderer.pointer;
    topMatrix('p') = pick ? cam.setupProjection(width(), height(), kFarPlane, true, p.x(), p.y(), p.x() + 1, p.y() + 1)
                          : cam.setupProjection(width(), height(), kFarPlane);
    topMatrix('v') = cam.viewMatrix();
    RenderSwitches &rs = renderSwitches();
    rs.lightPos = QVector3D(150, 300, 100); // above and to the right of the camera
    rs.camPos = topMatrix('v').inverted().column(3).toVector3D();
    rs.invWorkAreaSize = QVector3D(1 / std::max(volume.W, 1.0f), 1 / std::max(volume.H, 1.0f), 1 / std::max(volume.D, 1.0f));
}

bool GlViewer::insideVolume(const Box3 &b) const
{
    if (b.isEmpty())
        return true;
    if (b.min.y < -0.001f * volume.H || b.max.y > volume.H)
        return false;
    const float hw = volume.W / 2, hd = volume.D / 2;
    if (!circularPlatform)
        return b.min.x >= -hw && b.max.x <= hw && b.min.z >= -hd && b.max.z <= hd;
    for (float x : {b.min.x, b.max.x})
        for (float z : {b.min.z, b.max.z})
            if ((x / hw) * (x / hw) + (z / hd) * (z / hd) > 1)
                return false;
    return true;
}

void GlViewer::drawObjects(bool pick)
{
    if (!project)
        return;
    QOpenGLFunctions *f = gl();
    const ToolSettings &ts = m_tools->settings;
    // Placing bars, the objects turn see-through so bars under them show.
    const float alpha = ts.transparentObjects ? 0.55f : 1.0f - 0.35f * supportFade;
    const bool blend = alpha < 1 && !renderSwitches().outsidePass;
    if (blend) {
        f->glEnable(GL_BLEND);
        f->glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    if (ts.showBackFaces && !renderSwitches().outsidePass)
        f->glDisable(GL_CULL_FACE);
    renderSwitches().twoSided = ts.showBackFaces;
    renderSwitches().envReflection = ts.envReflection && !pick;
    // In the Support page the surfaces steeper than the generation's limit are tinted.
    renderSwitches().steepAngle = viewModeState().mode == VM_Support ? std::max(0.01f, ts.steepness) : 0.0f;
    // Big meshes are drawn coarse while something is dragged: frames stay quick.
    const bool coarse = !pick && (m_tools->lowDetail() || ((mouse.buttons & (Qt::RightButton | Qt::MiddleButton)) &&
                                                          mouse.dragDistance >= 3));
    int index = 0;
    for (const auto &up : project->objs) {
        const Obj *o = up.get();
        ++index;
        if (o->hidden || !o->mesh || o->mesh->isEmpty())
            continue;
        // The outside pass only matters for objects that reach out of the volume.
        if (renderSwitches().outsidePass && !m_flyIn.contains(o) && insideVolume(o->sceneBox()))
            continue;
        GLList_Phong *list = meshList(o);
        if (coarse)
            list = coarseList(o, list);
        QMatrix4x4 m = drawTransform(o);
        pushMatrix('m');
        topMatrix('m') = m;
        // The projection mirrors (screen-down clip y): front faces are clockwise,
        // and a mirrored object turns its winding once more.
        f->glFrontFace(m.determinant() < 0 ? GL_CCW : GL_CW);
        if (pick)
            list->color = QVector4D((index & 255) / 255.0f, ((index >> 8) & 255) / 255.0f, ((index >> 16) & 255) / 255.0f, 1);
        else if (renderSwitches().outsidePass)
            list->color = shaderColor(QColor(230, 40, 40));
        else
            list->color = shaderColor(o->selected ? QColor(255, 170, 60, int(alpha * 255)) : QColor(150, 175, 205, int(alpha * 255)));
        list->draw();
        popMatrix('m');
    }
    f->glFrontFace(GL_CW);
    f->glEnable(GL_CULL_FACE);
    renderSwitches().twoSided = false;
    renderSwitches().envReflection = false;
    renderSwitches().steepAngle = 0;
    if (blend)
        f->glDisable(GL_BLEND);
}

void GlViewer::drawBedAndVolume()
{
    QString key = QString("%1 %2 %3 %4").arg(volume.W).arg(volume.D).arg(volume.H).arg(circularPlatform);
    if (!m_bed || key != m_bedKey) {
        m_bedKey = key;
        float hw = volume.W / 2, hd = volume.D / 2, h = volume.H;
        QVector<float> v, n, lv, ln;
        if (circularPlatform) {
            const int seg = 72;
            for (int i = 0; i < seg; i++) {
                float a0 = float(2 * M_PI * i / seg), a1 = float(2 * M_PI * (i + 1) / seg);
                // Clockwise seen from above: the front face of the mirrored projection.
                v << 0 << 0 << 0 << hw * std::cos(a1) << 0 << hd * std::sin(a1) << hw * std::cos(a0) << 0 << hd * std::sin(a0);
                for (float y : {0.0f, h})
                    lv << hw * std::cos(a0) << y << hd * std::sin(a0) << hw * std::cos(a1) << y << hd * std::sin(a1);
            }
            for (int i = 0; i < 4; i++) {
                float a = float(M_PI / 2 * i);
                lv << hw * std::cos(a) << 0 << hd * std::sin(a) << hw * std::cos(a) << h << hd * std::sin(a);
            }
        } else {
            v << -hw << 0 << -hd << -hw << 0 << hd << hw << 0 << hd;
            v << -hw << 0 << -hd << hw << 0 << hd << hw << 0 << -hd;
            const float c[4][2] = {{-hw, -hd}, {hw, -hd}, {hw, hd}, {-hw, hd}};
            for (int i = 0; i < 4; i++) {
                const float *a = c[i], *b = c[(i + 1) % 4];
                for (float y : {0.0f, h})
                    lv << a[0] << y << a[1] << b[0] << y << b[1];
                lv << a[0] << 0 << a[1] << a[0] << h << a[1];
            }
        }
        for (int i = 0; i < v.size() / 3; i++)
            n << 0 << 1 << 0;
        for (int i = 0; i < lv.size() / 3; i++)
            ln << 0 << 1 << 0;
        m_bed.reset(new GLList_Ground(GL_TRIANGLES));
        m_bed->setBuffer('v', v, 3);
        m_bed->setBuffer('n', n, 3);
        m_volumeLines.reset(new GLList_Phong(GL_LINES));
        m_volumeLines->setBuffer('v', lv, 3);
        m_volumeLines->setBuffer('n', ln, 3);
    }
    QOpenGLFunctions *f = gl();
    f->glEnable(GL_BLEND);
    f->glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    pushMatrix('t');
    // One texture tile is 40 mm (four 10 mm cells, the 40 mm lines bolder);
    // the bed's x/z become the texture's s/t. The tile size also sets how
    // far the bed's alpha fades toward its corners.
    topMatrix('t').scale(1 / 40.0f, 1 / 40.0f, 1);
    topMatrix('t').rotate(90, 1, 0, 0);
    m_bed->color = shaderColor(QColor(200, 205, 215, 235));
    m_bed->draw();
    popMatrix('t');
    drawLogo();
    f->glDisable(GL_CULL_FACE);
    m_volumeLines->color = shaderColor(QColor(120, 150, 200));
    m_volumeLines->draw();
    f->glEnable(GL_CULL_FACE);
    f->glDisable(GL_BLEND);
}

void GlViewer::drawPick()
{
    QOpenGLFunctions *f = gl();
    f->glClearColor(0, 0, 0, 0);
    f->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    f->glEnable(GL_DEPTH_TEST);
    f->glEnable(GL_CULL_FACE);
    setupFrameMatrices(true);
    if (project && viewModeState().mode != VM_GCode) {
        QVector3D a, b;
        pixelRay(renderer.pointer.x(), renderer.pointer.y(), &a, &b);
        if (m_tools->settings.showBackFaces)
            f->glDisable(GL_CULL_FACE);
        m_pick->draw(*project, [this](const Obj *o) { return drawTransform(o); }, true, a, b, true);
        f->glEnable(GL_CULL_FACE);
        // Seen from below, the bed must not hide the undersides the support tool clicks.
        if (cam.position().y() > 0)
            m_pick->drawBed(volume.W / 2, volume.D / 2);
    }
}

void GlViewer::drawMain()
{
    for (auto &ml : m_meshLists)
        ml->used = false;
    QOpenGLFunctions *f = gl();
    QVector4D bg = shaderColor(QColor(38, 41, 48));
    f->glClearColor(bg.x(), bg.y(), bg.z(), 1);
    f->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    f->glEnable(GL_DEPTH_TEST);
    f->glDepthFunc(GL_LEQUAL);
    f->glEnable(GL_CULL_FACE);
    f->glCullFace(GL_BACK);
    f->glFrontFace(GL_CW); // the projection mirrors: clockwise is front (see drawObjects)
    setupFrameMatrices(false);

    if (viewModeState().mode != VM_GCode) {
        drawObjects(false);
        // Whatever pokes out of the build volume is painted over in red.
        RenderSwitches &rs = renderSwitches();
        rs.outsidePass = circularPlatform ? 2 : 1;
        try {
            drawObjects(false);
        } catch (...) {
            rs.outsidePass = 0;
            throw;
        }
        rs.outsidePass = 0;
    }
    drawBedAndVolume();
    if (viewModeState().mode != VM_GCode) {
        drawSupportBars();
        m_tools->drawScene();
    } else if (drawGCodeHook) {
        drawGCodeHook(); // the G-code layers, drawn by the preview
    }

    // Lists of meshes that left the scene are released.
    for (auto it = m_meshLists.begin(); it != m_meshLists.end();)
        it = (*it)->used ? std::next(it) : m_meshLists.erase(it);
    m_pick->releaseUnused();
}

Obj *GlViewer::objectUnderPointer() const
{
    if (!project)
        return nullptr;
    int id = int(PickPass::decode(renderer.pickColor));
    if (id < 1 || id > int(project->objs.size()))
        return nullptr;
    return project->objs[size_t(id - 1)].get();
}

bool GlViewer::pointUnderPointer(QVector3D *point) const
{
    float d = renderer.pointerDepth;
    if (!(d < 0.999999f))
        return false;
    *point = cam.unproject(renderer.pointer.x(), renderer.pointer.y(), d, width(), height(), kFarPlane);
    return true;
}

QString GlViewer::statsLine() const
{
    int polys = 0;
    if (project)
        for (const auto &o : project->objs)
            polys += o->mesh ? o->mesh->count() : 0;
    return QString("FPS:%1 Objs:%2 Polys:%3 WinSize:%4x%5 timeRender:%6us  timeRead:%7us  timeBlt:%8us  timeOverlay:%9us")
        .arg(double(m_fps), 0, 'f', 1)
        .arg(project ? int(project->objs.size()) : 0)
        .arg(polys)
        .arg(width())
        .arg(height())
        .arg(renderer.timeRenderUs)
        .arg(renderer.timeReadUs)
        .arg(timeBltUs)
        .arg(timeOverlayUs);
}

void GlViewer::paintEvent(QPaintEvent *)
{
    float dt = 0.015f;
    if (m_frameClock.isValid()) {
        dt = float(m_frameClock.nsecsElapsed() * 1e-9);
        m_frameClock.restart();
    } else {
        m_frameClock.start();
    }
    if (dt > 0)
        m_fps = m_fps * 0.8f + 0.2f / std::max(dt, 1e-4f);
    animate(std::min(dt, 0.5f));

    renderer.pointer = QPoint(mouse.x, mouse.y);
    lastFrame = renderer.render(size(), [this] { drawPick(); }, [this] { drawMain(); });

    QElapsedTimer t;
    t.start();
    QPainter p(this);
    p.drawImage(0, 0, lastFrame);
    timeBltUs = t.nsecsElapsed() / 1000;
    t.restart();
    m_tools->drawOverlay(p);
    for (auto &overlay : overlays)
        overlay(p);
    if (btnSys)
        btnSys->draw(p, width(), height());
    if (showFPS) {
        p.setPen(Qt::white);
        p.drawText(QRect(6, height() - 22, width() - 12, 18), Qt::AlignLeft | Qt::AlignVCenter, statsLine());
    }
    timeOverlayUs = t.nsecsElapsed() / 1000;
    ++framesPainted;
}

bool GlViewer::offerToHandlers()
{
    if (btnSys) {
        bool looksChanged = false;
        bool mine = btnSys->mouse(mouse, width(), height(), &looksChanged);
        if (looksChanged)
            update();
        if (mine)
            return true;
    }
    for (auto &h : mouseHandlers)
        if (h(mouse))
            return true;
    return false;
}

void GlViewer::mousePressEvent(QMouseEvent *)
{
    if (offerToHandlers())
        return;
    m_tools->mousePress();
}

void GlViewer::mouseMoveEvent(QMouseEvent *)
{
    if (offerToHandlers())
        return;
    m_tools->mouseMove();
    if (m_tools->dragging())
        return;
    // Middle or right button: orbit; with Shift pan, with Ctrl look around.
    if (mouse.buttons & (Qt::RightButton | Qt::MiddleButton)) {
        if (mouse.modifiers & Qt::ShiftModifier)
            cam.pan(mouse.dx, mouse.dy, height());
        else if (mouse.modifiers & Qt::ControlModifier)
            cam.lookAround(mouse.dx * 0.2f, mouse.dy * 0.2f);
        else
            cam.orbit(mouse.dx * 0.4f, mouse.dy * 0.4f);
        update();
    }
}

void GlViewer::mouseReleaseEvent(QMouseEvent *)
{
    if (offerToHandlers())
        return;
    m_tools->mouseRelease();
    update();
}

void GlViewer::keyPressEvent(QKeyEvent *e)
{
    if (!m_tools->keyPress(e))
        QWidget::keyPressEvent(e);
}

void GlViewer::wheelEvent(QWheelEvent *e)
{
    if (offerToHandlers())
        return;
    QVector3D target = cam.center;
    const PickHit hit = pickAt(mouse.x, mouse.y);
    if (hit.hasPoint)
        target = hit.point;
    float factor = std::pow(0.85f, e->angleDelta().y() / 120.0f);
    cam.zoomToward(target, std::max(0.05f, std::min(20.0f, factor)));
    update();
}
