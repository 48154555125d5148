#include "params/parambounds.h"
#include "params/slicerparams.h"

#include <QSet>

#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

struct Entry {
    const char *key;
    double min, max;
    const char *unit;
};

// Bounds beside their keys, in key order. They are what printers in use can
// do, with room to spare, and keep every derived number of the slicer and the
// G-code writer finite and in range: a zero or tiny divisor (FilamentDiameter,
// HShellDensity, speeds and feed factors) or a huge length (TravelRetract)
// would otherwise write "G1 F0", E values of 1e15 or a negative filament
// total. Lower ends at 0 are where 0 means "none" (no retract, no skirt
// loops, no infill). Where a dialog field offered more (ExtrusionWidth and
// LayerHeight to 20 mm, FilamentDiameter from 0.1 mm, BedTemp to 300 °C,
// HShellDensity from 0 %) the field takes its limits from here.
const Entry kBounds[] = {
    {"ExtrusionWidth", 0.1, 10, "mm"},        // nozzles 0.1 .. 3 mm; also the raster pitch
    {"LayerHeight", 0.01, 5, "mm"},
    {"FirstLayerHeight", 0.01, 5, "mm"},
    {"ZAdjust", -10, 10, "mm"},
    {"HShellCnt", 0, 100, "layers"},          // also how far the cut runs ahead
    {"VShellCnt", 0, 100, "loops"},
    {"VShellOffset", -1, 1, "mm"},
    {"PathSmoothing", 0, 9, ""},
    {"PolyFillerAlg", 0, 2, ""},              // NonZero, Positive, Odd
    {"PerimeterGap", 0, 3, "extrusion widths"},
    {"HShellType", 0, 1, ""},                 // Paralell lines, Concentric
    {"HShellDensity", 0.1, 2, "(fraction)"},  // divides the line fill's extrusion
    {"HShellMinLineLen", 0, 10, "extrusion widths"},
    {"HShellAngle", -360, 360, "degrees"},
    {"HShellAngleInc", -360, 360, "degrees"},
    {"InfillDensity", 0, 1, "(fraction)"},    // 0: no infill lines
    {"InfillType", 0, 3, ""},                 // Disabled, Paralell lines, Square grid, Triangle grid
    {"InfillThickness", 0, 20, "lines"},
    {"InfillAngle", -360, 360, "degrees"},
    {"InfillAngleInc", -360, 360, "degrees"},
    {"LoopFillOverlap", -5, 5, "thirds of an extrusion width"},
    {"SkirtOffset", 0, 100, "mm"},
    {"SkirtMinCount", 0, 100, "loops"},
    {"SkirtMinLength", 0, 10000, "mm"},
    {"BrimCount", 0, 100, "loops"},
    {"RaftOffset", 0, 100, "mm"},
    {"DrawSpeed", 1, 1000, "mm/s"},
    {"FirstLayerDrawSpeed", 1, 1000, "mm/s"},
    {"VerticalSpeed", 1, 1000, "mm/s"},
    {"RetractSpeed", 1, 1000, "mm/s"},
    {"FilamentDiameter", 0.5, 5, "mm"},       // 1.75, 2.85 and 3 mm filament
    {"ExtruderSpeedRatio", 10, 1000, "percent"},
    {"FirstLayerExtruderSpeedRatio", 10, 1000, "percent"},
    {"TravelSpeed", 1, 1000, "mm/s"},
    {"TravelMinDist", 0, 1000, "mm"},
    {"TravelHeight", 0, 20, "mm"},
    {"TravelRetract", 0, 50, "mm"},           // long Bowden tubes retract about 10 mm
    {"TravelPrime", 0, 50, "mm"},
    {"WipeLength", 0, 50, "mm"},
    {"WipeSpeed", 1, 1000, "mm/s"},
    {"InitialLayerCnt", 0, 1000, "layers"},
    {"InitialLayerSpeed", 0.05, 1, "(fraction)"},
    {"MinLayerTime", 0, 600, "s"},
    {"LayerStartPos", 0, 6, ""},              // Last head position .. Spinning
    {"HeadTemp", 0, 450, "°C"},
    {"BedTemp", 0, 200, "°C"},
    {"FanFirstLayer", 0, 255, ""},
    {"FanSecondLayer", 0, 255, ""},
    {"FanNthLayer", 0, 255, ""},
    {"FanN", 1, 1000, "layers"},
    {"FFactor_Perimeter", 0.1, 10, "(fraction)"},
    {"FFactor_Loop", 0.1, 10, "(fraction)"},
    {"FFactor_HShell", 0.1, 10, "(fraction)"},
    {"FFactor_Infill", 0.1, 10, "(fraction)"},
    {"FFactor_Support", 0.1, 10, "(fraction)"},
    {"FFactor_SoftSupport", 0.1, 10, "(fraction)"},
    {"FFactor_Skirt", 0.1, 10, "(fraction)"},
    {"FFactor_Raft", 0.1, 10, "(fraction)"},
    {"FFactor_OuterHair", 0.1, 10, "(fraction)"},
    {"FFactor_InnerHair", 0.1, 10, "(fraction)"},
    {"EFactor_Perimeter", 0, 10, "(fraction)"},
    {"EFactor_Loop", 0, 10, "(fraction)"},
    {"EFactor_HShell", 0, 10, "(fraction)"},
    {"EFactor_Infill", 0, 10, "(fraction)"},
    {"EFactor_Support", 0, 10, "(fraction)"},
    {"EFactor_SoftSupport", 0, 10, "(fraction)"},
    {"EFactor_Skirt", 0, 10, "(fraction)"},
    {"EFactor_Raft", 0, 10, "(fraction)"},
    {"EFactor_OuterHair", 0, 10, "(fraction)"},
    {"EFactor_InnerHair", 0, 10, "(fraction)"},
};

