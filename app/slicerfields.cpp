#include "app/slicerfields.h"

#include "geometry/polyline.h"
#include "params/parambounds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

using K = FieldKind;

QVector<FieldDef> buildFields()
{
    // Floats without stated decimals show two; steps are what a user nudges by.
    QVector<FieldDef> v = {
        {"ExtrusionWidth", K::Float, "Extrusion width", 0.1, 20, 3, 0.01, " mm", nullptr},
        {"LayerHeight", K::Float, "Layer height", 0.01, 20, 3, 0.01, " mm", nullptr},
        {"FirstLayerHeight", K::Float, "1st Layer height", 0.01, 20, 3, 0.01, " mm", nullptr},
        {"ZAdjust", K::Float, "Z adjust", -20, 20, 3, 0.01, " mm", nullptr},
        {"UseVectorOffseter", K::Bool, "Use experimental vector-space offseter", 0, 0, 0, 0, "", nullptr},
        {"HShellCnt", K::Int, "Shell count", 1, 20, 0, 1, " layers", nullptr},
        {"VShellCnt", K::Int, "Shell count", 1, 20, 0, 1, " loops", nullptr},
        {"VShellOffset", K::Float, "Shell offset", -1, 1, 3, 0.01, " mm", nullptr},
        {"PathSmoothing", K::Float, "Path smoothing", 0, 9, 2, 0.01, "", nullptr},
        {"RepairCorners", K::Bool, "Repair Corners", 0, 0, 0, 0, "", nullptr},
        {"PolyFillerAlg", K::Enum, "Poly filler algo", 0, 0, 0, 0, "", "NonZero|Positive|Odd"},
        {"PerimeterGap", K::Float, "Perimeter gap", 0, 3, 1, 0.1, " EW", nullptr},
        {"HShellType", K::Enum, "Type", 0, 0, 0, 0, "", "Paralell lines|Concentric"},
        {"HShellDensity", K::Percent, "Density", 0, 200, 2, 5, " %", nullptr},
        {"HShellMinLineLen", K::Float, "Min. line length", 0.1, 3, 1, 0.1, " EW", nullptr},
        {"HShellAngle", K::Float, "Angle/Increment", -360, 360, 2, 5, "°", nullptr},
        {"HShellAngleInc", K::Float, "Angle increment", -360, 360, 2, 5, "°", nullptr},
        {"InfillDensity", K::Percent, "Density", 0, 100, 2, 5, " %", nullptr},
        {"InfillType", K::Enum, "Type", 0, 0, 0, 0, "", "Disabled|Paralell lines|Square grid|Triangle grid"},
        {"InfillThickness", K::Int, "Thickness", 0, 20, 0, 1, " lines", nullptr},
        {"InfillAngle", K::Float, "Angle/Increment", -360, 360, 2, 5, "°", nullptr},
        {"InfillAngleInc", K::Float, "Angle increment", -360, 360, 2, 5, "°", nullptr},
        {"LoopFillOverlap", K::Int, "Fill Overlap", -5, 5, 0, 1, " EW/3", nullptr},
        {"SkirtEnable", K::Bool, "Skirt", 0, 0, 0, 0, "", nullptr},
        {"SkirtOffset", K::Float, "Offset", 1, 20, 0, 1, " mm", nullptr},
        {"SkirtMinCount", K::Int, "Minimum count", 0, 100, 0, 1, " loops", nullptr},
        {"SkirtMinLength", K::Float, "Minimum length", 0, 1000, 2, 50, " mm", nullptr},
        {"BrimEnable", K::Bool, "Brim", 0, 0, 0, 0, "", nullptr},
        {"BrimCount", K::Int, "Loop count", 0, 100, 0, 1, " loops", nullptr},
        {"RaftEnable", K::Bool, "Raft", 0, 0, 0, 0, "", nullptr},
        {"RaftOffset", K::Float, "Offset", 1, 20, 0, 1, " mm", nullptr},
        {"RaftConfig", K::Text, "Raft layers", 0, 0, 0, 0, "", nullptr},
        {"DrawSpeed", K::Float, "Draw speed", 1, 500, 2, 10, " mm/s", nullptr},
        {"FirstLayerDrawSpeed", K::Float, "1st Layer draw speed", 1, 500, 2, 1, " mm/s", nullptr},
        {"VerticalSpeed", K::Float, "Vertical speed", 1, 500, 2, 1, " mm/s", nullptr},
        {"RetractSpeed", K::Float, "Retract/Prime speed", 1, 500, 2, 1, " mm/s", nullptr},
        {"FilamentDiameter", K::Float, "Filament diameter", 0.1, 10, 3, 0.01, " mm", nullptr},
        {"ExtruderSpeedRatio", K::Float, "Extruder speed ratio", 20, 500, 1, 1, " %", nullptr},
        {"FirstLayerExtruderSpeedRatio", K::Float, "1st Layer extr spd ratio", 20, 500, 1, 1, " %", nullptr},
        {"TravelSpeed", K::Float, "Travel speed", 1, 500, 2, 1, " mm/s", nullptr},
        {"TravelMinDist", K::Float, "Min. distance", 0, 1000, 3, 0.1, " mm", nullptr},
        {"TravelHeight", K::Float, "Elevation", 0, 10, 3, 0.1, " mm", nullptr},
        {"TravelRetract", K::Float, "Retract length", 0, 20, 3, 0.1, " mm", nullptr},
        {"TravelPrime", K::Float, "Prime length", 0, 20, 3, 0.1, " mm", nullptr},
        {"WipeLength", K::Float, "Wipe length", 0, 20, 2, 0.5, " mm", nullptr},
        {"WipeSpeed", K::Float, "Wipe speed", 1, 500, 2, 1, " mm/s", nullptr},
        {"InitialLayerCnt", K::Int, "Initial layer count", 0, 20, 0, 1, " layers", nullptr},
        {"InitialLayerSpeed", K::Percent, "Initial layer speed", 10, 100, 2, 5, " %", nullptr},
        {"MinLayerTime", K::Float, "Minimum layer time", 0, 20, 2, 1, " s", nullptr},
        {"LayerStartPos", K::Enum, "Start every layer at", 0, 0, 0, 0, "",
         "Last head position|Random position|North|South|East|West|Spinning"},
        {"OuterHair", K::Bool, "Outer", 0, 0, 0, 0, "", nullptr},
        {"InnerHair", K::Bool, "Inner", 0, 0, 0, 0, "", nullptr},
        {"HeadTempEnabled", K::Bool, "Head temperature", 0, 0, 0, 0, "", nullptr},
        {"HeadTemp", K::Int, "Head temperature", 0, 300, 0, 1, " °C", nullptr},
        {"BedTempEnabled", K::Bool, "Bed temperature", 0, 0, 0, 0, "", nullptr},
        {"BedTemp", K::Int, "Bed temperature", 0, 300, 0, 1, " °C", nullptr},
        {"FanEnable", K::Bool, "Enable fan", 0, 0, 0, 0, "", nullptr},
        {"FanFirstLayer", K::Int, "First layer", 0, 255, 0, 1, "", nullptr},
        {"FanSecondLayer", K::Int, "Second layer", 0, 255, 0, 1, "", nullptr},
        {"FanNthLayer", K::Int, "Nth layer", 0, 255, 0, 1, "", nullptr},
        {"FanN", K::Int, "N", 2, 100, 0, 1, "", nullptr},
        {"GCodeHeader", K::Text, "Header", 0, 0, 0, 0, "", nullptr},
        {"GCodeFooter", K::Text, "Footer", 0, 0, 0, 0, "", nullptr},
    };
    for (const char *prefix : {"FFactor_", "EFactor_"}) {
        for (int t = Perimeter; t <= InnerHair; ++t) { // the types with factor keys
            const char *type = segTypeName(t);
            // The key strings must outlive the table: keep them in static storage.
            static QList<QByteArray> keys;
            keys.append(QByteArray(prefix) + type);
            v.append({keys.last().constData(), K::Percent, type, 10, 1000, 2, 5, " %", nullptr});
        }
    }
    return v;
}

