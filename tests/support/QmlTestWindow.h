#pragma once

#include "QmlFakeLiveStreamSettings.h"
#include "QmlFakeLoginSettings.h"
#include "QmlFakeRecorderSettings.h"

#include <QObject>
#include <QStandardItemModel>
#include <QString>

#include <memory>

class MainWindow;
class QQuickItem;
class QQuickWindow;

// The real main window QML, loaded from the resources into a real MainWindow's engine, but with
// settings test doubles and a fixed presentation list in place of the stored ones.
class QmlTestWindow : public QObject
{
    Q_OBJECT

public:
    explicit QmlTestWindow(QObject *parent = nullptr);
    ~QmlTestWindow() override;

    // Publishes the doubles and loads qrc:/main.qml; false if the QML did not load.
    [[nodiscard]] bool load();

    [[nodiscard]] MainWindow *mainWindow() const { return m_mainWindow.get(); }
    [[nodiscard]] QQuickWindow *window() const;
    [[nodiscard]] QQuickItem *item(const QString &objectName) const;
    // Scrolls a ScrollView so that the target item inside it shows.
    void scrollIntoView(QQuickItem *scrollView, QQuickItem *target) const;
    [[nodiscard]] QStringList warnings() const { return m_warnings; }

    // Adds one row to the presentation list shown by the window.
    void addPresentation(const QString &title, const QString &directory, int slideCount,
                         const QString &recordedAtString);

    // Saves what the window shows as a PNG under the test output directory.
    bool saveScreenshot(const QString &fileName) const;

    QmlFakeRecorderSettings recorderSettings;
    QmlFakeLoginSettings loginSettings;
    QmlFakeLiveStreamSettings liveStreamSettings;
    QObject networkSettings;
    QStandardItemModel presentations;

private:
    std::unique_ptr<MainWindow> m_mainWindow;
    QStringList m_warnings;
};
