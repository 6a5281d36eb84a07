#include "DiskSpaceGuard.h"

#include <QDebug>
#include <QStorageInfo>

DiskSpaceGuard::DiskSpaceGuard(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(checkIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &DiskSpaceGuard::check);
}

qint64 DiskSpaceGuard::availableBytes(const QString &path)
{
    QStorageInfo storage(path);
    storage.refresh();
    if (!storage.isValid() || !storage.isReady())
        return -1;
    return storage.bytesAvailable();
}

QString DiskSpaceGuard::almostFullMessage()
{
    return QStringLiteral("Recording stopped: the disk is almost full.");
}

void DiskSpaceGuard::start(const QString &path)
{
    m_path = path;
    m_lowSpaceReported = false;
    m_almostFullReported = false;
    m_timer.start();
    check();
}

void DiskSpaceGuard::stop()
{
    m_timer.stop();
}

void DiskSpaceGuard::check()
{
    const qint64 available = availableBytes(m_path);
    if (available < 0)
        return;
    if (available < minimumSpaceBytes) {
        if (!m_almostFullReported) {
            m_almostFullReported = true;
            qWarning() << "[DiskSpaceGuard]" << available / megabyte << "MB left in" << m_path;
            Q_EMIT almostFull(almostFullMessage());
        }
        return;
    }
    if (available < lowSpaceBytes && !m_lowSpaceReported) {
        m_lowSpaceReported = true;
        qWarning() << "[DiskSpaceGuard]" << available / megabyte << "MB left in" << m_path;
        Q_EMIT lowSpace(QStringLiteral("Disk space is low: %1 MB left.").arg(available / megabyte));
    }
}
