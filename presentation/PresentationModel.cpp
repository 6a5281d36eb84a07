#include "PresentationModel.h"

#include "Presentation.h"
#include "PresentationModelLoader.h"

#include <QCoreApplication>
#include <QTimer>

PresentationModel::PresentationModel(QObject *parent) : QAbstractItemModel(parent)
{
    reload();
}

PresentationModel::~PresentationModel()
{
    m_destroying = true;
    stopLoader();
    // Presentations a loader handed over but whose delivery is still queued would otherwise be
    // lost with the queued call.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    qDeleteAll(m_presentations);
}

int PresentationModel::rowCount(const QModelIndex &parent) const
{
    // A flat list: the rows have no children.
    return parent.isValid() ? 0 : int(m_presentations.size());
}

int PresentationModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QModelIndex PresentationModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return {};
    return createIndex(row, column);
}

QModelIndex PresentationModel::parent(const QModelIndex &) const
{
    return {};
}

QVariant PresentationModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    if (row < 0 || row >= m_presentations.size())
        return {};
    Presentation *presentation = m_presentations.at(row);
    switch (role) {
    case PresentationObjectRole:
        return QVariant::fromValue(presentation);
    case TitleRole:
        return presentation->title();
    case DirectoryRole:
        return presentation->dir().absolutePath();
    case SlideCountRole:
        return presentation->slideCount();
    case RecordedAtRole:
        return presentation->recordedAt();
    case RecordedAtStringRole:
        return presentation->recordedAt().toString(QStringLiteral("yyyy/MM/dd hh:mm"));
    default:
        return {};
    }
}

QHash<int, QByteArray> PresentationModel::roleNames() const
{
    return {
        {PresentationObjectRole, "presentationObject"},
        {TitleRole, "title"},
        {DirectoryRole, "directory"},
        {SlideCountRole, "slideCount"},
        {RecordedAtRole, "recordedAt"},
        {RecordedAtStringRole, "recordedAtString"},
    };
}

void PresentationModel::stopLoader()
{
    if (!m_loader)
        return;
    // The loader checks between two directories, so this waits for one at most. Two loaders at
    // once would list every presentation twice and might repair the same audio file together.
    m_loader->requestInterruption();
    m_loader->wait();
    // Not started yet, it would start later; finished, its deferred deletion is dropped with it.
    delete m_loader;
}

void PresentationModel::reload()
{
    stopLoader();
    // What the stopped loader had sent is still queued: it is dropped on arrival.
    ++m_loaderGeneration;

    beginResetModel();
    for (Presentation *presentation : std::as_const(m_presentations))
        presentation->deleteLater();
    m_presentations.clear();
    endResetModel();

    const QString workDirPath = QCoreApplication::instance()->property("workDir").toString();
    // An empty path would make QDir list the process's current directory.
    if (workDirPath.isEmpty())
        return;
    auto *loader = new PresentationModelLoader(QDir(workDirPath), this);
    m_loader = loader;
    connect(
        loader, &PresentationModelLoader::loadedPresentation, this,
        [this, generation = m_loaderGeneration](Presentation *presentation) {
            if (generation == m_loaderGeneration)
                addPresentation(presentation);
            else
                delete presentation;
        },
        // Always from the loader's thread.
        Qt::QueuedConnection);
    connect(loader, &QThread::finished, loader, &QObject::deleteLater);
    QTimer::singleShot(0, loader, &PresentationModelLoader::startLoader);
}

void PresentationModel::addPresentation(Presentation *presentation)
{
    if (m_destroying) {
        delete presentation;
        return;
    }
    beginInsertRows(QModelIndex(), rowCount(), rowCount());
    m_presentations.append(presentation);
    endInsertRows();
}

void PresentationModel::onPresentationTitleChanged(const QString &)
{
    auto *presentation = qobject_cast<Presentation *>(sender());
    const int row = m_presentations.indexOf(presentation);
    const QModelIndex changed = row < 0 ? QModelIndex() : index(row, 0);
    emit dataChanged(changed, changed, {TitleRole});
}
