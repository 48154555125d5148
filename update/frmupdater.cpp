#include "update/frmupdater.h"

#include "common/crc32.h"
#include "update/filedownloader.h"

#include <QDebug>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QtEndian>

namespace {
const char *const kFolder = "update/win_dx/";
// A build number is a few digits and a description a page of text.
constexpr qint64 kMaxVersionBytes = 64;
constexpr qint64 kMaxDescriptionBytes = 1 << 20;
} // namespace

FrmUpdater::FrmUpdater(QWidget *parent) : QDialog(parent), m_timeoutMs(FileDownloader::kDefaultTimeoutMs)
{
    setObjectName("FrmUpdater");
    setWindowTitle("Tessavo updater");
    auto *box = new QGroupBox("A new version of Tessavo is ready for download", this);
    m_text = new QTextEdit(box);
    m_text->setObjectName("mDescription");
    m_text->setReadOnly(true);
    (new QVBoxLayout(box))->addWidget(m_text);
    m_start = new QPushButton("Start", this);
    m_start->setObjectName("bStart");
    m_abort = new QPushButton("Abort", this);
    m_abort->setObjectName("bAbort");
    m_progress = new QProgressBar(this);
    m_progress->setObjectName("progressBar");
    m_progress->setRange(0, 100);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_progress, 1);
    buttons->addStretch(0);
    buttons->addWidget(m_start);
    buttons->addWidget(m_abort);
    auto *top = new QVBoxLayout(this);
    top->addWidget(box, 1);
    top->addLayout(buttons);
    resize(520, 360);
    connect(m_start, &QPushButton::clicked, this, &FrmUpdater::on_bStart_clicked);
    connect(m_abort, &QPushButton::clicked, this, &FrmUpdater::on_bAbort_clicked);
}

FrmUpdater::~FrmUpdater() = default;

bool FrmUpdater::setServer(const QString &base)
{
    m_server = QUrl();
    QString b = base.trimmed();
    if (b.isEmpty())
        return true;
    QUrl url(b.endsWith('/') ? b : b + "/", QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https") || url.host().isEmpty())
        return false;
    m_server = url;
    return true;
}

QUrl FrmUpdater::resource(const QString &name) const
{
    return m_server.resolved(QUrl(kFolder + name));
}

QUrl FrmUpdater::downloadPage() const
{
    return m_server.isEmpty() ? QUrl() : resource("download.html");
}

void FrmUpdater::openDownloadPage() const
{
    if (!m_server.isEmpty())
        QDesktopServices::openUrl(downloadPage());
}

void FrmUpdater::say(const QString &text)
{
    qDebug() << Q_FUNC_INFO << "frmupdater" << text;
    QMessageBox::information(parentWidget() ? parentWidget() : this, windowTitle(), text);
    emit message(text);
}

void FrmUpdater::check(bool verbose)
{
    m_text->clear();
    m_verbose = verbose;
    delete m_version;
    delete m_description;
    if (m_server.isEmpty()) {
        if (verbose)
            say("No update server is set: enter its address under Options, Online stuff.");
        emit checked();
        return;
    }
    m_version = new FileDownloader(resource("version"), this, m_timeoutMs, kMaxVersionBytes);
    connect(m_version, &FileDownloader::downloaded, this, &FrmUpdater::downloaded_version);
    m_description = new FileDownloader(resource("description"), this, m_timeoutMs, kMaxDescriptionBytes);
    connect(m_description, &FileDownloader::downloaded, this, &FrmUpdater::downloaded_description);
}

void FrmUpdater::downloaded_description()
{
    if (m_description)
        m_text->setText(QString::fromUtf8(m_description->downloadedData()));
}

void FrmUpdater::downloaded_version()
{
    if (!m_version)
        return;
    bool ok = false;
    const qlonglong remote = m_version->downloadedData().trimmed().toLongLong(&ok, 10);
    if (!ok) {
        if (m_verbose)
            say("Unable to get version information from server.");
    } else if (remote <= kLocalBuild) {
        if (m_verbose)
            say("The local version is up to date.");
    } else {
        delete m_download;
        m_start->show();
        m_abort->show();
        m_progress->hide();
        m_progress->setValue(0);
        m_content.clear();
        if (exec() == QDialog::Accepted) {
            QByteArray content = m_download ? m_download->downloadedData() : QByteArray();
            if (trailerVerifies(content)) {
                content.chop(4);
                m_content = content;
            } else {
                say("Error: Downloaded update is corrupted.");
            }
        }
        delete m_download;
    }
    emit checked();
}

bool FrmUpdater::trailerVerifies(const QByteArray &bytes)
{
    if (bytes.size() < 4)
        return false;
    const quint32 stored = qFromLittleEndian<quint32>(bytes.constData() + bytes.size() - 4);
    return stored == crc32(bytes.constData(), size_t(bytes.size() - 4));
}

void FrmUpdater::on_bStart_clicked()
{
    m_start->hide();
    m_abort->hide();
    m_progress->show();
    delete m_download;
    m_download = new FileDownloader(resource("content"), this, m_timeoutMs);
    connect(m_download, &FileDownloader::downloaded, this, &FrmUpdater::downloaded_content);
    connect(m_download, &FileDownloader::downloadProgress, this, &FrmUpdater::on_downloadProgress);
}

void FrmUpdater::on_downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    if (bytesTotal > 0)
        m_progress->setValue(int(qBound<qint64>(0, bytesReceived * 100 / bytesTotal, 100)));
}

void FrmUpdater::downloaded_content()
{
    accept();
}

void FrmUpdater::on_bAbort_clicked()
{
    reject();
}
