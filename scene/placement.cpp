#include "scene/placement.h"
#include "scene/project.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace placement {

namespace {

bool finite(float v) { return std::isfinite(v); }

bool finiteMat(const Mat4 &m)
{
    return std::all_of(m.m, m.m + 16, [](float v) { return std::isfinite(v); });
}

Vec3 column(const Mat4 &m, int j) { return {m.m[4 * j], m.m[4 * j + 1], m.m[4 * j + 2]}; }

double length(const Vec3 &v) { return std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z); }

Mat4 about(const Mat4 &m, const Vec3 &pivot)
{
    return Mat4::translation(pivot) * m * Mat4::translation(-pivot);
}

// Bottom centre of a box: centre in X and Z, lowest Y.
Vec3 bottomCentre(const Box3 &b)
{
    const Vec3 c = b.center();
    return {c.x, b.isEmpty() ? 0.0f : b.min.y, c.z};
}

// Accepts a new transform only when it is finite; a rejected one leaves the object alone.
bool assign(Obj &o, const Mat4 &m)
{
    if (!finiteMat(m) || m == o.transform)
        return false;
    o.transform = m;
    return true;
}

} // namespace

Mat4 rotationAbout(const Vec3 &axis, double degrees)
{
    const double len = length(axis);
    if (!(len > 0) || !std::isfinite(len) || !std::isfinite(degrees))
        return Mat4();
    const double x = axis.x / len, y = axis.y / len, z = axis.z / len;
    const double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a), t = 1 - c;
    const double r[3][3] = {{t * x * x + c, t * x * y - s * z, t * x * z + s * y},
                            {t * x * y + s * z, t * y * y + c, t * y * z - s * x},
                            {t * x * z - s * y, t * y * z + s * x, t * z * z + c}};
    Mat4 m;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            m.at(row, col) = float(r[row][col]);
    return m;
}

Mat4 rotationOnto(const Vec3 &from, const Vec3 &to)
{
    const double lf = length(from), lt = length(to);
    if (!(lf > 0) || !(lt > 0) || !std::isfinite(lf) || !std::isfinite(lt))
        return Mat4();
    const double c = (double(from.x) * to.x + double(from.y) * to.y + double(from.z) * to.z) / (lf * lt);
    const Vec3 axis = cross(from, to);
    const double s = length(axis) / (lf * lt);
    if (s < 1e-7) {
        if (c > 0)
            return Mat4();
        // Opposite directions: half a turn about any axis across `from`.
        const Vec3 other = std::fabs(from.x) < std::fabs(from.z) ? Vec3(1, 0, 0) : Vec3(0, 0, 1);
        return rotationAbout(cross(from, other), 180.0);
    }
    return rotationAbout(axis, std::atan2(s, c) * 180.0 / M_PI);
}

float snapStep(bool snapChecked, float snapValue, bool shift)
{
    if (snapChecked != shift) {
        if (!finite(snapValue))
            return 180.0f;
        return std::min(180.0f, std::max(0.01f, snapValue));
    }
    return 0.0625f;
}

float snapAngle(float degrees, float step)
{
    if (!finite(degrees) || !(step > 0))
        return 0.0f;
    return float(std::round(double(degrees) / step) * step);
}

void beginDrag(Project &p)
{
    for (auto &o : p.objs)
        o->savedTransform = o->transform;
}

void restoreSaved(Project &p)
{
    for (auto &o : p.objs)
        o->transform = o->savedTransform;
}

bool changedSinceSaved(const Project &p)
{
    return std::any_of(p.objs.begin(), p.objs.end(), [](const auto &o) { return o->transform != o->savedTransform; });
}

Box3 selectionBox(const Project &p, bool saved)
{
    Box3 b;
    for (const auto &o : p.objs)
        if (o->selected)
            b.add(o->mesh->boundingBox(saved ? o->savedTransform : o->transform));
    return b;
}

Vec3 moveSelected(Project &p, Vec3 delta)
{
    for (int k = 0; k < 3; ++k) {
        if (!finite(delta[k]))
            delta[k] = 0;
        // Every selected origin stays within reach; one already beyond it may
        // still come back.
        float lo = -std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::max();
        for (const auto &o : p.objs)
            if (o->selected) {
                const float t = o->savedTransform.m[12 + k];
                lo = std::max(lo, -kReach - t);
                hi = std::min(hi, kReach - t);
            }
        delta[k] = std::max(std::min(lo, 0.0f), std::min(std::max(hi, 0.0f), delta[k]));
    }
    for (auto &o : p.objs)
        if (o->selected) {
            const Mat4 m = Mat4::translation(delta) * o->savedTransform;
            o->transform = finiteMat(m) ? m : o->savedTransform;
        }
    return delta;
}

void rotateSelected(Project &p, const Vec3 &axis, float degrees, const Vec3 &pivot)
{
    const Mat4 r = isFinite(pivot) ? about(rotationAbout(axis, degrees), pivot) : Mat4();
    for (auto &o : p.objs)
        if (o->selected) {
            const Mat4 m = r * o->savedTransform;
            o->transform = finiteMat(m) ? m : o->savedTransform;
        }
}

