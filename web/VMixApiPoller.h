#pragma once

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QTimer>

class QNetworkReply;

// Polls vMix's HTTP API at a fixed interval during a live stream and keeps the last answer (XML,
// not interpreted here) for the status ping.
class VMixApiPoller : public QObject
{
    Q_OBJECT

public:
    // The intervals the poller accepts; others are brought into this range.
    static constexpr qint64 minInterval = 100;
    static constexpr qint64 maxInterval = 60000;
    // No request waits longer for its answer, however long the interval.
    static constexpr int maxRequestTimeoutMs = 5000;
    // The answer travels in every status ping: more than this is cut off.
    static constexpr qint64 maxAnswerBytes = 1024 * 1024;

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
    void endRun();
    [[nodiscard]] QString shownError(const QNetworkReply *reply) const;

    QString m_endpoint;
    // The endpoint as the log shows it: without the credentials it may carry for vMix.
    QString m_shownEndpoint;
    // Counts the starts and stops: a reply of an earlier run is no news for the current one.
    quint64 m_run = 0;
    QTimer m_timer;
    QDateTime m_lastPollAt;
    QDateTime m_lastPollSuccessAt;
    QString m_lastError;
    QString m_xml;
    QNetworkAccessManager m_networkAccessManager;
};
