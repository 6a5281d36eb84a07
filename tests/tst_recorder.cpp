#include "FakeS3Server.h"
#include "FakeWebService.h"
#include "Presentation.h"
#include "PulseModule.h"
#include "Recorder.h"
#include "RecorderSettings.h"
#include "RecorderTestSetup.h"
#include "RecordingErrorList.h"
#include "SlideRecorder.h"
#include "TestEnvironment.h"
#include "TestServices.h"
#include "X11Pointer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QMediaDevices>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList pngFiles(const QString &dir)
{
    return QDir(dir).entryList({"*.png"}, QDir::Files, QDir::Name);
}

QStringList nonEmptyLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

void setRootColor(const QString &color)
{
    QProcess::execute("xsetroot", {"-solid", color});
}

} // namespace

// The whole recorder in this process, on the test's virtual screen and sound server.
class RecorderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnvironment::hasDisplay() || !TestEnvironment::hasPulseAudio())
            QSKIP("needs an X display and the test sound server");
        QVERIFY(m_config.isValid() && m_work.isValid());
        QVERIFY(RecorderTestSetup::prepare(m_config.path(), m_work.path()));
        QVERIFY(RecorderTestSetup::selectSources(RecorderTestSetup::sineSourceId()));
        m_screenCapture = RecorderSettings::instance()->selectedSlideSource();
        QCOMPARE(m_screenCapture.type(), SlidesSourceInfo::ScreenInterval);

        const QString servicesError = TestServices::start(m_service, m_s3, m_answer);
        QVERIFY2(servicesError.isEmpty(), qPrintable(servicesError));
        connect(&m_service, &FakeHttpServer::requestReceived, this,
                [this](const FakeHttpRequest &request) {
                    if (request.path == FakeWebService::pingPath)
                        m_pingTimes.append(m_clock.elapsed());
                });
        m_clock.start();
    }

    void init()
    {
        // Our own warnings carry a "[Component]" tag; any other comes from a library that was
        // used wrongly (a read from a write-only file, a bad connection ...).
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!\\[)")));
        m_service.clearRequests();
        m_service.setAnswer(FakeWebService::streamsPath, 200,
                            FakeWebService::streamAnswer(m_answer));
        m_service.setAnswer(FakeWebService::slidesPath, 200, QJsonObject{{"status", "ok"}});
        m_service.setAnswer(FakeWebService::pingPath, 200, QJsonObject{{"status", "ok"}});
        m_pingTimes.clear();
        RecorderSettings::instance()->setSelectedSlideSource(m_screenCapture);
        setRootColor("#203040");
        // Presentation directories are named by the second they start in.
        QTest::qWait(1000);
    }

    void plainRecordingWritesEveryFile()
    {
        Recorder recorder;
        QSignalSpy started(&recorder, &Recorder::started);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        QSignalSpy created(&recorder, &Recorder::presentationCreated);
        QSignalSpy errors(&recorder, &Recorder::recordingError);

        recorder.requestStart(false, false, QString());
        QCOMPARE(recorder.state(), Recorder::Starting);
        QTRY_COMPARE_WITH_TIMEOUT(created.size(), 1, 5000);
        QVERIFY(recorder.presentation());
        const QString dir = recorder.presentation()->dir().absolutePath();
        QVERIFY(QFileInfo::exists(dir + "/presentation.xml"));
        QVERIFY(QFileInfo(dir).fileName().startsWith("Presentation "));

        QVERIFY(started.wait(10000));
        QCOMPARE(recorder.state(), Recorder::Started);
        X11Pointer pointer;
        QVERIFY(pointer.isValid());
        // The position is read when the event arrives: moves in one burst count once.
        for (const QPoint &move : {QPoint(40, 25), QPoint(-10, 5), QPoint(3, 3)}) {
            pointer.moveBy(move.x(), move.y());
            QTest::qWait(100);
        }
        QCOMPARE(QPoint(int(recorder.mousePositionX()), int(recorder.mousePositionY())),
                 pointer.position());
        QTest::qWait(1000);
        setRootColor("#a04020");
        QTRY_COMPARE_WITH_TIMEOUT(recorder.slidesSaved(), qint64(2), 5000);

        recorder.requestStop();
        QCOMPARE(recorder.state(), Recorder::Stopping);
        QVERIFY(stopped.wait(10000));
        QCOMPARE(recorder.state(), Recorder::Stopped);
        QVERIFY(!recorder.presentation());
        QVERIFY(recorder.recordingErrors().isEmpty());
        QTest::qWait(300);
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(started.size(), 1);

        QCOMPARE(pngFiles(dir), (QStringList{"0-0001.png", "0-0002.png"}));
        QCOMPARE(nonEmptyLines(dir + "/timestamps_ms.txt").size(), 2);
        QVERIFY(QFileInfo(dir + "/audio.wav").size() > 44);
        QVERIFY(!nonEmptyLines(dir + "/screens_geometry.txt").isEmpty());
        const QStringList positions = nonEmptyLines(dir + "/mouse_positions.txt");
        QVERIFY(positions.size() >= 2);
        QVERIFY(positions.last().endsWith(
            QStringLiteral(" %1 %2").arg(pointer.position().x()).arg(pointer.position().y())));
        // A plain recording sends no status ping.
        QVERIFY(m_service.requests(FakeWebService::pingPath).isEmpty());
    }

    void stopWhileStarting()
    {
        Recorder recorder;
        QSignalSpy started(&recorder, &Recorder::started);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        QSignalSpy startFailed(&recorder, &Recorder::startFailed);
        recorder.requestStart(false, false, QString());
        QCOMPARE(recorder.state(), Recorder::Starting);
        recorder.requestStop();
        QVERIFY(stopped.wait(10000));
        // The user's own stop is no failure.
        QCOMPARE(startFailed.size(), 0);
        // Nothing that was still in its start delay goes on running.
        QTest::qWait(1500);
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(started.size(), 0);
        QCOMPARE(recorder.state(), Recorder::Stopped);
    }

    // A chosen source that is absent is waited for, then refused by name: never replaced by
    // another source, and no empty presentation is left behind.
    void absentSlideSourceIsRefusedAfterTheWait()
    {
        const int threadsBefore = RecorderTestSetup::threadCount();
        const QStringList directoriesBefore =
            QDir(m_work.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        RecorderSettings::instance()->setSelectedSlideSource(SlidesSourceInfo(
            true, SlidesSourceInfo::SlideSourceType(1), "unusable", -1, "Unusable"));
        Recorder recorder;
        QSignalSpy started(&recorder, &Recorder::started);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        QSignalSpy startFailed(&recorder, &Recorder::startFailed);
        QElapsedTimer wait;
        wait.start();
        recorder.requestStart(false, false, QString());
        QVERIFY(stopped.wait(Recorder::startTimeoutMs + 10000));
        QVERIFY(wait.elapsed() >= Recorder::startTimeoutMs - 100);
        QCOMPARE(startFailed.size(), 1);
        QVERIFY2(startFailed.first().first().toString().contains("Unusable"),
                 qPrintable(startFailed.first().first().toString()));
        QTest::qWait(500);
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(started.size(), 0);
        QCOMPARE(recorder.state(), Recorder::Stopped);
        QCOMPARE(RecorderSettings::instance()->chosenSlideSourceId(), QByteArray("unusable"));
        QCOMPARE(QDir(m_work.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 directoriesBefore);
        QTRY_COMPARE_WITH_TIMEOUT(RecorderTestSetup::threadCount(), threadsBefore, 5000);
    }

    // A microphone pulled just before the start: refused with the reason, nothing left behind.
    void unopenableAudioInputRefusesTheStart()
    {
        RecorderSettings *settings = RecorderSettings::instance();
        const QStringList directoriesBefore =
            QDir(m_work.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        PulseModule microphone("module-sine-source", "source_name=pulled rate=48000");
        QVERIFY(microphone.isLoaded());
        // Right after the settings' poll listed it, so that the next poll comes only after the
        // start has reached the input.
        QSignalSpy listed(settings, &RecorderSettings::property_availableAudioInputsChanged);
        QVERIFY(listed.wait(5000));
        settings->chooseAudioInput("pulled");
        QVERIFY(settings->selectedAudioInputAvailable());
        const QString name = settings->chosenAudioInputName();
        QVERIFY(microphone.unload());
        const auto listedByQt = [] {
            const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
            return std::any_of(inputs.cbegin(), inputs.cend(),
                               [](const QAudioDevice &input) { return input.id() == "pulled"; });
        };
        QTRY_VERIFY(!listedByQt());

        Recorder recorder;
        QSignalSpy started(&recorder, &Recorder::started);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        QSignalSpy startFailed(&recorder, &Recorder::startFailed);
        recorder.requestStart(false, false, QString());
        QVERIFY(stopped.wait(5000));
        QCOMPARE(started.size(), 0);
        QCOMPARE(startFailed.size(), 1);
        QCOMPARE(startFailed.first().first().toString(),
                 QStringLiteral("The audio input \"%1\" could not be opened: it is not connected.")
                     .arg(name));
        QCOMPARE(QDir(m_work.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 directoriesBefore);
        settings->chooseAudioInput(RecorderTestSetup::sineSourceId());
        QTRY_VERIFY(settings->selectedAudioInputAvailable());
    }

    // A source without signal reports the same message every second for hours: the list stays
    // short and readable.
    void repeatedErrorsAreCountedNotRepeated()
    {
        RecordingErrorList errors;
        for (int second = 0; second < 3600; ++second) {
            errors.add(QStringLiteral("No signal on the capture card."));
            if (second % 10 == 0)
                errors.add(QStringLiteral("Upload %1 failed.").arg(second));
        }
        QCOMPARE(errors.size(), qsizetype(RecordingErrorList::maxMessages));
        const QStringList messages = errors.messages();
        // The repeated message sits where it last came, with its count.
        QCOMPARE(messages.last(), QStringLiteral("No signal on the capture card. (3600 times)"));
        QCOMPARE(messages.at(messages.size() - 2), QStringLiteral("Upload 3590 failed."));
        QVERIFY(!messages.contains(QStringLiteral("Upload 0 failed.")));
    }

    void startsInTheSameSecondGetTheirOwnDirectories()
    {
        std::unique_ptr<Presentation> first(Presentation::create(false, false, QString()));
        std::unique_ptr<Presentation> second(Presentation::create(false, false, QString()));
        QVERIFY(first && second);
        const QString firstName = first->dir().dirName();
        const QString secondName = second->dir().dirName();
        QVERIFY(firstName != secondName);
        if (secondName.startsWith(firstName))
            QCOMPARE(secondName, firstName + " (2)");
        QCOMPARE(second->title(), secondName);
        QVERIFY(first->dir().removeRecursively());
        QVERIFY(second->dir().removeRecursively());
    }

    void failedLiveStreamStartReportsAfterStopped()
    {
        m_service.setAnswer(FakeWebService::streamsPath, 500, QJsonObject{});

        // The slide recorder reports its end first, then the reason.
        std::unique_ptr<Presentation> presentation(Presentation::create(true, false, QString()));
        QVERIFY(presentation);
        SlideRecorder slideRecorder;
        QStringList events;
        connect(&slideRecorder, &SlideRecorder::stopped, this, [&events] { events << "stopped"; });
        connect(&slideRecorder, &SlideRecorder::started, this, [&events] { events << "started"; });
        connect(&slideRecorder, &SlideRecorder::liveStreamStartFailed, this,
                [&events](const QString &message) { events << "failed: " + message; });
        slideRecorder.requestStart(presentation.get());
        QVERIFY(QTest::qWaitFor([&events] { return events.size() >= 2; }, 10000));
        QCOMPARE(events, (QStringList{"stopped", "failed: Internal server error."}));
        QCOMPARE(slideRecorder.state(), SlideRecorder::Stopped);
        QTest::qWait(1000); // another second to be sure of the second presentation name

        // The whole recording ends, with the mouse and screen recorders it had started.
        Recorder recorder;
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        QSignalSpy started(&recorder, &Recorder::started);
        QSignalSpy failed(&recorder, &Recorder::liveStreamStartFailed);
        recorder.requestStart(true, false, QString());
        QVERIFY(stopped.wait(10000));
        QTest::qWait(500);
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(started.size(), 0);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), QStringLiteral("Internal server error."));
        QCOMPARE(recorder.state(), Recorder::Stopped);
    }

    void liveStreamUploadsAnnouncesAndPings()
    {
        Recorder recorder;
        QSignalSpy started(&recorder, &Recorder::started);
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        recorder.requestStart(true, false, QString());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.presentation(), 5000);
        const QString dir = recorder.presentation()->dir().absolutePath();
        QVERIFY(QFileInfo(dir).fileName().startsWith("Live Stream "));
        QVERIFY(started.wait(15000));
        const qint64 startedAt = m_clock.elapsed();
        QVERIFY(recorder.isLiveStream());
        QCOMPARE(recorder.liveStreamPresentationId(), m_answer.presentationId);

        // The first ping goes out at once, the next 4-5 s after the answer to the first.
        QTRY_COMPARE_WITH_TIMEOUT(m_pingTimes.size(), 1, 2000);
        QVERIFY(m_pingTimes.first() - startedAt < 1000);
        QTest::qWait(1200);
        setRootColor("#40a020");
        QTRY_COMPARE_WITH_TIMEOUT(m_pingTimes.size(), 2, 7000);
        const qint64 gap = m_pingTimes.at(1) - m_pingTimes.at(0);
        QVERIFY2(gap >= 4000 && gap < 5200, qPrintable(QString::number(gap)));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.slidesUploaded(), qint64(2), 10000);

        recorder.requestStop();
        const int pingsBeforeStop = int(m_pingTimes.size());
        QVERIFY(stopped.wait(15000));
        QTRY_COMPARE_WITH_TIMEOUT(int(m_pingTimes.size()), pingsBeforeStop + 1, 3000);
        QTest::qWait(5500);
        QCOMPARE(int(m_pingTimes.size()), pingsBeforeStop + 1);

        // Slides are saved under the stream's slide version, each uploaded and announced.
        const QString slidesDir = dir + QStringLiteral("/slides_%1").arg(m_answer.slideVersion);
        const QStringList pngs = pngFiles(slidesDir);
        QCOMPARE(pngs.size(), 2);
        QCOMPARE(nonEmptyLines(slidesDir + "/timestamps_ms.txt").size(), 2);
        for (const QString &png : pngs) {
            const QByteArray stored = m_s3.object(m_answer.bucket, m_answer.prefix + png);
            QFile file(slidesDir + "/" + png);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(stored, file.readAll());
        }
        QCOMPARE(m_service.requests(FakeWebService::slidesPath).size(), 2);

        // The last ping's counters match the files.
        const QJsonObject last = m_service.requests(FakeWebService::pingPath).last().json();
        const QJsonObject data = last.value("presentation_stream_ping_data").toObject();
        QCOMPARE(data.value("presentation_id").toString(), m_answer.presentationId);
        QCOMPARE(data.value("presentation_stream_version").toInt(), m_answer.slideVersion);
        const QJsonObject app = data.value("recording_app").toObject();
        QCOMPARE(app.value("name").toString(), QStringLiteral("Quillora Recorder"));
        QCOMPARE(app.value("version").toString(), QStringLiteral("150"));
        const QJsonObject recording = app.value("recording").toObject();
        QVERIFY(recording.value("started_at").toString().endsWith('Z'));
        QCOMPARE(recording.value("slides_source").toString(), m_screenCapture.name());
        const QJsonObject stats = recording.value("slides_stats").toObject();
        QCOMPARE(stats.value("saved_count").toInt(), 2);
        QCOMPARE(stats.value("captured_count").toInt(), 2);
        QCOMPARE(stats.value("uploaded_count").toInt(), 2);
        QCOMPARE(stats.value("to_upload_count").toInt(), 0);
        QCOMPARE(stats.value("web_success_count").toInt(), 2);
        QCOMPARE(stats.value("resolutions").toArray().first().toString(),
                 QStringLiteral("1920x1080"));
        QVERIFY(data.value("vmix").toObject().contains("polling_enabled"));
    }

    void cleanupTestCase() { setRootColor("#000000"); }

private:
    QTemporaryDir m_config;
    QTemporaryDir m_work;
    SlidesSourceInfo m_screenCapture;
    FakeWebService m_service;
    FakeS3Server m_s3;
    FakeWebService::StreamAnswer m_answer;
    QElapsedTimer m_clock;
    QList<qint64> m_pingTimes;
};

QTEST_MAIN(RecorderTest)
#include "tst_recorder.moc"
