#include "SlideSourceNDI.h"

#include "NdiRuntime.h"

#include <QDebug>
#include <QThread>

#include <opencv2/core.hpp>

SlideSourceNDI::SlideSourceNDI(const SlidesSourceInfo &slidesSourceInfo)
    : SlideSource(slidesSourceInfo)
{}

SlideSourceNDI::~SlideSourceNDI()
{
    // run() closes the receiver; this only matters for a thread that never got that far.
    destroyNDISource();
}

void SlideSourceNDI::run()
{
    emit slidesFrozenChanged();
    emit slidesResolutionsChanged();
    if (!createNDISource())
        return;
    m_sourceThreadId = QThread::currentThreadId();
    startCaptureTimer();
    restartTimer();
    emit ready();
    exec();
    stopCaptureTimer();
    destroyNDISource();
    emit stopped();
}

bool SlideSourceNDI::createNDISource()
{
    if (!connectReceiver()) {
        qDebug() << "[SlideSourceNDI]"
                 << "creating NDI receiver failed";
        emit captureError(
            QStringLiteral("Creating NDI receiver failed. No slides will be captured."));
        return false;
    }
    return true;
}

bool SlideSourceNDI::connectReceiver()
{
    const NdiRuntime &runtime = NdiRuntime::instance();
    if (!runtime.isAvailable())
        return false;
    NDIlib_recv_create_v3_t settings;
    settings.source_to_connect_to = NDIlib_source_t();
    settings.color_format = NDIlib_recv_color_format_RGBX_RGBA;
    settings.bandwidth = NDIlib_recv_bandwidth_highest;
    settings.allow_video_fields = true;
    settings.p_ndi_recv_name = nullptr;
    m_ndiReceiver = runtime.recvCreateV3(&settings);
    if (!m_ndiReceiver)
        return false;
    const QByteArray name = slidesSourceInfo().name().toUtf8();
    const QByteArray urlAddress =
        slidesSourceInfo().data(QStringLiteral("ndiUrlAddress")).toString().toUtf8();
    NDIlib_source_t source;
    source.p_ndi_name = name.constData();
    source.p_url_address = urlAddress.constData();
    runtime.recvConnect(m_ndiReceiver, &source);
    return true;
}

void SlideSourceNDI::destroyNDISource()
{
    if (!m_ndiReceiver)
        return;
    NdiRuntime::instance().recvDestroy(m_ndiReceiver);
    m_ndiReceiver = nullptr;
}

void SlideSourceNDI::captureSlide()
{
    if (QThread::currentThreadId() != m_sourceThreadId.load()) {
        qWarning() << "[SlideSourceNDI]"
                   << "captureSlide can only be called from the slide source thread";
        return;
    }
    captureNow();
}

QString SlideSourceNDI::deviceLabel() const
{
    return QStringLiteral("NDI stream \"%1\"").arg(slidesSourceInfo().name());
}

void SlideSourceNDI::reconnectIfLost()
{
    if (!deviceIsLost()) {
        m_capturesSinceReconnect = 0;
        return;
    }
    if (m_ndiReceiver && m_capturesSinceReconnect++ % capturesPerReconnect != 0)
        return;
    qDebug() << "[SlideSourceNDI]" << slidesSourceInfo() << "making a new receiver";
    destroyNDISource();
    connectReceiver();
}

void SlideSourceNDI::capture(bool forceNewSlide)
{
    const qint64 time = currentSlideTime();
    reconnectIfLost();
    if (!m_ndiReceiver) {
        captureFailed(QStringLiteral("has no receiver"));
        return;
    }
    const NdiRuntime &runtime = NdiRuntime::instance();
    NDIlib_video_frame_v2_t videoFrame;
    const NDIlib_frame_type_e type =
        runtime.recvCaptureV3(m_ndiReceiver, &videoFrame, nullptr, nullptr, 0);
    if (type != NDIlib_frame_type_video) {
        captureFailed(QStringLiteral("no video frame (type %1) at %2 ms").arg(int(type)).arg(time));
        return;
    }
    std::unique_ptr<cv::Mat> frame = copyFrame(videoFrame);
    runtime.recvFreeVideoV2(m_ndiReceiver, &videoFrame);
    if (!frame) {
        captureFailed(QStringLiteral("video frame without picture at %1 ms").arg(time));
        return;
    }
    // The image is a view of the matrix; whoever keeps it longer than the matrix copies it.
    const QImage image(frame->data, frame->cols, frame->rows, static_cast<qsizetype>(frame->step),
                       QImage::Format_RGBA8888);
    const QList<SlideImage> slides{SlideImage{frame.release(), image}};
    updateSlidesResolutions(slides);
    deliver(time, slides, forceNewSlide);
}

std::unique_ptr<cv::Mat> SlideSourceNDI::copyFrame(const NDIlib_video_frame_v2_t &videoFrame)
{
    if (videoFrame.xres < 1 || videoFrame.yres < 1 || !videoFrame.p_data)
        return nullptr;
    // Rows may be padded, so the runtime's stride is honoured; a stride shorter than a row of
    // R G B A pixels means the frame is not in the format asked for, and reading it as such would
    // run past its buffer.
    const size_t rowBytes = static_cast<size_t>(videoFrame.xres) * 4;
    size_t stride = rowBytes;
    if (videoFrame.line_stride_in_bytes > 0)
        stride = static_cast<size_t>(videoFrame.line_stride_in_bytes);
    if (stride < rowBytes) {
        qWarning() << "[SlideSourceNDI]"
                   << "frame row stride" << videoFrame.line_stride_in_bytes << "too short for width"
                   << videoFrame.xres;
        return nullptr;
    }
    try {
        const cv::Mat received(videoFrame.yres, videoFrame.xres, CV_8UC4, videoFrame.p_data,
                               stride);
        return std::make_unique<cv::Mat>(received.clone());
    } catch (const cv::Exception &exception) {
        qWarning() << "[SlideSourceNDI] cv::Exception:" << exception.what();
        return nullptr;
    }
}
