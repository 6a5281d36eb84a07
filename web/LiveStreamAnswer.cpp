#include "LiveStreamAnswer.h"

#include <QStringList>
#include <QVariant>

namespace {

// Ids come as numbers or as text, depending on the service's version.
bool isId(const QJsonValue &value)
{
    if (value.isDouble())
        return true;
    return value.isString() && !value.toString().isEmpty();
}

bool isInteger(const QJsonValue &value)
{
    if (value.isDouble())
        return value.toDouble() == double(value.toInteger());
    bool ok = false;
    if (value.isString())
        value.toString().toLongLong(&ok);
    return ok;
}

bool isText(const QJsonValue &value)
{
    return value.isString() && !value.toString().isEmpty();
}

} // namespace

LiveStreamAnswer::LiveStreamAnswer(const QJsonObject &answer)
{
    const QJsonObject presentation = answer.value(QStringLiteral("presentation")).toObject();
    const QJsonObject stream = answer.value(QStringLiteral("presentation_stream")).toObject();
    const QJsonObject upload = answer.value(QStringLiteral("upload")).toObject();
    const QJsonObject credentials = upload.value(QStringLiteral("credentials")).toObject();

    m_streamToken = answer.value(QStringLiteral("recording_app_stream_token")).toString();
    m_presentationTitle = presentation.value(QStringLiteral("title")).toVariant().toString();

    m_config.presentationId = presentation.value(QStringLiteral("id")).toVariant().toString();
    m_config.presentationStreamId = stream.value(QStringLiteral("id")).toVariant().toLongLong();
    m_config.presentationStreamStart =
        stream.value(QStringLiteral("app_start")).toVariant().toLongLong();
    m_config.presentationStreamVersion =
        stream.value(QStringLiteral("current_slide_version")).toInt();
    m_config.bucket = upload.value(QStringLiteral("bucket")).toString();
    m_config.prefix = upload.value(QStringLiteral("prefix")).toString();
    m_config.accessKeyId = credentials.value(QStringLiteral("access_key_id")).toString();
    m_config.secretAccessKey = credentials.value(QStringLiteral("secret_access_key")).toString();
    m_config.sessionToken = credentials.value(QStringLiteral("session_token")).toString();

    require(isId(presentation.value(QStringLiteral("id"))), "presentation.id");
    require(isInteger(stream.value(QStringLiteral("id"))), "presentation_stream.id");
    require(stream.value(QStringLiteral("current_slide_version")).isDouble(),
            "presentation_stream.current_slide_version");
    require(isText(upload.value(QStringLiteral("bucket"))), "upload.bucket");
    // An empty prefix is a choice of the service (objects at the bucket's root), a missing one
    // is not.
    require(upload.value(QStringLiteral("prefix")).isString(), "upload.prefix");
    require(isText(credentials.value(QStringLiteral("access_key_id"))),
            "upload.credentials.access_key_id");
    require(isText(credentials.value(QStringLiteral("secret_access_key"))),
            "upload.credentials.secret_access_key");
    require(isText(credentials.value(QStringLiteral("session_token"))),
            "upload.credentials.session_token");
}

void LiveStreamAnswer::require(bool present, const char *field)
{
    if (present)
        return;
    const QString name = QString::fromLatin1(field);
    if (m_problem.isEmpty()) {
        m_problem = QStringLiteral("The web service's answer lacks %1.").arg(name);
    } else {
        m_problem.chop(1);
        m_problem += QStringLiteral(", %1.").arg(name);
    }
}
