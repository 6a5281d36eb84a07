#include "FileSizeLimit.h"
#include "Presentation.h"
#include "PresentationTestDirs.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace PresentationTestDirs;

class PresentationTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_workDir;

    static QString readAll(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_workDir.isValid());
        QCoreApplication::instance()->setProperty("workDir", m_workDir.path());
    }

    void createWritesDirectoryAndXml()
    {
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
        std::unique_ptr<Presentation> presentation(Presentation::create(false, false, QString()));
        QVERIFY(presentation);
        const QDateTime start = presentation->recordedAt();
        QVERIFY(start >= before && start <= QDateTime::currentDateTime());

        const QString stamp = start.toString(Qt::ISODate).replace(':', '-');
        const QString name = QStringLiteral("Presentation ") + stamp;
        QCOMPARE(presentation->dir().dirName(), name);
        QCOMPARE(presentation->title(), name);
        QVERIFY(!presentation->isLiveStream());

        const QString xml = readAll(presentation->dir().absoluteFilePath("presentation.xml"));
        const QString expected = QStringLiteral("<?xml version='1.0' encoding='UTF-8'?>\n"
                                                "<presentation>\n"
                                                "    <name>%1</name>\n"
                                                "    <recordingStart>%2</recordingStart>\n"
                                                "</presentation>\n")
                                     .arg(name, start.toString(Qt::ISODate));
        QCOMPARE(xml, expected);
        // Seconds only, no milliseconds and no zone suffix.
        QVERIFY(xml.contains(QRegularExpression(
            "<recordingStart>\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d</recordingStart>")));
    }

    void createLiveStreamCarriesChoices()
    {
        std::unique_ptr<Presentation> presentation(
            Presentation::create(true, true, QStringLiteral("abc-123")));
        QVERIFY(presentation);
        QVERIFY(presentation->dir().dirName().startsWith(QStringLiteral("Live Stream 20")));
        QVERIFY(presentation->isLiveStream());
        QVERIFY(presentation->connectToExistingLiveStream());
        QCOMPARE(presentation->livestreamPresentationId(), QStringLiteral("abc-123"));

        // Loaded back, the live-stream choices are not part of the file.
        std::unique_ptr<Presentation> loaded(Presentation::load(presentation->dir()));
        QVERIFY(loaded);
        QVERIFY(!loaded->isLiveStream());
        QCOMPARE(loaded->title(), presentation->title());
        QCOMPARE(loaded->recordedAt().toSecsSinceEpoch(),
                 presentation->recordedAt().toSecsSinceEpoch());
    }

    // A recording started just before took the name of this second: the next one gets a
    // numbered name of its own instead of failing.
    void createNumbersATakenName()
    {
        const QDateTime now = QDateTime::currentDateTime();
        for (int second = 0; second < 3; ++second) {
            const QString stamp = now.addSecs(second).toString(Qt::ISODate).replace(':', '-');
            QVERIFY(QDir(m_workDir.path()).mkpath(QStringLiteral("Presentation ") + stamp));
        }
        std::unique_ptr<Presentation> presentation(Presentation::create(false, false, QString()));
        QVERIFY(presentation);
        QVERIFY2(presentation->dir().dirName().endsWith(" (2)"),
                 qPrintable(presentation->dir().dirName()));
        QCOMPARE(presentation->title(), presentation->dir().dirName());
        QVERIFY(QFileInfo::exists(presentation->dir().filePath("presentation.xml")));
    }

    void xmlRoundTripWithSpecialCharacters()
    {
        const QDir dir(m_workDir.filePath(QStringLiteral("special")));
        QVERIFY(QDir().mkpath(dir.path()));
        Presentation presentation(dir);
        presentation.setTitle(QStringLiteral("Q&A <live> \"quoted\" & ünïcode"));
        presentation.setRecordedAt(QDateTime(QDate(2024, 3, 5), QTime(9, 5, 3)));
        QVERIFY(presentation.saveXml());

        const QString xml = readAll(dir.absoluteFilePath("presentation.xml"));
        QVERIFY(xml.contains(QStringLiteral("Q&amp;A &lt;live>")));
        QVERIFY(
            xml.contains(QStringLiteral("<recordingStart>2024-03-05T09:05:03</recordingStart>")));

        Presentation loaded(dir);
        QVERIFY(loaded.loadXml());
        QCOMPARE(loaded.title(), presentation.title());
        QCOMPARE(loaded.recordedAt(), presentation.recordedAt());
    }

    void emptyTitleGivesStartAndEndTag()
    {
        const QDir dir(m_workDir.filePath(QStringLiteral("empty-title")));
        QVERIFY(QDir().mkpath(dir.path()));
        Presentation presentation(dir);
        QVERIFY(presentation.saveXml());
        QVERIFY(readAll(dir.absoluteFilePath("presentation.xml"))
                    .contains(QStringLiteral("<name></name>")));
    }

    void slideCountOverSubDirectories()
    {
        const QDir parent(m_workDir.filePath(QStringLiteral("counted")));
        QVERIFY(makePresentation(parent, QStringLiteral("P"), QStringLiteral("Counted"),
                                 QStringLiteral("2024-03-05T14:07:09"),
                                 "1 0\n\n2 1500\n3 2900\n\n"));
        const QDir dir(parent.absoluteFilePath(QStringLiteral("P")));
        QVERIFY(dir.mkpath(QStringLiteral("slides_1/deeper")));
        QVERIFY(writeFile(dir.absoluteFilePath("slides_1/timestamps_ms.txt"), "1 10\n2 20\n"));
        QVERIFY(writeFile(dir.absoluteFilePath("slides_1/deeper/timestamps_ms.txt"), "\n1 5"));
        // Other files do not count.
        QVERIFY(writeFile(dir.absoluteFilePath("slides_1/timestamps_ms.txt.bak"), "1 1\n"));

        std::unique_ptr<Presentation> presentation(Presentation::load(dir));
        QVERIFY(presentation);
        QCOMPARE(presentation->slideCount(), 6);
        QCOMPARE(presentation->title(), QStringLiteral("Counted"));
        QCOMPARE(presentation->recordedAt(), QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
    }

    void directoryWithoutXmlIsNotLoaded()
    {
        const QDir dir(m_workDir.filePath(QStringLiteral("no-xml")));
        QVERIFY(QDir().mkpath(dir.path()));
        QVERIFY(writeFile(dir.absoluteFilePath("timestamps_ms.txt"), "1 0\n"));
        QVERIFY(!Presentation::load(dir));
    }

    void malformedXmlIsNotLoaded()
    {
        const QDir dir(m_workDir.filePath(QStringLiteral("malformed")));
        QVERIFY(QDir().mkpath(dir.path()));
        QVERIFY(writeFile(dir.absoluteFilePath("presentation.xml"), "<presentation><name>x"));
        QVERIFY(!Presentation::load(dir));
    }

    void missingRecordingStart()
    {
        const QDir dir(m_workDir.filePath(QStringLiteral("no-start")));
        QVERIFY(QDir().mkpath(dir.path()));
        QVERIFY(writeFile(dir.absoluteFilePath("presentation.xml"),
                          "<presentation><name>Only a name</name></presentation>"));
        std::unique_ptr<Presentation> presentation(Presentation::load(dir));
        QVERIFY(presentation);
        QCOMPARE(presentation->title(), QStringLiteral("Only a name"));
        QVERIFY(!presentation->recordedAt().isValid());
        QCOMPARE(presentation->slideCount(), 0);
    }

    void settersEmitOnlyOnChange()
    {
        Presentation presentation(QDir(m_workDir.path()));
        QSignalSpy titleChanged(&presentation, &Presentation::property_titleChanged);
        QSignalSpy liveChanged(&presentation, &Presentation::property_isLiveStreamChanged);
        presentation.setTitle(QStringLiteral("A"));
        presentation.setTitle(QStringLiteral("A"));
        QCOMPARE(titleChanged.count(), 1);
        QCOMPARE(titleChanged.at(0).at(0).toString(), QStringLiteral("A"));
        presentation.setLiveStream(false);
        QCOMPARE(liveChanged.count(), 0);
        // Through the property system too.
        QVERIFY(presentation.setProperty("title", QStringLiteral("B")));
        QCOMPARE(titleChanged.count(), 2);
        QVERIFY(presentation.setProperty("slideCount", 4));
        QCOMPARE(presentation.slideCount(), 4);
    }

    void saveFailsInMissingDirectory()
    {
        Presentation presentation(QDir(m_workDir.filePath(QStringLiteral("does/not/exist"))));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[Presentation\\] saving XML failed: Cannot "
                                                "write presentation.xml: .+$"));
        QString message;
        QVERIFY(!presentation.saveXml(&message));
        QVERIFY(message.startsWith(QStringLiteral("Cannot write presentation.xml: ")));
    }

    // A write that fails half-way (file-size limit, full disk) leaves the former file as it was.
    void failedSaveKeepsFormerXml()
    {
        QTest::failOnWarning(QRegularExpression(".*"));
        const QDir dir(m_workDir.filePath(QStringLiteral("keep")));
        QVERIFY(dir.mkpath(QStringLiteral(".")));
        Presentation presentation(dir);
        presentation.setTitle(QStringLiteral("First"));
        QVERIFY(presentation.saveXml());
        const QString xml = dir.absoluteFilePath(QStringLiteral("presentation.xml"));
        const QString before = readAll(xml);
        QVERIFY(before.contains(QStringLiteral("<name>First</name>")));

        presentation.setTitle(QString(4000, QLatin1Char('x')));
        QTest::ignoreMessage(
            QtWarningMsg,
            "[Presentation] saving XML failed: Cannot write presentation.xml: File too large");
        QString message;
        {
            const FileSizeLimit limit(1024);
            QVERIFY(limit.isActive());
            QVERIFY(!presentation.saveXml(&message));
        }
        QCOMPARE(message, QStringLiteral("Cannot write presentation.xml: File too large"));
        QCOMPARE(readAll(xml), before);
        QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden), QStringList{"presentation.xml"});
    }
};

QTEST_GUILESS_MAIN(PresentationTest)
#include "tst_presentation.moc"
