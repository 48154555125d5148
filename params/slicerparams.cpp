#include "params/slicerparams.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <cfloat>
#include <climits>
#include <cmath>
#include <type_traits>

QByteArray SlicerParams::defaultRaftConfig()
{
    return "Type ; LayerHeight ; FillDensity ; Angle\n"
           "3       ;  0.4              ; 0.1            ; 45\n"
           "3       ;  0.4              ; 0.1            ; 0\n"
           "1       ;  0.1              ; 0.3           ; 20\n"
           "1       ;  0.1              ; 0.3           ; 90\n";
}

namespace {

template <class T> using Bare = std::remove_cv_t<std::remove_reference_t<T>>;

// Nearest int with halves toward +inf; false when x is not finite or the
// result does not fit an int (converting such a double to int is undefined).
bool roundToInt(double x, int &out)
{
    if (!std::isfinite(x))
        return false;
    const double r = std::floor(x + 0.5);
    if (r < double(INT_MIN) || r > double(INT_MAX))
        return false;
    out = int(r);
    return true;
}

// Narrowing a double beyond the float range is undefined as well.
bool toFloat(double x, float &out)
{
    if (!std::isfinite(x) || std::fabs(x) > double(FLT_MAX))
        return false;
    out = float(x);
    return true;
}

} // namespace

float SlicerParams::fFactor(int segType) const
{
    const float f[10] = {FFactor_Perimeter, FFactor_Loop, FFactor_HShell, FFactor_Infill,
                         FFactor_Support, FFactor_SoftSupport, FFactor_Skirt, FFactor_Raft,
                         FFactor_OuterHair, FFactor_InnerHair};
    return segType >= 1 && segType <= 10 ? f[segType - 1] : 1.0f;
}

float SlicerParams::eFactor(int segType) const
{
    const float e[10] = {EFactor_Perimeter, EFactor_Loop, EFactor_HShell, EFactor_Infill,
                         EFactor_Support, EFactor_SoftSupport, EFactor_Skirt, EFactor_Raft,
                         EFactor_OuterHair, EFactor_InnerHair};
    return segType >= 1 && segType <= 10 ? e[segType - 1] : 1.0f;
}

QByteArray SlicerParams::toText() const
{
    QJsonObject o;
    forEachField([&o](const char *key, const auto &v) {
        using T = Bare<decltype(v)>;
        if constexpr (std::is_same_v<T, float>)
            o.insert(key, double(v));
        else if constexpr (std::is_same_v<T, int>)
            o.insert(key, v);
        else if constexpr (std::is_same_v<T, bool>)
            o.insert(key, v);
        else
            o.insert(key, QString::fromUtf8(v));
    });
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

void SlicerParams::fromText(const QByteArray &text)
{
    resetToDefaults();
    const QJsonDocument doc = QJsonDocument::fromJson(text);
    if (!doc.isObject())
        return;
    const QJsonObject o = doc.object();
    forEachField([&o](const char *key, auto &v) {
        using T = Bare<decltype(v)>;
        const QJsonValue j = o.value(QLatin1String(key));
        if constexpr (std::is_same_v<T, float>) {
            if (j.isDouble())
                toFloat(j.toDouble(), v);
        } else if constexpr (std::is_same_v<T, int>) {
            if (j.isDouble())
                roundToInt(j.toDouble(), v);
        } else if constexpr (std::is_same_v<T, bool>) {
            if (j.isBool())
                v = j.toBool();
        } else {
            if (j.isString())
                v = j.toString().toUtf8();
        }
    });
}

QString SlicerParams::textProblem(const QByteArray &text, QStringList *unknownKeys)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &err);
    if (err.error != QJsonParseError::NoError)
        return QString("not valid JSON (%1 at offset %2)").arg(err.errorString()).arg(err.offset);
    if (!doc.isObject())
        return QString("not a JSON object");
    const QJsonObject o = doc.object();
    auto typeName = [](const QJsonValue &j) {
        switch (j.type()) {
        case QJsonValue::Null: return "null";
        case QJsonValue::Bool: return "true or false";
        case QJsonValue::Double: return "a number";
        case QJsonValue::String: return "a text";
        case QJsonValue::Array: return "an array";
        case QJsonValue::Object: return "an object";
        default: return "nothing";
        }
    };
    QString problem;
    QStringList known;
    SlicerParams probe;
    probe.forEachField([&](const char *key, auto &v) {
        known << QLatin1String(key);
        if (!problem.isEmpty() || !o.contains(QLatin1String(key)))
            return;
        using T = Bare<decltype(v)>;
        const QJsonValue j = o.value(QLatin1String(key));
        const char *want = nullptr;
        if constexpr (std::is_same_v<T, float>) {
            if (!j.isDouble() || !toFloat(j.toDouble(), v))
                want = "a number";
        } else if constexpr (std::is_same_v<T, int>) {
            if (!j.isDouble() || !roundToInt(j.toDouble(), v))
                want = "an integer";
        } else if constexpr (std::is_same_v<T, bool>) {
            if (!j.isBool())
                want = "true or false";
        } else {
            if (!j.isString())
                want = "a text";
        }
        if (want) {
            const QString got = j.isDouble() ? QString::number(j.toDouble(), 'g', 7) : QString(typeName(j));
            problem = QString("%1: expected %2, got %3").arg(QLatin1String(key), QLatin1String(want), got);
        }
    });
    if (unknownKeys) {
        unknownKeys->clear();
        for (const QString &k : o.keys())
            if (!known.contains(k))
                *unknownKeys << k;
    }
    return problem;
}

