#include "RecorderSettings.h"

#include "SettingsFile.h"

#include <QDebug>
#include <QSettings>

namespace {

const QString keyUseNativeSlideSourceResolution =
    QStringLiteral("recorderSettings/useNativeSlideSourceResolution");
const QString keySlideWidth = QStringLiteral("recorderSettings/slideWidth");
const QString keySlideHeight = QStringLiteral("recorderSettings/slideHeight");
const QString keyPointerRecordingEnabled =
    QStringLiteral("recorderSettings/pointerRecordingEnabled");
const QString keyAudioChannelCount = QStringLiteral("recorderSettings/audioChannelCount");
const QString keySelectedSlideSource = QStringLiteral("recorderSettings/selectedSlideSource");
const QString keySelectedAudioInput = QStringLiteral("recorderSettings/selectedAudioInput");

// Same length and every new element has an equal old one: a reordering is no change.
template <typename T>
bool sameDevices(const QList<T> &current, const QList<T> &fresh, const T **firstNew = nullptr)
{
    for (const T &element : fresh) {
        if (!current.contains(element)) {
            if (firstNew)
                *firstNew = &element;
            return false;
        }
    }
    return current.size() == fresh.size();
}

} // namespace

RecorderSettings *RecorderSettings::instance()
{
    static RecorderSettings settings;
    return &settings;
}

RecorderSettings::RecorderSettings()
{
    qRegisterMetaType<SlidesSourceInfo>();
    qRegisterMetaType<QList<SlidesSourceInfo>>();
    qRegisterMetaType<AudioInputInfo>();
    qRegisterMetaType<QList<AudioInputInfo>>();

    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(0);
    connect(&m_saveTimer, &QTimer::timeout, this, &RecorderSettings::save);

    m_refreshTimer.setSingleShot(false);
    m_refreshTimer.setInterval(1000);
    connect(&m_refreshTimer, &QTimer::timeout, this,
            &RecorderSettings::refreshAvailableSlideSources);
    connect(&m_refreshTimer, &QTimer::timeout, this,
            &RecorderSettings::refreshAvailableAudioInputs);

    connect(this, &RecorderSettings::property_selectedSlideSourceChanged, this,
            &RecorderSettings::scheduleSave);
    connect(this, &RecorderSettings::property_useNativeSlideSourceResolutionChanged, this,
            &RecorderSettings::scheduleSave);
    connect(this, &RecorderSettings::property_slideWidthChanged, this,
            &RecorderSettings::scheduleSave);
    connect(this, &RecorderSettings::property_slideHeightChanged, this,
            &RecorderSettings::scheduleSave);
    connect(this, &RecorderSettings::property_pointerRecordingEnabledChanged, this,
            &RecorderSettings::scheduleSave);
    connect(this, &RecorderSettings::property_selectedAudioInputChanged, this,
            &RecorderSettings::scheduleSave);
    connect(this, &RecorderSettings::property_audioChannelCountChanged, this,
            &RecorderSettings::scheduleSave);
}

void RecorderSettings::load()
{
    loadBasicSettings();
    m_refreshTimer.start();
}

void RecorderSettings::loadBasicSettings()
{
    const QSettings settings;
    qDebug() << "[RecorderSettings] loadBasicSettings" << settings.fileName();
    setUseNativeSlideSourceResolution(
        settings.value(keyUseNativeSlideSourceResolution, true).toBool());
    setSlideWidth(settings.value(keySlideWidth, 1920).toInt());
    setSlideHeight(settings.value(keySlideHeight, 1080).toInt());
    setPointerRecordingEnabled(settings.value(keyPointerRecordingEnabled, true).toBool());
    setAudioChannelCount(settings.value(keyAudioChannelCount, 1).toInt());
}

void RecorderSettings::loadSelectedSlideSourceSettings()
{
    const QSettings settings;
    qDebug() << "[RecorderSettings] loadSelectedSlideSourceSettings" << settings.fileName();
    const QByteArray stored = settings.value(keySelectedSlideSource, QByteArray()).toByteArray();
    for (const SlidesSourceInfo &source : std::as_const(m_availableSlideSources)) {
        if (source.enabled() && source.id() == stored) {
            if (source != m_selectedSlideSource) {
                m_selectedSlideSource = source;
                Q_EMIT property_selectedSlideSourceChanged();
            }
            return;
        }
    }
    selectDefaultSlideSource();
}

void RecorderSettings::loadSelectedAudioInputSettings()
{
    const QSettings settings;
    qDebug() << "[RecorderSettings] loadSelectedAudioInputSettings" << settings.fileName();
    const QByteArray stored = settings.value(keySelectedAudioInput, QByteArray()).toByteArray();
    for (const AudioInputInfo &input : std::as_const(m_availableAudioInputs)) {
        if (input.id() == stored) {
            if (input != m_selectedAudioInput) {
                m_selectedAudioInput = input;
                Q_EMIT property_selectedAudioInputChanged();
            }
            return;
        }
    }
    selectDefaultAudioInput();
}

