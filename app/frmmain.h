#pragma once
// The main window: owns the project, its document controller, the slicer
// parameters and the G-code bytes; its 15 ms heartbeat drives view-mode
// transitions, the title, the single-instance message loop, periodic
// settings saves and the first-start steps.
#include "app/filedialogs.h"
#include "params/slicerparams.h"
#include "scene/fileops.h"
#include "scene/project.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QSet>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class GlViewer;
class PrinterPanel;
class FrmOptions;
class FrmUpdater;
class BtnSys;
class Btn;
class KeyFilter;
class QDoubleSpinBox;
class QCheckBox;
class GCodePreview;
class QProgressBar;
class StatsPanel;
class PaintGate;

class FrmMain : public QMainWindow {
    Q_OBJECT
public:
    // `startFile`: command-line argument 1 (project, model or G-code), or empty.
    explicit FrmMain(const QString &startFile = QString(), QWidget *parent = nullptr);
    ~FrmMain() override;

    // By extension: project, model (".stl|.obj") or G-code. Messages for a
    // missing or unsupported file; false then.
    bool openFile(const QString &path);
    void setEditMode(int mode);
    void setViewMode(int page);

    // Keyboard map; true when the key is one of its keys (whether or not
    // its action could run). The view is repainted then.
    bool handleKeyPress(const QString &keyName);
    // Moves an edge panel to edge 'b', 'l', 'r' or 't' of the view.
    void alignWidgetToEdge(QWidget *widget, char edge);
    // Negates the selection's placement along axis 0, 1 or 2 (one undo entry).
    void mirror(int axisId);
    // Writes the selected objects (all when none is selected) as one mesh file.
    void exportMeshes();
    void addModelDialog();
    void removeSelected();
    void selectAll();
    void selectNone();
    void undo();
    void redo();
    // Side of the view the panel of an edit mode sits on ('b', 'l', 'r', 't').
    char panelEdge(int mode) const;

    BtnSys &btnSys() { return *m_btnSys; }
    QWidget *modePanel(int editMode) const;
    bool uiEnabled() const { return m_uiEnabled; }
    bool autoDrop() const { return m_autoDrop; }

    // Closes on the next tick. `ask` = false skips the unsaved-changes
    // question (termination requested by the system).
    void requestClose(bool ask = true);

    QString titleText() const;
    GlViewer *viewer() const { return m_viewer; }
    Project &project() { return m_project; }
    FileOps &fileOps() { return m_fileOps; }
    FrmOptions *options() const { return m_options; }
    // The printer control panel: lives as long as the window so a print goes
    // on when the expert dialog that shows it closes.
    PrinterPanel *printerPanel();
    // False when the user keeps a running print (and the window) open.
    bool confirmStopPrinting();

    // Slice... and its keys: the settings dialogs, or with `background` (or
    // Shift) the streaming slice (frmmain_dialogs.cpp).
    void sliceCommand(bool background);
    // Slicing and G-code on show (frmmain_gcode.cpp).
    void sliceNow();
    // Slices with the current parameters; `progress` gets (percent, chunk).
    void sliceNow(const std::function<void(int, const QByteArray &)> &progress, bool noLoad);
    void sliceBackground();
    void loadGCode(const QByteArray &bytes, const QString &path);
    void selectGCodeLine(int line);
    void openGCodeDialog();
    void saveGCodeDialog();
    // What Save G-code proposes, and the save itself (title becomes `path`).
    QString gcodeSaveName() const;
    void saveGCodeAs(const QString &path);
    void clearGCode();
    void printGCode();
    void setStatsVisible(bool on);
    // The temporary file Print writes for `baseName` in `folder` (ending in "/").
    static QString printTempPath(const QString &folder, const QString &baseName);

    SlicerParams &params() { return m_params; }
    const QByteArray &gcode() const { return m_gcode; }
    const QString &gcodeTitle() const { return m_gcodeTitle; }
    GCodePreview &gcodePreview() { return *m_preview; }

public slots:
    void onTimer();
    void delayedStartup();

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void storeLastState();
    void projectRequest(int code, QByteArray &buffer);
    void reopenLastProject();
    void openStartFile(const QString &path);
    void loadWelcomeProject();
    void handleMessage(const QByteArray &msg);
    void showLine(const QByteArray &rest);

