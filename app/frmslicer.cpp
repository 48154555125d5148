#include "app/frmslicer.h"

#include "app/filedialogs.h"
#include "common/ini.h"
#include "common/utils.h"
#include "gcode/paramcheck.h"
#include "geometry/polyline.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <cmath>
#include <type_traits>

namespace {

const char *const kPresetFilter = "Tessavo slicer preset(*.tvsp)";

const char *const kStyle =
    "QDoubleSpinBox[changed=\"true\"], QSpinBox[changed=\"true\"], QComboBox[changed=\"true\"],"
    " QPlainTextEdit[changed=\"true\"] { background-color: #4a3c10; color: #ffffff; }"
    " QLabel[changed=\"true\"], QCheckBox[changed=\"true\"], QGroupBox[changed=\"true\"] { color: #ffc040; }"
    " QDoubleSpinBox[invalid=\"true\"], QSpinBox[invalid=\"true\"], QComboBox[invalid=\"true\"]"
    " { background-color: #7a1e1e; }"
    " QLabel[invalid=\"true\"], QCheckBox[invalid=\"true\"] { color: #ff6060; }";

void setFlag(QWidget *w, const char *name, bool on)
{
    if (!w || w->property(name).toBool() == on)
        return;
    w->setProperty(name, on);
    w->style()->unpolish(w);
    w->style()->polish(w);
    w->update();
}

QGroupBox *group(const QString &title, QLayout *inner)
{
    auto *g = new QGroupBox(title);
    g->setLayout(inner);
    return g;
}

QFormLayout *form()
{
    auto *f = new QFormLayout;
    f->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    f->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return f;
}

// A tab page: group boxes in two columns, scrollable on small screens.
QWidget *page(const QList<QWidget *> &left, const QList<QWidget *> &right)
{
    auto *inner = new QWidget;
    auto *row = new QHBoxLayout(inner);
    for (const auto *column : {&left, &right}) {
        if (column->isEmpty())
            continue;
        auto *col = new QVBoxLayout;
        for (QWidget *w : *column)
            col->addWidget(w);
        col->addStretch(1);
        row->addLayout(col, 1);
    }
    auto *scroll = new QScrollArea;
    scroll->setWidget(inner);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    return scroll;
}

// The key named by the slicer's refusal "Invalid parameter <Key>: ...".
QString refusedKey(const QString &message)
{
    static const QRegularExpression re("Invalid parameter (\\w+)");
    const QRegularExpressionMatch m = re.match(message);
    return m.hasMatch() ? m.captured(1) : QString();
}

// Whether `bytes` are a parameter text: a JSON object carrying at least one
// known key with a value of the key's type.
bool isParameterText(const QByteArray &bytes)
{
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    bool any = false;
    SlicerParams probe;
    probe.forEachField([&](const char *key, const auto &v) {
        using T = std::remove_cv_t<std::remove_reference_t<decltype(v)>>;
        const QJsonValue j = o.value(QLatin1String(key));
        if constexpr (std::is_same_v<T, bool>)
            any = any || j.isBool();
        else if constexpr (std::is_same_v<T, QByteArray>)
            any = any || j.isString();
        else
            any = any || j.isDouble();
    });
    return any;
}

} // namespace

FrmSlicer::FrmSlicer(QWidget *parent) : QDialog(parent)
{
    setObjectName("FrmSlicer");
    setWindowTitle("Slicer settings");
    setStyleSheet(kStyle);
    buildUi();
    m_presets.loadFromIni(Ini::instance());
    refreshPresetList();
    setParams(SlicerParams());
    QMetaObject::connectSlotsByName(this);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        for (QObject *o = now; o && o != this; o = o->parent()) {
            if (m_hintOf.contains(o)) {
                showHint(m_hintOf.value(o));
                return;
            }
        }
    });
}

FrmSlicer::~FrmSlicer() = default;

