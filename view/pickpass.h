#pragma once
// The view's pick drawing: objects and support bars drawn in flat colour
// codes so that the pixel under the pointer names what lies there. Object i
// (list order) is code i + 1, bar i is kBarCode + i; 0 is nothing (the bed
// and the background). The code sits in the red, green and blue bytes, red
// lowest.
//
// For the 1 × 1 pass only what the pointer ray can meet is drawn: each mesh
// keeps a copy of its triangles sorted into spatially compact chunks with a
// local box each, and only chunks (and bars) whose box the ray crosses are
// drawn. A 159k-triangle model thus costs a few thousand triangles per pick.
// GUI thread only, with the view's GL context current.
#include "scene/vec3.h"

#include <QHash>
#include <QMatrix4x4>
#include <QVector4D>
#include <functional>
#include <memory>

class Obj;
class Project;
class Faces;
class QOpenGLBuffer;

class PickPass {
public:
    static const quint32 kBarCode = 0x800000;

    PickPass();
    ~PickPass();

    static QVector4D codeColor(quint32 code);
    static quint32 decode(const unsigned char rgba[4]);

    // Draws the scene's pick codes with the current view and projection
    // matrices. With `rayCull` only what the scene ray from → to can meet is
    // drawn. `transformOf` gives each object's drawn transform (fly-in).
    // `bars`: whether support bars take part.
    void draw(const Project &p, const std::function<QMatrix4x4(const Obj *)> &transformOf, bool rayCull,
              const QVector3D &from, const QVector3D &to, bool bars);

    // The bed rectangle (half sizes in X and Z) at y = 0 in code 0: no
    // object, but a depth, so the point under the pointer is found on it.
    void drawBed(float halfW, float halfD);

    // Drops buffers of meshes not drawn since the last call.
    void releaseUnused();

private:
    struct Chunk {
        int first = 0, count = 0; // vertices
        Box3 box;                 // local frame
    };
    struct MeshPick {
        quint32 hash = 0;
        int triangles = 0;
        std::shared_ptr<QOpenGLBuffer> buffer;
        QVector<Chunk> chunks;
        bool used = false;
    };
    MeshPick &meshPick(const Faces *mesh);

    QHash<const Faces *, std::shared_ptr<MeshPick>> m_meshes;
    std::shared_ptr<QOpenGLBuffer> m_barBuffer;
    std::shared_ptr<QOpenGLBuffer> m_bedBuffer;
    float m_bedKey[2] = {0, 0};
    QVector<float> m_barKey; // the bars the buffer was made for
};

// True when the segment from a to b (any length; the line is clipped to
// t in [0, 1]) crosses the box.
bool segmentHitsBox(const Vec3 &a, const Vec3 &b, const Box3 &box);
