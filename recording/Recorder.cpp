#include "Recorder.h"

#include "ApplicationIdentity.h"
#include "LiveStreamSettings.h"
#include "Presentation.h"
#include "RecorderSettings.h"
#include "WebApi.h"
#include "WebApiReply.h"

#include <QDebug>
#include <QRandomGenerator64>

Recorder::Recorder(QObject *parent) : QObject(parent)
{
    m_pingTimer.setSingleShot(true);
    m_pingTimer.setInterval(5000);

    connect(this, &Recorder::recordingError, this,
            [this](const QString &message) { m_recordingErrors.append(message); });
    connect(&m_pingTimer, &QTimer::timeout, this, &Recorder::sendWebApiPingData);
    connect(&m_slideRecorder, &SlideRecorder::started, this, &Recorder::slideRecorderStarted);
    connect(&m_slideRecorder, &SlideRecorder::stopped, this, &Recorder::slideRecorderStopped);
    connect(&m_slideRecorder, &SlideRecorder::slidesCapturedSignal, this,
            &Recorder::slidesCapturedSignal);
    connect(&m_slideRecorder, &SlideRecorder::liveStreamStartFailed, this,
            &Recorder::liveStreamStartFailed);
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
    std::unique_ptr<Presentation> presentation(
        Presentation::create(liveStream, connectToExistingLiveStream, livestreamPresentationId));
    if (!presentation)
        return;
    m_presentation = std::move(presentation);
    Q_EMIT presentationCreated(m_presentation.get());

    const SlidesSourceInfo source = RecorderSettings::instance()->selectedSlideSource();
    const bool screenCapture = source.type() == SlidesSourceInfo::ScreenInterval;
    m_slideRecorder.requestStart(m_presentation.get());
    if (screenCapture)
        m_screenGeometryRecorder.requestStart(m_presentation.get());
    if (RecorderSettings::instance()->pointerRecordingEnabled() && screenCapture)
        m_mouseRecorder.requestStart(m_presentation.get());
    setState(Starting);
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
    m_recordingStart = QDateTime::currentDateTimeUtc();
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
    if (m_state == Stopped)
        return;
    m_slideRecorder.requestStop();
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

    // While starting, stop() only runs for a sub-recorder that gave up (no slide source, failed
    // live stream): the recording ends then as well.
    m_vMixApiPoller.stop();
    m_pingTimer.stop();
    m_presentation.reset();
    m_recordingStart = QDateTime();
    m_recordingErrors.clear();
    setState(Stopped);
    Q_EMIT stopped();
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

    const RecorderSettings *recorderSettings = RecorderSettings::instance();
    const LiveStreamSettings *liveStreamSettings = LiveStreamSettings::instance();

    WebApi::RecordingAppPingData recordingApp;
    recordingApp.name = QStringLiteral("Quillora Recorder");
    recordingApp.version = QString::fromLatin1(ApplicationIdentity::applicationVersion);
    recordingApp.startedAt = m_recordingStart;
    recordingApp.errorMessages =
        m_recordingErrors.mid(qMax<qsizetype>(0, m_recordingErrors.size() - maxPingErrorMessages));
    recordingApp.slidesSource = recorderSettings->selectedSlideSource().name();
    recordingApp.useNativeSlideSourceResolution =
        recorderSettings->useNativeSlideSourceResolution();
    recordingApp.slidesSourceWidth = recorderSettings->slideWidth();
    recordingApp.slidesSourceHeight = recorderSettings->slideHeight();
    recordingApp.audioSource = recorderSettings->selectedAudioInput().name();
    recordingApp.audioChannels = recorderSettings->audioChannelCount();
    recordingApp.slidesFrozen = m_slideRecorder.slidesFrozen();
    const QVariantList resolutions = m_slideRecorder.slidesResolutions();
    for (const QVariant &resolution : resolutions) {
        const QVariantMap map = resolution.toMap();
        recordingApp.resolutions.append(QStringLiteral("%1x%2")
                                            .arg(map.value(QStringLiteral("width")).toInt())
                                            .arg(map.value(QStringLiteral("height")).toInt()));
    }
    recordingApp.capturedCount = int(m_slideRecorder.slidesCaptured());
    recordingApp.savedCount = int(m_slideRecorder.slidesSaved());
    recordingApp.toUploadCount = int(m_slideRecorder.slidesToUpload());
    recordingApp.uploadedCount = int(m_slideRecorder.slidesUploaded());
    recordingApp.uploadFailedCount = int(m_slideRecorder.slidesUploadFailed());
    recordingApp.webSuccessCount = int(m_slideRecorder.slideInfoWebSuccessCount());
    recordingApp.webFailedCount = int(m_slideRecorder.slideInfoWebFailCount());
    recordingApp.webSuccessForLastSlide = m_slideRecorder.lastSlideInfoWebSuccess();
    if (m_slideRecorder.lastSlideInfoWebError() != QNetworkReply::NoError) {
        recordingApp.webErrorForLastSlide = QStringLiteral("%1 (%2)")
                                                .arg(int(m_slideRecorder.lastSlideInfoWebError()))
                                                .arg(m_slideRecorder.lastSlideInfoWebErrorString());
    }

    WebApi::VMixPingData vmix;
    vmix.pollingEnabled = liveStreamSettings->pollVMixApi();
    vmix.pollingEndpoint = liveStreamSettings->vMixApiEndpoint();
    vmix.pollingInterval = int(liveStreamSettings->vMixApiPollInterval());
    vmix.lastPollAt = m_vMixApiPoller.lastPollAt();
    vmix.lastPollSuccessAt = m_vMixApiPoller.lastPollSuccessAt();
    vmix.pollingLastError = m_vMixApiPoller.lastError();
    vmix.xml = m_vMixApiPoller.xml();

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

QString Recorder::liveStreamPresentationId() const
{
    return m_slideRecorder.liveStreamPresentationId();
}

bool Recorder::isLiveStream() const
{
    return m_slideRecorder.isLiveStream();
}

QString Recorder::liveStreamPresentationTitle() const
{
    return m_slideRecorder.liveStreamPresentationTitle();
}

bool Recorder::slidesFrozen() const
{
    return m_slideRecorder.slidesFrozen();
}

QVariantList Recorder::slidesResolutions() const
{
    return m_slideRecorder.slidesResolutions();
}

qint64 Recorder::slidesCaptured() const
{
    return m_slideRecorder.slidesCaptured();
}

qint64 Recorder::slidesSaved() const
{
    return m_slideRecorder.slidesSaved();
}

qint64 Recorder::slidesToUpload() const
{
    return m_slideRecorder.slidesToUpload();
}

qint64 Recorder::slidesUploaded() const
{
    return m_slideRecorder.slidesUploaded();
}

qint64 Recorder::slidesUploadFailed() const
{
    return m_slideRecorder.slidesUploadFailed();
}

qint64 Recorder::slideInfoWebSuccessCount() const
{
    return m_slideRecorder.slideInfoWebSuccessCount();
}

qint64 Recorder::slideInfoWebFailCount() const
{
    return m_slideRecorder.slideInfoWebFailCount();
}

bool Recorder::lastSlideInfoWebSuccess() const
{
    return m_slideRecorder.lastSlideInfoWebSuccess();
}

QNetworkReply::NetworkError Recorder::lastSlideInfoWebError() const
{
    return m_slideRecorder.lastSlideInfoWebError();
}

QString Recorder::lastSlideInfoWebErrorString() const
{
    return m_slideRecorder.lastSlideInfoWebErrorString();
}

qint64 Recorder::mousePositionX() const
{
    return m_mouseRecorder.positionX();
}

qint64 Recorder::mousePositionY() const
{
    return m_mouseRecorder.positionY();
}
