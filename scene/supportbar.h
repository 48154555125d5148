#pragma once
// A support post under an overhang: a prism of square cross-section (edges
// parallel to X and Z) between two points. Only start, end and size are
// stored in project streams; the mesh is rebuilt from them.
#include "scene/faces.h"

struct SupportBar {
    Vec3 start; // mm, the end at the supported surface
    Vec3 end;   // mm, on the bed or on the surface the bar reaches
    float size = 0; // side of the square cross-section, mm
    // 16 triangles in four groups g = 0..3, one per side face:
    //   4g     side half (a0, b1, b0)
    //   4g + 1 side half (a0, a1, b1): a0, a1 at the lower end, b1 above a1;
    //          the face's fourth corner is b1 + a0 - a1
    //   4g + 2 lower cap triangle (lower centre, a1, a0)
    //   4g + 3 upper cap triangle (upper centre, b0, b1)
    // where a_k / b_k are the lower / upper end's corners of side g. Side
    // normals point away from the bar axis; the mesh is closed.
    Faces mesh;

    SupportBar() = default;
    SupportBar(const Vec3 &s, const Vec3 &e, float sz) : start(s), end(e), size(sz) { buildMesh(); }
    void buildMesh();
    Box3 boundingBox() const;
};