// Calls f(member) for the member of `p` named `key`.
template <class P, class F> void withMember(P &p, const char *key, F &&f)
{
    SlicerParams::forEachField(p, [&](const char *k, auto &v) {
        if (std::strcmp(k, key) == 0)
            f(v);
    });
}

template <class T> using Bare = std::remove_cv_t<std::remove_reference_t<T>>;

double numberOf(const FieldDef &f, const SlicerParams &p)
{
    double out = 0;
    withMember(p, f.key, [&](const auto &v) {
        using T = Bare<decltype(v)>;
        if constexpr (std::is_same_v<T, float> || std::is_same_v<T, int> || std::is_same_v<T, bool>)
            out = double(v);
    });
    return f.kind == K::Percent ? out * 100.0 : out;
}

const char *const kOriginalProp = "tvOriginalBytes";
const char *const kShownProp = "tvShownText";

} // namespace

const QVector<FieldDef> &slicerFields()
{
    static const QVector<FieldDef> fields = buildFields();
    return fields;
}

const FieldDef *findField(const QString &key)
{
    for (const FieldDef &f : slicerFields())
        if (key == QLatin1String(f.key))
            return &f;
    return nullptr;
}

void fieldRange(const FieldDef &f, double &min, double &max)
{
    min = f.min;
    max = f.max;
    ParamBounds b;
    if (paramBounds(QString::fromLatin1(f.key), b)) {
        const double scale = f.kind == K::Percent ? 100.0 : 1.0;
        min = std::max(min, b.min * scale);
        max = std::min(max, b.max * scale);
    }
}

