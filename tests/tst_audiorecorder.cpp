#include "AudioRecorder.h"
#include "ClickFeeder.h"
#include "Presentation.h"
#include "PulseModule.h"
#include "RecorderSettings.h"
#include "TestEnvironment.h"
#include "WavAnalysis.h"
#include "WavFileHeader.h"

#include <QBuffer>
#include <QMediaDevices>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <csignal>

namespace {

QAudioDevice findInput(const QByteArray &id)
{
    const QList<QAudioDevice> devices = QMediaDevices::audioInputs();
    for (const QAudioDevice &device : devices) {
        if (device.id() == id)
            return device;
    }
    return QAudioDevice();
}

} // namespace

using WavAnalysis::dominantFrequency;
using WavAnalysis::le16;
using WavAnalysis::le32;

class TestAudioRecorder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void wavHeaderLayout();
    void wavHeaderWithoutByteRate();
    void recordsTheSine_data();
    void recordsTheSine();
    void recordingWithoutInput();
    void stopWhileStarting();
    void unopenableFileStopsWithoutStart();
    void inputGoneAtStartIsRefused();
    void destructionWhileRecordingFinalizesFile();
    void killedRecordingLeavesPlayableFile();
    void fileSizeLimitEndsTheFileCleanly();
    void clicksStayOnTheRecordingClock();

private:
    QTemporaryDir m_configHome;
    QAudioDevice m_sine;
    std::unique_ptr<QTemporaryDir> m_directory;
};

void TestAudioRecorder::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    RecorderSettings::instance()->setAudioChannelCount(1);
    if (!TestEnvironment::hasPulseAudio())
        return;
    const QByteArray sineId = qgetenv("QUILLORA_TEST_SINE_SOURCE");
    QTRY_VERIFY_WITH_TIMEOUT(!(m_sine = findInput(sineId)).isNull(), 5000);
}

void TestAudioRecorder::init()
{
    // Every recording here must run without a single warning of Qt or the recorder.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    m_directory = std::make_unique<QTemporaryDir>();
    QVERIFY(m_directory->isValid());
    RecorderSettings::instance()->setSelectedAudioInput(AudioInputInfo(m_sine));
}

void TestAudioRecorder::wavHeaderLayout()
{
    QAudioFormat format;
    format.setSampleRate(48000);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int32);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    QVERIFY(WavFileHeader(format).writeHeader(&buffer));
    QCOMPARE(buffer.size(), WavFileHeader::size);
    const QByteArray header = buffer.data();
    QCOMPARE(header.left(4), QByteArray("RIFF"));
    QCOMPARE(le32(header, 4), 0u);
    QCOMPARE(header.mid(8, 8), QByteArray("WAVEfmt "));
    QCOMPARE(le32(header, 16), 16u);
    QCOMPARE(le16(header, 20), quint16(1));
    QCOMPARE(le16(header, 22), quint16(2));
    QCOMPARE(le32(header, 24), 48000u);
    QCOMPARE(le32(header, 28), 384000u);
    QCOMPARE(le16(header, 32), quint16(8));
    QCOMPARE(le16(header, 34), quint16(32));
    QCOMPARE(header.mid(36, 4), QByteArray("data"));
    QCOMPARE(le32(header, 40), 0u);

    buffer.write(QByteArray(384000 * 3 / 2, '\1'));
    QVERIFY(WavFileHeader::writeLengths(&buffer));
    QCOMPARE(buffer.pos(), buffer.size());
    QCOMPARE(le32(buffer.data(), 4), quint32(buffer.size() - 8));
    QCOMPARE(le32(buffer.data(), 40), quint32(buffer.size() - 44));

    WavFileHeader read;
    buffer.seek(0);
    QVERIFY(read.read(&buffer));
    QCOMPARE(read.byteOrder(), 1u);
    QCOMPARE(read.channelCount(), quint16(2));
    QCOMPARE(read.sampleRate(), 48000u);
    QCOMPARE(read.sampleSize(), quint16(32));
    QCOMPARE(read.length(), 576000u);
    QCOMPARE(read.seconds(), 1);
    QCOMPARE(read.millis(), 1500);
}

