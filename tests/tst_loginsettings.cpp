#include "LoginSettings.h"
#include "NetworkSettings.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QtMessageHandler previousHandler = nullptr;
int *saveCount = nullptr;

void countSaves(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("[LoginSettings] save")))
        ++*saveCount;
    previousHandler(type, context, message);
}

} // namespace

class LoginSettingsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_configHome;

    static void store(const QDateTime &lastRequestAt, const QString &token)
    {
        QSettings settings;
        settings.clear();
        settings.setValue("loginSettings/loginEmail", "speaker@example.org");
        settings.setValue("loginSettings/liveStreamResume", true);
        settings.setValue("loginSettings/liveStreamPresentationId", "501");
        settings.setValue("loginSettings/liveStreamPresentationTitle", "Keynote");
        if (lastRequestAt.isValid())
            settings.setValue("loginSettings/liveStreamLastRequestAt", lastRequestAt);
        settings.setValue("loginSettings/liveStreamToken", token);
    }

    static QString storedToken()
    {
        return QSettings().value("loginSettings/liveStreamToken").toString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A private store: QSettings reads the location once, before its first use.
        QVERIFY(m_configHome.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
        QCoreApplication::setOrganizationName("QuilloraTest");
        QCoreApplication::setApplicationName("LoginSettingsTest");
        QVERIFY(QSettings().fileName().startsWith(m_configHome.path()));
    }

    void loadReadsEveryKey()
    {
        store(QDateTime::currentDateTime().addSecs(-3600), "stream-token");
        LoginSettings *settings = LoginSettings::instance();
        settings->load();
        QCOMPARE(settings->loginEmail(), QStringLiteral("speaker@example.org"));
        QCOMPARE(settings->liveStreamResume(), true);
        QCOMPARE(settings->liveStreamPresentationId(), QStringLiteral("501"));
        QCOMPARE(settings->liveStreamPresentationTitle(), QStringLiteral("Keynote"));
        QVERIFY(settings->liveStreamLastRequestAt().isValid());
        QCOMPARE(settings->liveStreamToken(), QStringLiteral("stream-token"));
    }

    void tokenExpiry_data()
    {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<bool>("hasRequestTime");
        QTest::addColumn<bool>("kept");
        QTest::newRow("one hour ago") << qint64(3600) << true << true;
        QTest::newRow("just under two hours") << qint64(7180) << true << true;
        QTest::newRow("exactly two hours") << qint64(7200) << true << false;
        QTest::newRow("a day ago") << qint64(86400) << true << false;
        QTest::newRow("no request time") << qint64(0) << false << false;
    }

    void tokenExpiry()
    {
        QFETCH(qint64, secondsAgo);
        QFETCH(bool, hasRequestTime);
        QFETCH(bool, kept);
        LoginSettings *settings = LoginSettings::instance();
        // Start from a token in memory so that clearing it is a change.
        settings->setLiveStreamToken("old");
        QCoreApplication::processEvents();

        store(hasRequestTime ? QDateTime::currentDateTime().addSecs(-secondsAgo) : QDateTime(),
              "stream-token");
        settings->load();
        QCOMPARE(settings->liveStreamToken(), kept ? QStringLiteral("stream-token") : QString());
        // The save scheduled by the load writes the cleared token back.
        QTRY_COMPARE(storedToken(), kept ? QStringLiteral("stream-token") : QString());
    }

    void unchangedValueEmitsAndSavesNothing()
    {
        LoginSettings *settings = LoginSettings::instance();
        settings->setLoginEmail("same@example.org");
        QTRY_COMPARE(QSettings().value("loginSettings/loginEmail").toString(),
                     QStringLiteral("same@example.org"));

        // Changed behind the object's back: a save would overwrite it.
        QSettings().setValue("loginSettings/loginEmail", "outside@example.org");
        QSignalSpy spy(settings, &LoginSettings::property_loginEmailChanged);
        settings->setLoginEmail("same@example.org");
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 0);
        QCOMPARE(QSettings().value("loginSettings/loginEmail").toString(),
                 QStringLiteral("outside@example.org"));
    }

    void changesInOnePassAreAllSaved()
    {
        LoginSettings *settings = LoginSettings::instance();
        QCoreApplication::processEvents();
        int saves = 0;
        previousHandler = qInstallMessageHandler(countSaves);
        saveCount = &saves;
        const QDateTime at = QDateTime::currentDateTime();
        settings->setLoginEmail("a@example.org");
        settings->setLiveStreamResume(false);
        settings->setLiveStreamPresentationId("9");
        settings->setLiveStreamPresentationTitle("Title");
        settings->setLiveStreamLastRequestAt(at);
        settings->setLiveStreamToken("tok");
        QTRY_COMPARE(storedToken(), QStringLiteral("tok"));
        QCoreApplication::processEvents();
        qInstallMessageHandler(previousHandler);
        // One save writes all six changes.
        QCOMPARE(saves, 1);
        QSettings stored;
        QCOMPARE(stored.value("loginSettings/loginEmail").toString(),
                 QStringLiteral("a@example.org"));
        QCOMPARE(stored.value("loginSettings/liveStreamResume").toBool(), false);
        QCOMPARE(stored.value("loginSettings/liveStreamPresentationId").toString(),
                 QStringLiteral("9"));
        QCOMPARE(stored.value("loginSettings/liveStreamPresentationTitle").toString(),
                 QStringLiteral("Title"));
        QCOMPARE(stored.value("loginSettings/liveStreamLastRequestAt").toDateTime(), at);
    }

    void storeIsReadableByItsOwnerOnly()
    {
        const QString path = QSettings().fileName();
        QFile::remove(path);
        LoginSettings::instance()->save();
        QVERIFY(QFile::exists(path));
        QVERIFY(QFile::permissions(path).testFlags(QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(QFile::permissions(path) &
                     (QFile::ReadOther | QFile::ReadGroup | QFile::WriteOther | QFile::WriteGroup),
                 QFileDevice::Permissions());

        // A rewrite by another settings object keeps the permissions.
        QSettings().setValue("recorderSettings/anything", 1);
        QSettings().sync();
        QCOMPARE(QFile::permissions(path) & (QFile::ReadOther | QFile::ReadGroup),
                 QFileDevice::Permissions());
    }

    void networkSettingsLoadDoesNothing()
    {
        NetworkSettings::instance()->load();
        QCOMPARE(NetworkSettings::instance(), NetworkSettings::instance());
    }
};

QTEST_GUILESS_MAIN(LoginSettingsTest)
#include "tst_loginsettings.moc"
