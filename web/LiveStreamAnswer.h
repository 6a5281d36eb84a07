#pragma once

#include "LiveStreamUploader.h"

#include <QJsonObject>
#include <QString>

// The web service's answer to the creation of a live stream, read and checked once. A stream
// without its ids, version, bucket, prefix or credentials cannot deliver a single slide, so such
// an answer fails the start instead of starting a stream that uploads nothing.
class LiveStreamAnswer
{
public:
    explicit LiveStreamAnswer(const QJsonObject &answer);

    // Empty when the answer carries everything the stream needs; otherwise the user's message.
    [[nodiscard]] const QString &problem() const { return m_problem; }
    [[nodiscard]] bool isValid() const { return m_problem.isEmpty(); }

    [[nodiscard]] const QString &streamToken() const { return m_streamToken; }
    [[nodiscard]] const QString &presentationTitle() const { return m_presentationTitle; }
    [[nodiscard]] const LiveStreamUploaderConfig &uploaderConfig() const { return m_config; }

private:
    void require(bool present, const char *field);

    QString m_problem;
    QString m_streamToken;
    QString m_presentationTitle;
    LiveStreamUploaderConfig m_config;
};
