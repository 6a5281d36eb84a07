#include "NdiFakeRuntime.h"
#include "NdiRuntime.h"
#include "SlidesSourceInfo.h"

#include <QDir>
#include <QTest>

// NDI discovery and reception against the fake runtime of tests/fake_ndi.
class NdiTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        NdiFakeRuntime::install();
        qunsetenv("QUILLORA_FAKE_NDI_FAIL");
        qunsetenv("QUILLORA_FAKE_NDI_SOURCES");
        QVERIFY2(NdiRuntime::instance().isAvailable(),
                 qPrintable(NdiRuntime::instance().failureReason()));
        QCOMPARE(NdiRuntime::instance().libraryPath(),
                 QDir(NdiFakeRuntime::directory()).filePath("libndi.so.6"));
    }

    // Must run first: the process keeps the first finder that could be created.
    void finderFailureIsRetriedAtEveryPoll()
    {
        qputenv("QUILLORA_FAKE_NDI_FAIL", "find");
        QTest::ignoreMessage(QtWarningMsg,
                             "[SlideSourceInfoNDIFinder] failed to create NDI finder");
        QVERIFY(SlidesSourceInfo::availableSlideSourcesNDI().isEmpty());
        QTest::ignoreMessage(QtWarningMsg,
                             "[SlideSourceInfoNDIFinder] failed to create NDI finder");
        QVERIFY(SlidesSourceInfo::availableSlideSourcesNDI().isEmpty());
        QCOMPARE(NdiFakeRuntime::state().finders, 0);
        qunsetenv("QUILLORA_FAKE_NDI_FAIL");
        QCOMPARE(SlidesSourceInfo::availableSlideSourcesNDI().size(), 2);
        QCOMPARE(NdiFakeRuntime::state().finders, 1);
    }

    void discoveryListsTheRuntimeSources()
    {
        const QList<SlidesSourceInfo> sources = SlidesSourceInfo::availableSlideSourcesNDI();
        QCOMPARE(sources.size(), 2);
        QCOMPARE(sources[0].type(), SlidesSourceInfo::NDI);
        QVERIFY(sources[0].enabled());
        QCOMPARE(sources[0].id(), QByteArray("127.0.0.1:5961"));
        QCOMPARE(sources[0].index(), 0);
        QCOMPARE(sources[0].name(), QStringLiteral("FAKE-HOST (Slides 1)"));
        QCOMPARE(sources[0].data("ndiUrlAddress").toString(), QStringLiteral("127.0.0.1:5961"));
        QCOMPARE(sources[1].id(), QByteArray("127.0.0.1:5962"));
        QCOMPARE(sources[1].index(), 1);
        QCOMPARE(sources[1].name(), QStringLiteral("FAKE-HOST (Pr\u00e4sentation)"));
        QCOMPARE(sources[1].data("ndiUrlAddress").toString(), QStringLiteral("127.0.0.1:5962"));
        // Polling again uses the same finder.
        QCOMPARE(SlidesSourceInfo::availableSlideSourcesNDI(), sources);
        QCOMPARE(NdiFakeRuntime::state().finders, 1);
    }

    void noStreamsNoEntries()
    {
        qputenv("QUILLORA_FAKE_NDI_SOURCES", "0");
        QVERIFY(SlidesSourceInfo::availableSlideSourcesNDI().isEmpty());
        qunsetenv("QUILLORA_FAKE_NDI_SOURCES");
        QCOMPARE(SlidesSourceInfo::availableSlideSourcesNDI().size(), 2);
    }
};

QTEST_GUILESS_MAIN(NdiTest)
#include "tst_ndi.moc"
