#include "Recorder.h"

#include "LiveStreamSettings.h"
#include "PlayerPageWriter.h"
#include "Presentation.h"
#include "RecorderSettings.h"
#include "StatusPingData.h"
#include "WebApi.h"
#include "WebApiReply.h"

#include <QCoreApplication>
#include <QDebug>
#include <QRandomGenerator64>

Recorder::Recorder(QObject *parent) : QObject(parent)
{
    m_pingTimer.setSingleShot(true);
    m_pingTimer.setInterval(5000);
    // The web service expects the next ping 4 to 5 s after the last answer; a coarse timer may
    // fire a few milliseconds early.
    m_pingTimer.setTimerType(Qt::PreciseTimer);

    m_sourceWaitTimer.setSingleShot(true);
    connect(&m_sourceWaitTimer, &QTimer::timeout, this, &Recorder::waitForSources);
    m_startTimeout.setSingleShot(true);
    m_startTimeout.setTimerType(Qt::PreciseTimer);
    m_startTimeout.setInterval(startTimeoutMs);
    connect(&m_startTimeout, &QTimer::timeout, this, &Recorder::startTimedOut);

    connect(this, &Recorder::recordingError, this,
            [this](const QString &message) { m_recordingErrors.add(message); });
    connect(&m_diskSpaceGuard, &DiskSpaceGuard::lowSpace, this, &Recorder::recordingError);
    connect(&m_diskSpaceGuard, &DiskSpaceGuard::almostFull, this, &Recorder::failRecording);
    // A file that cannot be written ends the recording: going on would lose more than it keeps.
    connect(&m_slideRecorder, &SlideRecorder::writeFailed, this, &Recorder::failRecording);
    connect(&m_audioRecorder, &AudioRecorder::writeFailed, this, &Recorder::failRecording);
    connect(&m_mouseRecorder, &MouseRecorder::writeFailed, this, &Recorder::failRecording);
    connect(&m_screenGeometryRecorder, &ScreenGeometryRecorder::writeFailed, this,
            &Recorder::failRecording);
    connect(&m_audioRecorder, &AudioRecorder::startFailed, this, &Recorder::failStart);
    connect(&m_audioRecorder, &AudioRecorder::deviceLost, this, &Recorder::onDeviceLost);
    connect(&m_audioRecorder, &AudioRecorder::deviceReturned, this, &Recorder::onDeviceReturned);
    connect(&m_slideRecorder, &SlideRecorder::deviceLost, this, &Recorder::onDeviceLost);
    connect(&m_slideRecorder, &SlideRecorder::deviceReturned, this, &Recorder::onDeviceReturned);
    connect(&m_slideRecorder, &SlideRecorder::firstPictureCaptured, this, &Recorder::checkStart);
    connect(&m_pingTimer, &QTimer::timeout, this, &Recorder::sendWebApiPingData);
    connect(&m_slideRecorder, &SlideRecorder::started, this, &Recorder::slideRecorderStarted);
    connect(&m_slideRecorder, &SlideRecorder::stopped, this, &Recorder::slideRecorderStopped);
    connect(&m_slideRecorder, &SlideRecorder::slidesCapturedSignal, this,
            &Recorder::slidesCapturedSignal);
    connect(&m_slideRecorder, &SlideRecorder::liveStreamStartFailed, this,
            [this](const QString &message) {
                m_liveStreamFailed = true;
                Q_EMIT liveStreamStartFailed(message);
            });
    connect(&m_slideRecorder, &SlideRecorder::recordingError, this, &Recorder::recordingError);
    connect(&m_slideRecorder, &SlideRecorder::slidesFrozenChanged, this,
            &Recorder::slidesFrozenChanged);
    connect(&m_slideRecorder, &SlideRecorder::slidesResolutionsChanged, this,
            &Recorder::slidesResolutionsChanged);
    connect(&m_slideRecorder, &SlideRecorder::slidesCapturedChanged, this,
            &Recorder::slidesCapturedChanged);
    connect(&m_slideRecorder, &SlideRecorder::slidesSavedChanged, this,
            &Recorder::slidesSavedChanged);
    connect(&m_slideRecorder, &SlideRecorder::slidesToUploadChanged, this,
            &Recorder::slidesToUploadChanged);
    connect(&m_slideRecorder, &SlideRecorder::slidesUploadedChanged, this,
            &Recorder::slidesUploadedChanged);
    connect(&m_slideRecorder, &SlideRecorder::slidesUploadFailedChanged, this,
            &Recorder::slidesUploadFailedChanged);
    connect(&m_slideRecorder, &SlideRecorder::slideInfoWebSuccessCountChanged, this,
            &Recorder::slideInfoWebSuccessCountChanged);
    connect(&m_slideRecorder, &SlideRecorder::slideInfoWebFailCountChanged, this,
            &Recorder::slideInfoWebFailCountChanged);
    connect(&m_slideRecorder, &SlideRecorder::lastSlideInfoWebSuccessChanged, this,
            &Recorder::lastSlideInfoWebSuccessChanged);
    connect(&m_slideRecorder, &SlideRecorder::lastSlideInfoWebErrorChanged, this,
            &Recorder::lastSlideInfoWebErrorChanged);
    connect(&m_slideRecorder, &SlideRecorder::lastSlideInfoWebErrorStringChanged, this,
            &Recorder::lastSlideInfoWebErrorStringChanged);
    connect(&m_audioRecorder, &AudioRecorder::started, this, &Recorder::audioRecorderStarted);
    connect(&m_audioRecorder, &AudioRecorder::stopped, this, &Recorder::audioRecorderStopped);
    connect(&m_mouseRecorder, &MouseRecorder::mousePositionChanged, this,
            [this](qint64, qint64, qint64) { Q_EMIT mousePositionChanged(); });
    connect(&m_mouseRecorder, &MouseRecorder::stopped, this, &Recorder::mouseRecorderStopped);
    connect(&m_screenGeometryRecorder, &ScreenGeometryRecorder::stopped, this,
            &Recorder::screenGeometryRecorderStopped);
    connect(&m_vMixApiPoller, &VMixApiPoller::pollingError, this, &Recorder::recordingError);
}

