#include "RecorderTestSetup.h"

#include "ApplicationIdentity.h"
#include "AudioInputInfo.h"
#include "LiveStreamSettings.h"
#include "LoginSettings.h"
#include "MetaTypes.h"
#include "NetworkSettings.h"
#include "RecorderSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>

namespace RecorderTestSetup {

bool prepare(const QString &configHome, const QString &workDir)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    ApplicationIdentity::apply();
    MetaTypes::registerAll();
    QCoreApplication::instance()->setProperty("workDir", workDir);
    LiveStreamSettings::instance()->load();
    LoginSettings::instance()->load();
    RecorderSettings::instance()->load();
    NetworkSettings::instance()->load();
    return true;
}

bool selectSources(const QByteArray &audioInputId)
{
    RecorderSettings *settings = RecorderSettings::instance();
    if (!QTest::qWaitFor([settings] { return settings->selectedSlideSource().isValid(); }, 5000))
        return false;
    const QList<AudioInputInfo> inputs = AudioInputInfo::availableAudioInputs();
    for (const AudioInputInfo &input : inputs) {
        if (input.id() == audioInputId) {
            settings->setSelectedAudioInput(input);
            return true;
        }
    }
    return false;
}

QByteArray sineSourceId()
{
    return qgetenv("QUILLORA_TEST_SINE_SOURCE").isEmpty() ? QByteArray("sine")
                                                          : qgetenv("QUILLORA_TEST_SINE_SOURCE");
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

} // namespace RecorderTestSetup
