#include "ApplicationIdentity.h"

#include <QDebug>
#include <QSettings>

#include <cstdio>
#include <memory>

namespace {

const char *statusText(QSettings::Status status)
{
    switch (status) {
    case QSettings::NoError:
        return "no error";
    case QSettings::AccessError:
        return "the settings store cannot be read or written";
    case QSettings::FormatError:
        return "the settings store is damaged";
    }
    return "unknown error";
}

} // namespace

int main(int, char **)
{
    ApplicationIdentity::apply();

    auto settings = std::make_unique<QSettings>();
    settings->clear();
    // clear() only marks the keys: whether they are gone shows once the store has been written.
    settings->sync();
    const QSettings::Status status = settings->status();
    int exitCode = 0;
    if (status == QSettings::NoError) {
        qDebug() << "[Settings]"
                 << "settings has been reset";
    } else {
        std::fprintf(stderr, "Resetting the settings failed: %s (%s).\n", statusText(status),
                     qPrintable(settings->fileName()));
        exitCode = 1;
    }

    std::fputs("Press any key to exit...\n", stdout);
    std::fflush(stdout);
    std::getchar();
    return exitCode;
}
