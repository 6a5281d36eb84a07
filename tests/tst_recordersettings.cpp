#include "ApplicationIdentity.h"
#include "RecorderSettings.h"
#include "SettingsFile.h"
#include "TestEnvironment.h"

#include <QMutex>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

QMutex logMutex;
int saveCount = 0;
QtMessageHandler previousHandler = nullptr;

void countSaves(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("[RecorderSettings] saveSettings"))) {
        QMutexLocker locker(&logMutex);
        ++saveCount;
    }
    previousHandler(type, context, message);
}

int saves()
{
    QMutexLocker locker(&logMutex);
    return saveCount;
}

int fileMode(const QString &path)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return info.st_mode & 0777;
}

QString pactl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

// One settings singleton per process: the cases run in order on one private store, from the first
// start of the program onwards.
class TestRecorderSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void firstLoadWritesBasicKeysOnce();
    void firstPollAppliesStoredSelections();
    void settingsFileIsOwnerOnly();
    void sameValueEmitsNothing();
    void unchangedDevicesEmitNoListChange();
    void twoChangesInOnePassSaveOnce();
    void disabledSlideSourceIsIgnored();
    void vanishedAudioInputStaysChosenAndReturns();
    void restrictToOwnerCreatesPrivateFile();

private:
    QTemporaryDir m_configHome;
    QString m_storedAudioInput;
};

void TestRecorderSettings::initTestCase()
{
    QVERIFY(m_configHome.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    ApplicationIdentity::apply();
    previousHandler = qInstallMessageHandler(countSaves);

    // The store of an earlier version: a camera that is gone, and an audio input that is there.
    QSettings settings;
    QVERIFY(settings.fileName().startsWith(m_configHome.path()));
    settings.setValue(QStringLiteral("recorderSettings/selectedSlideSource"),
                      QByteArrayLiteral("/dev/v4l/by-id/unplugged-camera"));
    if (TestEnvironment::hasPulseAudio()) {
        m_storedAudioInput = qEnvironmentVariable("QUILLORA_TEST_PROGRAM_SOURCE", "vmic");
        settings.setValue(QStringLiteral("recorderSettings/selectedAudioInput"),
                          m_storedAudioInput.toUtf8());
    }
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
}

void TestRecorderSettings::firstLoadWritesBasicKeysOnce()
{
    RecorderSettings *recorderSettings = RecorderSettings::instance();
    QVERIFY(!recorderSettings->selectedSlideSource().isValid());
    QVERIFY(!recorderSettings->selectedAudioInput().isValid());

    QSignalSpy widthSpy(recorderSettings, &RecorderSettings::property_slideWidthChanged);
    recorderSettings->load();
    QCOMPARE(widthSpy.count(), 1);
    QCOMPARE(recorderSettings->slideWidth(), 1920);
    QCOMPARE(saves(), 0); // saved on the next pass of the event loop
    QTRY_COMPARE(saves(), 1);

    const QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("recorderSettings/useNativeSlideSourceResolution")),
             QVariant(true));
    QCOMPARE(settings.value(QStringLiteral("recorderSettings/slideWidth")).toInt(), 1920);
    QCOMPARE(settings.value(QStringLiteral("recorderSettings/slideHeight")).toInt(), 1080);
    QCOMPARE(settings.value(QStringLiteral("recorderSettings/pointerRecordingEnabled")),
             QVariant(true));
    QCOMPARE(settings.value(QStringLiteral("recorderSettings/audioChannelCount")).toInt(), 1);
    // Before the first poll the placeholder selection must not replace the stored choice.
    QCOMPARE(settings.value(QStringLiteral("recorderSettings/selectedSlideSource")).toByteArray(),
             QByteArrayLiteral("/dev/v4l/by-id/unplugged-camera"));
}

