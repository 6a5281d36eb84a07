#include "FakeS3Server.h"
#include "S3TransferManager.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

const FakeS3Server::Credentials credentials{"AKIDTRANSFER", "transfer-secret", "transfer-token"};

struct Events
{
    QMutex mutex;
    QStringList list;

    void add(const QString &event)
    {
        const QMutexLocker locker(&mutex);
        list.append(event);
    }
    QStringList take()
    {
        const QMutexLocker locker(&mutex);
        return std::exchange(list, {});
    }
};

QString statusName(S3TransferStatus status)
{
    QString text;
    QDebug(&text).noquote() << status;
    return text.trimmed();
}

} // namespace

class S3TransferTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeS3Server m_s3;
    Events m_events;

    S3TransferManager::Config config(const QString &endpoint)
    {
        S3TransferManager::Config config;
        config.accessKeyId = credentials.accessKeyId;
        config.secretAccessKey = credentials.secretAccessKey;
        config.sessionToken = credentials.sessionToken;
        config.endpointOverride = endpoint;
        config.transferInitiatedCallback = [this](const S3TransferManager *, const auto &) {
            m_events.add("initiated");
        };
        config.transferStatusUpdatedCallback = [this](const S3TransferManager *,
                                                      const auto &handle) {
            m_events.add(statusName(handle->GetStatus()));
        };
        config.errorCallback = [this](const S3TransferManager *, const auto &,
                                      const S3Error &error) {
            m_events.add("error " + error.exceptionName);
        };
        return config;
    }

    QString makeFile(const QString &name, const QByteArray &content)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(content);
        return file.fileName();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_s3.start({credentials}, {"transfer-bucket"}), qPrintable(m_s3.errorOutput()));
    }

    void init() { m_events.take(); }

    void addressing()
    {
        S3TransferManager::Config amazon;
        amazon.endpointOverride.clear();
        QCOMPARE(S3TransferManager(amazon).objectUrl("bucket-a", "streams/7/1-1.png"),
                 QUrl("https://bucket-a.s3.amazonaws.com/streams/7/1-1.png"));
        // The wildcard certificate does not cover a dotted bucket name as a sub-domain.
        QCOMPARE(S3TransferManager(amazon).objectUrl("slides.example.org", "k/1.png"),
                 QUrl("https://s3.amazonaws.com/slides.example.org/k/1.png"));
        S3TransferManager::Config local;
        local.endpointOverride = "http://127.0.0.1:9000/";
        QCOMPARE(S3TransferManager(local).objectUrl("bucket-a", "streams/7/a b.png"),
                 QUrl("http://127.0.0.1:9000/bucket-a/streams/7/a%20b.png"));
    }

    void completedUploadStoresBytesAndReportsInOrder()
    {
        // Large enough to need many reads and, with libcurl, an Expect: 100-continue.
        QByteArray content(3 * 1024 * 1024 + 17, 'x');
        for (qsizetype i = 0; i < content.size(); i += 4096)
            content[i] = char(i / 4096);
        const QString path = makeFile("big.bin", content);
        S3TransferManager manager(config(m_s3.endpoint()));
        const auto handle =
            manager.UploadFile(path, "transfer-bucket", "dir/big.bin", "application/octet-stream",
                               std::make_shared<S3TransferContext>());
        handle->WaitUntilFinished();
        QCOMPARE(statusName(handle->GetStatus()), QStringLiteral("COMPLETED"));
        QCOMPARE(m_s3.object("transfer-bucket", "dir/big.bin"), content);
        QCOMPARE(m_s3.requests().constLast().value("signature_valid").toBool(), true);
        QCOMPARE(m_events.take(), QStringList({"initiated", "IN_PROGRESS", "COMPLETED"}));
    }

    void serverErrorsCarryCodeAndMessage()
    {
        S3TransferManager manager(config(m_s3.endpoint()));
        const auto handle = manager.UploadFile(makeFile("a.png", "a"), "missing-bucket", "a.png",
                                               "image/png", nullptr);
        handle->WaitUntilFinished();
        QCOMPARE(statusName(handle->GetStatus()), QStringLiteral("FAILED"));
        QCOMPARE(handle->GetLastError().exceptionName, QStringLiteral("NoSuchBucket"));
        QCOMPARE(handle->GetLastError().message,
                 QStringLiteral("The specified bucket does not exist"));
        QCOMPARE(m_events.take(),
                 QStringList({"initiated", "IN_PROGRESS", "error NoSuchBucket", "FAILED"}));
    }

    void networkFailuresComeFromLibcurl()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        S3TransferManager manager(config(QStringLiteral("http://127.0.0.1:%1").arg(port)));
        const auto handle = manager.UploadFile(makeFile("b.png", "b"), "transfer-bucket", "b.png",
                                               "image/png", nullptr);
        handle->WaitUntilFinished();
        QCOMPARE(statusName(handle->GetStatus()), QStringLiteral("FAILED"));
        QCOMPARE(handle->GetLastError().exceptionName, QStringLiteral("NetworkError"));
        QVERIFY2(handle->GetLastError().message.startsWith("curlCode: 7, "),
                 qPrintable(handle->GetLastError().message));
    }

    void silentServerFailsTheTransfer_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("stall") << int(FakeS3Server::Fault::Stall);
        QTest::newRow("trickle") << int(FakeS3Server::Fault::Trickle);
    }

    void silentServerFailsTheTransfer()
    {
        QFETCH(int, fault);
        m_s3.setFault(FakeS3Server::Fault(fault), 30000);
        S3TransferManager::Config quick = config(m_s3.endpoint());
        quick.requestTimeoutMs = 3000;
        quick.lowSpeedLimitBytesPerSecond = 1024;
        S3TransferManager manager(quick);
        QElapsedTimer clock;
        clock.start();
        const auto handle = manager.UploadFile(makeFile("c.png", "c"), "transfer-bucket", "c.png",
                                               "image/png", nullptr);
        handle->WaitUntilFinished();
        m_s3.setFault(FakeS3Server::Fault::None);
        QCOMPARE(statusName(handle->GetStatus()), QStringLiteral("FAILED"));
        QVERIFY2(handle->GetLastError().message.startsWith("curlCode: 28, "),
                 qPrintable(handle->GetLastError().message));
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    }

    void cancelEndsAStalledTransfer()
    {
        m_s3.setFault(FakeS3Server::Fault::Stall, 30000);
        S3TransferManager manager(config(m_s3.endpoint()));
        const auto handle = manager.UploadFile(makeFile("d.png", "d"), "transfer-bucket", "d.png",
                                               "image/png", nullptr);
        QVERIFY(!handle->WaitUntilFinished(std::chrono::milliseconds(500)));
        QElapsedTimer clock;
        clock.start();
        handle->Cancel();
        QVERIFY(handle->WaitUntilFinished(std::chrono::milliseconds(5000)));
        m_s3.setFault(FakeS3Server::Fault::None);
        QCOMPARE(statusName(handle->GetStatus()), QStringLiteral("CANCELED"));
    }
};

QTEST_GUILESS_MAIN(S3TransferTest)
#include "tst_webs3transfer.moc"
