#include "QmlFakeRecorderSettings.h"

QmlFakeRecorderSettings::QmlFakeRecorderSettings(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<SlidesSourceInfo>();
    qRegisterMetaType<QList<SlidesSourceInfo>>();
    qRegisterMetaType<QmlFakeAudioInput>();
    qRegisterMetaType<QList<QmlFakeAudioInput>>();
}

void QmlFakeRecorderSettings::setAvailableSlideSources(const QList<SlidesSourceInfo> &sources)
{
    slideSources = sources;
    Q_EMIT property_availableSlideSourcesChanged();
}

void QmlFakeRecorderSettings::setAvailableAudioInputs(const QList<QmlFakeAudioInput> &inputs)
{
    audioInputs = inputs;
    Q_EMIT property_availableAudioInputsChanged();
}
