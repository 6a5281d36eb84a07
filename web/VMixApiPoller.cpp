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
    const QUrl url(endpoint, QUrl::TolerantMode);
    m_shownEndpoint = EndpointPolicy::withoutUserInfo(url);
    qDebug() << "[VMixApiPoller]"
             << "start" << m_shownEndpoint << interval;
    endRun();
    m_endpoint = endpoint;
    // Its answer is forwarded to the web service: a file or another scheme is never read.
    const QString refusal = EndpointPolicy::refusalForPolling(url, QStringLiteral("vMix API"));
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
    qDebug() << "[VMixApiPoller]"
             << "stop";
    endRun();
    m_lastPollAt = QDateTime();
    m_lastPollSuccessAt = QDateTime();
    m_lastError.clear();
    m_xml.clear();
}

void VMixApiPoller::endRun()
{
    m_timer.stop();
    // First, so that the aborted replies below are already ignored.
    ++m_run;
    // A vMix that answers slowly would otherwise set the next run's answer, or its error, with
    // this run's.
    const auto replies =
        m_networkAccessManager.findChildren<QNetworkReply *>(Qt::FindDirectChildrenOnly);
    for (QNetworkReply *reply : replies)
        reply->abort();
}

QString VMixApiPoller::shownError(const QNetworkReply *reply) const
{
    // Qt names the address in some of its messages, with the credentials written into it.
    QString error = reply->errorString();
    const QUrl url = reply->url();
    if (!url.userInfo().isEmpty()) {
        for (const QUrl::ComponentFormattingOptions format :
             {QUrl::PrettyDecoded, QUrl::FullyEncoded})
            error.replace(url.toString(format), m_shownEndpoint);
    }
    return error;
}

void VMixApiPoller::poll()
{
    qDebug() << "[VMixApiPoller]"
             << "poll" << m_shownEndpoint;
    m_lastPollAt = QDateTime::currentDateTimeUtc();

    QNetworkRequest request(QUrl(m_endpoint, QUrl::TolerantMode));
    // A vMix that never answers must not pile up requests: each one ends by the next tick, and
    // within a few seconds when the interval is long.
    request.setTransferTimeout(qMin(m_timer.interval(), maxRequestTimeoutMs));
    QNetworkReply *reply = m_networkAccessManager.get(request);
    const quint64 run = m_run;
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
            [this, reply, cut, run](QNetworkReply::NetworkError code) {
                if (run != m_run || *cut)
                    return;
                const QString error = shownError(reply);
                qWarning() << "[VMixApiPoller]" << error
                           << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(code);
                m_lastError =
                    QStringLiteral("Polling vMix API failed: %1 (%2).").arg(int(code)).arg(error);
                emit pollingError(m_lastError);
            });
    connect(reply, &QNetworkReply::finished, this, [this, reply, body, cut, run] {
        reply->deleteLater();
        if (run != m_run)
            return;
        const bool success = reply->error() == QNetworkReply::NoError || *cut;
        // A reply that failed may be closed already, and its body is of no use.
        if (success && !*cut)
            body->append(reply->read(maxAnswerBytes - body->size()));
        if (success) {
            m_lastPollSuccessAt = QDateTime::currentDateTimeUtc();
            m_xml = QString::fromUtf8(*body);
        }
    });
}
