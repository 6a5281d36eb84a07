#pragma once

#include "SlideImage.h"

#include <QObject>
#include <QString>

#include <memory>

class QScreen;

// Takes the picture of one screen for the interval screen capture. Each platform may have a
// faster way than Qt's generic screen grab; create() picks the best one that works on this
// display and falls back to Qt's. QUILLORA_SCREEN_GRABBER=qscreen forces the generic grab (tests
// run both paths).
class ScreenGrabber : public QObject
{
    Q_OBJECT

public:
    [[nodiscard]] static std::unique_ptr<ScreenGrabber> create();

    ~ScreenGrabber() override;

    // The picture of the screen at this position of the application's screen list. The caller
    // owns the matrix, which is empty when nothing could be grabbed; the image may live on the
    // matrix's pixels, so it is valid only as long as the matrix is.
    [[nodiscard]] virtual SlideImage grab(int index, QScreen *screen) = 0;
    // The screens from this position of the list on are gone; what was kept for them may go.
    virtual void releaseScreensFrom(int index);
    // For the log: how the screens are grabbed.
    [[nodiscard]] virtual QString name() const = 0;

Q_SIGNALS:
    // A message for the user; the picture is still delivered.
    void grabError(const QString &error);

protected:
    explicit ScreenGrabber(QObject *parent = nullptr);
};
