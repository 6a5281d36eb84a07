#include "MouseListenerPrivateX11.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

#include <cstdlib>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

MouseListenerPrivateX11 *MouseListenerPrivateX11::m_currentInstance = nullptr;

MouseListenerPrivateX11::MouseListenerPrivateX11(xcb_connection_t *connection, QObject *parent)
    : MouseListenerPrivate(parent), m_connection(connection)
{}

MouseListenerPrivateX11::~MouseListenerPrivateX11()
{
    release();
}

bool MouseListenerPrivateX11::isRunning() const
{
    return !m_stopRequested && m_currentInstance == this;
}

// Judged by this listener alone: a listener that never got to listen is stopped once its stop
// has been carried out, whatever another listener does.
bool MouseListenerPrivateX11::isStopped() const
{
    return !m_stopRequested && m_currentInstance != this;
}

void MouseListenerPrivateX11::start()
{
    if (m_currentInstance) {
        qDebug() << "[MouseListenerPrivateX11] m_currentInstance is already set.";
        return;
    }
    m_currentInstance = this;
    restartTimer();
    qDebug() << "[MouseListenerPrivateX11] selecting raw motion";
    if (!selectRawMotion(true)) {
        qDebug() << "[MouseListenerPrivateX11] XInput2 raw motion is not available.";
        return;
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_listening = true;
}

void MouseListenerPrivateX11::requestStop()
{
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    QTimer::singleShot(0, this, &MouseListenerPrivateX11::stop);
}

void MouseListenerPrivateX11::stop()
{
    qDebug() << "[MouseListenerPrivateX11] stop";
    release();
    m_stopRequested = false;
    Q_EMIT stopped();
}

void MouseListenerPrivateX11::release()
{
    if (m_listening) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        selectRawMotion(false);
        m_listening = false;
    }
    if (m_currentInstance == this)
        m_currentInstance = nullptr;
}

bool MouseListenerPrivateX11::selectRawMotion(bool enable)
{
    const xcb_query_extension_reply_t *extension =
        xcb_get_extension_data(m_connection, &xcb_input_id);
    if (!extension || !extension->present)
        return false;
    m_xinputOpcode = extension->major_opcode;
    if (!enable)
        return selectOnRoots(0);
    if (selectOnRoots(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION))
        return true;
    // Qt announces XInput 2 itself when it uses it; the server refuses XI2 selections from a
    // client that has not.
    std::free(xcb_input_xi_query_version_reply(
        m_connection, xcb_input_xi_query_version(m_connection, 2, 2), nullptr));
    return selectOnRoots(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION);
}

bool MouseListenerPrivateX11::selectOnRoots(quint32 mask)
{
    struct
    {
        xcb_input_event_mask_t head;
        quint32 mask;
    } selection{};
    selection.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    selection.head.mask_len = 1;
    selection.mask = mask;

    bool ok = true;
    // Raw events are delivered to root windows only.
    for (xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
         screens.rem; xcb_screen_next(&screens)) {
        const xcb_void_cookie_t cookie = xcb_input_xi_select_events_checked(
            m_connection, screens.data->root, 1, &selection.head);
        if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookie)) {
            std::free(error);
            ok = false;
        }
    }
    return ok;
}

bool MouseListenerPrivateX11::nativeEventFilter(const QByteArray &eventType, void *message,
                                                qintptr *)
{
    if (eventType != "xcb_generic_event_t" || m_currentInstance != this)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
        return false;
    const auto *generic = reinterpret_cast<const xcb_ge_generic_event_t *>(event);
    if (generic->extension != m_xinputOpcode || generic->event_type != XCB_INPUT_RAW_MOTION)
        return false;

    const qint64 time = currentMouseTime();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    xcb_query_pointer_reply_t *pointer =
        xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, root), nullptr);
    if (!pointer)
        return false;
    const qint64 x = pointer->root_x;
    const qint64 y = pointer->root_y;
    std::free(pointer);
    // Like a hook procedure, the filter only posts: the event reader goes on at once.
    QMetaObject::invokeMethod(
        this, [this, time, x, y] { emitMousePositionChanged(time, x, y); }, Qt::QueuedConnection);
    return false;
}

void MouseListenerPrivateX11::emitMousePositionChanged(qint64 time, qint64 x, qint64 y)
{
    if (m_stopRequested || (x == m_lastPositionX && y == m_lastPositionY))
        return;
    m_lastPositionX = x;
    m_lastPositionY = y;
    Q_EMIT mousePositionChanged(time, x, y);
}
