#pragma once

#include <cstdint>

// The system-wide low-level mouse hook of Windows, without Qt. The system calls the hook on the
// thread that installed it (that thread needs a message loop) for every pointer event on the
// desktop. A process holds at most one such hook at a time, since the hook procedure has no
// context of its own and reaches its receiver through a process-wide pointer.
class MouseHookWindows
{
public:
    class Receiver
    {
    public:
        // Called inside the hook procedure: the system's input waits until it returns, so it must
        // only take note of the position.
        virtual void mouseMoved(std::int32_t x, std::int32_t y) = 0;

    protected:
        ~Receiver() = default;
    };

    MouseHookWindows() = default;
    ~MouseHookWindows();
    MouseHookWindows(const MouseHookWindows &) = delete;
    MouseHookWindows &operator=(const MouseHookWindows &) = delete;

    // Installs the hook for all threads of the desktop. Fails when this or another hook of the
    // process is installed, or when the system refuses.
    bool install(Receiver *receiver);
    // Removes the hook if it is installed; safe to call at any time.
    void remove();

    [[nodiscard]] bool isInstalled() const { return m_handle != nullptr; }
    // The system's hook handle (HHOOK), null when not installed.
    [[nodiscard]] void *handle() const { return m_handle; }

private:
    void *m_handle = nullptr;
};