Recorder::~Recorder() = default;

void Recorder::setState(State newVal)
{
    if (m_state == newVal)
        return;
    m_state = newVal;
    Q_EMIT property_stateChanged(m_state);
}

void Recorder::requestStart(bool liveStream, bool connectToExistingLiveStream,
                            QString livestreamPresentationId)
{
    if (m_state != Stopped) {
        qWarning() << "[Recorder]"
                   << "start requested while a recording runs";
        return;
    }
    m_startRequest =
        StartRequest{liveStream, connectToExistingLiveStream, livestreamPresentationId};
    m_recordingErrors.clear();
    m_failure.clear();
    m_stopRequestedByUser = false;
    m_liveStreamFailed = false;
    m_outages.clear();
    setState(Starting);
    // Every outcome, also a failure, is reported later, never inside this call.
    m_startTimeout.start();
    // start(0) leaves the interval at 0: the later starts name theirs, or the wait would spin.
    m_sourceWaitTimer.start(0);
}

// A start right after the program came up may precede the first poll of the devices, and a
// network source may be listed only seconds later: the start waits for the chosen ones instead
// of failing or falling back to another source.
void Recorder::waitForSources()
{
    if (m_state != Starting || m_presentation)
        return;
    const RecorderSettings *settings = RecorderSettings::instance();
    const bool listed = settings->devicesLoaded();
    const bool slideSourcePresent = listed && settings->selectedSlideSourceAvailable();
    const bool audioInputPresent = listed && settings->selectedAudioInputAvailable();
    if (slideSourcePresent && audioInputPresent) {
        beginRecording();
        return;
    }
    m_sourceWaitTimer.start(sourcePollMs);
}

