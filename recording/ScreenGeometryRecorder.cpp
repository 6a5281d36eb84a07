#include "ScreenGeometryRecorder.h"

#include "Presentation.h"
#include "PresentationFile.h"

#include <QDebug>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScreen>

QJsonObject rectToJson(const QRect &rect)
{
    return QJsonObject{{QStringLiteral("x"), rect.x()},
                       {QStringLiteral("y"), rect.y()},
                       {QStringLiteral("width"), rect.width()},
                       {QStringLiteral("height"), rect.height()}};
}

QJsonObject screenToJson(qint64 index, QScreen *screen)
{
    return QJsonObject{
        {QStringLiteral("index"), index},
        {QStringLiteral("available_geometry"), rectToJson(screen->availableGeometry())},
        {QStringLiteral("available_virtual_geometry"),
         rectToJson(screen->availableVirtualGeometry())},
        {QStringLiteral("depth"), screen->depth()},
        {QStringLiteral("device_pixel_ratio"), screen->devicePixelRatio()},
        {QStringLiteral("geometry"), rectToJson(screen->geometry())},
        {QStringLiteral("logical_dots_per_inch"), screen->logicalDotsPerInch()},
        {QStringLiteral("logical_dots_per_inch_x"), screen->logicalDotsPerInchX()},
        {QStringLiteral("logical_dots_per_inch_y"), screen->logicalDotsPerInchY()},
        {QStringLiteral("manufacturer"), screen->manufacturer()},
        {QStringLiteral("model"), screen->model()},
        {QStringLiteral("name"), screen->name()},
        {QStringLiteral("native_orientation"), static_cast<int>(screen->nativeOrientation())},
        {QStringLiteral("orientation"), static_cast<int>(screen->orientation())},
        {QStringLiteral("physical_dots_per_inch"), screen->physicalDotsPerInch()},
        {QStringLiteral("physical_dots_per_inch_x"), screen->physicalDotsPerInchX()},
        {QStringLiteral("physical_dots_per_inch_y"), screen->physicalDotsPerInchY()},
        {QStringLiteral("primary_orientation"), static_cast<int>(screen->primaryOrientation())},
        {QStringLiteral("virtual_geometry"), rectToJson(screen->virtualGeometry())},
    };
}

ScreenGeometryRecorder::ScreenGeometryRecorder(QObject *parent) : QObject(parent)
{
    m_startTimer.setSingleShot(true);
    m_startTimer.setInterval(startDelayMs);
    connect(&m_startTimer, &QTimer::timeout, this, &ScreenGeometryRecorder::start);
    m_stopTimer.setSingleShot(true);
    m_stopTimer.setInterval(stopDelayMs);
    connect(&m_stopTimer, &QTimer::timeout, this, &ScreenGeometryRecorder::checkStop);
}

ScreenGeometryRecorder::~ScreenGeometryRecorder()
{
    disconnectAll();
}

void ScreenGeometryRecorder::setState(State state)
{
    m_state = state;
    Q_EMIT property_stateChanged(state);
}

void ScreenGeometryRecorder::requestStart(Presentation *presentation)
{
    if (m_state != Stopped) {
        qWarning() << "[ScreenGeometryRecorder] requestStart ignored in state" << m_state;
        return;
    }
    setState(Starting);
    m_presentation = presentation;
    m_startTimer.start();
}

void ScreenGeometryRecorder::start()
{
    if (m_state == Stopping) {
        // Stopped during the start delay: nothing to undo.
        setState(Stopped);
        Q_EMIT stopped();
        return;
    }
    if (m_state != Starting)
        return;

    auto *application = qGuiApp;
    m_connections.append(connect(application, &QGuiApplication::screenAdded, this,
                                 &ScreenGeometryRecorder::saveScreenGeometry));
    m_connections.append(connect(application, &QGuiApplication::screenRemoved, this,
                                 &ScreenGeometryRecorder::saveScreenGeometry));
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens)
        connectScreen(screen);
    m_connections.append(connect(application, &QGuiApplication::screenAdded, this,
                                 &ScreenGeometryRecorder::connectScreen));

    m_writeFailed = false;
    m_recordingTimer.restart();
    setState(Started);
    Q_EMIT started();
}

void ScreenGeometryRecorder::connectScreen(QScreen *screen)
{
    const auto save = &ScreenGeometryRecorder::saveScreenGeometry;
    m_connections.append(connect(screen, &QScreen::availableGeometryChanged, this, save));
    m_connections.append(connect(screen, &QScreen::geometryChanged, this, save));
    m_connections.append(connect(screen, &QScreen::logicalDotsPerInchChanged, this, save));
    m_connections.append(connect(screen, &QScreen::orientationChanged, this, save));
    m_connections.append(connect(screen, &QScreen::physicalDotsPerInchChanged, this, save));
    m_connections.append(connect(screen, &QScreen::physicalSizeChanged, this, save));
    m_connections.append(connect(screen, &QScreen::primaryOrientationChanged, this, save));
    m_connections.append(connect(screen, &QScreen::virtualGeometryChanged, this, save));
}

void ScreenGeometryRecorder::restartRecordingTimer()
{
    m_recordingTimer.restart();
    QTimer::singleShot(0, this, &ScreenGeometryRecorder::saveScreenGeometry);
}

void ScreenGeometryRecorder::saveScreenGeometry()
{
    // The presentation stays known after a stop; a stopped recorder writes nothing into it.
    if (!m_presentation || m_state == Stopped || !m_recordingTimer.isValid() || m_writeFailed)
        return;
    QJsonArray screens;
    const QList<QScreen *> allScreens = QGuiApplication::screens();
    for (qsizetype i = 0; i < allScreens.size(); ++i)
        screens.append(screenToJson(i, allScreens.at(i)));
    const QJsonObject snapshot{{QStringLiteral("time"), m_recordingTimer.elapsed()},
                               {QStringLiteral("screens"), screens}};
    QString error;
    if (PresentationFile::append(
            m_presentation->dir().absoluteFilePath(QStringLiteral("screens_geometry.txt")),
            QJsonDocument(snapshot).toJson(QJsonDocument::Compact), &error))
        return;
    m_writeFailed = true;
    qWarning().noquote() << "[ScreenGeometryRecorder]" << error;
    Q_EMIT writeFailed(error);
}

void ScreenGeometryRecorder::requestStop()
{
    if (m_state == Starting) {
        // The pending start finishes the stop.
        setState(Stopping);
        return;
    }
    if (m_state != Started)
        return;
    setState(Stopping);
    m_stopTimer.start();
}

void ScreenGeometryRecorder::checkStop()
{
    stop();
}

void ScreenGeometryRecorder::stop()
{
    disconnectAll();
    setState(Stopped);
    Q_EMIT stopped();
}

void ScreenGeometryRecorder::disconnectAll()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
}
