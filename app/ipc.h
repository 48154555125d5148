#pragma once
// The single-instance channel: one local server per user, one message per
// connection, each message sent as the lower-case hex text of its bytes.
// Kinds: "focus", "open " + UTF-8 path, "showline " + path + tab + line.
#include <QByteArray>
#include <QString>

class QWidget;

// The server's address for an application name: a socket in the user's own
// runtime folder, so that other users can neither see nor reach it.
QString ipcServerName(const QString &appName);

// Listens under `name`; a socket left behind by a crashed instance is removed
// first. Throws "ipc_startServer().listen failed".
void ipc_startServer(const QString &name);
// True only when a server took the connection and the bytes were written.
bool ipc_sendMessage(const QString &name, const QByteArray &message);
// The next message from a connection of the same user, hex-decoded.
bool ipc_pollMessage(QByteArray &out);
void ipc_stopServer();

// Raises and activates the window.
void bringToFront(QWidget *window);
