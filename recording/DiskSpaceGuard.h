#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// Watches the free space of the file system a recording is written to. Running out of space in
// the middle of a talk damages whatever is being written at that moment; stopping while there is
// still room keeps every file complete.
class DiskSpaceGuard : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 megabyte = 1024 * 1024;
    // Below this the user is warned once per recording.
    static constexpr qint64 lowSpaceBytes = 1024 * megabyte;
    // Below this no recording starts, and a running one is stopped.
    static constexpr qint64 minimumSpaceBytes = 200 * megabyte;
    static constexpr int checkIntervalMs = 5000;

    explicit DiskSpaceGuard(QObject *parent = nullptr);

    // Free bytes for this user on the file system holding path; -1 when it cannot be read.
    [[nodiscard]] static qint64 availableBytes(const QString &path);
    [[nodiscard]] static QString almostFullMessage();

    // Checks at once and then every few seconds until stop().
    void start(const QString &path);
    void stop();

Q_SIGNALS:
    void lowSpace(QString message);
    void almostFull(QString message);

private:
    void check();

    QTimer m_timer;
    QString m_path;
    bool m_lowSpaceReported = false;
    bool m_almostFullReported = false;
};
