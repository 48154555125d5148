// FrmMain's road from the scene to G-code and back to the screen: slicing
// (streamed into the preview or all at once), loading G-code text into the
// preview and the statistics, the G-code file commands and the hand-off to
// the printing program.
#include "app/frmmain.h"

#include "app/filedialogs.h"
#include "app/ipc.h"
#include "app/iniwidgets.h"
#include "app/frmoptions.h"
#include "app/statspanel.h"
#include "common/ini.h"
#include "common/utils.h"
#include "driver/slicer.h"
#include "view/gcodepreview.h"
#include "view/glviewer.h"
#include "view/shaders.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>

#include <ctime>

namespace {
const char *const kEmptyTitle = "Empty GCode ";
const char *const kUnsavedPrefix = "Unsaved GCode: ";
const char *const kGCodeFilter = "GCode files(*.gcode *.gco)";
const int kLoadChunk = 1 << 20;
// Pending events are handled at most this often while a job runs (ms).
const int kEventInterval = 200;

// Thrown through the slicer or the loader when the window closes meanwhile.
struct JobCancelled {};

// The printing program beside the executable.
QString printerProgram()
{
#ifdef Q_OS_WIN
    return appDir() + "Pellmora.exe";
#else
    return appDir() + "Pellmora";
#endif
}
} // namespace

// While a job runs the view paints only when PaintLog lets it: the paints
// that the events processed by the job would bring (heartbeat, page
// transition, the preview's own "work remains") would stall the job.
class PaintGate : public QObject {
public:
    using QObject::QObject;
    bool open = true;
    bool eventFilter(QObject *, QEvent *e) override { return !open && e->type() == QEvent::Paint; }
};

// Paints while a job runs. A paint stalls the job, so one comes only when
// the time since the last one is at least six times as long as that one
// took: painting takes at most a seventh of the job's time. Logs
// when the first beads appeared (from the start of the job) and the paints.
class PaintLog {
    static constexpr int kPaintShare = 6;

public:
    explicit PaintLog(PaintGate *gate) : m_gate(gate) { m_clock.start(); }
    void repaint(GlViewer *v, const GCodePreview &preview)
    {
        if (m_count > 0 && m_sinceLast.elapsed() < kPaintShare * m_last) {
            ++m_skipped;
            return;
        }
        QElapsedTimer t;
        t.start();
        m_gate->open = true;
        v->repaint();
        m_gate->open = false;
        m_last = t.elapsed();
        m_sinceLast.start();
        m_longest = std::max(m_longest, m_last);
        m_total += m_last;
        ++m_count;
        if (m_firstShown < 0 && preview.lastDrawnVertices() > 0)
            m_firstShown = m_clock.elapsed();
    }
    QString text() const
    {
        return QString("first layers on screen after %1 ms, %2 paints (%3 left out), the longest %4 ms, all %5 ms")
            .arg(m_firstShown)
            .arg(m_count)
            .arg(m_skipped)
            .arg(m_longest)
            .arg(m_total);
    }

private:
    PaintGate *m_gate;
    QElapsedTimer m_clock, m_sinceLast;
    qint64 m_firstShown = -1, m_longest = 0, m_last = 0, m_total = 0;
    int m_count = 0, m_skipped = 0;
};

// While a job runs: UI-enabled flag cleared, central widget disabled; both
// come back however the job ends.
class BusyScope {
public:
    explicit BusyScope(FrmMain *w) : m_w(w) { m_w->setBusy(true); }
    ~BusyScope() { m_w->setBusy(false); }

private:
    FrmMain *m_w;
};

