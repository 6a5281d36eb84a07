#pragma once

#include <QObject>

#include <memory>

// Turns the process's termination requests (SIGINT and SIGTERM on POSIX) into a Qt signal on the
// thread that created the object, so that a headless recording can end like a normal stop.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    // The platform's watcher; null where the platform has none.
    static std::unique_ptr<TerminationSignals> create(QObject *parent = nullptr);

Q_SIGNALS:
    void terminationRequested(int signalNumber);

protected:
    using QObject::QObject;
};