void FrmSlicer::buildUi()
{
    // Presets on the left.
    m_presetList = new QListWidget;
    m_presetList->setObjectName("lwPresets");
    connect(m_presetList, &QListWidget::currentTextChanged, this, [this](const QString &name) {
        if (!m_updating && !name.isEmpty())
            selectPreset(name);
    });
    auto *presetBox = new QVBoxLayout;
    presetBox->addWidget(m_presetList, 1);
    auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    auto *presetButtons = new QGridLayout;
    presetButtons->addWidget(button("bStore", "Store"), 0, 0);
    presetButtons->addWidget(button("bDelete", "Delete"), 0, 1);
    presetButtons->addWidget(button("bExport", "Export"), 1, 0);
    presetButtons->addWidget(button("bImport", "Import"), 1, 1);
    presetButtons->addWidget(button("bLoadDefaults", "Load Defaults"), 2, 0, 1, 2);
    presetBox->addLayout(presetButtons);
    auto *presets = group("Presets", presetBox);
    presets->setObjectName("gbPresets");
    presets->setFixedWidth(190);

    // The settings in the middle.
    m_tabs = new QTabWidget;
    m_tabs->setObjectName("tabs");
    m_tabs->setUsesScrollButtons(false); // every tab title stays in sight
    auto addTab = [this](QWidget *(FrmSlicer::*build)(), const QString &title) {
        m_tabBuilding = m_tabs->count();
        m_tabs->addTab((this->*build)(), title);
        m_tabTitles << title;
    };
    addTab(&FrmSlicer::buildQualityTab, "Quality");
    addTab(&FrmSlicer::buildShellsTab, "Shells");
    addTab(&FrmSlicer::buildInfillTab, "Infill");
    addTab(&FrmSlicer::buildSpeedTab, "Speed && temperature");
    addTab(&FrmSlicer::buildTravelTab, "Travel");
    addTab(&FrmSlicer::buildAdhesionTab, "Support && adhesion");
    addTab(&FrmSlicer::buildScriptsTab, "G-code scripts");
    addTab(&FrmSlicer::buildAdvancedTab, "Advanced");
    // The printer control panel's place.
    m_printerPanel = new QWidget;
    m_printerPanel->setObjectName("pPrinterControl");
    m_tabs->addTab(m_printerPanel, "Printer");
    m_tabTitles << "Printer";

    // Hints on the right.
    m_hints = new QTextBrowser;
    m_hints->setObjectName("tbHints");
    m_hints->setOpenLinks(false);
    m_hints->setFixedWidth(260);
    try {
        m_hints->setHtml(QString::fromUtf8(readFile(resourcePath("hints.htm"))));
    } catch (const QString &e) {
        m_hints->setPlainText(e);
    }

    auto *middle = new QHBoxLayout;
    middle->addWidget(presets);
    middle->addWidget(m_tabs, 1);
    middle->addWidget(m_hints);

    m_status = new QLabel;
    m_status->setObjectName("lStatus");
    m_status->setWordWrap(true);
    m_progress = new QProgressBar;
    m_progress->setObjectName("progressBar");
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(button("bSwitchToSimple", "Switch to Easy mode"));
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_progress);
    auto *slice = button("bSlice", "Slice");
    slice->setMinimumWidth(120);
    bottom->addWidget(slice);
    auto *close = button("bClose", "Close");
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    bottom->addWidget(close);

    auto *top = new QVBoxLayout(this);
    top->addLayout(middle, 1);
    top->addLayout(bottom);
    resize(1320, 680);
}

QWidget *FrmSlicer::registerField(const char *key, QWidget *w, QWidget *label)
{
    const QString k = QString::fromLatin1(key);
    m_fields.insert(k, w);
    m_labels.insert(k, label ? label : w);
    m_tabOf.insert(k, m_tabBuilding);
    m_hintOf.insert(w, k);
    w->installEventFilter(this);
    if (label) {
        m_hintOf.insert(label, k);
        label->installEventFilter(this);
    }
    auto changed = [this] {
        if (!m_updating)
            refreshState();
    };
    if (auto *s = qobject_cast<QDoubleSpinBox *>(w))
        connect(s, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, changed);
    else if (auto *s = qobject_cast<QSpinBox *>(w))
        connect(s, QOverload<int>::of(&QSpinBox::valueChanged), this, changed);
    else if (auto *c = qobject_cast<QCheckBox *>(w))
        connect(c, &QCheckBox::toggled, this, changed);
    else if (auto *g = qobject_cast<QGroupBox *>(w))
        connect(g, &QGroupBox::toggled, this, changed);
    else if (auto *c = qobject_cast<QComboBox *>(w))
        connect(c, QOverload<int>::of(&QComboBox::currentIndexChanged), this, changed);
    else if (auto *m = qobject_cast<QPlainTextEdit *>(w))
        connect(m, &QPlainTextEdit::textChanged, this, changed);
    return w;
}

