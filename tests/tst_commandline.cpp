#include "CommandLineOptions.h"

#include <QTest>

class CommandLineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dataDirIsTaken()
    {
        const auto options =
            CommandLineOptions::parse({"QuilloraRecorder", "--data-dir", "/tmp/x"});
        QCOMPARE(options.result, CommandLineOptions::Result::Ok);
        QCOMPARE(options.dataDir, QStringLiteral("/tmp/x"));
    }

    void noArgumentsIsPlainStart()
    {
        const auto options = CommandLineOptions::parse({"QuilloraRecorder"});
        QCOMPARE(options.result, CommandLineOptions::Result::Ok);
        QVERIFY(options.dataDir.isEmpty());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown") << QStringList{"QuilloraRecorder", "--bogus"};
        QTest::newRow("missing value") << QStringList{"QuilloraRecorder", "--data-dir"};
        QTest::newRow("positional") << QStringList{"QuilloraRecorder", "file"};
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        const auto options = CommandLineOptions::parse(arguments);
        QCOMPARE(options.result, CommandLineOptions::Result::UsageError);
        QVERIFY(!options.error.isEmpty());
    }
};

QTEST_APPLESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
