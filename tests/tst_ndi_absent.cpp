#include "NdiRuntime.h"
#include "SlidesSourceInfo.h"

#include <QDir>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// A machine without any NDI runtime: discovery quietly lists no NDI streams.
class NdiAbsentTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_emptyDirectory.isValid());
        qputenv("NDI_RUNTIME_DIR_V6", m_emptyDirectory.path().toLocal8Bit());
        qputenv("NDI_RUNTIME_DIR_V5", m_emptyDirectory.filePath("missing").toLocal8Bit());
        if (NdiRuntime::instance().isAvailable())
            QSKIP("an NDI runtime is installed on this machine");
        s_previousHandler = qInstallMessageHandler(&NdiAbsentTest::collect);
    }

    void cleanupTestCase() { qInstallMessageHandler(s_previousHandler); }

    void lookupOrder()
    {
        const QStringList candidates = NdiRuntime::candidateLibraries();
        const QStringList expected{
            QDir(m_emptyDirectory.path()).filePath("libndi.so.6"),
            "libndi.so.6",
            QDir(m_emptyDirectory.filePath("missing")).filePath("libndi.so.5"),
            "libndi.so.5",
        };
        QCOMPARE(candidates, expected);
        QVERIFY(!NdiRuntime::instance().failureReason().isEmpty());
        QVERIFY(NdiRuntime::instance().libraryPath().isEmpty());
        QVERIFY(!NdiRuntime::instance().recvCreateV3);
    }

    void discoveryListsNothingAndSaysSoOnce()
    {
        for (int poll = 0; poll < 5; ++poll)
            QVERIFY(SlidesSourceInfo::availableSlideSourcesNDI().isEmpty());
        const QStringList lines = collectedLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith("[SlideSourceInfoNDIFinder] NDI runtime not found"),
                 qPrintable(lines.first()));
        // The reason names what was looked for.
        QVERIFY2(lines.first().contains("libndi.so.6"), qPrintable(lines.first()));
    }

private:
    static void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (message.contains("NDI")) {
            QMutexLocker locker(&s_mutex);
            s_lines.append(message);
        }
        s_previousHandler(type, context, message);
    }

    static QStringList collectedLines()
    {
        QMutexLocker locker(&s_mutex);
        return s_lines;
    }

    QTemporaryDir m_emptyDirectory;
    static inline QtMessageHandler s_previousHandler = nullptr;
    static inline QMutex s_mutex;
    static inline QStringList s_lines;
};

QTEST_GUILESS_MAIN(NdiAbsentTest)
#include "tst_ndi_absent.moc"
