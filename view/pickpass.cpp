#include "view/pickpass.h"

#include "scene/project.h"
#include "view/shaders.h"

#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <algorithm>
#include <cmath>

namespace {

const int kChunkTriangles = 512;

// Interleaves the low 10 bits of v with two zero bits after each.
quint32 spread(quint32 v)
{
    v &= 0x3ff;
    v = (v | (v << 16)) & 0x030000ff;
    v = (v | (v << 8)) & 0x0300f00f;
    v = (v | (v << 4)) & 0x030c30c3;
    v = (v | (v << 2)) & 0x09249249;
    return v;
}

} // namespace

bool segmentHitsBox(const Vec3 &a, const Vec3 &b, const Box3 &box)
{
    if (box.isEmpty())
        return false;
    double t0 = 0, t1 = 1;
    for (int k = 0; k < 3; ++k) {
        const double d = double(b[k]) - a[k];
        if (std::fabs(d) < 1e-12) {
            if (a[k] < box.min[k] || a[k] > box.max[k])
                return false;
            continue;
        }
        double u0 = (box.min[k] - double(a[k])) / d, u1 = (box.max[k] - double(a[k])) / d;
        if (u0 > u1)
            std::swap(u0, u1);
        t0 = std::max(t0, u0);
        t1 = std::min(t1, u1);
        if (t0 > t1)
            return false;
    }
    return true;
}

PickPass::PickPass() = default;
PickPass::~PickPass() = default;

QVector4D PickPass::codeColor(quint32 code)
{
    return QVector4D(float(code & 255), float((code >> 8) & 255), float((code >> 16) & 255), 255.0f) / 255.0f;
}

quint32 PickPass::decode(const unsigned char rgba[4])
{
    return quint32(rgba[0]) | (quint32(rgba[1]) << 8) | (quint32(rgba[2]) << 16);
}

PickPass::MeshPick &PickPass::meshPick(const Faces *mesh)
{
    std::shared_ptr<MeshPick> &mp = m_meshes[mesh];
    if (mp && mp->hash == mesh->hash && mp->triangles == mesh->count()) {
        mp->used = true;
        return *mp;
    }
    mp = std::make_shared<MeshPick>();
    mp->hash = mesh->hash;
    mp->triangles = mesh->count();
    mp->used = true;
    const int n = mesh->count();
    // Triangles in Morton order of their centres: neighbours in the list are
    // neighbours in space, so consecutive runs make tight boxes.
    const Box3 box = mesh->boundingBox();
    const Vec3 size = box.size();
    std::vector<std::pair<quint32, int>> order(size_t(n), {0, 0});
    for (int i = 0; i < n; ++i) {
        const Triangle &t = mesh->tris[i];
        quint32 code = 0;
        for (int k = 0; k < 3; ++k) {
            const float c = (t.p[k] + t.q[k] + t.r[k]) / 3.0f;
            const float u = size[k] > 0 ? (c - box.min[k]) / size[k] : 0.0f;
            const quint32 q = std::isfinite(u) ? quint32(std::max(0.0f, std::min(1.0f, u)) * 1023.0f) : 0;
            code |= spread(q) << k;
        }
        order[size_t(i)] = {code, i};
    }
    std::sort(order.begin(), order.end());
    QVector<float> v;
    v.reserve(n * 9);
    for (int c0 = 0; c0 < n; c0 += kChunkTriangles) {
        Chunk ch;
        ch.first = c0 * 3;
        const int c1 = std::min(n, c0 + kChunkTriangles);
        ch.count = (c1 - c0) * 3;
        for (int k = c0; k < c1; ++k) {
            const Triangle &t = mesh->tris[order[size_t(k)].second];
            for (const Vec3 *p : {&t.p, &t.q, &t.r}) {
                v << p->x << p->y << p->z;
                ch.box.add(*p);
            }
        }
        mp->chunks.append(ch);
    }
    mp->buffer = std::make_shared<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
    mp->buffer->create();
    mp->buffer->setUsagePattern(QOpenGLBuffer::StaticDraw);
    mp->buffer->bind();
    mp->buffer->allocate(v.constData(), v.size() * int(sizeof(float)));
    mp->buffer->release();
    return *mp;
}

