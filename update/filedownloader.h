#pragma once
// One HTTP GET: starts on construction, keeps the reply's body and emits
// downloaded() once when the transfer ends, whichever way. A request that
// fails (network error, HTTP error status, no data for the time-out, more
// bytes than allowed) ends with no data, so what arrives is never half a
// file or an error page.
#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

class FileDownloader : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 30000;

    // timeoutMs: the request is abandoned when no byte arrived for that long.
    // maxBytes: a larger body is abandoned.
    FileDownloader(const QUrl &url, QObject *parent = nullptr, int timeoutMs = kDefaultTimeoutMs,
                   qint64 maxBytes = 256ll << 20);
    ~FileDownloader() override;

    QByteArray downloadedData() const { return m_data; }
    // Why the request gave no data ("" when it succeeded).
    QString errorText() const { return m_error; }
    bool finished() const { return m_finished; }

signals:
    void downloaded();
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);

private:
    void onReadyRead();
    void onFinished();
    void fail(const QString &why);

    QNetworkAccessManager *m_manager;
    QNetworkReply *m_reply = nullptr;
    QTimer m_timeout;
    qint64 m_maxBytes;
    QByteArray m_data;
    QString m_error;
    bool m_finished = false;
};