void SlicerParams::applyOverride(const QString &keyValue)
{
    const int eq = keyValue.indexOf('=');
    if (eq < 0)
        throw QString("SlicerParams::applyOverride() expected Key=Value, got \"%1\"").arg(keyValue);
    const QString key = keyValue.left(eq).trimmed();
    const QString value = keyValue.mid(eq + 1);
    bool known = false;
    forEachField([&](const char *k, auto &v) {
        if (known || key != QLatin1String(k))
            return;
        known = true;
        using T = Bare<decltype(v)>;
        auto bad = [&](const char *what) {
            return QString("SlicerParams::applyOverride() bad value for %1 (%2 expected): \"%3\"")
                .arg(key, what, value);
        };
        if constexpr (std::is_same_v<T, float>) {
            bool ok = false;
            const double d = value.trimmed().toDouble(&ok);
            if (!ok || !toFloat(d, v))
                throw bad("number");
        } else if constexpr (std::is_same_v<T, int>) {
            bool ok = false;
            const double d = value.trimmed().toDouble(&ok);
            if (!ok || !roundToInt(d, v))
                throw bad("integer");
        } else if constexpr (std::is_same_v<T, bool>) {
            const QString b = value.trimmed().toLower();
            if (b == "true" || b == "1")
                v = true;
            else if (b == "false" || b == "0")
                v = false;
            else
                throw bad("true or false");
        } else {
            QString s = value;
            s.replace("\\n", "\n");
            v = s.toUtf8();
        }
    });
    if (!known)
        throw QString("SlicerParams::applyOverride() unknown key \"%1\"").arg(key);
}

// Every field's bytes in order, so equality is bit for bit (NaN included).
static QByteArray rawBytes(const SlicerParams &p)
{
    QByteArray out;
    p.forEachField([&out](const char *, const auto &v) {
        using T = Bare<decltype(v)>;
        if constexpr (std::is_same_v<T, QByteArray>) {
            const int n = v.size();
            out.append(reinterpret_cast<const char *>(&n), sizeof n);
            out.append(v);
        } else {
            out.append(reinterpret_cast<const char *>(&v), sizeof v);
        }
    });
    out.append(reinterpret_cast<const char *>(&p.MinSliceHeight), sizeof(float));
    out.append(reinterpret_cast<const char *>(&p.MaxSliceHeight), sizeof(float));
    return out;
}

bool SlicerParams::operator==(const SlicerParams &o) const { return rawBytes(*this) == rawBytes(o); }