QWidget *FrmSlicer::addRow(QFormLayout *f, const char *key)
{
    const FieldDef *field = findField(key);
    QWidget *w = createFieldWidget(*field, nullptr);
    if (field->kind == FieldKind::Bool) {
        f->addRow(QString(), w);
        return registerField(key, w, nullptr);
    }
    auto *label = new QLabel(QString::fromUtf8(field->label) + ":");
    label->setObjectName(QString("l") + key);
    f->addRow(label, w);
    return registerField(key, w, label);
}

void FrmSlicer::addAnglePair(QFormLayout *f, const char *key, const char *incKey)
{
    const FieldDef *a = findField(key);
    const FieldDef *b = findField(incKey);
    QWidget *wa = createFieldWidget(*a, nullptr);
    QWidget *wb = createFieldWidget(*b, nullptr);
    auto *row = new QHBoxLayout;
    row->addWidget(wa);
    row->addWidget(wb);
    auto *label = new QLabel(QString::fromUtf8(a->label) + ":");
    label->setObjectName(QString("l") + key);
    f->addRow(label, row);
    registerField(key, wa, label);
    registerField(incKey, wb, nullptr);
    m_labels.insert(incKey, label);
}

QDoubleSpinBox *FrmSlicer::addCompanion(QFormLayout *f, const QString &name, const QString &label,
                                        const char *countKey, const char *unitKey)
{
    auto *w = new QDoubleSpinBox;
    w->setObjectName("se" + name);
    w->setDecimals(3);
    w->setRange(0, 1000);
    w->setSuffix(" mm");
    w->setKeyboardTracking(false);
    auto *l = new QLabel(label + ":");
    f->addRow(l, w);
    m_hintOf.insert(w, name);
    m_hintOf.insert(l, name);
    w->installEventFilter(this);
    l->installEventFilter(this);
    linkCompanion(w, static_cast<QSpinBox *>(m_fields.value(countKey)),
                  static_cast<QDoubleSpinBox *>(m_fields.value(unitKey)));
    return w;
}

// The companion shows count × unit (a thickness or a size in mm); typing a
// length sets the count that comes nearest, and the companion then snaps to
// what that count gives.
void FrmSlicer::linkCompanion(QDoubleSpinBox *companion, QSpinBox *count, QDoubleSpinBox *unit)
{
    auto follow = [companion, count, unit] {
        const QSignalBlocker block(companion);
        companion->setValue(count->value() * unit->value());
        companion->setSingleStep(unit->value());
    };
    connect(count, QOverload<int>::of(&QSpinBox::valueChanged), companion, follow);
    connect(unit, QOverload<double>::of(&QDoubleSpinBox::valueChanged), companion, follow);
    connect(companion, QOverload<double>::of(&QDoubleSpinBox::valueChanged), count,
            [companion, count, unit, follow] {
                if (unit->value() <= 0)
                    return;
                count->setValue(int(std::lround(companion->value() / unit->value())));
                follow();
            });
    follow();
}

QWidget *FrmSlicer::buildQualityTab()
{
    auto *layers = form();
    addRow(layers, "LayerHeight");
    addRow(layers, "FirstLayerHeight");
    addRow(layers, "ZAdjust");
    auto *extrusion = form();
    addRow(extrusion, "ExtrusionWidth");
    addRow(extrusion, "FilamentDiameter");
    addRow(extrusion, "ExtruderSpeedRatio");
    addRow(extrusion, "FirstLayerExtruderSpeedRatio");
    auto *outline = form();
    addRow(outline, "PathSmoothing");
    addRow(outline, "RepairCorners");
    return page({group("Layers", layers), group("Extrusion", extrusion)}, {group("Outline", outline)});
}

