#pragma once

#include "WebApi.h"

#include <QDateTime>
#include <QStringList>

class SlideRecorder;
class VMixApiPoller;

// What a status ping tells the web service about the running recording: the settings it runs
// with and the slide pipeline's counters, read when the ping goes out.
class StatusPingData
{
public:
    [[nodiscard]] static WebApi::RecordingAppPingData
    recordingApp(const SlideRecorder &slides, const QDateTime &startedAt,
                 const QStringList &errorMessages);
    [[nodiscard]] static WebApi::VMixPingData vmix(const VMixApiPoller &poller);
};
