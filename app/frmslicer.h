#pragma once
// The expert settings dialog: every slicer parameter on tabs, a hint for the
// field under the pointer or in focus, fields that differ from the defaults
// highlighted, the field the slicer would refuse marked, and the preset
// commands (Store, Delete, select, Load Defaults, Export, Import).
// It is given the current parameters (setParams) and hands back its values
// (params) when it closes with keepValues().
#include "app/dialogslicing.h"
#include "app/slicerfields.h"
#include "params/slicerpresets.h"

#include <QDialog>
#include <QHash>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTextBrowser;
class QFormLayout;
class QDoubleSpinBox;
class QSpinBox;

class FrmSlicer : public QDialog {
    Q_OBJECT
public:
    explicit FrmSlicer(QWidget *parent = nullptr);
    ~FrmSlicer() override;

    // Shows `p` in the widgets. Values outside a field's range or list are
    // clamped into it and named in the dialog's status line.
    void setParams(const SlicerParams &p);
    // The widgets' values on top of the defaults.
    SlicerParams params() const;

    // The slicer's refusal of the current values ("Invalid parameter Key: ...")
    // or empty when it would slice them.
    QString validationError() const;

    QWidget *fieldWidget(const QString &key) const { return m_fields.value(key); }
    // Where the printer control panel goes; empty until it exists.
    QWidget *printerPanel() const { return m_printerPanel; }

    void setSliceFunction(DialogSliceFn fn) { m_sliceFn = std::move(fn); }

    // Preset commands without their file and name dialogs. Each returns
    // whether it did what was asked; refusals are shown in message boxes.
    // Storing under an existing name asks before replacing it.
    bool storePreset(const QString &name);
    bool deletePreset(const QString &name);
    bool selectPreset(const QString &name);
    bool exportPreset(const QString &path);
    // Shows the file's values and adds them to the presets under the file's
    // base name (asking before replacing a different preset of that name).
    // A file that holds no slicer settings changes nothing.
    bool importPreset(const QString &path);
    QStringList presetNames() const { return m_presets.names(); }

    // How the dialog ended.
    bool switchRequested() const { return m_switch; }
    bool sliced() const { return m_sliced; }
    bool keepValues() const { return m_keep; }

public slots:
    void done(int r) override;

private slots:
    void on_bStore_clicked();
    void on_bDelete_clicked();
    void on_bLoadDefaults_clicked();
    void on_bExport_clicked();
    void on_bImport_clicked();
    void on_bSlice_clicked();
    void on_bSwitchToSimple_clicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildUi();
    QWidget *buildQualityTab();
    QWidget *buildShellsTab();
    QWidget *buildInfillTab();
    QWidget *buildSpeedTab();
    QWidget *buildTravelTab();
    QWidget *buildAdhesionTab();
    QWidget *buildScriptsTab();
    QWidget *buildAdvancedTab();
    // A labelled row for `key` in `form`; returns the field's widget.
    QWidget *addRow(QFormLayout *form, const char *key);
    void addAnglePair(QFormLayout *form, const char *key, const char *incKey);
    QWidget *registerField(const char *key, QWidget *w, QWidget *label);
    QDoubleSpinBox *addCompanion(QFormLayout *form, const QString &name, const QString &label,
                                 const char *countKey, const char *unitKey);
    void linkCompanion(QDoubleSpinBox *companion, QSpinBox *count, QDoubleSpinBox *unit);

    void refreshState();
    void refreshPresetList(const QString &select = QString());
    void showHint(const QString &key);
    // Shows the refusal and its field; false when the values are refused.
    bool checkValues(const QString &title);
    void showField(const QString &key);
    bool askReplace(const QString &name);
    void runSlice();

    QHash<QString, QWidget *> m_fields;     // key -> editing widget
    QHash<QString, QWidget *> m_labels;     // key -> its label (may be the widget)
    QHash<QObject *, QString> m_hintOf;     // widget or label -> key of its hint
    QHash<QString, int> m_tabOf;            // key -> tab index
    QStringList m_tabTitles;
    QTabWidget *m_tabs = nullptr;
    QTextBrowser *m_hints = nullptr;
    QListWidget *m_presetList = nullptr;
    QLabel *m_status = nullptr;
    QProgressBar *m_progress = nullptr;
    QWidget *m_printerPanel = nullptr;
    SlicerPresets m_presets;
    QString m_clampedNote;
    DialogSliceFn m_sliceFn;
    bool m_updating = false;
    bool m_busy = false;
    bool m_switch = false;
    bool m_sliced = false;
    bool m_keep = false;
    int m_tabBuilding = 0;
};