QWidget *FrmSlicer::buildShellsTab()
{
    auto *vertical = form();
    addRow(vertical, "VShellCnt");
    addCompanion(vertical, "VShellThickness", "Shell thickness", "VShellCnt", "ExtrusionWidth");
    addRow(vertical, "VShellOffset");
    addRow(vertical, "PerimeterGap");
    addRow(vertical, "LoopFillOverlap");
    addRow(vertical, "UseVectorOffseter");
    auto *hair = form();
    addRow(hair, "OuterHair");
    addRow(hair, "InnerHair");
    auto *horizontal = form();
    addRow(horizontal, "HShellCnt");
    addCompanion(horizontal, "HShellThickness", "Shell thickness", "HShellCnt", "LayerHeight");
    addRow(horizontal, "HShellType");
    addRow(horizontal, "HShellDensity");
    addRow(horizontal, "HShellMinLineLen");
    addAnglePair(horizontal, "HShellAngle", "HShellAngleInc");
    return page({group("Walls (vertical shells)", vertical), group("Hair detection", hair)},
                {group("Top and bottom (horizontal shells)", horizontal)});
}

QWidget *FrmSlicer::buildInfillTab()
{
    auto *infill = form();
    addRow(infill, "InfillType");
    addRow(infill, "InfillDensity");
    addRow(infill, "InfillThickness");
    addAnglePair(infill, "InfillAngle", "InfillAngleInc");
    return page({group("Infill", infill)}, {});
}

QWidget *FrmSlicer::buildSpeedTab()
{
    auto *speed = form();
    addRow(speed, "DrawSpeed");
    addRow(speed, "FirstLayerDrawSpeed");
    addRow(speed, "VerticalSpeed");
    addRow(speed, "TravelSpeed");
    auto *initial = form();
    addRow(initial, "InitialLayerCnt");
    addRow(initial, "InitialLayerSpeed");
    addRow(initial, "MinLayerTime");

    // Heating: the on/off box is the row's label, the temperature its field.
    auto *heat = form();
    for (auto keys : {std::pair{"HeadTempEnabled", "HeadTemp"}, std::pair{"BedTempEnabled", "BedTemp"}}) {
        auto *on = static_cast<QCheckBox *>(createFieldWidget(*findField(keys.first), nullptr));
        QWidget *temp = createFieldWidget(*findField(keys.second), nullptr);
        heat->addRow(on, temp);
        registerField(keys.first, on, nullptr);
        registerField(keys.second, temp, on);
        connect(on, &QCheckBox::toggled, temp, &QWidget::setEnabled);
    }
    auto *fan = form();
    auto *fanOn = static_cast<QCheckBox *>(addRow(fan, "FanEnable"));
    QList<QWidget *> fanFields;
    fanFields << addRow(fan, "FanFirstLayer") << addRow(fan, "FanSecondLayer") << addRow(fan, "FanNthLayer")
              << addRow(fan, "FanN");
    for (QWidget *w : fanFields)
        connect(fanOn, &QCheckBox::toggled, w, &QWidget::setEnabled);
    return page({group("Speed", speed), group("Initial layers", initial)},
                {group("Temperature", heat), group("Fan (0-255)", fan)});
}

QWidget *FrmSlicer::buildTravelTab()
{
    auto *retract = form();
    addRow(retract, "TravelRetract");
    addRow(retract, "TravelPrime");
    addRow(retract, "RetractSpeed");
    addRow(retract, "WipeLength");
    addRow(retract, "WipeSpeed");
    auto *far = form();
    addRow(far, "TravelMinDist");
    addRow(far, "TravelHeight");
    auto *start = form();
    addRow(start, "LayerStartPos");
    return page({group("Retraction", retract)}, {group("Far travel", far), group("Layer start", start)});
}