QWidget *createFieldWidget(const FieldDef &f, QWidget *parent)
{
    const QString key = QString::fromLatin1(f.key);
    double min, max;
    fieldRange(f, min, max);
    switch (f.kind) {
    case K::Float:
    case K::Percent: {
        auto *w = new QDoubleSpinBox(parent);
        w->setObjectName("se" + key);
        w->setDecimals(f.decimals);
        w->setRange(min, max);
        w->setSingleStep(f.step);
        w->setSuffix(QString::fromUtf8(f.suffix));
        w->setKeyboardTracking(false);
        return w;
    }
    case K::Int: {
        auto *w = new QSpinBox(parent);
        w->setObjectName("se" + key);
        w->setRange(int(std::ceil(min)), int(std::floor(max)));
        w->setSingleStep(int(f.step));
        w->setSuffix(QString::fromUtf8(f.suffix));
        w->setKeyboardTracking(false);
        return w;
    }
    case K::Bool: {
        auto *w = new QCheckBox(QString::fromUtf8(f.label), parent);
        w->setObjectName("ch" + key);
        return w;
    }
    case K::Enum: {
        auto *w = new QComboBox(parent);
        w->setObjectName("cb" + key);
        w->addItems(QString::fromUtf8(f.items).split('|'));
        return w;
    }
    case K::Text: {
        auto *w = new QPlainTextEdit(parent);
        w->setObjectName("m" + key);
        w->setLineWrapMode(QPlainTextEdit::NoWrap);
        QFont mono("Monospace");
        mono.setStyleHint(QFont::TypeWriter);
        w->setFont(mono);
        return w;
    }
    }
    return nullptr;
}

bool writeField(const FieldDef &f, const SlicerParams &p, QWidget *w)
{
    bool inRange = true;
    switch (f.kind) {
    case K::Float:
    case K::Percent: {
        auto *s = static_cast<QDoubleSpinBox *>(w);
        const double x = numberOf(f, p);
        inRange = x >= s->minimum() && x <= s->maximum();
        s->setValue(x);
        break;
    }
    case K::Int: {
        auto *s = static_cast<QSpinBox *>(w);
        const double x = numberOf(f, p);
        inRange = x >= s->minimum() && x <= s->maximum();
        s->setValue(int(x));
        break;
    }
    case K::Bool:
        if (auto *g = qobject_cast<QGroupBox *>(w))
            g->setChecked(numberOf(f, p) != 0);
        else
            static_cast<QCheckBox *>(w)->setChecked(numberOf(f, p) != 0);
        break;
    case K::Enum: {
        auto *c = static_cast<QComboBox *>(w);
        const int i = int(numberOf(f, p));
        inRange = i >= 0 && i < c->count();
        c->setCurrentIndex(inRange ? i : 0);
        break;
    }
    case K::Text: {
        auto *m = static_cast<QPlainTextEdit *>(w);
        QByteArray bytes;
        withMember(p, f.key, [&](const auto &v) {
            if constexpr (std::is_same_v<Bare<decltype(v)>, QByteArray>)
                bytes = v;
        });
        m->setPlainText(QString::fromUtf8(bytes));
        m->setProperty(kOriginalProp, bytes);
        m->setProperty(kShownProp, m->toPlainText());
        break;
    }
    }
    return inRange;
}

void readField(const FieldDef &f, QWidget *w, SlicerParams &p)
{
    double x = 0;
    QByteArray bytes;
    switch (f.kind) {
    case K::Float:
        x = static_cast<QDoubleSpinBox *>(w)->value();
        break;
    case K::Percent:
        x = static_cast<QDoubleSpinBox *>(w)->value() / 100.0;
        break;
    case K::Int:
        x = static_cast<QSpinBox *>(w)->value();
        break;
    case K::Bool:
        if (auto *g = qobject_cast<QGroupBox *>(w))
            x = g->isChecked();
        else
            x = static_cast<QCheckBox *>(w)->isChecked();
        break;
    case K::Enum:
        x = static_cast<QComboBox *>(w)->currentIndex();
        break;
    case K::Text: {
        auto *m = static_cast<QPlainTextEdit *>(w);
        const QString text = m->toPlainText();
        bytes = text == m->property(kShownProp).toString() ? m->property(kOriginalProp).toByteArray()
                                                          : text.toUtf8();
        break;
    }
    }
    withMember(p, f.key, [&](auto &v) {
        using T = Bare<decltype(v)>;
        if constexpr (std::is_same_v<T, float>)
            v = float(x);
        else if constexpr (std::is_same_v<T, int>)
            v = int(std::lround(x));
        else if constexpr (std::is_same_v<T, bool>)
            v = x != 0;
        else
            v = bytes;
    });
}

QString fieldDisplay(const FieldDef &f, const SlicerParams &p)
{
    switch (f.kind) {
    case K::Float:
    case K::Percent:
        return QString::number(numberOf(f, p), 'f', f.decimals) + QString::fromUtf8(f.suffix);
    case K::Int:
        return QString::number(int(numberOf(f, p))) + QString::fromUtf8(f.suffix);
    case K::Bool:
        return numberOf(f, p) != 0 ? "true" : "false";
    case K::Enum: {
        const QStringList items = QString::fromUtf8(f.items).split('|');
        const int i = int(numberOf(f, p));
        return i >= 0 && i < items.size() ? items[i] : QString::number(i);
    }
    case K::Text: {
        QString out;
        withMember(p, f.key, [&](const auto &v) {
            if constexpr (std::is_same_v<Bare<decltype(v)>, QByteArray>)
                out = QString::fromUtf8(v);
        });
        return out;
    }
    }
    return QString();
}
