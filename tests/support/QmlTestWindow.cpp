#include "QmlTestWindow.h"

#include "MainWindow.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QQuickItem>
#include <QQuickWindow>

#include <algorithm>

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
    MainWindow::ContextObjects objects;
    objects.liveStreamSettings = &liveStreamSettings;
    objects.loginSettings = &loginSettings;
    objects.networkSettings = &networkSettings;
    objects.recorderSettings = &recorderSettings;
    objects.presentations = &presentations;
    m_mainWindow->run(objects);
    return window() != nullptr;
}

QQuickWindow *QmlTestWindow::window() const
{
    const QList<QObject *> roots = m_mainWindow->engine()->rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}

namespace {

// Items made by repeaters and views have no QObject parent: walk the visual tree.
QQuickItem *findItem(QQuickItem *root, const QString &objectName)
{
    if (root->objectName() == objectName)
        return root;
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findItem(child, objectName))
            return found;
    }
    return nullptr;
}

} // namespace

QQuickItem *QmlTestWindow::item(const QString &objectName) const
{
    QQuickWindow *quickWindow = window();
    return quickWindow ? findItem(quickWindow->contentItem(), objectName) : nullptr;
}

void QmlTestWindow::scrollIntoView(QQuickItem *scrollView, QQuickItem *target) const
{
    auto *flickable = scrollView->property("contentItem").value<QQuickItem *>();
    if (!flickable)
        return;
    auto *content = flickable->property("contentItem").value<QQuickItem *>();
    const QPointF topLeft = target->mapToItem(content, QPointF(0, 0));
    const qreal maxY =
        std::max<qreal>(0.0, flickable->property("contentHeight").toReal() - flickable->height());
    flickable->setProperty("contentY",
                           std::clamp<qreal>(topLeft.y() - flickable->height() / 3, 0.0, maxY));
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
