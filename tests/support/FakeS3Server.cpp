#include "FakeS3Server.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

FakeS3Server::FakeS3Server(QObject *parent) : QObject(parent) {}

FakeS3Server::~FakeS3Server()
{
    stop();
}

bool FakeS3Server::start(const QList<Credentials> &credentials, const QStringList &buckets,
                         const QStringList &heldKeys)
{
    if (!m_dir.isValid())
        return false;
    QJsonArray credentialArray;
    for (const Credentials &c : credentials) {
        credentialArray.append(QJsonObject{{"access_key_id", c.accessKeyId},
                                           {"secret_access_key", c.secretAccessKey},
                                           {"session_token", c.sessionToken}});
    }
    const QString configPath = m_dir.filePath(QStringLiteral("config.json"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly))
        return false;
    QJsonObject holds;
    m_heldKeys = heldKeys;
    for (const QString &key : heldKeys)
        holds.insert(key, releasePath(key));
    config.write(QJsonDocument(QJsonObject{{"credentials", credentialArray},
                                           {"buckets", QJsonArray::fromStringList(buckets)},
                                           {"hold_keys", holds},
                                           {"fault_file", faultPath()}})
                     .toJson());
    config.close();

    const QString script = QStringLiteral(QUILLORA_TEST_SOURCE_DIR "/s3/fake_s3.py");
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {script, QStringLiteral("--root"), m_dir.filePath(QStringLiteral("root")),
                     QStringLiteral("--config"), configPath, QStringLiteral("--port"),
                     QStringLiteral("0")});
    if (!m_process.waitForStarted(10000))
        return false;
    const QDeadlineTimer deadline(20000);
    while (!m_process.canReadLine() && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(deadline.remainingTime())))
            break;
    }
    m_port = m_process.readLine().trimmed().toUShort();
    return m_port != 0;
}

QString FakeS3Server::faultPath() const
{
    return m_dir.filePath(QStringLiteral("fault.json"));
}

void FakeS3Server::setFault(Fault fault, qint64 durationMs)
{
    static const char *const names[] = {"none", "refuse", "slowdown", "stall", "trickle"};
    const double until =
        durationMs < 0 ? 0.0 : double(QDateTime::currentMSecsSinceEpoch() + durationMs) / 1000.0;
    // Replaced in one step: the server reads it at every request.
    QSaveFile file(faultPath());
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QJsonDocument(QJsonObject{{"mode", names[int(fault)]}, {"until", until}}).toJson());
    file.commit();
}

void FakeS3Server::stop()
{
    setFault(Fault::None);
    releaseHeldKeys();
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool FakeS3Server::isHeld(const QString &key) const
{
    return QFile::exists(m_dir.filePath(QStringLiteral("root/held/") + key));
}

QString FakeS3Server::releasePath(const QString &key) const
{
    return m_dir.filePath(QStringLiteral("release-%1").arg(m_heldKeys.indexOf(key)));
}

void FakeS3Server::releaseHeldKey(const QString &key)
{
    QFile release(releasePath(key));
    if (release.open(QIODevice::WriteOnly))
        release.close();
}

void FakeS3Server::releaseHeldKeys()
{
    for (const QString &key : std::as_const(m_heldKeys))
        releaseHeldKey(key);
}

QString FakeS3Server::endpoint() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QList<QJsonObject> FakeS3Server::requests() const
{
    QList<QJsonObject> entries;
    QFile log(m_dir.filePath(QStringLiteral("root/requests.jsonl")));
    if (!log.open(QIODevice::ReadOnly))
        return entries;
    while (!log.atEnd()) {
        const QByteArray line = log.readLine().trimmed();
        if (!line.isEmpty())
            entries.append(QJsonDocument::fromJson(line).object());
    }
    return entries;
}

QByteArray FakeS3Server::object(const QString &bucket, const QString &key) const
{
    QFile file(m_dir.filePath(QStringLiteral("root/buckets/%1/%2").arg(bucket, key)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString FakeS3Server::objectContentType(const QString &bucket, const QString &key) const
{
    QFile file(m_dir.filePath(QStringLiteral("root/meta/%1/%2.json").arg(bucket, key)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value("content_type").toString();
}

QString FakeS3Server::errorOutput()
{
    return QString::fromUtf8(m_process.readAllStandardError());
}
