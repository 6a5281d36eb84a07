#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

// Drives one headless chromium page through the DevTools protocol over a pipe
// (--remote-debugging-pipe: commands on the browser's descriptor 3, answers and events on 4, each
// a JSON text ended by a NUL). It records the URL of every request the page makes, whatever the
// scheme and whoever asks (documents, images, media, scripts, fetches), which is what the network
// log cannot show for file:// pages.
class ChromiumDevTools
{
public:
    ChromiumDevTools() = default;
    ~ChromiumDevTools();

    ChromiumDevTools(const ChromiumDevTools &) = delete;
    ChromiumDevTools &operator=(const ChromiumDevTools &) = delete;

    // Starts the browser with one blank page and network events on; tried twice, as chromium
    // sometimes crashes while starting on a loaded machine.
    bool start(QString *errorMessage);
    // Returns once the page has loaded.
    bool navigate(const QUrl &url, QString *errorMessage);
    // The value of a script expression in the page; a promise is awaited.
    QJsonValue evaluate(const QString &expression, QString *errorMessage);
    // Waits inside the page until the expression is true.
    bool waitUntil(const QString &expression, int timeoutMs, QString *errorMessage);
    // A key press as the user's keyboard would send it ("ArrowRight", " ").
    bool pressKey(const QString &key, const QString &code, int keyCode, QString *errorMessage);

    [[nodiscard]] QStringList requestedUrls() const { return m_requestedUrls; }
    void clearRequestedUrls() { m_requestedUrls.clear(); }

    void close();

private:
    bool startOnce(QString *errorMessage);
    // Sends a command (to the page unless toBrowser) and waits for its answer. Does nothing when
    // errorMessage already holds an error, so that calls can follow each other unchecked.
    QJsonObject call(const QString &method, const QJsonObject &params, int timeoutMs,
                     QString *errorMessage, bool toBrowser = false);
    bool readMessages(int timeoutMs);
    void handleEvent(const QJsonObject &message);
    void closePipes();

    QTemporaryDir m_profile;
    QProcess m_process;
    int m_toBrowser = -1;
    int m_fromBrowser = -1;
    int m_nextId = 1;
    int m_loadsSeen = 0;
    QString m_sessionId;
    QByteArray m_buffer;
    QList<QJsonObject> m_answers;
    QStringList m_requestedUrls;
};