void RecorderSettings::setUseNativeSlideSourceResolution(bool newVal)
{
    if (newVal == m_useNativeSlideSourceResolution)
        return;
    m_useNativeSlideSourceResolution = newVal;
    Q_EMIT property_useNativeSlideSourceResolutionChanged();
}

void RecorderSettings::setSlideWidth(int newVal)
{
    if (newVal == m_slideWidth)
        return;
    m_slideWidth = newVal;
    Q_EMIT property_slideWidthChanged();
}

void RecorderSettings::setSlideHeight(int newVal)
{
    if (newVal == m_slideHeight)
        return;
    m_slideHeight = newVal;
    Q_EMIT property_slideHeightChanged();
}

void RecorderSettings::setPointerRecordingEnabled(bool newVal)
{
    if (newVal == m_pointerRecordingEnabled)
        return;
    m_pointerRecordingEnabled = newVal;
    Q_EMIT property_pointerRecordingEnabledChanged();
}

void RecorderSettings::setSelectedAudioInput(AudioInputInfo newVal)
{
    if (!(newVal != m_selectedAudioInput))
        return;
    m_selectedAudioInput = newVal;
    Q_EMIT property_selectedAudioInputChanged();
}

void RecorderSettings::setAudioChannelCount(int newVal)
{
    if (newVal == m_audioChannelCount)
        return;
    m_audioChannelCount = newVal;
    Q_EMIT property_audioChannelCountChanged();
}

void RecorderSettings::setSelectedSlideSource(SlidesSourceInfo newVal)
{
    if (!newVal.enabled() || !(newVal != m_selectedSlideSource))
        return;
    m_selectedSlideSource = newVal;
    Q_EMIT property_selectedSlideSourceChanged();
}

void RecorderSettings::refreshAvailableSlideSources()
{
    const QList<SlidesSourceInfo> sources = SlidesSourceInfo::availableSlideSources();
    const SlidesSourceInfo *firstNew = nullptr;
    if (!sameDevices(m_availableSlideSources, sources, &firstNew)) {
        if (firstNew)
            qDebug() << "[RecorderSettings] new slide source" << *firstNew;
        qDebug() << "[RecorderSettings] available cameras changed";
        m_availableSlideSources = sources;
        Q_EMIT property_availableSlideSourcesChanged();
        if (m_slideSourcesLoaded) {
            if (!m_availableSlideSources.contains(m_selectedSlideSource))
                selectDefaultSlideSource();
            return;
        }
    }
    if (!m_slideSourcesLoaded) {
        m_slideSourcesLoaded = true;
        loadSelectedSlideSourceSettings();
    }
}

void RecorderSettings::selectDefaultSlideSource()
{
    const SlidesSourceInfo fallback = m_availableSlideSources.isEmpty()
                                          ? SlidesSourceInfo()
                                          : m_availableSlideSources.constFirst();
    if (fallback.enabled() && fallback != m_selectedSlideSource) {
        m_selectedSlideSource = fallback;
        Q_EMIT property_selectedSlideSourceChanged();
    }
}

void RecorderSettings::refreshAvailableAudioInputs()
{
    const QList<AudioInputInfo> inputs = AudioInputInfo::availableAudioInputs();
    if (!sameDevices(m_availableAudioInputs, inputs)) {
        qDebug() << "[RecorderSettings] available audio inputs changed";
        m_availableAudioInputs = inputs;
        Q_EMIT property_availableAudioInputsChanged();
        if (m_audioInputsLoaded) {
            if (!m_availableAudioInputs.contains(m_selectedAudioInput))
                selectDefaultAudioInput();
            return;
        }
    }
    if (!m_audioInputsLoaded) {
        m_audioInputsLoaded = true;
        loadSelectedAudioInputSettings();
    }
}

void RecorderSettings::selectDefaultAudioInput()
{
    const AudioInputInfo fallback =
        m_availableAudioInputs.isEmpty() ? AudioInputInfo() : m_availableAudioInputs.constFirst();
    if (fallback != m_selectedAudioInput) {
        m_selectedAudioInput = fallback;
        Q_EMIT property_selectedAudioInputChanged();
    }
}

void RecorderSettings::scheduleSave()
{
    m_saveTimer.start();
}

void RecorderSettings::save()
{
    QSettings settings;
    qDebug() << "[RecorderSettings] saveSettings" << settings.fileName();
    SettingsFile::restrictToOwner(settings.fileName());
    settings.setValue(keyUseNativeSlideSourceResolution, m_useNativeSlideSourceResolution);
    settings.setValue(keySlideWidth, m_slideWidth);
    settings.setValue(keySlideHeight, m_slideHeight);
    settings.setValue(keyPointerRecordingEnabled, m_pointerRecordingEnabled);
    settings.setValue(keyAudioChannelCount, m_audioChannelCount);
    if (m_slideSourcesLoaded)
        settings.setValue(keySelectedSlideSource, m_selectedSlideSource.id());
    if (m_audioInputsLoaded)
        settings.setValue(keySelectedAudioInput, m_selectedAudioInput.id());
    settings.sync();
    SettingsFile::restrictToOwner(settings.fileName());
}
