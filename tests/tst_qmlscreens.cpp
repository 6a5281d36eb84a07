#include "MainWindow.h"
#include "QmlTestWindow.h"
#include "TestEnvironment.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

// The real screens, loaded from the resources, with settings doubles: layout, page switching,
// and screenshots for a look at the design.
class TestQmlScreens : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs a display");
    }

    void loadsWithoutWarnings()
    {
        QmlTestWindow window;
        QVERIFY(window.load());
        QVERIFY(QTest::qWaitForWindowExposed(window.window()));
        QCOMPARE(window.window()->title(), QStringLiteral("Quillora Recorder"));
        QCOMPARE(window.window()->size(), QSize(640, 480));
        QVERIFY2(window.warnings().isEmpty(), qPrintable(window.warnings().join('\n')));
        QVERIFY(window.saveScreenshot(QStringLiteral("smoke.png")));
    }
};

QTEST_MAIN(TestQmlScreens)
#include "tst_qmlscreens.moc"
