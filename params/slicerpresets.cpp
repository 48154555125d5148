#include "params/slicerpresets.h"

#include "common/ini.h"
#include "common/utils.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

void SlicerPresets::store(const QString &name, const SlicerParams &params)
{
    if (name.isEmpty())
        throw QString("SlicerPresets::StorePreset() name is empty");
    m_presets[name] = params.toText();
}

bool SlicerPresets::load(const QString &name, SlicerParams &params) const
{
    const QByteArray text = m_presets.value(name);
    if (text.isEmpty())
        return false;
    params.fromText(text);
    return true;
}

bool SlicerPresets::remove(const QString &name) { return m_presets.remove(name) > 0; }

QByteArray SlicerPresets::toText() const
{
    QJsonArray list;
    for (auto it = m_presets.cbegin(); it != m_presets.cend(); ++it) {
        QJsonObject o;
        o.insert("Key", it.key());
        o.insert("Value", QString::fromUtf8(it.value()));
        list.append(o);
    }
    return QJsonDocument(list).toJson(QJsonDocument::Indented);
}

void SlicerPresets::fromText(const QByteArray &text)
{
    m_presets.clear();
    const QJsonArray list = QJsonDocument::fromJson(text).array(); // not an array: []
    for (const QJsonValue &v : list) {
        const QJsonObject o = v.toObject();
        const QString name = o.value("Key").toString();
        if (name.isEmpty())
            continue;
        m_presets[name] = o.value("Value").toString().toUtf8();
    }
}

void SlicerPresets::loadFromIni(Ini &ini) { fromText(ini.getString("Presets").toUtf8()); }

void SlicerPresets::storeToIni(Ini &ini) const { ini.setString("Presets", QString::fromUtf8(toText())); }

void SlicerPresets::exportFile(const QString &path, const SlicerParams &params)
{
    writeFile(path, params.toText());
}

SlicerParams SlicerPresets::importFile(const QString &path)
{
    // A preset is a few kB; a huge file is surely not one, so do not read it whole.
    const QFileInfo info(path);
    // A FIFO or device would block or never end.
    if (info.exists() && !info.isFile())
        throw QString("SlicerPresets::importFile() not a regular file \"%1\"").arg(path);
    if (info.exists() && info.size() > kMaxPresetFileSize)
        throw QString("SlicerPresets::importFile() file too large to be a preset \"%1\"").arg(path);
    SlicerParams p;
    p.fromText(readFile(path));
    return p;
}
