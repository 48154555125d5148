#pragma once
// The 3D view: an ordinary widget whose frames come from GLRenderer. Draws the
// bed, the build volume and the project's objects; navigates the camera with
// the mouse; reports the object and depth under the pointer. Painted on
// demand: after input, and while animate() reports motion (the main window's
// heartbeat repaints then).
#include "common/buildvolume.h"
#include "view/camera.h"
#include "view/glrenderer.h"
#include "view/mousestate.h"
#include "view/tools.h"

#include <QElapsedTimer>
#include <QHash>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class Project;
class BtnSys;
struct Box3;
class Obj;
class GLList;
class GLList_Phong;
class GLList_Ground;
class GLList_ColorUVTex;
class PickPass;

// Edit tools and view pages shared with the main window.
enum EditMode { EM_Select = 0, EM_Move, EM_Rotate, EM_Scale, EM_DropPlane, EM_Support, EM_GCode };
enum ViewMode { VM_Objects = 0, VM_Support, VM_GCode };

// The process-wide view page and its smoothly following companion.
struct ViewModeState {
    int mode = VM_Objects;
    int previous = VM_Objects;
    float smooth = 0;
};
ViewModeState &viewModeState();

class GlViewer : public QWidget {
    Q_OBJECT
public:
    explicit GlViewer(QWidget *parent = nullptr);
    ~GlViewer() override;

    static constexpr float kFarPlane = 1000; // of the drawing projection

    Project *project = nullptr; // not owned
    Camera cam;
    MouseState mouse;
    GLRenderer renderer;

    BuildVolume volume;
    bool circularPlatform = false;
    bool showFPS = false;

    // Current tool (EditMode); see setTool.
    int editMode = EM_Select;
    int lastNonGCodeMode = EM_Select;
    int lastObjEditMode = EM_Select;
    // Sets the tool; remembers the last non-G-code and last object tool.
    void setTool(int mode);

    // Set by animate(); the heartbeat clears it and repaints.
    bool animating = false;
    // One animation step (camera glide, fly-in of objects); true while moving.
    bool animate(float dt);

    // Fade of the Support tool's bar-placing drawing, 0..1; follows
    // supportPlacing while the tool is Support and Ctrl is up.
    float supportFade = 0;
    bool supportPlacing = false; // set by the Support tool once it exists

    // Objects fly in from `start` (scene transform) to where they are.
    void startFlyIn(Obj *obj, const float startTransform[16]);
    void clearFlyIn();

    // Under the pointer as of the last frame.
    Obj *objectUnderPointer() const;
    bool pointUnderPointer(QVector3D *point) const;

    // The edit tools: mouse behaviour per EditMode and the panels' operations.
    ViewTools &tools() { return *m_tools; }
    // What lies under pixel (x, y) now, from a pick pass of its own (cheap:
    // only what the pointer ray meets is drawn). Nothing on GL failure.
    PickHit pickAt(int x, int y);
    // Objects (list indices) seen inside the pixel rectangle.
    QList<int> objectsInRect(const QRect &r);
    // The scene ray through pixel (x, y): its points on the near and far planes.
    void pixelRay(float x, float y, QVector3D *from, QVector3D *to) const;
    Vec3 rayFrom(int x, int y) const;
    Vec3 rayTo(int x, int y) const;
    // Widget pixel of a scene point.
    QPointF projectToScreen(const QVector3D &p) const;
    // The transform an object is drawn with (its fly-in included).
    QMatrix4x4 objectMatrix(const Obj *o) const { return drawTransform(o); }

    // Frame statistics of the last paint (µs).
    qint64 timeBltUs = 0, timeOverlayUs = 0;
    int framesPainted = 0;

    // Hooks for later parts of the view: extra drawing in the main pass (the
    // G-code preview) and 2D overlays (button bars, legend).
    std::function<void()> drawGCodeHook;
    std::vector<std::function<void(QPainter &)>> overlays;
    // The command buttons: drawn over everything, offered every mouse update
    // before the tools. Not owned.
    BtnSys *btnSys = nullptr;
    // Mouse input is offered to these first (button bars, edit tools); one
    // that returns true takes the event from the camera navigation.
    std::vector<std::function<bool(const MouseState &)>> mouseHandlers;

    // The frame as painted last (for tests and screenshots).
    QImage lastFrame;

    // Colour as the shaders expect it (blue first, see GLRenderer).
    static QVector4D shaderColor(const QColor &c);

signals:
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *) override;
    void mouseMoveEvent(QMouseEvent *) override;
    void mouseReleaseEvent(QMouseEvent *) override;
    void wheelEvent(QWheelEvent *) override;
    void keyPressEvent(QKeyEvent *) override;

private:
    struct MeshList;
    struct FlyIn {
        float start[16];
        float t = 0;
    };

    void drawMain();
    void drawPick();
    void setupFrameMatrices(bool pick);
    void drawObjects(bool pick);
    void drawBedAndVolume();
    GLList_Phong *meshList(const Obj *o);
    // A clustered stand-in for a big mesh (else `full`), made on first use.
    GLList_Phong *coarseList(const Obj *o, GLList_Phong *full);
    QMatrix4x4 drawTransform(const Obj *o) const;
    bool insideVolume(const Box3 &sceneBox) const;
    bool offerToHandlers();
    QString statsLine() const;
    // Passes of the main drawing that the tools add (glviewer_passes.cpp).
    void drawSupportBars();
    void drawLogo();

    QHash<const void *, std::shared_ptr<MeshList>> m_meshLists;
    QHash<const Obj *, FlyIn> m_flyIn;
    std::unique_ptr<GLList_Ground> m_bed;
    std::unique_ptr<GLList_Phong> m_volumeLines;
    QString m_bedKey; // volume the bed lists were made for
    QElapsedTimer m_frameClock;
    float m_fps = 0;
    std::unique_ptr<ViewTools> m_tools;
    std::unique_ptr<PickPass> m_pick;
    struct CoarseList {
        quint32 hash = 0;
        int count = 0;
        std::shared_ptr<GLList_Phong> list;
    };
    QHash<const void *, CoarseList> m_coarseLists; // by mesh
    std::unique_ptr<GLList_Phong> m_barList;
    QVector<float> m_barListKey; // the bars m_barList was made for
    std::unique_ptr<GLList_ColorUVTex> m_logo;
};
