#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// An X server of its own (Xvfb) with one screen of the given size, on the first free display
// number from 90 on; stopped when the object goes.
class VirtualScreen
{
public:
    VirtualScreen() = default;
    ~VirtualScreen();
    VirtualScreen(const VirtualScreen &) = delete;
    VirtualScreen &operator=(const VirtualScreen &) = delete;

    // Starts the server and waits until it takes connections.
    bool start(int width, int height);
    void stop();

    // ":N"
    [[nodiscard]] QString display() const { return m_display; }
    // The environment with DISPLAY pointing at this server.
    [[nodiscard]] QProcessEnvironment environment(QProcessEnvironment base) const;
    // Runs a program on this display (xsetroot, xrandr) and tells whether it succeeded.
    bool run(const QString &program, const QStringList &arguments) const;

private:
    QProcess m_xvfb;
    QString m_display;
};