    // G-code preview, statistics and the slicing hand-off (frmmain_gcode.cpp).
    void setupGCode();
    void releaseGCode();
    void loadGCodeText(const QByteArray &bytes, const QString &title, bool quick);
    void wireGCodePanel();
    void refreshLayerControls();
    void refreshLineSlider();
    void applyClipControls();
    void refreshStats();
    void checkNotBusy() const;
    void setBusy(bool busy);
    friend class BusyScope;

    // Window commands: button bars, edge panels, keys (frmmain_commands.cpp,
    // frmmain_panels.cpp).
    void buildButtons();
    void buildPanels();
    void placePanels();
    void refreshPanels();
    void activateModeButton(const QString &name);
    void stepPanelsAndKeyFrames();
    void setModeTool(const QString &button, int viewMode, int tool);
    // Opens a model as a new selected object; false (with a message) when
    // the file holds no triangles.
    Obj *importModel(const QString &path);
    void finishDrag(bool keep);
    void placeDraggedAt(const QPoint &viewPos);
    void realignAll();
    void resetRotation();
    void resetScale();
    void scaleSelectionBy(float factor);
    void generateSupports();
    void clearSupports();
    // The tools' settings follow the panels' widgets and the Auto drop toggle.
    void connectTools();
    void logSnapshot();

    // Options dialog and update check (frmmain_dialogs.cpp).
    void showOptionsDialog();                                          // dialogs: "Options"
    void runUpdateCheck(bool visible);                                 // dialogs: update check
    bool updateDownloaded() const;                                     // dialogs: update check
    // Settings dialogs, options and update check (frmmain_dialogs.cpp).
    void setupDialogs();
    void applyOptions();
    void sliceFromDialog(const SlicerParams &params, const std::function<void(int)> &progress);

    Project m_project;
    GuiFileOpsUi m_fileOpsUi{this};
    FileOps m_fileOps;
    SlicerParams m_params;
    QByteArray m_gcode;
    QString m_gcodeTitle;  // title of the G-code on show
    QString m_gcodePath;   // file the G-code on show came from
    QString m_gcodeBaseName; // names the temporary print file
    std::unique_ptr<GCodePreview> m_preview;
    StatsPanel *m_statsPanel = nullptr;
    QProgressBar *m_progress = nullptr;
    PaintGate *m_paintGate = nullptr;
    bool m_busy = false;         // a slice or a G-code load is running
    bool m_cancelJob = false;    // the window closes: stop the running job
    GlViewer *m_viewer = nullptr;
    QList<QWidget *> m_persistentWidgets;

    QTimer m_timer;
    QElapsedTimer m_frameClock;
    QByteArray m_pendingClose;
    bool m_askOnClose = true;
    bool m_checkUpdatesNow = false;
    bool m_firstTick = true;
    bool m_startedWithFile = false;
    QString m_startupError; // a last state that could not be reopened, told once shown
    bool m_uiEnabled = true;
    bool m_wasMaximized = false;
    float m_iniSaveClock = 0;

    bool m_frmSlicerIsSimple = true;
    bool m_autoDrop = true;
    bool m_viewGCode = true;
    bool m_viewStats = true;
    FrmOptions *m_options = nullptr;
    PrinterPanel *m_printerPanel = nullptr;
    FrmUpdater *m_updater = nullptr;
    bool m_slicedInDialog = false;

    std::unique_ptr<BtnSys> m_btnSys;
    KeyFilter *m_keyFilter = nullptr;
    QWidget *m_panels[7] = {};  // per edit mode
    QSet<QWidget *> m_panelErrors; // panels too large to place (told once)
    int m_debugSetting = 0;     // Ctrl+Alt+Z: 0, 1, 2 (2 slides the bars out)
    Btn *m_btnAutoDrop = nullptr, *m_btnViewGCode = nullptr, *m_btnViewStats = nullptr;
    QDoubleSpinBox *m_seBarSize = nullptr;

    // A drag in progress: a project or G-code file to open on drop, or the
    // model objects that follow the pointer.
    QString m_dragFile;
    std::vector<Obj *> m_dragObjs;
    std::vector<bool> m_dragSelection; // selection to restore when the drag leaves
    QStringList m_dragErrors;          // models that could not be read, told on drop
};
