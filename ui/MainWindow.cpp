#include "MainWindow.h"

#include "ApplicationIdentity.h"
#include "ImageItem.h"
#include "SlideSourcePreview.h"

#include "LiveStreamSettings.h"
#include "LoginSettings.h"
#include "NetworkSettings.h"
#include "RecorderSettings.h"
#include "WebApi.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QtQml>

namespace {

// The proxy sorts by the model's "title" role.
constexpr int titleRole = Qt::UserRole + 2;

} // namespace

MainWindow::MainWindow(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("Quillora Recorder"));

    m_recordingDurationTimer.setSingleShot(false);
    m_recordingDurationTimer.setInterval(100);

    m_sortedPresentations.setSourceModel(&m_presentationModel);
    m_sortedPresentations.setSortRole(titleRole);
    m_sortedPresentations.sort(0, Qt::DescendingOrder);

    qmlRegisterType<SlideSourcePreview>("Quillora", 1, 0, "SlideSourcePreview");
    qmlRegisterType<ImageItem>("Quillora", 1, 0, "ImageItem");
}

MainWindow::~MainWindow()
{
    // The window's items still refer to the presentation models and to this object; they go first.
    const QList<QObject *> roots = m_engine.rootObjects();
    qDeleteAll(roots);
}

void MainWindow::run()
{
    ContextObjects objects;
    objects.liveStreamSettings = LiveStreamSettings::instance();
    objects.loginSettings = LoginSettings::instance();
    objects.networkSettings = NetworkSettings::instance();
    objects.recorderSettings = RecorderSettings::instance();
    run(objects);
}

