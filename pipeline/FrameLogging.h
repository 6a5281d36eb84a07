#pragma once

#include <QLoggingCategory>

// Lines logged for every captured frame. Off unless asked for with
// QT_LOGGING_RULES="quillora.frames.debug=true": at one frame a second they would fill the log
// with the same three lines and cost their formatting on every frame.
Q_DECLARE_LOGGING_CATEGORY(lcFrames)
