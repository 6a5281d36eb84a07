#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkReply>
#include <QObject>

// One answer of the web service. Emits exactly one of error() and finished(), then deletes itself
// and the network reply; callers read the answer inside their handlers and keep no pointer.
class WebApiReply : public QObject
{
    Q_OBJECT

public:
    explicit WebApiReply(QNetworkReply *reply);

    [[nodiscard]] QString errorString() const;
    [[nodiscard]] const QByteArray &response() const { return m_response; }
    [[nodiscard]] const QJsonObject &jsonResponse() const { return m_jsonResponse; }

Q_SIGNALS:
    void error(QNetworkReply::NetworkError error);
    void finished();

private Q_SLOTS:
    void onNetworkReplyError(QNetworkReply::NetworkError error);
    void onNetworkReplyFinished();

private:
    void readResponse();

    QNetworkReply *m_reply;
    QByteArray m_response;
    QJsonObject m_jsonResponse;
};
