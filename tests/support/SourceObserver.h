#pragma once

#include "SlideImage.h"
#include "SlideSource.h"

#include <QList>
#include <QObject>
#include <QStringList>

// Receives a source's signals the way its real users do (queued, in the test thread) and, as the
// one receiver of its batches, deletes their matrices.
class SourceObserver : public QObject
{
public:
    struct Batch
    {
        qint64 time;
        QList<SlideImage> slides;
        bool forced;
    };

    explicit SourceObserver(SlideSource *source)
    {
        connect(source, &SlideSource::slidesCaptured, this,
                [this](qint64 time, const QList<SlideImage> &slides, bool forced) {
                    batches.append({time, slides, forced});
                });
        connect(source, &SlideSource::captureError, this,
                [this](const QString &error) { errors.append(error); });
        connect(source, &SlideSource::ready, this, [this] { ++ready; });
        connect(source, &SlideSource::deviceLost, this,
                [this](const QString &device) { lost.append(device); });
        connect(source, &SlideSource::deviceReturned, this,
                [this](const QString &device) { returned.append(device); });
        connect(source, &SlideSource::stopped, this, [this] { ++stopped; });
        connect(source, &QThread::finished, this, [this] { ++finished; });
    }
    ~SourceObserver() override
    {
        for (const Batch &batch : std::as_const(batches))
            SlideImage::releaseFrames(batch.slides);
    }

    QList<Batch> batches;
    QStringList errors;
    QStringList lost;
    QStringList returned;
    int ready = 0;
    int stopped = 0;
    int finished = 0;
};
