#pragma once

#include "SlideImage.h"

#include <QDir>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <optional>

// Writes new slides as PNG files ("<screen>-<number>.png") and one line per slide in
// timestamps_ms.txt, on a thread of its own. It owns the matrices of every batch handed to it and
// releases them after writing, or when it refuses or drops a batch.
//
// A slide is saved as a whole or not at all: its PNG files appear under their final names only
// once complete, its line follows them, and only then is it counted and announced. The first
// failed write is reported by writeFailed(); from then on batches are dropped (and released)
// unwritten, so what is on disk stays as it was, and a stop still ends the thread normally.
class SlideSaver : public QThread
{
    Q_OBJECT

public:
    struct SlidesToSave
    {
        qint64 time = 0;
        QList<SlideImage> slides;
    };

    struct SavedSlide
    {
        qint64 time = 0;
        QString name;
        QString pngFilePath;
    };

    explicit SlideSaver(const QDir &directory);
    ~SlideSaver() override;

    [[nodiscard]] qint64 savedSlideCount() const { return m_savedSlideCount.load(); }
    // Batches accepted and not yet written (or dropped); safe from any thread.
    [[nodiscard]] int pendingBatchCount() const { return m_pendingBatchCount.load(); }

    // Saver thread only.
    void saveSlides(qint64 time, const QList<SlideImage> &slides);
    // Empty when the PNG could not be written; the failure has then been reported.
    std::optional<SavedSlide> saveSlide(qint64 number, qint64 screen, qint64 time,
                                        const SlideImage &slide);

public slots:
    void addSlides(qint64 time, const QList<SlideImage> &slides);
    void requestStop();

signals:
    void slideSavingError(const QString &message);
    void slideSaved(int screen, qint64 time, const QString &name, const QString &pngFilePath);
    void slidesSaved(const QList<SlideSaver::SavedSlide> &savedSlides);
    void stopped();
    void savedSlideCountChanged();
    void writeFailed(QString message);

protected:
    void run() override;

private:
    void failWrite(const QString &message);
    void removeSlideFiles(const QList<SavedSlide> &savedSlides) const;

    std::atomic<bool> m_stopRequested{false};
    QWaitCondition m_queueCondition;
    QMutex m_queueMutex;
    std::atomic<qint64> m_savedSlideCount{0};
    QList<SlidesToSave> m_queue;
    QDir m_directory;
    std::atomic<int> m_pendingBatchCount{0};
    // Saver thread only.
    bool m_writeFailed = false;
};

Q_DECLARE_METATYPE(SlideSaver::SavedSlide)
Q_DECLARE_METATYPE(QList<SlideSaver::SavedSlide>)
