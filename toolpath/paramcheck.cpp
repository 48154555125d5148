#include "toolpath/paramcheck.h"
#include "params/parambounds.h"

#include <QString>

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