void FrmMain::setupGCode()
{
    m_preview = std::make_unique<GCodePreview>();
    m_preview->beadWidth = m_params.ExtrusionWidth;
    m_preview->additionalLayers = 1 << 20; // the whole print below the layer on show
    m_gcodeTitle = kEmptyTitle;
    GlViewer *v = m_viewer;
    v->drawGCodeHook = [this, v] {
        m_preview->volume = v->volume;
        // Work left over from the paint's budget: paint again soon.
        if (m_preview->draw())
            QTimer::singleShot(0, v, [v] { v->update(); });
    };
    v->overlays.push_back([this, v](QPainter &p) {
        const bool gcodeMode = viewModeState().mode == VM_GCode;
        if (gcodeMode)
            m_preview->paintLegend(p, v->size());
        // The statistics panel follows the page; changed after this paint.
        if (m_statsPanel->isVisible() != (gcodeMode && m_viewStats))
            QTimer::singleShot(0, m_statsPanel, [this] { setStatsVisible(m_viewStats); });
    });
    v->mouseHandlers.push_back([this, v](const MouseState &m) {
        if (viewModeState().mode != VM_GCode || !m.justPressed || m.dominantButton != 1)
            return false;
        if (!m_preview->legendClick(QPoint(m.x, m.y)))
            return false;
        v->update();
        return true;
    });

    // The G-code shaders are compiled while the program idles after its
    // start, not in the first paint of a streaming slice.
    QTimer::singleShot(1500, this, [v] {
        try {
            v->renderer.makeCurrent();
            getShaderProgram("GCode");
        } catch (...) {
            // The first G-code paint reports it then.
        }
    });
    m_paintGate = new PaintGate(this);
    v->installEventFilter(m_paintGate);
    m_statsPanel = new StatsPanel(v);
    m_statsPanel->hide();
    m_progress = new QProgressBar(this);
    m_progress->setObjectName("pbGCodeProgress");
    m_progress->setRange(0, 100);
    m_progress->hide();
}

void FrmMain::releaseGCode()
{
    if (!m_preview || !m_viewer)
        return;
    try {
        if (m_viewer->renderer.context())
            m_viewer->renderer.makeCurrent();
        m_preview->releaseGL();
    } catch (...) {
        // No context: the buffers went with it.
    }
}

void FrmMain::setBusy(bool busy)
{
    m_busy = busy;
    m_uiEnabled = !busy;
    m_paintGate->open = !busy;
    // Paints during the job stay short: little rebuilding, the newest layers.
    m_preview->budgetMs = busy ? 40 : 100;
    m_preview->vertexCap = busy ? 300000 : 0;
    if (centralWidget())
        centralWidget()->setEnabled(!busy);
    if (busy) {
        m_progress->setValue(0);
        // Under the top button bar, clear of the edge panels.
        m_progress->setGeometry(width() / 2 - 160, 84, 320, 22);
        m_progress->show();
        m_progress->raise();
    } else {
        m_progress->hide();
        m_cancelJob = false;
        m_viewer->update();
    }
}

void FrmMain::checkNotBusy() const
{
    // A second job can only start through the events a running one
    // processes; it must not touch the preview the first one streams into.
    if (m_busy || Slicer::running())
        throw QString("FATAL ERROR: Already slicing.");
}

void FrmMain::sliceNow()
{
    sliceNow([](int, const QByteArray &) {}, false);
}

void FrmMain::sliceNow(const std::function<void(int, const QByteArray &)> &progress, bool noLoad)
{
    checkNotBusy();
    QElapsedTimer clock;
    clock.start();
    {
        BusyScope busy(this);
        m_options->applyProcessorSettings();
        QElapsedTimer events;
        events.start();
        try {
            m_gcode = sliceScene(&m_project, &m_params, &m_viewer->volume, [&](int percent, const QByteArray &chunk) {
                if (progress)
                    progress(percent, chunk);
                m_progress->setValue(percent);
                if (events.elapsed() >= kEventInterval || percent >= 100) {
                    events.restart();
                    QCoreApplication::processEvents();
                }
                if (m_cancelJob)
                    throw JobCancelled();
            });
        } catch (const JobCancelled &) {
            qDebug() << Q_FUNC_INFO << "frmmain" << "slicing stopped: the window closes";
            return;
        }
    }
    qDebug() << Q_FUNC_INFO << "frmmain" << "slicing took" << clock.elapsed() << "ms";
    const QFileInfo project(m_fileOps.fileName());
    m_gcodeBaseName = project.completeBaseName();
    if (m_gcodeBaseName.isEmpty() && !m_project.objs.empty())
        m_gcodeBaseName = m_project.objs.front()->name;
    if (!noLoad)
        loadGCode(m_gcode, kUnsavedPrefix + m_fileOps.fileName());
}

