#pragma once

#include <QImage>
#include <QList>
#include <QQuickPaintedItem>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <memory>

class MouseListenerPrivate;
class SlideSource;
struct SlideImage;

// A live picture of the slide source chosen in the settings, with the pointer position. The item
// runs its own source, frozen so that it captures only when asked, and pulls a picture every
// 100 ms; the main window stops it while a recording needs the device and the pointer hook.
class SlideSourcePreview : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(bool stopping READ stopping NOTIFY stoppingChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(QString slideSourceName READ slideSourceName NOTIFY slideSourceNameChanged)
    Q_PROPERTY(
        bool pointerRecordingAvailable READ pointerRecordingAvailable NOTIFY slideSourceNameChanged)
    Q_PROPERTY(bool pointerRecordingEnabled READ pointerRecordingEnabled NOTIFY
                   pointerRecordingEnabledChanged)
    Q_PROPERTY(QString errorMessage MEMBER m_errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(
        QVariantList slidesResolutions READ slidesResolutions NOTIFY slidesResolutionsChanged)
    Q_PROPERTY(qint64 mousePositionX READ mousePositionX NOTIFY mousePositionXChanged)
    Q_PROPERTY(qint64 mousePositionY READ mousePositionY NOTIFY mousePositionYChanged)

public:
    explicit SlideSourcePreview(QQuickItem *parent = nullptr);
    ~SlideSourcePreview() override;

    [[nodiscard]] bool stopping() const { return m_stopping; }
    [[nodiscard]] bool loading() const { return m_images.isEmpty(); }
    [[nodiscard]] QString slideSourceName() const;
    [[nodiscard]] bool pointerRecordingAvailable() const;
    [[nodiscard]] bool pointerRecordingEnabled() const;
    [[nodiscard]] QString errorMessage() const { return m_errorMessage; }
    [[nodiscard]] QVariantList slidesResolutions() const;
    [[nodiscard]] qint64 mousePositionX() const { return m_mousePositionX; }
    [[nodiscard]] qint64 mousePositionY() const { return m_mousePositionY; }
    // The pictures of the last capture as they are shown: scaled to their place in the item.
    [[nodiscard]] QList<QImage> images() const { return m_images; }

    // Stops whatever runs and starts the source selected in the settings. Refused while a stop
    // is in progress.
    Q_INVOKABLE void restart();
    // Returns once the source's thread has finished and the pointer listener has stopped; events,
    // QML input included, are processed meanwhile.
    Q_INVOKABLE void stop();

    void paint(QPainter *painter) override;

    // Where paint() puts picture i of count pictures of the given size: side by side, each in
    // its share of the width, scaled to fit and vertically centred.
    [[nodiscard]] static QRectF placement(int i, int count, const QSize &imageSize,
                                          qreal devicePixelRatio, const QRectF &bounds);

Q_SIGNALS:
    void stoppingChanged();
    void loadingChanged();
    void slideSourceNameChanged();
    void pointerRecordingEnabledChanged();
    void errorMessageChanged();
    void slidesResolutionsChanged();
    void mousePositionXChanged();
    void mousePositionYChanged();

private Q_SLOTS:
    void doRefresh();

private:
    void onSlidesCaptured(qint64 time, const QList<SlideImage> &slides, bool forceNewSlide);
    [[nodiscard]] static QImage scaledForDisplay(const QImage &image, const QRectF &where,
                                                 qreal dpr);
    [[nodiscard]] qreal displayPixelRatio() const;
    void onPointerRecordingSettingChanged();
    void setStopping(bool stopping);
    void waitForSourceEnd(SlideSource *source);
    void waitForListenerStop(MouseListenerPrivate *listener);

    QString m_errorMessage;
    bool m_stopping = false;
    std::unique_ptr<SlideSource> m_slideSource;
    QList<QImage> m_images;
    // The captured sizes of m_images, which paint() places them by.
    QList<QSize> m_imageSizes;
    // Where m_images were scaled for; another size or pixel ratio scales again.
    QRectF m_scaledBounds;
    qreal m_scaledDpr = 0;
    std::unique_ptr<MouseListenerPrivate> m_mouseListener;
    qint64 m_mousePositionX = 0;
    qint64 m_mousePositionY = 0;
    QTimer m_refreshTimer;
};
