#pragma once
// Small shared helpers of the application shell: whole-file I/O, per-user
// folders, built-in resource lookup and the duration text.
#include <QByteArray>
#include <QIODevice>
#include <QString>

// All bytes of a file. Throws QString "File not found \"<path>\"" when it does
// not exist, or "Cannot read file \"<path>\"" when it cannot be opened.
QByteArray readFile(const QString &path);
// Writes all of `bytes` to an open device. A short write is retried: the
// retry fails with the reason (a full disk, a size limit; errorString())
// where the short count gave none. False when not all were written.
bool writeAll(QIODevice &device, const QByteArray &bytes);
// Replaces the file's content. Throws QString "Cannot write file \"<path>\""
// when it cannot be opened or not all bytes were written.
void writeFile(const QString &path, const QByteArray &bytes);

// Per-user folders, each ending in "/": the executable's folder, the writable
// per-user data folder, the system's temporary folder.
QString appDir();
QString dataDir();
QString tempDir();

// A file `name` beside the executable overrides the built-in ":/res/" + name.
// Throws QString "Resouce not found: " + name when neither exists.
QString resourcePath(const QString &name);
// Same lookup with an explicit override folder (ending in "/").
QString resourcePath(const QString &overrideDir, const QString &name);

// Seconds as "H:mm:ss", preceded by "<days> days, " from one full day on:
// 90061 -> "1 days, 1:01:01", 59 -> "0:00:59". Non-finite input gives "0:00:00".
QString formatDuration(float s);
