// GlViewer members for the edit tools: picking under a pixel, rectangle
// picking, screen/scene conversions, and the support-bar and logo passes.
#include "view/glviewer.h"

#include "scene/meshlod.h"
#include "scene/project.h"
#include "view/gllist.h"
#include "view/pickpass.h"
#include "view/shaders.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSet>
#include <cmath>

namespace {
QOpenGLFunctions *glf()
{
    return QOpenGLContext::currentContext()->functions();
}

// Side of the square the rectangle pick is drawn into, at most.
const int kRectPickSize = 256;
// Meshes above this many triangles get a coarse stand-in of about
// kCoarseTriangles while dragging: the software rasteriser's cost grows with
// the triangle count.
const int kCoarseAbove = 60000;
const int kCoarseTriangles = 24000;
} // namespace

PickHit GlViewer::pickAt(int x, int y)
{
    PickHit h;
    if (!project)
        return h;
    unsigned char c[4] = {0, 0, 0, 0};
    float depth = 1;
    try {
        renderer.pick(size(), QPoint(x, y), [this] { drawPick(); }, c, &depth);
    } catch (...) {
        return h; // a failing GL shows in the next frame's error image
    }
    const quint32 code = PickPass::decode(c);
    if (code >= 1 && code <= project->objs.size()) {
        h.kind = PickHit::Object;
        h.index = int(code - 1);
        h.object = project->objs[code - 1].get();
    } else if (code >= PickPass::kBarCode && code - PickPass::kBarCode < quint32(project->bars.size())) {
        h.kind = PickHit::Bar;
        h.index = int(code - PickPass::kBarCode);
    }
    if (depth < 0.999999f) {
        h.point = cam.unproject(float(x), float(y), depth, width(), height(), kFarPlane);
        h.hasPoint = std::isfinite(h.point.x()) && std::isfinite(h.point.y()) && std::isfinite(h.point.z());
    }
    return h;
}

QList<int> GlViewer::objectsInRect(const QRect &rect)
{
    QList<int> out;
    const QRect r = rect.normalized().intersected(QRect(0, 0, width(), height()));
    if (!project || r.isEmpty())
        return out;
    const int w = std::min(r.width(), kRectPickSize), h = std::min(r.height(), kRectPickSize);
    QVector<unsigned char> px(w * h * 4);
    try {
        renderer.makeCurrent();
        renderer.prepareFBO(width(), height());
        QOpenGLFunctions *f = glf();
        f->glViewport(0, 0, w, h);
        f->glScissor(0, 0, w, h);
        f->glEnable(GL_SCISSOR_TEST);
        f->glClearColor(0, 0, 0, 0);
        f->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        f->glEnable(GL_DEPTH_TEST);
        f->glDisable(GL_BLEND);
        if (m_tools->settings.showBackFaces)
            f->glDisable(GL_CULL_FACE);
        else
            f->glEnable(GL_CULL_FACE);
        resetMatrices();
        // The rectangle's part of the view, as the camera frames sub-windows.
        topMatrix('p') = cam.setupProjection(width(), height(), 2000, true, float(r.left()), float(r.top()),
                                             float(r.right() + 1), float(r.bottom() + 1));
        topMatrix('v') = cam.viewMatrix();
        m_pick->draw(*project, [this](const Obj *o) { return drawTransform(o); }, false, QVector3D(), QVector3D(),
                     false);
        f->glPixelStorei(GL_PACK_ALIGNMENT, 1);
        f->glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        f->glPixelStorei(GL_PACK_ALIGNMENT, 4);
        f->glDisable(GL_SCISSOR_TEST);
        f->glEnable(GL_CULL_FACE);
        f->glViewport(0, 0, width(), height());
    } catch (...) {
        return out;
    }
    QSet<quint32> codes;
    for (int i = 0; i < w * h; ++i)
        codes.insert(PickPass::decode(&px[i * 4]));
    for (quint32 c : codes)
        if (c >= 1 && c <= project->objs.size())
            out.append(int(c - 1));
    std::sort(out.begin(), out.end());
    return out;
}

void GlViewer::pixelRay(float x, float y, QVector3D *from, QVector3D *to) const
{
    *from = cam.unproject(x, y, 0, width(), height(), kFarPlane);
    *to = cam.unproject(x, y, 1, width(), height(), kFarPlane);
}

Vec3 GlViewer::rayFrom(int x, int y) const
{
    const QVector3D p = cam.unproject(float(x), float(y), 0, width(), height(), kFarPlane);
    return Vec3(p.x(), p.y(), p.z());
}

Vec3 GlViewer::rayTo(int x, int y) const
{
    const QVector3D p = cam.unproject(float(x), float(y), 1, width(), height(), kFarPlane);
    return Vec3(p.x(), p.y(), p.z());
}

QPointF GlViewer::projectToScreen(const QVector3D &p) const
{
    const QMatrix4x4 pv = cam.setupProjection(width(), height(), kFarPlane) * cam.viewMatrix();
    const QVector4D c = pv * QVector4D(p, 1);
    if (!(std::fabs(c.w()) > 1e-12f))
        return QPointF(width() / 2.0, height() / 2.0);
    // The inverse of unproject's pixel-centre mapping.
    const double nx = c.x() / c.w(), ny = c.y() / c.w();
    return QPointF((nx + 1) / 2 * width() - 0.5, (ny + 1) / 2 * height() - 0.5);
}

