#include "scene/project.h"
#include "scene/raycount.h"

#include <QBuffer>
#include <QDataStream>
#include <QFileInfo>

#include <algorithm>

namespace {

const quint32 kSignature = 0xEEDAED98u;
// Smallest object record: empty name, transform, two flags, reference, reserved.
const qint64 kMinObjectBytes = 4 + 64 + 2 + 4 + 4;
const qint64 kBarBytes = 7 * 4;

void setupStream(QDataStream &s)
{
    s.setVersion(14);
    s.setByteOrder(QDataStream::LittleEndian);
    s.setFloatingPointPrecision(QDataStream::SinglePrecision);
}

qint64 remaining(const QDataStream &s) { return s.device() ? s.device()->bytesAvailable() : 0; }

void writeVec(QDataStream &s, const Vec3 &v) { s << v.x << v.y << v.z; }
Vec3 readVec(QDataStream &s)
{
    Vec3 v;
    s >> v.x >> v.y >> v.z;
    return v;
}

} // namespace

QByteArray Project::saveToStr(bool cacheMode) const
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    setupStream(s);
    s << kSignature << qint32(objs.size());
    QVector<quint32> inlined;
    for (const auto &o : objs) {
        s << o->name;
        for (float f : o->transform.m)
            s << f;
        s << o->selected << o->hidden;
        const quint32 h = o->mesh->hash;
        // Hash 0 is the "inline follows" marker, so a mesh hashing to 0 (the
        // empty one) is always written inline.
        if (cacheMode) {
            s << h;
        } else if (h != 0 && std::find(inlined.rbegin(), inlined.rend(), h) != inlined.rend()) {
            s << h;
        } else {
            s << quint32(0);
            o->mesh->writeBlock(s);
            inlined.append(h);
        }
        s << quint32(0);
    }
    s << qint32(bars.size());
    for (const SupportBar &b : bars) {
        writeVec(s, b.start);
        writeVec(s, b.end);
        s << b.size;
    }
    return out;
}

void Project::loadFromStr(const QByteArray &data, bool cacheMode)
{
    // The snapshot of a new document is empty: the empty scene.
    if (data.isEmpty()) {
        objs.clear();
        bars.clear();
        modified = false;
        return;
    }
    QDataStream s(data);
    setupStream(s);
    quint32 sig = 0;
    s >> sig;
    if (sig != kSignature)
        throw QString("Project::loadFromStr() Invalid file signature.");
    qint32 count = 0;
    s >> count;
    if (qint64(count) > remaining(s) / kMinObjectBytes)
        throw QString("Project::loadFromStr() Corrupt data: object count exceeds the remaining bytes.");
    const auto truncated = [] { return QString("Project::loadFromStr() Corrupt data: unexpected end of data."); };

    // Everything is read into new lists first; the scene changes only once
    // the objects were read completely.
    std::vector<std::unique_ptr<Obj>> fresh;
    fresh.reserve(size_t(std::max(count, 0)));
    for (qint32 i = 0; i < count; ++i) {
        auto o = std::make_unique<Obj>(this);
        s >> o->name;
        for (float &f : o->transform.m)
            s >> f;
        o->savedTransform = o->transform;
        quint32 ref = 0;
        s >> o->selected >> o->hidden >> ref;
        if (s.status() != QDataStream::Ok)
            throw truncated();
        Faces *mesh;
        if (ref == 0 && !cacheMode) {
            Faces f;
            f.readBlock(s);
            if (s.status() != QDataStream::Ok)
                throw truncated();
            mesh = cache.registerMesh(f);
        } else if (ref == 0) {
            Faces empty;
            mesh = cache.registerMesh(empty);
        } else {
            mesh = cache.lookup(ref);
        }
        o->setMesh(mesh);
        quint32 reserved;
        s >> reserved;
        if (s.status() != QDataStream::Ok)
            throw truncated();
        fresh.push_back(std::move(o));
    }

    // The bar list ends quietly where the data ends.
    QVector<SupportBar> freshBars;
    qint32 nb = 0;
    s >> nb;
    if (nb > 0)
        freshBars.reserve(int(std::min<qint64>(nb, remaining(s) / kBarBytes)));
    for (qint32 i = 0; i < nb && s.status() == QDataStream::Ok; ++i) {
        SupportBar b;
        b.start = readVec(s);
        b.end = readVec(s);
        s >> b.size;
        if (s.status() != QDataStream::Ok)
            break;
        b.buildMesh();
        freshBars.append(b);
    }

    objs = std::move(fresh);
    bars = freshBars;
    updateNames();
    modified = false;
}

void Project::loadFile(const QByteArray &data)
{
    if (data.isEmpty()) {
        clear();
        return;
    }
    FacesCache old;
    old.swap(cache);
    try {
        loadFromStr(data, false);
    } catch (...) {
        cache.swap(old);
        throw;
    }
}

void Project::clear()
{
    objs.clear();
    bars.clear();
    cache.clear();
    modified = false;
}

