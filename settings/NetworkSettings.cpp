#include "NetworkSettings.h"

NetworkSettings *NetworkSettings::instance()
{
    static NetworkSettings settings;
    return &settings;
}

void NetworkSettings::load() {}
