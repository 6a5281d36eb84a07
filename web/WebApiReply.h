#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>

// One answer of the web service. Emits exactly one of error() and finished(), then deletes itself
// and the network reply; callers read the answer inside their handlers and keep no pointer.
class WebApiReply : public QObject
{
    Q_OBJECT

public:
    explicit WebApiReply(QNetworkReply *reply);
    // A request that was not sent: it fails on the next pass of the event loop, and its answer
    // carries message as "message", like a refusal of the service.
    static WebApiReply *refused(const QString &message);

    [[nodiscard]] QString errorString() const;
    [[nodiscard]] const QByteArray &response() const { return m_response; }
    [[nodiscard]] const QJsonObject &jsonResponse() const { return m_jsonResponse; }
    // The HTTP status of the answer; 0 when none arrived (refused, timed out, aborted).
    [[nodiscard]] int httpStatus() const { return m_httpStatus; }
    // A header of the answer; empty when it has none, or when no answer arrived.
    [[nodiscard]] QByteArray rawHeader(const QByteArray &name) const;

    // Ends the request now; it fails with OperationCanceledError.
    void abort();

Q_SIGNALS:
    void error(QNetworkReply::NetworkError error);
    void finished();

private Q_SLOTS:
    void onNetworkReplyError(QNetworkReply::NetworkError error);
    void onNetworkReplyFinished();

private:
    WebApiReply() = default;
    void readResponse();

    QPointer<QNetworkReply> m_reply;
    QByteArray m_response;
    QJsonObject m_jsonResponse;
    QString m_refusal;
    int m_httpStatus = 0;
};