void Project::updateNames()
{
    for (size_t i = 0; i < objs.size(); ++i) {
        Obj &o = *objs[i];
        int n = 1;
        for (size_t k = 0; k < i; ++k)
            if (objs[k]->name == o.name)
                ++n;
        if (n < 2) {
            o.displayName = o.name;
            continue;
        }
        o.displayName = QString("%1(%2)").arg(o.name).arg(n);
        if (n == 2)
            for (size_t k = 0; k < i; ++k)
                if (objs[k]->name == o.name)
                    objs[k]->displayName = o.name + "(1)";
    }
}

Obj *Project::addObject(const QString &path, bool select)
{
    Faces mesh;
    mesh.importFile(path);
    return addObject(std::move(mesh), QFileInfo(path).completeBaseName(), select);
}

Obj *Project::addObject(Faces mesh, const QString &name, bool select)
{
    mesh.moveToAnchor(Vec3(0, -1, 0));
    auto o = std::make_unique<Obj>(this);
    o->setMesh(cache.registerMesh(mesh));
    o->name = name;
    const Vec3 size = o->localBox.size();
    const float e = std::max({size.x, size.y, size.z});
    float scale = 1.0f;
    if (!o->localBox.isEmpty() && e < 4.0f)
        scale = 25.4f; // drawn in inches
    else if (e > 400.0f)
        scale = 0.1f; // drawn in tenths of a millimetre
    o->transform = Mat4::scaling(Vec3(scale, scale, scale));
    o->savedTransform = o->transform;
    if (select) {
        selectNone();
        o->selected = true;
    }
    Obj *raw = o.get();
    objs.push_back(std::move(o));
    updateNames();
    return raw;
}

void Project::selectAll()
{
    for (auto &o : objs)
        o->selected = true;
}

void Project::selectNone()
{
    for (auto &o : objs)
        o->selected = false;
}

bool Project::anySelected() const
{
    return std::any_of(objs.begin(), objs.end(), [](const auto &o) { return o->selected; });
}

QList<Obj *> Project::selectedObjects() const
{
    QList<Obj *> out;
    for (const auto &o : objs)
        if (o->selected)
            out.append(o.get());
    return out;
}

void Project::deleteSelected()
{
    for (size_t i = objs.size(); i-- > 0;)
        if (objs[i]->selected)
            objs.erase(objs.begin() + long(i));
}

Box3 Project::objectsBox() const
{
    Box3 b;
    for (const auto &o : objs)
        b.add(o->sceneBox());
    return b;
}

Box3 Project::sceneBox() const
{
    Box3 b = objectsBox();
    for (const SupportBar &bar : bars)
        b.add(bar.boundingBox());
    if (b.isEmpty())
        return Box3{Vec3(), Vec3()};
    return b;
}

Obj::Hit Project::rayIntersect(char what, const Vec3 &from, const Vec3 &to) const
{
    Obj::Hit best;
    float bestDist = 0;
    for (const auto &o : objs) {
        const Obj::Hit h = o->rayIntersect(what, from, to, preparedFor(*o));
        if (!h.hit)
            continue;
        const float d = manhattan(h.point, from);
        if (!best.hit || d < bestDist) {
            best = h;
            bestDist = d;
        }
    }
    return best;
}

bool Project::insideAnyObject(const Vec3 &p) const
{
    for (const auto &o : objs) {
        const Vec3 local = o->transform.inverted().map(p);
        if (!o->localBox.contains(local))
            continue;
        const Vec3 through = local + Vec3(0, 1, 0);
        const RayMesh *rm = preparedFor(*o);
        const int n = rm ? rm->crossings(local, through - local) : o->mesh->rayCrossings(local, through, -1);
        if (n & 1)
            return true;
    }
    return false;
}

const RayMesh *Project::preparedFor(const Obj &o) const
{
    auto it = m_rayMeshes.find(o.mesh);
    return it == m_rayMeshes.end() ? nullptr : it->second.get();
}

int Project::triangleCount() const
{
    int total = 0;
    for (const auto &o : objs)
        total += o->mesh->count();
    return total;
}

QVector<Triangle> Project::gatherTriangles(bool normals) const
{
    QVector<Triangle> out(triangleCount());
    Triangle *dst = out.data();
    for (const auto &o : objs) {
        const Mat4Lanes ml(o->transform);
        const bool reverse = (o->transform.det3() < 0) != o->facesReversed;
        const Triangle *src = o->mesh->tris.constData();
        const int n = o->mesh->count();
        // Each triangle is written by itself: the same result for any
        // thread count. Four-float stores run one float into the next
        // field, which the following store (or the normal) overwrites.
#pragma omp parallel for schedule(static) if (n > 20000)
        for (int i = 0; i < n; ++i) {
            const Triangle &t = src[i];
            Triangle &d = dst[i];
            _mm_storeu_ps(&d.p.x, ml.map(t.p));
            _mm_storeu_ps(&d.q.x, ml.map(reverse ? t.r : t.q));
            _mm_storeu_ps(&d.r.x, ml.map(reverse ? t.q : t.r));
            d.n = normals ? faceNormal(d.p, d.q, d.r) : Vec3();
        }
        dst += n;
    }
    return out;
}
