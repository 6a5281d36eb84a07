#pragma once

#include <QString>
#include <QStringList>

// What the recorder was asked to do on its command line.
struct CommandLineOptions
{
    enum class Result
    {
        Ok,
        UsageError,
        HelpRequested
    };

    Result result = Result::Ok;
    QString error;   // the reason of a UsageError, one line
    QString dataDir; // --data-dir: replaces the data directory rule when set

    // arguments as QCoreApplication::arguments() gives them, the program first
    static CommandLineOptions parse(const QStringList &arguments);
    static QString usage();
};
