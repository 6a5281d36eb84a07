#pragma once

#include <QLibrary>
#include <QString>

// A part of the program kept in a library of its own, next to the program, and loaded only when
// it is used: the camera capture and the video encoder bring a few hundred libraries with them,
// which every start would otherwise load and relocate although most recordings never use them.
class RuntimeModule
{
public:
    // name: the library's base name ("quillora_camera"), without prefix and suffix.
    explicit RuntimeModule(const QString &name);

    // Loads the library on first use and resolves the function; null with the reason in
    // errorString() when either fails. The library stays loaded for the rest of the process.
    QFunctionPointer resolve(const char *symbol);
    [[nodiscard]] QString errorString() const { return m_error; }

private:
    bool load();

    QString m_name;
    QLibrary m_library;
    QString m_error;
};