QWidget *FrmSlicer::buildAdhesionTab()
{
    // Skirt, brim and raft are switched by their group's check box.
    auto checkable = [this](const char *key, const char *name, QFormLayout *inner) {
        auto *g = group(QString::fromUtf8(findField(key)->label), inner);
        g->setObjectName(name);
        g->setCheckable(true);
        registerField(key, g, nullptr);
        return g;
    };
    auto *skirt = form();
    addRow(skirt, "SkirtOffset");
    addRow(skirt, "SkirtMinCount");
    addRow(skirt, "SkirtMinLength");
    auto *brim = form();
    addRow(brim, "BrimCount");
    auto *raft = form();
    addRow(raft, "RaftOffset");
    QWidget *table = addRow(raft, "RaftConfig");
    table->setMinimumHeight(110);
    auto *skirtBox = checkable("SkirtEnable", "gbSkirt", skirt);
    auto *brimBox = checkable("BrimEnable", "gbBrim", brim);
    addCompanion(brim, "BrimSize", "Size", "BrimCount", "ExtrusionWidth");
    auto *raftBox = checkable("RaftEnable", "gbRaft", raft);
    auto *note = new QLabel("Support bars are placed in the Support mode of the main window; their "
                            "speed and extrusion are set under Advanced, Adjustments.");
    note->setWordWrap(true);
    return page({skirtBox, brimBox, note}, {raftBox});
}

QWidget *FrmSlicer::buildScriptsTab()
{
    auto *scripts = new QVBoxLayout;
    for (const char *key : {"GCodeHeader", "GCodeFooter"}) {
        const FieldDef *field = findField(key);
        auto *label = new QLabel(QString::fromUtf8(field->label) + ":");
        QWidget *w = createFieldWidget(*field, nullptr);
        scripts->addWidget(label);
        scripts->addWidget(w, 1);
        registerField(key, w, label);
    }
    auto *page = new QWidget;
    page->setLayout(scripts);
    return page;
}

QWidget *FrmSlicer::buildAdvancedTab()
{
    auto *outline = form();
    addRow(outline, "PolyFillerAlg");

    auto *grid = new QGridLayout;
    auto *feed = new QLabel("FeedRate");
    auto *extr = new QLabel("Extrusion");
    grid->addWidget(feed, 0, 1);
    grid->addWidget(extr, 0, 2);
    int row = 1;
    for (int t = Perimeter; t <= InnerHair; ++t) { // the types with factor keys
        const char *type = segTypeName(t);
        auto *name = new QLabel(QString::fromLatin1(type) + ":");
        grid->addWidget(name, row, 0, Qt::AlignRight);
        const QByteArray fKey = QByteArray("FFactor_") + type;
        const QByteArray eKey = QByteArray("EFactor_") + type;
        QWidget *f = createFieldWidget(*findField(fKey), nullptr);
        QWidget *e = createFieldWidget(*findField(eKey), nullptr);
        grid->addWidget(f, row, 1);
        grid->addWidget(e, row, 2);
        registerField(findField(fKey)->key, f, name);
        registerField(findField(eKey)->key, e, nullptr);
        ++row;
    }
    return page({group("Rasteriser", outline)}, {group("Adjustments", grid)});
}

void FrmSlicer::setParams(const SlicerParams &p)
{
    m_updating = true;
    QStringList clamped;
    for (const FieldDef &f : slicerFields())
        if (!writeField(f, p, m_fields.value(QString::fromLatin1(f.key))))
            clamped << QString::fromLatin1(f.key);
    m_updating = false;
    m_clampedNote = clamped.isEmpty() ? QString()
                                      : "Outside the dialog's range, set to the nearest allowed value: " +
                                            clamped.join(", ");
    refreshState();
}

SlicerParams FrmSlicer::params() const
{
    SlicerParams p;
    for (const FieldDef &f : slicerFields())
        readField(f, m_fields.value(QString::fromLatin1(f.key)), p);
    return p;
}

QString FrmSlicer::validationError() const
{
    try {
        validateParams(params());
    } catch (const QString &e) {
        return e;
    }
    return QString();
}

