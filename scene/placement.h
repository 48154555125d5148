#pragma once
// Placement edits of the scene's objects, as the view's tools and the edit
// panels apply them. GUI-free; scene frame (mm, Y up, bed = plane y = 0).
//
// Drag edits act on the selected objects and always start again from their
// saved transforms (the transform taken when the drag began, see beginDrag),
// so a long drag accumulates no error and a cancelled one restores them
// exactly. Every result is clamped: no object leaves a 10 m reach, no local
// axis is scaled below 1e-3 or above 1e3, and NaN or infinite inputs change
// nothing.
#include "scene/mat4.h"

#include <QList>
#include <QVector>

class Obj;
class Project;
class Faces;

namespace placement {

const float kReach = 10000.0f;   // mm from the scene origin, per axis
const float kMinScale = 1e-3f;    // per local axis (transform column length)
const float kMaxScale = 1e3f;

// Rotation by `degrees` about the unit-less direction `axis` (right-handed).
// A zero or non-finite axis gives the identity.
Mat4 rotationAbout(const Vec3 &axis, double degrees);
// Rotation that turns the direction `from` onto `to` (both need not be unit).
Mat4 rotationOnto(const Vec3 &from, const Vec3 &to);

// The snap step of the rotate tool: the "Angle snap" value clamped to
// 0.01 .. 180 degrees while the check box is on, else 0.0625 degrees;
// holding Shift inverts the check box.
float snapStep(bool snapChecked, float snapValue, bool shift);
// `degrees` rounded to the nearest multiple of `step` (non-finite: 0).
float snapAngle(float degrees, float step);

// --- drags: each starts from the saved transforms ---
// Every object's saved transform becomes its transform (the drag reference).
void beginDrag(Project &p);
// Transforms back to the saved ones (a cancelled drag).
void restoreSaved(Project &p);
// True when any object's transform differs from its saved transform.
bool changedSinceSaved(const Project &p);

// Scene box of the selected objects, from the saved transforms or the
// current ones; empty when nothing is selected.
Box3 selectionBox(const Project &p, bool saved);

// Selected objects = translation(delta) × saved. The delta is clamped per
// axis so that every selected object's origin stays within kReach.
Vec3 moveSelected(Project &p, Vec3 delta);
// Selected objects = rotation about the line through `pivot` along `axis` × saved.
void rotateSelected(Project &p, const Vec3 &axis, float degrees, const Vec3 &pivot);
// Selected objects = scaling by `factors` (scene axes) about `pivot` × saved;
// the factors are clamped so that every local axis of every selected object
// stays within kMinScale .. kMaxScale. Returns the factors applied.
Vec3 scaleSelected(Project &p, Vec3 factors, const Vec3 &pivot);

// Copies of the selected objects, appended in list order, sharing the
// originals' meshes. The copies become the selection; the display names are
// renumbered. Returns the copies.
QList<Obj *> cloneSelected(Project &p);
// Removes the given objects (a clone drag that was cancelled).
void removeObjects(Project &p, const QList<Obj *> &objs);

// Every selected object (or every object) moved vertically so that its
// lowest point lies on the bed.
void dropToBed(Project &p, bool selectedOnly);

// --- one-shot edits of the selection (panels); true when anything changed ---
// Rotation removed: each object keeps its scale, mirror, the centre of its
// scene box in X and Z and its lowest point.
bool resetRotation(Project &p);
// Scale removed: each object keeps rotation and mirror, local axes become
// unit length, about the bottom centre of its scene box.
bool resetScale(Project &p);
// Scaled by `factors` (scene axes) about the bottom centre of the selection.
bool scaleSelectionBy(Project &p, const Vec3 &factors);
// Mirrored along scene axis 0, 1 or 2 about each object's box centre;
// throws "placement::mirrorSelected() invalid axisId" for another axis.
bool mirrorSelected(Project &p, int axis);
// All objects laid out in rows on the bed, `gap` mm apart, rows no wider
// than `bedWidth` (an object wider than that gets a row of its own), the
// arrangement centred on the scene origin, every object on the bed.
bool realignAll(Project &p, float bedWidth, float gap = 5.0f);

// --- drop plane ---
// Rotates `o` about its scene-box centre so that the scene direction
// `normal` points straight down, then drops it onto the bed. A non-finite or
// zero normal changes nothing; returns whether it did something.
bool layFaceDown(Obj &o, const Vec3 &normal);
// Index of the triangle of `o` that the scene ray from `from` through `to`
// meets first among those facing it; -1 for none.
int firstTriangleHit(const Obj &o, const Vec3 &from, const Vec3 &to);
// Outward unit normal of triangle `tri` of `o` in the scene frame (a
// mirroring transform accounted for); NaN for a degenerate triangle.
Vec3 sceneNormal(const Obj &o, int tri);
// Triangles of `mesh` lying in the plane of triangle `tri` and facing the
// same way (normals within about 0.5 degrees, corners within 0.01 mm of the
// plane), `tri` first; empty for an index out of range or a degenerate
// triangle. Laying any of them down gives the same placement.
QVector<int> coplanarFace(const Faces &mesh, int tri);

} // namespace placement
