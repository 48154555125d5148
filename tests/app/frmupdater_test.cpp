#include "modalhelper.h"
#include "update/filedownloader.h"
#include "update/frmupdater.h"

#include <QDesktopServices>
#include <QHostAddress>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace {

// A one-connection-at-a-time HTTP server on 127.0.0.1: serves `files` by
// path; paths in `silent` get their connection accepted and never answered.
class TestServer : public QObject {
public:
    QMap<QByteArray, QByteArray> files;
    QSet<QByteArray> silent;
    QList<QByteArray> requested;

    TestServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] { answer(s); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    QString base() const { return QString("http://127.0.0.1:%1/tv/").arg(m_server.serverPort()); }

private:
    void answer(QTcpSocket *s)
    {
        QByteArray &buf = m_buffers[s];
        buf += s->readAll();
        if (!buf.contains("\r\n\r\n"))
            return;
        const QByteArray path = buf.split(' ').value(1);
        m_buffers.remove(s); // a later socket may get the same address
        requested << path;
        if (silent.contains(path))
            return;
        const bool found = files.contains(path);
        const QByteArray body = found ? files.value(path) : QByteArray("no such file");
        s->write((found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                 QByteArray("Content-Length: ") + QByteArray::number(body.size()) +
                 "\r\nConnection: close\r\n\r\n" + body);
        s->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

const QByteArray kGood = QByteArray("abc") + QByteArray("\xC2\x41\x24\x35", 4);

struct Outcome {
    QStringList messages;
    QByteArray content;
    QString description;
    bool dialogShown = false;
};

// Runs one check to its end; `button` is clicked in the update dialog if it comes up.
Outcome runCheck(TestServer &server, bool verbose, const char *button, int timeoutMs = 5000)
{
    FrmUpdater updater;
    updater.setTimeout(timeoutMs);
    EXPECT_TRUE(updater.setServer(server.base()));
    Outcome out;
    ModalResponder answer(QMessageBox::Ok, [&](QWidget *w) {
        if (auto *d = qobject_cast<FrmUpdater *>(w)) {
            out.dialogShown = true;
            // The description arrives beside the version; wait for it before leaving.
            pumpEvents(2000, [d] { return !d->findChild<QTextEdit *>("mDescription")->toPlainText().isEmpty(); });
            out.description = d->findChild<QTextEdit *>("mDescription")->toPlainText();
            d->findChild<QPushButton *>(button)->click();
        }
    });
    bool done = false;
    QObject::connect(&updater, &FrmUpdater::checked, [&done] { done = true; });
    updater.check(verbose);
    EXPECT_TRUE(pumpEvents(timeoutMs + 5000, [&done] { return done; }));
    pumpEvents(50);
    out.messages = answer.texts;
    out.content = updater.content();
    return out;
}

} // namespace

TEST(FrmUpdater, CrcTrailer)
{
    EXPECT_TRUE(FrmUpdater::trailerVerifies(kGood));
    EXPECT_FALSE(FrmUpdater::trailerVerifies("abc"));
    EXPECT_FALSE(FrmUpdater::trailerVerifies(QByteArray("abcd") + QByteArray("\xC2\x41\x24\x35", 4)));
    EXPECT_TRUE(FrmUpdater::trailerVerifies(QByteArray("\0\0\0\0", 4))) << "empty content, CRC 0";
}

TEST(FrmUpdater, ChecksAgainstTheServer)
{
    TestServer server;
    server.files["/tv/update/win_dx/description"] = "Build 10214: faster.";
    struct Case {
        const char *name;
        QByteArray version;
        QByteArray content; // "silent" = never answered
        bool verbose;
        const char *button;
        QString message;
        QByteArray kept;
    };
    const QList<Case> cases = {
        {"up to date, visible", "10213", "", true, "bStart", "The local version is up to date.", ""},
        {"up to date, silent", "10213\n", "", false, "bStart", "", ""},
        {"older server build", "9000", "", true, "bStart", "The local version is up to date.", ""},
        {"version not a number", "<html>", "", true, "bStart", "Unable to get version information from server.", ""},
        {"not a number, silent", "x", "", false, "bStart", "", ""},
        {"newer, good content", "10214", kGood, false, "bStart", "", "abc"},
        {"newer, corrupt trailer", "10214", "abcXXXX", true, "bStart", "Error: Downloaded update is corrupted.", ""},
        {"newer, 3-byte content", "10214", "abc", false, "bStart", "Error: Downloaded update is corrupted.", ""},
        {"newer, aborted", "10214", kGood, true, "bAbort", "", ""},
    };
    for (const Case &c : cases) {
        server.files["/tv/update/win_dx/version"] = c.version;
        server.files["/tv/update/win_dx/content"] = c.content;
        const Outcome out = runCheck(server, c.verbose, c.button);
        EXPECT_EQ(out.messages, c.message.isEmpty() ? QStringList() : QStringList{c.message}) << c.name;
        EXPECT_EQ(out.content, c.kept) << c.name;
        EXPECT_EQ(out.dialogShown, c.version.startsWith("10214")) << c.name;
        if (out.dialogShown) {
            EXPECT_EQ(out.description, "Build 10214: faster.") << c.name;
        }
    }
}

TEST(FrmUpdater, ServerNotAnsweringTimesOut)
{
    TestServer server;
    server.silent << "/tv/update/win_dx/version" << "/tv/update/win_dx/description";
    Outcome out = runCheck(server, true, "bStart", 300);
    EXPECT_EQ(out.messages, QStringList{"Unable to get version information from server."});

    // The content request stalls: nothing counts as downloaded.
    server.silent = {"/tv/update/win_dx/content"};
    server.files["/tv/update/win_dx/version"] = "10300";
    out = runCheck(server, false, "bStart", 300);
    EXPECT_EQ(out.messages, QStringList{"Error: Downloaded update is corrupted."});
    EXPECT_TRUE(out.content.isEmpty());

    // Nothing listens there at all.
    FrmUpdater updater;
    quint16 port;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
    }
    ASSERT_TRUE(updater.setServer(QString("http://127.0.0.1:%1").arg(port)));
    ModalResponder answer;
    bool done = false;
    QObject::connect(&updater, &FrmUpdater::checked, [&done] { done = true; });
    updater.check(true);
    EXPECT_TRUE(pumpEvents(5000, [&done] { return done; }));
    pumpEvents(50);
    EXPECT_EQ(answer.texts, QStringList{"Unable to get version information from server."});
}

namespace {
class UrlCatcher : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl &url) { urls << url; }

public:
    QList<QUrl> urls;
};
} // namespace

