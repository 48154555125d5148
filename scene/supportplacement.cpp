// Support bars of the project: placement rule, spacing rule and automatic
// generation over a grid.
#include "scene/project.h"
#include "scene/raycount.h"

#include <QElapsedTimer>

#include <cmath>

bool Project::buildBar(const Vec3 &point, const Vec3 &normal, float size, SupportBar *out) const
{
    if (normal.y == 0 || std::isnan(normal.y))
        return false;
    const float d = normal.y > 0 ? 1.0f : -1.0f;
    const Vec3 start = point + Vec3(0, 0.1f * d, 0);
    if (insideAnyObject(start))
        return false;
    const Obj::Hit hit = rayIntersect('o', start, start + Vec3(0, d, 0));
    Vec3 end;
    if (hit.hit)
        end = hit.point;
    else if (d < 0)
        end = Vec3(start.x, 0, start.z);
    else
        return false;
    if (!(std::fabs(start.y - end.y) >= 0.1f))
        return false;
    *out = SupportBar(start, end, size);
    return true;
}

void Project::freeHandBar(const Vec3 &a, const Vec3 &b, float size)
{
    bars.append(SupportBar(a, b, size));
}

static bool nearAnyBarEnd(const QVector<SupportBar> &bars, const Vec3 &p, float dist)
{
    for (const SupportBar &b : bars)
        if (manhattan(b.start, p) < dist || manhattan(b.end, p) < dist)
            return true;
    return false;
}

bool Project::addGeneratedBar(const Vec3 &point, const Vec3 &normal, float size)
{
    // The start point is known before any ray is cast; checking its spacing
    // first skips the costly placement for most grid candidates.
    if (normal.y != 0 && !std::isnan(normal.y)) {
        const Vec3 start = point + Vec3(0, normal.y > 0 ? 0.1f : -0.1f, 0);
        if (nearAnyBarEnd(bars, start, 1.0f))
            return false;
    }
    SupportBar bar;
    if (!buildBar(point, normal, size, &bar))
        return false;
    if (nearAnyBarEnd(bars, bar.start, 1.0f) || nearAnyBarEnd(bars, bar.end, 1.0f)
        || !(manhattan(bar.start, bar.end) >= 1.0f))
        return false;
    bars.append(bar);
    return true;
}

int Project::nearestBarEnd(const Vec3 &p, float dist) const
{
    for (int i = 0; i < bars.size(); ++i)
        if (manhattan(bars[i].start, p) < dist || manhattan(bars[i].end, p) < dist)
            return i;
    return -1;
}

float Project::minBarWidth() const
{
    float w = 0;
    for (int i = 0; i < bars.size(); ++i)
        if (i == 0 || bars[i].size < w)
            w = bars[i].size;
    return w;
}

namespace {

// One object's triangle in the scene frame with its facing kept.
struct PlacedTriangle {
    Vec3 p, q, r, n;
    Box3 box;
};

PlacedTriangle place(const Mat4 &m, bool reverse, const Triangle &lt)
{
    PlacedTriangle t{m.map(lt.p), m.map(lt.q), m.map(lt.r), {}, {}};
    if (reverse)
        std::swap(t.q, t.r);
    t.n = faceNormal(t.p, t.q, t.r);
    t.box.add(t.p);
    t.box.add(t.q);
    t.box.add(t.r);
    return t;
}

bool needsSupport(const PlacedTriangle &t, float threshold)
{
    return t.n.y < threshold && isFinite(t.p) && isFinite(t.q) && isFinite(t.r);
}

// Grid cells whose corner rays are cast under a triangle.
double cellCount(const Box3 &b, float size)
{
    return (std::ceil(double(b.max.x) / size) - std::floor(double(b.min.x) / size) + 1)
         * (std::ceil(double(b.max.z) / size) - std::floor(double(b.min.z) / size) + 1);
}

} // namespace

void Project::generateSupport(float size, float angleDeg, const std::function<void(int)> &progress)
{
    if (!(size > 0) || !std::isfinite(size))
        throw QString("Project::generateSupport() invalid bar size");
    const float t = std::cos(angleDeg * 0.017453292f) - 1.0f;
    qint64 total = 0, done = 0;
    // A bar size far below the scene's scale would mean endless grid rays;
    // refuse it up front instead of hanging.
    double cells = 0;
    for (const auto &o : objs) {
        total += o->mesh->count();
        const bool reverse = (o->transform.det3() < 0) != o->facesReversed;
        for (const Triangle &lt : o->mesh->tris) {
            const PlacedTriangle pt = place(o->transform, reverse, lt);
            if (needsSupport(pt, t))
                cells += cellCount(pt.box, size);
        }
    }
    if (cells > 2e8)
        throw QString("Project::generateSupport() bar size too small for the scene");
    // Every placement casts two rays against whole meshes: lay each mesh out
    // for ray tests once, for the duration of this run.
    struct Prepared {
        std::unordered_map<const Faces *, std::shared_ptr<RayMesh>> &map;
        ~Prepared() { map.clear(); }
    } prepared{m_rayMeshes};
    for (const auto &o : objs)
        if (!m_rayMeshes.count(o->mesh))
            m_rayMeshes.emplace(o->mesh, std::make_shared<RayMesh>(o->mesh->tris));
    QElapsedTimer clock;
    clock.start();
    qint64 lastReport = 0;
    int hits = 0;
    // Only the objects present now are scanned: bars do not change them.
    const size_t objCount = objs.size();
    for (size_t oi = 0; oi < objCount; ++oi) {
        const Obj &o = *objs[oi];
        const Mat4 m = o.transform;
        const bool reverse = (m.det3() < 0) != o.facesReversed;
        const QVector<Triangle> tris = o.mesh->tris; // shared copy: the cache is not touched
        for (const Triangle &lt : tris) {
            ++done;
            const PlacedTriangle pt = place(m, reverse, lt);
            if (!needsSupport(pt, t))
                continue;
            const qint64 i0 = qint64(std::floor(pt.box.min.x / size)), i1 = qint64(std::ceil(pt.box.max.x / size));
            const qint64 j0 = qint64(std::floor(pt.box.min.z / size)), j1 = qint64(std::ceil(pt.box.max.z / size));
            for (qint64 i = i0; i <= i1; ++i)
                for (qint64 j = j0; j <= j1; ++j) {
                    const Vec3 origin(float(i) * size, 0.1f, float(j) * size);
                    float tt;
                    if (!rayCrossesTriangle(origin, Vec3(0, 1, 0), pt.p, pt.q, pt.r, &tt))
                        continue;
                    const Vec3 hit = origin + Vec3(0, 1, 0) * tt;
                    // Snap to the centre of the 2 x 2 cell block: bars stand on
                    // a grid of pitch 2 * size.
                    const Vec3 at(float((i & ~qint64(1)) + 0.5) * size, hit.y,
                                  float((j & ~qint64(1)) + 0.5) * size);
                    addGeneratedBar(at, pt.n, size);
                    if (++hits % 32 == 0 && progress && clock.elapsed() - lastReport > 200) {
                        lastReport = clock.elapsed();
                        progress(int(done * 100 / std::max<qint64>(total, 1)));
                    }
                }
        }
    }
}
