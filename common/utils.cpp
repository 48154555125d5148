#include "common/utils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.exists())
        throw QString("File not found \"%1\"").arg(path);
    if (!f.open(QIODevice::ReadOnly))
        throw QString("Cannot read file \"%1\"").arg(path);
    return f.readAll();
}

bool writeAll(QIODevice &device, const QByteArray &bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    // A file is replaced only once the new bytes are safely on disk, so a full
    // disk or a crash never leaves a half-written mesh, preset or project
    // behind. Pipes and devices cannot be replaced and are written directly.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.flush())
            throw QString("Cannot write file \"%1\"").arg(path);
        return;
    }
    QSaveFile f(path);
    // Unbuffered: the bytes are written at once anyway, and a buffered flush
    // that fails part way gives no reason.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw QString("Cannot write file \"%1\"").arg(path);
    // QSaveFile::commit() replaces the file even when a write had failed
    // (a full disk gave empty files with success): check the error first.
    if (!writeAll(f, bytes) || !f.flush() || f.error() != QFileDevice::NoError) {
        const QString why = f.errorString();
        f.cancelWriting();
        throw QString("Cannot write file \"%1\": %2").arg(path, why);
    }
    if (!f.commit())
        throw QString("Cannot write file \"%1\": %2").arg(path, f.errorString());
}

static QString withSlash(QString dir)
{
    if (!dir.endsWith('/'))
        dir += '/';
    return dir;
}

QString appDir()
{
    // Without an application object Qt cannot tell the executable's folder.
    if (!QCoreApplication::instance())
        return withSlash(QDir::currentPath());
    return withSlash(QCoreApplication::applicationDirPath());
}

QString dataDir()
{
    return withSlash(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

QString tempDir() { return withSlash(QDir::tempPath()); }

QString resourcePath(const QString &overrideDir, const QString &name)
{
    const QString local = overrideDir + name;
    if (QFile::exists(local))
        return local;
    const QString builtIn = ":/res/" + name;
    if (QFile::exists(builtIn))
        return builtIn;
    throw QString("Resouce not found: ") + name;
}

QString resourcePath(const QString &name) { return resourcePath(appDir(), name); }

QString formatDuration(float s)
{
    if (!std::isfinite(s))
        return "0:00:00";
    const double days = std::floor(double(s) / 86400.0);
    // Truncated whole seconds; the time of day wraps like a clock for negatives.
    const double whole = std::trunc(double(s));
    long long tod = (long long)std::fmod(whole, 86400.0);
    if (tod < 0)
        tod += 86400;
    QString clock = QString::asprintf("%lld:%02lld:%02lld", tod / 3600, (tod / 60) % 60, tod % 60);
    if (days >= 1)
        return QString::asprintf("%.0f days, ", days) + clock;
    return clock;
}
