#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <memory>

// A system-wide listener for pointer movements, implemented once per platform. Positions are
// reported in desktop pixels with the time on the listener's own clock.
class MouseListenerPrivate : public QObject
{
    Q_OBJECT

public:
    explicit MouseListenerPrivate(QObject *parent = nullptr);

    // The platform's listener; one that reports nothing where there is no way to listen.
    // QUILLORA_MOUSE_LISTENER=null forces the latter.
    static std::unique_ptr<MouseListenerPrivate> create();

    void restartTimer() { m_mouseTimer.restart(); }
    [[nodiscard]] qint64 currentMouseTime() const { return m_mouseTimer.elapsed(); }

    [[nodiscard]] virtual bool isRunning() const = 0;
    [[nodiscard]] virtual bool isStopped() const = 0;

public Q_SLOTS:
    virtual void start() = 0;
    virtual void requestStop() = 0;

Q_SIGNALS:
    void mousePositionChanged(qint64 time, qint64 x, qint64 y);
    void stopped();

private:
    QElapsedTimer m_mouseTimer;
};
