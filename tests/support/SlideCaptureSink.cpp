#include "SlideCaptureSink.h"

#include "SlideSource.h"

#include <QElapsedTimer>

#include <opencv2/core.hpp>

qint64 SlideCaptureSink::nowMs()
{
    QElapsedTimer clock;
    clock.start();
    return clock.msecsSinceReference();
}

SlideCaptureSink::SlideCaptureSink(SlideSource *source)
{
    connect(source, &SlideSource::slidesCaptured, this,
            [this](qint64 time, const QList<SlideImage> &slides, bool forceNewSlide) {
                Batch batch;
                batch.time = time;
                batch.forceNewSlide = forceNewSlide;
                batch.receivedMs = nowMs();
                for (const SlideImage &slide : slides) {
                    const cv::Mat &frame = *slide.frame;
                    batch.frameSizes.append(QSize(frame.cols, frame.rows));
                    batch.frameChannels.append(frame.channels());
                    batch.imageSizes.append(slide.image.size());
                }
                if (!slides.isEmpty() && !slides.first().frame->empty()) {
                    const cv::Mat &frame = *slides.first().frame;
                    const uchar *pixel =
                        frame.ptr(frame.rows / 2) + (frame.cols / 2) * frame.elemSize();
                    batch.centre = QColor(pixel[2], pixel[1], pixel[0]);
                }
                SlideImage::releaseFrames(slides);
                batches.append(batch);
            });
    connect(source, &SlideSource::slidesResolutionsChanged, this, [this] { ++resolutionsChanged; });
}
