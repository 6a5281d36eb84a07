#pragma once

#include <QObject>

// Published to the window and loaded at start-up like the other settings; it holds no values yet.
class NetworkSettings : public QObject
{
    Q_OBJECT

public:
    static NetworkSettings *instance();

    void load();

private:
    NetworkSettings() = default;
};
