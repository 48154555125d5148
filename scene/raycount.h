#pragma once
// Counting ray crossings of many rays against a whole mesh at once: the
// orientation check's hot path. The counts equal, ray for ray, those of
// calling rayCrossesTriangle on every triangle (same float operations in the
// same order, four triangles per SSE lane group, rays split over threads).
#include "scene/faces.h"

struct CrossingRay {
    Vec3 origin;
    Vec3 dir;
    int skip; // index of a triangle not to test, or -1
};

QVector<int> countCrossings(const QVector<Triangle> &tris, const QVector<CrossingRay> &rays);
