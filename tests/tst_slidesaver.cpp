#include "FileSizeLimit.h"
#include "SlideSaver.h"
#include "SlideTestFrames.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace SlideTestFrames;

class SlideSaverTest : public QObject
{
    Q_OBJECT

    static QStringList lines(const QDir &dir)
    {
        QFile file(dir.absoluteFilePath(QStringLiteral("timestamps_ms.txt")));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static QStringList pngFiles(const QDir &dir)
    {
        return dir.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    }

    static QStringList allFiles(const QDir &dir)
    {
        return dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

private Q_SLOTS:
    void cleanup() { QCOMPARE(liveFrames(), 0); }

    void namesLinesAndSignals()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QDir dir(tmp.path());
        SlideSaver saver(dir);
        QSignalSpy saved(&saver, &SlideSaver::slideSaved);
        QSignalSpy batches(&saver, &SlideSaver::slidesSaved);
        QSignalSpy errors(&saver, &SlideSaver::slideSavingError);

        saver.start();
        const cv::Mat a = slidePicture(320, 200, 1);
        const cv::Mat b = slidePicture(160, 100, 2);
        saver.addSlides(0, batch({a}));
        saver.addSlides(15230, batch({b}));
        saver.addSlides(20000, batch({a, b}));
        saver.requestStop();
        QVERIFY(saver.wait(10000));

        QCOMPARE(pngFiles(dir),
                 (QStringList{"0-0001.png", "0-0002.png", "0-0003.png", "1-0003.png"}));
        QCOMPARE(lines(dir), (QStringList{"1 0", "2 15230", "3 20000"}));
        QCOMPARE(saver.savedSlideCount(), 3);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(saved.count(), 4);
        const QList<QVariant> last = saved.last();
        QCOMPARE(last.at(0).toInt(), 1);
        QCOMPARE(last.at(1).toLongLong(), 20000);
        QCOMPARE(last.at(2).toString(), QStringLiteral("1-0003"));
        QCOMPARE(last.at(3).toString(), dir.absoluteFilePath(QStringLiteral("1-0003.png")));
        QCOMPARE(batches.count(), 3);
        const auto lastBatch = batches.last().at(0).value<QList<SlideSaver::SavedSlide>>();
        QCOMPARE(lastBatch.size(), 2);
        QCOMPARE(lastBatch.at(0).name, QStringLiteral("0-0003"));

        // What is on disk is the picture that was handed over.
        const QImage written(dir.absoluteFilePath(QStringLiteral("1-0003.png")));
        QCOMPARE(written.size(), QSize(160, 100));
        QCOMPARE(written.pixelColor(80, 50), toImage(b).pixelColor(80, 50));
    }

    void numberHasAtLeastFourDigits()
    {
        QTemporaryDir tmp;
        SlideSaver saver{QDir(tmp.path())};
        const SlideImage image{nullptr, toImage(slidePicture(64, 48, 3))};
        QCOMPARE(saver.saveSlide(10000, 0, 5, image)->name, QStringLiteral("0-10000"));
        QCOMPARE(saver.saveSlide(7, 2, 5, image)->name, QStringLiteral("2-0007"));
        QVERIFY(QFile::exists(QDir(tmp.path()).absoluteFilePath(QStringLiteral("0-10000.png"))));
    }

    void unencodablePictureIsNoSlide()
    {
        QTemporaryDir tmp;
        const QDir dir(tmp.path());
        SlideSaver saver(dir);
        QSignalSpy saved(&saver, &SlideSaver::slideSaved);
        QSignalSpy batches(&saver, &SlideSaver::slidesSaved);
        QSignalSpy errors(&saver, &SlideSaver::slideSavingError);
        QSignalSpy writeFailed(&saver, &SlideSaver::writeFailed);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\[SlideSaver\\] saving .* failed"));
        // A null image cannot be encoded: the whole batch is dropped, its first screen included,
        // and the recording goes on.
        QList<SlideImage> slides = batch({slidePicture(64, 48, 4), slidePicture(64, 48, 5)});
        slides[1].image = QImage();
        saver.saveSlides(3000, slides);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(),
                 QStringLiteral("Saving slide 1-0001 in PNG format failed."));
        QCOMPARE(writeFailed.count(), 0);
        QCOMPARE(saved.count(), 0);
        QCOMPARE(batches.count(), 0);
        QVERIFY(allFiles(dir).isEmpty());
        QCOMPARE(saver.savedSlideCount(), 0);

        saver.saveSlides(4000, batch({slidePicture(64, 48, 6)}));
        QCOMPARE(pngFiles(dir), QStringList{"0-0001.png"});
        QCOMPARE(lines(dir), QStringList{"1 4000"});
    }