void FrmMain::sliceBackground()
{
    qDebug() << Q_FUNC_INFO << "frmmain" << "bkg slicer";
    checkNotBusy();
    PaintLog paints(m_paintGate);
    activateModeButton("GCode");
    setEditMode(EM_GCode);
    m_viewer->repaint();
    m_gcodeTitle = kUnsavedPrefix + m_fileOps.fileName();
    m_gcodePath.clear();
    m_gcodeBaseName = QFileInfo(m_fileOps.fileName()).completeBaseName();
    if (m_gcodeBaseName.isEmpty() && !m_project.objs.empty())
        m_gcodeBaseName = m_project.objs.front()->name;

    QElapsedTimer clock;
    bool ok = false;
    {
        BusyScope busy(this);
        m_preview->clear(m_preview->clipBox());
        m_preview->beadWidth = m_params.ExtrusionWidth;
        refreshLayerControls();
        clock.start();
        const std::clock_t cpuStart = std::clock();
        qint64 inCallback = 0;
        m_options->applyProcessorSettings();
        qDebug() << Q_FUNC_INFO << "frmmain" << "bkg slicer 1";
        try {
            m_gcode = sliceScene(&m_project, &m_params, &m_viewer->volume, [this, &paints, &inCallback](int percent, const QByteArray &chunk) {
                // The slicer calls at most every 200 ms.
                QElapsedTimer t;
                t.start();
                struct Add {
                    QElapsedTimer &t;
                    qint64 &sum;
                    ~Add() { sum += t.elapsed(); }
                } add{t, inCallback};
                m_preview->append(chunk);
                m_progress->setValue(percent);
                refreshLayerControls();
                refreshStats();
                paints.repaint(m_viewer, *m_preview);
                QCoreApplication::processEvents();
                if (m_cancelJob)
                    throw JobCancelled();
            });
            ok = true;
        } catch (const JobCancelled &) {
            qDebug() << Q_FUNC_INFO << "frmmain" << "slicing stopped: the window closes";
        } catch (...) {
            // What was streamed is not the G-code of the scene: show none.
            m_gcode.clear();
            m_preview->clear(m_preview->clipBox());
            m_gcodeTitle = kEmptyTitle;
            refreshLayerControls();
            refreshStats();
            m_viewer->update();
            throw;
        }
        if (ok) {
            m_preview->finish();
            // For measuring what streaming costs the slice: the callback's
            // share and the process's CPU time.
            qDebug() << Q_FUNC_INFO << "frmmain" << "bkg slicer 2" << clock.elapsed() << "ms, callbacks" << inCallback
                     << "ms, CPU" << qint64((std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC) << "ms;" << paints.text();
        }
    }
    m_viewer->setFocus();
    refreshLayerControls();
    refreshStats();
    m_viewer->update();
}

void FrmMain::loadGCode(const QByteArray &bytes, const QString &path)
{
    loadGCodeText(bytes, path, false);
}

void FrmMain::loadGCodeText(const QByteArray &bytes, const QString &title, bool quick)
{
    checkNotBusy();
    activateModeButton("GCode");
    setEditMode(EM_GCode);
    m_gcodeTitle = title;
    m_gcodePath = title.startsWith(kUnsavedPrefix) || title == kEmptyTitle ? QString() : title;
    // Binary "ZCode" data is not converted: the simulation refuses it with a
    // message, shown below like a parser error.
    m_gcode = bytes;
    m_preview->beadWidth = m_params.ExtrusionWidth;
    if (m_gcode.isEmpty()) {
        m_preview->clear();
    } else {
        BusyScope busy(this);
        m_preview->clear(m_preview->clipBox());
        PaintLog paints(m_paintGate);
        QElapsedTimer clock, events;
        clock.start();
        events.start();
        try {
            if (quick) {
                m_preview->append(m_gcode);
                m_preview->finish();
            } else {
                m_preview->loadAll(m_gcode, kLoadChunk, [&](int percent) {
                    if (events.elapsed() < kEventInterval)
                        return;
                    events.restart();
                    m_progress->setValue(percent);
                    refreshLayerControls();
                    paints.repaint(m_viewer, *m_preview);
                    QCoreApplication::processEvents();
                    if (m_cancelJob)
                        throw JobCancelled();
                });
            }
        } catch (const JobCancelled &) {
            qDebug() << Q_FUNC_INFO << "frmmain" << "loading stopped: the window closes";
            return;
        }
        qDebug() << Q_FUNC_INFO << "frmmain" << "G-code loaded:" << m_preview->sim().moves().size() << "records,"
                 << m_preview->layerCount() << "layers," << clock.elapsed() << "ms;" << paints.text()
                 << "; preview memory" << m_preview->memoryBytes() / 1000000 << "MB for" << m_gcode.size() / 1000000
                 << "MB of text";
    }
    m_viewer->setFocus();
    m_preview->topLayer = std::max(m_preview->layerCount() - 1, 0);
    refreshLayerControls();
    refreshStats();
    m_viewer->update();
    const QString error = m_preview->ignoredError();
    if (!error.isEmpty())
        QMessageBox::information(this, QString(), "There was an ignored error in the gcode:\n" + error);
}

void FrmMain::wireGCodePanel()
{
    QWidget *p = m_panels[EM_GCode];
    if (!p)
        return;
    GCodePreview *pv = m_preview.get();
    GlViewer *v = m_viewer;
    if (auto *sl = p->findChild<QSlider *>("slLayer")) {
        connect(sl, &QSlider::valueChanged, this, [this, pv, v, sl](int value) {
            pv->topLayer = value;
            pv->followTop = value >= sl->maximum();
            pv->showAllLines();
            refreshLineSlider();
            v->update();
        });
    }
    if (auto *se = p->findChild<QSpinBox *>("seAdditionalLayers")) {
        // First start: the whole print under the layer on show.
        if (!Ini::instance().data().contains(widgetKey(se)))
            se->setValue(se->maximum());
        pv->additionalLayers = se->value();
        connect(se, QOverload<int>::of(&QSpinBox::valueChanged), this, [pv, v](int value) {
            pv->additionalLayers = value;
            v->update();
        });
    }
    if (auto *sl = p->findChild<QSlider *>("slLine")) {
        connect(sl, &QSlider::valueChanged, this, [pv, v, sl](int value) {
            const int record = value >= sl->maximum() ? -1 : pv->layerRecord(pv->topLayer, value);
            if (record < 0)
                pv->showAllLines();
            else
                pv->setRecordLimit(record);
            v->update();
        });
    }
    if (auto *cb = p->findChild<QComboBox *>("cbColoringBy")) {
        pv->colourMode = cb->currentIndex() + 1;
        connect(cb, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [pv, v](int index) {
            pv->colourMode = index + 1;
            v->update();
        });
    }
    if (auto *ch = p->findChild<QCheckBox *>("chTravel")) {
        pv->showTravel = ch->isChecked();
        connect(ch, &QCheckBox::toggled, this, [pv, v](bool on) {
            pv->showTravel = on;
            v->update();
        });
    }
    if (auto *ch = p->findChild<QCheckBox *>("chShowLegend")) {
        pv->showLegend = ch->isChecked();
        connect(ch, &QCheckBox::toggled, this, [pv, v](bool on) {
            pv->showLegend = on;
            pv->highlightOn = false;
            v->update();
        });
    }
    if (auto *b = p->findChild<QPushButton *>("bRedraw"))
        connect(b, &QPushButton::clicked, this, [this, v] {
            applyClipControls();
            v->update();
        });
    applyClipControls();
    refreshLayerControls();
}

void FrmMain::applyClipControls()
{
    // A plane cuts while its box is checked and its value is above the
    // spin box's minimum (shown as "X off" and so on).
    GCodeClipBox clip;
    const char *const boxes[3] = {"chClipRight", "chClipFront", "chClipBottom"};
    const char *const spins[3] = {"seClipX", "seClipY", "seClipZ"};
    float *values[3] = {&clip.right, &clip.front, &clip.bottom};
    bool *off[3] = {&clip.xOff, &clip.yOff, &clip.zOff};
    QWidget *p = m_panels[EM_GCode];
    for (int i = 0; i < 3 && p; ++i) {
        auto *ch = p->findChild<QCheckBox *>(boxes[i]);
        auto *se = p->findChild<QDoubleSpinBox *>(spins[i]);
        if (!ch || !se)
            continue;
        *off[i] = !ch->isChecked() || se->value() <= se->minimum();
        *values[i] = float(se->value());
    }
    m_preview->setClipBox(clip);
}

void FrmMain::refreshLayerControls()
{
    // Follow the top while new layers stream in and the view is at the top.
    const int layers = m_preview->layerCount();
    if (m_preview->followTop || m_preview->topLayer >= layers)
        m_preview->topLayer = std::max(layers - 1, 0);
    QWidget *p = m_panels[EM_GCode];
    if (!p)
        return;
    auto *se = p->findChild<QSpinBox *>("seLayer");
    auto *sl = p->findChild<QSlider *>("slLayer");
    if (se && sl) {
        const QSignalBlocker b1(se), b2(sl);
        se->setRange(0, std::max(layers - 1, 0));
        sl->setRange(0, std::max(layers - 1, 0));
        se->setValue(m_preview->topLayer);
        sl->setValue(m_preview->topLayer);
        se->setEnabled(layers > 0);
        sl->setEnabled(layers > 0);
    }
    if (auto *title = p->findChild<QLabel *>("lGCodeTitle"))
        title->setText(m_gcodeTitle);
    refreshLineSlider();
}

void FrmMain::refreshLineSlider()
{
    QWidget *p = m_panels[EM_GCode];
    auto *sl = p ? p->findChild<QSlider *>("slLine") : nullptr;
    if (!sl)
        return;
    const int top = m_preview->topLayer;
    const int n = top < m_preview->layerCount() ? m_preview->sim().layers()[top].moveCount() : 0;
    // The value counts the top layer's records that are drawn.
    int shown = n;
    const int limit = m_preview->recordLimit();
    for (int k = 0; k < n; ++k) {
        if (m_preview->layerRecord(top, k) >= limit) {
            shown = k;
            break;
        }
    }
    const QSignalBlocker block(sl);
    sl->setRange(0, n);
    sl->setValue(shown);
    sl->setEnabled(n > 0);
}

void FrmMain::refreshStats()
{
    m_statsPanel->refresh(m_preview->sim(), m_options->filamentPrices());
}

void FrmMain::setStatsVisible(bool on)
{
    m_viewStats = on;
    const bool show = on && viewModeState().mode == VM_GCode;
    if (show)
        refreshStats();
    m_statsPanel->setVisible(show);
}

void FrmMain::selectGCodeLine(int line)
{
    if (m_preview->selectLine(line) >= 0) {
        refreshLayerControls();
        m_viewer->update();
    }
}

void FrmMain::clearGCode()
{
    loadGCode(QByteArray(), kEmptyTitle);
}

void FrmMain::openGCodeDialog()
{
    const QString path = openFileDialog("Open GCode", kGCodeFilter, "gcode");
    if (path.isEmpty())
        return;
    QByteArray bytes;
    try {
        bytes = readFile(path);
    } catch (const QString &e) {
        QMessageBox::information(this, QString(), e);
        return;
    }
    loadGCode(bytes, path);
}

QString FrmMain::gcodeSaveName() const
{
    if (m_gcodeTitle.startsWith(kUnsavedPrefix))
        return QFileInfo(m_fileOps.fileName()).completeBaseName() + ".gcode";
    return m_gcodeTitle;
}

void FrmMain::saveGCodeDialog()
{
    const QString path = saveFileDialog("Save GCode", kGCodeFilter, "gcode", gcodeSaveName());
    if (!path.isEmpty())
        saveGCodeAs(path);
}

void FrmMain::saveGCodeAs(const QString &path)
{
    writeFile(path, m_gcode);
    m_gcodeTitle = path;
    m_gcodePath = path;
    refreshLayerControls();
}

QString FrmMain::printTempPath(const QString &folder, const QString &baseName)
{
    QString path;
    for (int i = 0; i < 1000; ++i) {
        path = folder + "temp_" + baseName + (i ? QString("(%1)").arg(i) : QString()) + ".gco";
        if (!QFileInfo::exists(path))
            break;
    }
    return path;
}

void FrmMain::printGCode()
{
    QString file;
    if (m_gcodeTitle.startsWith(kUnsavedPrefix)) {
        QDir().mkpath(dataDir());
        file = printTempPath(dataDir(), m_gcodeBaseName);
        writeFile(file, m_gcode);
    } else if (m_gcodeTitle != kEmptyTitle) {
        file = m_gcodeTitle;
    }
    const QString server = ipcServerName("Pellmora");
    if (ipc_sendMessage(server, "focus")) {
        if (!file.isEmpty())
            ipc_sendMessage(server, "open " + file.toUtf8());
        return;
    }
    const QString program = printerProgram();
    const QStringList args = file.isEmpty() ? QStringList() : QStringList{file};
    if (QFileInfo(program).isExecutable() && QProcess::startDetached(program, args, appDir()))
        return;
    // The hand-off failed: say where the G-code is instead of nothing.
    QString text = QString("The printing program \"%1\" could not be started.").arg(program);
    if (!file.isEmpty())
        text += QString("\nThe G-code is in \"%1\".").arg(QDir::toNativeSeparators(file));
    QMessageBox::information(this, QString(), text);
}
