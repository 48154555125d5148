#include "common/ini.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSettings>

#include <climits>
#include <cmath>

Ini::Ini(const QString &organisation, const QString &application)
    : m_organisation(organisation), m_application(application)
{
}

Ini::~Ini() { store(); }

static void storeProcessIni() { Ini::instance().store(); }

Ini &Ini::instance()
{
    static Ini *ini = [] {
        // Qt's settings globals must outlive our static: create them first, so
        // they are destroyed after it and the exit-time store still works.
        { QSettings warmUp("Ilvenor", "_"); }
        static Ini theIni;
        // The normal last store happens while the application object is
        // being destroyed (after the main window has written its state).
        if (QCoreApplication::instance())
            qAddPostRoutine(storeProcessIni);
        return &theIni;
    }();
    return *ini;
}

void Ini::load()
{
    m_loaded = true;
    if (m_application.isEmpty())
        m_application = QCoreApplication::applicationName();
    QSettings settings(m_organisation, m_application);
    const QByteArray bytes = settings.value("iniData").toByteArray();
    m_data = QJsonDocument::fromJson(bytes).object(); // not an object: {}
}

QJsonObject &Ini::data()
{
    if (!m_loaded)
        load();
    return m_data;
}

QString Ini::getString(const QString &key, const QString &def)
{
    const QJsonValue v = data().value(key);
    return v.isString() ? v.toString() : def;
}

int Ini::getInt(const QString &key, int def)
{
    const QJsonValue v = data().value(key);
    if (!v.isDouble())
        return def;
    const double r = std::floor(v.toDouble() + 0.5);
    if (!std::isfinite(r) || r < double(INT_MIN) || r > double(INT_MAX))
        return def;
    return int(r);
}

double Ini::getDouble(const QString &key, double def)
{
    const QJsonValue v = data().value(key);
    return v.isDouble() ? v.toDouble() : def;
}

void Ini::setInt(const QString &key, int value)
{
    data().insert(key, value);
    m_dirty = true;
}

void Ini::setDouble(const QString &key, double value)
{
    data().insert(key, value);
    m_dirty = true;
}

void Ini::setString(const QString &key, const QString &value)
{
    data().insert(key, value);
    m_dirty = true;
}

void Ini::store()
{
    if (!m_dirty)
        return;
    m_dirty = false;
    const QByteArray bytes = QJsonDocument(data()).toJson(QJsonDocument::Indented);
    QSettings settings(m_organisation, m_application);
    settings.setValue("iniData", bytes);
    qDebug() << "ini saved";
}

DialogFolders &DialogFolders::instance()
{
    static DialogFolders folders(Ini::instance());
    return folders;
}

QJsonObject &DialogFolders::paths()
{
    if (!m_loaded) {
        m_loaded = true;
        m_paths = QJsonDocument::fromJson(m_ini.getString("openDialogPaths").toUtf8()).object();
    }
    return m_paths;
}

QString DialogFolders::folder(const QString &category)
{
    const QJsonValue v = paths().value(category);
    if (v.isString() && !v.toString().isEmpty())
        return v.toString();
    return QDir::homePath() + "/";
}

void DialogFolders::remember(const QString &category, const QString &chosenFile)
{
    paths().insert(category, QFileInfo(chosenFile).absolutePath() + "/");
    m_ini.setString("openDialogPaths",
                    QString::fromUtf8(QJsonDocument(paths()).toJson(QJsonDocument::Indented)));
}

QString DialogFolders::saveStartPath(const QString &category, const QString &defaultName)
{
    QString name = defaultName;
    if (name.startsWith("./"))
        name.remove(0, 2);
    if (!name.contains('/')) {
        QString dir = folder(category);
        if (!dir.endsWith('/'))
            dir += '/';
        name = dir + name;
    }
    return name;
}
