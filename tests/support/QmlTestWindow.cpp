#include "QmlTestWindow.h"

#include "MainWindow.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

enum PresentationRole
{
    TitleRole = Qt::UserRole + 2,
    DirectoryRole,
    SlideCountRole,
    RecordedAtRole,
    RecordedAtStringRole,
};

} // namespace

QmlTestWindow::QmlTestWindow(QObject *parent)
    : QObject(parent), m_mainWindow(std::make_unique<MainWindow>())
{
    presentations.setItemRoleNames({{TitleRole, "title"},
                                    {DirectoryRole, "directory"},
                                    {SlideCountRole, "slideCount"},
                                    {RecordedAtRole, "recordedAt"},
                                    {RecordedAtStringRole, "recordedAtString"}});
    connect(m_mainWindow->engine(), &QQmlEngine::warnings, this,
            [this](const QList<QQmlError> &warnings) {
                for (const QQmlError &warning : warnings)
                    m_warnings.append(warning.toString());
            });
}

QmlTestWindow::~QmlTestWindow() = default;

bool QmlTestWindow::load()
{
    QQmlContext *context = m_mainWindow->engine()->rootContext();
    context->setContextProperty(QStringLiteral("liveStreamSettings"), &liveStreamSettings);
    context->setContextProperty(QStringLiteral("loginSettings"), &loginSettings);
    context->setContextProperty(QStringLiteral("networkSettings"), &networkSettings);
    context->setContextProperty(QStringLiteral("recorderSettings"), &recorderSettings);
    context->setContextProperty(QStringLiteral("mainWindow"), m_mainWindow.get());
    context->setContextProperty(QStringLiteral("presentationModel"), &presentations);
    m_mainWindow->engine()->load(QUrl(QStringLiteral("qrc:/main.qml")));
    return window() != nullptr;
}

QQuickWindow *QmlTestWindow::window() const
{
    const QList<QObject *> roots = m_mainWindow->engine()->rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}

QQuickItem *QmlTestWindow::item(const QString &objectName) const
{
    QQuickWindow *quickWindow = window();
    return quickWindow ? quickWindow->findChild<QQuickItem *>(objectName) : nullptr;
}

void QmlTestWindow::addPresentation(const QString &title, const QString &directory, int slideCount,
                                    const QString &recordedAtString)
{
    auto *row = new QStandardItem;
    row->setData(title, TitleRole);
    row->setData(directory, DirectoryRole);
    row->setData(slideCount, SlideCountRole);
    row->setData(recordedAtString, RecordedAtStringRole);
    presentations.appendRow(row);
}

bool QmlTestWindow::saveScreenshot(const QString &fileName) const
{
    QQuickWindow *quickWindow = window();
    if (!quickWindow)
        return false;
    const QImage image = quickWindow->grabWindow();
    return !image.isNull() && image.save(QDir(TestEnvironment::outputDir()).filePath(fileName));
}
