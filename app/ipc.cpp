#include "ipc.h"

#include <QApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>
#include <memory>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {
// Connections from another user are refused, whatever reached the socket.
// Checked on accept: a sender that already hung up still has its credentials.
class SameUserServer : public QLocalServer {
protected:
    void incomingConnection(quintptr socketDescriptor) override
    {
#ifdef Q_OS_LINUX
        struct ucred cred;
        socklen_t len = sizeof(cred);
        if (getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != getuid()) {
            ::close(int(socketDescriptor));
            return;
        }
#endif
        QLocalServer::incomingConnection(socketDescriptor);
    }
};

std::unique_ptr<QLocalServer> &server()
{
    static std::unique_ptr<QLocalServer> s;
    return s;
}
} // namespace

QString ipcServerName(const QString &appName)
{
#ifdef Q_OS_UNIX
    // The runtime folder is the user's own (mode 0700); Qt falls back to a
    // private folder under the temporary one when XDG_RUNTIME_DIR is unset.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!dir.isEmpty() && QDir().mkpath(dir))
        return dir + "/" + appName + ".ipc";
#endif
    return appName + "-" + qEnvironmentVariable("USERNAME", qEnvironmentVariable("USER"));
}

void ipc_startServer(const QString &name)
{
    if (!server())
        server().reset(new SameUserServer);
    if (server()->isListening())
        return;
    server()->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server()->listen(name)) {
        // Nobody answered our "focus" before we got here, so a socket file
        // with this name is a leftover of an instance that died.
        QLocalServer::removeServer(name);
        if (!server()->listen(name))
            throw "ipc_startServer().listen failed";
    }
}

bool ipc_sendMessage(const QString &name, const QByteArray &message)
{
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    if (!socket.waitForConnected(0) && socket.state() != QLocalSocket::ConnectedState)
        return false;
    socket.write(message.toHex());
    bool written = socket.waitForBytesWritten(500) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(500);
    return written;
}

bool ipc_pollMessage(QByteArray &out)
{
    QLocalServer *s = server().get();
    if (!s || !s->isListening())
        return false;
    while (s->hasPendingConnections()) {
        std::unique_ptr<QLocalSocket> c(s->nextPendingConnection());
        if (!c)
            continue;
        if (!c->bytesAvailable() && !c->waitForReadyRead(100))
            continue;
        // The sender closes once written; collect what is still in flight.
        // Messages are a command and a path: anything longer is not ours.
        const int maxHex = 1 << 16;
        QByteArray hex = c->read(maxHex + 1);
        while (hex.size() <= maxHex && c->state() == QLocalSocket::ConnectedState && c->waitForReadyRead(50))
            hex += c->read(maxHex + 1 - hex.size());
        hex += c->read(maxHex + 1 - hex.size());
        if (hex.size() > maxHex)
            continue;
        out = QByteArray::fromHex(hex);
        return true;
    }
    return false;
}

void ipc_stopServer()
{
    if (server())
        server()->close();
}

void bringToFront(QWidget *window)
{
    if (!window)
        return;
    // No synthetic Alt key on X11: raise and activate is what the window
    // manager honours.
    window->raise();
    window->activateWindow();
}
