#include "WebApiReply.h"

#include <QDebug>
#include <QJsonDocument>
#include <QMetaEnum>

WebApiReply::WebApiReply(QNetworkReply *reply) : m_reply(reply)
{
    connect(m_reply, &QNetworkReply::errorOccurred, this, &WebApiReply::onNetworkReplyError);
    connect(m_reply, &QNetworkReply::finished, this, &WebApiReply::onNetworkReplyFinished);
}

QString WebApiReply::errorString() const
{
    return m_reply->errorString();
}

void WebApiReply::readResponse()
{
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
