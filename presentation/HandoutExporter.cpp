#include "HandoutExporter.h"

#include "ExportControl.h"
#include "ExportFile.h"
#include "PresentationFile.h"
#include "RecordedPresentation.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

namespace {

QString timeText(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

bool HandoutExporter::write(const RecordedPresentation &presentation, const QString &outputPath,
                            ExportControl &control, QString *errorMessage)
{
    QString unused;
    QString &error = errorMessage ? *errorMessage : unused;
    const QList<RecordedSlide> &slides = presentation.slides();
    if (slides.isEmpty()) {
        error = QStringLiteral("The presentation has no slides.");
        return false;
    }

    ExportFile file(outputPath);
    if (!file.open()) {
        error = PresentationFile::cannotWriteMessage(outputPath, file.errorString());
        return false;
    }
    QPdfWriter pdf(&file);
    pdf.setTitle(presentation.title());
    pdf.setCreator(QStringLiteral("Quillora Recorder"));
    pdf.setResolution(150);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                  QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));

    QPainter painter;
    if (!painter.begin(&pdf)) {
        error = PresentationFile::cannotWriteMessage(outputPath, file.errorString());
        return false;
    }
    const QRect page = pdf.pageLayout().paintRectPixels(pdf.resolution());
    const QRect pageArea(0, 0, page.width(), page.height());
    QFont font(QStringLiteral("Roboto"));
    font.setPixelSize(pdf.resolution() / 6);
    painter.setFont(font);
    const int headerHeight = painter.fontMetrics().height() * 2;

    for (int i = 0; i < slides.size(); ++i) {
        if (control.isCancelled()) {
            painter.end();
            error = ExportControl::cancelledMessage();
            return false;
        }
        if (i > 0 && !pdf.newPage()) {
            painter.end();
            error = PresentationFile::cannotWriteMessage(outputPath, file.errorString());
            return false;
        }
        const RecordedSlide &slide = slides.at(i);
        painter.setPen(Qt::black);
        painter.drawText(QRect(0, 0, page.width(), headerHeight), Qt::AlignLeft | Qt::AlignTop,
                         presentation.title());
        painter.drawText(QRect(0, 0, page.width(), headerHeight), Qt::AlignRight | Qt::AlignTop,
                         QStringLiteral("Slide %1 of %2 · %3")
                             .arg(i + 1)
                             .arg(slides.size())
                             .arg(timeText(slide.timeMs)));

        // The screens share the width of the page, each scaled to fit its part.
        const QRect imageArea = pageArea.adjusted(0, headerHeight, 0, 0);
        const int partWidth = imageArea.width() / int(slide.files.size());
        for (int screen = 0; screen < slide.files.size(); ++screen) {
            const QString path = presentation.absolutePath(slide.files.at(screen));
            QImageReader reader(path);
            const QImage image = reader.read();
            if (image.isNull()) {
                painter.end();
                error = QStringLiteral("Cannot read the slide file %1: %2")
                            .arg(QDir::toNativeSeparators(path), reader.errorString());
                return false;
            }
            const QRect part(imageArea.left() + screen * partWidth, imageArea.top(), partWidth,
                             imageArea.height());
            QSize size = image.size();
            size.scale(part.size() - QSize(8, 8), Qt::KeepAspectRatio);
            QRect target(QPoint(0, 0), size);
            target.moveCenter(part.center());
            target.moveTop(part.top());
            painter.drawImage(target, image);
        }
        control.setProgress((i + 1) * 99 / int(slides.size()));
    }
    if (!painter.end() || !file.commit()) {
        error = PresentationFile::cannotWriteMessage(outputPath, file.errorString());
        return false;
    }
    control.setProgress(100);
    qDebug() << "[HandoutExporter]"
             << "wrote" << slides.size() << "pages to" << outputPath;
    return true;
}