void TestAudioRecorder::wavHeaderWithoutByteRate()
{
    QAudioFormat unknown;
    unknown.setSampleRate(48000);
    unknown.setChannelCount(1);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    QVERIFY(WavFileHeader(unknown).writeHeader(&buffer));
    buffer.write(QByteArray(100, '\0'));
    QVERIFY(WavFileHeader::writeLengths(&buffer));
    buffer.seek(0);
    WavFileHeader read;
    QVERIFY(read.read(&buffer));
    QCOMPARE(read.sampleSize(), quint16(0));
    QCOMPARE(read.length(), 100u);
    QCOMPARE(read.seconds(), 0);
    QCOMPARE(read.millis(), 0);
    QCOMPARE(WavFileHeader().byteOrder(), 1u);

    QAudioFormat floating;
    floating.setSampleRate(44100);
    floating.setChannelCount(1);
    floating.setSampleFormat(QAudioFormat::Float);
    QBuffer floatBuffer;
    floatBuffer.open(QIODevice::ReadWrite);
    QVERIFY(WavFileHeader(floating).writeHeader(&floatBuffer));
    QCOMPARE(le16(floatBuffer.data(), 20), quint16(3));
    QCOMPARE(le16(floatBuffer.data(), 34), quint16(32));
}

void TestAudioRecorder::recordsTheSine_data()
{
    QTest::addColumn<int>("channels");
    QTest::newRow("mono") << 1;
    QTest::newRow("stereo") << 2;
}

