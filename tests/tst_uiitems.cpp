#include "ImageItem.h"
#include "SlideSourcePreview.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTest>

// The painted items of the window: where the pictures land.
class TestUiItems : public QObject
{
    Q_OBJECT

private:
    static QImage paintItem(QQuickPaintedItem &item, const QSize &size)
    {
        QImage canvas(size, QImage::Format_ARGB32);
        canvas.fill(Qt::transparent);
        item.setSize(QSizeF(size));
        QPainter painter(&canvas);
        item.paint(&painter);
        return canvas;
    }

private Q_SLOTS:
    void imageItemPlacement_data()
    {
        QTest::addColumn<QSizeF>("imageSize");
        QTest::addColumn<qreal>("devicePixelRatio");
        QTest::addColumn<QRectF>("bounds");
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("wider item: centred horizontally, at the top")
            << QSizeF(100, 100) << 1.0 << QRectF(0, 0, 400, 100) << QRectF(150, 0, 100, 100);
        QTest::newRow("taller item: centred vertically")
            << QSizeF(200, 100) << 1.0 << QRectF(0, 0, 100, 300) << QRectF(0, 125, 100, 50);
        QTest::newRow("same aspect ratio: fills")
            << QSizeF(1920, 1080) << 1.0 << QRectF(0, 0, 320, 180) << QRectF(0, 0, 320, 180);
        QTest::newRow("high density picture")
            << QSizeF(200, 200) << 2.0 << QRectF(0, 0, 200, 100) << QRectF(50, 0, 100, 100);
    }

    void imageItemPlacement()
    {
        QFETCH(QSizeF, imageSize);
        QFETCH(qreal, devicePixelRatio);
        QFETCH(QRectF, bounds);
        QFETCH(QRectF, expected);
        QCOMPARE(ImageItem::placement(imageSize, devicePixelRatio, bounds), expected);
    }

    void imageItemPaintsCentred()
    {
        ImageItem item;
        QSignalSpy changed(&item, &ImageItem::imageChanged);
        QImage red(50, 50, QImage::Format_RGB32);
        red.fill(Qt::red);
        item.setImage(red);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(item.image(), red);

        const QImage canvas = paintItem(item, QSize(400, 100));
        QCOMPARE(canvas.pixelColor(200, 50), QColor(Qt::red));
        QCOMPARE(canvas.pixelColor(151, 1), QColor(Qt::red));
        QCOMPARE(canvas.pixelColor(148, 50).alpha(), 0);
        QCOMPARE(canvas.pixelColor(252, 50).alpha(), 0);
    }

    void imageItemWithoutImagePaintsNothing()
    {
        ImageItem item;
        const QImage canvas = paintItem(item, QSize(40, 30));
        QCOMPARE(canvas.pixelColor(20, 15).alpha(), 0);
    }

    // Two screens side by side, each in half the width, vertically centred.
    void previewPlacement()
    {
        const QRectF bounds(0, 0, 250, 250.0 * 1080 / 1920);
        const QRectF first = SlideSourcePreview::placement(0, 2, QSize(1920, 1080), 1.0, bounds);
        const QRectF second = SlideSourcePreview::placement(1, 2, QSize(1280, 1024), 1.0, bounds);
        QCOMPARE(first.x(), 0.0);
        QCOMPARE(first.width(), 125.0);
        QCOMPARE(first.height(), 70.0);
        QCOMPARE(first.y(), (bounds.height() - 70.0) / 2);
        QCOMPARE(second.x(), 125.0);
        QCOMPARE(second.width(), 125.0);
        QCOMPARE(second.height(), 100.0);
        QCOMPARE(second.y(), (bounds.height() - 100.0) / 2);

        // Columns are whole pixels; on a dense screen the scaled picture has more pixels.
        const QRectF odd =
            SlideSourcePreview::placement(2, 3, QSize(100, 100), 2.0, QRectF(0, 0, 100, 40));
        QCOMPARE(odd.x(), 66.0);
        QCOMPARE(odd.width(), 33.0);
    }

    void emptyPreviewIsBlue()
    {
        SlideSourcePreview preview;
        QVERIFY(preview.loading());
        QCOMPARE(preview.slideSourceName(), QStringLiteral("<not set>"));
        const QImage canvas = paintItem(preview, QSize(64, 36));
        QCOMPARE(canvas.pixelColor(32, 18), QColor(QColorConstants::Blue));
        QCOMPARE(canvas.pixelColor(1, 1), QColor(QColorConstants::Blue));
    }
};

QTEST_MAIN(TestUiItems)
#include "tst_uiitems.moc"
