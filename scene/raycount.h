#pragma once
// Many rays against one mesh: the orientation check's and the support
// generation's hot path. Every answer equals, ray for ray, that of calling
// rayCrossesTriangle on each triangle in order: the same float operations in
// the same order, four triangles per SSE lane group.
#include "scene/faces.h"

#include <functional>
#include <vector>

struct CrossingRay {
    Vec3 origin;
    Vec3 dir;
    int skip; // index of a triangle not to test, or -1
};

// A mesh laid out for ray tests (P, Q - P, R - P of four triangles at a time).
class RayMesh {
public:
    explicit RayMesh(const QVector<Triangle> &tris);
    // Crossings of origin + t * dir (t >= 0) with all triangles but `skip`.
    int crossings(const Vec3 &origin, const Vec3 &dir, int skip = -1) const;
    // Calls hit(index, t) for every crossed triangle, in index order.
    void forEachHit(const Vec3 &origin, const Vec3 &dir, const std::function<void(int, float)> &hit) const;

    struct alignas(16) Block4 {
        float px[4], py[4], pz[4];
        float e1x[4], e1y[4], e1z[4];
        float e2x[4], e2y[4], e2z[4];
    };

private:
    friend QVector<int> countCrossings(const QVector<Triangle> &, const QVector<CrossingRay> &, bool);
    std::vector<Block4> blocks;
};

// Crossing counts of every ray, rays split over the OpenMP threads. Eight
// triangles at a time where the processor has AVX (the same operations, so
// the same counts); wide = false keeps to four, as the tests compare.
QVector<int> countCrossings(const QVector<Triangle> &tris, const QVector<CrossingRay> &rays,
                            bool wide = true);
