#include "app/frmoptions.h"

#include "app/iniwidgets.h"
#include "common/ini.h"
#include "raster/paralell.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QSpinBox *spin(QWidget *parent, const char *name, int min, int max, int value, const QString &suffix)
{
    auto *s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(min, max);
    s->setValue(value);
    s->setSuffix(suffix);
    return s;
}

QComboBox *list(QWidget *parent, const char *name, const QStringList &items, int index)
{
    auto *c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    c->setCurrentIndex(index);
    return c;
}

QCheckBox *check(QWidget *parent, const char *name, const QString &text, bool on)
{
    auto *c = new QCheckBox(text, parent);
    c->setObjectName(name);
    c->setChecked(on);
    return c;
}

} // namespace

FrmOptions::FrmOptions(QWidget *parent) : QDialog(parent)
{
    setObjectName("FrmOptions");
    setWindowTitle("Options");

    m_width = spin(this, "seWidth", 10, 1000, 250, " mm");
    m_widthDirection = list(this, "cbWidthDirection", {"Left to Right", "Right to Left"}, 0);
    m_widthOrigin = list(this, "cbWidthOrigin", {"Left", "Center", "Right"}, 0);
    m_depth = spin(this, "seDepth", 10, 1000, 200, " mm");
    m_depthDirection = list(this, "cbDepthDirection", {"Front to Back", "Back to Front"}, 0);
    m_depthOrigin = list(this, "cbDepthOrigin", {"Front", "Center", "Back"}, 0);
    m_height = spin(this, "seHeight", 10, 1000, 200, " mm");
    m_circular = check(this, "chCircularPlatform", "Circular platform", false);
    m_frontLeft = new QPushButton("Front Left corner", this);
    m_frontLeft->setObjectName("bFrontLeftCorner");
    m_center = new QPushButton("Center", this);
    m_center->setObjectName("bCenter");
    for (QPushButton *b : {m_frontLeft, m_center}) {
        b->setCheckable(true);
        b->setAutoDefault(false);
        // The dark look draws a checked button almost like an unchecked one.
        b->setStyleSheet("QPushButton:checked { background-color: #2a82da; color: black; }");
    }

    m_prices = new QLineEdit("PLA=0.091; ABS=0.075", this);
    m_prices->setObjectName("eFilamentPrices");
    m_prices->setPlaceholderText("Specify in the form \"name1=price1; name2=price2;...\"");

    m_checkUpdates = check(this, "chCheckForUpdatesOnStartup", "Check for updates on startup", false);
    m_updateServer = new QLineEdit(this);
    m_updateServer->setObjectName("eUpdateServer");
    m_updateServer->setPlaceholderText("http://server/ (empty: no update checks)");
    m_updateServer->setToolTip("Address of the update server. Tessavo asks it for \"update/win_dx/version\" "
                               "and, when a newer build exists, offers to download it. Empty: never asks.");
    auto *checkNow = new QPushButton("Check for updates now", this);
    checkNow->setObjectName("bCheckForUpdatesNow");
    checkNow->setAutoDefault(false);
    m_shareStats = check(this, "chShareUsageStats", "Share usage statistics to help improve Tessavo", true);
    m_shareStats->setToolTip("Tessavo sends no usage statistics: this box is kept for settings from "
                             "earlier versions and has no effect.");

    m_panelAlignment = list(this, "cbEditorPanelAlignment", {"Left", "Right"}, 1);
    m_autoHide = check(this, "chEditorPanelAutoHide", "Autohide", false);
    m_editorEnvMap = check(this, "chEditorEnvMap", "Environment mapping effect on", true);
    m_gcodeEnvMap = check(this, "chGCodeEnvMap", "GCode Viewer", false);
    m_transparent = check(this, "chTransparentObjects", "Transparent objects", false);
    m_backFaces = check(this, "chShowBackFaces", "Show backfaces", true);

    m_maxCores = spin(this, "seMaxCores", 1, 1024, 64, QString());
    m_threadPriority = list(this, "cbThreadPriority", {"Normal", "High"}, 0);

    // --- layout ---
    auto *volume = new QGridLayout;
    volume->addWidget(new QLabel("Width (X)"), 0, 0);
    volume->addWidget(m_width, 0, 1);
    volume->addWidget(m_widthDirection, 0, 2);
    volume->addWidget(new QLabel("Origin:"), 0, 3);
    volume->addWidget(m_widthOrigin, 0, 4);
    volume->addWidget(new QLabel("Depth (Y)"), 1, 0);
    volume->addWidget(m_depth, 1, 1);
    volume->addWidget(m_depthDirection, 1, 2);
    volume->addWidget(new QLabel("Origin:"), 1, 3);
    volume->addWidget(m_depthOrigin, 1, 4);
    volume->addWidget(new QLabel("Height (Z)"), 2, 0);
    volume->addWidget(m_height, 2, 1);
    volume->addWidget(m_circular, 3, 0, 1, 3);
    auto *origin = new QHBoxLayout;
    origin->addWidget(new QLabel("0,0 position on bed is at"));
    origin->addWidget(m_frontLeft);
    origin->addWidget(m_center);
    origin->addStretch(1);
    volume->addLayout(origin, 4, 0, 1, 5);
    auto *volumeBox = new QGroupBox("Build volume");
    volumeBox->setLayout(volume);

    auto *pricesBox = new QGroupBox("Filament/meter prices");
    (new QVBoxLayout(pricesBox))->addWidget(m_prices);

    auto *online = new QGridLayout;
    online->addWidget(m_checkUpdates, 0, 0, 1, 2);
    online->addWidget(new QLabel("Update server:"), 1, 0);
    online->addWidget(m_updateServer, 1, 1);
    online->addWidget(checkNow, 2, 0, 1, 2, Qt::AlignLeft);
    online->addWidget(m_shareStats, 3, 0, 1, 2);
    auto *onlineBox = new QGroupBox("Online stuff");
    onlineBox->setLayout(online);

    auto *editor = new QGridLayout;
    editor->addWidget(new QLabel("Panel alignment"), 0, 0);
    editor->addWidget(m_panelAlignment, 0, 1);
    editor->addWidget(m_autoHide, 1, 0, 1, 2);
    auto *editorBox = new QGroupBox("Editor");
    editorBox->setLayout(editor);

    auto *graphicsBox = new QGroupBox("Graphics");
    auto *graphics = new QVBoxLayout(graphicsBox);
    for (QWidget *w : {m_editorEnvMap, m_gcodeEnvMap, m_transparent, m_backFaces})
        graphics->addWidget(w);

    auto *cpu = new QGridLayout;
    cpu->addWidget(new QLabel("Maximum number of cores"), 0, 0);
    cpu->addWidget(m_maxCores, 0, 1);
    cpu->addWidget(new QLabel("Thread priority"), 1, 0);
    cpu->addWidget(m_threadPriority, 1, 1);
    auto *cpuBox = new QGroupBox("Slicer CPU usage");
    cpuBox->setLayout(cpu);

    auto *close = new QPushButton("Close", this);
    close->setObjectName("bClose");
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto *left = new QVBoxLayout;
    left->addWidget(volumeBox);
    left->addWidget(pricesBox);
    left->addWidget(onlineBox);
    left->addStretch(1);
    auto *right = new QVBoxLayout;
    right->addWidget(editorBox);
    right->addWidget(graphicsBox);
    right->addWidget(cpuBox);
    right->addStretch(1);
    auto *columns = new QHBoxLayout;
    columns->addLayout(left, 3);
    columns->addLayout(right, 2);
    auto *top = new QVBoxLayout(this);
    top->addLayout(columns);
    top->addWidget(close, 0, Qt::AlignRight);

    loadWidgets(Ini::instance(), persistentWidgets());
    refreshOriginButtons();

    for (QComboBox *c : {m_widthDirection, m_widthOrigin, m_depthDirection, m_depthOrigin})
        connect(c, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &FrmOptions::refreshOriginButtons);
    for (QSpinBox *s : {m_width, m_depth, m_height, m_maxCores})
        connect(s, QOverload<int>::of(&QSpinBox::valueChanged), this, &FrmOptions::changed);
    for (QComboBox *c : {m_widthDirection, m_widthOrigin, m_depthDirection, m_depthOrigin, m_panelAlignment,
                         m_threadPriority})
        connect(c, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &FrmOptions::changed);
    for (QCheckBox *c : {m_circular, m_checkUpdates, m_shareStats, m_autoHide, m_editorEnvMap, m_gcodeEnvMap,
                         m_transparent, m_backFaces})
        connect(c, &QCheckBox::toggled, this, &FrmOptions::changed);
    for (QLineEdit *e : {m_prices, m_updateServer})
        connect(e, &QLineEdit::textChanged, this, &FrmOptions::changed);
    QMetaObject::connectSlotsByName(this);
}