void MainWindow::run(const ContextObjects &objects)
{
    connect(&m_recordingDurationTimer, &QTimer::timeout, this,
            &MainWindow::updateRecordingDuration);

    QQmlContext *context = m_engine.rootContext();
    context->setContextProperty(QStringLiteral("liveStreamSettings"), objects.liveStreamSettings);
    context->setContextProperty(QStringLiteral("loginSettings"), objects.loginSettings);
    context->setContextProperty(QStringLiteral("networkSettings"), objects.networkSettings);
    context->setContextProperty(QStringLiteral("recorderSettings"), objects.recorderSettings);
    context->setContextProperty(QStringLiteral("mainWindow"), this);
    context->setContextProperty(QStringLiteral("presentationExport"), &m_presentationExport);
    context->setContextProperty(QStringLiteral("presentationModel"), objects.presentations
                                                                         ? objects.presentations
                                                                         : &m_sortedPresentations);

    m_engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    if (m_engine.rootObjects().isEmpty()) {
        QCoreApplication::exit(1);
        return;
    }
    for (QObject *root : m_engine.rootObjects())
        root->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A recording in progress is finished, not torn down: the window stays open until the
    // recording has stopped and the application quits.
    if (event->type() == QEvent::Close && (m_isRecording || m_isLoading)) {
        event->ignore();
        Q_EMIT closeRequested();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

SlideSourcePreview *MainWindow::findSlideSourcePreview() const
{
    for (QObject *root : m_engine.rootObjects()) {
        if (auto *preview =
                root->findChild<SlideSourcePreview *>(QStringLiteral("slideSourcePreview")))
            return preview;
    }
    return nullptr;
}

QString MainWindow::version() const
{
    return QString::fromLatin1(ApplicationIdentity::applicationVersion);
}

QString MainWindow::siteUrl()
{
    QString url = WebApi::siteUrl();
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

QString MainWindow::formatDuration(qint64 milliseconds)
{
    const qint64 seconds = milliseconds / 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg((seconds % 3600) / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(milliseconds % 1000, 3, 10, QLatin1Char('0'));
}

void MainWindow::setLoading(bool isLoading)
{
    if (m_isLoading == isLoading)
        return;
    m_isLoading = isLoading;
    Q_EMIT property_loadingChanged(m_isLoading);
}

void MainWindow::setRecording(bool isRecording)
{
    if (m_isRecording != isRecording) {
        m_isRecording = isRecording;
        Q_EMIT property_recordingChanged(m_isRecording);
        if (m_isRecording) {
            m_recordingElapsed.restart();
            updateRecordingDuration();
            m_recordingDurationTimer.start();
        } else {
            m_recordingDurationTimer.stop();
            if (SlideSourcePreview *preview = findSlideSourcePreview())
                preview->restart();
        }
    }
    // A start or stop report of the recorder ends whatever was being waited for.
    setLoading(false);
}

void MainWindow::loginFailed()
{
    Q_EMIT internal_loginFailed();
}

void MainWindow::loginSuccessful()
{
    Q_EMIT internal_loginSuccessful();
}

void MainWindow::showSlides(const QList<QImage> &slides)
{
    Q_EMIT internal_showSlides(slides);
}

void MainWindow::showLiveStreamStartFailed(const QString &message)
{
    Q_EMIT internal_showLiveStreamStartFailed(message);
}

void MainWindow::showStartFailed(const QString &message)
{
    setLoading(false);
    if (SlideSourcePreview *preview = findSlideSourcePreview())
        preview->restart();
    Q_EMIT errorMessage(message);
}

void MainWindow::setLiveStream(bool liveStream)
{
    if (m_isLiveStream == liveStream)
        return;
    m_isLiveStream = liveStream;
    Q_EMIT property_liveStreamChanged();
}

void MainWindow::setLiveStreamDetails(const QString &presentationId,
                                      const QString &presentationTitle)
{
    m_liveStreamPresentationId = presentationId;
    m_liveStreamPresentationTitle = presentationTitle;
    Q_EMIT property_liveStreamPresentationChanged();
}

void MainWindow::setSlidesFrozen(bool frozen)
{
    m_slidesFrozen = frozen;
    Q_EMIT slidesFrozenChanged();
}

void MainWindow::setMissingDevices(const QStringList &devices)
{
    if (m_missingDevices == devices)
        return;
    m_missingDevices = devices;
    Q_EMIT missingDevicesChanged();
}

void MainWindow::setSlidesResolutions(const QVariantList &slidesResolutions)
{
    m_slidesResolutions = slidesResolutions;
    Q_EMIT slidesResolutionsChanged();
}

void MainWindow::setSlidesCaptured(qint64 count)
{
    m_slidesCaptured = count;
    Q_EMIT slidesCapturedChanged();
}

void MainWindow::setSlidesSaved(qint64 count)
{
    m_slidesSaved = count;
    Q_EMIT slidesSavedChanged();
}

void MainWindow::setSlidesToUpload(qint64 count)
{
    m_slidesToUpload = count;
    Q_EMIT slidesToUploadChanged();
}

void MainWindow::setSlidesUploaded(qint64 count)
{
    m_slidesUploaded = count;
    Q_EMIT slidesUploadedChanged();
}

void MainWindow::setSlidesUploadFailed(qint64 count)
{
    m_slidesUploadFailed = count;
    Q_EMIT slidesUploadFailedChanged();
}

void MainWindow::setSlideInfoWebSuccessCount(qint64 count)
{
    m_slideInfoWebSuccessCount = count;
    Q_EMIT slideInfoWebSuccessCountChanged();
}

void MainWindow::setSlideInfoWebFailCount(qint64 count)
{
    m_slideInfoWebFailCount = count;
    Q_EMIT slideInfoWebFailCountChanged();
}

void MainWindow::setLastSlideInfoWebSuccess(bool success)
{
    m_lastSlideInfoWebSuccess = success;
    Q_EMIT lastSlideInfoWebSuccessChanged();
}

void MainWindow::setLastSlideInfoWebError(QNetworkReply::NetworkError error)
{
    m_lastSlideInfoWebError = error;
    Q_EMIT lastSlideInfoWebErrorChanged();
}

void MainWindow::setLastSlideInfoWebErrorString(const QString &errorString)
{
    m_lastSlideInfoWebErrorString = errorString;
    Q_EMIT lastSlideInfoWebErrorStringChanged();
}

void MainWindow::setMousePositionX(qint64 x)
{
    m_mousePositionX = x;
    Q_EMIT mousePositionXChanged();
}

void MainWindow::setMousePositionY(qint64 y)
{
    m_mousePositionY = y;
    Q_EMIT mousePositionYChanged();
}

void MainWindow::reloadPresentations()
{
    m_presentationModel.reload();
}

void MainWindow::qml_startLiveStream(bool connectToExistingLiveStream,
                                     const QString &livestreamPresentationId)
{
    setLoading(true);
    stopPreview();
    Q_EMIT startLiveStream(connectToExistingLiveStream, livestreamPresentationId.trimmed());
}

void MainWindow::qml_startRecording()
{
    setLoading(true);
    // The recording needs the capture device and the pointer hook the preview holds.
    stopPreview();
    Q_EMIT startRecording();
}

void MainWindow::qml_stopRecording()
{
    setLoading(true);
    Q_EMIT stopRecording();
}

void MainWindow::qml_freezeSlides()
{
    Q_EMIT freezeSlides();
}

void MainWindow::qml_captureSlide()
{
    Q_EMIT captureSlide();
}

void MainWindow::qml_login(const QString &email, const QString &password)
{
    Q_EMIT login(email, password);
}

void MainWindow::updateRecordingDuration()
{
    m_recordingDurationString = formatDuration(m_recordingElapsed.elapsed());
    Q_EMIT property_recordingDurationStringChanged(m_recordingDurationString);
}

void MainWindow::stopPreview()
{
    if (SlideSourcePreview *preview = findSlideSourcePreview())
        preview->stop();
}
