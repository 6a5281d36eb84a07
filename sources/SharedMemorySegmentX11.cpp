#include "SharedMemorySegmentX11.h"

#include <QDebug>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

SharedMemorySegmentX11::SharedMemorySegmentX11(xcb_connection_t *connection, uint32_t id,
                                               void *data, size_t size)
    : m_connection(connection), m_id(id), m_data(data), m_size(size)
{}

std::unique_ptr<SharedMemorySegmentX11> SharedMemorySegmentX11::create(xcb_connection_t *connection,
                                                                       size_t size)
{
    const int shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmId < 0) {
        qDebug() << "[SharedMemorySegmentX11]"
                 << "shmget of" << size << "bytes failed:" << std::strerror(errno);
        return nullptr;
    }
    void *data = shmat(shmId, nullptr, 0);
    if (data == reinterpret_cast<void *>(-1)) {
        qDebug() << "[SharedMemorySegmentX11]"
                 << "shmat failed:" << std::strerror(errno);
        shmctl(shmId, IPC_RMID, nullptr);
        return nullptr;
    }

    const uint32_t id = xcb_generate_id(connection);
    xcb_generic_error_t *error =
        xcb_request_check(connection, xcb_shm_attach_checked(connection, id, uint32_t(shmId), 0));
    // Attached on both sides (or refused): the segment goes away with the last detach, even if
    // this process dies.
    shmctl(shmId, IPC_RMID, nullptr);
    if (error) {
        qDebug() << "[SharedMemorySegmentX11]"
                 << "the X server refused the segment, error" << error->error_code;
        std::free(error);
        shmdt(data);
        return nullptr;
    }
    return std::unique_ptr<SharedMemorySegmentX11>(
        new SharedMemorySegmentX11(connection, id, data, size));
}

SharedMemorySegmentX11::~SharedMemorySegmentX11()
{
    xcb_shm_detach(m_connection, m_id);
    xcb_flush(m_connection);
    shmdt(m_data);
}
