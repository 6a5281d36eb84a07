#include "FakeS3Server.h"
#include "FakeWebService.h"
#include "LiveStream.h"
#include "TestServices.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A live stream against storage and a web service that fail on purpose for a while, or for good:
// what a lecture-hall network does to it.
class LiveStreamFaultsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_configHome;
    QTemporaryDir m_slides;
    FakeWebService m_service;
    FakeS3Server m_s3;
    FakeWebService::StreamAnswer m_answer;
    std::unique_ptr<QObject> m_presentation;
    std::unique_ptr<LiveStream> m_stream;
    int m_slideNumber = 0;

    // The upload counters are gone with the uploader once the stream stopped: they are read
    // when they change.
    qint64 m_lastFailedCount = 0;
    qint64 m_lastToUploadCount = 0;

    QString makeSlide()
    {
        const QString path = m_slides.filePath(QStringLiteral("1-%1.png").arg(++m_slideNumber));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("\x89PNG slide " + path.toUtf8());
        return path;
    }

    QString keyOf(const QString &path) const
    {
        return m_answer.prefix + QFileInfo(path).fileName();
    }

    // Stored objects per key: one successful PUT each, however many tries failed before.
    int successfulUploads(const QString &key) const
    {
        int count = 0;
        for (const QJsonObject &request : m_s3.requests()) {
            if (request.value("key").toString() == key && request.value("status").toInt() == 200)
                ++count;
        }
        return count;
    }

    int successfulAnnouncements(const QString &key) const
    {
        int count = 0;
        for (const FakeHttpRequest &request : m_service.requests(FakeWebService::slidesPath)) {
            const QJsonObject slide = request.json().value("presentation_stream_slide").toObject();
            if (slide.value("path").toString() == key && request.answer == 200)
                ++count;
        }
        return count;
    }

    int faultedUploads() const
    {
        int count = 0;
        for (const QJsonObject &request : m_s3.requests())
            count += request.contains("fault") || request.value("status").toInt() == 503;
        return count;
    }

    bool startStream()
    {
        m_presentation = std::make_unique<QObject>();
        m_presentation->setProperty("title", QStringLiteral("Faulty network"));
        m_stream = std::make_unique<LiveStream>(m_presentation.get(), false, QString());
        connect(m_stream.get(), &LiveStream::slidesUploadFailedChanged, this,
                [this] { m_lastFailedCount = m_stream->slidesUploadFailed(); });
        connect(m_stream.get(), &LiveStream::slidesToUploadChanged, this,
                [this] { m_lastToUploadCount = m_stream->slidesToUpload(); });
        QSignalSpy started(m_stream.get(), &LiveStream::started);
        m_stream->requestStart();
        return started.wait(10000);
    }

    // Stops the stream and returns how long the stop took, or -1 when it did not end.
    qint64 stopStream()
    {
        QSignalSpy stopped(m_stream.get(), &LiveStream::stopped);
        QElapsedTimer clock;
        clock.start();
        m_stream->requestStop();
        if (!QTest::qWaitFor([&stopped] { return stopped.count() > 0; }, 40000))
            return -1;
        return clock.elapsed();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_configHome.isValid());
        QVERIFY(m_slides.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
        QCoreApplication::setOrganizationName("QuilloraTest");
        QCoreApplication::setApplicationName("LiveStreamFaultsTest");
        const QString servicesError = TestServices::start(m_service, m_s3, m_answer);
        QVERIFY2(servicesError.isEmpty(), qPrintable(servicesError));
    }

    void init()
    {
        m_service.clearRequests();
        m_service.clearFaults();
        m_s3.setFault(FakeS3Server::Fault::None);
        m_lastFailedCount = 0;
        m_lastToUploadCount = 0;
    }

    void cleanup()
    {
        m_s3.setFault(FakeS3Server::Fault::None);
        m_service.clearFaults();
        if (m_stream && m_stream->isRunning())
            stopStream();
        m_stream.reset();
        m_presentation.reset();
    }

    void storageOutageDelaysButLosesNothing()
    {
        QVERIFY(startStream());
        QSignalSpy errors(m_stream.get(), &LiveStream::slideUploadError);
        const QString before = makeSlide();
        m_stream->uploadSlide(1, 100, before);
        QTRY_COMPARE_WITH_TIMEOUT(m_stream->slideInfoWebSuccessCount(), qint64(1), 10000);

        const qint64 outageMs = 20000;
        m_s3.setFault(FakeS3Server::Fault::SlowDown, outageMs);
        QElapsedTimer outage;
        outage.start();
        QStringList during{makeSlide(), makeSlide()};
        m_stream->uploadSlide(1, 200, during.at(0));
        m_stream->uploadSlide(1, 300, during.at(1));
        // Both went through their first round of tries and wait; one more slide comes later.
        QTRY_VERIFY_WITH_TIMEOUT(faultedUploads() >= 6, 10000);
        during.append(makeSlide());
        m_stream->uploadSlide(1, 400, during.at(2));
        QCOMPARE(m_stream->slidesUploadFailed(), qint64(0));
        QCOMPARE(m_stream->slidesToUpload(), qint64(3));

        QTRY_VERIFY_WITH_TIMEOUT(outage.elapsed() > outageMs, outageMs + 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m_stream->slideInfoWebSuccessCount(), qint64(4), 40000);
        QVERIFY2(outage.elapsed() < outageMs + 40000,
                 qPrintable(QString::number(outage.elapsed())));
        for (const QString &slide : std::as_const(during)) {
            QCOMPARE(successfulUploads(keyOf(slide)), 1);
            QCOMPARE(successfulAnnouncements(keyOf(slide)), 1);
        }
        QCOMPARE(m_stream->slidesUploaded(), qint64(4));
        QCOMPARE(m_stream->slidesToUpload(), qint64(0));
        QCOMPARE(m_stream->slidesUploadFailed(), qint64(0));
        QCOMPARE(m_stream->slideInfoWebFailCount(), qint64(0));
        QCOMPARE(m_stream->slidesToAnnounce(), qint64(0));
        // The first round of each slide is reported (three tries), the pauses after it only
        // logged.
        QCOMPARE(errors.count(), 9);
        for (const QList<QVariant> &error : std::as_const(errors))
            QVERIFY(
                error.at(0).toString().contains("(SlowDown: Please reduce your request rate.)"));

        const qint64 stopTook = stopStream();
        QVERIFY(stopTook >= 0 && stopTook < 5000);
    }

    void announcementOutageIsBridged_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("500") << 500;
        QTest::newRow("connection closed") << -1;
    }

    void announcementOutageIsBridged()
    {
        QFETCH(int, status);
        QVERIFY(startStream());
        QSignalSpy errors(m_stream.get(), &LiveStream::slideUploadError);
        FakeHttpResponse fault = FakeWebService::status(status < 0 ? 200 : status);
        fault.drop = status < 0;
        const qint64 outageMs = 20000;
        m_service.setFault(FakeWebService::slidesPath, fault, outageMs);
        QElapsedTimer outage;
        outage.start();
        const QStringList slides{makeSlide(), makeSlide(), makeSlide()};
        for (int i = 0; i < slides.size(); ++i)
            m_stream->uploadSlide(1, 1000 * (i + 1), slides.at(i));
        QTRY_COMPARE_WITH_TIMEOUT(m_stream->slidesUploaded(), qint64(3), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 3, 10000);
        QVERIFY(errors.at(0).at(0).toString().startsWith("Sending slide info failed: "));
        QCOMPARE(m_stream->slideInfoWebFailCount(), qint64(0));
        QCOMPARE(m_stream->slidesToAnnounce(), qint64(3));

        QTRY_VERIFY_WITH_TIMEOUT(outage.elapsed() > outageMs, outageMs + 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m_stream->slideInfoWebSuccessCount(), qint64(3), 40000);
        for (const QString &slide : slides)
            QCOMPARE(successfulAnnouncements(keyOf(slide)), 1);
        QCOMPARE(m_stream->slideInfoWebFailCount(), qint64(0));
        QVERIFY(m_stream->lastSlideInfoWebSuccess());
        // One message per slide, not one per try.
        QCOMPARE(errors.count(), 3);
    }

    void clientErrorIsFinal()
    {
        QVERIFY(startStream());
        QSignalSpy errors(m_stream.get(), &LiveStream::slideUploadError);
        m_service.setFault(FakeWebService::slidesPath,
                           FakeWebService::status(422, R"({"message":"Stream is closed."})"), -1);
        m_stream->uploadSlide(1, 1, makeSlide());
        QTRY_COMPARE_WITH_TIMEOUT(m_stream->slideInfoWebFailCount(), qint64(1), 10000);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(),
                 QStringLiteral("Sending slide info failed: %1 (Stream is closed.).")
                     .arg(int(m_stream->lastSlideInfoWebError())));
        QCOMPARE(m_stream->slidesToAnnounce(), qint64(0));
        QCOMPARE(m_service.requests(FakeWebService::slidesPath).size(), 1);
    }

    void stopDuringEndlessOutageIsBounded()
    {
        QVERIFY(startStream());
        QSignalSpy errors(m_stream.get(), &LiveStream::slideUploadError);
        m_s3.setFault(FakeS3Server::Fault::SlowDown);
        for (int i = 0; i < 3; ++i)
            m_stream->uploadSlide(1, i, makeSlide());
        QTRY_VERIFY_WITH_TIMEOUT(faultedUploads() >= 9, 10000);

        const qint64 stopTook = stopStream();
        QVERIFY2(stopTook >= 0 && stopTook < 35000, qPrintable(QString::number(stopTook)));
        QCOMPARE(m_lastFailedCount, qint64(3));
        QCOMPARE(m_lastToUploadCount, qint64(0));
        QCOMPARE(errors.constLast().at(0).toString(),
                 QStringLiteral("3 slides were not uploaded."));
        int summaries = 0;
        for (const QList<QVariant> &error : std::as_const(errors))
            summaries += error.at(0).toString().endsWith("were not uploaded.");
        QCOMPARE(summaries, 1);
        QCOMPARE(m_service.requests(FakeWebService::slidesPath).size(), 0);
        QVERIFY(!m_stream->isRunning());
    }

    void silentStorageCannotHoldTheStop_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("stall") << int(FakeS3Server::Fault::Stall);
        QTest::newRow("trickle") << int(FakeS3Server::Fault::Trickle);
    }

    void silentStorageCannotHoldTheStop()
    {
        QFETCH(int, fault);
        QVERIFY(startStream());
        m_s3.setFault(FakeS3Server::Fault(fault));
        const int before = int(m_s3.requests().size());
        m_stream->uploadSlide(1, 1, makeSlide());
        QTRY_VERIFY_WITH_TIMEOUT(m_s3.requests().size() > before, 10000);

        const qint64 stopTook = stopStream();
        QVERIFY2(stopTook >= 0 && stopTook < 35000, qPrintable(QString::number(stopTook)));
        QCOMPARE(m_lastFailedCount, qint64(1));
    }

    void plainHttpStorageIsRefusedAtStart()
    {
        const QByteArray endpoint = qgetenv("QUILLORA_S3_ENDPOINT");
        qputenv("QUILLORA_S3_ENDPOINT", "http://storage.example.org:9000");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("uses plain http"));
        m_presentation = std::make_unique<QObject>();
        m_stream = std::make_unique<LiveStream>(m_presentation.get(), false, QString());
        QSignalSpy failed(m_stream.get(), &LiveStream::startFailed);
        QSignalSpy started(m_stream.get(), &LiveStream::started);
        m_stream->requestStart();
        qputenv("QUILLORA_S3_ENDPOINT", endpoint);
        QVERIFY(failed.wait(5000));
        QVERIFY2(failed.at(0).at(0).toString().contains("plain http"),
                 qPrintable(failed.at(0).at(0).toString()));
        QVERIFY(!m_stream->isRunning());
        QCOMPARE(started.count(), 0);
        QCOMPARE(m_service.requests(FakeWebService::streamsPath).size(), 0);
    }
};

QTEST_GUILESS_MAIN(LiveStreamFaultsTest)
#include "tst_livestreamfaults.moc"
