#include "SlidePictureComposer.h"

#include "RecordedPresentation.h"

#include <QDir>
#include <QImageReader>
#include <QList>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// The screens' sizes once scaled to the height of the tallest one.
QList<QSizeF> sideBySide(const QList<QSize> &sizes)
{
    int height = 0;
    for (const QSize &size : sizes)
        height = std::max(height, size.height());
    QList<QSizeF> result;
    for (const QSize &size : sizes)
        result << QSizeF(double(size.width()) * height / size.height(), height);
    return result;
}

double totalWidth(const QList<QSizeF> &sizes)
{
    double width = 0;
    for (const QSizeF &size : sizes)
        width += size.width();
    return width;
}

int evenAtLeastTwo(double value)
{
    return std::max(2, int(std::lround(value)) / 2 * 2);
}

} // namespace

QString SlidePictureComposer::unreadableMessage(const QString &path)
{
    return QStringLiteral("Cannot read the slide file %1.").arg(QDir::toNativeSeparators(path));
}

bool SlidePictureComposer::checkReadable(const RecordedPresentation &presentation,
                                         const RecordedSlide &slide, QString *errorMessage)
{
    for (const QString &file : slide.files) {
        const QString path = presentation.absolutePath(file);
        QImageReader reader(path);
        if (!reader.canRead() || reader.size().isEmpty()) {
            *errorMessage = unreadableMessage(path);
            return false;
        }
    }
    return true;
}

QSize SlidePictureComposer::videoSize(const RecordedPresentation &presentation,
                                      QString *errorMessage)
{
    const RecordedSlide &first = presentation.slides().constFirst();
    QList<QSize> sizes;
    for (const QString &file : first.files) {
        const QString path = presentation.absolutePath(file);
        const QSize size = QImageReader(path).size();
        if (size.isEmpty()) {
            *errorMessage = unreadableMessage(path);
            return {};
        }
        sizes << size;
    }
    const QList<QSizeF> scaled = sideBySide(sizes);
    const double width = totalWidth(scaled);
    const double height = scaled.constFirst().height();
    const double factor = std::min(1.0, maximumWidth / width);
    return {evenAtLeastTwo(width * factor), evenAtLeastTwo(height * factor)};
}

QImage SlidePictureComposer::black() const
{
    QImage picture(m_size, QImage::Format_RGB32);
    picture.fill(Qt::black);
    return picture;
}

bool SlidePictureComposer::compose(const RecordedPresentation &presentation,
                                   const RecordedSlide &slide, QImage *picture,
                                   QString *errorMessage) const
{
    QList<QImage> images;
    QList<QSize> sizes;
    for (const QString &file : slide.files) {
        const QString path = presentation.absolutePath(file);
        QImage image(path);
        if (image.isNull()) {
            *errorMessage = unreadableMessage(path);
            return false;
        }
        sizes << image.size();
        images << image;
    }
    // The common case, a slide of the video's own size, needs no painting.
    if (images.size() == 1 && images.constFirst().size() == m_size) {
        *picture = images.constFirst().convertToFormat(QImage::Format_RGB32);
        return true;
    }

    const QList<QSizeF> scaled = sideBySide(sizes);
    const double factor = std::min(m_size.width() / totalWidth(scaled),
                                   m_size.height() / scaled.constFirst().height());
    QList<QSize> targets;
    int width = 0;
    for (const QSizeF &size : scaled) {
        const QSize target(std::max(1, int(std::lround(size.width() * factor))),
                           std::max(1, int(std::lround(size.height() * factor))));
        targets << target;
        width += target.width();
    }
    *picture = black();
    QPainter painter(picture);
    int x = (m_size.width() - width) / 2;
    for (int i = 0; i < images.size(); ++i) {
        const QSize target = targets.at(i);
        const int y = (m_size.height() - target.height()) / 2;
        // Qt's smooth scaling averages areas when shrinking; the painter would only interpolate.
        painter.drawImage(QPoint(x, y), images.at(i).size() == target
                                            ? images.at(i)
                                            : images.at(i).scaled(target, Qt::IgnoreAspectRatio,
                                                                  Qt::SmoothTransformation));
        images[i] = QImage(); // one decoded screen less to hold
        x += target.width();
    }
    return true;
}
