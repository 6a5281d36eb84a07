#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct xcb_connection_t;

// A System V shared-memory segment that this process and the X server both have attached: the
// server writes a screen's pixels straight into it instead of sending them through the socket.
// The segment is marked for removal as soon as the server holds it, so it cannot outlive the two.
class SharedMemorySegmentX11
{
public:
    // Null when the segment cannot be made or the server cannot attach it (a display on another
    // machine, a server without the extension, limits of the system).
    [[nodiscard]] static std::unique_ptr<SharedMemorySegmentX11>
    create(xcb_connection_t *connection, size_t size);

    ~SharedMemorySegmentX11();
    SharedMemorySegmentX11(const SharedMemorySegmentX11 &) = delete;
    SharedMemorySegmentX11 &operator=(const SharedMemorySegmentX11 &) = delete;

    // The server's name for the segment.
    [[nodiscard]] uint32_t id() const { return m_id; }
    [[nodiscard]] void *data() const { return m_data; }
    [[nodiscard]] size_t size() const { return m_size; }

private:
    SharedMemorySegmentX11(xcb_connection_t *connection, uint32_t id, void *data, size_t size);

    xcb_connection_t *m_connection;
    uint32_t m_id;
    void *m_data;
    size_t m_size;
};
