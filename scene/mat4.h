#pragma once
// 4x4 float matrix in column-major order (sixteen floats column by column,
// translation in m[12], m[13], m[14]), as stored in project files. Maps an
// object's local frame to the scene frame.
#include "scene/vec3.h"

struct Mat4 {
    float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

    static Mat4 identity() { return Mat4(); }
    static Mat4 translation(const Vec3 &t);
    static Mat4 scaling(const Vec3 &s);
    // Right-handed rotation by `degrees` about axis 0 (X), 1 (Y) or 2 (Z).
    static Mat4 rotation(int axis, float degrees);

    float &at(int row, int col) { return m[col * 4 + row]; }
    float at(int row, int col) const { return m[col * 4 + row]; }

    Vec3 map(const Vec3 &p) const; // point: rotation, scale and translation
    Vec3 mapVector(const Vec3 &v) const; // direction: no translation
    // Determinant of the upper-left 3x3 part; negative means mirrored.
    float det3() const;
    // Inverse of an affine matrix; a singular matrix gives all zeros.
    Mat4 inverted() const;
    Vec3 translationPart() const { return {m[12], m[13], m[14]}; }
    void setTranslation(const Vec3 &t) { m[12] = t.x; m[13] = t.y; m[14] = t.z; }
};

Mat4 operator*(const Mat4 &a, const Mat4 &b);
bool operator==(const Mat4 &a, const Mat4 &b);
inline bool operator!=(const Mat4 &a, const Mat4 &b) { return !(a == b); }
