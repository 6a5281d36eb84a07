#include "RecorderSettings.h"

#include "SettingsFile.h"

#include <QDebug>
#include <QSettings>

#include <algorithm>

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
    const QSettings settings;
    m_chosenSlideSourceId = settings.value(keySelectedSlideSource, QByteArray()).toByteArray();
    m_chosenAudioInputId = settings.value(keySelectedAudioInput, QByteArray()).toByteArray();
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

void RecorderSettings::chooseSlideSource(const QByteArray &id)
{
    if (id == m_chosenSlideSourceId)
        return;
    m_chosenSlideSourceId = id;
    applySlideSourceChoice();
    scheduleSave();
}

void RecorderSettings::chooseAudioInput(const QByteArray &id)
{
    if (id == m_chosenAudioInputId)
        return;
    m_chosenAudioInputId = id;
    applyAudioInputChoice();
    scheduleSave();
}

bool RecorderSettings::selectedSlideSourceAvailable() const
{
    return m_slideSourceAvailable;
}

bool RecorderSettings::selectedAudioInputAvailable() const
{
    return m_audioInputAvailable;
}

QString RecorderSettings::chosenSlideSourceName() const
{
    if (m_selectedSlideSource.id() == m_chosenSlideSourceId &&
        !m_selectedSlideSource.name().isEmpty())
        return m_selectedSlideSource.name();
    return QString::fromUtf8(m_chosenSlideSourceId);
}

QString RecorderSettings::chosenAudioInputName() const
{
    if (m_selectedAudioInput.isValid() && m_selectedAudioInput.id() == m_chosenAudioInputId)
        return m_selectedAudioInput.name();
    return QString::fromUtf8(m_chosenAudioInputId);
}

void RecorderSettings::applySlideSourceChoice()
{
    if (!m_slideSourcesLoaded)
        return;
    // Nothing chosen yet (a first run): the first entry, screen capture, becomes the choice.
    if (m_chosenSlideSourceId.isEmpty()) {
        for (const SlidesSourceInfo &source : std::as_const(m_availableSlideSources)) {
            if (source.enabled()) {
                m_chosenSlideSourceId = source.id();
                scheduleSave();
                break;
            }
        }
    }
    auto found = std::find_if(m_availableSlideSources.cbegin(), m_availableSlideSources.cend(),
                              [this](const SlidesSourceInfo &source) {
                                  return source.enabled() && source.id() == m_chosenSlideSourceId;
                              });
    const bool available = found != m_availableSlideSources.cend();
    if (available) {
        // Replaced also when only the description changed (a new device index after replugging).
        if (m_selectedSlideSource.id() != found->id() ||
            m_selectedSlideSource.index() != found->index() ||
            m_selectedSlideSource.type() != found->type()) {
            m_selectedSlideSource = *found;
            Q_EMIT property_selectedSlideSourceChanged();
        }
    } else if (m_selectedSlideSource.id() != m_chosenSlideSourceId) {
        // Never seen in this run: a placeholder that names the choice and cannot be opened.
        m_selectedSlideSource =
            SlidesSourceInfo(false, SlidesSourceInfo::Invalid, m_chosenSlideSourceId, -1,
                             QString::fromUtf8(m_chosenSlideSourceId));
        Q_EMIT property_selectedSlideSourceChanged();
    }
    if (available != m_slideSourceAvailable) {
        m_slideSourceAvailable = available;
        // A state the window shows and a start reports, not a fault of the program.
        if (!available)
            qInfo() << "[RecorderSettings] chosen slide source not available:"
                    << chosenSlideSourceName();
        Q_EMIT property_selectedSlideSourceAvailableChanged();
    }
}

void RecorderSettings::applyAudioInputChoice()
{
    if (!m_audioInputsLoaded)
        return;
    if (m_chosenAudioInputId.isEmpty() && !m_availableAudioInputs.isEmpty()) {
        m_chosenAudioInputId = m_availableAudioInputs.constFirst().id();
        scheduleSave();
    }
    auto found = std::find_if(
        m_availableAudioInputs.cbegin(), m_availableAudioInputs.cend(),
        [this](const AudioInputInfo &input) { return input.id() == m_chosenAudioInputId; });
    // With no input chosen and none present the recording goes on without audio, as before.
    const bool available = found != m_availableAudioInputs.cend() || m_chosenAudioInputId.isEmpty();
    if (found != m_availableAudioInputs.cend()) {
        if (!m_selectedAudioInput.isValid() || m_selectedAudioInput.id() != found->id()) {
            m_selectedAudioInput = *found;
            Q_EMIT property_selectedAudioInputChanged();
        }
    } else if (m_selectedAudioInput.isValid() &&
               m_selectedAudioInput.id() != m_chosenAudioInputId) {
        m_selectedAudioInput = AudioInputInfo();
        Q_EMIT property_selectedAudioInputChanged();
    }
    if (available != m_audioInputAvailable) {
        m_audioInputAvailable = available;
        if (!available)
            qInfo() << "[RecorderSettings] chosen audio input not available:"
                    << chosenAudioInputName();
        Q_EMIT property_selectedAudioInputAvailableChanged();
    }
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
    // A null input clears the choice: the recording goes without audio until one is chosen.
    if (!newVal.isValid()) {
        if (m_chosenAudioInputId.isEmpty() && !m_selectedAudioInput.isValid())
            return;
        m_chosenAudioInputId.clear();
        m_selectedAudioInput = AudioInputInfo();
        Q_EMIT property_selectedAudioInputChanged();
        applyAudioInputChoice();
        scheduleSave();
        return;
    }
    if (newVal.id() == m_chosenAudioInputId && m_audioInputAvailable)
        return;
    m_chosenAudioInputId = newVal.id();
    if (!m_audioInputsLoaded || !m_availableAudioInputs.contains(newVal)) {
        m_selectedAudioInput = newVal;
        Q_EMIT property_selectedAudioInputChanged();
    }
    applyAudioInputChoice();
    scheduleSave();
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
    if (!newVal.enabled() || !newVal.isValid() ||
        (newVal.id() == m_chosenSlideSourceId && m_slideSourceAvailable))
        return;
    m_chosenSlideSourceId = newVal.id();
    if (!m_slideSourcesLoaded || !m_availableSlideSources.contains(newVal)) {
        m_selectedSlideSource = newVal;
        Q_EMIT property_selectedSlideSourceChanged();
    }
    applySlideSourceChoice();
    scheduleSave();
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
    }
    m_slideSourcesLoaded = true;
    applySlideSourceChoice();
}

void RecorderSettings::refreshAvailableAudioInputs()
{
    const QList<AudioInputInfo> inputs = AudioInputInfo::availableAudioInputs();
    if (!sameDevices(m_availableAudioInputs, inputs)) {
        qDebug() << "[RecorderSettings] available audio inputs changed";
        m_availableAudioInputs = inputs;
        Q_EMIT property_availableAudioInputsChanged();
    }
    m_audioInputsLoaded = true;
    applyAudioInputChoice();
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
    // The choices, not what is present now: an absent source stays chosen.
    if (!m_chosenSlideSourceId.isEmpty())
        settings.setValue(keySelectedSlideSource, m_chosenSlideSourceId);
    if (!m_chosenAudioInputId.isEmpty())
        settings.setValue(keySelectedAudioInput, m_chosenAudioInputId);
    settings.sync();
    SettingsFile::restrictToOwner(settings.fileName());
}
