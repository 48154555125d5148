#pragma once
// Named parameter sets. Each is kept as the parameter text, so presets
// survive additions to the parameter list (missing keys read as defaults).
#include "params/slicerparams.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

class Ini;

class SlicerPresets {
public:
    // Replaces a preset of the same name. Throws QString on an empty name.
    void store(const QString &name, const SlicerParams &params);
    // Reads the preset into params (from defaults) and returns true; false
    // and params untouched when the name is unknown or its text is empty.
    bool load(const QString &name, SlicerParams &params) const;
    // Returns whether the name was present.
    bool remove(const QString &name);
    // In exact character order ("B" before "a").
    QStringList names() const { return m_presets.keys(); }
    int size() const { return m_presets.size(); }

    // Preset list text: indented JSON array of {"Key": name, "Value": text}.
    QByteArray toText() const;
    // Replaces the list. Never throws: anything unreadable is skipped.
    void fromText(const QByteArray &text);

    // The list as the settings string "Presets".
    void loadFromIni(Ini &ini);
    void storeToIni(Ini &ini) const;

    // A .tvsp file is exactly one parameter text. Export writes it; import
    // reads it onto the defaults (a file of some keys leaves the others at
    // their defaults). Both throw QString when the file cannot be read or
    // written; import refuses files beyond kMaxPresetFileSize.
    static void exportFile(const QString &path, const SlicerParams &params);
    static SlicerParams importFile(const QString &path);
    static constexpr qint64 kMaxPresetFileSize = 16 * 1024 * 1024;

private:
    QMap<QString, QByteArray> m_presets;
};
