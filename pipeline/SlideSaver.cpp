#include "SlideSaver.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QTextStream>

#include <opencv2/core/mat.hpp>

namespace {

const QString timestampsFileName = QStringLiteral("timestamps_ms.txt");

} // namespace

SlideSaver::SlideSaver(const QDir &directory) : m_directory(directory)
{
    SlideImage::registerMetaTypes();
    qRegisterMetaType<SlideSaver::SavedSlide>("SlideSaver::SavedSlide");
    qRegisterMetaType<QList<SlideSaver::SavedSlide>>("QList<SlideSaver::SavedSlide>");
}

SlideSaver::~SlideSaver()
{
    // Owners wait for the stop; this only keeps run() from outliving the object if one does not.
    requestStop();
    wait();
    for (const SlidesToSave &batch : std::as_const(m_queue))
        SlideImage::releaseFrames(batch.slides);
    m_queue.clear();
}

void SlideSaver::addSlides(qint64 time, const QList<SlideImage> &slides)
{
    if (!m_stopRequested.load()) {
        QMutexLocker locker(&m_queueMutex);
        // Checked again under the lock, so that every accepted batch is written before the end.
        if (!m_stopRequested.load()) {
            m_queue.append(SlidesToSave{time, slides});
            m_queueCondition.wakeOne();
            return;
        }
    }
    // Refused after the stop request: nobody else will release these matrices.
    SlideImage::releaseFrames(slides);
}

void SlideSaver::requestStop()
{
    if (m_stopRequested.load())
        return;
    QMutexLocker locker(&m_queueMutex);
    m_stopRequested.store(true);
    m_queueCondition.wakeOne();
}

void SlideSaver::run()
{
    emit savedSlideCountChanged();
    forever
    {
        QMutexLocker locker(&m_queueMutex);
        // The stop ends the loop only once the queue is empty, so no accepted batch is lost.
        while (m_queue.isEmpty() && !m_stopRequested.load())
            m_queueCondition.wait(&m_queueMutex);
        if (m_queue.isEmpty())
            break;
        const SlidesToSave batch = m_queue.takeFirst();
        qDebug() << "[SlideSaver]" << m_queue.size() << "slides in queue";
        locker.unlock();
        saveSlides(batch.time, batch.slides);
    }
    emit stopped();
}

void SlideSaver::saveSlides(qint64 time, const QList<SlideImage> &slides)
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    const qint64 number = m_savedSlideCount.load() + 1;
    QList<SavedSlide> savedSlides;
    savedSlides.reserve(slides.size());
    for (qsizetype i = 0; i < slides.size(); ++i) {
        savedSlides.append(saveSlide(number, i, time, slides.at(i)));
        delete slides.at(i).frame;
    }

    QFile timestamps(m_directory.absoluteFilePath(timestampsFileName));
    if (timestamps.open(QIODevice::Append | QIODevice::WriteOnly | QIODevice::Text)) {
        QTextStream stream(&timestamps);
        stream << number << " " << time << Qt::endl;
        timestamps.close();
    }
    qDebug() << "[SlideSaver]"
             << "slides" << number << "saved in" << stopwatch.elapsed() << "ms";

    ++m_savedSlideCount;
    emit savedSlideCountChanged();
    emit slidesSaved(savedSlides);
}

SlideSaver::SavedSlide SlideSaver::saveSlide(qint64 number, qint64 screen, qint64 time,
                                             const SlideImage &slide)
{
    const QString name = QStringLiteral("%1-%2").arg(screen).arg(number, 4, 10, QLatin1Char('0'));
    const QString path = m_directory.absoluteFilePath(name) + QStringLiteral(".png");
    if (!slide.image.save(path)) {
        qWarning() << "[SlideSaver]"
                   << "saving" << path << "failed";
        emit slideSavingError(QStringLiteral("Saving slide %1 in PNG format failed.").arg(name));
    }
    emit slideSaved(int(screen), time, name, path);
    return SavedSlide{time, name, path};
}
