#pragma once

#include "FakeHttpServer.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>

// The Quillora web service as the tests need it: scripted answers for the login, the live stream
// creation, the slide announcements and the status ping, and a record of every request.
// A test points the client at it with QUILLORA_API_URL=url() (before WebApi is first used, or
// in the environment of a child process). It answers from the test's event loop: a test that
// runs the recorder with QProcess waits with QSignalSpy / QTRY_*, not QProcess::waitFor*().
class FakeWebService : public FakeHttpServer
{
    Q_OBJECT

public:
    static inline const QString loginPath = QStringLiteral("/api/v1/login");
    static inline const QString streamsPath = QStringLiteral("/api/v1/presentation_streams");
    static inline const QString slidesPath = QStringLiteral("/api/v1/presentation_stream_slides");
    static inline const QString pingPath = QStringLiteral("/api/v1/presentation_stream_ping_data");

    explicit FakeWebService(QObject *parent = nullptr);

    // The answer to every later request for path.
    void setAnswer(const QString &path, int status, const QJsonObject &body);
    void setAnswer(const QString &path, const FakeHttpResponse &response);
    // Answers the next request for path only (before the path's standing answer).
    void queueAnswer(const QString &path, const FakeHttpResponse &response);
    // A fault: every request for path gets response (a 5xx, malformed JSON, hold, drop) for
    // durationMs from now, or until clearFaults() when durationMs is negative.
    void setFault(const QString &path, const FakeHttpResponse &response, qint64 durationMs);
    void clearFaults() { m_faults.clear(); }
    static FakeHttpResponse status(int code, const QByteArray &body = "{}");

    struct StreamAnswer
    {
        QString token = QStringLiteral("stream-token-1");
        QString presentationId = QStringLiteral("501");
        QString presentationTitle = QStringLiteral("Keynote");
        qint64 streamId = 77;
        qint64 appStart = 1700000000000;
        int slideVersion = 3;
        QString bucket = QStringLiteral("slides-bucket");
        QString prefix = QStringLiteral("streams/77/");
        QString accessKeyId = QStringLiteral("AKIDFAKE");
        QString secretAccessKey = QStringLiteral("fake-secret-key");
        QString sessionToken = QStringLiteral("fake-session-token");
    };
    // A create answer with every field the recorder reads.
    static QJsonObject streamAnswer(const StreamAnswer &answer);

protected:
    FakeHttpResponse respond(const FakeHttpRequest &request) override;

private:
    QHash<QString, FakeHttpResponse> m_answers;
    QHash<QString, QList<FakeHttpResponse>> m_queued;
    QHash<QString, QPair<FakeHttpResponse, QDeadlineTimer>> m_faults;
};
