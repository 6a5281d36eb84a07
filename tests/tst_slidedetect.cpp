#include "SlideTestFrames.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/imgcodecs.hpp>

using namespace SlideTestFrames;

// The command-line detection tool over a small generated sequence of pictures.
class SlideDetectTest : public QObject
{
    Q_OBJECT

    static QStringList run(const QStringList &arguments, int *exitCode = nullptr)
    {
        QProcess process;
        process.start(TestEnvironment::binaryPath(QStringLiteral("tools/QuilloraSlideDetect")),
                      arguments);
        if (!process.waitForFinished(60000))
            return {QStringLiteral("timeout")};
        if (exitCode)
            *exitCode = process.exitCode();
        return QString::fromUtf8(process.readAllStandardOutput())
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static bool write(const QDir &dir, const QString &name, const cv::Mat &picture)
    {
        return cv::imwrite(dir.absoluteFilePath(name).toStdString(), picture);
    }

    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QDir dir(m_dir.path());
        const cv::Mat a = slidePicture(1280, 720, 1);
        const cv::Mat b = slidePicture(1280, 720, 2);
        const cv::Mat c = slidePicture(1280, 720, 3);
        // File-name order, not creation order; a JPEG among the PNGs, whose compression is no
        // change.
        QVERIFY(write(dir, "frame_06.png", c));
        QVERIFY(write(dir, "frame_00.png", a));
        QVERIFY(write(dir, "frame_01.png", a));
        QVERIFY(write(dir, "frame_02.jpg", a));
        QVERIFY(write(dir, "frame_03.png", b));
        QVERIFY(write(dir, "frame_04.png", b));
        QVERIFY(write(dir, "frame_05.png", c));
        // Not pictures: the text file is not looked at, the broken PNG is skipped.
        for (const char *name : {"notes.txt", "frame_07.png"}) {
            QFile file(dir.absoluteFilePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not a picture");
        }
    }

    void printsKeptIndices()
    {
        int exitCode = -1;
        const QStringList output = run({m_dir.path()}, &exitCode);
        QCOMPARE(exitCode, 0);
        QCOMPARE(output, (QStringList{"0", "3", "5"}));
    }

    void benchAddsMeanTime()
    {
        const QStringList output = run({m_dir.path(), QStringLiteral("--bench")});
        QCOMPARE(output.size(), 4);
        QCOMPARE(output.mid(0, 3), (QStringList{"0", "3", "5"}));
        QVERIFY2(output.last().startsWith(QStringLiteral("mean ms per picture: ")),
                 qPrintable(output.last()));
    }

    // Every kept index is followed by the reason: the rule, the screen and how many tiles.
    void explainTellsWhy()
    {
        const QStringList output = run({m_dir.path(), QStringLiteral("--explain")});
        QCOMPARE(output.size(), 6);
        QCOMPARE(output.at(0), QStringLiteral("0"));
        QCOMPARE(output.at(1), QStringLiteral("    kept: first picture"));
        QCOMPARE(output.at(2), QStringLiteral("3"));
        QVERIFY2(QRegularExpression(QStringLiteral("^    kept: screen 0: \\d+ of 104 tiles differ "
                                                   "from the slide; settled for 1 capture"))
                     .match(output.at(3))
                     .hasMatch(),
                 qPrintable(output.at(3)));
        QCOMPARE(output.at(4), QStringLiteral("5"));
        QVERIFY2(output.at(5).startsWith(QStringLiteral("    kept: screen 0: ")),
                 qPrintable(output.at(5)));
    }

    void missingDirectory()
    {
        int exitCode = -1;
        run({m_dir.filePath(QStringLiteral("missing"))}, &exitCode);
        QCOMPARE(exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(SlideDetectTest)
#include "tst_slidedetect.moc"
