#pragma once

#include <QObject>
#include <QQmlApplicationEngine>
#include <QString>

// The small window shown instead of the main window when the recorder cannot start.
class ErrorWindow : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString error READ error CONSTANT)

public:
    explicit ErrorWindow(const QString &error, QObject *parent = nullptr);

    void run();

    [[nodiscard]] QString version() const;
    [[nodiscard]] QString error() const;

    [[nodiscard]] QQmlApplicationEngine *engine() { return &m_engine; }

private:
    QQmlApplicationEngine m_engine;
    QString m_error;
};
