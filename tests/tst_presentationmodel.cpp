#include "Presentation.h"
#include "PresentationModel.h"
#include "PresentationModelLoader.h"
#include "PresentationTestDirs.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <memory>

using namespace PresentationTestDirs;

class PresentationModelTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_workDir;

    static QStringList titles(const PresentationModel &model)
    {
        QStringList result;
        for (int row = 0; row < model.rowCount(); ++row)
            result.append(model.index(row, 0).data(PresentationModel::TitleRole).toString());
        result.sort();
        return result;
    }

private Q_SLOTS:
    void init()
    {
        m_workDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_workDir->isValid());
        QCoreApplication::instance()->setProperty("workDir", m_workDir->path());
        const QDir dir(m_workDir->path());
        QVERIFY(makePresentation(dir, "Presentation 2024-03-05T14-07-09", "First",
                                 "2024-03-05T14:07:09", "1 0\n2 1000\n"));
        QVERIFY(makePresentation(dir, "Live Stream 2024-03-06T10-00-00", "Second",
                                 "2024-03-06T10:00:00"));
        QVERIFY(makePresentation(dir, "Presentation 2024-03-07T08-30-00", "Third",
                                 "2024-03-07T08:30:00", "1 0\n"));
        QVERIFY(dir.mkpath("unrelated/with slides"));
        QVERIFY(writeFile(dir.absoluteFilePath("unrelated/timestamps_ms.txt"), "1 0\n"));
        QVERIFY(writeFile(dir.absoluteFilePath("a file.txt"), "not a directory"));
    }

    void loadsPresentationsInTheBackground()
    {
        PresentationModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTRY_COMPARE(model.rowCount(), 3);
        QCOMPARE(titles(model), (QStringList{"First", "Second", "Third"}));
        QCOMPARE(model.columnCount(), 1);
    }

    void roles()
    {
        PresentationModel model;
        QTRY_COMPARE(model.rowCount(), 3);
        const QHash<int, QByteArray> names = model.roleNames();
        QCOMPARE(names.value(257), QByteArray("presentationObject"));
        QCOMPARE(names.value(258), QByteArray("title"));
        QCOMPARE(names.value(259), QByteArray("directory"));
        QCOMPARE(names.value(260), QByteArray("slideCount"));
        QCOMPARE(names.value(261), QByteArray("recordedAt"));
        QCOMPARE(names.value(262), QByteArray("recordedAtString"));
        QCOMPARE(names.size(), 6);

        int row = 0;
        while (model.index(row, 0).data(258).toString() != QStringLiteral("First"))
            ++row;
        const QModelIndex index = model.index(row, 0);
        auto *presentation = index.data(257).value<Presentation *>();
        QVERIFY(presentation);
        QCOMPARE(presentation->title(), QStringLiteral("First"));
        // Handed over to the model's thread, so that its deferred deletion can run.
        QCOMPARE(presentation->thread(), model.thread());
        QCOMPARE(index.data(259).toString(),
                 QDir(m_workDir->path()).absoluteFilePath("Presentation 2024-03-05T14-07-09"));
        QCOMPARE(index.data(260).toInt(), 2);
        QCOMPARE(index.data(261).toDateTime(), QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
        QCOMPARE(index.data(262).toString(), QStringLiteral("2024/03/05 14:07"));
    }

    void invalidRolesAndRows()
    {
        PresentationModel model;
        QTRY_COMPARE(model.rowCount(), 3);
        const QModelIndex first = model.index(0, 0);
        QVERIFY(!model.data(first, 256).isValid());
        QVERIFY(!model.data(first, 263).isValid());
        QVERIFY(!model.data(first, Qt::DisplayRole).isValid());
        QVERIFY(!model.index(3, 0).isValid());
        QVERIFY(!model.data(model.index(3, 0), 258).isValid());
        QVERIFY(!model.data(QModelIndex(), 258).isValid());
        QCOMPARE(model.rowCount(first), 0);
        QVERIFY(!model.parent(first).isValid());
    }

    void reloadRebuildsTheList()
    {
        PresentationModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTRY_COMPARE(model.rowCount(), 3);
        QPointer<Presentation> old = model.index(0, 0).data(257).value<Presentation *>();
        QVERIFY(makePresentation(QDir(m_workDir->path()), "Presentation 2024-03-08T09-00-00",
                                 "Fourth", "2024-03-08T09:00:00", "1 0\n2 5\n3 9\n"));
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.reload();
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model.rowCount(), 0);
        QTRY_COMPARE(model.rowCount(), 4);
        QTRY_VERIFY(old.isNull()); // the old rows were disposed of
        QCOMPARE(titles(model), (QStringList{"First", "Fourth", "Second", "Third"}));
    }

    // Reloads in a row, as a user who clicks quickly: only the last list arrives, each
    // presentation once, and no two loaders go through the directory at the same time.
    void reloadsInARowListEachPresentationOnce()
    {
        const QDir dir(m_workDir->path());
        QStringList expected{"First", "Second", "Third"};
        for (int i = 0; i < 100; ++i) {
            const QString title = QStringLiteral("Bulk %1").arg(i, 3, 10, QLatin1Char('0'));
            QVERIFY(makePresentation(dir, title, title, "2024-01-01T00:00:00", "1 0\n"));
            expected.append(title);
        }
        expected.sort();
        PresentationModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        int mostLoadersRunning = 0;
        const auto countLoaders = [&model, &mostLoadersRunning] {
            const auto loaders = model.findChildren<PresentationModelLoader *>();
            const auto running = std::count_if(loaders.cbegin(), loaders.cend(),
                                               [](QThread *loader) { return loader->isRunning(); });
            mostLoadersRunning = qMax(mostLoadersRunning, int(running));
        };
        connect(&model, &QAbstractItemModel::rowsInserted, this, countLoaders);
        for (int delay : {0, 0, 1, 3, 0, 10}) {
            QTest::qWait(delay);
            model.reload();
            countLoaders();
        }
        // The last loader deletes itself once it has handed over everything.
        QTRY_VERIFY_WITH_TIMEOUT(model.findChildren<PresentationModelLoader *>().isEmpty(), 20000);
        QCOMPARE(titles(model), expected);
        QCOMPARE(mostLoadersRunning, 1);
    }

    void titleChangeUpdatesRow()
    {
        PresentationModel model;
        QTRY_COMPARE(model.rowCount(), 3);
        auto *presentation = model.index(1, 0).data(257).value<Presentation *>();
        connect(presentation, &Presentation::property_titleChanged, &model,
                &PresentationModel::onPresentationTitleChanged);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        presentation->setTitle(QStringLiteral("Renamed"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 1);
        QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>{258});
        QCOMPARE(model.index(1, 0).data(258).toString(), QStringLiteral("Renamed"));
    }

    // A recording that was killed leaves audio.wav with the lengths of its last header update;
    // loading the list makes it whole again, but leaves alone a file that is still being
    // written.
    void loadingRepairsTheAudioOfAKilledRecording()
    {
        const QDir dir(m_workDir->path());
        // 48 kHz mono 32-bit, lengths still 0.
        const QByteArray header = QByteArray::fromHex("52494646000000005741564566"
                                                      "6d74201000000001000100"
                                                      "80bb000000ee02000400200064617461"
                                                      "00000000");
        QCOMPARE(header.size(), 44);
        const auto writeWav = [&header](const QString &path, qint64 dataBytes) {
            QByteArray bytes(44 + dataBytes, '\1');
            bytes.replace(0, 44, header);
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        const QString killed = dir.absoluteFilePath("Presentation 2024-03-05T14-07-09/audio.wav");
        QVERIFY(writeWav(killed, 4800 * 4 + 3)); // and a partial last frame
        {
            QFile file(killed);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                     QFileDevice::FileModificationTime));
        }
        const QString recording = dir.absoluteFilePath("Live Stream 2024-03-06T10-00-00/audio.wav");
        QVERIFY(writeWav(recording, 4800 * 4));

        PresentationModel model;
        QTRY_COMPARE(model.rowCount(), 3);
        QFile repaired(killed);
        QVERIFY(repaired.open(QIODevice::ReadOnly));
        const QByteArray bytes = repaired.readAll();
        QCOMPARE(bytes.size(), 44 + 4800 * 4);
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(bytes.size() - 8));
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 40), quint32(4800 * 4));
        QCOMPARE(bytes.mid(8, 32), header.mid(8, 32));

        QFile untouched(recording);
        QVERIFY(untouched.open(QIODevice::ReadOnly));
        QCOMPARE(qFromLittleEndian<quint32>(untouched.readAll().constData() + 40), 0u);
    }

    void emptyOrMissingWorkDirectory()
    {
        QCoreApplication::instance()->setProperty("workDir", m_workDir->filePath("missing"));
        PresentationModel missing;
        QCoreApplication::instance()->setProperty("workDir", QString());
        PresentationModel empty;
        QTest::qWait(300);
        QCOMPARE(missing.rowCount(), 0);
        QCOMPARE(empty.rowCount(), 0);
    }

    void destroyedWhileLoading()
    {
        // Many directories, and the model goes away while its loader still runs.
        for (int i = 0; i < 200; ++i)
            QVERIFY(makePresentation(QDir(m_workDir->path()), QStringLiteral("Bulk %1").arg(i),
                                     QStringLiteral("Bulk"), "2024-01-01T00:00:00", "1 0\n"));
        for (int delay : {0, 1, 5, 20}) {
            auto model = std::make_unique<PresentationModel>();
            QTest::qWait(delay);
            model.reset();
        }
    }
};

QTEST_GUILESS_MAIN(PresentationModelTest)
#include "tst_presentationmodel.moc"
