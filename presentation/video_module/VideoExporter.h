#pragma once

#include "PresentationExporter.h"

// An MP4 video of the presentation: the slides as H.264 pictures over the recorded audio in AAC,
// a chapter per slide, as long as the audio.
class VideoExporter : public PresentationExporter
{
public:
    bool write(const RecordedPresentation &presentation, const QString &outputPath,
               ExportControl &control, QString *errorMessage) override;
};
