#pragma once
// 4x4 float matrix in column-major order (sixteen floats column by column,
// translation in m[12], m[13], m[14]), as stored in project files. Maps an
// object's local frame to the scene frame.
#include "scene/vec3.h"

#include <xmmintrin.h>

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

// A matrix held as four column registers, for mapping many points: lane i of
// map() is m[i] * x + m[4 + i] * y + m[8 + i] * z + m[12 + i], the products
// and sums of Mat4::map in the same order, so lanes 0-2 equal its result to
// the bit (lane 3 is of no use).
struct Mat4Lanes {
    __m128 c0, c1, c2, c3;
    explicit Mat4Lanes(const Mat4 &m)
        : c0(_mm_loadu_ps(m.m)), c1(_mm_loadu_ps(m.m + 4)), c2(_mm_loadu_ps(m.m + 8)), c3(_mm_loadu_ps(m.m + 12))
    {
    }
    __m128 map(const Vec3 &p) const
    {
        return _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(c0, _mm_set1_ps(p.x)), _mm_mul_ps(c1, _mm_set1_ps(p.y))),
                                     _mm_mul_ps(c2, _mm_set1_ps(p.z))),
                          c3);
    }
};
