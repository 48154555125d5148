#pragma once
// The update check: asks the update server for the newest build number,
// shows the description of a newer build, downloads its content on request
// and keeps it only when its CRC-32 trailer verifies. The content is held in
// memory and never run or written anywhere; at shutdown a verified download
// opens the server's download page (openDownloadPage).
#include <QDialog>
#include <QPointer>
#include <QUrl>

class FileDownloader;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QTextEdit;

class FrmUpdater : public QDialog {
    Q_OBJECT
public:
    static constexpr int kLocalBuild = 10213;

    explicit FrmUpdater(QWidget *parent = nullptr);
    ~FrmUpdater() override;

    // Base address of the server (the folder holding "update/"); a missing
    // trailing "/" is added. Returns false, leaving the server unset, for an
    // address that is not http:// or https://.
    bool setServer(const QString &base);
    QUrl server() const { return m_server; }
    // Per-request time-out (default FileDownloader::kDefaultTimeoutMs).
    void setTimeout(int ms) { m_timeoutMs = ms; }

    // Starts a check. Verbose checks report every outcome in a message box;
    // silent ones only a corrupted download. Without a server a silent check
    // does nothing and a verbose one says that no server is set.
    void check(bool verbose);
    bool hasContent() const { return !m_content.isEmpty(); }
    QByteArray content() const { return m_content; }

    // The download page of the server, opened with the desktop's URL opener.
    QUrl downloadPage() const;
    void openDownloadPage() const;

    // Whether `bytes` ends in the little-endian CRC-32 of what precedes it.
    static bool trailerVerifies(const QByteArray &bytes);

public slots:
    void downloaded_version();
    void downloaded_description();
    void downloaded_content();
    void on_bStart_clicked();
    void on_bAbort_clicked();
    void on_downloadProgress(qint64 bytesReceived, qint64 bytesTotal);

signals:
    // After every message box of the check.
    void message(const QString &text);
    // When a check has run its course (answered, downloaded, aborted or failed).
    void checked();

private:
    void say(const QString &text);
    QUrl resource(const QString &name) const;

    QUrl m_server;
    int m_timeoutMs;
    bool m_verbose = false;
    QByteArray m_content;
    QPointer<FileDownloader> m_version, m_description, m_download;
    QTextEdit *m_text;
    QPushButton *m_start, *m_abort;
    QProgressBar *m_progress;
};