TEST(FrmUpdater, ServerAddressAndDownloadPage)
{
    FrmUpdater updater;
    for (const char *bad : {"file:///tmp/", "ftp://host/", "http://", "not a url"})
        EXPECT_FALSE(updater.setServer(bad)) << bad;
    EXPECT_TRUE(updater.server().isEmpty());

    // No server: a silent check says nothing, a visible one says why nothing happens.
    {
        ModalResponder answer;
        updater.check(false);
        updater.check(true);
        pumpEvents(50);
        ASSERT_EQ(answer.texts.size(), 1);
        EXPECT_TRUE(answer.texts[0].contains("No update server"));
    }

    ASSERT_TRUE(updater.setServer("https://example.org/tessavo"));
    EXPECT_EQ(updater.downloadPage().toString(), "https://example.org/tessavo/update/win_dx/download.html");
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    updater.openDownloadPage();
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(catcher.urls, QList<QUrl>{QUrl("https://example.org/tessavo/update/win_dx/download.html")});
}

TEST(FileDownloader, RefusesBodiesBeyondItsLimit)
{
    TestServer server;
    server.files["/tv/big"] = QByteArray(100000, 'x');
    server.files["/tv/small"] = "12345";
    for (auto [path, limit, expected] : {std::tuple{"big", 1000, QByteArray()},
                                         std::tuple{"small", 1000, QByteArray("12345")},
                                         std::tuple{"missing", 1000, QByteArray()}}) {
        FileDownloader d(QUrl(server.base() + path), nullptr, 5000, limit);
        bool done = false;
        QObject::connect(&d, &FileDownloader::downloaded, [&done] { done = true; });
        ASSERT_TRUE(pumpEvents(5000, [&done] { return done; })) << path;
        EXPECT_EQ(d.downloadedData(), expected) << path;
        EXPECT_EQ(d.errorText().isEmpty(), !expected.isEmpty()) << path;
    }
}

#include "frmupdater_test.moc"
