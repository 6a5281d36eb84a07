#pragma once

#include <QString>

class ExportControl;
class RecordedPresentation;

// Turns a finished presentation into one file others can use (a video, a handout, a page). The
// name it gets when the user names none is ExportKinds::defaultFileName.
class PresentationExporter
{
public:
    virtual ~PresentationExporter() = default;

    // Writes the file; may run on a worker thread and take long. Reports progress and checks for
    // cancellation through control. On failure or cancellation returns false with the reason in
    // errorMessage (ExportControl::cancelledMessage() when cancelled) and leaves nothing under
    // outputPath: a file that was there before stays as it was. On success the whole file
    // appears under outputPath at once.
    virtual bool write(const RecordedPresentation &presentation, const QString &outputPath,
                       ExportControl &control, QString *errorMessage) = 0;
};
