#include "AudioInputInfo.h"
#include "TestEnvironment.h"

#include <QMediaDevices>
#include <QtTest>

class TestAudioInputInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nullInputs();
    void realInputs();
};

void TestAudioInputInfo::nullInputs()
{
    const AudioInputInfo a;
    const AudioInputInfo b;
    QVERIFY(!a.isValid());
    QCOMPARE(a.name(), QStringLiteral("<invalid audio input>"));
    QVERIFY(a.id().isEmpty());
    // Neither equal nor different: a null selection replaced by a null selection is no change.
    QVERIFY(!(a == b));
    QVERIFY(!(a != b));
    QVERIFY(!a.sameAs(b));
    QString printed;
    QDebug(&printed).nospace() << a;
    QCOMPARE(printed, QStringLiteral("AudioInputInfo(\"<invalid audio input>\")"));
}

void TestAudioInputInfo::realInputs()
{
    if (!TestEnvironment::hasPulseAudio())
        QSKIP("no PulseAudio server");
    QTRY_VERIFY_WITH_TIMEOUT(!QMediaDevices::audioInputs().isEmpty(), 5000);
    const QList<QAudioDevice> devices = QMediaDevices::audioInputs();
    const QList<AudioInputInfo> inputs = AudioInputInfo::availableAudioInputs();
    QCOMPARE(inputs.size(), devices.size());
    for (int i = 0; i < inputs.size(); ++i) {
        QCOMPARE(inputs.at(i).id(), devices.at(i).id());
        QCOMPARE(inputs.at(i).name(), devices.at(i).description());
        QVERIFY(inputs.at(i).isValid());
        QVERIFY(inputs.at(i) == AudioInputInfo(devices.at(i)));
        QVERIFY(inputs.at(i) != AudioInputInfo());
        QVERIFY(AudioInputInfo() != inputs.at(i));
    }
    if (inputs.size() >= 2) {
        QVERIFY(inputs.at(0) != inputs.at(1));
        QVERIFY(!inputs.at(0).sameAs(inputs.at(1)));
    }
}

QTEST_GUILESS_MAIN(TestAudioInputInfo)
#include "tst_audioinputinfo.moc"