    void writeFaultKeepsWrittenSlidesWhole_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::addColumn<QString>("reason");
        QTest::newRow("file-size limit") << false << "File too large";
        QTest::newRow("full disk") << true << "No space left on device";
    }

    // Slides written into a file-size limit or onto a small file system: the PNG that does not fit
    // ends the saving with the system's reason, and everything before it stays whole.
    void writeFaultKeepsWrittenSlidesWhole()
    {
        QFETCH(bool, fullDisk);
        QFETCH(QString, reason);
        QTest::failOnWarning(QRegularExpression(".*"));
        QTemporaryDir tmp;
        const QDir dir(tmp.path());
        if (fullDisk) {
            if (QProcess::execute(QStringLiteral("mount"),
                                  {"-t", "tmpfs", "-o", "size=128k", "tmpfs", tmp.path()}) != 0)
                QSKIP("mounting a small file system needs root");
        }
        const auto unmount = qScopeGuard([&] {
            if (fullDisk)
                QProcess::execute(QStringLiteral("umount"), {"-l", tmp.path()});
        });
        SlideSaver saver(dir);
        QSignalSpy saved(&saver, &SlideSaver::slideSaved);
        QSignalSpy batches(&saver, &SlideSaver::slidesSaved);
        QSignalSpy writeFailed(&saver, &SlideSaver::writeFailed);
        QSignalSpy stopped(&saver, &SlideSaver::stopped);
        const QString message = QStringLiteral("Cannot write 1-0004.png: ") + reason;
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("[SlideSaver] ") + message));

        // Plain slides compress to a few kilobytes; a noisy picture of this size does not.
        const cv::Mat noisy = withNoise(slidePicture(400, 300, 20), 60.0, 21);
        {
            std::optional<FileSizeLimit> limit;
            if (!fullDisk) {
                limit.emplace(64 * 1024);
                QVERIFY(limit->isActive());
            }
            saver.start();
            for (int i = 0; i < 3; ++i)
                saver.addSlides(i * 1000, batch({slidePicture(320, 200, 10 + i)}));
            saver.addSlides(3000, batch({slidePicture(320, 200, 13), noisy}));
            saver.addSlides(4000, batch({slidePicture(320, 200, 14)}));
            saver.requestStop();
            QVERIFY(saver.wait(20000));
        }

        QCOMPARE(stopped.count(), 1);
        QCOMPARE(writeFailed.count(), 1);
        QCOMPARE(writeFailed.at(0).at(0).toString(), message);
        // No temporary file left, no picture of the failed batch, nothing after it.
        QCOMPARE(allFiles(dir),
                 (QStringList{"0-0001.png", "0-0002.png", "0-0003.png", "timestamps_ms.txt"}));
        QCOMPARE(lines(dir), (QStringList{"1 0", "2 1000", "3 2000"}));
        for (const QString &name : pngFiles(dir)) {
            const QImage written(dir.absoluteFilePath(name));
            QCOMPARE(written.size(), QSize(320, 200));
        }
        QCOMPARE(saver.savedSlideCount(), 3);
        QCOMPARE(saved.count(), 3);
        QCOMPARE(batches.count(), 3);
    }

    void failedLineLeavesNoHalfLine()
    {
        QTemporaryDir tmp;
        const QDir dir(tmp.path());
        const QString timestamps = dir.absoluteFilePath(QStringLiteral("timestamps_ms.txt"));
        const qint64 limitBytes = 16 * 1024;
        // Room for three bytes of the next line only.
        QFile filler(timestamps);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        QVERIFY(filler.write(QByteArray(limitBytes - 3, '#')) == limitBytes - 3);
        filler.close();

        SlideSaver saver(dir);
        QSignalSpy saved(&saver, &SlideSaver::slideSaved);
        QSignalSpy writeFailed(&saver, &SlideSaver::writeFailed);
        QTest::ignoreMessage(QtWarningMsg,
                             "[SlideSaver] Cannot write timestamps_ms.txt: File too large");
        {
            const FileSizeLimit limit(limitBytes);
            QVERIFY(limit.isActive());
            saver.saveSlides(12345, batch({slidePicture(64, 48, 30)}));
            saver.saveSlides(13345, batch({slidePicture(64, 48, 31)}));
        }
        QCOMPARE(writeFailed.count(), 1);
        QCOMPARE(writeFailed.at(0).at(0).toString(),
                 QStringLiteral("Cannot write timestamps_ms.txt: File too large"));
        QCOMPARE(QFileInfo(timestamps).size(), limitBytes - 3);
        QVERIFY(pngFiles(dir).isEmpty());
        QCOMPARE(saved.count(), 0);
        QCOMPARE(saver.savedSlideCount(), 0);
    }

    void refusedAfterStopAndReleased()
    {
        QTemporaryDir tmp;
        const QDir dir(tmp.path());
        SlideSaver saver(dir);
        QSignalSpy stopped(&saver, &SlideSaver::stopped);
        saver.start();
        saver.requestStop();
        saver.addSlides(0, batch({slidePicture(64, 48, 5)}));
        QVERIFY(saver.wait(5000));
        QCOMPARE(stopped.count(), 1);
        QCOMPARE(liveFrames(), 0);
        QVERIFY(pngFiles(dir).isEmpty());
        QCOMPARE(saver.savedSlideCount(), 0);
    }

    void queuedBatchesWrittenBeforeStop()
    {
        QTemporaryDir tmp;
        const QDir dir(tmp.path());
        SlideSaver saver(dir);
        // Queued before the thread runs, then stopped: all of them are still written.
        for (int i = 0; i < 5; ++i)
            saver.addSlides(i * 1000, batch({slidePicture(640, 360, 10 + i)}));
        saver.requestStop();
        saver.start();
        QVERIFY(saver.wait(10000));
        QCOMPARE(pngFiles(dir).size(), 5);
        QCOMPARE(lines(dir).size(), 5);
    }

    void destroyedWithQueuedBatches()
    {
        QTemporaryDir tmp;
        auto saver = std::make_unique<SlideSaver>(QDir(tmp.path()));
        saver->addSlides(0, batch({slidePicture(64, 48, 6), slidePicture(64, 48, 7)}));
        QCOMPARE(liveFrames(), 2);
        saver.reset();
    }

    void unwritableDirectory()
    {
        SlideSaver saver(QDir(QStringLiteral("/nonexistent/quillora-test")));
        QSignalSpy errors(&saver, &SlideSaver::slideSavingError);
        QSignalSpy writeFailed(&saver, &SlideSaver::writeFailed);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\[SlideSaver\\] Cannot write"));
        saver.saveSlides(1, batch({slidePicture(64, 48, 8)}));
        saver.saveSlides(2, batch({slidePicture(64, 48, 9)}));
        QCOMPARE(writeFailed.count(), 1);
        QCOMPARE(writeFailed.at(0).at(0).toString(),
                 QStringLiteral("Cannot write 0-0001.png: No such file or directory"));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(saver.savedSlideCount(), 0);
    }
};

QTEST_GUILESS_MAIN(SlideSaverTest)
#include "tst_slidesaver.moc"
