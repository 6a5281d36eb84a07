#pragma once

#include "QmlFakeAudioInput.h"
#include "SlidesSourceInfo.h"

#include <QObject>

// The recorder settings as the QML screens see them, without the device polling and the store.
// Writes are stored as they come, so that a test sees whatever the screens wrote.
class QmlFakeRecorderSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<SlidesSourceInfo> availableSlideSources READ availableSlideSources NOTIFY
                   property_availableSlideSourcesChanged)
    Q_PROPERTY(bool useNativeSlideSourceResolution MEMBER useNativeSlideSourceResolution NOTIFY
                   property_useNativeSlideSourceResolutionChanged)
    Q_PROPERTY(int slideWidth MEMBER slideWidth NOTIFY property_slideWidthChanged)
    Q_PROPERTY(int slideHeight MEMBER slideHeight NOTIFY property_slideHeightChanged)
    Q_PROPERTY(bool pointerRecordingEnabled MEMBER pointerRecordingEnabled NOTIFY
                   property_pointerRecordingEnabledChanged)
    Q_PROPERTY(QList<QmlFakeAudioInput> availableAudioInputs READ availableAudioInputs NOTIFY
                   property_availableAudioInputsChanged)
    Q_PROPERTY(QmlFakeAudioInput selectedAudioInput MEMBER selectedAudioInput NOTIFY
                   property_selectedAudioInputChanged)
    Q_PROPERTY(
        int audioChannelCount MEMBER audioChannelCount NOTIFY property_audioChannelCountChanged)
    Q_PROPERTY(SlidesSourceInfo selectedSlideSource MEMBER selectedSlideSource NOTIFY
                   property_selectedSlideSourceChanged)

public:
    explicit QmlFakeRecorderSettings(QObject *parent = nullptr);

    [[nodiscard]] QList<SlidesSourceInfo> availableSlideSources() const { return slideSources; }
    [[nodiscard]] QList<QmlFakeAudioInput> availableAudioInputs() const { return audioInputs; }
    void setAvailableSlideSources(const QList<SlidesSourceInfo> &sources);
    void setAvailableAudioInputs(const QList<QmlFakeAudioInput> &inputs);

    QList<SlidesSourceInfo> slideSources;
    bool useNativeSlideSourceResolution = true;
    int slideWidth = 1920;
    int slideHeight = 1080;
    bool pointerRecordingEnabled = true;
    QList<QmlFakeAudioInput> audioInputs;
    QmlFakeAudioInput selectedAudioInput;
    int audioChannelCount = 1;
    SlidesSourceInfo selectedSlideSource;

Q_SIGNALS:
    void property_availableSlideSourcesChanged();
    void property_useNativeSlideSourceResolutionChanged();
    void property_slideWidthChanged();
    void property_slideHeightChanged();
    void property_pointerRecordingEnabledChanged();
    void property_availableAudioInputsChanged();
    void property_selectedAudioInputChanged();
    void property_audioChannelCountChanged();
    void property_selectedSlideSourceChanged();
};
