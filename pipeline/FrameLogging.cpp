#include "FrameLogging.h"

Q_LOGGING_CATEGORY(lcFrames, "quillora.frames", QtInfoMsg)
