#pragma once

#include "PresentationExportController.h"
#include "PresentationModel.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QQmlApplicationEngine>
#include <QSortFilterProxyModel>
#include <QString>
#include <QTimer>
#include <QVariantList>

class SlideSourcePreview;

// The backend of the QML main window: publishes the settings, the presentation list and itself to
// QML, turns the user's actions into signals for the recorder and the web client, and mirrors the
// recorder's state and counters as properties.
class MainWindow : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(bool isRecording MEMBER m_isRecording NOTIFY property_recordingChanged)
    Q_PROPERTY(bool isLoading MEMBER m_isLoading NOTIFY property_loadingChanged)
    Q_PROPERTY(QString recordingDurationString MEMBER m_recordingDurationString NOTIFY
                   property_recordingDurationStringChanged)
    Q_PROPERTY(bool isLiveStream MEMBER m_isLiveStream NOTIFY property_liveStreamChanged)
    Q_PROPERTY(QString liveStreamPresentationId MEMBER m_liveStreamPresentationId NOTIFY
                   property_liveStreamPresentationChanged)
    Q_PROPERTY(QString liveStreamPresentationTitle MEMBER m_liveStreamPresentationTitle NOTIFY
                   property_liveStreamPresentationChanged)
    Q_PROPERTY(bool slidesFrozen MEMBER m_slidesFrozen NOTIFY slidesFrozenChanged)
    // Devices lost during the recording and not back yet, by label.
    Q_PROPERTY(
        QStringList missingDevices MEMBER m_missingDevices NOTIFY missingDevicesChanged)
    Q_PROPERTY(
        QVariantList slidesResolutions MEMBER m_slidesResolutions NOTIFY slidesResolutionsChanged)
    Q_PROPERTY(qint64 slidesCaptured MEMBER m_slidesCaptured NOTIFY slidesCapturedChanged)
    Q_PROPERTY(qint64 slidesSaved MEMBER m_slidesSaved NOTIFY slidesSavedChanged)
    Q_PROPERTY(qint64 slidesToUpload MEMBER m_slidesToUpload NOTIFY slidesToUploadChanged)
    Q_PROPERTY(qint64 slidesUploaded MEMBER m_slidesUploaded NOTIFY slidesUploadedChanged)
    Q_PROPERTY(
        qint64 slidesUploadFailed MEMBER m_slidesUploadFailed NOTIFY slidesUploadFailedChanged)
    Q_PROPERTY(qint64 slideInfoWebSuccessCount MEMBER m_slideInfoWebSuccessCount NOTIFY
                   slideInfoWebSuccessCountChanged)
    Q_PROPERTY(qint64 slideInfoWebFailCount MEMBER m_slideInfoWebFailCount NOTIFY
                   slideInfoWebFailCountChanged)
    Q_PROPERTY(bool lastSlideInfoWebSuccess MEMBER m_lastSlideInfoWebSuccess NOTIFY
                   lastSlideInfoWebSuccessChanged)
    Q_PROPERTY(QNetworkReply::NetworkError lastSlideInfoWebError MEMBER m_lastSlideInfoWebError
                   NOTIFY lastSlideInfoWebErrorChanged)
    Q_PROPERTY(QString lastSlideInfoWebErrorString MEMBER m_lastSlideInfoWebErrorString NOTIFY
                   lastSlideInfoWebErrorStringChanged)
    Q_PROPERTY(qint64 mousePositionX MEMBER m_mousePositionX NOTIFY mousePositionXChanged)
    Q_PROPERTY(qint64 mousePositionY MEMBER m_mousePositionY NOTIFY mousePositionYChanged)
    Q_PROPERTY(bool audioInputEnabled READ permissionGranted NOTIFY never)
    Q_PROPERTY(bool videoInputEnabled READ permissionGranted NOTIFY never)
    Q_PROPERTY(bool mouseListenerEnabled READ permissionGranted NOTIFY never)
    Q_PROPERTY(bool screenRecordingEnabled READ permissionGranted NOTIFY never)
    // The web site the links of the window lead to, without a trailing slash.
    Q_PROPERTY(QString siteUrl READ siteUrl CONSTANT)

public:
    explicit MainWindow(QObject *parent = nullptr);
    ~MainWindow() override;

    // The objects the QML binds to besides this one.
    struct ContextObjects
    {
        QObject *liveStreamSettings = nullptr;
        QObject *loginSettings = nullptr;
        QObject *networkSettings = nullptr;
        QObject *recorderSettings = nullptr;
        // Null publishes the sorted list of recorded presentations.
        QAbstractItemModel *presentations = nullptr;
    };

    // Publishes the settings singletons and the backend objects and loads the QML main window.
    void run();
    // The same with other settings objects (the tests' doubles).
    void run(const ContextObjects &objects);

    [[nodiscard]] SlideSourcePreview *findSlideSourcePreview() const;

    [[nodiscard]] QString version() const;
    [[nodiscard]] bool isRecording() const { return m_isRecording; }
    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    [[nodiscard]] QString recordingDurationString() const { return m_recordingDurationString; }
    [[nodiscard]] bool isLiveStream() const { return m_isLiveStream; }
    [[nodiscard]] QString liveStreamPresentationId() const { return m_liveStreamPresentationId; }
    [[nodiscard]] QString liveStreamPresentationTitle() const
    {
        return m_liveStreamPresentationTitle;
    }
    [[nodiscard]] bool permissionGranted() const { return true; }
    [[nodiscard]] static QString siteUrl();

    // "hh:mm:ss.zzz"; the hours grow beyond two digits.
    [[nodiscard]] static QString formatDuration(qint64 milliseconds);

    [[nodiscard]] QQmlApplicationEngine *engine() { return &m_engine; }
    [[nodiscard]] QAbstractItemModel *presentations() { return &m_sortedPresentations; }
    [[nodiscard]] PresentationExportController *presentationExport()
    {
        return &m_presentationExport;
    }

