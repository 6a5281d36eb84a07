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

    // Ten years: beyond any talk, and far from overflowing a count of milliseconds.
    static constexpr qint64 maxDurationSeconds = 10LL * 365 * 24 * 3600;

    Result result = Result::Ok;
    QString error;   // the reason of a UsageError, one line
    QString dataDir; // --data-dir: replaces the data directory rule when set

    // Headless operation: no window, one recording or a listing.
    bool record = false;          // --record
    qint64 durationSeconds = -1;  // --duration, -1 = until SIGINT/SIGTERM
    bool live = false;            // --live
    QString email;                // --email (the password comes from QUILLORA_PASSWORD)
    QString presentationId;       // --presentation-id
    bool connectExisting = false; // --connect-existing
    bool listSources = false;     // --list-sources
    QString slideSourceId;        // --slide-source
    QString audioInputId;         // --audio-input

    // Export of a finished presentation, without a window.
    QString exportKind;   // --export video|handout|player
    QString exportDir;    // the presentation directory after the kind
    QString exportOutput; // --output: the file to write, else the default one in exportDir

    [[nodiscard]] bool headless() const { return record || listSources; }
    [[nodiscard]] bool exporting() const { return !exportKind.isEmpty(); }

    // arguments as QCoreApplication::arguments() gives them, the program first
    static CommandLineOptions parse(const QStringList &arguments);
    static QString usage();
};