void TestRecorderSettings::firstPollAppliesStoredSelections()
{
    RecorderSettings *recorderSettings = RecorderSettings::instance();
    QTRY_VERIFY_WITH_TIMEOUT(!recorderSettings->availableSlideSources().isEmpty(), 5000);
    QCOMPARE(recorderSettings->availableSlideSources().constFirst().id(),
             QByteArrayLiteral("IntervalScreenCapture"));
    // The stored camera is unplugged: it stays the choice, shown as unavailable, and is neither
    // replaced by screen capture nor overwritten in the store.
    QTRY_COMPARE(recorderSettings->selectedSlideSource().id(),
                 QByteArrayLiteral("/dev/v4l/by-id/unplugged-camera"));
    QVERIFY(!recorderSettings->selectedSlideSourceAvailable());
    QVERIFY(!recorderSettings->selectedSlideSource().isValid());
    QTest::qWait(1500);
    QCOMPARE(
        QSettings().value(QStringLiteral("recorderSettings/selectedSlideSource")).toByteArray(),
        QByteArrayLiteral("/dev/v4l/by-id/unplugged-camera"));

    if (m_storedAudioInput.isEmpty())
        QSKIP("no PulseAudio server for the audio inputs");
    QTRY_VERIFY_WITH_TIMEOUT(!recorderSettings->availableAudioInputs().isEmpty(), 5000);
    QCOMPARE(recorderSettings->selectedAudioInput().id(), m_storedAudioInput.toUtf8());
    QCOMPARE(QSettings().value(QStringLiteral("recorderSettings/selectedAudioInput")).toByteArray(),
             m_storedAudioInput.toUtf8());
}

void TestRecorderSettings::settingsFileIsOwnerOnly()
{
    QCOMPARE(fileMode(QSettings().fileName()), 0600);
}

void TestRecorderSettings::sameValueEmitsNothing()
{
    RecorderSettings *recorderSettings = RecorderSettings::instance();
    QSignalSpy widthSpy(recorderSettings, &RecorderSettings::property_slideWidthChanged);
    QSignalSpy sourceSpy(recorderSettings, &RecorderSettings::property_selectedSlideSourceChanged);
    const int before = saves();
    recorderSettings->setSlideWidth(recorderSettings->slideWidth());
    recorderSettings->setSelectedSlideSource(recorderSettings->selectedSlideSource());
    recorderSettings->setSelectedAudioInput(recorderSettings->selectedAudioInput());
    QCoreApplication::processEvents();
    QCOMPARE(widthSpy.count(), 0);
    QCOMPARE(sourceSpy.count(), 0);
    QCOMPARE(saves(), before);
}

void TestRecorderSettings::unchangedDevicesEmitNoListChange()
{
    RecorderSettings *recorderSettings = RecorderSettings::instance();
    QSignalSpy sourcesSpy(recorderSettings,
                          &RecorderSettings::property_availableSlideSourcesChanged);
    QSignalSpy inputsSpy(recorderSettings, &RecorderSettings::property_availableAudioInputsChanged);
    const int before = saves();
    QTest::qWait(2500); // two polls
    QCOMPARE(sourcesSpy.count(), 0);
    QCOMPARE(inputsSpy.count(), 0);
    QCOMPARE(saves(), before);
}

void TestRecorderSettings::twoChangesInOnePassSaveOnce()
{
    RecorderSettings *recorderSettings = RecorderSettings::instance();
    const int before = saves();
    recorderSettings->setSlideWidth(1280);
    recorderSettings->setSlideHeight(720);
    recorderSettings->setAudioChannelCount(2);
    QTRY_COMPARE(saves(), before + 1);
    QTest::qWait(50);
    QCOMPARE(saves(), before + 1);
    const QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("recorderSettings/slideWidth")).toInt(), 1280);
    QCOMPARE(settings.value(QStringLiteral("recorderSettings/slideHeight")).toInt(), 720);
    QCOMPARE(settings.value(QStringLiteral("recorderSettings/audioChannelCount")).toInt(), 2);
    QCOMPARE(fileMode(settings.fileName()), 0600);
}

