#include "StatusPingData.h"

#include "ApplicationIdentity.h"
#include "LiveStreamSettings.h"
#include "RecorderSettings.h"
#include "SlideRecorder.h"
#include "VMixApiPoller.h"

#include <QVariantMap>

WebApi::RecordingAppPingData StatusPingData::recordingApp(const SlideRecorder &slides,
                                                          const QDateTime &startedAt,
                                                          const QStringList &errorMessages)
{
    const RecorderSettings *recorderSettings = RecorderSettings::instance();

    WebApi::RecordingAppPingData recordingApp;
    recordingApp.name = QStringLiteral("Quillora Recorder");
    recordingApp.version = QString::fromLatin1(ApplicationIdentity::applicationVersion);
    recordingApp.startedAt = startedAt;
    recordingApp.errorMessages = errorMessages;
    recordingApp.slidesSource = recorderSettings->selectedSlideSource().name();
    recordingApp.useNativeSlideSourceResolution =
        recorderSettings->useNativeSlideSourceResolution();
    recordingApp.slidesSourceWidth = recorderSettings->slideWidth();
    recordingApp.slidesSourceHeight = recorderSettings->slideHeight();
    recordingApp.audioSource = recorderSettings->selectedAudioInput().name();
    recordingApp.audioChannels = recorderSettings->audioChannelCount();
    recordingApp.slidesFrozen = slides.slidesFrozen();
    const QVariantList resolutions = slides.slidesResolutions();
    for (const QVariant &resolution : resolutions) {
        const QVariantMap map = resolution.toMap();
        recordingApp.resolutions.append(QStringLiteral("%1x%2")
                                            .arg(map.value(QStringLiteral("width")).toInt())
                                            .arg(map.value(QStringLiteral("height")).toInt()));
    }
    recordingApp.capturedCount = int(slides.slidesCaptured());
    recordingApp.savedCount = int(slides.slidesSaved());
    recordingApp.toUploadCount = int(slides.slidesToUpload());
    recordingApp.uploadedCount = int(slides.slidesUploaded());
    recordingApp.uploadFailedCount = int(slides.slidesUploadFailed());
    recordingApp.webSuccessCount = int(slides.slideInfoWebSuccessCount());
    recordingApp.webFailedCount = int(slides.slideInfoWebFailCount());
    recordingApp.webSuccessForLastSlide = slides.lastSlideInfoWebSuccess();
    if (slides.lastSlideInfoWebError() != QNetworkReply::NoError) {
        recordingApp.webErrorForLastSlide = QStringLiteral("%1 (%2)")
                                                .arg(int(slides.lastSlideInfoWebError()))
                                                .arg(slides.lastSlideInfoWebErrorString());
    }
    return recordingApp;
}

WebApi::VMixPingData StatusPingData::vmix(const VMixApiPoller &poller)
{
    const LiveStreamSettings *liveStreamSettings = LiveStreamSettings::instance();
    WebApi::VMixPingData vmix;
    vmix.pollingEnabled = liveStreamSettings->pollVMixApi();
    vmix.pollingEndpoint = liveStreamSettings->vMixApiEndpoint();
    vmix.pollingInterval = int(liveStreamSettings->vMixApiPollInterval());
    vmix.lastPollAt = poller.lastPollAt();
    vmix.lastPollSuccessAt = poller.lastPollSuccessAt();
    vmix.pollingLastError = poller.lastError();
    vmix.xml = poller.xml();
    return vmix;
}
