#include "ApplicationIdentity.h"
#include "ProgramRun.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class SettingsResetTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        // QSettings reads the location once per process: point it at a private store first.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        ApplicationIdentity::apply();
    }

    void clearsEveryKeyOfTheRecorder()
    {
        {
            QSettings settings;
            settings.setValue("recorderSettings/slideWidth", 1280);
            settings.setValue("loginSettings/email", "someone@quillora.example");
            settings.setValue("liveStreamSettings/token", "secret");
        }
        QSettings other("SomeoneElse", "OtherProgram");
        other.setValue("kept", true);
        other.sync();

        const QString dataFile = m_config.filePath("Presentations/keep.txt");
        QDir().mkpath(QFileInfo(dataFile).path());
        QFile(dataFile).open(QIODevice::WriteOnly);

        QString firstOutput;
        for (int run = 0; run < 2; ++run) {
            ProgramRun reset(TestEnvironment::binaryPath("QuilloraSettingsReset"));
            reset.setEnvironment(TestEnvironment::childEnvironment(m_config.path()));
            QVERIFY(reset.start({}));
            reset.process().closeWriteChannel(); // the key press: end of input
            QVERIFY(reset.waitForFinished(20000));
            QCOMPARE(reset.exitStatus(), QProcess::NormalExit);
            QCOMPARE(reset.exitCode(), 0);
            QCOMPARE(reset.standardOutput(), QStringLiteral("Press any key to exit...\n"));
            QCOMPARE(reset.standardError(), QStringLiteral("[Settings] settings has been reset\n"));
            if (run == 0)
                firstOutput = reset.standardOutput() + reset.standardError();
            else
                QCOMPARE(reset.standardOutput() + reset.standardError(), firstOutput);
        }

        // The tool addressed the very store the recorder's identity opens.
        QSettings settings;
        settings.sync();
        QVERIFY(settings.allKeys().isEmpty());
        QSettings otherAgain("SomeoneElse", "OtherProgram");
        QVERIFY(otherAgain.value("kept").toBool());
        QVERIFY(QFileInfo::exists(dataFile));
    }

    // A store that can be read but not written: the keys cannot be cleared, and the tool says so
    // instead of reporting success.
    void unwritableStoreIsReported()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString configHome = root.filePath(QStringLiteral("config"));
        const QString storeFile = configHome + QStringLiteral("/Quillora/QuilloraRecorder.conf");
        {
            QSettings store(storeFile, QSettings::IniFormat);
            store.setValue("recorderSettings/slideWidth", 1280);
            store.sync();
            QCOMPARE(store.status(), QSettings::NoError);
        }
        const auto readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        const auto traversable = readOnly | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        for (const QString &dir :
             {root.path(), configHome, configHome + QStringLiteral("/Quillora")})
            QVERIFY(QFile::setPermissions(dir, traversable));
        QVERIFY(QFile::setPermissions(storeFile, readOnly));
        auto restore = qScopeGuard([&] {
            for (const QString &dir :
                 {root.path(), configHome, configHome + QStringLiteral("/Quillora")})
                QFile::setPermissions(dir, traversable | QFile::WriteOwner);
        });

        ProgramRun reset(TestEnvironment::binaryPath("QuilloraSettingsReset"));
        reset.setEnvironment(TestEnvironment::childEnvironment(configHome));
        // root may write anywhere: run the tool as an ordinary user instead.
        if (::geteuid() == 0)
            reset.setWrapper("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups"});
        QVERIFY(reset.start({}));
        reset.process().closeWriteChannel();
        QVERIFY(reset.waitForFinished(20000));
        QCOMPARE(reset.exitStatus(), QProcess::NormalExit);
        QCOMPARE(reset.exitCode(), 1);
        QCOMPARE(reset.standardOutput(), QStringLiteral("Press any key to exit...\n"));
        QCOMPARE(reset.standardError(),
                 QStringLiteral("Resetting the settings failed: the settings store cannot be "
                                "read or written (%1).\n")
                     .arg(storeFile));

        const QSettings store(storeFile, QSettings::IniFormat);
        QCOMPARE(store.value("recorderSettings/slideWidth").toInt(), 1280);
    }

private:
    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(SettingsResetTest)
#include "tst_settingsreset.moc"
