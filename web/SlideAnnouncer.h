#pragma once

#include <QDeadlineTimer>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class WebApiReply;

// Tells the web service about every uploaded slide of a live stream. An announcement that fails
// on the network, with a 5xx answer, a time-out (408) or a rate limit (429) is sent again after a
// growing pause, or the one the service asks for, until it gets through or the stream's stop
// gives it up; any other 4xx answer is the service's final word. Counts slides, one final outcome
// each.
class SlideAnnouncer : public QObject
{
    Q_OBJECT

public:
    SlideAnnouncer();

    void setStream(qint64 presentationStreamId, int version, qint64 appStart);
    void announce(int screen, qint64 time, const QString &bucket, const QString &path);
    // What is pending gets until deadline, then is given up; finished() follows once nothing
    // is pending (at once when nothing is).
    void finish(const QDeadlineTimer &deadline);

    [[nodiscard]] qint64 successCount() const { return m_successCount; }
    [[nodiscard]] qint64 failCount() const { return m_failCount; }
    [[nodiscard]] qint64 pendingCount() const { return m_inFlight.size() + m_waiting.size(); }
    [[nodiscard]] bool lastSuccess() const { return m_lastSuccess; }
    [[nodiscard]] int lastError() const { return m_lastError; }
    [[nodiscard]] const QString &lastErrorString() const { return m_lastErrorString; }

Q_SIGNALS:
    void successCountChanged();
    void failCountChanged();
    void lastSuccessChanged();
    void lastErrorChanged();
    void lastErrorStringChanged();
    void announcementError(QString message);
    void finished();

private:
    struct Announcement
    {
        int screen = 0;
        qint64 time = 0;
        QString bucket;
        QString path;
        int failures = 0;
        QDeadlineTimer due;
        // The service itself said when to try again: another slide getting through does not
        // hurry it.
        bool pausedByService = false;
    };

    void send(const Announcement &announcement);
    void onSent(WebApiReply *reply);
    void onFailed(WebApiReply *reply, Announcement announcement, QNetworkReply::NetworkError error);
    void setLastOutcome(bool success, int error, const QString &errorString);
    void sendDue();
    void armRetryTimer();
    void giveUp();
    void checkFinished();

    qint64 m_presentationStreamId = 0;
    int m_version = 0;
    qint64 m_appStart = 0;

    qint64 m_successCount = 0;
    qint64 m_failCount = 0;
    bool m_lastSuccess = false;
    int m_lastError = 0;
    QString m_lastErrorString;

    QList<QPointer<WebApiReply>> m_inFlight;
    QList<Announcement> m_waiting;
    QTimer m_retryTimer;
    QTimer m_deadlineTimer;
    bool m_finishing = false;
    bool m_givingUp = false;
    bool m_finished = false;
};
