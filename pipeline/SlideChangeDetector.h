#pragma once

#include "ScreenChangeDetector.h"

#include <QString>

#include <memory>
#include <vector>

namespace cv {
class Mat;
}

// Decides, batch by batch, which captures show a new slide, over all screens of a batch: the
// first batch, a batch with another number of pictures and a forced one are kept at once; a
// change on any screen keeps the whole batch once the change has settled.
//
// A change is confirmed by the next capture before it is kept, so that a dissolve or a build-up
// gives one slide, the settled picture, not the blend. The kept slide carries the time of the
// first capture that showed the change. A change that does not settle is kept anyway
// maxConfirmationCaptures later, so a slide is never held back longer than that.
class SlideChangeDetector
{
public:
    using MatPtr = std::unique_ptr<const cv::Mat>;

    struct Decision
    {
        enum Action
        {
            Drop, // not a new slide
            Hold, // may be a new slide: keep the batch until the next one tells
            Keep, // a new slide at time; the held batch, if any, is not needed any more
        };
        Action action = Drop;
        qint64 time = 0;
        QString reason;
    };

    static constexpr int maxConfirmationCaptures = 2;

    Decision process(qint64 time, std::vector<MatPtr> pictures, bool forceNewSlide);
    // No batch follows: a change still waiting for confirmation is kept (Keep) or nothing (Drop).
    Decision finish();

private:
    Decision keepNow(qint64 time, const std::vector<MatPtr> &pictures, const QString &reason);
    Decision keepPending(const QString &how);

    std::vector<ScreenChangeDetector> m_screens;
    bool m_pending = false;
    bool m_pendingPointerSized = false;
    qint64 m_pendingTime = 0;
    int m_pendingAge = 0;
    int m_settledCaptures = 0;
    QString m_pendingReason;
};
