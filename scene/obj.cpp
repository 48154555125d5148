#include "scene/obj.h"
#include "scene/raycount.h"

#include <cmath>

static Faces *sharedEmptyMesh()
{
    static Faces empty;
    return &empty;
}

Obj::Obj(Project *owner) : project(owner), mesh(sharedEmptyMesh()) {}

Obj::Obj(const Obj &o)
    : project(o.project), mesh(o.mesh), name(o.name), selected(o.selected), hidden(o.hidden),
      transform(o.transform), savedTransform(o.savedTransform), facesReversed(o.facesReversed)
{
    meshChanged();
}

void Obj::setMesh(Faces *m)
{
    mesh = m ? m : sharedEmptyMesh();
    meshChanged();
}

void Obj::meshChanged()
{
    localBox = mesh->boundingBox();
    boxMesh.clear();
    ++meshRevision;
    if (localBox.isEmpty())
        return;
    const Vec3 a = localBox.min, b = localBox.max;
    // Corner k has x from bit 0, y from bit 1, z from bit 2.
    auto c = [&](int k) { return Vec3(k & 1 ? b.x : a.x, k & 2 ? b.y : a.y, k & 4 ? b.z : a.z); };
    // Each face as two counter-clockwise triangles seen from outside.
    static const int quads[6][4] = {
        {0, 4, 6, 2}, {1, 3, 7, 5}, // -x, +x
        {0, 1, 5, 4}, {2, 6, 7, 3}, // -y, +y
        {0, 2, 3, 1}, {4, 5, 7, 6}, // -z, +z
    };
    boxMesh.reserve(12);
    for (const auto &q : quads) {
        boxMesh.append(c(q[0]), c(q[1]), c(q[2]));
        boxMesh.append(c(q[0]), c(q[2]), c(q[3]));
    }
}

Obj::Hit Obj::rayIntersect(char what, const Vec3 &from, const Vec3 &to, const RayMesh *prepared) const
{
    Hit none;
    if ((what == 'p' && !selected) || (what == 'q' && selected))
        return none;
    const Mat4 inv = transform.inverted();
    const Vec3 lf = inv.map(from), lt = inv.map(to);
    const Vec3 d = lt - lf;

    // Keeps the triangle whose hit lies nearest to `from` (scene frame, sum of
    // absolute differences); the earlier one wins a tie.
    auto nearest = [&](const Faces &f, bool backFaces, int *best, Vec3 *bestPoint, const RayMesh *rm) {
        float bestDist = 0;
        *best = -1;
        auto consider = [&](int i, float tt) {
            const Vec3 scenePoint = transform.map(lf + d * tt);
            const float dist = manhattan(scenePoint, from);
            if (*best < 0 || dist < bestDist) {
                *best = i;
                bestDist = dist;
                *bestPoint = scenePoint;
            }
        };
        auto facing = [&](int i) {
            const float dn = dot(d, f.tris[i].n);
            return backFaces ? dn > 0 : dn <= 0;
        };
        if (rm) {
            rm->forEachHit(lf, d, [&](int i, float tt) {
                if (facing(i))
                    consider(i, tt);
            });
            return;
        }
        for (int i = 0; i < f.tris.size(); ++i) {
            const Triangle &t = f.tris[i];
            float tt;
            if (facing(i) && rayCrossesTriangle(lf, d, t.p, t.q, t.r, &tt))
                consider(i, tt);
        }
    };

    int bi;
    Vec3 point;
    nearest(boxMesh, true, &bi, &point, nullptr);
    if (bi < 0)
        return none;
    const bool mirrored = transform.det3() < 0;
    Hit h;
    h.hit = true;
    if (what == 'a') {
        h.point = point;
        // A mapped direction keeps its outward sense even under a mirror.
        const Vec3 n = transform.mapVector(boxMesh.tris[bi].n);
        h.normal = n * (1.0f / std::sqrt(dot(n, n)));
    } else if (what == 'o' || what == 'p' || what == 'q') {
        int mi;
        nearest(*mesh, false, &mi, &point, prepared);
        if (mi < 0)
            return none;
        const Triangle &t = mesh->tris[mi];
        h.point = point;
        h.normal = faceNormal(transform.map(t.p), transform.map(t.q), transform.map(t.r));
        // A mirroring transform turns the mapped triangle inside out.
        if (mirrored)
            h.normal = -h.normal;
    } else {
        throw QString("Obj::rayIntersect() invalid 'what' parameter");
    }
    return h;
}

void Obj::moveBy(const Vec3 &d)
{
    transform = Mat4::translation(d) * transform;
}

void Obj::transformAbout(const Mat4 &m, const Vec3 &pivot)
{
    transform = Mat4::translation(pivot) * m * Mat4::translation(-pivot) * transform;
}

void Obj::mirror(int axis)
{
    if (axis < 0 || axis > 2)
        throw QString("Obj::mirror() invalid axisId");
    Vec3 s(1, 1, 1);
    s[axis] = -1;
    transformAbout(Mat4::scaling(s), sceneBox().center());
}

void Obj::dropToBed()
{
    const Box3 b = sceneBox();
    if (!b.isEmpty())
        moveBy(Vec3(0, -b.min.y, 0));
}
