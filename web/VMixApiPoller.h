#pragma once

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QTimer>

// Polls vMix's HTTP API at a fixed interval during a live stream and keeps the last answer (XML,
// not interpreted here) for the status ping.
class VMixApiPoller : public QObject
{
    Q_OBJECT

public:
    VMixApiPoller();

    [[nodiscard]] QDateTime lastPollAt() const { return m_lastPollAt; }
    [[nodiscard]] QDateTime lastPollSuccessAt() const { return m_lastPollSuccessAt; }
    [[nodiscard]] QString lastError() const { return m_lastError; }
    [[nodiscard]] QString xml() const { return m_xml; }

Q_SIGNALS:
    void pollingError(QString error);

public Q_SLOTS:
    void start(QString endpoint, qlonglong interval);
    void stop();

private Q_SLOTS:
    void poll();

private:
    QString m_endpoint;
    QTimer m_timer;
    QDateTime m_lastPollAt;
    QDateTime m_lastPollSuccessAt;
    QString m_lastError;
    QString m_xml;
    QNetworkAccessManager m_networkAccessManager;
};
