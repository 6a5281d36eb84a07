#include "FakeS3Server.h"
#include "FakeWebService.h"
#include "LiveStream.h"
#include "LoginSettings.h"
#include "TestServices.h"
#include "WebApi.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QLocale>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QMutex logMutex;
QStringList logLines;
QtMessageHandler previousHandler = nullptr;

// Keeps every message of the run, whatever its thread, to search it for secrets later.
void collectMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        const QMutexLocker locker(&logMutex);
        logLines.append(message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

class LiveStreamTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_configHome;
    QTemporaryDir m_slides;
    FakeWebService m_service;
    FakeS3Server m_s3;
    FakeWebService::StreamAnswer m_answer;

    // Stands in for the recording's Presentation: the live stream uses its "title" and
    // "livestreamPresentationId" properties only.
    std::unique_ptr<QObject> makePresentation(const QString &title = "Live Stream 2024-03-05")
    {
        auto presentation = std::make_unique<QObject>();
        presentation->setProperty("title", title);
        presentation->setProperty("livestreamPresentationId", QString());
        return presentation;
    }

    QString makeSlide(const QString &relativePath)
    {
        const QString path = m_slides.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("\x89PNG slide " + relativePath.toUtf8());
        return path;
    }

    static void start(LiveStream &stream)
    {
        QSignalSpy started(&stream, &LiveStream::started);
        stream.requestStart();
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, 10000);
    }

    static void stop(LiveStream &stream)
    {
        QSignalSpy stopped(&stream, &LiveStream::stopped);
        stream.requestStop();
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 35000);
        QTest::qWait(50);
        QCOMPARE(stopped.count(), 1);
        QVERIFY(!stream.isRunning());
    }

