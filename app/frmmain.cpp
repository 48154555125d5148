#include "frmmain.h"

#include "app/iniwidgets.h"
#include "app/frmoptions.h"
#include "update/frmupdater.h"
#include "app/ipc.h"
#include "app/keyfilter.h"
#include "app/qmyapp.h"
#include "common/ini.h"
#include "common/utils.h"
#include "common/version.h"
#include "view/btnsys.h"
#include "view/gcodepreview.h"
#include "view/glviewer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <cmath>

namespace {
const char *const kUnsavedProject = "_lastUnsavedProject.tvprj";

bool hasExtension(const QString &path, const QString &list)
{
    for (const QString &ext : list.split('|'))
        if (path.endsWith(ext, Qt::CaseInsensitive))
            return true;
    return false;
}

QString gcodeExtensions()
{
    return QString(".gcode|.gco|.") + "z" + "code";
}
} // namespace

FrmMain::FrmMain(const QString &startFile, QWidget *parent)
    : QMainWindow(parent),
      m_fileOps(".tvprj", "Tessavo project", [this](int code, QByteArray &buf) { projectRequest(code, buf); },
                &m_fileOpsUi)
{
    setObjectName("FrmMain");
    setAcceptDrops(true);
    resize(1280, 800);
    Ini &ini = Ini::instance();

    m_viewer = new GlViewer(this);
    m_viewer->setObjectName("glViewer");
    m_viewer->project = &m_project;
    m_viewer->tools().fileOps = &m_fileOps; // the view's edits go into the undo history
    setCentralWidget(m_viewer);
    setupDialogs();
    setupGCode();

    m_params.fromText(ini.getString("slicerParams").toUtf8());
    m_viewer->cam.fromText(ini.getString("cam").toUtf8());
    m_viewer->showFPS = ini.getInt("showFPS", 0) != 0;

    m_keyFilter = new KeyFilter(this, this);
    qApp->installEventFilter(m_keyFilter);
    buildButtons();
    buildPanels();

    m_startedWithFile = !startFile.isEmpty();
    reopenLastProject();

    m_viewer->lastNonGCodeMode = ini.getInt("lastNonGCodeMode", m_viewer->lastNonGCodeMode);
    m_viewer->lastObjEditMode = ini.getInt("lastObjEditMode", m_viewer->lastObjEditMode);
    setEditMode(ini.getInt("lastEditMode", 0));
    viewModeState().smooth = float(viewModeState().mode);

    connect(&m_timer, &QTimer::timeout, this, &FrmMain::onTimer);
    m_timer.start(15);

    refreshPanels();
    loadWidgets(ini, m_persistentWidgets);
    connectTools();
    wireGCodePanel();
    m_frmSlicerIsSimple = ini.getInt("frmSlicerIsSimple", 1) != 0;
    m_autoDrop = ini.getInt("autoDrop", 1) != 0;
    m_viewGCode = ini.getInt("viewGCode", 1) != 0;
    m_viewStats = ini.getInt("viewStats", 1) != 0;
    restoreWindowGeometry(ini, this);
    setWindowTitle(titleText());

    // The file named on the command line opens once the window shows, on top
    // of the last state, as if it had been dropped: its messages then have a
    // window to belong to.
    QTimer::singleShot(0, this, [this, startFile] {
        if (!m_startupError.isEmpty())
            handleException(m_startupError);
        m_startupError.clear();
        if (!startFile.isEmpty())
            openStartFile(startFile);
    });
}

FrmMain::~FrmMain()
{
    releaseGCode();
}

void FrmMain::reopenLastProject()
{
    // A damaged file must not keep the program from starting: it is reported
    // and the program starts with an empty project.
    try {
        QString last = Ini::instance().getString("lastProject");
        if (!last.isEmpty() && QFileInfo::exists(last)) {
            m_fileOps.open(last, false);
            return;
        }
        QString unsaved = dataDir() + kUnsavedProject;
        if (QFileInfo::exists(unsaved)) {
            m_fileOps.open(unsaved, false);
            m_fileOps.forgetFileName();
        }
    } catch (...) {
        QString msg = currentExceptionText();
        m_fileOps.newDocument(false);
        // Told once the window shows, like every other start-up message.
        m_startupError = msg;
    }
}

void FrmMain::openStartFile(const QString &path)
{
    try {
        if (openFile(path))
            m_viewer->cam.reset(true);
    } catch (...) {
        handleException(currentExceptionText());
    }
}

