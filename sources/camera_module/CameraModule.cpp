// The camera capture of OpenCV, in a library that is loaded only when a camera or capture card is
// opened (see RuntimeModule).

#include <QByteArrayAlgorithms>
#include <QtGlobal>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/videoio.hpp>

#include <mutex>

extern "C" Q_DECL_EXPORT cv::VideoCapture *quillora_open_video_capture(int index, char *error,
                                                                       int errorSize)
{
    // OpenCV's back ends print their own warnings on the console when a device index does not
    // exist; the caller's messages say the same. An explicit OPENCV_LOG_LEVEL is left alone.
    static std::once_flag once;
    std::call_once(once, [] {
        if (qEnvironmentVariableIsEmpty("OPENCV_LOG_LEVEL"))
            cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    });
    try {
        return new cv::VideoCapture(index, cv::CAP_ANY);
    } catch (const cv::Exception &exception) {
        qstrncpy(error, exception.what(), errorSize);
        return nullptr;
    }
}