void GlViewer::drawSupportBars()
{
    if (!project || project->bars.isEmpty()) {
        m_barList.reset();
        m_barListKey.clear();
        return;
    }
    QVector<float> key;
    key.reserve(project->bars.size() * 7);
    for (const SupportBar &b : project->bars)
        key << b.start.x << b.start.y << b.start.z << b.end.x << b.end.y << b.end.z << b.size;
    if (!m_barList || key != m_barListKey) {
        m_barListKey = key;
        QVector<float> v, n;
        v.reserve(project->bars.size() * 16 * 9);
        n.reserve(project->bars.size() * 16 * 9);
        for (const SupportBar &b : project->bars)
            for (const Triangle &t : b.mesh.tris) {
                const Vec3 nn = isFinite(t.n) ? t.n : Vec3(0, 1, 0);
                for (const Vec3 *p : {&t.p, &t.q, &t.r}) {
                    v << p->x << p->y << p->z;
                    n << nn.x << nn.y << nn.z;
                }
            }
        m_barList.reset(new GLList_Phong(GL_TRIANGLES));
        m_barList->setBuffer('v', v, 3);
        m_barList->setBuffer('n', n, 3);
    }
    // The fade leads from the resting colour to the placing one; with Ctrl
    // held in the Support tool the bars turn red: a click removes.
    const bool removing = editMode == EM_Support && (mouse.modifiers & Qt::ControlModifier);
    const QColor rest = removing ? QColor(235, 90, 70) : QColor(175, 170, 140);
    const QColor placing(255, 215, 70);
    const float k = std::max(0.0f, std::min(1.0f, supportFade));
    const QColor c = QColor::fromRgbF(rest.redF() + (placing.redF() - rest.redF()) * k,
                                      rest.greenF() + (placing.greenF() - rest.greenF()) * k,
                                      rest.blueF() + (placing.blueF() - rest.blueF()) * k);
    m_barList->color = shaderColor(c);
    glf()->glFrontFace(GL_CW);
    m_barList->draw();
}

void GlViewer::drawLogo()
{
    if (circularPlatform)
        return;
    if (!m_logo) {
        // Lies on the bed by its front edge, a quarter of the bed wide.
        m_logo.reset(new GLList_ColorUVTex(GL_TRIANGLES));
        m_logo->texture = "logo.png";
    }
    const float w = volume.W * 0.25f, h = w / 4, x1 = volume.W / 2 - volume.W * 0.04f, x0 = x1 - w;
    const float z1 = volume.D / 2 - volume.D * 0.04f, z0 = z1 - h, y = 0.02f;
    // Reads from the front of the bed: the text runs toward +X.
    const QVector<float> v = {x1, y, z0, x1, y, z1, x0, y, z1, x1, y, z0, x0, y, z1, x0, y, z0};
    const QVector<float> t = {1, 0, 1, 1, 0, 1, 1, 0, 0, 1, 0, 0};
    m_logo->clear();
    m_logo->setBuffer('v', v, 3);
    m_logo->setBuffer('t', t, 2);
    m_logo->color = QVector4D(1, 1, 1, 0.35f);
    QOpenGLFunctions *f = glf();
    f->glDisable(GL_CULL_FACE);
    f->glDepthMask(GL_FALSE);
    m_logo->draw();
    f->glDepthMask(GL_TRUE);
    f->glEnable(GL_CULL_FACE);
}

GLList_Phong *GlViewer::coarseList(const Obj *o, GLList_Phong *full)
{
    const Faces *mesh = o->mesh;
    if (mesh->count() <= kCoarseAbove)
        return full;
    CoarseList &c = m_coarseLists[mesh];
    if (!c.list || c.hash != mesh->hash || c.count != mesh->count()) {
        // Stand-ins of meshes that left the scene go with the first new one.
        for (auto it = m_coarseLists.begin(); it != m_coarseLists.end();)
            it = it.key() != mesh && !m_meshLists.contains(it.key()) ? m_coarseLists.erase(it) : std::next(it);
        CoarseList &e = m_coarseLists[mesh];
        const Faces lod = clusteredMesh(*mesh, kCoarseTriangles);
        QVector<float> v, n;
        v.reserve(lod.count() * 9);
        n.reserve(lod.count() * 9);
        for (const Triangle &t : lod.tris) {
            const Vec3 nn = isFinite(t.n) ? t.n : Vec3(0, 1, 0);
            for (const Vec3 *p : {&t.p, &t.q, &t.r}) {
                v << p->x << p->y << p->z;
                n << nn.x << nn.y << nn.z;
            }
        }
        e.hash = mesh->hash;
        e.count = mesh->count();
        e.list = std::make_shared<GLList_Phong>(GL_TRIANGLES);
        e.list->setBuffer('v', v, 3);
        e.list->setBuffer('n', n, 3);
        return e.list.get();
    }
    return c.list.get();
}
