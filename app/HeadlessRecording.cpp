#include "HeadlessRecording.h"

#include "AudioInputInfo.h"
#include "Logging.h"
#include "LoginSettings.h"
#include "Presentation.h"
#include "Recorder.h"
#include "RecorderSettings.h"
#include "SlidesSourceInfo.h"
#include "TerminationSignals.h"
#include "WebApi.h"

#include <QCoreApplication>
#include <QDebug>

#include <cstdio>

namespace {

void printLine(FILE *stream, const QString &text)
{
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fflush(stream);
}

} // namespace

HeadlessRecording::HeadlessRecording(const CommandLineOptions &options, Recorder *recorder,
                                     QObject *parent)
    : QObject(parent), m_options(options), m_recorder(recorder)
{
    m_durationTimer.setSingleShot(true);
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_durationTimer, &QTimer::timeout, this, &HeadlessRecording::armDurationTimer);
}

HeadlessRecording::~HeadlessRecording() = default;

void HeadlessRecording::run()
{
    if (m_options.listSources) {
        listSources();
        finish(Success);
        return;
    }

    m_terminationSignals = TerminationSignals::create();
    if (m_terminationSignals) {
        connect(m_terminationSignals.get(), &TerminationSignals::terminationRequested, this,
                [this](int signalNumber) {
                    qInfo() << "[HeadlessRecording]"
                            << "termination signal" << signalNumber;
                    requestStop();
                });
    }

    applySourceChoices();
    authenticate();
}

void HeadlessRecording::listSources()
{
    printLine(stdout, QStringLiteral("Slide sources:"));
    const QList<SlidesSourceInfo> sources = SlidesSourceInfo::availableSlideSources();
    for (const SlidesSourceInfo &source : sources) {
        printLine(stdout, QStringLiteral("  %1\t%2%3")
                              .arg(QString::fromUtf8(source.id()), source.name(),
                                   source.enabled() ? QString() : QStringLiteral(" (disabled)")));
    }
    printLine(stdout, QStringLiteral("Audio inputs:"));
    const QList<AudioInputInfo> inputs = AudioInputInfo::availableAudioInputs();
    for (const AudioInputInfo &input : inputs)
        printLine(stdout,
                  QStringLiteral("  %1\t%2").arg(QString::fromUtf8(input.id()), input.name()));
}

// The choices hold also for a source that is not (yet) present: the recorder's start waits for it
// a few seconds and then refuses with its name, instead of recording from another source.
void HeadlessRecording::applySourceChoices()
{
    RecorderSettings *settings = RecorderSettings::instance();
    if (!m_options.slideSourceId.isEmpty())
        settings->chooseSlideSource(m_options.slideSourceId.toUtf8());
    if (!m_options.audioInputId.isEmpty())
        settings->chooseAudioInput(m_options.audioInputId.toUtf8());
}

void HeadlessRecording::authenticate()
{
    // Read once and taken out of the environment, so that no child process inherits it.
    const bool hasPassword = qEnvironmentVariableIsSet("QUILLORA_PASSWORD");
    const QString password = qEnvironmentVariable("QUILLORA_PASSWORD");
    qunsetenv("QUILLORA_PASSWORD");
    if (!m_options.live) {
        startRecording();
        return;
    }
    if (m_options.email.isEmpty()) {
        if (LoginSettings::instance()->liveStreamToken().isEmpty()) {
            fail(QStringLiteral("no stored live stream token: log in with --email ADDRESS and "
                                "the password in QUILLORA_PASSWORD"));
            return;
        }
        startRecording();
        return;
    }
    if (!hasPassword) {
        fail(QStringLiteral("--email needs the password in the environment variable "
                            "QUILLORA_PASSWORD"));
        return;
    }
    WebApi *webApi = WebApi::instance();
    connect(webApi, &WebApi::loginSuccessful, this, &HeadlessRecording::startRecording,
            Qt::SingleShotConnection);
    connect(
        webApi, &WebApi::loginFailed, this,
        [this, webApi] {
            const QString reason = webApi->loginError();
            fail(reason.isEmpty() ? QStringLiteral("login failed")
                                  : QStringLiteral("login failed: %1").arg(reason));
        },
        Qt::SingleShotConnection);
    webApi->login(m_options.email, password);
}

