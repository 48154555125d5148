#include "scene/meshlod.h"

#include <QHash>
#include <cmath>

namespace {

// One clustering pass with `cells` cells along the box's longest side.
Faces clusterPass(const Faces &mesh, const Box3 &box, int cells)
{
    const Vec3 size = box.size();
    const float longest = std::max({size.x, size.y, size.z});
    const float cell = longest > 0 ? longest / float(cells) : 1.0f;
    auto key = [&](const Vec3 &p) {
        const quint64 i = quint64(std::min(4095.0f, std::max(0.0f, (p.x - box.min.x) / cell)));
        const quint64 j = quint64(std::min(4095.0f, std::max(0.0f, (p.y - box.min.y) / cell)));
        const quint64 k = quint64(std::min(4095.0f, std::max(0.0f, (p.z - box.min.z) / cell)));
        return (i << 24) | (j << 12) | k;
    };
    struct Sum {
        double x = 0, y = 0, z = 0;
        int n = 0;
    };
    QHash<quint64, Sum> sums;
    sums.reserve(mesh.count());
    for (const Triangle &t : mesh.tris)
        for (const Vec3 *p : {&t.p, &t.q, &t.r})
            if (isFinite(*p)) {
                Sum &s = sums[key(*p)];
                s.x += p->x;
                s.y += p->y;
                s.z += p->z;
                ++s.n;
            }
    Faces out;
    for (const Triangle &t : mesh.tris) {
        if (!isFinite(t.p) || !isFinite(t.q) || !isFinite(t.r))
            continue;
        const quint64 a = key(t.p), b = key(t.q), c = key(t.r);
        if (a == b || b == c || a == c)
            continue;
        auto mean = [&](quint64 k) {
            const Sum &s = sums[k];
            return Vec3(float(s.x / s.n), float(s.y / s.n), float(s.z / s.n));
        };
        out.append(mean(a), mean(b), mean(c));
    }
    return out;
}

} // namespace

Faces clusteredMesh(const Faces &mesh, int targetTriangles)
{
    if (mesh.count() <= targetTriangles || targetTriangles < 1)
        return mesh;
    const Box3 box = mesh.boundingBox();
    if (box.isEmpty())
        return mesh;
    // A surface of cells^2 occupied cells keeps about that many triangles
    // times a constant: one trial pass gives the constant.
    int cells = 128;
    Faces out = clusterPass(mesh, box, cells);
    for (int tries = 0; tries < 4 && out.count() > targetTriangles; ++tries) {
        const double k = std::sqrt(double(targetTriangles) / std::max(1, out.count()));
        cells = std::max(2, std::min(cells - 1, int(cells * k * 0.95)));
        out = clusterPass(mesh, box, cells);
    }
    return out;
}
