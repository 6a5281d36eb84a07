#include "SlideSourceCamera.h"

#include "RecorderSettings.h"
#include "RuntimeModule.h"

#include <QDebug>
#include <QThread>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <mutex>

namespace {

using OpenVideoCapture = cv::VideoCapture *(*)(int index, char *error, int errorSize);

// Loaded once, on the first camera opened, and kept.
OpenVideoCapture openVideoCaptureFunction(QString *error)
{
    static std::mutex mutex;
    static RuntimeModule module(QStringLiteral("quillora_camera"));
    static OpenVideoCapture function = nullptr;
    const std::lock_guard lock(mutex);
    if (!function) {
        function =
            reinterpret_cast<OpenVideoCapture>(module.resolve("quillora_open_video_capture"));
        if (!function)
            *error = module.errorString();
    }
    return function;
}

} // namespace

SlideSourceCamera::SlideSourceCamera(const SlidesSourceInfo &slidesSourceInfo)
    : SlideSource(slidesSourceInfo)
{
    const RecorderSettings *settings = RecorderSettings::instance();
    m_useNativeResolution = settings->useNativeSlideSourceResolution();
    m_slideWidth = settings->slideWidth();
    m_slideHeight = settings->slideHeight();
}

SlideSourceCamera::~SlideSourceCamera()
{
    // run() closes the device; this only matters for a thread that never got that far.
    destroyCamera();
}

void SlideSourceCamera::run()
{
    emit slidesFrozenChanged();
    emit slidesResolutionsChanged();
    if (!createCamera())
        return;
    m_sourceThreadId = QThread::currentThreadId();
    startCaptureTimer();
    restartTimer();
    emit ready();
    exec();
    stopCaptureTimer();
    destroyCamera();
    emit stopped();
}

std::unique_ptr<cv::VideoCapture> SlideSourceCamera::openVideoCapture(int index)
{
    QString moduleError;
    const OpenVideoCapture open = openVideoCaptureFunction(&moduleError);
    if (!open) {
        qWarning() << "[SlideSourceCamera]" << moduleError;
        return nullptr;
    }
    char error[512] = {};
    std::unique_ptr<cv::VideoCapture> capture(open(index, error, int(sizeof error)));
    if (!capture)
        qWarning() << "[SlideSourceCamera] cv::Exception:" << error;
    return capture;
}

bool SlideSourceCamera::createCamera()
{
    const SlidesSourceInfo &info = slidesSourceInfo();
    if (m_useNativeResolution) {
        qDebug() << "[SlideSourceCamera]" << info << "using native slide source resolution";
    } else if (m_slideWidth > 100 && m_slideHeight > 100) {
        qDebug() << "[SlideSourceCamera]" << info << "setting source resolution to" << m_slideWidth
                 << "x" << m_slideHeight;
    } else {
        qDebug() << "[SlideSourceCamera]" << info << "no resolution set";
        emit captureError(QStringLiteral("Invalid resolution set in Settings. Slides will be "
                                         "captured in slide source native resolution."));
    }
    if (!openCamera()) {
        qDebug() << "[SlideSourceCamera]" << info << "opening camera failed";
        emit captureError(
            QStringLiteral("Opening camera device %1 (index = %2) failed. No slides will be "
                           "captured.")
                .arg(info.name())
                .arg(info.index()));
        return false;
    }
    return true;
}

bool SlideSourceCamera::openCamera()
{
    m_camera = openVideoCapture(slidesSourceInfo().index());
    // The device may deliver another size; frames are used at whatever size they come.
    if (m_camera && !m_useNativeResolution && m_slideWidth > 100 && m_slideHeight > 100) {
        try {
            m_camera->set(cv::CAP_PROP_FRAME_WIDTH, static_cast<double>(m_slideWidth));
            m_camera->set(cv::CAP_PROP_FRAME_HEIGHT, static_cast<double>(m_slideHeight));
        } catch (const cv::Exception &exception) {
            qWarning() << "[SlideSourceCamera] cv::Exception:" << exception.what();
        }
    }
    if (!m_camera || !m_camera->isOpened()) {
        m_camera.reset();
        return false;
    }
    return true;
}

void SlideSourceCamera::destroyCamera()
{
    if (!m_camera)
        return;
    m_camera->release();
    m_camera.reset();
}

void SlideSourceCamera::captureSlide()
{
    if (QThread::currentThreadId() != m_sourceThreadId.load()) {
        qWarning() << "[SlideSourceCamera]"
                   << "captureSlide can only be called from the slide source thread";
        return;
    }
    captureNow();
}

QString SlideSourceCamera::deviceLabel() const
{
    return QStringLiteral("Camera \"%1\"").arg(slidesSourceInfo().name());
}

void SlideSourceCamera::capture(bool forceNewSlide)
{
    const qint64 time = currentSlideTime();
    // A device that failed is opened again at every capture until it delivers: a capture card
    // that lost its signal or a camera plugged back in.
    if (!m_camera && !openCamera()) {
        captureFailed(QStringLiteral("cannot be opened"));
        return;
    }
    cv::Mat grabbed;
    try {
        *m_camera >> grabbed;
    } catch (const cv::Exception &exception) {
        qWarning() << "[SlideSourceCamera] cv::Exception:" << exception.what();
        grabbed.release();
    }
    std::unique_ptr<cv::Mat> frame = toBgrFrame(grabbed);
    if (!frame) {
        captureFailed(QStringLiteral("delivered no picture at %1 ms").arg(time));
        if (deviceIsLost())
            destroyCamera();
        return;
    }
    const QList<SlideImage> slides{slideImageFromFrame(frame.release())};
    updateSlidesResolutions(slides);
    deliver(time, slides, forceNewSlide);
}

std::unique_ptr<cv::Mat> SlideSourceCamera::toBgrFrame(cv::Mat frame)
{
    if (frame.rows < 1 || frame.cols < 1)
        return nullptr;
    // Capture back ends deliver B G R unless a device forces its own layout; the image over the
    // matrix assumes three bytes per pixel, so anything else is converted or refused.
    try {
        auto result = std::make_unique<cv::Mat>();
        switch (frame.type()) {
        case CV_8UC3:
            *result = frame;
            break;
        case CV_8UC1:
            cv::cvtColor(frame, *result, cv::COLOR_GRAY2BGR);
            break;
        case CV_8UC4:
            cv::cvtColor(frame, *result, cv::COLOR_BGRA2BGR);
            break;
        default:
            qWarning() << "[SlideSourceCamera]"
                       << "unsupported frame type" << frame.type();
            return nullptr;
        }
        return result;
    } catch (const cv::Exception &exception) {
        qWarning() << "[SlideSourceCamera] cv::Exception:" << exception.what();
        return nullptr;
    }
}

SlideImage SlideSourceCamera::slideImageFromFrame(const cv::Mat *frame)
{
    // No copy and no clean-up function: the image lives on the matrix's pixels.
    const QImage image(frame->data, frame->cols, frame->rows, static_cast<qsizetype>(frame->step),
                       QImage::Format_BGR888);
    return SlideImage{frame, image};
}
