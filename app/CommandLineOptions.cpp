#include "CommandLineOptions.h"

CommandLineOptions CommandLineOptions::parse(const QStringList &arguments)
{
    CommandLineOptions options;
    auto fail = [&options](const QString &reason) {
        options.result = Result::UsageError;
        options.error = reason;
        return options;
    };

    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        auto takeValue = [&](QString &target) {
            if (i + 1 >= arguments.size())
                return false;
            target = arguments.at(++i);
            return true;
        };

        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.result = Result::HelpRequested;
            return options;
        }
        if (argument == QLatin1String("--data-dir")) {
            if (!takeValue(options.dataDir) || options.dataDir.isEmpty())
                return fail(QStringLiteral("--data-dir needs a directory"));
            continue;
        }
        return fail(QStringLiteral("unknown option: %1").arg(argument));
    }
    return options;
}

QString CommandLineOptions::usage()
{
    return QStringLiteral("Usage: QuilloraRecorder [--data-dir DIR]\n"
                          "\n"
                          "  --data-dir DIR   keep Logs and Presentations in DIR\n"
                          "  --help           show this text\n");
}
