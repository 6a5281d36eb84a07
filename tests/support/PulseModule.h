#pragma once

#include <QString>

// A module of the test sound server loaded for one test, as a device the user plugs in: unload()
// pulls it out while programs use it, load() plugs it back with the same identifier. Unloaded at
// the end.
class PulseModule
{
public:
    PulseModule(const QString &name, const QString &arguments);
    ~PulseModule();

    PulseModule(const PulseModule &) = delete;
    PulseModule &operator=(const PulseModule &) = delete;

    bool load();
    bool unload();
    [[nodiscard]] bool isLoaded() const { return m_index >= 0; }

private:
    QString m_name;
    QString m_arguments;
    int m_index = -1;
};
