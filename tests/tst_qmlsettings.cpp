#include "MainWindow.h"
#include "QmlTestInput.h"
#include "QmlTestWindow.h"
#include "TestEnvironment.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

using QmlTestInput::click;
using QmlTestInput::typeInto;

// The rules of the settings page that writes the recorder and live stream settings.
class TestQmlSettings : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QmlTestWindow> m_qml;

    QQuickWindow *window() const { return m_qml->window(); }
    QQuickItem *item(const char *name) const { return m_qml->item(QString::fromLatin1(name)); }

    static QString fieldText(QQuickItem *field) { return field->property("text").toString(); }

private Q_SLOTS:
    void initTestCase()
    {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs a display");
    }

    void init()
    {
        m_qml = std::make_unique<QmlTestWindow>();
        m_qml->recorderSettings.useNativeSlideSourceResolution = false;
        const SlidesSourceInfo screen(true, SlidesSourceInfo::ScreenInterval, "screen", -1,
                                      QStringLiteral("Interval screen capture"));
        const SlidesSourceInfo camera(false, SlidesSourceInfo::Camera, "camera-1", 0,
                                      QStringLiteral("Busy capture card"));
        const SlidesSourceInfo ndi(true, SlidesSourceInfo::NDI, "ndi-1", 0,
                                   QStringLiteral("NDI studio"));
        m_qml->recorderSettings.slideSources = {screen, camera, ndi};
        m_qml->recorderSettings.selectedSlideSource = screen;
        m_qml->recorderSettings.audioInputs = {
            QmlFakeAudioInput(QStringLiteral("mic"), QStringLiteral("Microphone")),
            QmlFakeAudioInput(QStringLiteral("line"), QStringLiteral("Line in"))};
        m_qml->recorderSettings.selectedAudioInput = m_qml->recorderSettings.audioInputs.at(1);
        QVERIFY(m_qml->load());
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        click(window(), item("menuSettings"));
        QTRY_VERIFY(item("settingsPage")->isVisible());
    }

    void cleanup() { m_qml.reset(); }

    void resolutionFieldsParseLeadingDigits_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::newRow("number") << "1280" << 1280;
        QTest::newRow("leading digits") << "1024px" << 1024;
        QTest::newRow("not a number") << "wide" << 0;
        QTest::newRow("empty") << "" << 0;
    }

    void resolutionFieldsParseLeadingDigits()
    {
        QFETCH(QString, typed);
        QFETCH(int, stored);
        QQuickItem *widthField = item("slideWidthField");
        QQuickItem *heightField = item("slideHeightField");
        QVERIFY(widthField && heightField);
        QVERIFY(widthField->isVisible());
        QCOMPARE(fieldText(widthField), QStringLiteral("1920"));

        QSignalSpy widthChanged(&m_qml->recorderSettings,
                                &QmlFakeRecorderSettings::property_slideWidthChanged);
        typeInto(window(), widthField, typed, Qt::Key_Return);
        QCOMPARE(m_qml->recorderSettings.slideWidth, stored);
        QCOMPARE(widthChanged.count(), 1);
        // The field shows what was stored, and Enter moved on to the height.
        QCOMPARE(fieldText(widthField), QString::number(stored));
        QVERIFY(QmlTestInput::hasActiveFocus(heightField));

        typeInto(window(), heightField, typed, Qt::Key_Tab);
        QCOMPARE(m_qml->recorderSettings.slideHeight, stored);
        QVERIFY(QmlTestInput::hasActiveFocus(widthField));
    }

    void nativeResolutionHidesTheFields()
    {
        QQuickItem *row = item("resolutionRow");
        QVERIFY(row->isVisible());
        click(window(), item("nativeResolution"));
        QCOMPARE(m_qml->recorderSettings.useNativeSlideSourceResolution, true);
        QTRY_VERIFY(!row->isVisible());
    }

    void pollIntervalRejectsNonNumbers()
    {
        QQuickItem *field = item("vMixApiPollIntervalField");
        QVERIFY(field);
        QSignalSpy changed(&m_qml->liveStreamSettings,
                           &QmlFakeLiveStreamSettings::property_vMixApiPollIntervalChanged);

        typeInto(window(), field, QStringLiteral("often"), Qt::Key_Return);
        QCOMPARE(m_qml->liveStreamSettings.vMixApiPollInterval, 5000);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(fieldText(field), QStringLiteral("5000"));

        typeInto(window(), field, QStringLiteral("2500"), Qt::Key_Return);
        QCOMPARE(m_qml->liveStreamSettings.vMixApiPollInterval, 2500);

        // The field still follows the setting after it was restored.
        typeInto(window(), field, QStringLiteral("x"), Qt::Key_Return);
        QCOMPARE(fieldText(field), QStringLiteral("2500"));
        m_qml->liveStreamSettings.setProperty("vMixApiPollInterval", qint64(7000));
        QCOMPARE(fieldText(field), QStringLiteral("7000"));
    }

    void pollIntervalOutsideTheRangeIsRefused()
    {
        QQuickItem *field = item("vMixApiPollIntervalField");
        QQuickItem *error = item("vMixApiPollIntervalError");
        QVERIFY(field && error);
        QVERIFY(!error->isVisible());
        QSignalSpy changed(&m_qml->liveStreamSettings,
                           &QmlFakeLiveStreamSettings::property_vMixApiPollIntervalChanged);
        for (const QString &refused :
             {QStringLiteral("0"), QStringLiteral("-5"), QStringLiteral("60001")}) {
            typeInto(window(), field, refused, Qt::Key_Return);
            QCOMPARE(fieldText(field), QStringLiteral("5000"));
            QVERIFY(error->isVisible());
            QCOMPARE(
                error->property("text").toString(),
                QStringLiteral("The poll interval must be between 100 and 60000 milliseconds."));
        }
        QCOMPARE(changed.count(), 0);
        typeInto(window(), field, QStringLiteral("100"), Qt::Key_Return);
        QCOMPARE(m_qml->liveStreamSettings.vMixApiPollInterval, 100);
        QVERIFY(!error->isVisible());
    }

    void vMixEndpointAndPolling()
    {
        m_qml->scrollIntoView(item("settingsScroll"), item("pollVMixApi"));
        typeInto(window(), item("vMixApiEndpointField"), QStringLiteral("http://127.0.0.1:9/api/"),
                 Qt::Key_Return);
        QCOMPARE(m_qml->liveStreamSettings.vMixApiEndpoint,
                 QStringLiteral("http://127.0.0.1:9/api/"));
        QQuickItem *poll = item("pollVMixApi");
        QCOMPARE(poll->property("checked").toBool(), false);
        click(window(), poll);
        QCOMPARE(m_qml->liveStreamSettings.pollVMixApi, true);
    }

    void disabledSlideSourceCannotBeChosen()
    {
        QQuickItem *screen = item("slideSource_0");
        QQuickItem *camera = item("slideSource_1");
        QQuickItem *ndi = item("slideSource_2");
        QVERIFY(screen && camera && ndi);
        m_qml->scrollIntoView(item("settingsScroll"), screen);
        QCOMPARE(screen->property("text").toString(), QStringLiteral("Interval screen capture"));
        QCOMPARE(screen->property("checked").toBool(), true);
        QCOMPARE(camera->isEnabled(), false);

        QSignalSpy selected(&m_qml->recorderSettings,
                            &QmlFakeRecorderSettings::property_selectedSlideSourceChanged);
        click(window(), camera);
        QCOMPARE(selected.count(), 0);
        QCOMPARE(m_qml->recorderSettings.selectedSlideSource.id(), QByteArray("screen"));
        QCOMPARE(camera->property("checked").toBool(), false);

        click(window(), ndi);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(m_qml->recorderSettings.selectedSlideSource.id(), QByteArray("ndi-1"));
        QTRY_COMPARE(ndi->property("checked").toBool(), true);
        QCOMPARE(screen->property("checked").toBool(), false);
    }

    void audioInputAndChannels()
    {
        QQuickItem *microphone = item("audioInput_0");
        QQuickItem *line = item("audioInput_1");
        QVERIFY(microphone && line);
        QCOMPARE(line->property("checked").toBool(), true);
        QCOMPARE(item("oneChannel")->property("checked").toBool(), true);

        // Both groups are exclusive on their own: choosing two channels keeps the input checked.
        QQuickItem *twoChannels = item("twoChannels");
        m_qml->scrollIntoView(item("settingsScroll"), twoChannels);
        click(window(), twoChannels);
        QCOMPARE(m_qml->recorderSettings.audioChannelCount, 2);
        QCOMPARE(line->property("checked").toBool(), true);

        m_qml->scrollIntoView(item("settingsScroll"), microphone);
        click(window(), microphone);
        QCOMPARE(m_qml->recorderSettings.selectedAudioInput.id(), QStringLiteral("mic"));
    }

    void pointerRecordingCheckBox()
    {
        QQuickItem *box = item("pointerRecording");
        m_qml->scrollIntoView(item("settingsScroll"), box);
        QCOMPARE(box->property("checked").toBool(), true);
        click(window(), box);
        QCOMPARE(m_qml->recorderSettings.pointerRecordingEnabled, false);
        m_qml->recorderSettings.setProperty("pointerRecordingEnabled", true);
        QCOMPARE(box->property("checked").toBool(), true);
    }

    void screenshot()
    {
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("main-screen-settings.png")));
    }
};

QTEST_MAIN(TestQmlSettings)
#include "tst_qmlsettings.moc"
