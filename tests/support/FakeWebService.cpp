#include "FakeWebService.h"

#include <QJsonDocument>

namespace {

FakeHttpResponse jsonResponse(int status, const QJsonObject &body)
{
    FakeHttpResponse response;
    response.status = status;
    response.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    return response;
}

} // namespace

FakeWebService::FakeWebService(QObject *parent) : FakeHttpServer(parent)
{
    setAnswer(loginPath, 200,
              QJsonObject{{"user_email", "speaker@example.org"}, {"user_token", "user-token-1"}});
    setAnswer(streamsPath, 200, streamAnswer({}));
    setAnswer(slidesPath, 200, QJsonObject{{"status", "ok"}});
    setAnswer(pingPath, 200, QJsonObject{{"status", "ok"}});
}

void FakeWebService::setAnswer(const QString &path, int status, const QJsonObject &body)
{
    m_answers.insert(path, jsonResponse(status, body));
}

void FakeWebService::setAnswer(const QString &path, const FakeHttpResponse &response)
{
    m_answers.insert(path, response);
}

void FakeWebService::queueAnswer(const QString &path, const FakeHttpResponse &response)
{
    m_queued[path].append(response);
}

void FakeWebService::setFault(const QString &path, const FakeHttpResponse &response,
                              qint64 durationMs)
{
    m_faults.insert(path, {response, durationMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                    : QDeadlineTimer(durationMs)});
}

FakeHttpResponse FakeWebService::status(int code, const QByteArray &body)
{
    FakeHttpResponse response;
    response.status = code;
    response.body = body;
    return response;
}

QJsonObject FakeWebService::streamAnswer(const StreamAnswer &answer)
{
    const QJsonObject credentials{{"access_key_id", answer.accessKeyId},
                                  {"secret_access_key", answer.secretAccessKey},
                                  {"session_token", answer.sessionToken}};
    return QJsonObject{
        {"recording_app_stream_token", answer.token},
        {"presentation",
         QJsonObject{{"id", answer.presentationId}, {"title", answer.presentationTitle}}},
        {"presentation_stream", QJsonObject{{"id", answer.streamId},
                                            {"app_start", answer.appStart},
                                            {"current_slide_version", answer.slideVersion}}},
        {"upload", QJsonObject{{"bucket", answer.bucket},
                               {"prefix", answer.prefix},
                               {"credentials", credentials}}}};
}

FakeHttpResponse FakeWebService::respond(const FakeHttpRequest &request)
{
    const auto fault = m_faults.constFind(request.path);
    if (fault != m_faults.constEnd() && !fault->second.hasExpired())
        return fault->first;
    auto queued = m_queued.find(request.path);
    if (queued != m_queued.end() && !queued->isEmpty())
        return queued->takeFirst();
    const auto answer = m_answers.constFind(request.path);
    if (answer != m_answers.constEnd())
        return *answer;
    return jsonResponse(404, QJsonObject{{"message", "Not found."}});
}