const Entry *find(const QString &key)
{
    for (const Entry &e : kBounds)
        if (key == QLatin1String(e.key))
            return &e;
    return nullptr;
}

bool isIntField(const QString &key)
{
    // Made once: every job checks each bounded parameter, and a parameter
    // set walked per key cost a small job a percent of its time.
    static const QSet<QString> ints = [] {
        QSet<QString> keys;
        SlicerParams().forEachField([&](const char *k, const auto &v) {
            if (std::is_same_v<std::remove_cv_t<std::remove_reference_t<decltype(v)>>, int>)
                keys.insert(QString::fromLatin1(k));
        });
        return keys;
    }();
    return ints.contains(key);
}

// Seven digits: values of float fields print as they were typed.
QString number(double v) { return QString::number(v, 'g', 7); }

} // namespace

bool paramBounds(const QString &key, ParamBounds &out)
{
    const Entry *e = find(key);
    if (!e)
        return false;
    out.min = e->min;
    out.max = e->max;
    out.isInteger = isIntField(key);
    out.unit = e->unit;
    return true;
}

QStringList boundedParamKeys()
{
    QStringList keys;
    for (const Entry &e : kBounds)
        keys << QString::fromLatin1(e.key);
    return keys;
}

QString paramValueProblem(const QString &key, double value)
{
    ParamBounds b;
    if (!paramBounds(key, b))
        return QString();
    if (!std::isfinite(value))
        return QStringLiteral("not a finite number");
    const QString unit = *b.unit ? QString(" ") + QString::fromUtf8(b.unit) : QString();
    // Compared in float, the fields' type: 0.01f lies below 0.01.
    const bool inRange = std::fabs(value) < 1e30 && float(value) >= float(b.min) && float(value) <= float(b.max);
    if (!inRange)
        return QStringLiteral("must be from %1 to %2%3 (is %4)")
            .arg(number(b.min), number(b.max), unit, number(value));
    if (b.isInteger && value != std::floor(value))
        return QStringLiteral("must be a whole number (is %1)").arg(number(value));
    return QString();
}