FrmOptions::~FrmOptions()
{
    storeSettings();
}

QList<QWidget *> FrmOptions::persistentWidgets() const
{
    return {m_width,        m_widthDirection, m_widthOrigin,  m_depth,          m_depthDirection,
            m_depthOrigin,  m_height,         m_circular,     m_prices,         m_checkUpdates,
            m_updateServer, m_shareStats,     m_panelAlignment, m_autoHide,     m_editorEnvMap,
            m_gcodeEnvMap,  m_transparent,    m_backFaces,    m_maxCores,       m_threadPriority};
}

void FrmOptions::storeSettings() const
{
    storeWidgets(Ini::instance(), persistentWidgets());
}

void FrmOptions::hideEvent(QHideEvent *event)
{
    storeSettings();
    QDialog::hideEvent(event);
}

BuildVolume FrmOptions::buildVolume() const
{
    return BuildVolume::fromOptions(m_width->value(), m_depth->value(), m_height->value(),
                                    m_widthOrigin->currentIndex(), m_widthDirection->currentIndex(),
                                    m_depthOrigin->currentIndex(), m_depthDirection->currentIndex());
}

bool FrmOptions::circularPlatform() const { return m_circular->isChecked(); }
QString FrmOptions::filamentPrices() const { return m_prices->text(); }
bool FrmOptions::checkForUpdatesOnStartup() const { return m_checkUpdates->isChecked(); }
void FrmOptions::setCheckForUpdatesOnStartup(bool on) { m_checkUpdates->setChecked(on); }
QString FrmOptions::updateServer() const { return m_updateServer->text().trimmed(); }
int FrmOptions::editorPanelAlignment() const { return m_panelAlignment->currentIndex(); }
bool FrmOptions::editorPanelAutoHide() const { return m_autoHide->isChecked(); }
bool FrmOptions::editorEnvMap() const { return m_editorEnvMap->isChecked(); }
bool FrmOptions::gcodeEnvMap() const { return m_gcodeEnvMap->isChecked(); }
bool FrmOptions::transparentObjects() const { return m_transparent->isChecked(); }
bool FrmOptions::showBackFaces() const { return m_backFaces->isChecked(); }
int FrmOptions::maxCores() const { return m_maxCores->value(); }
int FrmOptions::threadPriorityIndex() const { return m_threadPriority->currentIndex(); }

