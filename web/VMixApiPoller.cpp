#include "VMixApiPoller.h"

#include <QDebug>
#include <QMetaEnum>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

VMixApiPoller::VMixApiPoller()
{
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, &VMixApiPoller::poll);
}

void VMixApiPoller::start(QString endpoint, qlonglong interval)
{
    qWarning() << "[VMixApiPoller]"
               << "start" << endpoint << interval;
    m_endpoint = endpoint;
    m_timer.start(static_cast<int>(interval));
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
    // A vMix that never answers must not pile up requests: each one ends by the next tick.
    request.setTransferTimeout(m_timer.interval());
    QNetworkReply *reply = m_networkAccessManager.get(request);

    connect(reply, &QNetworkReply::errorOccurred, this,
            [this, reply](QNetworkReply::NetworkError code) {
                if (!m_timer.isActive())
                    return;
                qWarning() << "[VMixApiPoller]" << reply->errorString()
                           << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(code);
                m_lastError = QStringLiteral("Polling vMix API failed: %1 (%2).")
                                  .arg(int(code))
                                  .arg(reply->errorString());
                emit pollingError(m_lastError);
            });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        const QByteArray body = reply->readAll();
        if (reply->error() == QNetworkReply::NoError && m_timer.isActive()) {
            m_lastPollSuccessAt = QDateTime::currentDateTimeUtc();
            m_xml = QString::fromUtf8(body);
        }
        reply->deleteLater();
    });
}