void FrmSlicer::refreshState()
{
    const SlicerParams now = params();
    const SlicerParams defaults;
    const QString error = validationError();
    const QString bad = refusedKey(error);
    // A widget may stand for several keys (a row label of two values, a
    // heating box that labels its temperature): it is lit when any of them is.
    QHash<QWidget *, bool> changed, invalid;
    QSet<int> changedTabs;
    for (const FieldDef &f : slicerFields()) {
        const QString key = QString::fromLatin1(f.key);
        const bool differs = fieldDisplay(f, now) != fieldDisplay(f, defaults);
        for (QWidget *w : {m_fields.value(key), m_labels.value(key)}) {
            changed[w] = changed.value(w) || differs;
            invalid[w] = invalid.value(w) || key == bad;
        }
        if (differs)
            changedTabs.insert(m_tabOf.value(key));
    }
    for (auto it = changed.cbegin(); it != changed.cend(); ++it) {
        setFlag(it.key(), "changed", it.value());
        setFlag(it.key(), "invalid", invalid.value(it.key()));
    }
    for (int i = 0; i < m_tabTitles.size(); ++i)
        m_tabs->setTabText(i, m_tabTitles[i] + (changedTabs.contains(i) ? " *" : ""));

    if (!error.isEmpty()) {
        m_status->setStyleSheet("color: #ff6060;");
        m_status->setText(error);
    } else {
        m_status->setStyleSheet(QString());
        m_status->setText(m_clampedNote);
    }
}

void FrmSlicer::showHint(const QString &key)
{
    m_hints->scrollToAnchor(key);
}

void FrmSlicer::showField(const QString &key)
{
    QWidget *w = m_fields.value(key);
    if (!w)
        return;
    m_tabs->setCurrentIndex(m_tabOf.value(key));
    w->setFocus();
    showHint(key);
}

bool FrmSlicer::checkValues(const QString &title)
{
    // A value typed but not yet confirmed counts as entered.
    for (QAbstractSpinBox *s : findChildren<QAbstractSpinBox *>())
        s->interpretText();
    const QString error = validationError();
    if (error.isEmpty())
        return true;
    showField(refusedKey(error));
    QMessageBox::warning(this, title, "The slicer refuses these settings:\n" + error);
    return false;
}

bool FrmSlicer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Enter && m_hintOf.contains(watched))
        showHint(m_hintOf.value(watched));
    return QDialog::eventFilter(watched, event);
}

void FrmSlicer::refreshPresetList(const QString &select)
{
    m_updating = true;
    m_presetList->clear();
    m_presetList->addItems(m_presets.names());
    const auto found = m_presetList->findItems(select, Qt::MatchExactly);
    if (!select.isEmpty() && !found.isEmpty())
        m_presetList->setCurrentItem(found.first());
    m_updating = false;
}

bool FrmSlicer::askReplace(const QString &name)
{
    return QMessageBox::question(this, "Store Preset",
                                 QString("A preset named \"%1\" exists already.\nReplace it?").arg(name),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

bool FrmSlicer::storePreset(const QString &name)
{
    if (name.trimmed().isEmpty()) {
        QMessageBox::warning(this, "Store Preset", "A preset needs a name.");
        return false;
    }
    if (!checkValues("Store Preset"))
        return false;
    if (m_presets.names().contains(name) && !askReplace(name))
        return false;
    m_presets.store(name, params());
    m_presets.storeToIni(Ini::instance());
    refreshPresetList(name);
    return true;
}

bool FrmSlicer::deletePreset(const QString &name)
{
    if (!m_presets.remove(name))
        return false;
    m_presets.storeToIni(Ini::instance());
    refreshPresetList();
    return true;
}

bool FrmSlicer::selectPreset(const QString &name)
{
    SlicerParams p;
    if (!m_presets.load(name, p)) {
        QMessageBox::warning(this, "Presets", QString("The preset \"%1\" holds no settings.").arg(name));
        return false;
    }
    setParams(p);
    return true;
}

bool FrmSlicer::exportPreset(const QString &path)
{
    if (!checkValues("Export preset"))
        return false;
    try {
        SlicerPresets::exportFile(path, params());
    } catch (const QString &e) {
        QMessageBox::warning(this, "Export preset", e);
        return false;
    }
    return true;
}

bool FrmSlicer::importPreset(const QString &path)
{
    const QFileInfo info(path);
    QString problem;
    QByteArray bytes;
    if (!info.exists())
        problem = QString("The file \"%1\" does not exist.").arg(path);
    else if (!info.isFile())
        problem = QString("\"%1\" is not a file.").arg(path);
    else if (info.size() > SlicerPresets::kMaxPresetFileSize)
        problem = QString("\"%1\" is too large to be a slicer preset.").arg(path);
    if (problem.isEmpty()) {
        try {
            bytes = readFile(path);
        } catch (const QString &e) {
            problem = e;
        }
    }
    if (problem.isEmpty() && !isParameterText(bytes))
        problem = QString("\"%1\" is not a Tessavo slicer preset: it holds no slicer settings.").arg(path);
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, "Import preset", problem + "\nNothing was changed.");
        return false;
    }

    SlicerParams p;
    p.fromText(bytes);
    setParams(p);

    const QString name = info.completeBaseName();
    if (name.isEmpty())
        return true;
    const QString error = validationError();
    if (!error.isEmpty()) {
        showField(refusedKey(error));
        QMessageBox::warning(this, "Import preset",
                             "The imported settings are shown, but the slicer refuses them, so they were "
                             "not stored as a preset:\n" + error);
        return true;
    }
    SlicerParams existing;
    const bool exists = m_presets.names().contains(name);
    if (exists && m_presets.load(name, existing) && existing == params()) {
        refreshPresetList(name);
        return true;
    }
    if (exists && !askReplace(name))
        return true;
    m_presets.store(name, params());
    m_presets.storeToIni(Ini::instance());
    refreshPresetList(name);
    return true;
}

