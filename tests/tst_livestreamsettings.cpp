#include "LiveStreamSettings.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class LiveStreamSettingsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_configHome;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_configHome.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
        QCoreApplication::setOrganizationName("QuilloraTest");
        QCoreApplication::setApplicationName("LiveStreamSettingsTest");
        QVERIFY(QSettings().fileName().startsWith(m_configHome.path()));
    }

    void init() { QSettings().clear(); }

    void defaultsWhenAbsent()
    {
        LiveStreamSettings *settings = LiveStreamSettings::instance();
        settings->load();
        QCOMPARE(settings->pollVMixApi(), false);
        QCOMPARE(settings->vMixApiEndpoint(), QStringLiteral("http://127.0.0.1:8088/api/"));
        QCOMPARE(settings->vMixApiPollInterval(), qint64(5000));
    }

    void storedValuesAreLoadedWithoutSignalsOrSave()
    {
        {
            QSettings stored;
            stored.setValue("liveStreamSettings/pollVMixApi", true);
            stored.setValue("liveStreamSettings/vMixApiEndpoint", "http://10.1.1.1:8088/api/");
            stored.setValue("liveStreamSettings/vMixApiPollInterval", qint64(1500));
        }
        LiveStreamSettings *settings = LiveStreamSettings::instance();
        QSignalSpy endpointSpy(settings, &LiveStreamSettings::property_vMixApiEndpointChanged);
        QSignalSpy intervalSpy(settings, &LiveStreamSettings::property_vMixApiPollIntervalChanged);
        settings->load();
        QCOMPARE(settings->pollVMixApi(), true);
        QCOMPARE(settings->vMixApiEndpoint(), QStringLiteral("http://10.1.1.1:8088/api/"));
        QCOMPARE(settings->vMixApiPollInterval(), qint64(1500));
        QCOMPARE(endpointSpy.count(), 0);
        QCOMPARE(intervalSpy.count(), 0);
    }

    void invalidStoredValuesAreReplacedAtLoad_data()
    {
        QTest::addColumn<QVariant>("interval");
        QTest::newRow("zero") << QVariant(qint64(0));
        QTest::newRow("negative") << QVariant(qint64(-10));
        QTest::newRow("not a number") << QVariant(QStringLiteral("often"));
    }

    void invalidStoredValuesAreReplacedAtLoad()
    {
        QFETCH(QVariant, interval);
        {
            QSettings stored;
            stored.setValue("liveStreamSettings/vMixApiEndpoint", QString());
            stored.setValue("liveStreamSettings/vMixApiPollInterval", interval);
        }
        LiveStreamSettings *settings = LiveStreamSettings::instance();
        settings->load();
        QCOMPARE(settings->vMixApiEndpoint(), QStringLiteral("http://127.0.0.1:8088/api/"));
        QCOMPARE(settings->vMixApiPollInterval(), qint64(5000));
        // Loading schedules no save: the store keeps what it had.
        QCoreApplication::processEvents();
        QCOMPARE(QSettings().value("liveStreamSettings/vMixApiEndpoint").toString(), QString());
    }

    void storedIntervalOutsideTheRangeIsClamped_data()
    {
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<qint64>("loaded");
        QTest::newRow("too short") << qint64(5) << qint64(100);
        QTest::newRow("shortest") << qint64(100) << qint64(100);
        QTest::newRow("longest") << qint64(60000) << qint64(60000);
        QTest::newRow("too long") << qint64(3600000) << qint64(60000);
    }

    void storedIntervalOutsideTheRangeIsClamped()
    {
        QFETCH(qint64, stored);
        QFETCH(qint64, loaded);
        QSettings().setValue("liveStreamSettings/vMixApiPollInterval", stored);
        LiveStreamSettings *settings = LiveStreamSettings::instance();
        settings->load();
        QCOMPARE(settings->vMixApiPollInterval(), loaded);
    }

    void settersSaveWithoutValidating()
    {
        LiveStreamSettings *settings = LiveStreamSettings::instance();
        settings->load();
        QSignalSpy spy(settings, &LiveStreamSettings::property_vMixApiPollIntervalChanged);
        settings->setVMixApiPollInterval(0);
        settings->setVMixApiPollInterval(0);
        settings->setPollVMixApi(true);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(settings->vMixApiPollInterval(), qint64(0));
        QTRY_COMPARE(QSettings().value("liveStreamSettings/pollVMixApi").toBool(), true);
        QSettings stored;
        QCOMPARE(stored.value("liveStreamSettings/vMixApiPollInterval").toLongLong(), qint64(0));
        QCOMPARE(stored.value("liveStreamSettings/vMixApiEndpoint").toString(),
                 settings->vMixApiEndpoint());
    }
};

QTEST_GUILESS_MAIN(LiveStreamSettingsTest)
#include "tst_livestreamsettings.moc"
