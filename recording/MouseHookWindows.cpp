#include "MouseHookWindows.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

// Written by install() and remove() and read by the hook procedure, all on the installing thread.
MouseHookWindows::Receiver *s_receiver = nullptr;

LRESULT CALLBACK lowLevelMouseProcedure(int code, WPARAM message, LPARAM record)
{
    if (code >= 0 && message == WM_MOUSEMOVE && s_receiver != nullptr) {
        // The system passes the address of the event record as the integer parameter.
        const auto *event =
            reinterpret_cast<const MSLLHOOKSTRUCT *>(record); // NOLINT(performance-no-int-to-ptr)
        s_receiver->mouseMoved(event->pt.x, event->pt.y);
    }
    // Always pass the event on, so that the other hooks of the desktop see it too.
    return CallNextHookEx(nullptr, code, message, record);
}

} // namespace

MouseHookWindows::~MouseHookWindows()
{
    remove();
}

bool MouseHookWindows::install(Receiver *receiver)
{
    if (receiver == nullptr || m_handle != nullptr || s_receiver != nullptr)
        return false;
    s_receiver = receiver;
    HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, lowLevelMouseProcedure, nullptr, 0);
    if (hook == nullptr) {
        s_receiver = nullptr;
        return false;
    }
    m_handle = hook;
    return true;
}

void MouseHookWindows::remove()
{
    if (m_handle == nullptr)
        return;
    UnhookWindowsHookEx(static_cast<HHOOK>(m_handle));
    m_handle = nullptr;
    s_receiver = nullptr;
}
