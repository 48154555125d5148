// FrmMain's settings dialogs: the Slice command's easy/expert dialogs and
// slicing from them, the options dialog and what its values reach (view,
// slicer, thread budget), and the update check.
#include "app/frmmain.h"

#include "app/frmoptions.h"
#include "app/frmslicer.h"
#include "app/printerpanel.h"
#include "app/frmslicersimple.h"
#include "common/ini.h"
#include "update/frmupdater.h"
#include "view/glviewer.h"

#include <QDebug>
#include <QGuiApplication>
#include <QMessageBox>

void FrmMain::setupDialogs()
{
    m_options = new FrmOptions(this);
    connect(m_options, &FrmOptions::changed, this, &FrmMain::applyOptions);
    connect(m_options, &FrmOptions::checkForUpdatesNow, this, [this] { m_checkUpdatesNow = true; });
    m_updater = new FrmUpdater(this);
    applyOptions();
}

// Options take effect at once: the bed and volume drawing, the volume the
// slicer and the G-code writer receive, and the thread budget.
void FrmMain::applyOptions()
{
    m_viewer->volume = m_options->buildVolume();
    m_viewer->circularPlatform = m_options->circularPlatform();
    ToolSettings &tools = m_viewer->tools().settings;
    tools.transparentObjects = m_options->transparentObjects();
    tools.showBackFaces = m_options->showBackFaces();
    tools.envReflection = m_options->editorEnvMap();
    m_viewer->update();
    m_options->applyProcessorSettings();
}

void FrmMain::showOptionsDialog()
{
    m_options->exec();
    m_options->storeSettings();
    applyOptions();
}

void FrmMain::sliceCommand(bool background)
{
    // Shift on the Slice... button streams without a dialog, as Ctrl+Shift+L does.
    if (background || (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier)) {
        sliceBackground();
        return;
    }
    if (!m_uiEnabled)
        return;
    m_slicedInDialog = false;
    bool simple = m_frmSlicerIsSimple;
    auto slice = [this](const SlicerParams &p, const DialogProgress &progress) { sliceFromDialog(p, progress); };
    for (;;) {
        m_frmSlicerIsSimple = simple;
        Ini::instance().setInt("frmSlicerIsSimple", simple);
        bool switchTo = false;
        if (simple) {
            FrmSlicerSimple dlg(this);
            dlg.setSliceFunction(slice);
            dlg.setSupportFunction([this](const DialogProgress &progress) {
                m_project.generateSupport(1.8f, 85.0f, progress);
                m_fileOps.record("generate support");
                m_viewer->update();
            });
            dlg.exec();
            switchTo = dlg.switchRequested();
        } else {
            FrmSlicer dlg(this);
            dlg.setParams(m_params);
            const PrinterPanelLoan printerLoan(printerPanel(), dlg.printerPanel());
            dlg.setSliceFunction([this, slice](const SlicerParams &p, const DialogProgress &progress) {
                // The expert values become the current ones before the slice,
                // and reach the settings store in case the slice goes wrong.
                m_params = p;
                Ini &ini = Ini::instance();
                ini.setString("slicerParams", QString::fromUtf8(m_params.toText()));
                ini.store();
                slice(p, progress);
            });
            dlg.exec();
            if (dlg.keepValues())
                m_params = dlg.params();
            switchTo = dlg.switchRequested();
        }
        if (!switchTo)
            break;
        simple = !simple;
    }
    if (m_slicedInDialog) {
        m_slicedInDialog = false;
        loadGCode(m_gcode, "Unsaved GCode: " + m_fileOps.fileName());
    }
}

// Slices the project with `params` (the current parameters only for the time
// of the slice) and keeps the G-code as the current one; the Slice command
// shows it once the dialog has closed.
void FrmMain::sliceFromDialog(const SlicerParams &params, const std::function<void(int)> &progress)
{
    struct Restore {
        FrmMain *w;
        SlicerParams kept;
        ~Restore() { w->m_params = kept; }
    } restore{this, m_params};
    m_params = params;
    sliceNow([&progress](int percent, const QByteArray &) { progress(percent); }, true);
    m_slicedInDialog = true;
}

void FrmMain::runUpdateCheck(bool visible)
{
    if (!m_updater->setServer(m_options->updateServer())) {
        if (visible)
            QMessageBox::information(this, "Tessavo updater",
                                     "The update server address \"" + m_options->updateServer() +
                                         "\" is not an http:// or https:// address.");
        return;
    }
    m_updater->check(visible);
}

bool FrmMain::updateDownloaded() const
{
    return m_updater && m_updater->hasContent();
}