// Names the part that kept the recording from starting in time.
void Recorder::startTimedOut()
{
    if (m_state != Starting)
        return;
    if (m_presentation && m_presentation->isLiveStream() &&
        m_slideRecorder.state() == SlideRecorder::Starting) {
        // The web service is still creating the stream; its answer, or its time-out, decides.
        m_startTimeout.start();
        return;
    }
    const RecorderSettings *settings = RecorderSettings::instance();
    const QString slideSource = settings->chosenSlideSourceName();
    QString message;
    if (!m_presentation) {
        if (!settings->devicesLoaded())
            message = QStringLiteral("The slide sources and audio inputs could not be listed.");
        else if (!settings->selectedSlideSourceAvailable())
            message = QStringLiteral("The slide source \"%1\" is not available.").arg(slideSource);
        else
            message = QStringLiteral("The audio input \"%1\" is not available.")
                          .arg(settings->chosenAudioInputName());
    } else if (m_slideRecorder.state() != SlideRecorder::Started) {
        message = QStringLiteral("The slide source \"%1\" could not be opened.").arg(slideSource);
    } else if (!m_slideRecorder.sourceDelivers()) {
        message = QStringLiteral("The slide source \"%1\" delivers no pictures.").arg(slideSource);
    } else {
        message = QStringLiteral("The audio input \"%1\" did not start.")
                      .arg(settings->chosenAudioInputName());
    }
    failStart(message);
}

void Recorder::beginRecording()
{
    const QString workDir = QCoreApplication::instance()->property("workDir").toString();
    const qint64 available = DiskSpaceGuard::availableBytes(workDir);
    if (available >= 0 && available < DiskSpaceGuard::minimumSpaceBytes) {
        failStart(
            QStringLiteral("Cannot start the recording: the disk is almost full (%1 MB left).")
                .arg(available / DiskSpaceGuard::megabyte));
        return;
    }

    QString error;
    std::unique_ptr<Presentation> presentation(
        Presentation::create(m_startRequest.liveStream, m_startRequest.connectToExistingLiveStream,
                             m_startRequest.livestreamPresentationId, &error));
    if (!presentation) {
        failStart(error);
        return;
    }
    m_presentation = std::move(presentation);
    Q_EMIT presentationCreated(m_presentation.get());
    m_diskSpaceGuard.start(m_presentation->dir().absolutePath());

    const SlidesSourceInfo source = RecorderSettings::instance()->selectedSlideSource();
    const bool screenCapture = source.type() == SlidesSourceInfo::ScreenInterval;
    m_slideRecorder.requestStart(m_presentation.get());
    if (screenCapture)
        m_screenGeometryRecorder.requestStart(m_presentation.get());
    if (RecorderSettings::instance()->pointerRecordingEnabled() && screenCapture)
        m_mouseRecorder.requestStart(m_presentation.get());
}

void Recorder::failStart(const QString &message)
{
    if (m_failure.isEmpty())
        m_failure = message;
    requestStop();
}

void Recorder::failRecording(const QString &message)
{
    Q_EMIT recordingError(message);
    if (m_failure.isEmpty())
        m_failure = message;
    if (m_state == Starting || m_state == Started)
        requestStop();
}

void Recorder::slideRecorderStarted()
{
    // A stop requested meanwhile leaves the audio alone; stop() ends the slide recorder.
    if (m_state != Starting) {
        checkStop();
        return;
    }
    m_audioRecorder.requestStart(m_presentation.get());
}

void Recorder::audioRecorderStarted()
{
    qDebug() << "[Recorder]"
             << "audio started, clocks restarted";
    m_recordingClock.start();
    m_slideRecorder.restartSlideTimer();
    m_mouseRecorder.restartMouseTimer();
    m_screenGeometryRecorder.restartRecordingTimer();
    QTimer::singleShot(0, this, &Recorder::start);
}

