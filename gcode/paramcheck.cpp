#include "gcode/paramcheck.h"
#include "params/parambounds.h"

#include <QString>
#include <QStringList>

#include <type_traits>

void validateParams(const SlicerParams &sp)
{
    sp.forEachField([](const char *key, const auto &v) {
        using T = std::remove_cv_t<std::remove_reference_t<decltype(v)>>;
        if constexpr (std::is_same_v<T, float> || std::is_same_v<T, int>) {
            const QString why = paramValueProblem(QLatin1String(key), double(v));
            if (!why.isEmpty())
                throw QString("Invalid parameter %1: %2").arg(QLatin1String(key), why);
        }
    });
}

QStringList overriddenSettings(const SlicerParams &sp)
{
    // The first layer gets one of them, in this order (brimSkirtRaft).
    QStringList notes;
    const char *winner = sp.SkirtEnable ? "SkirtEnable" : sp.BrimEnable ? "BrimEnable" : nullptr;
    if (!winner)
        return notes;
    if (sp.BrimEnable && sp.SkirtEnable)
        notes << QString("BrimEnable has no effect while %1 is on").arg(QLatin1String(winner));
    if (sp.RaftEnable)
        notes << QString("RaftEnable has no effect while %1 is on").arg(QLatin1String(winner));
    return notes;
}
