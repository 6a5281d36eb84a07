#include "VMixApiPoller.h"

#include "EndpointPolicy.h"

#include <QDebug>
#include <QMetaEnum>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <memory>

VMixApiPoller::VMixApiPoller()
{
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, &VMixApiPoller::poll);
}

void VMixApiPoller::start(QString endpoint, qlonglong interval)
{
    qWarning() << "[VMixApiPoller]"
               << "start" << endpoint << interval;
    m_timer.stop();
    m_endpoint = endpoint;
    // Its answer is forwarded to the web service: a file or another scheme is never read.
    const QString refusal = EndpointPolicy::refusalForPolling(QUrl(endpoint, QUrl::TolerantMode),
                                                              QStringLiteral("vMix API"));
    if (!refusal.isEmpty()) {
        m_lastError = QStringLiteral("Polling vMix API failed: %1").arg(refusal);
        qWarning() << "[VMixApiPoller]" << m_lastError;
        emit pollingError(m_lastError);
        return;
    }
    const qint64 bounded = qBound(minInterval, interval, maxInterval);
    if (bounded != interval) {
        qWarning() << "[VMixApiPoller]"
                   << "interval" << interval << "out of range, polling every" << bounded << "ms";
    }
    m_timer.start(static_cast<int>(bounded));
    poll();
}

void VMixApiPoller::stop()
{
    qWarning() << "[VMixApiPoller]"
               << "stop";
    m_timer.stop();
    m_lastPollAt = QDateTime();
    m_lastPollSuccessAt = QDateTime();
    m_lastError.clear();
    m_xml.clear();
}

void VMixApiPoller::poll()
{
    qWarning() << "[VMixApiPoller]"
               << "poll" << m_endpoint;
    m_lastPollAt = QDateTime::currentDateTimeUtc();

    QNetworkRequest request(QUrl(m_endpoint, QUrl::TolerantMode));
    // A vMix that never answers must not pile up requests: each one ends by the next tick, and
    // within a few seconds when the interval is long.
    request.setTransferTimeout(qMin(m_timer.interval(), maxRequestTimeoutMs));
    QNetworkReply *reply = m_networkAccessManager.get(request);
    // Collects the answer up to its limit; the rest is not waited for.
    auto body = std::make_shared<QByteArray>();
    auto cut = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::readyRead, this, [reply, body, cut] {
        body->append(reply->read(maxAnswerBytes - body->size()));
        if (body->size() >= maxAnswerBytes && !*cut) {
            *cut = true;
            qWarning() << "[VMixApiPoller]"
                       << "answer cut at" << maxAnswerBytes << "bytes";
            reply->abort();
        }
    });

    connect(reply, &QNetworkReply::errorOccurred, this,
            [this, reply, cut](QNetworkReply::NetworkError code) {
                if (!m_timer.isActive() || *cut)
                    return;
                qWarning() << "[VMixApiPoller]" << reply->errorString()
                           << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(code);
                m_lastError = QStringLiteral("Polling vMix API failed: %1 (%2).")
                                  .arg(int(code))
                                  .arg(reply->errorString());
                emit pollingError(m_lastError);
            });
    connect(reply, &QNetworkReply::finished, this, [this, reply, body, cut] {
        if (!*cut)
            body->append(reply->read(maxAnswerBytes - body->size()));
        if ((reply->error() == QNetworkReply::NoError || *cut) && m_timer.isActive()) {
            m_lastPollSuccessAt = QDateTime::currentDateTimeUtc();
            m_xml = QString::fromUtf8(*body);
        }
        reply->deleteLater();
    });
}
