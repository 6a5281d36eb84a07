#include "ImageItem.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

ImageItem::ImageItem(QQuickItem *parent) : QQuickPaintedItem(parent) {}

void ImageItem::setImage(const QImage &image)
{
    m_image = image;
    m_scaled = QImage();
    Q_EMIT imageChanged(m_image);
    update();
}

QRectF ImageItem::placement(const QSizeF &imageSize, qreal imageDevicePixelRatio,
                            const QRectF &bounds)
{
    const qreal d = imageDevicePixelRatio;
    const QSize target(qRound(std::round(bounds.width()) * d),
                       qRound(std::round(bounds.height()) * d));
    const QSize scaled = imageSize.toSize().scaled(target, Qt::KeepAspectRatio);
    const qreal x =
        std::max<qreal>(0.0, ((bounds.x() + bounds.width() / 2.0) * d - scaled.width() / 2.0) / d);
    const qreal y = std::max<qreal>(
        0.0, ((bounds.y() + bounds.height() / 2.0) * d - scaled.height() / 2.0) / d);
    return QRectF(x, y, scaled.width() / d, scaled.height() / d);
}

void ImageItem::paint(QPainter *painter)
{
    if (m_image.isNull())
        return;
    const QRectF bounds = boundingRect();
    const qreal d = m_image.devicePixelRatio();
    const QRectF where = placement(QSizeF(m_image.size()), d, bounds);
    if (where.isEmpty())
        return;
    // Scaled once per picture and size: the scene repaints the item for reasons of its own too.
    const QSize target(qRound(where.width() * d), qRound(where.height() * d));
    if (m_scaled.isNull() || m_scaled.size() != target) {
        m_scaled = m_image.scaled(target, Qt::KeepAspectRatio, Qt::FastTransformation)
                       .convertToFormat(QImage::Format_RGB32);
        m_scaled.setDevicePixelRatio(d);
    }
    painter->drawImage(where, m_scaled);
}
