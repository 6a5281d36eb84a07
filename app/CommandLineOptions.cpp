#include "CommandLineOptions.h"

#include "ExportKind.h"

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
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty())
                return false;
            target = arguments.at(++i);
            return true;
        };
        auto valueOption = [&](const char *name, QString &target) {
            return argument == QLatin1String(name) && (takeValue(target) || true);
        };

        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.result = Result::HelpRequested;
            return options;
        }
        if (argument == QLatin1String("--record")) {
            options.record = true;
        } else if (argument == QLatin1String("--live")) {
            options.live = true;
        } else if (argument == QLatin1String("--connect-existing")) {
            options.connectExisting = true;
        } else if (argument == QLatin1String("--list-sources")) {
            options.listSources = true;
        } else if (argument == QLatin1String("--duration")) {
            QString value;
            bool ok = false;
            const qint64 seconds = takeValue(value) ? value.toLongLong(&ok) : 0;
            if (!ok || seconds <= 0 || seconds > CommandLineOptions::maxDurationSeconds)
                return fail(QStringLiteral("--duration needs a positive number of seconds, at "
                                           "most %1")
                                .arg(CommandLineOptions::maxDurationSeconds));
            options.durationSeconds = seconds;
        } else if (argument == QLatin1String("--export")) {
            if (!takeValue(options.exportKind) || !ExportKinds::fromName(options.exportKind))
                return fail(QStringLiteral("--export needs one of %1")
                                .arg(ExportKinds::names().join(QLatin1Char('|'))));
            if (!takeValue(options.exportDir))
                return fail(QStringLiteral("--export needs a presentation directory"));
        } else if (valueOption("--output", options.exportOutput)) {
            if (options.exportOutput.isEmpty())
                return fail(QStringLiteral("--output needs a file"));
        } else if (valueOption("--data-dir", options.dataDir)) {
            if (options.dataDir.isEmpty())
                return fail(QStringLiteral("--data-dir needs a directory"));
        } else if (valueOption("--email", options.email)) {
            if (options.email.isEmpty())
                return fail(QStringLiteral("--email needs an address"));
        } else if (valueOption("--presentation-id", options.presentationId)) {
            if (options.presentationId.isEmpty())
                return fail(QStringLiteral("--presentation-id needs an identifier"));
        } else if (valueOption("--slide-source", options.slideSourceId)) {
            if (options.slideSourceId.isEmpty())
                return fail(QStringLiteral("--slide-source needs an identifier"));
        } else if (valueOption("--audio-input", options.audioInputId)) {
            if (options.audioInputId.isEmpty())
                return fail(QStringLiteral("--audio-input needs an identifier"));
        } else {
            return fail(QStringLiteral("unknown option: %1").arg(argument));
        }
    }

    if (options.exporting() && (options.record || options.listSources))
        return fail(QStringLiteral("--export excludes --record and --list-sources"));
    if (!options.exportOutput.isEmpty() && !options.exporting())
        return fail(QStringLiteral("--output needs --export"));
    if (options.record && options.listSources)
        return fail(QStringLiteral("--record and --list-sources exclude each other"));
    if (!options.record) {
        if (options.durationSeconds > 0 || options.live)
            return fail(QStringLiteral("--duration and --live need --record"));
    }
    if (!options.live &&
        (!options.email.isEmpty() || !options.presentationId.isEmpty() || options.connectExisting))
        return fail(
            QStringLiteral("--email, --presentation-id and --connect-existing need --live"));
    return options;
}

QString CommandLineOptions::usage()
{
    return QStringLiteral(
        "Usage: QuilloraRecorder [--data-dir DIR]\n"
        "       QuilloraRecorder --record [--duration SECONDS] [--live [--email ADDRESS]\n"
        "                        [--presentation-id ID] [--connect-existing]]\n"
        "                        [--slide-source ID] [--audio-input ID] [--data-dir DIR]\n"
        "       QuilloraRecorder --list-sources\n"
        "       QuilloraRecorder --export video|handout|player PRESENTATION_DIR\n"
        "                        [--output FILE]\n"
        "\n"
        "  --data-dir DIR         keep Logs and Presentations in DIR\n"
        "  --record               record one presentation without a window; stops after\n"
        "                         --duration or on SIGINT/SIGTERM\n"
        "  --duration SECONDS     length of the recording\n"
        "  --live                 stream the recording live (stored live stream token, or\n"
        "                         --email with the password in QUILLORA_PASSWORD)\n"
        "  --presentation-id ID   the web service's presentation to stream to\n"
        "  --connect-existing     join the presentation's existing live stream\n"
        "  --list-sources         print the slide sources and audio inputs with their ids\n"
        "  --slide-source ID      choose the slide source (saved in the settings)\n"
        "  --audio-input ID       choose the audio input (saved in the settings)\n"
        "  --export KIND DIR      export a recorded presentation: video (MP4 with\n"
        "                         chapters, video.mp4), handout (PDF, handout.pdf) or\n"
        "                         player (a page that plays it, index.html); written into\n"
        "                         DIR unless --output names the file\n"
        "  --output FILE          the file the export writes\n"
        "  --help                 show this text\n");
}