private Q_SLOTS:
    void initTestCase()
    {
        previousHandler = qInstallMessageHandler(collectMessage);
        QVERIFY(m_configHome.isValid());
        QVERIFY(m_slides.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
        QCoreApplication::setOrganizationName("QuilloraTest");
        QCoreApplication::setApplicationName("LiveStreamTest");
        const QString servicesError = TestServices::start(m_service, m_s3, m_answer);
        QVERIFY2(servicesError.isEmpty(), qPrintable(servicesError));
    }

    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void init()
    {
        m_service.clearRequests();
        m_service.setAnswer(FakeWebService::streamsPath, 200,
                            FakeWebService::streamAnswer(m_answer));
        m_service.setAnswer(FakeWebService::slidesPath, 200, QJsonObject{{"status", "ok"}});
    }

    void startFailedMessage_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("service message")
            << 422 << QByteArray(R"({"message":"Stream closed."})") << "Stream closed.";
        QTest::newRow("500 with message") << 500 << QByteArray(R"({"message":"Boom"})") << "Boom";
        QTest::newRow("500") << 500 << QByteArray("{}") << "Internal server error.";
        QTest::newRow("500 without JSON") << 500 << QByteArray("oops") << "Internal server error.";
        QTest::newRow("404") << 404 << QByteArray("{}") << "Unknown error.";
    }

    void startFailedMessage()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        m_service.queueAnswer(FakeWebService::streamsPath, {status, body, "application/json"});
        auto presentation = makePresentation();
        LiveStream stream(presentation.get(), false, QString());
        QSignalSpy failed(&stream, &LiveStream::startFailed);
        QSignalSpy started(&stream, &LiveStream::started);
        QSignalSpy stopped(&stream, &LiveStream::stopped);
        stream.requestStart();
        QVERIFY(stream.isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QCOMPARE(failed.at(0).at(0).toString(), message);
        QVERIFY(!stream.isRunning());
        QCOMPARE(started.count(), 0);
        QCOMPARE(stopped.count(), 0);
        // Nothing to stop, and no uploader to take slides.
        stream.requestStop();
        QTest::ignoreMessage(QtWarningMsg, "[LiveStream] uploadSlide called without uploader");
        stream.uploadSlide(1, 1, makeSlide("dropped.png"));
        QCOMPARE(stopped.count(), 0);
    }

    void refusedConnectionIsAnUnknownError()
    {
        const quint16 port = m_service.port();
        m_service.close();
        auto presentation = makePresentation();
        LiveStream stream(presentation.get(), false, QString());
        QSignalSpy failed(&stream, &LiveStream::startFailed);
        stream.requestStart();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("Unknown error."));
        QVERIFY(m_service.listen(port));
    }

    void createAnswerIsReadWhateverTheTypes()
    {
        QJsonObject answer = FakeWebService::streamAnswer(m_answer);
        answer.insert("presentation", QJsonObject{{"id", 612}, {"title", "Remote title"}});
        answer.insert("presentation_stream", QJsonObject{{"id", "88"},
                                                         {"app_start", "1700000000999"},
                                                         {"current_slide_version", 4}});
        m_service.setAnswer(FakeWebService::streamsPath, 200, answer);
        auto presentation = makePresentation("Local title");
        LiveStream stream(presentation.get(), true, "612");
        start(stream);
        QCOMPARE(presentation->property("livestreamPresentationId").toString(),
                 QStringLiteral("612"));
        QCOMPARE(presentation->property("title").toString(), QStringLiteral("Remote title"));
        QCOMPARE(stream.presentationStreamVersion(), 4);
        QCOMPARE(stream.presentationStreamStart(), qint64(1700000000999));
        QVERIFY(stream.isRunning());

        const QJsonObject request = m_service.requests(FakeWebService::streamsPath)
                                        .constLast()
                                        .json()
                                        .value("presentation_stream")
                                        .toObject();
        QCOMPARE(request.value("title").toString(), QStringLiteral("Local title"));
        QCOMPARE(request.value("connect_to_existing_live_stream").toBool(), true);
        QCOMPARE(request.value("presentation_id").toString(), QStringLiteral("612"));

        // The stream id travels with every announcement.
        stream.uploadSlide(1, 10, makeSlide("types/1-1.png"));
        QTRY_COMPARE_WITH_TIMEOUT(stream.slideInfoWebSuccessCount(), qint64(1), 10000);
        const QJsonObject slide = m_service.requests(FakeWebService::slidesPath)
                                      .constLast()
                                      .json()
                                      .value("presentation_stream_slide")
                                      .toObject();
        QCOMPARE(slide.value("presentation_stream_id").toInteger(), qint64(88));
        QCOMPARE(slide.value("app_start").toInteger(), qint64(1700000000999));
        QCOMPARE(slide.value("version").toInt(), 4);
        stop(stream);
    }

    void incompleteAnswerFailsTheStart_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        const QJsonObject complete = FakeWebService::streamAnswer({});
        QJsonObject noCredentials = complete;
        QJsonObject upload = complete.value("upload").toObject();
        upload.remove("credentials");
        noCredentials.insert("upload", upload);
        QJsonObject noStreamId = complete;
        noStreamId.insert("presentation_stream", QJsonObject{{"current_slide_version", 3}});
        QTest::newRow("empty") << QByteArray("{}")
                               << "The web service's answer lacks presentation.id, "
                                  "presentation_stream.id, presentation_stream.current_slide_"
                                  "version, upload.bucket, upload.prefix, upload.credentials."
                                  "access_key_id, upload.credentials.secret_access_key, "
                                  "upload.credentials.session_token.";
        QTest::newRow("not JSON") << QByteArray("{\"presentation\": ")
                                  << "The web service's answer lacks presentation.id, "
                                     "presentation_stream.id, presentation_stream.current_slide_"
                                     "version, upload.bucket, upload.prefix, upload.credentials."
                                     "access_key_id, upload.credentials.secret_access_key, "
                                     "upload.credentials.session_token.";
        QTest::newRow("no credentials")
            << QJsonDocument(noCredentials).toJson()
            << "The web service's answer lacks upload.credentials.access_key_id, "
               "upload.credentials.secret_access_key, upload.credentials.session_token.";
        QTest::newRow("no stream id") << QJsonDocument(noStreamId).toJson()
                                      << "The web service's answer lacks presentation_stream.id.";
    }

    void incompleteAnswerFailsTheStart()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        LoginSettings::instance()->setLiveStreamToken(QString());
        m_service.queueAnswer(FakeWebService::streamsPath, {200, body, "application/json"});
        auto presentation = makePresentation();
        LiveStream stream(presentation.get(), false, QString());
        QSignalSpy failed(&stream, &LiveStream::startFailed);
        QSignalSpy started(&stream, &LiveStream::started);
        stream.requestStart();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QCOMPARE(failed.at(0).at(0).toString(), message);
        QVERIFY(!stream.isRunning());
        QCOMPARE(started.count(), 0);
        // Nothing of the refused answer is kept for a later resume.
        QCOMPARE(LoginSettings::instance()->liveStreamToken(), QString());
    }

    void countersAreZeroUntilTheAnswer()
    {
        FakeHttpResponse held;
        held.body = QJsonDocument(FakeWebService::streamAnswer(m_answer)).toJson();
        held.hold = true;
        m_service.queueAnswer(FakeWebService::streamsPath, held);
        auto presentation = makePresentation();
        LiveStream stream(presentation.get(), false, QString());
        QSignalSpy started(&stream, &LiveStream::started);
        QSignalSpy toUpload(&stream, &LiveStream::slidesToUploadChanged);
        stream.requestStart();
        QTRY_COMPARE(m_service.heldAnswerCount(), 1);
        QCOMPARE(stream.slidesToUpload(), qint64(0));
        QCOMPARE(stream.slidesUploaded(), qint64(0));
        QCOMPARE(stream.slidesUploadFailed(), qint64(0));
        stream.requestStop();
        m_service.releaseHeldAnswers();
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, 10000);
        // Started announces every counter once.
        QCOMPARE(toUpload.count(), 1);
        stop(stream);
    }

    void slideIsUploadedAndAnnounced()
    {
        auto presentation = makePresentation();
        LiveStream stream(presentation.get(), false, QString());
        QSignalSpy errors(&stream, &LiveStream::slideUploadError);
        start(stream);
        stream.uploadSlide(2, 5000, makeSlide("slides_3/2-1.png"));
        QTRY_COMPARE_WITH_TIMEOUT(stream.slideInfoWebSuccessCount(), qint64(1), 10000);

        const QString key = m_answer.prefix + "2-1.png";
        QCOMPARE(m_s3.object(m_answer.bucket, key), QByteArray("\x89PNG slide slides_3/2-1.png"));
        QCOMPARE(m_s3.objectContentType(m_answer.bucket, key), QStringLiteral("image/png"));
        QVERIFY(m_s3.requests().constLast().value("signature_valid").toBool());

        const FakeHttpRequest request = m_service.requests(FakeWebService::slidesPath).constLast();
        const QJsonObject slide = request.json().value("presentation_stream_slide").toObject();
        QCOMPARE(slide.value("presentation_stream_id").toInteger(), m_answer.streamId);
        QCOMPARE(slide.value("version").toInt(), m_answer.slideVersion);
        QCOMPARE(slide.value("app_start").toInteger(), m_answer.appStart);
        QCOMPARE(slide.value("screen").toInt(), 2);
        QCOMPARE(slide.value("timestamp").toInteger(), qint64(5000));
        QCOMPARE(slide.value("bucket").toString(), m_answer.bucket);
        QCOMPARE(slide.value("path").toString(), key);
        QCOMPARE(request.json().value("recording_app_stream_token").toString(), m_answer.token);

        QCOMPARE(stream.slidesUploaded(), qint64(1));
        QCOMPARE(stream.slidesToUpload(), qint64(0));
        QVERIFY(stream.lastSlideInfoWebSuccess());
        QCOMPARE(errors.count(), 0);

        stop(stream);
        QCOMPARE(stream.slidesUploaded(), qint64(0));
        QCOMPARE(stream.slideInfoWebSuccessCount(), qint64(1));
    }

    void failedAnnouncementIsCountedAndReported()
    {
        auto presentation = makePresentation();
        LiveStream stream(presentation.get(), false, QString());
        QSignalSpy errors(&stream, &LiveStream::slideUploadError);
        start(stream);
        m_service.queueAnswer(FakeWebService::slidesPath,
                              {404, R"({"message":"gone"})", "application/json"});
        stream.uploadSlide(1, 1, makeSlide("fail/1-1.png"));
        QTRY_COMPARE_WITH_TIMEOUT(stream.slideInfoWebFailCount(), qint64(1), 10000);
        QCOMPARE(stream.lastSlideInfoWebSuccess(), false);
        QCOMPARE(stream.lastSlideInfoWebError(), QNetworkReply::ContentNotFoundError);
        QVERIFY(!stream.lastSlideInfoWebErrorString().isEmpty());
        // A 4xx answer is final, and the service says why.
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(),
                 QStringLiteral("Sending slide info failed: 203 (gone)."));

        stream.uploadSlide(1, 2, makeSlide("fail/1-2.png"));
        QTRY_COMPARE_WITH_TIMEOUT(stream.slideInfoWebSuccessCount(), qint64(1), 10000);
        QCOMPARE(stream.lastSlideInfoWebError(), QNetworkReply::NoError);
        QCOMPARE(stream.lastSlideInfoWebErrorString(), QString());
        QCOMPARE(stream.slideInfoWebFailCount(), qint64(1));
        QVERIFY(stream.lastSlideInfoWebSuccess());
        stop(stream);
    }

    void announcementToldToWaitIsSentAgain_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::addColumn<qint64>("shortestPauseMs");
        QTest::newRow("429, wait in seconds") << 429 << QByteArray("3") << qint64(2900);
        // Four seconds from the answer, to the second.
        QTest::newRow("429, wait until a date") << 429 << QByteArray("date") << qint64(2000);
        QTest::newRow("408, no pause asked for") << 408 << QByteArray() << qint64(900);
    }

    // A rate limit during a burst of slides, or a time-out, is no verdict on the slide: it is
    // announced once it may be, as often as it takes to get through once.
    void announcementToldToWaitIsSentAgain()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, retryAfter);
        QFETCH(qint64, shortestPauseMs);
        auto presentation = makePresentation();
        LiveStream stream(presentation.get(), false, QString());
        start(stream);
        FakeHttpResponse later = FakeWebService::status(status, R"({"message":"later"})");
        if (retryAfter == "date") {
            retryAfter = QLocale::c()
                             .toString(QDateTime::currentDateTimeUtc().addSecs(4),
                                       QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
                             .toLatin1();
        }
        if (!retryAfter.isEmpty())
            later.headers.append({"Retry-After", retryAfter});
        m_service.queueAnswer(FakeWebService::slidesPath, later);
        QElapsedTimer clock;
        clock.start();
        QList<qint64> arrivals;
        QObject watcher;
        connect(&m_service, &FakeHttpServer::requestReceived, &watcher,
                [&](const FakeHttpRequest &request) {
                    if (request.path == FakeWebService::slidesPath)
                        arrivals.append(clock.elapsed());
                });
        stream.uploadSlide(1, 1, makeSlide("later/1-1.png"));
        QTRY_COMPARE_WITH_TIMEOUT(stream.slideInfoWebSuccessCount(), qint64(1), 15000);
        QCOMPARE(arrivals.size(), 2);
        QVERIFY2(arrivals.at(1) - arrivals.at(0) >= shortestPauseMs,
                 qPrintable(QString::number(arrivals.at(1) - arrivals.at(0))));
        QCOMPARE(stream.slideInfoWebFailCount(), qint64(0));
        QVERIFY(stream.lastSlideInfoWebSuccess());
        stop(stream);
        QCOMPARE(m_service.requests(FakeWebService::slidesPath).size(), 2);
        QCOMPARE(stream.slideInfoWebSuccessCount(), qint64(1));
    }

    void uploadErrorsReachTheStream()
    {
        FakeWebService::StreamAnswer wrong = m_answer;
        wrong.secretAccessKey = "not-the-secret";
        m_service.setAnswer(FakeWebService::streamsPath, 200, FakeWebService::streamAnswer(wrong));
        auto presentation = makePresentation();
        LiveStream stream(presentation.get(), false, QString());
        QSignalSpy errors(&stream, &LiveStream::slideUploadError);
        qint64 failedAtStop = 0;
        connect(&stream, &LiveStream::slidesUploadFailedChanged, this,
                [&stream, &failedAtStop] { failedAtStop = stream.slidesUploadFailed(); });
        start(stream);
        stream.uploadSlide(1, 1, makeSlide("wrong/1-1.png"));
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 3, 20000);
        QVERIFY(errors.at(0).at(0).toString().startsWith(
            "Uploading slide 1-1.png failed (SignatureDoesNotMatch: "));
        // Still waiting for a better moment while the stream runs.
        QCOMPARE(stream.slidesUploadFailed(), qint64(0));
        QCOMPARE(stream.slidesToUpload(), qint64(1));
        stop(stream);
        QCOMPARE(failedAtStop, qint64(1));
        QCOMPARE(errors.constLast().at(0).toString(),
                 QStringLiteral("1 slides were not uploaded."));
        QCOMPARE(stream.slideInfoWebSuccessCount(), qint64(0));
    }

    void stopDrainsTheUploads()
    {
        auto presentation = makePresentation();
        LiveStream stream(presentation.get(), false, QString());
        start(stream);
        for (int i = 1; i <= 3; ++i)
            stream.uploadSlide(1, i, makeSlide(QStringLiteral("drain/1-%1.png").arg(i)));
        stop(stream);
        for (int i = 1; i <= 3; ++i)
            QVERIFY(
                !m_s3.object(m_answer.bucket, m_answer.prefix + QStringLiteral("1-%1.png").arg(i))
                     .isEmpty());
    }

    void destroyingAStreamThatWasNotStoppedEndsItsUploader()
    {
        auto presentation = makePresentation();
        auto stream = std::make_unique<LiveStream>(presentation.get(), false, QString());
        start(*stream);
        for (int i = 1; i <= 3; ++i)
            stream->uploadSlide(1, i, makeSlide(QStringLiteral("abandoned/1-%1.png").arg(i)));
        stream.reset();
        // Whatever the uploader had queued is dropped with it; nothing arrives later.
        QTest::qWait(100);
    }

    // Runs last: searches every line logged by the whole run, including a login, a stream
    // creation and uploads, for the secrets that went through the program.
    void logNeverShowsSecrets()
    {
        const QString password = QStringLiteral("pw-never-logged-7731");
        QSignalSpy loggedIn(WebApi::instance(), &WebApi::loginSuccessful);
        WebApi::instance()->login("speaker@example.org", password);
        QVERIFY(loggedIn.wait(10000));

        auto presentation = makePresentation();
        LiveStream stream(presentation.get(), false, QString());
        start(stream);
        stream.uploadSlide(1, 1, makeSlide("secret/1-1.png"));
        QTRY_COMPARE_WITH_TIMEOUT(stream.slideInfoWebSuccessCount(), qint64(1), 10000);
        stop(stream);

        const QMutexLocker locker(&logMutex);
        QVERIFY(logLines.size() > 10);
        const QStringList secrets{
            password,       m_answer.secretAccessKey,       m_answer.sessionToken,
            m_answer.token, QStringLiteral("user-token-1"), QStringLiteral("not-the-secret")};
        for (const QString &line : std::as_const(logLines)) {
            for (const QString &secret : secrets)
                QVERIFY2(!line.contains(secret), qPrintable(line));
        }
    }
};

QTEST_GUILESS_MAIN(LiveStreamTest)
#include "tst_livestream.moc"
