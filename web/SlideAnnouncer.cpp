#include "SlideAnnouncer.h"

#include "RetryPause.h"
#include "WebApi.h"
#include "WebApiReply.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonObject>

namespace {

// The pause a Retry-After header asks for, in seconds or as the time to wait for (an HTTP date);
// -1 when there is none or it cannot be read.
qint64 requestedPauseMs(const QByteArray &retryAfter)
{
    const QByteArray value = retryAfter.trimmed();
    if (value.isEmpty())
        return -1;
    bool isNumber = false;
    const qint64 seconds = value.toLongLong(&isNumber);
    if (isNumber) {
        // Bounded before the multiplication, which could overflow.
        return seconds < 0 ? -1 : qMin(seconds, RetryPause::longestRequestedMs / 1000) * 1000;
    }
    // "Sun, 06 Nov 1994 08:49:37 GMT": Qt reads the zone of such a date as an offset.
    QString text = QString::fromLatin1(value);
    if (text.endsWith(QLatin1String(" GMT")))
        text = text.chopped(4) + QLatin1String(" +0000");
    const QDateTime at = QDateTime::fromString(text, Qt::RFC2822Date);
    if (!at.isValid())
        return -1;
    return qMax<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(at));
}

// Answers that say "not now" rather than "not this": the same announcement may succeed later.
bool isWorthRetrying(int status)
{
    return status < 400 || status >= 500 || status == 408 || status == 429;
}

} // namespace

SlideAnnouncer::SlideAnnouncer()
{
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_retryTimer, &QTimer::timeout, this, &SlideAnnouncer::sendDue);
    m_deadlineTimer.setSingleShot(true);
    m_deadlineTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_deadlineTimer, &QTimer::timeout, this, &SlideAnnouncer::giveUp);
}

void SlideAnnouncer::setStream(qint64 presentationStreamId, int version, qint64 appStart)
{
    m_presentationStreamId = presentationStreamId;
    m_version = version;
    m_appStart = appStart;
}

void SlideAnnouncer::announce(int screen, qint64 time, const QString &bucket, const QString &path)
{
    if (m_givingUp) {
        qWarning() << "[SlideAnnouncer]"
                   << "slide uploaded after the stop gave up, not announced:" << path;
        return;
    }
    send(Announcement{screen, time, bucket, path, 0, {}});
}

void SlideAnnouncer::send(const Announcement &announcement)
{
    WebApiReply *reply = WebApi::instance()->sendLiveStreamSlideInfo(
        m_presentationStreamId, m_version, m_appStart, announcement.screen, announcement.time,
        announcement.bucket, announcement.path);
    m_inFlight.append(reply);
    connect(reply, &WebApiReply::finished, this, [this, reply] { onSent(reply); });
    connect(reply, &WebApiReply::error, this,
            [this, reply, announcement](QNetworkReply::NetworkError error) {
                onFailed(reply, announcement, error);
            });
}

void SlideAnnouncer::onSent(WebApiReply *reply)
{
    m_inFlight.removeAll(reply);
    ++m_successCount;
    emit successCountChanged();
    setLastOutcome(true, 0, QString());
    // The service answers again: whatever waits for its next try goes now, unless the service
    // asked for the pause.
    for (Announcement &waiting : m_waiting) {
        if (!waiting.pausedByService)
            waiting.due = QDeadlineTimer(0);
    }
    sendDue();
    checkFinished();
}

void SlideAnnouncer::onFailed(WebApiReply *reply, Announcement announcement,
                              QNetworkReply::NetworkError error)
{
    m_inFlight.removeAll(reply);
    const QString errorString = reply->errorString();
    const QString serviceMessage =
        reply->jsonResponse().value(QStringLiteral("message")).toString();
    const int status = reply->httpStatus();
    ++announcement.failures;
    setLastOutcome(false, error, errorString);

    // Most 4xx answers are the service's verdict on this slide: sending it again cannot change
    // it.
    if (!isWorthRetrying(status)) {
        ++m_failCount;
        emit failCountChanged();
        emit announcementError(QStringLiteral("Sending slide info failed: %1 (%2).")
                                   .arg(int(error))
                                   .arg(serviceMessage.isEmpty() ? errorString : serviceMessage));
        checkFinished();
        return;
    }

    // One message per slide: an outage would otherwise add one at every try.
    if (announcement.failures == 1) {
        emit announcementError(
            QStringLiteral("Sending slide info failed: %1 (%2).").arg(int(error)).arg(errorString));
    }
    const qint64 requested = requestedPauseMs(reply->rawHeader("Retry-After"));
    announcement.pausedByService = requested >= 0;
    const qint64 pause =
        announcement.pausedByService
            ? qBound(RetryPause::shortestRequestedMs, requested, RetryPause::longestRequestedMs)
            : RetryPause::afterFailures(announcement.failures);
    qWarning() << "[SlideAnnouncer]"
               << "will announce" << announcement.path << "again in" << pause
               << (announcement.pausedByService ? "ms, as the service asked" : "ms");
    announcement.due = QDeadlineTimer(pause, Qt::PreciseTimer);
    m_waiting.append(announcement);
    armRetryTimer();
}

void SlideAnnouncer::setLastOutcome(bool success, int error, const QString &errorString)
{
    m_lastSuccess = success;
    m_lastError = error;
    m_lastErrorString = errorString;
    emit lastSuccessChanged();
    emit lastErrorChanged();
    emit lastErrorStringChanged();
}

void SlideAnnouncer::sendDue()
{
    QList<Announcement> due;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (it->due.hasExpired()) {
            due.append(*it);
            it = m_waiting.erase(it);
        } else {
            ++it;
        }
    }
    // Newest first, as the uploads.
    for (auto it = due.crbegin(); it != due.crend(); ++it)
        send(*it);
    armRetryTimer();
}

void SlideAnnouncer::armRetryTimer()
{
    if (m_waiting.isEmpty()) {
        m_retryTimer.stop();
        return;
    }
    qint64 next = m_waiting.first().due.remainingTime();
    for (const Announcement &waiting : std::as_const(m_waiting))
        next = qMin(next, waiting.due.remainingTime());
    m_retryTimer.start(int(qMax<qint64>(0, next)));
}

void SlideAnnouncer::finish(const QDeadlineTimer &deadline)
{
    if (m_finishing)
        return;
    m_finishing = true;
    if (pendingCount() > 0) {
        qDebug() << "[SlideAnnouncer]" << pendingCount() << "announcements pending at stop";
        m_deadlineTimer.start(int(qMax<qint64>(0, deadline.remainingTime())));
    }
    checkFinished();
}

void SlideAnnouncer::giveUp()
{
    m_givingUp = true;
    m_retryTimer.stop();
    const qsizetype count = pendingCount();
    const auto inFlight = std::exchange(m_inFlight, {});
    for (const QPointer<WebApiReply> &reply : inFlight) {
        if (!reply)
            continue;
        // An answer already on its way must not count a slide a second time.
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
    }
    m_waiting.clear();
    if (count > 0) {
        m_failCount += count;
        emit failCountChanged();
        const QString message = QStringLiteral("%1 slides were not announced.").arg(count);
        qWarning() << "[SlideAnnouncer]" << message;
        emit announcementError(message);
    }
    checkFinished();
}

void SlideAnnouncer::checkFinished()
{
    if (!m_finishing || m_finished || pendingCount() > 0)
        return;
    m_finished = true;
    m_deadlineTimer.stop();
    m_retryTimer.stop();
    // Receivers may delete this object when they hear of it.
    QMetaObject::invokeMethod(this, &SlideAnnouncer::finished, Qt::QueuedConnection);
}
