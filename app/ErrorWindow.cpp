#include "ErrorWindow.h"

#include "ApplicationIdentity.h"

#include <QCoreApplication>
#include <QQmlContext>

ErrorWindow::ErrorWindow(const QString &error, QObject *parent) : QObject(parent), m_error(error)
{
    setObjectName(QStringLiteral("Quillora Recorder"));
}

void ErrorWindow::run()
{
    m_engine.rootContext()->setContextProperty(QStringLiteral("errorWindow"), this);
    m_engine.load(QUrl(QStringLiteral("qrc:/error.qml")));
    if (m_engine.rootObjects().isEmpty())
        QCoreApplication::exit(1);
}

QString ErrorWindow::version() const
{
    return QString::fromLatin1(ApplicationIdentity::applicationVersion);
}

QString ErrorWindow::error() const
{
    return m_error;
}
