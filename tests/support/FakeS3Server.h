#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The S3-compatible test server (tests/s3/fake_s3.py) in a child process: it stores what it
// receives under a temporary directory and checks every signature with botocore.
class FakeS3Server : public QObject
{
    Q_OBJECT

public:
    struct Credentials
    {
        QString accessKeyId;
        QString secretAccessKey;
        QString sessionToken;
    };

    explicit FakeS3Server(QObject *parent = nullptr);
    ~FakeS3Server() override;

    // Starts the server with these known credentials and buckets; false if it did not come up.
    // An upload of a key in heldKeys is held until releaseHeldKeys().
    bool start(const QList<Credentials> &credentials, const QStringList &buckets,
               const QStringList &heldKeys = {});
    enum class Fault
    {
        None,
        // Closes each connection without an answer.
        Refuse,
        // Answers 503 SlowDown.
        SlowDown,
        // Takes the upload and never answers.
        Stall,
        // Answers one byte a second.
        Trickle
    };
    // Every request in the next durationMs (for good when negative) meets the fault.
    void setFault(Fault fault, qint64 durationMs = -1);

    // Whether a held upload of key has arrived (and waits).
    [[nodiscard]] bool isHeld(const QString &key) const;
    // Lets the held uploads of key (or of every held key) go on, now and later.
    void releaseHeldKey(const QString &key);
    void releaseHeldKeys();
    void stop();

    // "http://127.0.0.1:PORT", the value for QUILLORA_S3_ENDPOINT.
    [[nodiscard]] QString endpoint() const;
    // Every request so far, oldest first, with the server's verdict ("signature_valid", "status",
    // "error_code", "bucket", "key", "content_type", ...).
    [[nodiscard]] QList<QJsonObject> requests() const;
    [[nodiscard]] QByteArray object(const QString &bucket, const QString &key) const;
    [[nodiscard]] QString objectContentType(const QString &bucket, const QString &key) const;
    [[nodiscard]] QString errorOutput();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_heldKeys;

    [[nodiscard]] QString releasePath(const QString &key) const;
    [[nodiscard]] QString faultPath() const;
    quint16 m_port = 0;
};
