#pragma once

#include "PresentationExporter.h"

// A PDF handout: one landscape A4 page per slide with the slide's time, the images of all its
// screens side by side.
class HandoutExporter : public PresentationExporter
{
public:
    bool write(const RecordedPresentation &presentation, const QString &outputPath,
               ExportControl &control, QString *errorMessage) override;
};