void HeadlessRecording::startRecording()
{
    if (m_finishing)
        return;
    connect(m_recorder, &Recorder::presentationCreated, this, [](Presentation *presentation) {
        printLine(stdout, presentation->dir().absolutePath());
    });
    connect(m_recorder, &Recorder::started, this, &HeadlessRecording::onStarted);
    connect(m_recorder, &Recorder::stopped, this, &HeadlessRecording::onStopped);
    connect(m_recorder, &Recorder::liveStreamStartFailed, this,
            [this](const QString &message) { m_liveStreamStartFailure = message; });
    connect(m_recorder, &Recorder::startFailed, this,
            [this](const QString &message) { m_failure = message; });
    connect(m_recorder, &Recorder::recordingFailed, this,
            [this](const QString &message) { m_failure = message; });
    connect(m_recorder, &Recorder::endedWithMissingDevices, this,
            [this](const QString &message) { m_missingDevices = message; });
    // Unattended recordings are watched on standard error: every problem shows there at once.
    connect(m_recorder, &Recorder::recordingError, this, [](const QString &message) {
        qDebug() << "[HeadlessRecording]"
                 << "recording error:" << message;
        printLine(stderr, QStringLiteral("QuilloraRecorder: %1").arg(message));
    });

    m_recorder->requestStart(m_options.live, m_options.connectExisting, m_options.presentationId);
}

void HeadlessRecording::onStarted()
{
    m_started = true;
    qInfo() << "[HeadlessRecording]"
            << "recording started";
    if (m_options.durationSeconds > 0) {
        m_durationDeadline = QDeadlineTimer(m_options.durationSeconds * 1000, Qt::PreciseTimer);
        armDurationTimer();
    }
}

void HeadlessRecording::armDurationTimer()
{
    constexpr qint64 stepMs = 3600 * 1000;
    const qint64 remainingMs = m_durationDeadline.remainingTime();
    if (remainingMs == 0) {
        requestStop();
        return;
    }
    m_durationTimer.start(int(qMin(remainingMs, stepMs)));
}

void HeadlessRecording::requestStop()
{
    if (m_recorder->state() == Recorder::Stopped) {
        if (!m_started)
            fail(QStringLiteral("interrupted before the recording started"));
        return;
    }
    m_recorder->requestStop();
}

void HeadlessRecording::onStopped()
{
    // liveStreamStartFailed follows stopped(): look at the outcome once both have arrived.
    QTimer::singleShot(0, this, [this] {
        if (!m_liveStreamStartFailure.isEmpty()) {
            fail(QStringLiteral("the live stream could not be started: %1")
                     .arg(m_liveStreamStartFailure));
        } else if (!m_failure.isEmpty()) {
            fail(m_failure);
        } else if (!m_started) {
            fail(QStringLiteral("interrupted before the recording started"));
        } else {
            qInfo() << "[HeadlessRecording]"
                    << "recording finished";
            // Still a recording worth keeping, but whoever reads the output must know.
            if (!m_missingDevices.isEmpty()) {
                Logging::instance()->setConsole(nullptr);
                printLine(stderr, QStringLiteral("QuilloraRecorder: %1").arg(m_missingDevices));
            }
            finish(Success);
        }
    });
}

void HeadlessRecording::fail(const QString &reason)
{
    if (m_finishing)
        return;
    qWarning() << "[HeadlessRecording]" << reason;
    // The reason is the last line on standard error: the log goes on only into its file.
    Logging::instance()->setConsole(nullptr);
    printLine(stderr, QStringLiteral("QuilloraRecorder: %1").arg(reason));
    finish(CannotStart);
}

void HeadlessRecording::finish(int status)
{
    if (m_finishing)
        return;
    m_finishing = true;
    m_durationTimer.stop();
    // The sound server's client library needs a moment after the audio input stopped before the
    // process may end.
    QTimer::singleShot(200, QCoreApplication::instance(),
                       [status] { QCoreApplication::exit(status); });
}
