#pragma once
// The view's edit tools: what the left mouse button does in each EditMode,
// the panel operations of the tools, and the extra drawing the tools need.
//
//  Select (0)    click selects, Shift adds, Ctrl toggles; a drag draws a
//                rectangle and selects the objects seen inside it.
//  Move (1)      drag the selection on the horizontal plane through the
//                grabbed point; Shift keeps the dominant axis; Alt drags
//                copies (sharing the meshes) and leaves the originals.
//  Rotate (2)    drag turns the selection about the vertical through its
//                centre; Alt rolls it about the horizontal axis across the
//                view; the angle is snapped (placement::snapStep).
//  Scale (3)     drag resizes about the selection's bottom centre, all axes
//                or (Shift, inverting "Uniform") the axis the drag follows.
//  Drop plane(4) hovering highlights the face under the pointer; a click
//                lays it on the bed; a drag picks the face under the release
//                point; Alt + drag lays the pressed face down and rolls the
//                object about the vertical (snapped like Rotate).
//  Support (5)   click on a surface builds a bar by the placement rule; a
//                drag from surface to surface builds a free-hand bar (Shift:
//                vertical); Ctrl + click removes the bar under the pointer
//                or the nearest one.
// In the object tools a press that meets no object selects as in Select.
// Every finished edit records exactly one undo entry; a drag cancelled with
// Esc or released without a change records none. Drags start from the
// transforms saved at the press, so a long drag accumulates no error.
#include "scene/mat4.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QVector3D>
#include <QVector>
#include <memory>

class FileOps;
class GlViewer;
class GLList_Phong;
class Obj;
class Project;
class QKeyEvent;
class QPainter;

// The tools' settings; the edit panels write them.
struct ToolSettings {
    bool autoDrop = true;        // objects are kept on the bed after each edit
    bool angleSnapOn = true;     // "Angle snap" check box
    float angleSnap = 15;        // its value, degrees
    bool uniformScale = true;    // "Uniform"
    float barSize = 2;           // "SupportBar base thickness", mm
    float steepness = 45;        // "Minimum surface steepness:", degrees
    bool transparentObjects = false; // options "Transparent objects"
    bool showBackFaces = true;       // options "Show backfaces"
    bool envReflection = false;      // options "Environment mapping effect on"
};

// What lies under a pixel of the view.
struct PickHit {
    enum Kind { Nothing, Object, Bar } kind = Nothing;
    int index = -1;        // object (list order) or bar index
    bool hasPoint = false; // a point was drawn there (object, bar or bed)
    QVector3D point;       // scene frame
    Obj *object = nullptr;
};

class ViewTools : public QObject {
    Q_OBJECT
public:
    explicit ViewTools(GlViewer *viewer);
    ~ViewTools() override;

    ToolSettings settings;
    FileOps *fileOps = nullptr; // where finished edits are recorded; not owned

    // Left-button input, after the button bars had their turn.
    void mousePress();
    void mouseMove();
    void mouseRelease();
    // Esc cancels a drag, keypad +/- change the bar size in Support. True
    // when the key was used.
    bool keyPress(QKeyEvent *e);
    // Ends the drag in progress and restores what it changed; true if there
    // was one. The button stays ignored until it is released.
    bool cancelDrag();
    bool dragging() const;
    // True while objects are dragged or support is generated: big meshes
    // may be drawn coarse.
    bool lowDetail() const;

    // --- panel operations: one undo entry each when something changed ---
    void selectAll();
    void selectNone();
    bool realign();                      // "realignAll"
    bool resetRotation();                // "rotReset"
    bool resetScale();                   // "scaleReset"
    bool scaleBy(const Vec3 &factors);   // "scaleBy"; uniform: all three equal
    bool mirror(int axis);               // "mirror"; axis 0, 1, 2 (else throws)
    bool generateSupport();              // "Supports generated"
    bool clearSupport();                 // "Supports cleared"
    bool changeBarSize(int steps);       // ±0.5 mm per step, 0.2 .. 20 mm

    // Support generation progress 0..100 while it runs, else -1.
    int progress() const { return m_progress; }

    // Drawing inside the view's main pass (face highlight, bar preview) and
    // over the finished frame (selection rectangle, progress).
    void drawScene();
    void drawOverlay(QPainter &p);
    // The highlighted face (drop plane): object and its triangles.
    const Obj *highlightObject() const { return m_faceObj; }
    const QVector<int> &highlightFace() const { return m_face; }

signals:
    void selectionChanged();
    void edited(const QString &label); // after an undo entry was recorded
    void barSizeChanged(float size);
    void progressChanged(int percent);

private:
    enum Drag { None, PendingSelect, Rect, Moving, Rotating, Rolling, Scaling, DropPending, DropRolling,
                SupportPending, SupportRemove, Cancelled };

    Project *project() const;
    void beginEdit();
    void record(const QString &label);
    bool resetTransform(bool (*reset)(Project &), const char *label);
    void clickSelect(const PickHit &hit);
    void rectSelect();
    void startTransformDrag(Drag kind);
    void updateDrag();
    void finishTransformDrag();
    void updateHover();
    void finishDrop();
    void finishSupport();
    bool selectOnPress(const PickHit &hit);
    QPointF screenOf(const Vec3 &p) const;
    bool planeHit(QPoint px, float planeY, Vec3 *out) const;

    GlViewer *m_viewer;
    Drag m_drag = None;
    PickHit m_press;
    QPoint m_pressPos;
    Qt::KeyboardModifiers m_pressMods;
    QList<Obj *> m_clones, m_cloneSources;
    Vec3 m_grab;           // move: grabbed point at the press
    bool m_grabOk = false;
    Vec3 m_pivot;          // rotate/scale/roll pivot
    Mat4 m_dropLaid;       // drop plane roll: the pose once laid down
    Vec3 m_prevPlane;      // rotate: previous point on the pivot's plane
    bool m_prevPlaneOk = false;
    double m_angle = 0;    // rotate: accumulated unsnapped angle, degrees
    int m_scaleAxis = -1;  // scale: -1 uniform, else the scene axis
    QString m_dragLabel;
    // drop plane: the face under the pointer
    const Obj *m_faceObj = nullptr;
    QVector<int> m_face;
    int m_faceTri = -1;
    std::unique_ptr<GLList_Phong> m_faceList;
    bool m_faceListDirty = true;
    // support: the bar being dragged
    Vec3 m_barStart;
    bool m_barPreview = false;
    Vec3 m_barEnd;
    int m_progress = -1;
};
