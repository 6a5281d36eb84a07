#include "SlidesSourceInfo.h"
#include "SlidesSourceInfoLinux.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A fake /sys/class/video4linux with its /dev/v4l/by-id beside it.
class FakeV4l2Tree
{
public:
    FakeV4l2Tree()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("sys"));
        QDir(m_dir.path()).mkpath(QStringLiteral("dev/v4l/by-id"));
    }
    QString sysfsRoot() const { return m_dir.filePath(QStringLiteral("sys")); }
    QString byIdDir() const { return m_dir.filePath(QStringLiteral("dev/v4l/by-id")); }

    void addNode(int number, const QByteArray &name, const QByteArray &index = "0")
    {
        const QString node = QStringLiteral("sys/video%1").arg(number);
        QDir(m_dir.path()).mkpath(node);
        write(node + QStringLiteral("/name"), name + '\n');
        if (!index.isNull())
            write(node + QStringLiteral("/index"), index + '\n');
        write(QStringLiteral("dev/video%1").arg(number), QByteArray());
    }
    void addLink(const QString &linkName, int number)
    {
        QVERIFY(QFile::link(QStringLiteral("../../video%1").arg(number),
                            byIdDir() + QLatin1Char('/') + linkName));
    }
    QList<SlidesSourceInfo> list() const
    {
        return SlidesSourceInfoLinux::availableVideoInputs(sysfsRoot(), byIdDir());
    }

private:
    void write(const QString &relativePath, const QByteArray &content)
    {
        QFile file(m_dir.filePath(relativePath));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QTemporaryDir m_dir;
};

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void screenCaptureComesFirst();
    void capturesNodesInNumberOrder();
    void metadataNodesAndNamelessNodesAreSkipped();
    void obsVirtualCameraIsListedDisabled_data();
    void obsVirtualCameraIsListedDisabled();
    void missingTreesGiveNoDevices();
};

void TestDiscovery::screenCaptureComesFirst()
{
    const QList<SlidesSourceInfo> general = SlidesSourceInfo::availableSlideSourcesGeneral();
    QCOMPARE(general.size(), 1);
    const SlidesSourceInfo screen = general.constFirst();
    QVERIFY(screen.enabled());
    QCOMPARE(screen.type(), SlidesSourceInfo::ScreenInterval);
    QCOMPARE(screen.id(), QByteArrayLiteral("IntervalScreenCapture"));
    QCOMPARE(screen.index(), -1);
    QCOMPARE(screen.name(), QStringLiteral("Interval screen capture"));

    const QList<SlidesSourceInfo> all = SlidesSourceInfo::availableSlideSources();
    QVERIFY(!all.isEmpty());
    QCOMPARE(all.constFirst().id(), screen.id());
    QVERIFY(SlidesSourceInfo::availableSlideSourcesNDI().isEmpty());
    QVERIFY(SlidesSourceInfo::availableSlideSourcesMacOS().isEmpty());
    // Without capture devices (no V4L2 on this machine) the screen capture is all there is.
    if (!QDir(QString::fromLatin1(SlidesSourceInfoLinux::defaultSysfsRoot)).exists())
        QCOMPARE(all.size(), 1);
}

void TestDiscovery::capturesNodesInNumberOrder()
{
    FakeV4l2Tree tree;
    tree.addNode(10, "Capture Card");
    tree.addNode(2, "HD Pro Webcam C920");
    tree.addNode(0, "Integrated Camera");
    tree.addLink(QStringLiteral("usb-046d_HD_Pro_Webcam_C920_ABC-video-index0"), 2);
    tree.addLink(QStringLiteral("usb-Chicony_Integrated_Camera-video-index0"), 0);
    tree.addLink(QStringLiteral("usb-Chicony_Integrated_Camera-video-index1"), 1);

    const QList<SlidesSourceInfo> inputs = tree.list();
    QCOMPARE(inputs.size(), 3);
    QCOMPARE(inputs.at(0).name(), QStringLiteral("Integrated Camera"));
    QCOMPARE(inputs.at(0).index(), 0);
    QCOMPARE(
        inputs.at(0).id(),
        (tree.byIdDir() + QStringLiteral("/usb-Chicony_Integrated_Camera-video-index0")).toUtf8());
    QCOMPARE(inputs.at(1).name(), QStringLiteral("HD Pro Webcam C920"));
    QCOMPARE(inputs.at(1).index(), 2);
    QCOMPARE(inputs.at(1).id(),
             (tree.byIdDir() + QStringLiteral("/usb-046d_HD_Pro_Webcam_C920_ABC-video-index0"))
                 .toUtf8());
    // No stable link: the node's own path.
    QCOMPARE(inputs.at(2).index(), 10);
    QCOMPARE(inputs.at(2).id(), QByteArrayLiteral("/dev/video10"));
    for (const SlidesSourceInfo &input : inputs) {
        QCOMPARE(input.type(), SlidesSourceInfo::Camera);
        QVERIFY(input.enabled());
    }
}

void TestDiscovery::metadataNodesAndNamelessNodesAreSkipped()
{
    FakeV4l2Tree tree;
    tree.addNode(0, "Webcam");
    tree.addNode(1, "Webcam", "1"); // uvcvideo's metadata node
    tree.addNode(2, "");
    tree.addNode(3, "Old Driver", QByteArray()); // no index file
    const QList<SlidesSourceInfo> inputs = tree.list();
    QCOMPARE(inputs.size(), 2);
    QCOMPARE(inputs.at(0).index(), 0);
    QCOMPARE(inputs.at(1).index(), 3);
    QCOMPARE(inputs.at(1).name(), QStringLiteral("Old Driver"));
}

void TestDiscovery::obsVirtualCameraIsListedDisabled_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("obs") << QByteArray("OBS Virtual Camera") << false;
    QTest::newRow("lower") << QByteArray("obs virtual camera") << false;
    QTest::newRow("upper") << QByteArray("OBS VIRTUAL CAMERA") << false;
    QTest::newRow("longer") << QByteArray("OBS Virtual Camera 2") << true;
    QTest::newRow("webcam") << QByteArray("Webcam") << true;
}

void TestDiscovery::obsVirtualCameraIsListedDisabled()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, enabled);
    QCOMPARE(SlidesSourceInfo::videoInputEnabledByName(QString::fromUtf8(name)), enabled);
    FakeV4l2Tree tree;
    tree.addNode(4, name);
    const QList<SlidesSourceInfo> inputs = tree.list();
    QCOMPARE(inputs.size(), 1);
    QCOMPARE(inputs.constFirst().enabled(), enabled);
}

void TestDiscovery::missingTreesGiveNoDevices()
{
    QVERIFY(SlidesSourceInfoLinux::availableVideoInputs(QStringLiteral("/nonexistent/sys"),
                                                        QStringLiteral("/nonexistent/by-id"))
                .isEmpty());
    FakeV4l2Tree tree;
    QVERIFY(tree.list().isEmpty());
}

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