QThread::Priority FrmOptions::threadPriority() const
{
    // The toolkit's two lowest levels would put the slicer on idle time
    // (Linux SCHED_IDLE), so "Normal" and "High" mean what they say.
    return threadPriorityIndex() == 1 ? QThread::HighPriority : QThread::NormalPriority;
}

void FrmOptions::applyProcessorSettings() const
{
    setCoresAndPriority(maxCores(), threadPriority());
}

void FrmOptions::refreshOriginButtons()
{
    const bool directionsDefault = m_widthDirection->currentIndex() == 0 && m_depthDirection->currentIndex() == 0;
    const int w = m_widthOrigin->currentIndex(), d = m_depthOrigin->currentIndex();
    m_frontLeft->setChecked(directionsDefault && w == 0 && d == 0);
    m_center->setChecked(directionsDefault && w == 1 && d == 1);
}

void FrmOptions::on_bFrontLeftCorner_clicked()
{
    for (QComboBox *c : {m_widthDirection, m_depthDirection, m_widthOrigin, m_depthOrigin})
        c->setCurrentIndex(0);
    refreshOriginButtons();
}

void FrmOptions::on_bCenter_clicked()
{
    m_widthDirection->setCurrentIndex(0);
    m_depthDirection->setCurrentIndex(0);
    m_widthOrigin->setCurrentIndex(1);
    m_depthOrigin->setCurrentIndex(1);
    refreshOriginButtons();
}

void FrmOptions::on_bCheckForUpdatesNow_clicked()
{
    emit checkForUpdatesNow();
}
