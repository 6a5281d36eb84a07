#pragma once

#include "AudioInputInfo.h"
#include "SlidesSourceInfo.h"

#include <QList>
#include <QObject>
#include <QTimer>

// The choices that shape a recording, persisted under "recorderSettings/...". The lists of
// available slide sources and audio inputs follow the devices present through a poll every second.
// A chosen source or input is remembered by its identifier: while it is absent (an NDI stream not
// yet discovered, a capture card unplugged for a moment) the choice is kept and shown as
// unavailable, and it is used again as soon as it appears. Only the user's pick replaces it.
class RecorderSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<SlidesSourceInfo> availableSlideSources READ availableSlideSources NOTIFY
                   property_availableSlideSourcesChanged)
    Q_PROPERTY(
        bool useNativeSlideSourceResolution READ useNativeSlideSourceResolution WRITE
            setUseNativeSlideSourceResolution NOTIFY property_useNativeSlideSourceResolutionChanged)
    Q_PROPERTY(int slideWidth READ slideWidth WRITE setSlideWidth NOTIFY property_slideWidthChanged)
    Q_PROPERTY(
        int slideHeight READ slideHeight WRITE setSlideHeight NOTIFY property_slideHeightChanged)
    Q_PROPERTY(bool pointerRecordingEnabled READ pointerRecordingEnabled WRITE
                   setPointerRecordingEnabled NOTIFY property_pointerRecordingEnabledChanged)
    Q_PROPERTY(QList<AudioInputInfo> availableAudioInputs READ availableAudioInputs NOTIFY
                   property_availableAudioInputsChanged)
    Q_PROPERTY(AudioInputInfo selectedAudioInput READ selectedAudioInput WRITE setSelectedAudioInput
                   NOTIFY property_selectedAudioInputChanged)
    Q_PROPERTY(int audioChannelCount READ audioChannelCount WRITE setAudioChannelCount NOTIFY
                   property_audioChannelCountChanged)
    Q_PROPERTY(SlidesSourceInfo selectedSlideSource READ selectedSlideSource WRITE
                   setSelectedSlideSource NOTIFY property_selectedSlideSourceChanged)
    Q_PROPERTY(bool selectedSlideSourceAvailable READ selectedSlideSourceAvailable NOTIFY
                   property_selectedSlideSourceAvailableChanged)
    Q_PROPERTY(bool selectedAudioInputAvailable READ selectedAudioInputAvailable NOTIFY
                   property_selectedAudioInputAvailableChanged)

public:
    static RecorderSettings *instance();

    void load();
    // Whether the devices have been polled once since load().
    [[nodiscard]] bool devicesLoaded() const { return m_slideSourcesLoaded && m_audioInputsLoaded; }
    void loadBasicSettings();

    // Choose by identifier, as the command line does; the choice holds also while the source or
    // input is absent.
    void chooseSlideSource(const QByteArray &id);
    void chooseAudioInput(const QByteArray &id);
    [[nodiscard]] QByteArray chosenSlideSourceId() const { return m_chosenSlideSourceId; }
    [[nodiscard]] QByteArray chosenAudioInputId() const { return m_chosenAudioInputId; }
    // The chosen slide source is present and enabled.
    [[nodiscard]] bool selectedSlideSourceAvailable() const;
    // The chosen audio input is present, or none was ever chosen and none exists: a recording
    // without audio input is allowed only then.
    [[nodiscard]] bool selectedAudioInputAvailable() const;
    // For messages: the chosen source's name when it was ever seen, else its identifier.
    [[nodiscard]] QString chosenSlideSourceName() const;
    [[nodiscard]] QString chosenAudioInputName() const;

    [[nodiscard]] QList<SlidesSourceInfo> availableSlideSources() const
    {
        return m_availableSlideSources;
    }
    [[nodiscard]] bool useNativeSlideSourceResolution() const
    {
        return m_useNativeSlideSourceResolution;
    }
    [[nodiscard]] int slideWidth() const { return m_slideWidth; }
    [[nodiscard]] int slideHeight() const { return m_slideHeight; }
    [[nodiscard]] bool pointerRecordingEnabled() const { return m_pointerRecordingEnabled; }
    [[nodiscard]] QList<AudioInputInfo> availableAudioInputs() const
    {
        return m_availableAudioInputs;
    }
    [[nodiscard]] AudioInputInfo selectedAudioInput() const { return m_selectedAudioInput; }
    [[nodiscard]] int audioChannelCount() const { return m_audioChannelCount; }
    [[nodiscard]] SlidesSourceInfo selectedSlideSource() const { return m_selectedSlideSource; }

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
    void property_selectedSlideSourceAvailableChanged();
    void property_selectedAudioInputAvailableChanged();

public Q_SLOTS:
    void setUseNativeSlideSourceResolution(bool newVal);
    void setSlideWidth(int newVal);
    void setSlideHeight(int newVal);
    void setPointerRecordingEnabled(bool newVal);
    void setSelectedAudioInput(AudioInputInfo newVal);
    void setAudioChannelCount(int newVal);
    void setSelectedSlideSource(SlidesSourceInfo newVal);

private Q_SLOTS:
    void refreshAvailableSlideSources();
    void refreshAvailableAudioInputs();
    void scheduleSave();
    void save();

private:
    RecorderSettings();
    void applySlideSourceChoice();
    void applyAudioInputChoice();

    QList<SlidesSourceInfo> m_availableSlideSources;
    bool m_useNativeSlideSourceResolution = false;
    int m_slideWidth = 0;
    int m_slideHeight = 0;
    bool m_pointerRecordingEnabled = false;
    QList<AudioInputInfo> m_availableAudioInputs;
    AudioInputInfo m_selectedAudioInput;
    int m_audioChannelCount = 0;
    SlidesSourceInfo m_selectedSlideSource;
    QTimer m_saveTimer;
    QTimer m_refreshTimer;
    bool m_slideSourcesLoaded = false;
    bool m_audioInputsLoaded = false;
    QByteArray m_chosenSlideSourceId;
    QByteArray m_chosenAudioInputId;
    bool m_slideSourceAvailable = false;
    bool m_audioInputAvailable = false;
};
