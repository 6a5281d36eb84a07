#include "SlidesSourceInfo.h"

#include <QTest>

class SlidesSourceInfoTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void placeholder()
    {
        const SlidesSourceInfo a;
        const SlidesSourceInfo b;
        QVERIFY(!a.isValid());
        QVERIFY(a.enabled());
        QCOMPARE(a.index(), -1);
        QCOMPARE(a.name(), QStringLiteral("<invalid slide source>"));
        // Two placeholders are never the same source, and yet not different either.
        QVERIFY(!(a == b));
        QVERIFY(!(a != b));
        QVERIFY(!a.sameAs(b));
    }

    void equalityByIdentifierOnly()
    {
        const SlidesSourceInfo camera(true, SlidesSourceInfo::Camera, "dev", 0, "Camera");
        const SlidesSourceInfo ndi(false, SlidesSourceInfo::NDI, "dev", 3, "Other");
        const SlidesSourceInfo other(true, SlidesSourceInfo::Camera, "dev2", 0, "Camera");
        QVERIFY(camera == ndi);
        QVERIFY(!(camera != ndi));
        QVERIFY(camera != other);
        QVERIFY(camera != SlidesSourceInfo());
        QVERIFY(camera.sameAs(ndi));
    }

    void data()
    {
        SlidesSourceInfo info(true, SlidesSourceInfo::ScreenInterval, "IntervalScreenCapture", -1,
                              "Interval screen capture");
        QVERIFY(!info.data("ndiUrlAddress").isValid());
        info.setData("ndiUrlAddress", QStringLiteral("1.2.3.4:5960"));
        QCOMPARE(info.data("ndiUrlAddress").toString(), QStringLiteral("1.2.3.4:5960"));
    }

    void debugPrinter()
    {
        QString text;
        QDebug(&text).nospace() << SlidesSourceInfo(true, SlidesSourceInfo::Camera, "x", 2, "Cam");
        QCOMPARE(text, QStringLiteral("SlidesSourceInfo(3,\"Cam\",index=2)"));
    }

    void metaTypes()
    {
        const QVariant value = QVariant::fromValue(
            QList<SlidesSourceInfo>{SlidesSourceInfo(true, SlidesSourceInfo::NDI, "a", 0, "A")});
        QCOMPARE(value.value<QList<SlidesSourceInfo>>().size(), 1);
        QVERIFY(QMetaType::fromType<SlidesSourceInfo>().isEqualityComparable());
        QVERIFY(QMetaType::fromType<SlidesSourceInfo>().hasRegisteredDebugStreamOperator());
    }
};

QTEST_APPLESS_MAIN(SlidesSourceInfoTest)
#include "tst_slidessourceinfo.moc"
