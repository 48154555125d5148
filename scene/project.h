#pragma once
// The scene: ordered placed objects, support bars and the mesh cache that
// owns every object's geometry. Its byte stream is the .tvprj file content
// and the undo snapshot.
#include "scene/facescache.h"
#include "scene/obj.h"
#include "scene/supportbar.h"

#include <QByteArray>
#include <QList>
#include <QVector>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class Project {
public:
    FacesCache cache;
    std::vector<std::unique_ptr<Obj>> objs; // list order is file and naming order
    QVector<SupportBar> bars;
    bool modified = false;

    Project() = default;
    Project(const Project &) = delete;
    Project &operator=(const Project &) = delete;

    // --- project stream (QDataStream v14, little-endian, single floats) ---
    // Cache mode writes only mesh hashes (undo snapshots); otherwise each mesh
    // is written inline once and referenced by hash afterwards.
    QByteArray saveToStr(bool cacheMode) const;
    // Replaces objects and bars by the stream's content. The scene is taken
    // over only when the stream was read completely: on any error (message
    // text thrown) the project is left as it was. Outside cache mode inline
    // meshes are added to the cache; in cache mode every hash must be cached.
    // An empty buffer is the empty scene.
    void loadFromStr(const QByteArray &data, bool cacheMode);
    // A whole project file: a fresh cache, taken over only on success. An
    // empty buffer clears the scene.
    void loadFile(const QByteArray &data);
    void clear();

    // --- objects ---
    void updateNames();
    // Reads a mesh file into a new object standing at the scene origin (unit
    // guess: scale 25.4 below 4 mm, 0.1 above 400 mm); returns it.
    Obj *addObject(const QString &path, bool select);
    Obj *addObject(Faces mesh, const QString &name, bool select);
    void selectAll();
    void selectNone();
    bool anySelected() const;
    QList<Obj *> selectedObjects() const;
    void deleteSelected();
    Box3 objectsBox() const;
    // Scene box of all objects and support bars; an empty scene gives zeros.
    Box3 sceneBox() const;
    // Nearest hit over all objects by the distance rule of Obj::rayIntersect.
    Obj::Hit rayIntersect(char what, const Vec3 &from, const Vec3 &to) const;
    // True when the scene point lies inside some object's closed mesh.
    bool insideAnyObject(const Vec3 &p) const;

    // All objects' triangles placed in the scene (twelve floats each). The
    // vertex order is reversed when the transform mirrors or the object's
    // facesReversed flag is set, but not when both hold. Hidden objects are
    // included: hiding only affects drawing. normals = false leaves every n
    // zero, for callers that read only the corners.
    QVector<Triangle> gatherTriangles(bool normals = true) const;
    // The number of triangles gatherTriangles() returns.
    int triangleCount() const;

    // --- support bars ---
    // Placement rule for a click at `point` on a surface with `normal`.
    bool buildBar(const Vec3 &point, const Vec3 &normal, float size, SupportBar *out) const;
    void freeHandBar(const Vec3 &a, const Vec3 &b, float size);
    // buildBar, then the 1 mm spacing rule; appends and returns true if kept.
    bool addGeneratedBar(const Vec3 &point, const Vec3 &normal, float size);
    // First bar whose start or end is closer than `dist` (sum of absolute
    // differences), or -1.
    int nearestBarEnd(const Vec3 &p, float dist) const;
    void clearBars() { bars.clear(); }
    // Automatic support for every surface steeper than `angleDeg` (degrees
    // from horizontal-down). `progress` gets a percentage, at most every
    // 200 ms. Throws for a bar size that is not a positive number or so small
    // that the grid would need more than 2e8 rays.
    void generateSupport(float size, float angleDeg, const std::function<void(int)> &progress = {});
    float minBarWidth() const;

private:
    // Meshes laid out for ray tests while support generation runs.
    const RayMesh *preparedFor(const Obj &o) const;
    std::unordered_map<const Faces *, std::shared_ptr<RayMesh>> m_rayMeshes;
};
