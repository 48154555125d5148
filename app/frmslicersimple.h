#pragma once
// The easy settings dialog: print quality, material and support. It slices
// with the default parameters plus what the choices set, and never changes
// the expert parameter set. Its choices persist across runs.
#include "app/dialogslicing.h"

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QProgressBar;
class QRadioButton;

class FrmSlicerSimple : public QDialog {
    Q_OBJECT
public:
    enum Quality { High = 0, Medium = 1, Low = 2 };
    enum Material { PLA = 0, ABS = 1 };

    explicit FrmSlicerSimple(QWidget *parent = nullptr);
    ~FrmSlicerSimple() override;

    // The defaults with the quality's layer heights and the material's temperatures.
    static SlicerParams paramsFor(Quality quality, Material material);
    // The set the checked buttons give.
    SlicerParams params() const;

    void setSliceFunction(DialogSliceFn fn) { m_sliceFn = std::move(fn); }
    void setSupportFunction(DialogSupportFn fn) { m_supportFn = std::move(fn); }

    bool switchRequested() const { return m_switch; }
    bool sliced() const { return m_sliced; }
    bool busy() const { return m_busy; }

public slots:
    void done(int r) override;

private slots:
    void on_bSlice_clicked();
    void on_bSwitchToExpert_clicked();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QList<QWidget *> persistentWidgets() const;

    QButtonGroup *m_quality = nullptr;
    QButtonGroup *m_material = nullptr;
    QCheckBox *m_support = nullptr;
    QProgressBar *m_progress = nullptr;
    DialogSliceFn m_sliceFn;
    DialogSupportFn m_supportFn;
    bool m_busy = false;
    bool m_switch = false;
    bool m_sliced = false;
};