void FrmMain::projectRequest(int code, QByteArray &buffer)
{
    switch (code) {
    case FileOps::LoadFull:
        m_viewer->clearFlyIn();
        m_project.loadFile(buffer);
        break;
    case FileOps::SaveFull:
        buffer = m_project.saveToStr(false);
        break;
    case FileOps::LoadSnapshot:
        m_viewer->clearFlyIn();
        m_project.loadFromStr(buffer, true);
        break;
    case FileOps::SaveSnapshot:
        buffer = m_project.saveToStr(true);
        break;
    }
    m_viewer->update();
}

bool FrmMain::openFile(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        QMessageBox::information(this, QString(), "File not found: \"" + path + "\"");
        return false;
    }
    if (hasExtension(path, ".tvprj")) {
        if (!m_fileOps.open(path, true))
            return false;
        setEditMode(m_viewer->lastObjEditMode);
        return true;
    }
    if (hasExtension(path, ".stl|.obj")) {
        Obj *o = importModel(path);
        if (!o)
            return false;
        m_fileOps.record("add(" + o->name + ")");
        setEditMode(m_viewer->lastObjEditMode);
        m_viewer->update();
        return true;
    }
    if (hasExtension(path, gcodeExtensions())) {
        const QByteArray bytes = readFile(path);
        setViewMode(VM_GCode);
        loadGCode(bytes, path);
        return true;
    }
    QMessageBox::information(this, QString(), "Unsupported type of file: \"" + path + "\"");
    return false;
}

void FrmMain::setEditMode(int mode)
{
    mode = std::max(0, std::min(6, mode));
    static const char *const names[] = {"Select", "Move", "Rotate", "Scale", "Drop plane", "Support", "GCode"};
    activateModeButton(names[mode]);
    int target = mode == EM_GCode ? VM_GCode : mode == EM_Support ? VM_Support : VM_Objects;
    ViewModeState &vm = viewModeState();
    if (target != vm.mode) {
        vm.previous = vm.mode;
        vm.mode = target;
        m_viewer->update();
    }
    m_viewer->setTool(mode);
}

void FrmMain::setViewMode(int page)
{
    page = std::max(0, std::min(2, page));
    if (page == VM_Objects)
        setEditMode(m_viewer->lastObjEditMode);
    else
        setEditMode(page == VM_Support ? EM_Support : EM_GCode);
}

void FrmMain::requestClose(bool ask)
{
    m_askOnClose = ask;
    m_pendingClose = "close";
}

QString FrmMain::titleText() const
{
    QString base = QString(TESSAVO_VERSION) + "  ";
    if (m_viewer->editMode == EM_GCode)
        return base + " GCode:[" + m_gcodeTitle + "]" + (m_gcodeTitle.startsWith("Unsaved GCode: ") ? "*" : "");
    return base + " Project:[" + m_fileOps.fileName() + "]" + (m_fileOps.isChanged() ? "*" : "");
}

void FrmMain::onTimer()
{
    float dt = 0.015f;
    if (m_frameClock.isValid()) {
        dt = std::max(0.015f, std::min(0.5f, float(m_frameClock.nsecsElapsed() * 1e-9)));
        m_frameClock.restart();
    } else {
        m_frameClock.start();
    }

    refreshPanels();

    ViewModeState &vm = viewModeState();
    float k = dt < 0.25f ? 1 - std::pow(0.7f, 30 * dt) : 1.0f;
    float before = vm.smooth;
    vm.smooth += (float(vm.mode) - vm.smooth) * k;
    if (std::fabs(vm.smooth - float(vm.mode)) < 0.001f)
        vm.smooth = float(vm.mode);
    if (vm.smooth != before)
        m_viewer->update();

    QString title = titleText();
    if (windowTitle() != title)
        setWindowTitle(title);

    stepPanelsAndKeyFrames();
    if (m_viewer->animating) {
        m_viewer->animating = false;
        m_viewer->update();
    }

    if (m_firstTick) {
        m_firstTick = false;
        QTimer::singleShot(1000, this, &FrmMain::delayedStartup);
        // A file named on the command line wins over the welcome scene.
        if (Ini::instance().getInt("askForCheckUpdates", 1) != 0 && !m_startedWithFile)
            loadWelcomeProject();
    }

    if (m_uiEnabled && QFile::exists("c:/hdConsts.dat"))
        sliceNow();

    if (m_checkUpdatesNow) {
        m_checkUpdatesNow = false;
        runUpdateCheck(true);
    }

    if (!m_pendingClose.isEmpty()) {
        // Nobody answers questions on a termination request: a message box
        // in the way is dismissed first.
        if (!m_askOnClose)
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                d->reject();
        close();
    }

    m_iniSaveClock += dt;
    if (m_iniSaveClock > 5.0f) {
        m_iniSaveClock = 0;
        Ini::instance().store();
    }

    if (!isMinimized())
        m_wasMaximized = isMaximized();

    QByteArray msg;
    while (ipc_pollMessage(msg))
        handleMessage(msg);
}

