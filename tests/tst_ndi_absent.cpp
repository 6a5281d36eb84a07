#include "ApplicationIdentity.h"
#include "NdiRuntime.h"
#include "RecorderSettings.h"
#include "SlideSource.h"
#include "SlideSourceNDI.h"
#include "SlidesSourceInfo.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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
        // Settings written by this process stay in a temporary directory.
        QVERIFY(m_configHome.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
        ApplicationIdentity::apply();
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

    // A stream chosen in an earlier run stays the choice, shown as unavailable, and is neither
    // replaced by screen capture nor overwritten; the list is what it would be anyway.
    void storedStreamStaysChosen()
    {
        QSettings().setValue("recorderSettings/selectedSlideSource", QByteArray("10.0.0.7:5961"));
        RecorderSettings *settings = RecorderSettings::instance();
        settings->load();
        QTRY_VERIFY_WITH_TIMEOUT(settings->devicesLoaded(), 5000);
        QCOMPARE(settings->selectedSlideSource().id(), QByteArray("10.0.0.7:5961"));
        QVERIFY(!settings->selectedSlideSourceAvailable());
        QTest::qWait(100);
        QCOMPARE(QSettings().value("recorderSettings/selectedSlideSource").toByteArray(),
                 QByteArray("10.0.0.7:5961"));
        const QList<SlidesSourceInfo> sources = settings->availableSlideSources();
        QCOMPARE(sources.constFirst().id(), QByteArray("IntervalScreenCapture"));
        for (const SlidesSourceInfo &source : sources)
            QVERIFY(source.type() != SlidesSourceInfo::NDI);
        QCOMPARE(sources, SlidesSourceInfo::availableSlideSourcesGeneral() +
                              SlidesSourceInfo::availableSlideSourcesWindowsDirectShow());
        QCOMPARE(collectedLines().size(), 1);
    }

    // Should an NDI source be built all the same, it fails like a receiver that cannot be made.
    void sourceWithoutRuntimeEndsAtOnce()
    {
        SlidesSourceInfo info(true, SlidesSourceInfo::NDI, "10.0.0.7:5961", 0, "Gone");
        info.setData("ndiUrlAddress", QStringLiteral("10.0.0.7:5961"));
        const std::unique_ptr<SlideSource> source(SlideSource::create(info));
        QVERIFY(qobject_cast<SlideSourceNDI *>(source.get()));
        QStringList errors;
        int ready = 0;
        connect(source.get(), &SlideSource::captureError, this,
                [&errors](const QString &error) { errors.append(error); });
        connect(source.get(), &SlideSource::ready, this, [&ready] { ++ready; });
        source->start();
        QVERIFY(source->wait(5000));
        QTRY_COMPARE(errors,
                     QStringList{"Creating NDI receiver failed. No slides will be captured."});
        QCOMPARE(ready, 0);
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
    QTemporaryDir m_configHome;
    static inline QtMessageHandler s_previousHandler = nullptr;
    static inline QMutex s_mutex;
    static inline QStringList s_lines;
};

QTEST_GUILESS_MAIN(NdiAbsentTest)
#include "tst_ndi_absent.moc"