void Recorder::start()
{
    if (m_state != Starting) {
        checkStop();
        return;
    }
    // Started once the audio runs and the slide source delivers; the later of the two reports
    // comes here again.
    if (m_audioRecorder.state() != AudioRecorder::Started || !m_slideRecorder.sourceDelivers())
        return;
    m_startTimeout.stop();
    m_recordingStart = QDateTime::currentDateTimeUtc();
    m_slideRecorder.releaseSlides();
    if (m_presentation && m_presentation->isLiveStream()) {
        LiveStreamSettings *settings = LiveStreamSettings::instance();
        if (settings->pollVMixApi())
            m_vMixApiPoller.start(settings->vMixApiEndpoint(), settings->vMixApiPollInterval());
        m_pingTimer.start(0);
    }
    setState(Started);
    Q_EMIT started();
}

void Recorder::checkStart()
{
    QTimer::singleShot(0, this, &Recorder::start);
}

void Recorder::requestStop()
{
    if (m_state == Stopped || m_state == Stopping)
        return;
    // A stop of our own for a fault has the reason in m_failure already.
    m_stopRequestedByUser = m_failure.isEmpty();
    m_sourceWaitTimer.stop();
    m_startTimeout.stop();
    m_diskSpaceGuard.stop();
    m_slideRecorder.requestStop();
    if (m_audioRecorder.state() != AudioRecorder::Stopped)
        m_audioRecorder.requestStop();
    if (m_screenGeometryRecorder.state() != ScreenGeometryRecorder::Stopped)
        m_screenGeometryRecorder.requestStop();
    if (m_mouseRecorder.state() != MouseRecorder::Stopped)
        m_mouseRecorder.requestStop();
    m_vMixApiPoller.stop();
    m_pingTimer.stop();
    if (m_presentation && m_presentation->isLiveStream())
        sendWebApiPingData();
    setState(Stopping);
    // Nothing may be running at all (a start that never got going): the check ends it then.
    checkStop();
}

void Recorder::slideRecorderStopped()
{
    checkStop();
}

void Recorder::audioRecorderStopped()
{
    checkStop();
}

void Recorder::mouseRecorderStopped()
{
    checkStop();
}

void Recorder::screenGeometryRecorderStopped()
{
    checkStop();
}

void Recorder::checkStop()
{
    QTimer::singleShot(0, this, &Recorder::stop);
}

void Recorder::stop()
{
    if (m_state == Stopped)
        return;

    // Sub-recorders that are running, or still in their start delay, are stopped now: a slide
    // recorder that gave up early must not leave the mouse and screen recorders running.
    if (m_slideRecorder.state() == SlideRecorder::Started ||
        m_slideRecorder.state() == SlideRecorder::Starting)
        m_slideRecorder.requestStop();
    if (m_audioRecorder.state() == AudioRecorder::Started ||
        m_audioRecorder.state() == AudioRecorder::Starting)
        m_audioRecorder.requestStop();
    if (m_mouseRecorder.state() == MouseRecorder::Started ||
        m_mouseRecorder.state() == MouseRecorder::Starting)
        m_mouseRecorder.requestStop();
    if (m_screenGeometryRecorder.state() == ScreenGeometryRecorder::Started ||
        m_screenGeometryRecorder.state() == ScreenGeometryRecorder::Starting)
        m_screenGeometryRecorder.requestStop();

    if (m_slideRecorder.state() != SlideRecorder::Stopped ||
        m_audioRecorder.state() != AudioRecorder::Stopped ||
        m_mouseRecorder.state() != MouseRecorder::Stopped ||
        m_screenGeometryRecorder.state() != ScreenGeometryRecorder::Stopped)
        return;

    finishStop();
}

