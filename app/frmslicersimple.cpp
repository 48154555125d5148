#include "app/frmslicersimple.h"

#include "app/iniwidgets.h"
#include "common/ini.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

FrmSlicerSimple::FrmSlicerSimple(QWidget *parent) : QDialog(parent)
{
    setObjectName("FrmSlicerSimple");
    setWindowTitle("Slice");

    auto radio = [this](const char *name, const QString &text, QButtonGroup *group, int id, QLayout *into) {
        auto *b = new QRadioButton(text, this);
        b->setObjectName(name);
        group->addButton(b, id);
        into->addWidget(b);
        return b;
    };
    m_quality = new QButtonGroup(this);
    m_quality->setObjectName("bgPringQuality");
    auto *qualityBox = new QGroupBox("Print quality");
    auto *q = new QHBoxLayout(qualityBox);
    radio("rbHigh", "High", m_quality, High, q);
    radio("rbMedium", "Medium", m_quality, Medium, q)->setChecked(true);
    radio("rbLow", "Low", m_quality, Low, q);

    m_material = new QButtonGroup(this);
    m_material->setObjectName("bgMaterial");
    auto *materialBox = new QGroupBox("Material");
    auto *m = new QHBoxLayout(materialBox);
    radio("rbPLA", "PLA", m_material, PLA, m)->setChecked(true);
    radio("rbABS", "ABS", m_material, ABS, m);

    m_support = new QCheckBox("Generate support", this);
    m_support->setObjectName("chSupport");

    m_progress = new QProgressBar(this);
    m_progress->setObjectName("progressBar");
    m_progress->setRange(0, 100);
    m_progress->setValue(0);

    auto *expert = new QPushButton("Switch to Expert mode", this);
    expert->setObjectName("bSwitchToExpert");
    expert->setAutoDefault(false);
    auto *slice = new QPushButton("Slice!", this);
    slice->setObjectName("bSlice");
    slice->setDefault(true);
    slice->setMinimumHeight(40);

    auto *top = new QVBoxLayout(this);
    top->addWidget(qualityBox);
    top->addWidget(materialBox);
    top->addWidget(m_support);
    top->addWidget(slice);
    top->addWidget(m_progress);
    top->addWidget(expert);
    setMinimumWidth(320);

    loadWidgets(Ini::instance(), persistentWidgets());
    QMetaObject::connectSlotsByName(this);
}

FrmSlicerSimple::~FrmSlicerSimple() = default;

QList<QWidget *> FrmSlicerSimple::persistentWidgets() const
{
    QList<QWidget *> out;
    for (QAbstractButton *b : m_quality->buttons() + m_material->buttons())
        out << b;
    out << m_support;
    return out;
}

SlicerParams FrmSlicerSimple::paramsFor(Quality quality, Material material)
{
    SlicerParams p;
    const float height = quality == High ? 0.1f : quality == Low ? 0.3f : 0.2f;
    p.LayerHeight = height;
    p.FirstLayerHeight = height;
    p.HeadTempEnabled = true;
    p.BedTempEnabled = true;
    p.HeadTemp = material == ABS ? 230 : 220;
    p.BedTemp = material == ABS ? 110 : 60;
    return p;
}

SlicerParams FrmSlicerSimple::params() const
{
    const int q = m_quality->checkedId();
    const int m = m_material->checkedId();
    return paramsFor(q < 0 ? Medium : Quality(q), m < 0 ? PLA : Material(m));
}

void FrmSlicerSimple::on_bSlice_clicked()
{
    if (m_busy || !m_sliceFn)
        return;
    struct Busy {
        FrmSlicerSimple *d;
        explicit Busy(FrmSlicerSimple *dlg) : d(dlg)
        {
            d->m_busy = true;
            d->setEnabled(false);
        }
        ~Busy()
        {
            d->m_busy = false;
            d->setEnabled(true);
        }
    };
    const SlicerParams p = params();
    auto progress = [this](int percent) {
        m_progress->setValue(percent);
        QCoreApplication::processEvents();
    };
    {
        Busy busy(this);
        m_progress->setValue(0);
        if (m_support->isChecked() && m_supportFn)
            m_supportFn(progress);
        m_progress->setValue(0);
        m_sliceFn(p, progress);
    }
    m_sliced = true;
    done(QDialog::Accepted);
}

void FrmSlicerSimple::on_bSwitchToExpert_clicked()
{
    m_switch = true;
    done(QDialog::Accepted);
}

void FrmSlicerSimple::done(int r)
{
    if (m_busy)
        return;
    storeWidgets(Ini::instance(), persistentWidgets());
    QDialog::done(r);
}

void FrmSlicerSimple::closeEvent(QCloseEvent *event)
{
    if (m_busy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
