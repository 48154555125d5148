#pragma once
// The options dialog: build volume and G-code origin, filament prices, update
// check, editor panels, graphics switches and processor use. Its widgets are
// the settings (persisted under "FrmOptions.<widget>"); other parts read
// them through the accessors. changed() fires whenever a value changes, so
// the view can follow at once.
#include "common/buildvolume.h"

#include <QDialog>
#include <QThread>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

class FrmOptions : public QDialog {
    Q_OBJECT
public:
    explicit FrmOptions(QWidget *parent = nullptr);
    // Writes the settings back to the settings store.
    ~FrmOptions() override;

    BuildVolume buildVolume() const;
    bool circularPlatform() const;
    QString filamentPrices() const;
    bool checkForUpdatesOnStartup() const;
    void setCheckForUpdatesOnStartup(bool on);
    // Base address of the update server ("http://host/path/"); empty: no checks.
    QString updateServer() const;
    int editorPanelAlignment() const;
    bool editorPanelAutoHide() const;
    bool editorEnvMap() const;
    bool gcodeEnvMap() const;
    bool transparentObjects() const;
    bool showBackFaces() const;
    int maxCores() const;
    int threadPriorityIndex() const;
    // The scheduling priority the list's entry stands for.
    QThread::Priority threadPriority() const;
    // Hands the processor settings to the slicer's thread budget.
    void applyProcessorSettings() const;

    // Stores the widgets' values in the settings store (also done on close).
    void storeSettings() const;

    QList<QWidget *> persistentWidgets() const;

signals:
    void changed();
    void checkForUpdatesNow();

private slots:
    void on_bFrontLeftCorner_clicked();
    void on_bCenter_clicked();
    void on_bCheckForUpdatesNow_clicked();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void refreshOriginButtons();

    QSpinBox *m_width, *m_depth, *m_height, *m_maxCores;
    QComboBox *m_widthDirection, *m_widthOrigin, *m_depthDirection, *m_depthOrigin;
    QComboBox *m_panelAlignment, *m_threadPriority;
    QCheckBox *m_circular, *m_checkUpdates, *m_shareStats, *m_autoHide, *m_editorEnvMap, *m_gcodeEnvMap,
        *m_transparent, *m_backFaces;
    QLineEdit *m_prices, *m_updateServer;
    QPushButton *m_frontLeft, *m_center;
};
