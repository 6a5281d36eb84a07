#pragma once

#include "MouseListenerPrivate.h"

#include <QAbstractNativeEventFilter>

struct xcb_connection_t;

// Receives every pointer movement of the X11 display, whichever window the pointer is over:
// XInput2 raw motion selected on the root windows through Qt's own connection, delivered to the
// GUI thread by Qt's event reader. Raw events carry device deltas, not positions, so the pointer
// position is queried at each event. Only one listener of the process listens at a time.
class MouseListenerPrivateX11 : public MouseListenerPrivate, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit MouseListenerPrivateX11(xcb_connection_t *connection, QObject *parent = nullptr);
    ~MouseListenerPrivateX11() override;

    [[nodiscard]] bool isRunning() const override;
    [[nodiscard]] bool isStopped() const override;

    [[nodiscard]] qint64 lastPositionX() const { return m_lastPositionX; }
    [[nodiscard]] qint64 lastPositionY() const { return m_lastPositionY; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

public Q_SLOTS:
    void start() override;
    void requestStop() override;
    void emitMousePositionChanged(qint64 time, qint64 x, qint64 y);

private:
    void stop();
    bool selectRawMotion(bool enable);
    bool selectOnRoots(quint32 mask);
    void release();

    xcb_connection_t *m_connection = nullptr;
    quint8 m_xinputOpcode = 0;
    bool m_listening = false;
    bool m_stopRequested = false;
    qint64 m_lastPositionX = -1;
    qint64 m_lastPositionY = -1;

    static MouseListenerPrivateX11 *m_currentInstance;
};