Q_SIGNALS:
    void errorMessage(QString message);
    void property_loadingChanged(bool isRecording);
    void property_recordingChanged(bool isRecording);
    void property_recordingDurationStringChanged(QString recordingDurationString);
    void property_liveStreamChanged();
    void property_liveStreamPresentationChanged();
    void slidesFrozenChanged();
    void missingDevicesChanged();
    void slidesResolutionsChanged();
    void slidesCapturedChanged();
    void slidesSavedChanged();
    void slidesToUploadChanged();
    void slidesUploadedChanged();
    void slidesUploadFailedChanged();
    void slideInfoWebSuccessCountChanged();
    void slideInfoWebFailCountChanged();
    void lastSlideInfoWebSuccessChanged();
    void lastSlideInfoWebErrorChanged();
    void lastSlideInfoWebErrorStringChanged();
    void mousePositionXChanged();
    void mousePositionYChanged();
    void internal_loginFailed();
    void internal_loginSuccessful();
    void internal_showSlides(QList<QImage> slides);
    void internal_showLiveStreamStartFailed(QString message);
    void startLiveStream(bool connectToExistingLiveStream, QString livestreamPresentationId);
    void startRecording();
    void stopRecording();
    // The user closed the window while a recording runs or starts; the window stays until the
    // recording has finished.
    void closeRequested();
    void freezeSlides();
    void captureSlide();
    void login(QString email, QString password);
    void never();

public Q_SLOTS:
    void setLoading(bool isLoading);
    void setRecording(bool isRecording);
    void loginFailed();
    void loginSuccessful();
    void showSlides(const QList<QImage> &slides);
    void showLiveStreamStartFailed(const QString &message);
    // Back to the main screen with the reason.
    void showStartFailed(const QString &message);
    void setLiveStream(bool liveStream);
    void setLiveStreamDetails(const QString &presentationId, const QString &presentationTitle);
    void setSlidesFrozen(bool frozen);
    void setMissingDevices(const QStringList &devices);
    void setSlidesResolutions(const QVariantList &slidesResolutions);
    void setSlidesCaptured(qint64 count);
    void setSlidesSaved(qint64 count);
    void setSlidesToUpload(qint64 count);
    void setSlidesUploaded(qint64 count);
    void setSlidesUploadFailed(qint64 count);
    void setSlideInfoWebSuccessCount(qint64 count);
    void setSlideInfoWebFailCount(qint64 count);
    void setLastSlideInfoWebSuccess(bool success);
    void setLastSlideInfoWebError(QNetworkReply::NetworkError error);
    void setLastSlideInfoWebErrorString(const QString &errorString);
    void setMousePositionX(qint64 x);
    void setMousePositionY(qint64 y);
    void reloadPresentations();
    void qml_startLiveStream(bool connectToExistingLiveStream,
                             const QString &livestreamPresentationId);
    void qml_startRecording();
    void qml_stopRecording();
    void qml_freezeSlides();
    void qml_captureSlide();
    void qml_login(const QString &email, const QString &password);

private Q_SLOTS:
    void updateRecordingDuration();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void stopPreview();

    QQmlApplicationEngine m_engine;
    PresentationModel m_presentationModel;
    QSortFilterProxyModel m_sortedPresentations;
    PresentationExportController m_presentationExport;
    QElapsedTimer m_recordingElapsed;
    QTimer m_recordingDurationTimer;
    bool m_isLoading = false;
    bool m_isRecording = false;
    QString m_recordingDurationString;
    bool m_isLiveStream = false;
    QString m_liveStreamPresentationId;
    QString m_liveStreamPresentationTitle;
    bool m_slidesFrozen = false;
    QStringList m_missingDevices;
    QVariantList m_slidesResolutions;
    qint64 m_slidesCaptured = 0;
    qint64 m_slidesSaved = 0;
    qint64 m_slidesToUpload = 0;
    qint64 m_slidesUploaded = 0;
    qint64 m_slidesUploadFailed = 0;
    qint64 m_slideInfoWebSuccessCount = 0;
    qint64 m_slideInfoWebFailCount = 0;
    bool m_lastSlideInfoWebSuccess = false;
    QNetworkReply::NetworkError m_lastSlideInfoWebError = QNetworkReply::NoError;
    QString m_lastSlideInfoWebErrorString;
    qint64 m_mousePositionX = 0;
    qint64 m_mousePositionY = 0;
};