void FrmSlicer::on_bStore_clicked()
{
    const QListWidgetItem *current = m_presetList->currentItem();
    bool ok = false;
    const QString name = QInputDialog::getText(this, "Store Preset", "Name:", QLineEdit::Normal,
                                               current ? current->text() : QString(), &ok);
    if (ok)
        storePreset(name.trimmed());
}

void FrmSlicer::on_bDelete_clicked()
{
    if (const QListWidgetItem *current = m_presetList->currentItem())
        deletePreset(current->text());
}

void FrmSlicer::on_bLoadDefaults_clicked()
{
    setParams(SlicerParams());
}

void FrmSlicer::on_bExport_clicked()
{
    if (!checkValues("Export preset"))
        return;
    const QListWidgetItem *current = m_presetList->currentItem();
    QString path = saveFileDialog("Export preset", kPresetFilter, "preset",
                                  (current ? current->text() : QString("preset")) + ".tvsp");
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += ".tvsp";
    exportPreset(path);
}

void FrmSlicer::on_bImport_clicked()
{
    const QString path = openFileDialog("Import preset", kPresetFilter, "preset");
    if (!path.isEmpty())
        importPreset(path);
}

void FrmSlicer::on_bSwitchToSimple_clicked()
{
    m_switch = true;
    done(QDialog::Accepted);
}

void FrmSlicer::on_bSlice_clicked()
{
    if (m_busy || !checkValues("Slice"))
        return;
    runSlice();
}

void FrmSlicer::runSlice()
{
    if (!m_sliceFn)
        return;
    // Enabled again however the slice ends; the slicer's exceptions go on to
    // the application's handler.
    struct Busy {
        FrmSlicer *d;
        explicit Busy(FrmSlicer *dlg) : d(dlg)
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
    m_keep = true;
    m_progress->setValue(0);
    {
        Busy busy(this);
        m_sliceFn(params(), [this](int percent) {
            m_progress->setValue(percent);
            QCoreApplication::processEvents();
        });
    }
    m_sliced = true;
    done(QDialog::Accepted);
}

void FrmSlicer::done(int r)
{
    if (m_busy)
        return;
    if (!m_sliced) {
        for (QAbstractSpinBox *s : findChildren<QAbstractSpinBox *>())
            s->interpretText();
        const QString error = validationError();
        m_keep = error.isEmpty();
        if (!m_keep) {
            const auto answer = QMessageBox::question(
                this, "Slicer settings",
                "The slicer refuses these settings:\n" + error +
                    "\n\nClose anyway and keep the settings as they were before?",
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
            if (answer != QMessageBox::Yes) {
                m_switch = false;
                showField(refusedKey(error));
                return;
            }
        }
    }
    QDialog::done(r);
}

void FrmSlicer::closeEvent(QCloseEvent *event)
{
    if (m_busy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
