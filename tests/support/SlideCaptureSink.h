#pragma once

#include "SlideImage.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QSize>

class SlideSource;

// The one receiver of a source's batches in the capture tests: notes what each batch held and
// releases its matrices right away, as the pipeline's owner would.
class SlideCaptureSink : public QObject
{
    Q_OBJECT

public:
    struct Batch
    {
        qint64 time = 0;
        bool forceNewSlide = false;
        qint64 receivedMs = 0; // on a monotonic clock, for gaps between batches
        QList<QSize> frameSizes;
        QList<int> frameChannels;
        QList<QSize> imageSizes;
        QColor centre; // of the first picture, read from the matrix (B G R order)
    };

    explicit SlideCaptureSink(SlideSource *source);

    // The monotonic clock of Batch::receivedMs.
    static qint64 nowMs();

    QList<Batch> batches;
    int resolutionsChanged = 0;
};
