#pragma once

#include "PresentationExporter.h"

#include <QByteArray>
#include <QDir>

// Writes a single HTML page that plays a finished presentation in a web browser: the audio with
// the slide of each moment beside it, a list of slides to jump to, and "#t=SECONDS" links. The
// page holds its script, style and slide data, loads only the presentation's own files through
// relative links and so works when opened straight from the disk (file://), wherever it is written.
class PlayerPageWriter : public PresentationExporter
{
public:
    bool write(const RecordedPresentation &presentation, const QString &outputPath,
               ExportControl &control, QString *errorMessage) override;
    // The page of a recording that just finished, in its directory, so that it can be watched
    // without the recorder. A recording without audio gets none; a failure only goes to the log,
    // as the recording is complete without its page.
    static void writeForRecording(const QDir &directory);

private:
    // The page for a file in outputDir; empty with the reason when the template is missing.
    static QByteArray page(const RecordedPresentation &presentation, const QDir &outputDir,
                           QString *errorMessage);
};