Vec3 scaleSelected(Project &p, Vec3 factors, const Vec3 &pivot)
{
    for (int k = 0; k < 3; ++k)
        if (!(factors[k] > 0) || !finite(factors[k]))
            factors[k] = 1;
    // The factors raised to t, 0 <= t <= 1: the largest t that keeps every
    // local axis in range. A column already out of range may not get worse.
    auto lengthsOk = [&](double t) {
        for (const auto &o : p.objs) {
            if (!o->selected)
                continue;
            for (int j = 0; j < 3; ++j) {
                const Vec3 c = column(o->savedTransform, j);
                const double l0 = length(c);
                double l2 = 0;
                for (int k = 0; k < 3; ++k) {
                    const double v = c[k] * std::pow(double(factors[k]), t);
                    l2 += v * v;
                }
                const double l = std::sqrt(l2);
                if (l < std::min(double(kMinScale), l0) * (1 - 1e-6) || l > std::max(double(kMaxScale), l0) * (1 + 1e-6))
                    return false;
            }
        }
        return true;
    };
    double t = 1;
    if (!lengthsOk(1)) {
        double lo = 0, hi = 1;
        for (int i = 0; i < 40; ++i) {
            const double mid = (lo + hi) / 2;
            (lengthsOk(mid) ? lo : hi) = mid;
        }
        t = lo;
    }
    Vec3 applied;
    for (int k = 0; k < 3; ++k)
        applied[k] = t == 1 ? factors[k] : float(std::pow(double(factors[k]), t));
    const Mat4 s = isFinite(pivot) ? about(Mat4::scaling(applied), pivot) : Mat4::scaling(applied);
    for (auto &o : p.objs)
        if (o->selected) {
            const Mat4 m = s * o->savedTransform;
            o->transform = finiteMat(m) ? m : o->savedTransform;
        }
    return applied;
}

QList<Obj *> cloneSelected(Project &p)
{
    QList<Obj *> copies;
    const size_t n = p.objs.size();
    for (size_t i = 0; i < n; ++i) {
        Obj &o = *p.objs[i];
        if (!o.selected)
            continue;
        auto c = std::make_unique<Obj>(o);
        c->project = &p;
        o.selected = false;
        copies.append(c.get());
        p.objs.push_back(std::move(c));
    }
    p.updateNames();
    return copies;
}

void removeObjects(Project &p, const QList<Obj *> &objs)
{
    p.objs.erase(std::remove_if(p.objs.begin(), p.objs.end(), [&](const auto &o) { return objs.contains(o.get()); }),
                 p.objs.end());
    p.updateNames();
}

void dropToBed(Project &p, bool selectedOnly)
{
    for (auto &o : p.objs)
        if (o->selected || !selectedOnly)
            o->dropToBed();
}

bool resetRotation(Project &p)
{
    bool changed = false;
    for (auto &o : p.objs) {
        if (!o->selected)
            continue;
        const Mat4 &m = o->transform;
        Mat4 r;
        for (int j = 0; j < 3; ++j)
            r.at(j, j) = float(length(column(m, j)));
        if (m.det3() < 0)
            r.at(0, 0) = -r.at(0, 0);
        bool same = true;
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col)
                same = same && r.at(row, col) == m.at(row, col);
        if (same)
            continue;
        const Box3 before = o->sceneBox();
        const Box3 after = o->mesh->boundingBox(r);
        const Vec3 a = bottomCentre(before), b = bottomCentre(after);
        changed |= assign(*o, Mat4::translation(a - b) * r);
    }
    return changed;
}

bool resetScale(Project &p)
{
    bool changed = false;
    for (auto &o : p.objs) {
        if (!o->selected)
            continue;
        const Mat4 &m = o->transform;
        Mat4 u = m;
        bool unit = true;
        for (int j = 0; j < 3; ++j) {
            const double l = length(column(m, j));
            if (!(l > 0))
                continue;
            unit = unit && std::fabs(l - 1) < 1e-6;
            for (int k = 0; k < 3; ++k)
                u.m[4 * j + k] = float(m.m[4 * j + k] / l);
        }
        if (unit)
            continue;
        const Vec3 a = bottomCentre(o->sceneBox());
        u.setTranslation(Vec3());
        const Vec3 b = bottomCentre(o->mesh->boundingBox(u));
        changed |= assign(*o, Mat4::translation(a - b) * u);
    }
    return changed;
}

bool scaleSelectionBy(Project &p, const Vec3 &factors)
{
    beginDrag(p);
    scaleSelected(p, factors, bottomCentre(selectionBox(p, false)));
    return changedSinceSaved(p);
}

bool mirrorSelected(Project &p, int axis)
{
    if (axis < 0 || axis > 2)
        throw QString("placement::mirrorSelected() invalid axisId");
    bool changed = false;
    for (auto &o : p.objs)
        if (o->selected) {
            const Mat4 before = o->transform;
            o->mirror(axis);
            if (!finiteMat(o->transform))
                o->transform = before;
            changed |= o->transform != before;
        }
    return changed;
}

