#include "update/filedownloader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

FileDownloader::FileDownloader(const QUrl &url, QObject *parent, int timeoutMs, qint64 maxBytes)
    : QObject(parent), m_manager(new QNetworkAccessManager(this)), m_maxBytes(maxBytes)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    m_reply = m_manager->get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &FileDownloader::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &FileDownloader::onFinished);
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        m_timeout.start();
        emit downloadProgress(received, total);
    });
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(timeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] { fail("no answer from the server"); });
    m_timeout.start();
}

FileDownloader::~FileDownloader()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void FileDownloader::onReadyRead()
{
    m_timeout.start();
    if (!m_error.isEmpty())
        return;
    m_data += m_reply->readAll();
    if (m_data.size() > m_maxBytes)
        fail("the answer is larger than expected");
}

void FileDownloader::fail(const QString &why)
{
    if (m_finished || !m_error.isEmpty())
        return;
    m_error = why;
    m_data.clear();
    if (m_reply)
        m_reply->abort(); // finishes the reply: onFinished reports it
}

void FileDownloader::onFinished()
{
    m_timeout.stop();
    if (m_error.isEmpty()) {
        m_data += m_reply->readAll();
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (m_reply->error() != QNetworkReply::NoError)
            m_error = m_reply->errorString();
        else if (status >= 400)
            m_error = QString("the server answered with status %1").arg(status);
        else if (m_data.size() > m_maxBytes)
            m_error = "the answer is larger than expected";
    }
    if (!m_error.isEmpty())
        m_data.clear();
    m_finished = true;
    m_reply->disconnect(this);
    m_reply->deleteLater();
    m_reply = nullptr;
    emit downloaded();
}