void TestAudioRecorder::recordsTheSine()
{
    QFETCH(int, channels);
    if (m_sine.isNull())
        QSKIP("no PulseAudio sine source");
    RecorderSettings::instance()->setAudioChannelCount(channels);
    auto restore = qScopeGuard([] { RecorderSettings::instance()->setAudioChannelCount(1); });
    Presentation presentation{QDir(m_directory->path())};
    AudioRecorder recorder;
    QSignalSpy started(&recorder, &AudioRecorder::started);
    QSignalSpy stopped(&recorder, &AudioRecorder::stopped);
    QSignalSpy firstSamples(&recorder, &AudioRecorder::firstSamplesReceived);
    QSignalSpy states(&recorder, &AudioRecorder::property_stateChanged);

    recorder.requestStart(&presentation);
    QCOMPARE(recorder.state(), AudioRecorder::Starting);
    QVERIFY(started.wait(5000));
    QElapsedTimer sinceStarted;
    sinceStarted.start();
    QCOMPARE(recorder.state(), AudioRecorder::Started);
    QCOMPARE(recorder.msecsSinceFirstSample() >= 0, firstSamples.count() == 1);
    QVERIFY(firstSamples.count() == 1 || firstSamples.wait(5000));
    // The first sample lies between the start and its arrival.
    const qint64 sinceFirstSample = recorder.msecsSinceFirstSample();
    QVERIFY(sinceFirstSample >= 0);
    QVERIFY2(sinceFirstSample <= sinceStarted.elapsed() + 100,
             qPrintable(QStringLiteral("%1 ms since the first sample, %2 ms since the start")
                            .arg(sinceFirstSample)
                            .arg(sinceStarted.elapsed())));
    // Long enough for one update of the lengths while recording.
    QTest::qWait(AudioRecorder::lengthUpdateIntervalMs + 1000);

    recorder.requestStop();
    QCOMPARE(recorder.state(), AudioRecorder::Stopping);
    QVERIFY(stopped.count() == 1 || stopped.wait(5000));
    QCOMPARE(recorder.state(), AudioRecorder::Stopped);
    QCOMPARE(started.count(), 1);
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(firstSamples.count(), 1);
    QCOMPARE(states.count(), 4);

    QFile file(QDir(m_directory->path()).absoluteFilePath(QStringLiteral("audio.wav")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.size() > WavFileHeader::size);
    QCOMPARE(le32(bytes, 4), quint32(bytes.size() - 8));
    QCOMPARE(le32(bytes, 40), quint32(bytes.size() - 44));

    // The header describes the format the recorder asked for, or the device's own one.
    QAudioFormat requested = m_sine.preferredFormat();
    requested.setSampleFormat(QAudioFormat::Int32);
    requested.setChannelCount(channels);
    requested.setChannelConfig(QAudioFormat::ChannelConfigUnknown);
    requested.setSampleRate(48000);
    const QAudioFormat used =
        m_sine.isFormatSupported(requested) ? requested : m_sine.preferredFormat();
    QBuffer headerBuffer;
    headerBuffer.setData(bytes.left(WavFileHeader::size));
    headerBuffer.open(QIODevice::ReadOnly);
    WavFileHeader header;
    QVERIFY(header.read(&headerBuffer));
    QCOMPARE(int(header.channelCount()), used.channelCount());
    QCOMPARE(int(header.sampleRate()), used.sampleRate());
    QCOMPARE(int(header.sampleSize()), used.bytesPerSample() * 8);
    QCOMPARE(le16(bytes, 20), quint16(used.sampleFormat() == QAudioFormat::Float ? 3 : 1));
    QCOMPARE(le16(bytes, 32), quint16(used.bytesPerFrame()));
    QCOMPARE(int(le32(bytes, 28)), used.bytesPerFrame() * used.sampleRate());
    QCOMPARE(header.length() % used.bytesPerFrame(), 0u);
    QVERIFY2(header.millis() >= 1000, qPrintable(QString::number(header.millis())));

    const QList<double> samples = WavAnalysis::firstChannel(
        bytes.mid(WavFileHeader::size), header.sampleSize(), header.channelCount(),
        used.sampleFormat() == QAudioFormat::Float);
    const double expected = qEnvironmentVariable("QUILLORA_TEST_SINE_FREQUENCY", "440").toDouble();
    const double measured = dominantFrequency(samples, used.sampleRate());
    QVERIFY2(std::abs(measured - expected) <= expected * 0.02,
             qPrintable(QStringLiteral("measured %1 Hz").arg(measured)));
    QTest::qWait(200); // let the audio back end settle before the next case or the exit
}

void TestAudioRecorder::recordingWithoutInput()
{
    RecorderSettings::instance()->setSelectedAudioInput(AudioInputInfo());
    Presentation presentation{QDir(m_directory->path())};
    AudioRecorder recorder;
    QSignalSpy started(&recorder, &AudioRecorder::started);
    QSignalSpy stopped(&recorder, &AudioRecorder::stopped);
    QSignalSpy firstSamples(&recorder, &AudioRecorder::firstSamplesReceived);
    recorder.requestStart(&presentation);
    QVERIFY(started.wait(1000));
    recorder.requestStop();
    QCOMPARE(stopped.count(), 1);
    QTest::qWait(100);
    QCOMPARE(started.count(), 1);
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(firstSamples.count(), 0);
    QCOMPARE(recorder.msecsSinceFirstSample(), -1);
    QVERIFY(!QFile::exists(QDir(m_directory->path()).absoluteFilePath("audio.wav")));
}

void TestAudioRecorder::stopWhileStarting()
{
    Presentation presentation{QDir(m_directory->path())};
    AudioRecorder recorder;
    QSignalSpy started(&recorder, &AudioRecorder::started);
    QSignalSpy stopped(&recorder, &AudioRecorder::stopped);
    recorder.requestStart(&presentation);
    recorder.requestStop();
    QCOMPARE(recorder.state() == AudioRecorder::Stopping ||
                 recorder.state() == AudioRecorder::Stopped,
             true);
    QTRY_COMPARE(stopped.count(), 1);
    QCOMPARE(recorder.state(), AudioRecorder::Stopped);
    // The deferred start must not begin a recording after the stop.
    QTest::qWait(300);
    QCOMPARE(started.count(), 0);
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(recorder.state(), AudioRecorder::Stopped);
    QVERIFY(!QFile::exists(QDir(m_directory->path()).absoluteFilePath("audio.wav")));

    // The recorder is usable again afterwards.
    if (m_sine.isNull())
        return;
    recorder.requestStart(&presentation);
    QVERIFY(started.wait(5000));
    recorder.requestStop();
    QVERIFY(stopped.count() == 2 || stopped.wait(5000));
    QCOMPARE(started.count(), 1);
    QTest::qWait(200);
}

void TestAudioRecorder::unopenableFileStopsWithoutStart()
{
    if (m_sine.isNull())
        QSKIP("no PulseAudio sine source");
    Presentation presentation{QDir(m_directory->filePath(QStringLiteral("missing/dir")))};
    AudioRecorder recorder;
    QSignalSpy started(&recorder, &AudioRecorder::started);
    QSignalSpy stopped(&recorder, &AudioRecorder::stopped);
    QSignalSpy failed(&recorder, &AudioRecorder::writeFailed);
    const QString message = QStringLiteral("Cannot write audio.wav: No such file or directory");
    QTest::ignoreMessage(QtWarningMsg, qPrintable("[AudioRecorder] " + message));
    recorder.requestStart(&presentation);
    QVERIFY(stopped.wait(1000));
    QCOMPARE(started.count(), 0);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), message);
    QCOMPARE(recorder.state(), AudioRecorder::Stopped);
}