bool realignAll(Project &p, float bedWidth, float gap)
{
    if (!finite(bedWidth) || bedWidth <= 0)
        bedWidth = 200;
    if (!finite(gap) || gap < 0)
        gap = 5;
    std::vector<Mat4> before;
    for (const auto &o : p.objs)
        before.push_back(o->transform);
    // Rows along X from the origin toward +X, the next row behind (+Z).
    float x = 0, z = 0, rowDepth = 0;
    bool rowEmpty = true;
    Box3 all;
    for (auto &o : p.objs) {
        const Box3 b = o->sceneBox();
        if (b.isEmpty() || !isFinite(b.min) || !isFinite(b.max))
            continue;
        const Vec3 s = b.size();
        if (!rowEmpty && x + s.x > bedWidth) {
            x = 0;
            z += rowDepth + gap;
            rowDepth = 0;
        }
        o->moveBy(Vec3(x - b.min.x, -b.min.y, z - b.min.z));
        all.add(o->sceneBox());
        x += s.x + gap;
        rowDepth = std::max(rowDepth, s.z);
        rowEmpty = false;
    }
    if (!all.isEmpty()) {
        const Vec3 c = all.center();
        for (auto &o : p.objs)
            if (!o->sceneBox().isEmpty())
                o->moveBy(Vec3(-c.x, 0, -c.z));
    }
    bool changed = false;
    for (size_t i = 0; i < p.objs.size(); ++i) {
        if (!finiteMat(p.objs[i]->transform))
            p.objs[i]->transform = before[i];
        changed |= p.objs[i]->transform != before[i];
    }
    return changed;
}

bool layFaceDown(Obj &o, const Vec3 &normal)
{
    if (!isFinite(normal) || !(length(normal) > 0))
        return false;
    const Mat4 before = o.transform;
    const Vec3 c = o.sceneBox().center();
    o.transform = about(rotationOnto(normal, Vec3(0, -1, 0)), c) * o.transform;
    o.dropToBed();
    if (!finiteMat(o.transform))
        o.transform = before;
    return o.transform != before;
}

int firstTriangleHit(const Obj &o, const Vec3 &from, const Vec3 &to)
{
    const Mat4 inv = o.transform.inverted();
    const Vec3 lf = inv.map(from), d = inv.map(to) - lf;
    if (!isFinite(lf) || !isFinite(d))
        return -1;
    int best = -1;
    float bestT = 0;
    for (int i = 0; i < o.mesh->count(); ++i) {
        const Triangle &t = o.mesh->tris[i];
        float tt;
        if (dot(d, t.n) <= 0 && rayCrossesTriangle(lf, d, t.p, t.q, t.r, &tt) && (best < 0 || tt < bestT)) {
            best = i;
            bestT = tt;
        }
    }
    return best;
}

Vec3 sceneNormal(const Obj &o, int tri)
{
    const Triangle &t = o.mesh->tris[tri];
    const Vec3 n = faceNormal(o.transform.map(t.p), o.transform.map(t.q), o.transform.map(t.r));
    return o.transform.det3() < 0 ? -n : n;
}

QVector<int> coplanarFace(const Faces &mesh, int tri)
{
    QVector<int> out;
    if (tri < 0 || tri >= mesh.count())
        return out;
    // Normals in double: the stored ones carry the fast square root's error.
    auto unitNormal = [&](int i, double n[3]) {
        const Triangle &t = mesh.tris[i];
        const double e1[3] = {double(t.q.x) - t.p.x, double(t.q.y) - t.p.y, double(t.q.z) - t.p.z};
        const double e2[3] = {double(t.r.x) - t.p.x, double(t.r.y) - t.p.y, double(t.r.z) - t.p.z};
        n[0] = e1[1] * e2[2] - e1[2] * e2[1];
        n[1] = e1[2] * e2[0] - e1[0] * e2[2];
        n[2] = e1[0] * e2[1] - e1[1] * e2[0];
        const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (!(l > 0) || !std::isfinite(l))
            return false;
        for (int k = 0; k < 3; ++k)
            n[k] /= l;
        return true;
    };
    double n0[3];
    if (!unitNormal(tri, n0))
        return out;
    const Vec3 &p0 = mesh.tris[tri].p;
    const double d0 = n0[0] * p0.x + n0[1] * p0.y + n0[2] * p0.z;
    const double cosTol = std::cos(0.5 * M_PI / 180.0);
    out.append(tri);
    for (int i = 0; i < mesh.count(); ++i) {
        if (i == tri)
            continue;
        double n[3];
        if (!unitNormal(i, n) || n[0] * n0[0] + n[1] * n0[1] + n[2] * n0[2] < cosTol)
            continue;
        const Triangle &t = mesh.tris[i];
        bool inPlane = true;
        for (const Vec3 *v : {&t.p, &t.q, &t.r})
            inPlane = inPlane && std::fabs(n0[0] * v->x + n0[1] * v->y + n0[2] * v->z - d0) <= 0.01;
        if (inPlane)
            out.append(i);
    }
    return out;
}

} // namespace placement
