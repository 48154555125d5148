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
#include <QTimer>
#include <functional>
#include <memory>

class GlViewer;
class GCodePreview;
class QProgressBar;
class StatsPanel;

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

    // Closes on the next tick. `ask` = false skips the unsaved-changes
    // question (termination requested by the system).
    void requestClose(bool ask = true);

    QString titleText() const;
    GlViewer *viewer() const { return m_viewer; }
    Project &project() { return m_project; }
    FileOps &fileOps() { return m_fileOps; }

    // Slicing and G-code on show (frmmain_gcode.cpp).
    // Slice... and its keys: the settings dialogs until `dialogs` replaces the
    // body; `background` streams into the preview.
    void sliceCommand(bool background);
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

    bool uiEnabled() const { return m_uiEnabled; }
    SlicerParams &params() { return m_params; }
    const QByteArray &gcode() const { return m_gcode; }
    const QString &gcodeTitle() const { return m_gcodeTitle; }
    GCodePreview &gcodePreview() { return *m_preview; }

public slots:
    void onTimer();
    void delayedStartup();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void storeLastState();
    void projectRequest(int code, QByteArray &buffer);
    void reopenLastProject(const QString &startFile);
    void loadWelcomeProject();
    void handleMessage(const QByteArray &msg);
    void showLine(const QByteArray &rest);

    // G-code preview, statistics and the slicing hand-off (frmmain_gcode.cpp).
    void setupGCode();
    void releaseGCode();
    void loadGCodeText(const QByteArray &bytes, const QString &title, bool quick);
    void refreshLayerControls();
    void refreshStats();
    void checkNotBusy() const;
    void setBusy(bool busy);
    friend class BusyScope;

    // Hooks for parts of the window that are still to come; each is empty
    // until its part lands.
    void refreshPanels() {}                                        // panel states per mode
    void activateModeButton(const QString &name) { Q_UNUSED(name); } // on-screen mode buttons
    void runUpdateCheck(bool visible) { Q_UNUSED(visible); }       // update check
    bool updateDownloaded() const { return false; }
    void stepPanelsAndKeyFrames() {}                                 // per-frame work of panels

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
    bool m_busy = false;         // a slice or a G-code load is running
    bool m_cancelJob = false;    // the window closes: stop the running job
    bool m_slicedInDialog = false;
    GlViewer *m_viewer = nullptr;
    QList<QWidget *> m_persistentWidgets;

    QTimer m_timer;
    QElapsedTimer m_frameClock;
    QByteArray m_pendingClose;
    bool m_askOnClose = true;
    bool m_checkUpdatesNow = false;
    bool m_firstTick = true;
    bool m_startedWithFile = false;
    bool m_uiEnabled = true;
    bool m_wasMaximized = false;
    float m_iniSaveClock = 0;

    bool m_frmSlicerIsSimple = true;
    bool m_autoDrop = true;
    bool m_viewGCode = true;
    bool m_viewStats = true;
    bool m_checkUpdatesAtStartup = false; // the options' check box, until the options dialog lands
};
