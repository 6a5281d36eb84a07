#include "SlideSaver.h"

#include "PresentationFile.h"

#include <QBuffer>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QMutexLocker>
#include <QScopeGuard>

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
            ++m_pendingBatchCount;
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
        --m_pendingBatchCount;
    }
    emit stopped();
}

void SlideSaver::saveSlides(qint64 time, const QList<SlideImage> &slides)
{
    // The saver is the last holder of the matrices, whatever becomes of the batch.
    const auto release = qScopeGuard([&slides] { SlideImage::releaseFrames(slides); });
    if (m_writeFailed)
        return;

    QElapsedTimer stopwatch;
    stopwatch.start();
    const qint64 number = m_savedSlideCount.load() + 1;
    QList<SavedSlide> savedSlides;
    savedSlides.reserve(slides.size());
    for (qsizetype i = 0; i < slides.size(); ++i) {
        const std::optional<SavedSlide> saved = saveSlide(number, i, time, slides.at(i));
        if (!saved) {
            // Half a batch is no slide: without all its pictures it gets no line either.
            removeSlideFiles(savedSlides);
            return;
        }
        savedSlides.append(*saved);
    }

    QString error;
    const QByteArray line = QByteArray::number(number) + ' ' + QByteArray::number(time) + '\n';
    if (!PresentationFile::append(m_directory.absoluteFilePath(timestampsFileName), line, &error)) {
        removeSlideFiles(savedSlides);
        failWrite(error);
        return;
    }
    qDebug() << "[SlideSaver]"
             << "slides" << number << "saved in" << stopwatch.elapsed() << "ms";

    ++m_savedSlideCount;
    emit savedSlideCountChanged();
    for (qsizetype i = 0; i < savedSlides.size(); ++i) {
        const SavedSlide &saved = savedSlides.at(i);
        emit slideSaved(int(i), saved.time, saved.name, saved.pngFilePath);
    }
    emit slidesSaved(savedSlides);
}

std::optional<SlideSaver::SavedSlide> SlideSaver::saveSlide(qint64 number, qint64 screen,
                                                            qint64 time, const SlideImage &slide)
{
    const QString name = QStringLiteral("%1-%2").arg(screen).arg(number, 4, 10, QLatin1Char('0'));
    const QString path = m_directory.absoluteFilePath(name) + QStringLiteral(".png");
    // Encoded in memory first: an encoder failure is then told apart from a failed write, and
    // the file is written under a temporary name and renamed once complete, so that a PNG under
    // its final name is never a truncated one.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(slide.image)) {
        // The picture itself cannot be encoded (an empty image): this slide is lost, the
        // recording is not.
        qWarning() << "[SlideSaver]"
                   << "saving" << path << "failed:" << writer.errorString();
        emit slideSavingError(QStringLiteral("Saving slide %1 in PNG format failed.").arg(name));
        return std::nullopt;
    }
    QString error;
    if (!PresentationFile::replace(path, png, &error)) {
        failWrite(error);
        return std::nullopt;
    }
    return SavedSlide{time, name, path};
}

void SlideSaver::failWrite(const QString &message)
{
    if (m_writeFailed)
        return;
    m_writeFailed = true;
    qWarning().noquote() << "[SlideSaver]" << message;
    emit writeFailed(message);
}

void SlideSaver::removeSlideFiles(const QList<SavedSlide> &savedSlides) const
{
    for (const SavedSlide &saved : savedSlides) {
        if (!QFile::remove(saved.pngFilePath))
            qWarning() << "[SlideSaver]"
                       << "removing" << saved.pngFilePath << "failed";
    }
}
