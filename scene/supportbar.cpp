#include "scene/supportbar.h"

void SupportBar::buildMesh()
{
    const bool startLow = !(end.y < start.y);
    const Vec3 lo = startLow ? start : end, hi = startLow ? end : start;
    const float h = size * 0.5f;
    // Corners walk so that each side's normal points away from the axis.
    const Vec3 c[4] = {{-h, 0, -h}, {-h, 0, h}, {h, 0, h}, {h, 0, -h}};
    mesh.clear();
    mesh.reserve(16);
    for (int g = 0; g < 4; ++g) {
        const Vec3 a0 = lo + c[g], a1 = lo + c[(g + 1) % 4];
        const Vec3 b0 = hi + c[g], b1 = hi + c[(g + 1) % 4];
        mesh.append(a0, b1, b0);
        mesh.append(a0, a1, b1);
        mesh.append(lo, a1, a0);
        mesh.append(hi, b0, b1);
    }
}

Box3 SupportBar::boundingBox() const { return mesh.boundingBox(); }
