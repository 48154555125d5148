#pragma once
// Small 3D value types of the scene frame: millimetres, Y is the vertical
// axis, the bed is the plane y = 0.
#include <cfloat>
#include <cmath>

struct Vec3 {
    float x = 0, y = 0, z = 0;
    Vec3() = default;
    constexpr Vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
    float &operator[](int i) { return (&x)[i]; }
    float operator[](int i) const { return (&x)[i]; }
};

inline Vec3 operator+(const Vec3 &a, const Vec3 &b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(const Vec3 &a, const Vec3 &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator-(const Vec3 &a) { return {-a.x, -a.y, -a.z}; }
inline Vec3 operator*(const Vec3 &a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline bool operator==(const Vec3 &a, const Vec3 &b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
inline bool operator!=(const Vec3 &a, const Vec3 &b) { return !(a == b); }
inline float dot(const Vec3 &a, const Vec3 &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(const Vec3 &a, const Vec3 &b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// Sum of absolute coordinate differences: the distance the scene uses for
// picking and for support-bar spacing.
inline float manhattan(const Vec3 &a, const Vec3 &b)
{
    return std::fabs(a.x - b.x) + std::fabs(a.y - b.y) + std::fabs(a.z - b.z);
}
inline bool isFinite(const Vec3 &a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }

// Axis-aligned box. The default box is empty (min above max) so that adding
// any point makes it that point.
struct Box3 {
    Vec3 min{FLT_MAX, FLT_MAX, FLT_MAX};
    Vec3 max{-FLT_MAX, -FLT_MAX, -FLT_MAX};
    bool isEmpty() const { return min.x > max.x || min.y > max.y || min.z > max.z; }
    // NaN coordinates are ignored.
    void add(const Vec3 &p)
    {
        for (int i = 0; i < 3; ++i) {
            if (p[i] < min[i])
                min[i] = p[i];
            if (p[i] > max[i])
                max[i] = p[i];
        }
    }
    void add(const Box3 &b)
    {
        if (!b.isEmpty()) {
            add(b.min);
            add(b.max);
        }
    }
    Vec3 size() const { return isEmpty() ? Vec3() : max - min; }
    Vec3 center() const { return isEmpty() ? Vec3() : (min + max) * 0.5f; }
    bool contains(const Vec3 &p) const
    {
        return p.x >= min.x && p.x <= max.x && p.y >= min.y && p.y <= max.y && p.z >= min.z && p.z <= max.z;
    }
};
