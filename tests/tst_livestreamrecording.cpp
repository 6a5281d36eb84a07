#include "FakeS3Server.h"
#include "FakeWebService.h"
#include "ProgramRun.h"
#include "Recorder.h"
#include "RecorderSettings.h"
#include "RecorderTestSetup.h"
#include "TestEnvironment.h"
#include "TestServices.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

void setRootColor(const QString &color)
{
    QProcess::execute("xsetroot", {"-solid", color});
}

} // namespace

// Whole live-stream recordings (screen capture, audio, pings) while storage or the web service
// fail, in this process and as the headless program.
class LiveStreamRecordingTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;
    QTemporaryDir m_work;
    FakeWebService m_service;
    FakeS3Server m_s3;
    FakeWebService::StreamAnswer m_answer;

    int m_faultedBefore = 0;

    // Uploads refused by the storage outage since the test began.
    int faultedUploads() const
    {
        int count = 0;
        for (const QJsonObject &request : m_s3.requests())
            count += request.value("status").toInt() == 503;
        return count - m_faultedBefore;
    }

    QJsonObject lastPingStats() const
    {
        const QJsonObject ping = m_service.requests(FakeWebService::pingPath).constLast().json();
        return ping.value("presentation_stream_ping_data")
            .toObject()
            .value("recording_app")
            .toObject()
            .value("recording")
            .toObject()
            .value("slides_stats")
            .toObject();
    }

    // Shows a new picture on the screen and waits until the recorder saved it as a slide.
    static bool showNewSlide(Recorder &recorder, const QString &color)
    {
        const qint64 saved = recorder.slidesSaved();
        setRootColor(color);
        return QTest::qWaitFor([&recorder, saved] { return recorder.slidesSaved() > saved; },
                               10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnvironment::hasDisplay() || !TestEnvironment::hasPulseAudio())
            QSKIP("needs an X display and the test sound server");
        QVERIFY(m_config.isValid() && m_work.isValid());
        QVERIFY(RecorderTestSetup::prepare(m_config.path(), m_work.path()));
        QVERIFY(RecorderTestSetup::selectSources(RecorderTestSetup::sineSourceId()));
        const QString servicesError = TestServices::start(m_service, m_s3, m_answer);
        QVERIFY2(servicesError.isEmpty(), qPrintable(servicesError));
    }

    void init()
    {
        m_service.clearRequests();
        m_service.clearFaults();
        m_s3.setFault(FakeS3Server::Fault::None);
        m_faultedBefore = 0;
        m_faultedBefore = faultedUploads();
        setRootColor("#203040");
        // Presentation directories are named by the second they start in.
        QTest::qWait(1000);
    }

    void cleanup() { m_s3.setFault(FakeS3Server::Fault::None); }

    void storageOutageInTheMiddleOfAStream()
    {
        Recorder recorder;
        QSignalSpy started(&recorder, &Recorder::started);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        recorder.requestStart(true, false, QString());
        QVERIFY(started.wait(15000));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.slideInfoWebSuccessCount(), qint64(1), 10000);

        const qint64 outageMs = 20000;
        m_s3.setFault(FakeS3Server::Fault::SlowDown, outageMs);
        QElapsedTimer outage;
        outage.start();
        QVERIFY(showNewSlide(recorder, "#a04020"));
        QVERIFY(showNewSlide(recorder, "#40a020"));
        QTRY_VERIFY_WITH_TIMEOUT(faultedUploads() >= 6, 10000);
        QCOMPARE(recorder.slidesToUpload(), qint64(2));

        QTRY_VERIFY_WITH_TIMEOUT(outage.elapsed() > outageMs, outageMs + 5000);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.slideInfoWebSuccessCount(), qint64(3), 40000);
        QCOMPARE(recorder.slidesSaved(), qint64(3));
        QCOMPARE(recorder.slidesUploaded(), qint64(3));

        recorder.requestStop();
        QVERIFY(stopped.wait(15000));
        const QJsonObject stats = lastPingStats();
        QCOMPARE(stats.value("saved_count").toInt(), 3);
        QCOMPARE(stats.value("uploaded_count").toInt(), 3);
        QCOMPARE(stats.value("to_upload_count").toInt(), 0);
        QCOMPARE(stats.value("upload_failed_count").toInt(), 0);
        QCOMPARE(stats.value("web_success_count").toInt(), 3);
        QCOMPARE(stats.value("web_failed_count").toInt(), 0);
        QCOMPARE(m_service.requests(FakeWebService::slidesPath).size(), 3);
    }

    void stopDuringAnEndlessOutage()
    {
        Recorder recorder;
        QSignalSpy started(&recorder, &Recorder::started);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        QSignalSpy errors(&recorder, &Recorder::recordingError);
        qint64 failed = 0;
        connect(&recorder, &Recorder::slidesUploadFailedChanged, this,
                [&recorder, &failed] { failed = recorder.slidesUploadFailed(); });
        m_s3.setFault(FakeS3Server::Fault::SlowDown);
        recorder.requestStart(true, false, QString());
        QVERIFY(started.wait(15000));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.slidesSaved(), qint64(1), 10000);
        QVERIFY(showNewSlide(recorder, "#a04020"));
        QTRY_VERIFY_WITH_TIMEOUT(faultedUploads() >= 6, 10000);
        const qint64 notUploaded = recorder.slidesSaved() - recorder.slidesUploaded();
        QCOMPARE(notUploaded, qint64(2));

        QElapsedTimer clock;
        clock.start();
        recorder.requestStop();
        QVERIFY(stopped.wait(40000));
        QVERIFY2(clock.elapsed() < 35000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(failed, notUploaded);
        QCOMPARE(errors.constLast().at(0).toString(),
                 QStringLiteral("2 slides were not uploaded."));
        QCOMPARE(m_service.requests(FakeWebService::slidesPath).size(), 0);
    }

    // The headless program ends with status 1 when the service's answers are unusable.
    void headlessRefusesUnusableAnswers_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        const QJsonObject answer = FakeWebService::streamAnswer({});
        QJsonObject noBucket = answer;
        QJsonObject upload = answer.value("upload").toObject();
        upload.remove("bucket");
        noBucket.insert("upload", upload);
        QTest::newRow("create answer without bucket")
            << FakeWebService::streamsPath << QJsonDocument(noBucket).toJson()
            << QStringList{"--presentation-id", "501"}
            << "the live stream could not be started: The web service's answer lacks "
               "upload.bucket.";
        QTest::newRow("login answer without token")
            << FakeWebService::loginPath << QByteArray(R"({"user_email":"speaker@example.org"})")
            << QStringList{}
            << "login failed: The web service's login answer carries no user token.";
    }

    void headlessRefusesUnusableAnswers()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        m_service.setFault(path, {200, body, "application/json"}, -1);
        QTemporaryDir root;
        QProcessEnvironment environment =
            TestEnvironment::childEnvironment(root.filePath("config"));
        environment.insert("QUILLORA_API_URL", m_service.url());
        environment.insert("QUILLORA_S3_ENDPOINT", m_s3.endpoint());
        environment.insert("QUILLORA_PASSWORD", "pw");
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(environment);
        QVERIFY(run.start(QStringList{"--record", "--live", "--email", "speaker@example.org",
                                      "--data-dir", root.filePath("data")} +
                          arguments));
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(run.standardError().contains("QuilloraRecorder: " + expected),
                 qPrintable(run.standardError()));
        QCOMPARE(m_service.requests(FakeWebService::slidesPath).size(), 0);
        m_service.clearFaults();
    }

    void headlessRefusesPlainHttpElsewhere()
    {
        QTemporaryDir root;
        QProcessEnvironment environment =
            TestEnvironment::childEnvironment(root.filePath("config"));
        environment.insert("QUILLORA_API_URL", "http://api.example.org");
        environment.insert("QUILLORA_PASSWORD", "pw");
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(environment);
        QVERIFY(run.start({"--record", "--live", "--email", "speaker@example.org", "--data-dir",
                           root.filePath("data")}));
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(run.standardError().contains("uses plain http"), qPrintable(run.standardError()));
    }

    void cleanupTestCase() { setRootColor("#000000"); }
};

QTEST_MAIN(LiveStreamRecordingTest)
#include "tst_livestreamrecording.moc"