void Recorder::finishStop()
{
    m_vMixApiPoller.stop();
    m_pingTimer.stop();
    m_diskSpaceGuard.stop();

    // Started means the clocks ran: the presentation holds a recording. A start that never got
    // there leaves no directory behind, and always says why.
    const bool recorded = m_recordingStart.isValid();
    QString failure = m_failure;
    if (!recorded && failure.isEmpty() && !m_liveStreamFailed && !m_stopRequestedByUser) {
        failure = QStringLiteral("The slide source \"%1\" could not be opened.")
                      .arg(RecorderSettings::instance()->selectedSlideSource().name());
    }
    if (recorded && m_presentation)
        PlayerPageWriter::writeForRecording(m_presentation->dir());
    const QString missing =
        recorded && failure.isEmpty() ? m_outages.summary(recordingMs()) : QString();
    const bool hadMissingDevices = !m_outages.missing().isEmpty();
    m_outages.clear();
    m_recordingClock.invalidate();
    if (!recorded && m_presentation) {
        QDir directory = m_presentation->dir();
        m_presentation.reset();
        qDebug() << "[Recorder]"
                 << "removing the directory of a start that failed" << directory.absolutePath();
        directory.removeRecursively();
    }
    m_presentation.reset();
    m_recordingStart = QDateTime();
    m_recordingErrors.clear();
    m_failure.clear();
    setState(Stopped);
    if (!recorded && !failure.isEmpty()) {
        qWarning() << "[Recorder]"
                   << "start failed:" << failure;
        Q_EMIT startFailed(failure);
    } else if (recorded && !failure.isEmpty()) {
        qWarning() << "[Recorder]"
                   << "recording failed:" << failure;
        Q_EMIT recordingFailed(failure);
    } else if (!missing.isEmpty()) {
        qInfo().noquote() << "[Recorder]" << missing;
        Q_EMIT endedWithMissingDevices(missing);
    }
    if (hadMissingDevices)
        Q_EMIT missingDevicesChanged();
    Q_EMIT stopped();
}

qint64 Recorder::recordingMs() const
{
    return m_recordingClock.isValid() ? m_recordingClock.elapsed() : 0;
}

void Recorder::onDeviceLost(const QString &device)
{
    if (!m_outages.lost(device, recordingMs()))
        return;
    Q_EMIT recordingError(DeviceOutages::lostMessage(device));
    Q_EMIT missingDevicesChanged();
}

void Recorder::onDeviceReturned(const QString &device)
{
    if (!m_outages.returned(device))
        return;
    Q_EMIT recordingError(DeviceOutages::returnedMessage(device));
    Q_EMIT missingDevicesChanged();
}

void Recorder::freezeSlides()
{
    m_slideRecorder.freezeSlides();
}

void Recorder::captureSlide()
{
    m_slideRecorder.captureSlide();
}

void Recorder::restartPingTimer()
{
    if (m_state != Started)
        return;
    m_pingTimer.start(4000 + int(QRandomGenerator64::global()->bounded(1000)));
}

void Recorder::sendWebApiPingData()
{
    if (!m_presentation)
        return;

    const QStringList errors = m_recordingErrors.messages();
    const WebApi::RecordingAppPingData recordingApp = StatusPingData::recordingApp(
        m_slideRecorder, m_recordingStart,
        errors.mid(qMax<qsizetype>(0, errors.size() - maxPingErrorMessages)));
    const WebApi::VMixPingData vmix = StatusPingData::vmix(m_vMixApiPoller);

    WebApiReply *reply = WebApi::instance()->sendPingData(
        m_presentation->livestreamPresentationId(),
        m_slideRecorder.liveStreamPresentationStreamVersion(),
        m_slideRecorder.liveStreamPresentationStreamStart(), recordingApp, vmix);
    connect(reply, &WebApiReply::finished, &m_pingTimer, [this] { restartPingTimer(); });
    connect(reply, &WebApiReply::error, &m_pingTimer,
            [this, reply](QNetworkReply::NetworkError code) {
                if (m_state == Started) {
                    Q_EMIT recordingError(QStringLiteral("Sending ping failed: %1 (%2).")
                                              .arg(int(code))
                                              .arg(reply->errorString()));
                }
                restartPingTimer();
            });
}
