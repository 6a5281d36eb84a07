#include "WebApiReply.h"

#include <QDebug>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QTimer>

WebApiReply::WebApiReply(QNetworkReply *reply) : m_reply(reply)
{
    connect(m_reply, &QNetworkReply::errorOccurred, this, &WebApiReply::onNetworkReplyError);
    connect(m_reply, &QNetworkReply::finished, this, &WebApiReply::onNetworkReplyFinished);
}

WebApiReply *WebApiReply::refused(const QString &message)
{
    auto *reply = new WebApiReply;
    reply->m_refusal = message;
    reply->m_jsonResponse.insert(QStringLiteral("message"), message);
    // Callers connect after the request returns: the failure must come later.
    QTimer::singleShot(0, reply, [reply] {
        qWarning() << "[WebApiReply]" << reply->m_refusal;
        emit reply->error(QNetworkReply::ProtocolFailure);
        reply->deleteLater();
    });
    return reply;
}

QString WebApiReply::errorString() const
{
    return m_reply ? m_reply->errorString() : m_refusal;
}

QByteArray WebApiReply::rawHeader(const QByteArray &name) const
{
    return m_reply ? m_reply->rawHeader(name) : QByteArray();
}

void WebApiReply::abort()
{
    if (m_reply)
        m_reply->abort();
}

void WebApiReply::readResponse()
{
    m_httpStatus = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_response += m_reply->readAll();
    // A body that is not a JSON object is no error here: the object simply stays empty.
    m_jsonResponse = QJsonDocument::fromJson(m_response).object();
}

void WebApiReply::onNetworkReplyError(QNetworkReply::NetworkError error)
{
    qWarning() << "[WebApiReply]" << m_reply->errorString()
               << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error);
    readResponse();
    emit this->error(error);
}

void WebApiReply::onNetworkReplyFinished()
{
    readResponse();
    if (m_reply->error() == QNetworkReply::NoError)
        emit finished();
    m_reply->deleteLater();
    deleteLater();
}
