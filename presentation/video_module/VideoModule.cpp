// The video export, in a library that is loaded only when a video is exported (see RuntimeModule):
// FFmpeg's libraries and the encoders they bring would otherwise be loaded by every start.

#include "VideoExporter.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT PresentationExporter *quillora_create_video_exporter()
{
    return new VideoExporter;
}
