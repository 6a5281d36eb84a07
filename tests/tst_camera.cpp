#include "MetaTypes.h"
#include "RecorderSettings.h"
#include "SlideImage.h"
#include "SlideSourceCamera.h"

#include "SourceObserver.h"

#include <QMutex>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <memory>

namespace {

// What a fake device was asked to do, in order, and what it serves. Shared between the test and
// the device, which is used in the source thread.
struct DeviceScript
{
    QMutex mutex;
    QStringList calls;
    bool opens = true;
    // Served one per read, the last one again and again; the device when it is opened again
    // goes on where the last one was.
    QList<cv::Mat> frames;
    qsizetype served = 0;

    void record(const QString &call)
    {
        QMutexLocker locker(&mutex);
        calls.append(call);
    }
    QStringList recorded()
    {
        QMutexLocker locker(&mutex);
        return calls;
    }
};

class FakeVideoCapture : public cv::VideoCapture
{
public:
    explicit FakeVideoCapture(std::shared_ptr<DeviceScript> script) : m_script(std::move(script)) {}

    bool isOpened() const override
    {
        m_script->record("isOpened");
        return m_script->opens;
    }
    bool set(int property, double value) override
    {
        m_script->record(QStringLiteral("set %1 %2").arg(property).arg(value));
        return true;
    }
    cv::VideoCapture &operator>>(cv::Mat &image) override
    {
        QMutexLocker locker(&m_script->mutex);
        m_script->calls.append("read");
        const qsizetype last = m_script->frames.size() - 1;
        image = m_script->frames.at(std::min(m_script->served++, last)).clone();
        return *this;
    }
    void release() override { m_script->record("release"); }

private:
    std::shared_ptr<DeviceScript> m_script;
};

// The camera source on a scripted device instead of hardware.
class ScriptedCamera : public SlideSourceCamera
{
public:
    ScriptedCamera(const SlidesSourceInfo &info, std::shared_ptr<DeviceScript> script)
        : SlideSourceCamera(info), m_script(std::move(script))
    {}

protected:
    std::unique_ptr<cv::VideoCapture> openVideoCapture(int index) override
    {
        m_script->record(QStringLiteral("open %1").arg(index));
        return std::make_unique<FakeVideoCapture>(m_script);
    }

private:
    std::shared_ptr<DeviceScript> m_script;
};

cv::Mat patternFrame(int width, int height)
{
    cv::Mat frame(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(x), uchar(y), uchar(x * 3 + y)); // B G R
    return frame;
}

SlidesSourceInfo cameraInfo(int index)
{
    return SlidesSourceInfo(true, SlidesSourceInfo::Camera, "camera-id", index, "Test camera");
}

void setResolution(bool native, int width, int height)
{
    RecorderSettings::instance()->setUseNativeSlideSourceResolution(native);
    RecorderSettings::instance()->setSlideWidth(width);
    RecorderSettings::instance()->setSlideHeight(height);
}

const QString invalidResolution = "Invalid resolution set in Settings. Slides will be captured in "
                                  "slide source native resolution.";

} // namespace

class CameraTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Settings written by this process stay in a temporary directory.
        QVERIFY(m_configHome.isValid());
        qputenv("XDG_CONFIG_HOME", m_configHome.path().toLocal8Bit());
        // The back-end order the program sets on Linux. The gPhoto2 back end is left out: probing
        // it leaks inside libgphoto2/libusb, which would drown the leak check of this test.
        qputenv("OPENCV_VIDEOIO_PRIORITY_LIST", "V4L2");
        qputenv("OPENCV_VIDEOIO_PRIORITY_GPHOTO2", "0");
        MetaTypes::registerAll();
        SlideImage::registerMetaTypes();
    }

    void factoryBuildsCameraSources()
    {
        const std::unique_ptr<SlideSource> source(SlideSource::create(cameraInfo(3)));
        QVERIFY(qobject_cast<SlideSourceCamera *>(source.get()));
        QCOMPARE(source->slidesSourceInfo().index(), 3);
    }

    void missingDevice_data()
    {
        QTest::addColumn<bool>("nativeResolution");
        QTest::addColumn<int>("width");
        QTest::addColumn<QStringList>("errors");
        const QString openFailed = "Opening camera device Test camera (index = 97) failed. No "
                                   "slides will be captured.";
        QTest::newRow("native") << true << 1920 << QStringList{openFailed};
        QTest::newRow("1920x1080") << false << 1920 << QStringList{openFailed};
        QTest::newRow("width 100") << false << 100 << QStringList{invalidResolution, openFailed};
    }

    // No camera exists on the test machine, so the real capture opens nothing at any index.
    void missingDevice()
    {
        QFETCH(bool, nativeResolution);
        QFETCH(int, width);
        QFETCH(QStringList, errors);
        setResolution(nativeResolution, width, 1080);
        // The capture is loaded at run time from the module beside the program.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("cannot be loaded")));

        SlideSourceCamera source(cameraInfo(97));
        SourceObserver observer(&source);
        source.start();
        QVERIFY(source.wait(20000));
        QTRY_COMPARE(observer.finished, 1);
        QCOMPARE(observer.errors, errors);
        QCOMPARE(observer.ready, 0);
        QCOMPARE(observer.stopped, 0);
    }

    void resolutionRequests_data()
    {
        QTest::addColumn<bool>("nativeResolution");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("errors");
        const QString openFailed = "Opening camera device Test camera (index = 2) failed. No "
                                   "slides will be captured.";
        QTest::newRow("native") << true << 1920 << 1080 << QStringList{"open 2", "isOpened"}
                                << QStringList{openFailed};
        QTest::newRow("1920x1080")
            << false << 1920 << 1080
            << QStringList{"open 2", QStringLiteral("set %1 1920").arg(cv::CAP_PROP_FRAME_WIDTH),
                           QStringLiteral("set %1 1080").arg(cv::CAP_PROP_FRAME_HEIGHT), "isOpened"}
            << QStringList{openFailed};
        QTest::newRow("width 100") << false << 100 << 1080 << QStringList{"open 2", "isOpened"}
                                   << QStringList{invalidResolution, openFailed};
        QTest::newRow("height 100") << false << 1280 << 100 << QStringList{"open 2", "isOpened"}
                                    << QStringList{invalidResolution, openFailed};
    }

    // The resolution is asked for before the open state is looked at; a resolution of 100 or
    // less is never sent to the device.
    void resolutionRequests()
    {
        QFETCH(bool, nativeResolution);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, errors);
        setResolution(nativeResolution, width, height);

        auto script = std::make_shared<DeviceScript>();
        script->opens = false;
        ScriptedCamera source(cameraInfo(2), script);
        SourceObserver observer(&source);
        source.start();
        QVERIFY(source.wait(5000));
        QTRY_COMPARE(observer.finished, 1);
        QCOMPARE(script->recorded(), calls);
        QCOMPARE(observer.errors, errors);
        QCOMPARE(observer.ready, 0);
    }

    void frameBecomesBgrImageOverTheMatrix()
    {
        // A region of a larger matrix has rows longer than the picture.
        const cv::Mat wide = patternFrame(100, 48);
        for (const cv::Mat &source : {patternFrame(64, 48), wide(cv::Rect(10, 0, 64, 48))}) {
            auto *frame = new cv::Mat(source);
            const SlideImage slide = SlideSourceCamera::slideImageFromFrame(frame);
            QCOMPARE(slide.frame, frame);
            QCOMPARE(slide.image.format(), QImage::Format_BGR888);
            QCOMPARE(slide.image.size(), QSize(64, 48));
            QCOMPARE(slide.image.bytesPerLine(), qsizetype(frame->step));
            QCOMPARE(slide.image.constBits(), frame->data);
            for (const QPoint point : {QPoint(0, 0), QPoint(63, 0), QPoint(5, 7), QPoint(63, 47)}) {
                const cv::Vec3b bgr = frame->at<cv::Vec3b>(point.y(), point.x());
                QCOMPARE(slide.image.pixelColor(point), QColor(bgr[2], bgr[1], bgr[0]));
            }
            // Whoever keeps the picture longer than the matrix copies it first.
            const cv::Vec3b bgr = frame->at<cv::Vec3b>(47, 63);
            const QImage kept = slide.image.copy();
            delete frame;
            QCOMPARE(kept.pixelColor(63, 47), QColor(bgr[2], bgr[1], bgr[0]));
        }
    }

    void otherLayoutsAreConverted()
    {
        const cv::Mat gray(4, 6, CV_8UC1, cv::Scalar(77));
        const std::unique_ptr<cv::Mat> fromGray = SlideSourceCamera::toBgrFrame(gray);
        QVERIFY(fromGray);
        QCOMPARE(fromGray->type(), CV_8UC3);
        QCOMPARE(fromGray->at<cv::Vec3b>(3, 5), cv::Vec3b(77, 77, 77));
        const cv::Mat bgra(4, 6, CV_8UC4, cv::Scalar(1, 2, 3, 4));
        const std::unique_ptr<cv::Mat> fromBgra = SlideSourceCamera::toBgrFrame(bgra);
        QVERIFY(fromBgra);
        QCOMPARE(fromBgra->type(), CV_8UC3);
        QCOMPARE(fromBgra->at<cv::Vec3b>(0, 0), cv::Vec3b(1, 2, 3));
        QVERIFY(!SlideSourceCamera::toBgrFrame(cv::Mat()));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[SlideSourceCamera\\] unsupported frame type"));
        QVERIFY(!SlideSourceCamera::toBgrFrame(cv::Mat(4, 6, CV_16UC3, cv::Scalar(0))));
    }

    void deliversOnePicturePerCapture()
    {
        setResolution(true, 1920, 1080);
        auto script = std::make_shared<DeviceScript>();
        script->frames = {patternFrame(320, 240)};
        ScriptedCamera source(cameraInfo(0), script);
        SourceObserver observer(&source);
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(observer.batches.size(), 1, 5000);
        QCOMPARE(observer.ready, 1);
        QCOMPARE(observer.errors, QStringList());
        const SourceObserver::Batch &batch = observer.batches.first();
        QVERIFY(!batch.forced);
        QVERIFY(batch.time >= 900);
        QCOMPARE(batch.slides.size(), 1);
        const SlideImage &slide = batch.slides.first();
        QCOMPARE(slide.frame->type(), CV_8UC3);
        QCOMPARE(slide.image.size(), QSize(320, 240));
        QCOMPARE(slide.image.constBits(), slide.frame->data);
        QCOMPARE(slide.image.pixelColor(10, 20), QColor(uchar(10 * 3 + 20), 20, 10));
        const QVariantMap resolution = source.slidesResolutions().value(0).toMap();
        QCOMPARE(resolution.value("width").toDouble(), 320.0);
        QCOMPARE(resolution.value("height").toDouble(), 240.0);

        source.requestStop();
        QVERIFY(source.wait(5000));
        QTRY_COMPARE(observer.stopped, 1);
        QCOMPARE(script->recorded().last(), QStringLiteral("release"));
    }

    // A capture card that loses its signal for a few frames: reported once, opened again at
    // every capture, and reported back once with the first picture.
    void lostDeviceIsReportedOnceAndReopened()
    {
        setResolution(true, 1920, 1080);
        auto script = std::make_shared<DeviceScript>();
        script->frames = {patternFrame(32, 16), cv::Mat(), cv::Mat(), cv::Mat(),
                          patternFrame(64, 48)};
        ScriptedCamera source(cameraInfo(0), script);
        SourceObserver observer(&source);
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(observer.batches.size(), 2, 10000);
        QCOMPARE(observer.errors, QStringList());
        QCOMPARE(observer.lost, QStringList{"Camera \"Test camera\""});
        QCOMPARE(observer.returned, QStringList{"Camera \"Test camera\""});
        QCOMPARE(observer.batches.at(0).slides.first().image.size(), QSize(32, 16));
        QCOMPARE(observer.batches.at(1).slides.first().image.size(), QSize(64, 48));
        // Closed when lost, opened again for each of the next captures.
        QCOMPARE(script->recorded().count("open 0"), 4);
        QCOMPARE(script->recorded().count("release"), 3);
        source.requestStop();
        QVERIFY(source.wait(5000));
    }

    // Before its first picture a device is not lost: whether it ever delivers is the start's
    // question, which names the source when it does not.
    void noPictureYetIsNotALoss()
    {
        setResolution(true, 1920, 1080);
        auto script = std::make_shared<DeviceScript>();
        script->frames = {cv::Mat(), cv::Mat(), patternFrame(32, 16)};
        ScriptedCamera source(cameraInfo(0), script);
        SourceObserver observer(&source);
        QSignalSpy first(&source, &SlideSource::firstPictureCaptured);
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(observer.batches.size(), 1, 8000);
        QCOMPARE(first.count(), 1);
        QCOMPARE(observer.errors, QStringList());
        QCOMPARE(observer.lost, QStringList());
        source.requestStop();
        QVERIFY(source.wait(5000));
    }

    // A forced capture must come from the source thread: the slide recorder posts it there.
    void captureSlideOnlyInTheSourceThread()
    {
        setResolution(true, 1920, 1080);
        auto script = std::make_shared<DeviceScript>();
        script->frames = {patternFrame(32, 16)};
        ScriptedCamera source(cameraInfo(0), script);
        SourceObserver observer(&source);
        source.start();
        QTRY_COMPARE(observer.ready, 1);
        QTimer::singleShot(0, &source, [&source] { source.freezeSlides(); });
        QTRY_VERIFY(source.slidesFrozen());

        QTest::ignoreMessage(QtWarningMsg, "[SlideSourceCamera] captureSlide can only be called "
                                           "from the slide source thread");
        source.captureSlide();
        QTimer::singleShot(0, &source, [&source] { source.captureSlide(); });
        QTRY_COMPARE(observer.batches.size(), 1);
        QVERIFY(observer.batches.first().forced);
        // Frozen: nothing periodic follows.
        QTest::qWait(1500);
        QCOMPARE(observer.batches.size(), 1);
        QCOMPARE(script->recorded().count("read"), 1);
        source.requestStop();
        QVERIFY(source.wait(5000));
    }

private:
    QTemporaryDir m_configHome;
};

QTEST_GUILESS_MAIN(CameraTest)
#include "tst_camera.moc"