// A microphone pulled between the choice and the start: the start is refused with the reason,
// nothing is written, and the recorder does not wait for a stream that can never come.
void TestAudioRecorder::inputGoneAtStartIsRefused()
{
    if (!TestEnvironment::hasPulseAudio())
        QSKIP("needs the test sound server");
    PulseModule microphone(QStringLiteral("module-sine-source"),
                           QStringLiteral("source_name=pulled rate=48000 frequency=440"));
    QVERIFY(microphone.isLoaded());
    QAudioDevice device;
    QTRY_VERIFY_WITH_TIMEOUT(!(device = findInput("pulled")).isNull(), 5000);
    RecorderSettings::instance()->setSelectedAudioInput(AudioInputInfo(device));
    QVERIFY(microphone.unload());
    QTRY_VERIFY_WITH_TIMEOUT(findInput("pulled").isNull(), 5000);

    Presentation presentation{QDir(m_directory->path())};
    AudioRecorder recorder;
    QSignalSpy started(&recorder, &AudioRecorder::started);
    QSignalSpy stopped(&recorder, &AudioRecorder::stopped);
    QSignalSpy refused(&recorder, &AudioRecorder::startFailed);
    recorder.requestStart(&presentation);
    QVERIFY(stopped.wait(2000));
    QCOMPARE(started.count(), 0);
    QCOMPARE(refused.count(), 1);
    QCOMPARE(refused.at(0).at(0).toString(),
             QStringLiteral("The audio input \"%1\" could not be opened: it is not connected.")
                 .arg(device.description()));
    QVERIFY(!QFileInfo::exists(m_directory->filePath(QStringLiteral("audio.wav"))));
}

