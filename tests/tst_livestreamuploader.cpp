#include "FakeS3Server.h"
#include "LiveStreamUploader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const FakeS3Server::Credentials goodCredentials{"AKIDUPLOADER", "uploader-secret-key",
                                                "uploader-session-token"};
const QString bucket = QStringLiteral("slides-bucket");
const QString prefix = QStringLiteral("streams/77/");

} // namespace

class LiveStreamUploaderTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_slides;
    FakeS3Server m_s3;
    int m_uploadsBefore = 0;

    QString makeSlide(const QString &name, const QByteArray &content = {})
    {
        const QString path = m_slides.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(content.isEmpty() ? QByteArray("\x89PNG fake slide ") + name.toUtf8() : content);
        return path;
    }

    static LiveStreamUploaderConfig config(const FakeS3Server::Credentials &credentials)
    {
        LiveStreamUploaderConfig config;
        config.presentationId = "501";
        config.presentationStreamId = 77;
        config.bucket = bucket;
        config.prefix = prefix;
        config.accessKeyId = credentials.accessKeyId;
        config.secretAccessKey = credentials.secretAccessKey;
        config.sessionToken = credentials.sessionToken;
        return config;
    }

    // The requests the S3 server received since the test began.
    QList<QJsonObject> newRequests() const { return m_s3.requests().mid(m_uploadsBefore); }

    static void stopAndWait(LiveStreamUploader &uploader)
    {
        QSignalSpy stopped(&uploader, &LiveStreamUploader::stopped);
        uploader.requestStop();
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 30000);
        QVERIFY(uploader.wait(5000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_slides.isValid());
        QVERIFY2(
            m_s3.start({goodCredentials}, {bucket}, {prefix + "held-1.png", prefix + "held-2.png"}),
            qPrintable(m_s3.errorOutput()));
        qputenv("QUILLORA_S3_ENDPOINT", m_s3.endpoint().toUtf8());
    }

    void init() { m_uploadsBefore = int(m_s3.requests().size()); }

    void contextDerivesNameAndContentType_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("contentType");
        QTest::newRow("png") << "/d/slides_3/1-1.png"
                             << "1-1.png"
                             << "image/png";
        QTest::newRow("upper-case png") << "/d/Slide-1.PNG"
                                        << "Slide-1.PNG"
                                        << "image/png";
        QTest::newRow("jpeg") << "/d/A.JPEG"
                              << "A.JPEG"
                              << "image/jpeg";
        QTest::newRow("jpg") << "/d/a.jpg"
                             << "a.jpg"
                             << "image/jpeg";
        QTest::newRow("bmp") << "/d/x.bmp"
                             << "x.bmp"
                             << "application/octet-stream";
    }

    void contextDerivesNameAndContentType()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, contentType);
        const LiveStreamUploaderContext context(1, 2, path, bucket, "k");
        QCOMPARE(context.localName(), name);
        QCOMPARE(context.contentType(), contentType);
    }

    void uploadLandsUnderLowerCasedKey_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("contentType");
        QTest::newRow("png") << "Slide-1.PNG"
                             << "image/png";
        QTest::newRow("jpeg") << "Photo.JPEG"
                              << "image/jpeg";
        QTest::newRow("bmp") << "raw.bmp"
                             << "application/octet-stream";
    }

    void uploadLandsUnderLowerCasedKey()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, contentType);
        const QByteArray content = QByteArray("slide bytes \x00\x01\x02 ", 16) + fileName.toUtf8();
        const QString path = makeSlide(fileName, content);

        LiveStreamUploader uploader(config(goodCredentials));
        QSignalSpy uploaded(&uploader, &LiveStreamUploader::slideUploaded);
        QSignalSpy errors(&uploader, &LiveStreamUploader::slideUploadError);
        uploader.start();
        uploader.addSlide(2, 4321, path);
        QTRY_COMPARE_WITH_TIMEOUT(uploaded.count() + errors.count(), 1, 20000);
        stopAndWait(uploader);

        const QString key = prefix + fileName.toLower();
        QCOMPARE(uploaded.count(), 1);
        QCOMPARE(uploaded.at(0).at(0).toInt(), 2);
        QCOMPARE(uploaded.at(0).at(1).toLongLong(), 4321);
        QCOMPARE(uploaded.at(0).at(2).toString(), bucket);
        QCOMPARE(uploaded.at(0).at(3).toString(), key);
        QCOMPARE(m_s3.object(bucket, key), content);
        QCOMPARE(m_s3.objectContentType(bucket, key), contentType);

        // botocore, on the server side, recomputed the same signature from what it received.
        const QList<QJsonObject> requests = newRequests();
        QCOMPARE(requests.size(), 1);
        QVERIFY2(requests.at(0).value("signature_valid").toBool(),
                 qPrintable(requests.at(0).value("canonical_request").toString()));
        QCOMPARE(requests.at(0).value("access_key_id").toString(), goodCredentials.accessKeyId);
        QCOMPARE(requests.at(0).value("region").toString(), QStringLiteral("us-east-1"));
        QVERIFY(requests.at(0).value("signed_headers").toString().contains("x-amz-security-token"));

        QTRY_COMPARE(uploader.slidesUploaded(), qint64(1));
        QCOMPARE(uploader.slidesToUpload(), qint64(0));
        QCOMPARE(uploader.slidesUploadFailed(), qint64(0));
        QCOMPARE(errors.count(), 0);
    }

    void failedSlideIsTriedThreeTimes_data()
    {
        QTest::addColumn<QString>("accessKeyId");
        QTest::addColumn<QString>("secretAccessKey");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown key")
            << "AKIDUNKNOWN" << goodCredentials.secretAccessKey
            << "Uploading slide Wrong-1.png failed (InvalidAccessKeyId: The AWS Access Key Id "
               "you provided does not exist in our records.).";
        QTest::newRow("wrong secret")
            << goodCredentials.accessKeyId << "not-the-secret"
            << "Uploading slide Wrong-1.png failed (SignatureDoesNotMatch: The request "
               "signature we calculated does not match the signature you provided. Check your "
               "key and signing method.).";
    }

    void failedSlideIsTriedThreeTimes()
    {
        QFETCH(QString, accessKeyId);
        QFETCH(QString, secretAccessKey);
        QFETCH(QString, message);
        LiveStreamUploader uploader(
            config({accessKeyId, secretAccessKey, goodCredentials.sessionToken}));
        QSignalSpy uploaded(&uploader, &LiveStreamUploader::slideUploaded);
        QSignalSpy failed(&uploader, &LiveStreamUploader::slideUploadFailed);
        QSignalSpy errors(&uploader, &LiveStreamUploader::slideUploadError);
        QSignalSpy toUploadChanged(&uploader, &LiveStreamUploader::slidesToUploadChanged);
        QSignalSpy stopped(&uploader, &LiveStreamUploader::stopped);
        uploader.start();
        uploader.addSlide(1, 100, makeSlide("Wrong-1.png"));
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 3, 30000);
        // Three tries at once, each reported; after them the slide waits and goes again, only
        // logged, for as long as the stream runs.
        QTRY_VERIFY_WITH_TIMEOUT(newRequests().size() >= 5, 10000);
        QCOMPARE(errors.count(), 3);
        for (const QList<QVariant> &error : std::as_const(errors))
            QCOMPARE(error.at(0).toString(), message);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(uploader.slidesToUpload(), qint64(1));

        QElapsedTimer stopClock;
        stopClock.start();
        uploader.requestStopBy(QDeadlineTimer(1500));
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
        QVERIFY(stopClock.elapsed() < 5000);
        QVERIFY(uploader.wait(5000));
        QCoreApplication::processEvents();

        for (const QJsonObject &request : newRequests())
            QCOMPARE(request.value("status").toInt(), 403);
        QCOMPARE(errors.count(), 4);
        QCOMPARE(errors.constLast().at(0).toString(),
                 QStringLiteral("1 slides were not uploaded."));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(2).toString(), QStringLiteral("Wrong-1.png"));
        QCOMPARE(uploaded.count(), 0);
        // One slide, one final outcome.
        QCOMPARE(uploader.slidesToUpload(), qint64(0));
        QCOMPARE(uploader.slidesUploadFailed(), qint64(1));
        QCOMPARE(uploader.slidesUploaded(), qint64(0));
        QCOMPARE(toUploadChanged.count(), 2);
    }

    void missingFileFailsLikeAnyTransfer()
    {
        LiveStreamUploader uploader(config(goodCredentials));
        QSignalSpy failed(&uploader, &LiveStreamUploader::slideUploadFailed);
        QSignalSpy errors(&uploader, &LiveStreamUploader::slideUploadError);
        uploader.start();
        uploader.addSlide(1, 1, m_slides.filePath("does-not-exist.png"));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QCOMPARE(errors.count(), 3);
        QVERIFY(errors.at(0).at(0).toString().startsWith(
            "Uploading slide does-not-exist.png failed (FileError: "));
        stopAndWait(uploader);
    }

    void slidesAddedDuringAnUploadGoNewestFirst()
    {
        LiveStreamUploader uploader(config(goodCredentials));
        QSignalSpy uploaded(&uploader, &LiveStreamUploader::slideUploaded);
        uploader.start();
        uploader.addSlide(1, 1, makeSlide("held-1.png"));
        QTRY_VERIFY_WITH_TIMEOUT(m_s3.isHeld(prefix + "held-1.png"), 10000);
        uploader.addSlide(1, 2, makeSlide("a-2.png"));
        uploader.addSlide(1, 3, makeSlide("b-3.png"));
        uploader.addSlide(1, 4, makeSlide("c-4.png"));
        QCOMPARE(uploader.slidesToUpload(), qint64(4));
        m_s3.releaseHeldKey(prefix + "held-1.png");
        QTRY_COMPARE_WITH_TIMEOUT(uploaded.count(), 4, 20000);

        QStringList order;
        for (const QList<QVariant> &slide : uploaded)
            order << slide.at(3).toString().mid(prefix.size());
        QCOMPARE(order, QStringList({"held-1.png", "c-4.png", "b-3.png", "a-2.png"}));
        QTRY_COMPARE(uploader.slidesToUpload(), qint64(0));
        QCOMPARE(uploader.slidesUploaded(), qint64(4));
        stopAndWait(uploader);
    }

    void stopDrainsTheQueueAndStopsOnce()
    {
        LiveStreamUploader uploader(config(goodCredentials));
        QSignalSpy uploaded(&uploader, &LiveStreamUploader::slideUploaded);
        QSignalSpy stopped(&uploader, &LiveStreamUploader::stopped);
        uploader.start();
        uploader.addSlide(1, 1, makeSlide("first.png"));
        QTRY_COMPARE_WITH_TIMEOUT(uploaded.count(), 1, 10000);
        uploader.addSlide(1, 2, makeSlide("second.png"));
        uploader.addSlide(1, 3, makeSlide("third.png"));
        uploader.requestStop();
        uploader.requestStop();
        uploader.addSlide(1, 4, makeSlide("refused.png"));
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 20000);
        QVERIFY(uploader.wait(5000));
        QCoreApplication::processEvents();
        QCOMPARE(uploaded.count(), 3);
        QCOMPARE(stopped.count(), 1);
        QCOMPARE(uploader.slidesToUpload(), qint64(0));
        QCOMPARE(uploader.slidesUploaded(), qint64(3));
        for (const QJsonObject &request : newRequests())
            QVERIFY(!request.value("key").toString().contains("refused"));

        QTest::qWait(100);
        QCOMPARE(stopped.count(), 1);
    }

    void destroyingDuringAnUploadCancelsIt()
    {
        auto uploader = std::make_unique<LiveStreamUploader>(config(goodCredentials));
        uploader->start();
        uploader->addSlide(1, 1, makeSlide("held-2.png"));
        uploader->addSlide(1, 2, makeSlide("queued.png"));
        // The newest goes first, then the held one stays under way until released.
        QTRY_VERIFY_WITH_TIMEOUT(m_s3.isHeld(prefix + "held-2.png"), 10000);
        QElapsedTimer destruction;
        destruction.start();
        uploader.reset();
        // Canceled rather than waited for (the server would hold it for 30 s).
        QVERIFY(destruction.elapsed() < 15000);
    }
};

QTEST_GUILESS_MAIN(LiveStreamUploaderTest)
#include "tst_livestreamuploader.moc"
