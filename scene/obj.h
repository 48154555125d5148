#pragma once
// A placed object of the scene: a cached mesh in its own local frame plus
// the transform (local -> scene, column-major) that places it.
#include "scene/faces.h"

#include <QString>

class Project;
class RayMesh;

class Obj {
public:
    explicit Obj(Project *owner = nullptr);
    Obj(const Obj &other); // copies placement and mesh pointer, resets the display name
    Obj &operator=(const Obj &) = delete;

    Project *project = nullptr; // not owned
    Faces *mesh;                // not owned: the project's cache (or a shared empty mesh)
    QString name;
    bool selected = false;
    bool hidden = false;
    Mat4 transform;
    Mat4 savedTransform;        // reference while the view drags the object
    QString displayName = QStringLiteral("<must call Prj::updateNames>");
    Box3 localBox;
    Faces boxMesh;              // 12 triangles of localBox, outward
    bool facesReversed = false; // not stored; reverses vertex order when gathered
    // Bumped whenever the mesh changes, so the view drops its GPU lists.
    int meshRevision = 0;

    void setMesh(Faces *m);
    void meshChanged();
    // Scene-frame bounding box of the placed mesh.
    Box3 sceneBox() const { return mesh->boundingBox(transform); }

    struct Hit {
        bool hit = false;
        Vec3 point;  // scene frame
        Vec3 normal; // scene frame, unit
    };
    // Picking: 'a' bounding box of any object, 'o' exact mesh of any object,
    // 'p' only if selected, 'q' only if not selected. The ray runs from
    // `from` through `to` (scene frame). Throws
    // "Obj::rayIntersect() invalid 'what' parameter" for another letter once
    // the box was hit.
    // `prepared`, when given, is this object's mesh laid out for ray tests;
    // the answer is the same, only faster for many rays.
    Hit rayIntersect(char what, const Vec3 &from, const Vec3 &to, const RayMesh *prepared = nullptr) const;

    // Placement helpers (scene frame): each changes only the transform.
    void moveBy(const Vec3 &d);
    // Applies `m` about the point `pivot` (rotate, scale, mirror in place).
    void transformAbout(const Mat4 &m, const Vec3 &pivot);
    void mirror(int axis); // about the object's scene-box centre
    // Moves the object vertically so that its lowest point lies on the bed.
    void dropToBed();
};
