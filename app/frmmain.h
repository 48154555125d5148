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

class GlViewer;
class FrmOptions;
class FrmUpdater;

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
    FrmOptions *options() const { return m_options; }

    // Slice... command: the easy or the expert settings dialog (background:
    // the streaming slice without a dialog).
    void sliceCommand(bool background);
    void showOptionsDialog();

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

    // Hooks for parts of the window that are still to come; each is empty
    // until its part lands.
    void refreshPanels() {}                                        // panel states per mode
    void activateModeButton(const QString &name) { Q_UNUSED(name); } // on-screen mode buttons
    void loadGCode(const QByteArray &bytes, const QString &path) { Q_UNUSED(bytes); Q_UNUSED(path); }
    void selectGCodeLine(int line) { Q_UNUSED(line); }               // G-code preview
    void sliceNow() {}                                               // background slicing
    void sliceBackground() {}                                        // filled by preview
    void runUpdateCheck(bool visible);
    bool updateDownloaded() const;
    // Settings dialogs, options and update check (frmmain_dialogs.cpp).
    void setupDialogs();
    void applyOptions();
    void sliceFromDialog(const SlicerParams &params, const std::function<void(int)> &progress);
    void stepPanelsAndKeyFrames() {}                                 // per-frame work of panels

    Project m_project;
    GuiFileOpsUi m_fileOpsUi{this};
    FileOps m_fileOps;
    SlicerParams m_params;
    QByteArray m_gcode;
    QString m_gcodeTitle;  // title of the G-code on show
    QString m_gcodePath;   // file the G-code on show came from
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
    FrmOptions *m_options = nullptr;
    FrmUpdater *m_updater = nullptr;
    bool m_slicedInDialog = false;
};
