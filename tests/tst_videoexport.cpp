#include "ExportControl.h"
#include "ExportKind.h"
#include "ExportTestPresentation.h"
#include "FileSizeLimit.h"
#include "RecordedPresentation.h"
#include "TestEnvironment.h"
#include "VideoExporter.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using ExportTestPresentation::Slide;

namespace {

// The mean absolute difference of two pictures of the same size, per channel, 0 to 255.
double meanDifference(const QImage &a, const QImage &b)
{
    const QImage first = a.convertToFormat(QImage::Format_RGB32);
    const QImage second = b.convertToFormat(QImage::Format_RGB32);
    if (first.size() != second.size())
        return 255;
    double sum = 0;
    for (int y = 0; y < first.height(); ++y) {
        const auto *p = reinterpret_cast<const QRgb *>(first.constScanLine(y));
        const auto *q = reinterpret_cast<const QRgb *>(second.constScanLine(y));
        for (int x = 0; x < first.width(); ++x) {
            sum += std::abs(qRed(p[x]) - qRed(q[x])) + std::abs(qGreen(p[x]) - qGreen(q[x])) +
                   std::abs(qBlue(p[x]) - qBlue(q[x]));
        }
    }
    return sum / (3.0 * first.width() * first.height());
}

// What the video should show of a slide: its screens side by side, scaled to the video's size.
QImage expectedPicture(const QList<int> &seeds, QSize slideSize, QSize videoSize)
{
    QImage whole(slideSize.width() * int(seeds.size()), slideSize.height(), QImage::Format_RGB32);
    QPainter painter(&whole);
    for (int i = 0; i < seeds.size(); ++i)
        painter.drawImage(
            i * slideSize.width(), 0,
            ExportTestPresentation::picture(seeds.at(i), slideSize.width(), slideSize.height()));
    painter.end();
    return whole.size() == videoSize
               ? whole
               : whole.scaled(videoSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// A WAV file of a 440 Hz tone in the given sample format, as audio interfaces deliver them.
QByteArray toneWav(int formatTag, int bits, int rate, int channels, double seconds)
{
    const qint64 frames = qint64(seconds * rate);
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    for (qint64 i = 0; i < frames; ++i) {
        const double value = 0.25 * std::sin(2.0 * M_PI * 440.0 * double(i) / rate);
        for (int c = 0; c < channels; ++c) {
            if (formatTag == 3)
                out << float(value);
            else if (bits == 32)
                out << qint32(std::lround(value * 2147483647.0));
            else
                out << qint16(std::lround(value * 32767.0));
        }
    }
    QByteArray header;
    QDataStream head(&header, QIODevice::WriteOnly);
    head.setByteOrder(QDataStream::LittleEndian);
    head.writeRawData("RIFF", 4);
    head << quint32(36 + data.size());
    head.writeRawData("WAVEfmt ", 8);
    head << quint32(16) << quint16(formatTag) << quint16(channels) << quint32(rate)
         << quint32(rate * channels * bits / 8) << quint16(channels * bits / 8) << quint16(bits);
    head.writeRawData("data", 4);
    head << quint32(data.size());
    return header + data;
}

// The audio track decoded to 48 kHz mono 16-bit samples by FFmpeg's own program.
QList<qint16> decodedAudio(const QString &video)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-i", video, "-vn", "-ac", "1", "-ar",
                                            "48000", "-f", "s16le", "-"});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return {};
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    QList<qint16> samples(bytes.size() / 2);
    memcpy(samples.data(), bytes.constData(), size_t(samples.size()) * 2);
    return samples;
}

} // namespace

class VideoExportTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static QJsonObject probe(const QString &path)
    {
        QProcess ffprobe;
        ffprobe.start(QStringLiteral("ffprobe"),
                      {"-v", "error", "-print_format", "json", "-show_format", "-show_streams",
                       "-show_chapters", path});
        if (!ffprobe.waitForFinished(60000) || ffprobe.exitCode() != 0)
            return {};
        return QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    }

    // The frame the video shows at a time, decoded by FFmpeg's own program.
    QImage frameAt(const QString &video, double seconds)
    {
        const QString png = m_dir.filePath(QStringLiteral("frame-%1.png").arg(seconds));
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {"-v", "error", "-y", "-ss", QString::number(seconds), "-i", video,
                      "-frames:v", "1", png});
        if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
            return {};
        return QImage(png);
    }

    static QStringList filesIn(const QString &dir)
    {
        return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QString outputDir(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        return QDir().mkpath(path) ? path : QString();
    }

    static QString readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void exportsSlidesOverAudio_data()
    {
        QTest::addColumn<QList<Slide>>("slides");
        QTest::addColumn<QSize>("slideSize");
        QTest::addColumn<QSize>("videoSize");
        // The last slide is saved at this size instead: it is scaled to fit, centred on black.
        QTest::addColumn<QSize>("lastSlideSize");
        QTest::newRow("one screen") << QList<Slide>{{0, {1}}, {2500, {2}}, {6000, {3}}, {9000, {4}}}
                                    << QSize(640, 360) << QSize(640, 360) << QSize(300, 300);
        // Two wide screens side by side are scaled down to the largest width, and the video is
        // black until the first slide.
        QTest::newRow("two screens, capped width")
            << QList<Slide>{{1500, {5, 6}}, {4000, {7, 8}}, {8200, {9, 10}}} << QSize(1280, 720)
            << QSize(1920, 540) << QSize();
    }

    void exportsSlidesOverAudio()
    {
        QFETCH(QList<Slide>, slides);
        QFETCH(QSize, slideSize);
        QFETCH(QSize, videoSize);
        QFETCH(QSize, lastSlideSize);
        constexpr qint64 audioMs = 12300;
        const QString name = QStringLiteral("good-%1").arg(slides.size());
        const QString dir =
            ExportTestPresentation::create(m_dir.path(), name, QStringLiteral("Export Ünïcode"),
                                           slides, audioMs, slideSize.width(), slideSize.height());
        QVERIFY(!dir.isEmpty());
        const int lastSeed = slides.constLast().seeds.constFirst();
        const QImage lastPicture =
            lastSlideSize.isValid() ? ExportTestPresentation::picture(
                                          lastSeed, lastSlideSize.width(), lastSlideSize.height())
                                    : QImage();
        if (lastSlideSize.isValid()) {
            QVERIFY(lastPicture.save(QDir(dir).absoluteFilePath(
                QStringLiteral("0-%1.png").arg(slides.size(), 4, 10, QLatin1Char('0')))));
        }
        RecordedPresentation presentation;
        QString message;
        QVERIFY2(presentation.load(QDir(dir), &message), qPrintable(message));

        VideoExporter exporter;
        const QString output =
            QDir(dir).absoluteFilePath(ExportKinds::defaultFileName(ExportKind::Video));
        ExportControl control;
        QList<int> progress;
        control.setProgressHandler([&progress](int percent) { progress << percent; });
        QVERIFY2(exporter.write(presentation, output, control, &message), qPrintable(message));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.constLast(), 100);
        QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
        QVERIFY(progress.size() > 5);
        // Only the video was added.
        QCOMPARE(filesIn(dir).filter(QStringLiteral("video")), QStringList{"video.mp4"});
        QVERIFY(QFileInfo(output).permissions().testFlag(QFileDevice::ReadOther));

        const QJsonObject info = probe(output);
        QVERIFY(!info.isEmpty());
        const QJsonObject format = info.value("format").toObject();
        QVERIFY2(std::abs(format.value("duration").toString().toDouble() - audioMs / 1000.0) < 0.1,
                 qPrintable(format.value("duration").toString()));
        QCOMPARE(format.value("tags").toObject().value("title").toString(),
                 QStringLiteral("Export Ünïcode"));

        int videoStreams = 0;
        int audioStreams = 0;
        for (const QJsonValue &value : info.value("streams").toArray()) {
            const QJsonObject stream = value.toObject();
            if (stream.value("codec_type") == QStringLiteral("video")) {
                ++videoStreams;
                QCOMPARE(stream.value("codec_name").toString(), QStringLiteral("h264"));
                QCOMPARE(stream.value("pix_fmt").toString(), QStringLiteral("yuv420p"));
                QCOMPARE(stream.value("width").toInt(), videoSize.width());
                QCOMPARE(stream.value("height").toInt(), videoSize.height());
            } else if (stream.value("codec_type") == QStringLiteral("audio")) {
                ++audioStreams;
                QCOMPARE(stream.value("codec_name").toString(), QStringLiteral("aac"));
                QCOMPARE(stream.value("sample_rate").toString(), QStringLiteral("48000"));
                QCOMPARE(stream.value("channels").toInt(), 1);
            }
        }
        QCOMPARE(videoStreams, 1);
        QCOMPARE(audioStreams, 1);

        const QJsonArray chapters = info.value("chapters").toArray();
        QCOMPARE(chapters.size(), slides.size());
        for (int i = 0; i < slides.size(); ++i) {
            const QJsonObject chapter = chapters.at(i).toObject();
            // The first chapter also covers the black start: MP4 chapters cannot begin later.
            const double start = i == 0 ? 0 : slides.at(i).timeMs / 1000.0;
            const double end = (i + 1 < slides.size() ? slides.at(i + 1).timeMs : audioMs) / 1000.0;
            const QByteArray json = QJsonDocument(chapter).toJson(QJsonDocument::Compact);
            QVERIFY2(std::abs(chapter.value("start_time").toString().toDouble() - start) < 0.05,
                     json.constData());
            QVERIFY2(std::abs(chapter.value("end_time").toString().toDouble() - end) < 0.05,
                     json.constData());
            QCOMPARE(chapter.value("tags").toObject().value("title").toString(),
                     QStringLiteral("Slide %1").arg(i + 1));
        }

        for (const Slide &slide : std::as_const(slides)) {
            const QImage frame = frameAt(output, slide.timeMs / 1000.0 + 0.3);
            QCOMPARE(frame.size(), videoSize);
            QImage expected = expectedPicture(slide.seeds, slideSize, videoSize);
            if (lastSlideSize.isValid() && slide.seeds.constFirst() == lastSeed) {
                expected.fill(Qt::black);
                const QSize fitted = lastSlideSize.scaled(videoSize, Qt::KeepAspectRatio);
                QPainter painter(&expected);
                painter.drawImage(
                    (videoSize.width() - fitted.width()) / 2,
                    (videoSize.height() - fitted.height()) / 2,
                    lastPicture.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            }
            const double difference = meanDifference(frame, expected);
            QVERIFY2(difference < 4, qPrintable(QString::number(difference)));
        }
        if (slides.constFirst().timeMs > 0) {
            QImage black(videoSize, QImage::Format_RGB32);
            black.fill(Qt::black);
            QVERIFY(meanDifference(frameAt(output, 0.3), black) < 6);
        }
    }

    // The recorder writes what the audio interface delivers: 32-bit integers or floats, any rate
    // and channel count. The tone must come out as a tone, at a rate AAC supports.
    void convertsRecordedSampleFormats_data()
    {
        QTest::addColumn<int>("formatTag");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("encodedRate");
        QTest::newRow("int32 stereo 48 kHz") << 1 << 32 << 48000 << 2 << 48000;
        QTest::newRow("float mono 44.1 kHz") << 3 << 32 << 44100 << 1 << 44100;
        QTest::newRow("int16 stereo 37.8 kHz") << 1 << 16 << 37800 << 2 << 48000;
    }

    void convertsRecordedSampleFormats()
    {
        QFETCH(int, formatTag);
        QFETCH(int, bits);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, encodedRate);
        const QString dir = ExportTestPresentation::create(
            m_dir.path(), QStringLiteral("format-%1-%2-%3").arg(formatTag).arg(bits).arg(rate),
            QStringLiteral("Formats"), {{0, {1}}, {2000, {2}}}, 0);
        QVERIFY(!dir.isEmpty());
        QFile wav(QDir(dir).absoluteFilePath(QStringLiteral("audio.wav")));
        QVERIFY(wav.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(wav.write(toneWav(formatTag, bits, rate, channels, 4.0)) > 0);
        wav.close();
        RecordedPresentation presentation;
        QString message;
        QVERIFY2(presentation.load(QDir(dir), &message), qPrintable(message));
        QCOMPARE(presentation.audioDurationMs(), 4000);

        const QString output = QDir(dir).absoluteFilePath(QStringLiteral("video.mp4"));
        ExportControl control;
        VideoExporter exporter;
        QVERIFY2(exporter.write(presentation, output, control, &message), qPrintable(message));
        const QJsonObject info = probe(output);
        QVERIFY(std::abs(info.value("format").toObject().value("duration").toString().toDouble() -
                         4.0) < 0.1);
        bool found = false;
        for (const QJsonValue &value : info.value("streams").toArray()) {
            const QJsonObject stream = value.toObject();
            if (stream.value("codec_type") != QStringLiteral("audio"))
                continue;
            found = true;
            QCOMPARE(stream.value("sample_rate").toString(), QString::number(encodedRate));
            QCOMPARE(stream.value("channels").toInt(), channels);
        }
        QVERIFY(found);

        // Half a second in, away from the encoder's start: a 440 Hz tone at a quarter of full
        // scale crosses zero 880 times a second, with an RMS of about 0.18.
        const QList<qint16> samples = decodedAudio(output);
        QVERIFY(samples.size() > 48000 * 3);
        int crossings = 0;
        double squares = 0;
        for (int i = 24000; i < 24000 + 96000; ++i) {
            if ((samples.at(i - 1) < 0) != (samples.at(i) < 0))
                ++crossings;
            squares += double(samples.at(i)) * samples.at(i);
        }
        const double rms = std::sqrt(squares / 96000) / 32768.0;
        QVERIFY2(std::abs(crossings - 1760) < 20, qPrintable(QString::number(crossings)));
        QVERIFY2(rms > 0.15 && rms < 0.21, qPrintable(QString::number(rms)));
    }

    // Cancelled from the progress report, as the window's cancel button does from another thread.
    void cancelLeavesNothing()
    {
        const QString dir = ExportTestPresentation::create(
            m_dir.path(), QStringLiteral("cancel"), QStringLiteral("Cancel"),
            {{0, {1}}, {3000, {2}}, {7000, {3}}}, 12000);
        QVERIFY(!dir.isEmpty());
        RecordedPresentation presentation;
        QString message;
        QVERIFY2(presentation.load(QDir(dir), &message), qPrintable(message));
        const QString out = outputDir(QStringLiteral("cancel-out"));
        ExportControl control;
        int lastProgress = 0;
        control.setProgressHandler([&](int percent) {
            lastProgress = percent;
            if (percent >= 30)
                control.cancel();
        });
        VideoExporter exporter;
        QVERIFY(
            !exporter.write(presentation, out + QStringLiteral("/talk.mp4"), control, &message));
        QCOMPARE(message, ExportControl::cancelledMessage());
        QVERIFY(lastProgress >= 30 && lastProgress < 100);
        QCOMPARE(filesIn(out), QStringList());
    }

    void unusablePresentationsAreRefused()
    {
        VideoExporter exporter;
        ExportControl control;
        QString message;
        const QString out = outputDir(QStringLiteral("refused-out"));
        const QString output = out + QStringLiteral("/video.mp4");

        const QString silent = ExportTestPresentation::create(
            m_dir.path(), QStringLiteral("silent"), QStringLiteral("Silent"), {{0, {1}}}, -1);
        RecordedPresentation presentation;
        QVERIFY(presentation.load(QDir(silent), &message));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[VideoExporter\\] export to .* failed: The "
                                                "presentation has no audio: .*audio.wav is "
                                                "missing.$"));
        QVERIFY(!exporter.write(presentation, output, control, &message));
        QCOMPARE(message, presentation.missingAudioMessage());

        const QString damaged = ExportTestPresentation::create(
            m_dir.path(), QStringLiteral("damaged"), QStringLiteral("Damaged"),
            {{0, {1}}, {1000, {2}}, {2000, {3}}}, 3000);
        const QString bad = QDir(damaged).absoluteFilePath(QStringLiteral("0-0003.png"));
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.write("not a picture at all") > 0);
        file.close();
        QVERIFY(presentation.load(QDir(damaged), &message));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[VideoExporter\\] export to .* failed: "
                                                "Cannot read the slide file .*0-0003.png.$"));
        QVERIFY(!exporter.write(presentation, output, control, &message));
        QCOMPARE(
            message,
            QStringLiteral("Cannot read the slide file %1.").arg(QDir::toNativeSeparators(bad)));

        // A deleted slide is already noticed when the presentation is read.
        QVERIFY(QFile::remove(bad));
        QVERIFY(!presentation.load(QDir(damaged), &message));
        QVERIFY2(message.contains(QStringLiteral("0-0003.png")), qPrintable(message));
        QCOMPARE(filesIn(out), QStringList());
    }

    // A full disk or quota cuts the export off half-way: the old video stays as it was.
    void writeFailureKeepsFormerFile()
    {
        const QString dir = ExportTestPresentation::create(
            m_dir.path(), QStringLiteral("limited"), QStringLiteral("Limited"),
            {{0, {1}}, {4000, {2}}, {8000, {3}}}, 12000);
        QVERIFY(!dir.isEmpty());
        RecordedPresentation presentation;
        QString message;
        QVERIFY2(presentation.load(QDir(dir), &message), qPrintable(message));
        const QString out = outputDir(QStringLiteral("limited-out"));
        const QString output = out + QStringLiteral("/video.mp4");
        QFile former(output);
        QVERIFY(former.open(QIODevice::WriteOnly));
        QVERIFY(former.write("the video of last time") > 0);
        former.close();

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[VideoExporter\\] export to .* failed: "
                                                "Cannot write the video .*: File too large$"));
        ExportControl control;
        VideoExporter exporter;
        bool written = true;
        {
            const FileSizeLimit limit(40 * 1024);
            QVERIFY(limit.isActive());
            written = exporter.write(presentation, output, control, &message);
        }
        QVERIFY(!written);
        QCOMPARE(message, QStringLiteral("Cannot write the video %1: File too large")
                              .arg(QDir::toNativeSeparators(output)));
        QVERIFY(control.progress() > 0 && control.progress() < 100);
        QCOMPARE(filesIn(out), QStringList{"video.mp4"});
        QCOMPARE(readAll(output), QStringLiteral("the video of last time"));
    }

    // The module reads presentations with the program's classes: a copy of its own would give
    // them a second meta object and second static data in the same process.
    void moduleHasNoCopyOfTheProgramsClasses()
    {
        QLibrary module(TestEnvironment::binaryPath(QStringLiteral("libquillora_video.so")));
        QVERIFY2(module.load(), qPrintable(module.errorString()));
        // Looked up in the module and its libraries only, not in the program.
        QVERIFY(module.resolve("quillora_create_video_exporter"));
        for (const char *symbol : {"_ZN12Presentation16staticMetaObjectE",
                                   "_ZN20RecordedPresentation4loadERK4QDirP7QString",
                                   "_ZN13WavFileHeader4readEP9QIODevice"}) {
            QVERIFY2(!module.resolve(symbol), symbol);
        }
    }
};

QTEST_GUILESS_MAIN(VideoExportTest)
#include "tst_videoexport.moc"