void PickPass::draw(const Project &p, const std::function<QMatrix4x4(const Obj *)> &transformOf, bool rayCull,
                    const QVector3D &from, const QVector3D &to, bool bars)
{
    QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
    QOpenGLShaderProgram &prog = getShaderProgram("Pick");
    prog.bind();
    const int loc = prog.attributeLocation("a_vertex");
    const QMatrix4x4 pv = topMatrix('p') * topMatrix('v');
    const Vec3 a(from.x(), from.y(), from.z()), b(to.x(), to.y(), to.z());

    auto drawRange = [&](QOpenGLBuffer &buf, int first, int count) {
        buf.bind();
        prog.setAttributeBuffer(loc, GL_FLOAT, 0, 3, 0);
        prog.enableAttributeArray(loc);
        f->glDrawArrays(GL_TRIANGLES, first, count);
        prog.disableAttributeArray(loc);
        buf.release();
    };

    for (size_t i = 0; i < p.objs.size(); ++i) {
        const Obj *o = p.objs[i].get();
        if (o->hidden || !o->mesh || o->mesh->isEmpty())
            continue;
        const QMatrix4x4 m = transformOf(o);
        bool invertible = true;
        const QMatrix4x4 inv = m.inverted(&invertible);
        Vec3 la = a, lb = b;
        if (rayCull) {
            if (!invertible)
                continue; // flat in some direction: no area for a ray to meet
            const QVector3D qa = inv.map(from), qb = inv.map(to);
            la = Vec3(qa.x(), qa.y(), qa.z());
            lb = Vec3(qb.x(), qb.y(), qb.z());
            if (!segmentHitsBox(la, lb, o->localBox))
                continue;
        }
        MeshPick &mp = meshPick(o->mesh);
        prog.setUniformValue("mvp_matrix", pv * m);
        prog.setUniformValue("u_color", codeColor(quint32(i) + 1));
        // As the objects are drawn: the mirrored projection makes front faces
        // clockwise, and a mirroring transform turns them once more.
        f->glFrontFace(m.determinant() < 0 ? GL_CCW : GL_CW);
        if (!rayCull) {
            drawRange(*mp.buffer, 0, mp.triangles * 3);
            continue;
        }
        // Runs of neighbouring chunks go in one call.
        int runFirst = -1, runCount = 0;
        for (const Chunk &ch : mp.chunks) {
            if (segmentHitsBox(la, lb, ch.box)) {
                if (runFirst >= 0 && runFirst + runCount == ch.first) {
                    runCount += ch.count;
                    continue;
                }
                if (runFirst >= 0)
                    drawRange(*mp.buffer, runFirst, runCount);
                runFirst = ch.first;
                runCount = ch.count;
            }
        }
        if (runFirst >= 0)
            drawRange(*mp.buffer, runFirst, runCount);
    }
    f->glFrontFace(GL_CW);

    if (bars && !p.bars.isEmpty()) {
        QVector<float> key;
        key.reserve(p.bars.size() * 7);
        for (const SupportBar &sb : p.bars)
            key << sb.start.x << sb.start.y << sb.start.z << sb.end.x << sb.end.y << sb.end.z << sb.size;
        if (!m_barBuffer || key != m_barKey) {
            m_barKey = key;
            QVector<float> v;
            v.reserve(p.bars.size() * 16 * 9);
            for (const SupportBar &sb : p.bars)
                for (const Triangle &t : sb.mesh.tris)
                    v << t.p.x << t.p.y << t.p.z << t.q.x << t.q.y << t.q.z << t.r.x << t.r.y << t.r.z;
            m_barBuffer = std::make_shared<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
            m_barBuffer->create();
            m_barBuffer->bind();
            m_barBuffer->allocate(v.constData(), v.size() * int(sizeof(float)));
            m_barBuffer->release();
        }
        prog.setUniformValue("mvp_matrix", pv);
        int first = 0;
        for (int i = 0; i < p.bars.size(); ++i) {
            const SupportBar &sb = p.bars[i];
            const int count = sb.mesh.count() * 3;
            if (!rayCull || segmentHitsBox(a, b, sb.boundingBox())) {
                prog.setUniformValue("u_color", codeColor(kBarCode + quint32(i)));
                drawRange(*m_barBuffer, first, count);
            }
            first += count;
        }
    } else if (p.bars.isEmpty()) {
        m_barBuffer.reset();
        m_barKey.clear();
    }
    prog.release();
}

void PickPass::drawBed(float halfW, float halfD)
{
    if (!m_bedBuffer || m_bedKey[0] != halfW || m_bedKey[1] != halfD) {
        m_bedKey[0] = halfW;
        m_bedKey[1] = halfD;
        const float v[] = {-halfW, 0, -halfD, -halfW, 0, halfD, halfW, 0, halfD,
                           -halfW, 0, -halfD, halfW, 0, halfD, halfW, 0, -halfD};
        m_bedBuffer = std::make_shared<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
        m_bedBuffer->create();
        m_bedBuffer->bind();
        m_bedBuffer->allocate(v, int(sizeof v));
        m_bedBuffer->release();
    }
    QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
    QOpenGLShaderProgram &prog = getShaderProgram("Pick");
    prog.bind();
    prog.setUniformValue("mvp_matrix", topMatrix('p') * topMatrix('v'));
    prog.setUniformValue("u_color", codeColor(0));
    const int loc = prog.attributeLocation("a_vertex");
    // Seen from above or below alike.
    const GLboolean cull = f->glIsEnabled(GL_CULL_FACE);
    f->glDisable(GL_CULL_FACE);
    m_bedBuffer->bind();
    prog.setAttributeBuffer(loc, GL_FLOAT, 0, 3, 0);
    prog.enableAttributeArray(loc);
    f->glDrawArrays(GL_TRIANGLES, 0, 6);
    prog.disableAttributeArray(loc);
    m_bedBuffer->release();
    if (cull)
        f->glEnable(GL_CULL_FACE);
    prog.release();
}

void PickPass::releaseUnused()
{
    for (auto it = m_meshes.begin(); it != m_meshes.end();) {
        if (!(*it)->used) {
            it = m_meshes.erase(it);
        } else {
            (*it)->used = false;
            ++it;
        }
    }
}
