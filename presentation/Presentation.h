#pragma once

#include <QDateTime>
#include <QDir>
#include <QObject>
#include <QString>

class QDomDocument;
class QDomElement;

// One recording: a directory under the work directory with its presentation.xml, plus the
// live-stream choices of the recording (which are not stored in the file).
class Presentation : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
        bool isLiveStream READ isLiveStream WRITE setLiveStream NOTIFY property_isLiveStreamChanged)
    Q_PROPERTY(QString livestreamPresentationId READ livestreamPresentationId WRITE
                   setLivestreamPresentationId NOTIFY property_livestreamPresentationIdChanged)
    Q_PROPERTY(
        bool connectToExistingLiveStream READ connectToExistingLiveStream WRITE
            setConnectToExistingLiveStream NOTIFY property_connectToExistingLiveStreamChanged)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY property_titleChanged)
    Q_PROPERTY(
        QDateTime recordedAt READ recordedAt WRITE setRecordedAt NOTIFY property_recordedAtChanged)
    Q_PROPERTY(int slideCount READ slideCount WRITE setSlideCount NOTIFY property_slideCountChanged)

public:
    explicit Presentation(const QDir &directory);

    // A new directory named after the current time, with its presentation.xml; a second one in
    // the same second gets " (2)", " (3)" ... appended. Null on failure, with the reason in
    // errorMessage when one is given.
    static Presentation *create(bool isLiveStream, bool connectToExistingLiveStream,
                                const QString &livestreamPresentationId,
                                QString *errorMessage = nullptr);
    // An existing presentation directory with its slide count; null if it has no readable
    // presentation.xml.
    static Presentation *load(const QDir &directory);

    [[nodiscard]] QDir dir() const { return m_directory; }
    [[nodiscard]] bool isLiveStream() const { return m_isLiveStream; }
    [[nodiscard]] QString livestreamPresentationId() const { return m_livestreamPresentationId; }
    [[nodiscard]] bool connectToExistingLiveStream() const { return m_connectToExistingLiveStream; }
    [[nodiscard]] QString title() const { return m_title; }
    [[nodiscard]] QDateTime recordedAt() const { return m_recordedAt; }
    [[nodiscard]] int slideCount() const { return m_slideCount; }

    void setLiveStream(bool newVal);
    void setLivestreamPresentationId(const QString &newVal);
    void setConnectToExistingLiveStream(bool newVal);
    void setTitle(const QString &newVal);
    void setRecordedAt(const QDateTime &newVal);

    // Replaces presentation.xml as a whole; on failure the former file stays and errorMessage (if
    // given) receives "Cannot write presentation.xml: REASON".
    [[nodiscard]] bool saveXml(QString *errorMessage = nullptr) const;
    bool loadXml();

signals:
    void property_isLiveStreamChanged(bool isLiveStream);
    void property_livestreamPresentationIdChanged(const QString &livestreamPresentationId);
    void property_connectToExistingLiveStreamChanged(bool connectToExistingLiveStream);
    void property_titleChanged(const QString &title);
    void property_recordedAtChanged(const QDateTime &recordedAt);
    void property_slideCountChanged(int slideCount);

private:
    void setSlideCount(int newVal);
    void appendChildElement(QDomDocument &document, QDomElement &parent, const QString &name,
                            const QString &text) const;
    [[nodiscard]] int countSlides() const;

    QDir m_directory;
    bool m_isLiveStream = false;
    QString m_livestreamPresentationId;
    bool m_connectToExistingLiveStream = false;
    QString m_title;
    QDateTime m_recordedAt;
    int m_slideCount = 0;
};
