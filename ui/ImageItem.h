#pragma once

#include <QImage>
#include <QQuickPaintedItem>

// Paints one picture, scaled to fit and centred; the recording screen shows the latest slides
// with it.
class ImageItem : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(QImage image READ image WRITE setImage NOTIFY imageChanged)

public:
    explicit ImageItem(QQuickItem *parent = nullptr);

    [[nodiscard]] QImage image() const { return m_image; }
    Q_INVOKABLE void setImage(const QImage &image);

    void paint(QPainter *painter) override;

    // Where paint() puts the picture: the picture scaled into the bounding rectangle, keeping its
    // aspect ratio, and its top-left corner in item coordinates.
    [[nodiscard]] static QRectF placement(const QSizeF &imageSize, qreal imageDevicePixelRatio,
                                          const QRectF &bounds);

Q_SIGNALS:
    void imageChanged(QImage image);

private:
    QImage m_image;
    // m_image as last painted.
    QImage m_scaled;
};
