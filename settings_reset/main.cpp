#include "ApplicationIdentity.h"

#include <QDebug>
#include <QSettings>

#include <cstdio>
#include <memory>

int main(int, char **)
{
    ApplicationIdentity::apply();

    auto settings = std::make_unique<QSettings>();
    settings->clear();
    qDebug() << "[Settings]"
             << "settings has been reset";

    std::fputs("Press any key to exit...\n", stdout);
    std::fflush(stdout);
    std::getchar();
    return 0;
}
