#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QPointer>

class Presentation;
class PresentationModelLoader;

// The recorded presentations as a flat list, filled in the background by a loader thread.
class PresentationModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Role
    {
        PresentationObjectRole = Qt::UserRole + 1,
        TitleRole,
        DirectoryRole,
        SlideCountRole,
        RecordedAtRole,
        RecordedAtStringRole,
    };

    explicit PresentationModel(QObject *parent = nullptr);
    ~PresentationModel() override;

    [[nodiscard]] int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    [[nodiscard]] QModelIndex index(int row, int column,
                                    const QModelIndex &parent = QModelIndex()) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex &index) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

public slots:
    void reload();
    void addPresentation(Presentation *presentation);
    void onPresentationTitleChanged(const QString &title);

private:
    void stopLoader();

    QList<Presentation *> m_presentations;
    bool m_destroying = false;
    // The one loader whose presentations are wanted; earlier ones are stopped before it starts.
    QPointer<PresentationModelLoader> m_loader;
    // Counts the loaders: a presentation of an earlier one may still be queued for delivery.
    quint64 m_loaderGeneration = 0;
};
