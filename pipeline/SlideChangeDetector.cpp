#include "SlideChangeDetector.h"

#include <QStringList>

#include <opencv2/core/mat.hpp>

SlideChangeDetector::Decision
SlideChangeDetector::process(qint64 time, std::vector<MatPtr> pictures, bool forceNewSlide)
{
    if (pictures.size() != m_screens.size()) {
        return keepNow(time, pictures,
                       m_screens.empty()
                           ? QStringLiteral("first picture")
                           : QStringLiteral("the number of screens changed from %1 to %2")
                                 .arg(m_screens.size())
                                 .arg(pictures.size()));
    }
    if (forceNewSlide)
        return keepNow(time, pictures, QStringLiteral("capture forced by the user"));

    bool changed = false;
    bool settled = true;
    bool pointerSized = true;
    QStringList changes;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const ScreenChangeDetector::Verdict verdict = m_screens[i].compare(pictures[i].get());
        if (verdict.incomparable) {
            return keepNow(time, pictures,
                           QStringLiteral("screen %1 cannot be compared with its slide (no "
                                          "picture or another size)")
                               .arg(i));
        }
        if (verdict.changed) {
            changed = true;
            pointerSized = pointerSized && verdict.pointerSized;
            changes.append(QStringLiteral("screen %1: %2").arg(i).arg(verdict.describe()));
        }
        settled = settled && verdict.settled;
    }

    if (!changed) {
        // Back to the slide before the change was confirmed: a pointer that came and went.
        m_pending = false;
        return {};
    }
    // A spot the size of the pointer followed by a larger change: the change starts now.
    if (!m_pending || (m_pendingPointerSized && !pointerSized)) {
        m_pending = true;
        m_pendingPointerSized = pointerSized;
        m_pendingTime = time;
        m_pendingAge = 0;
        m_settledCaptures = 0;
        m_pendingReason = changes.join(QStringLiteral("; "));
        return {Decision::Hold, time, m_pendingReason};
    }
    ++m_pendingAge;
    m_settledCaptures = settled ? m_settledCaptures + 1 : 0;
    // A lone pointer-sized spot may be the pointer that appeared and rests before it moves on:
    // it has to hold still for the longest confirmation. Anything larger needs one still capture.
    const int needed = pointerSized ? maxConfirmationCaptures : 1;
    if (m_settledCaptures >= needed) {
        return keepPending(QStringLiteral("settled for %1 capture(s)").arg(m_settledCaptures));
    }
    if (m_pendingAge >= maxConfirmationCaptures)
        return keepPending(QStringLiteral("still changing, kept without waiting longer"));
    return {Decision::Hold, m_pendingTime, m_pendingReason};
}

SlideChangeDetector::Decision SlideChangeDetector::finish()
{
    if (!m_pending)
        return {};
    return keepPending(QStringLiteral("the capture ended before it settled"));
}

SlideChangeDetector::Decision SlideChangeDetector::keepNow(qint64 time,
                                                           const std::vector<MatPtr> &pictures,
                                                           const QString &reason)
{
    m_screens.resize(pictures.size());
    for (size_t i = 0; i < pictures.size(); ++i)
        m_screens[i].restart(pictures[i].get());
    m_pending = false;
    return {Decision::Keep, time, reason};
}

SlideChangeDetector::Decision SlideChangeDetector::keepPending(const QString &how)
{
    for (ScreenChangeDetector &screen : m_screens)
        screen.adoptLatest();
    m_pending = false;
    return {Decision::Keep, m_pendingTime, QStringLiteral("%1; %2").arg(m_pendingReason, how)};
}
