#include "ApplicationIdentity.h"
#include "ProgramRun.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

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

private:
    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(SettingsResetTest)
#include "tst_settingsreset.moc"
