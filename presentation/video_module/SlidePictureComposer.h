#pragma once

#include <QImage>
#include <QSize>
#include <QString>

class RecordedPresentation;
struct RecordedSlide;

// Turns the images of one slide into one video picture: the screens side by side at a common
// height, scaled to fit the video and centred on black.
class SlidePictureComposer
{
public:
    static constexpr int maximumWidth = 1920;

    // The size of the first slide, no wider than maximumWidth, with even sides as the video
    // encoder needs them. Reads only the images' headers. An invalid size with a message when an
    // image cannot be read.
    static QSize videoSize(const RecordedPresentation &presentation, QString *errorMessage);
    // Whether every image of the slide looks like one that can be decoded, from its header.
    static bool checkReadable(const RecordedPresentation &presentation, const RecordedSlide &slide,
                              QString *errorMessage);
    static QString unreadableMessage(const QString &path);

    explicit SlidePictureComposer(QSize videoSize) : m_size(videoSize) {}

    // A picture of the video's size in QImage::Format_RGB32.
    [[nodiscard]] QImage black() const;
    bool compose(const RecordedPresentation &presentation, const RecordedSlide &slide,
                 QImage *picture, QString *errorMessage) const;

private:
    QSize m_size;
};
