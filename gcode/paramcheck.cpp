#include "gcode/paramcheck.h"

#include <QString>

#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

[[noreturn]] void refuse(const char *key, const QString &why)
{
    throw QString("Invalid parameter %1: %2").arg(key, why);
}

// Keys that divide or scale extrusion, feed or raster size: they must be
// above `min` (0 for most; a floor for the ones that size the raster grid
// and the layer count, so a tiny value cannot ask for unbounded memory).
struct Floor {
    const char *key;
    float min;
};
const Floor kPositive[] = {
    {"ExtrusionWidth", 0.01f},  {"LayerHeight", 0.001f},       {"FirstLayerHeight", 0.001f},
    {"HShellDensity", 0},       {"DrawSpeed", 0},              {"FirstLayerDrawSpeed", 0},
    {"VerticalSpeed", 0},       {"RetractSpeed", 0},           {"FilamentDiameter", 0},
    {"ExtruderSpeedRatio", 0},  {"FirstLayerExtruderSpeedRatio", 0},
    {"TravelSpeed", 0},         {"WipeSpeed", 0},
};

} // namespace

void validateParams(const SlicerParams &sp)
{
    sp.forEachField([&sp](const char *key, const auto &v) {
        using T = std::remove_cv_t<std::remove_reference_t<decltype(v)>>;
        if constexpr (std::is_same_v<T, float>) {
            if (!std::isfinite(v))
                refuse(key, "not a finite number");
            for (const Floor &f : kPositive) {
                if (std::strcmp(f.key, key) == 0 && !(v > f.min))
                    refuse(key, QString("must be greater than %1 (is %2)").arg(f.min).arg(v));
            }
            if (std::strncmp(key, "FFactor_", 8) == 0 && !(v > 0))
                refuse(key, QString("must be greater than 0 (is %1)").arg(v));
            if (std::strncmp(key, "EFactor_", 8) == 0 && v < 0)
                refuse(key, QString("must not be negative (is %1)").arg(v));
            // Zero density would be an infinite line spacing; only matters
            // while there is infill to draw.
            // A zero speed factor would write "G1 F0" on the initial layers.
            if (std::strcmp(key, "InitialLayerSpeed") == 0 && sp.InitialLayerCnt >= 1 && !(v > 0))
                refuse(key, QString("must be greater than 0 while InitialLayerCnt is set (is %1)").arg(v));
            if (std::strcmp(key, "InfillDensity") == 0 && sp.InfillType != 0 && !(v > 0))
                refuse(key, QString("must be greater than 0 while infill is enabled (is %1)").arg(v));
        }
    });
}