void TestAudioRecorder::destructionWhileRecordingFinalizesFile()
{
    if (m_sine.isNull())
        QSKIP("no PulseAudio sine source");
    Presentation presentation{QDir(m_directory->path())};
    {
        AudioRecorder recorder;
        QSignalSpy firstSamples(&recorder, &AudioRecorder::firstSamplesReceived);
        recorder.requestStart(&presentation);
        QVERIFY(firstSamples.wait(5000));
    }
    QFile file(QDir(m_directory->path()).absoluteFilePath(QStringLiteral("audio.wav")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.size() > WavFileHeader::size);
    QCOMPARE(le32(bytes, 4), quint32(bytes.size() - 8));
    QCOMPARE(le32(bytes, 40), quint32(bytes.size() - 44));
    QTest::qWait(200);
}

void TestAudioRecorder::killedRecordingLeavesPlayableFile()
{
    if (m_sine.isNull())
        QSKIP("no PulseAudio sine source");
    QProcess child;
    child.setProcessEnvironment(TestEnvironment::childEnvironment(m_configHome.path()));
    child.start(TestEnvironment::binaryPath(QStringLiteral("quillora_audio_child")),
                {m_directory->path(), QString::fromUtf8(m_sine.id())});
    QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
    QByteArray output;
    QElapsedTimer waiting;
    waiting.start();
    while (!output.contains("first-samples") && waiting.elapsed() < 10000) {
        child.waitForReadyRead(500);
        output += child.readAllStandardOutput();
    }
    QVERIFY2(output.contains("first-samples"), child.readAllStandardError().constData());
    QTest::qWait(8000);
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished(5000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    QFile file(QDir(m_directory->path()).absoluteFilePath(QStringLiteral("audio.wav")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    WavFileHeader header;
    QVERIFY(header.read(&file));
    QVERIFY2(header.millis() >= 3000, qPrintable(QString::number(header.millis())));
    QVERIFY(file.size() >= WavFileHeader::size + header.length());
    file.seek(4);
    QCOMPARE(qFromLittleEndian<quint32>(file.read(4).constData()), header.length() + 36);
}

// A file-size limit (as a full disk or a quota would) ends the file in the middle of a stereo
// frame: the recorder reports it and keeps a file whose header describes exactly the samples on
// disk.
void TestAudioRecorder::fileSizeLimitEndsTheFileCleanly()
{
    if (m_sine.isNull())
        QSKIP("no PulseAudio sine source");
    constexpr qint64 limitKiB = 512;
    QProcess child;
    child.setProcessEnvironment(TestEnvironment::childEnvironment(m_configHome.path()));
    // The limit makes writes past it fail with EFBIG instead of killing the process.
    child.start(QStringLiteral("bash"),
                {QStringLiteral("-c"),
                 QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(limitKiB),
                 TestEnvironment::binaryPath(QStringLiteral("quillora_audio_child")),
                 m_directory->path(), QString::fromUtf8(m_sine.id()), QStringLiteral("2")});
    QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
    QVERIFY(child.waitForFinished(30000));
    const QByteArray output = child.readAllStandardOutput();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(output.contains("write-failed Cannot write audio.wav: File too large\n"),
             output.constData());
    QCOMPARE(child.exitCode(), 1);

    const WavAnalysis::Wav wav =
        WavAnalysis::read(QDir(m_directory->path()).absoluteFilePath(QStringLiteral("audio.wav")));
    QVERIFY(wav.valid);
    QCOMPARE(wav.channelCount, quint16(2));
    QCOMPARE(qint64(wav.dataLength), qint64(wav.data.size()));
    QCOMPARE(qint64(wav.riffLength), qint64(wav.data.size()) + 36);
    QCOMPARE(wav.data.size() % (wav.channelCount * wav.bitsPerSample / 8), 0);
    QVERIFY(44 + wav.data.size() <= limitKiB * 1024);
    QVERIFY2(44 + wav.data.size() > limitKiB * 1024 - 16,
             qPrintable(QString::number(wav.data.size())));
}

// A sound card fed through the FIFO source starts 1.5 s after the recording, runs 0.1 % fast and
// pauses for 2 s in the middle: its clicks, one a second, are found in audio.wav where the
// recording clock puts them.
void TestAudioRecorder::clicksStayOnTheRecordingClock()
{
    const QString fifo = qEnvironmentVariable("QUILLORA_TEST_PIPE_FILE");
    const QByteArray pipeId = qgetenv("QUILLORA_TEST_PIPE_SOURCE");
    if (fifo.isEmpty() || pipeId.isEmpty() || !TestEnvironment::hasPulseAudio())
        QSKIP("needs the test sound server's FIFO source");
    QAudioDevice pipe;
    QTRY_VERIFY_WITH_TIMEOUT(!(pipe = findInput(pipeId)).isNull(), 5000);
    RecorderSettings::instance()->setSelectedAudioInput(AudioInputInfo(pipe));

    constexpr qint64 lateStartMs = 1500;
    constexpr int clicks = 60;
    Presentation presentation{QDir(m_directory->path())};
    AudioRecorder recorder;
    QElapsedTimer origin;
    connect(&recorder, &AudioRecorder::started, this, [&origin] { origin.start(); });
    QSignalSpy stopped(&recorder, &AudioRecorder::stopped);
    recorder.requestStart(&presentation);
    QTRY_VERIFY_WITH_TIMEOUT(origin.isValid(), 5000);

    ClickFeeder feeder(fifo);
    feeder.setSpeed(1.001);
    feeder.setPause(ClickFeeder::clickMs(clicks / 2) - 300, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(origin.elapsed() >= lateStartMs, 5000);
    const qint64 feederStartMs = origin.elapsed();
    QVERIFY(feeder.start());
    QTRY_VERIFY_WITH_TIMEOUT(origin.elapsed() >= feederStartMs + ClickFeeder::clickMs(clicks - 1) +
                                                     ClickFeeder::clickLengthMs + 200,
                             clicks * 1000 + 30000);
    const qint64 stopMs = origin.elapsed();
    recorder.requestStop();
    QVERIFY(stopped.count() == 1 || stopped.wait(5000));

    const WavAnalysis::Wav wav =
        WavAnalysis::read(QDir(m_directory->path()).absoluteFilePath(QStringLiteral("audio.wav")));
    QVERIFY(wav.valid);
    QCOMPARE(qint64(wav.dataLength), qint64(wav.data.size()));
    // The file ends with the recording, not with the last delivery.
    QVERIFY2(std::abs(wav.fileSeconds() * 1000 - stopMs) <= 20,
             qPrintable(QStringLiteral("%1 s of audio, stopped after %2 ms")
                            .arg(wav.fileSeconds())
                            .arg(stopMs)));
    const QList<qint64> found =
        WavAnalysis::onsets(WavAnalysis::firstChannel(wav), int(wav.sampleRate), 0.25, 500);
    QList<qint64> expected;
    for (int i = 0; i < clicks; ++i) {
        if (feeder.clickDelivered(i))
            expected.append(feederStartMs + ClickFeeder::clickMs(i));
    }
    QStringList report;
    for (qsizetype i = 0; i < qMax(found.size(), expected.size()); ++i) {
        report << QStringLiteral("%1/%2").arg(
            i < found.size() ? QString::number(found.at(i)) : QStringLiteral("-"),
            i < expected.size() ? QString::number(expected.at(i)) : QStringLiteral("-"));
    }
    const QByteArray foundVsExpected = ("found/expected ms: " + report.join(' ')).toUtf8();
    qDebug().noquote() << foundVsExpected;
    QVERIFY2(found.size() == expected.size(), foundVsExpected.constData());
    for (qsizetype i = 0; i < found.size(); ++i)
        QVERIFY2(std::abs(found.at(i) - expected.at(i)) <= 20, foundVsExpected.constData());
    QTest::qWait(200);
}

QTEST_GUILESS_MAIN(TestAudioRecorder)
#include "tst_audiorecorder.moc"