void FrmMain::loadWelcomeProject()
{
    m_fileOps.open(":/res/welcome.tvprj", false);
    m_fileOps.forgetFileName();
    // Each object drops in from higher up than the one before.
    int i = 0;
    for (const auto &o : m_project.objs) {
        Mat4 start = o->transform;
        start.m[13] += 300.0f * float(i++);
        m_viewer->startFlyIn(o.get(), start.m);
    }
    m_viewer->update();
}

void FrmMain::handleMessage(const QByteArray &msg)
{
    if (msg == "focus" || msg.startsWith("open ") || msg.startsWith("showline ")) {
        bringToFront(this);
        if (isMinimized()) {
            if (m_wasMaximized)
                showMaximized();
            else
                showNormal();
        }
    }
    if (msg.startsWith("open ")) {
        QString path = QString::fromUtf8(msg.mid(5));
        qDebug() << Q_FUNC_INFO << "frmmain" << "open" << path;
        if (openFile(path)) {
            bool isProject = hasExtension(path, ".tvprj");
            bool isModel = hasExtension(path, ".stl|.obj");
            if (isProject || hasExtension(path, gcodeExtensions()))
                m_viewer->cam.reset(false);
            if (isProject || isModel)
                setEditMode(m_viewer->lastObjEditMode);
        }
        m_viewer->update();
    } else if (msg.startsWith("showline ")) {
        showLine(msg.mid(9));
    }
}

void FrmMain::showLine(const QByteArray &rest)
{
    QList<QByteArray> fields = rest.split('\t');
    if (fields.size() != 2)
        return;
    QString path = QString::fromUtf8(fields[0]);
    bool ok = false;
    int line = fields[1].trimmed().toInt(&ok);
    qDebug() << Q_FUNC_INFO << "frmmain" << "showline" << path;
    if (!ok || !QFileInfo::exists(path))
        return;
    activateModeButton("GCode");
    setEditMode(EM_GCode);
    if (m_gcodePath != path) {
        loadGCodeText(readFile(path), path, true);
    }
    selectGCodeLine(line);
    m_viewer->update();
}

void FrmMain::delayedStartup()
{
    QFile::remove(appDir() + "Tessavo_updater.exe");
    QFile::remove(tempDir() + "Tessavo_updater.exe");
    Ini &ini = Ini::instance();
    if (ini.getInt("askForCheckUpdates", 1) != 0) {
        QMessageBox box(QMessageBox::Question, QString(), "Looks like Tessavo started for the first time.",
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setInformativeText("Do you want automatic updates on application startup?");
        box.setDefaultButton(QMessageBox::Yes);
        m_options->setCheckForUpdatesOnStartup(box.exec() == QMessageBox::Yes);
        ini.setInt("askForCheckUpdates", 0);
    }
    if (m_options->checkForUpdatesOnStartup())
        runUpdateCheck(false);
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    if (m_busy) {
        // The running slice or load stops first; the heartbeat closes then.
        m_cancelJob = true;
        m_pendingClose = "close";
        event->ignore();
        return;
    }
    if (m_askOnClose && !m_fileOps.askToSave()) {
        m_pendingClose.clear();
        event->ignore();
        return;
    }
    if (m_askOnClose && !confirmStopPrinting()) {
        m_pendingClose.clear();
        event->ignore();
        return;
    }
    storeLastState();
    if (updateDownloaded())
        m_updater->openDownloadPage();
    event->accept();
}

void FrmMain::storeLastState()
{
    Ini &ini = Ini::instance();
    ini.setString("slicerParams", QString::fromUtf8(m_params.toText()));
    ini.setString("cam", QString::fromUtf8(m_viewer->cam.toText()));
    storeWidgets(ini, m_persistentWidgets);
    ini.setString("lastProject", m_fileOps.fileName());
    ini.setInt("lastNonGCodeMode", m_viewer->lastNonGCodeMode);
    ini.setInt("lastObjEditMode", m_viewer->lastObjEditMode);
    ini.setInt("lastEditMode", m_viewer->editMode);
    ini.setInt("frmSlicerIsSimple", m_frmSlicerIsSimple);
    ini.setInt("autoDrop", m_autoDrop);
    ini.setInt("viewGCode", m_viewGCode);
    ini.setInt("viewStats", m_viewStats);
    storeWindowGeometry(ini, this);
    if (m_fileOps.fileName().isEmpty()) {
        QDir().mkpath(dataDir());
        writeFile(dataDir() + kUnsavedProject, m_project.saveToStr(false));
    }
}