void TestRecorderSettings::disabledSlideSourceIsIgnored()
{
    RecorderSettings *recorderSettings = RecorderSettings::instance();
    const SlidesSourceInfo before = recorderSettings->selectedSlideSource();
    const SlidesSourceInfo obs(SlidesSourceInfo::videoInputEnabledByName("OBS Virtual Camera"),
                               SlidesSourceInfo::Camera, "/dev/video9", 9, "OBS Virtual Camera");
    QVERIFY(!obs.enabled());
    recorderSettings->setSelectedSlideSource(obs);
    QCOMPARE(recorderSettings->selectedSlideSource().id(), before.id());
}

void TestRecorderSettings::vanishedAudioInputStaysChosenAndReturns()
{
    if (!TestEnvironment::hasPulseAudio())
        QSKIP("no PulseAudio server");
    RecorderSettings *recorderSettings = RecorderSettings::instance();
    const QByteArray extraId = QByteArrayLiteral("quillora_settings_extra");
    const QString module =
        pactl({QStringLiteral("load-module"), QStringLiteral("module-sine-source"),
               QStringLiteral("source_name=") + QString::fromUtf8(extraId),
               QStringLiteral("rate=48000")});
    QVERIFY2(!module.isEmpty(), "pactl load-module failed");
    auto unload = qScopeGuard([&] { pactl({QStringLiteral("unload-module"), module}); });

    const auto extraListed = [&] {
        const QList<AudioInputInfo> inputs = recorderSettings->availableAudioInputs();
        return std::any_of(inputs.cbegin(), inputs.cend(),
                           [&](const AudioInputInfo &input) { return input.id() == extraId; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(extraListed(), 10000);
    const auto extra =
        std::find_if(recorderSettings->availableAudioInputs().cbegin(),
                     recorderSettings->availableAudioInputs().cend(),
                     [&](const AudioInputInfo &input) { return input.id() == extraId; });
    recorderSettings->setSelectedAudioInput(*extra);
    QTRY_COMPARE(
        QSettings().value(QStringLiteral("recorderSettings/selectedAudioInput")).toByteArray(),
        extraId);

    unload.dismiss();
    pactl({QStringLiteral("unload-module"), module});
    QTRY_VERIFY_WITH_TIMEOUT(!extraListed(), 10000);
    QVERIFY(!recorderSettings->selectedAudioInputAvailable());
    QCOMPARE(recorderSettings->chosenAudioInputId(), extraId);
    QTest::qWait(1500);
    QCOMPARE(QSettings().value(QStringLiteral("recorderSettings/selectedAudioInput")).toByteArray(),
             extraId);

    // Back again, it is used at once.
    const QString again =
        pactl({QStringLiteral("load-module"), QStringLiteral("module-sine-source"),
               QStringLiteral("source_name=") + QString::fromUtf8(extraId),
               QStringLiteral("rate=48000")});
    QVERIFY2(!again.isEmpty(), "pactl load-module failed");
    auto unloadAgain = qScopeGuard([&] { pactl({QStringLiteral("unload-module"), again}); });
    QTRY_VERIFY_WITH_TIMEOUT(recorderSettings->selectedAudioInputAvailable(), 10000);
    QCOMPARE(recorderSettings->selectedAudioInput().id(), extraId);
    QVERIFY(recorderSettings->selectedAudioInput().isValid());
}

void TestRecorderSettings::restrictToOwnerCreatesPrivateFile()
{
    const QString path = m_configHome.filePath(QStringLiteral("other/store.conf"));
    QVERIFY(SettingsFile::restrictToOwner(path));
    QCOMPARE(fileMode(path), 0600);
    // A file left with looser permissions is tightened, its contents kept.
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[a]\nb=1\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                QFile::ReadOther));
    QVERIFY(SettingsFile::restrictToOwner(path));
    QCOMPARE(fileMode(path), 0600);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("[a]\nb=1\n"));
}

QTEST_GUILESS_MAIN(TestRecorderSettings)
#include "tst_recordersettings.moc"
