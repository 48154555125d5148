#pragma once
// The one store of user settings: a JSON object kept in memory and written to
// the platform's settings store (organisation "Ilvenor", the application's
// name) as the single value "iniData" holding the indented JSON text.
// GUI thread only. Widget persistence and window geometry build on this in app/.
#include <QJsonObject>
#include <QString>

class Ini {
public:
    // An empty application name means the one Qt reports, taken on first load.
    explicit Ini(const QString &organisation = "Ilvenor", const QString &application = QString());
    // Stores what is still unsaved.
    ~Ini();
    Ini(const Ini &) = delete;
    Ini &operator=(const Ini &) = delete;

    // The process's store; it also stores when the application is about to quit.
    static Ini &instance();

    // The settings object, loaded on first use. An unreadable value gives {}.
    QJsonObject &data();

    // A missing key or a value of another JSON type gives the default.
    QString getString(const QString &key, const QString &def = QString());
    // The number rounded to nearest, halves toward +inf (2.5 -> 3, -2.5 -> -2);
    // numbers beyond the int range count as another type.
    int getInt(const QString &key, int def = 0);
    double getDouble(const QString &key, double def = 0);

    // Insert or replace and mark dirty. Bools are ints 0/1.
    void setInt(const QString &key, int value);
    void setDouble(const QString &key, double value);
    void setString(const QString &key, const QString &value);

    bool isDirty() const { return m_dirty; }
    // Writes "iniData" when something changed since the last store.
    void store();

private:
    void load();

    QString m_organisation;
    QString m_application;
    bool m_loaded = false;
    bool m_dirty = false;
    QJsonObject m_data;
};

// Folders remembered per file-dialog category ("gcode", "model", ...), kept as
// JSON text in the Ini string "openDialogPaths". The GUI's open/save dialogs
// start where this says and report the chosen file back.
class DialogFolders {
public:
    explicit DialogFolders(Ini &ini) : m_ini(ini) {}
    static DialogFolders &instance(); // on Ini::instance()

    // The remembered folder (ending in "/"), or the user's home folder.
    QString folder(const QString &category);
    // Remembers the folder of a chosen file, with a trailing "/".
    void remember(const QString &category, const QString &chosenFile);
    // Start path of a save dialog: a leading "./" is dropped; a name without
    // any "/" is placed in the category's folder.
    QString saveStartPath(const QString &category, const QString &defaultName);

private:
    QJsonObject &paths();

    Ini &m_ini;
    bool m_loaded = false;
    QJsonObject m_paths;
};
