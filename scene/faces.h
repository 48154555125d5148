#pragma once
// The triangle mesh of the scene: objects' geometry, loaded model files and
// the meshes inside project streams. Coordinates are mm in the internal frame
// (Y up); STL files with Z up are converted on reading and writing.
#include "scene/vec3.h"
#include "scene/mat4.h"

#include <QByteArray>
#include <QString>
#include <QVector>

class QDataStream;

// Twelve floats: three corners in order, then the unit normal derived from
// them (counter-clockwise seen from outside gives an outward normal).
struct Triangle {
    Vec3 p, q, r, n;
};
static_assert(sizeof(Triangle) == 48, "Triangle must be twelve packed floats");

// n = normalise((q - p) x (r - p)) with the processor's fast reciprocal square
// root (relative error about 2^-12). Degenerate triangles get a NaN normal.
Vec3 faceNormal(const Vec3 &p, const Vec3 &q, const Vec3 &r);

// Möller–Trumbore test of the ray origin + t*dir (t >= 0) against one
// triangle; on a crossing stores t when `t` is given.
bool rayCrossesTriangle(const Vec3 &origin, const Vec3 &dir, const Vec3 &p, const Vec3 &q,
                        const Vec3 &r, float *t = nullptr);

class Faces {
public:
    QVector<Triangle> tris; // file order
    quint32 hash = 0;       // content hash; 0 until registered in a FacesCache
    quint8 flag = 0;

    int count() const { return tris.size(); }
    bool isEmpty() const { return tris.isEmpty(); }
    void clear() { tris.clear(); }
    void reserve(int n);
    void append(const Vec3 &p, const Vec3 &q, const Vec3 &r);
    void translate(const Vec3 &v);
    // Moves the point centre + anchor * half-size of the bounding box onto the
    // origin; (0, -1, 0) puts the bottom centre there.
    void moveToAnchor(const Vec3 &anchor);
    Box3 boundingBox() const;
    Box3 boundingBox(const Mat4 &m) const;
    // CRC-32 over the nine vertex floats of every triangle (normals excluded).
    quint32 contentHash() const;

    // Replaces the content with the file's mesh, then turns it outward when
    // the orientation check fails. Returns true when it was flipped. Throws a
    // message text (QString) on a missing file, an unknown extension or a
    // corrupt file; after a failure other than "not found" the mesh is empty.
    bool importFile(const QString &path);
    // The same without the file system; `ext` is ".stl" or ".obj" (any case).
    bool importBytes(const QByteArray &data, const QString &ext);
    // Serialises as ".stl" (binary or ASCII) or ".obj"; throws on another
    // extension.
    QByteArray exportFata(const QString &ext, bool binary) const;
    void exportFile(const QString &path, bool binary) const;

    // Number of triangles (all but `skip`) crossed by the ray from `origin`
    // through `through`.
    int rayCrossings(const Vec3 &origin, const Vec3 &through, int skip) const;
    // True when the mesh faces outward (an empty mesh passes).
    bool orientationCheck() const;
    // Turns every triangle inside out.
    void flip();

    // Project-stream mesh block: signed 32-bit count, nine floats per
    // triangle. Reading throws when the count exceeds what the remaining
    // bytes can hold, before reserving anything.
    void writeBlock(QDataStream &s) const;
    void readBlock(QDataStream &s);

    // Loaders, appending to the current content (no orientation check).
    void loadStl(const QByteArray &data);
    void loadObj(const QByteArray &data);
};
