#include "ChromiumDevTools.h"

#include "HeadlessChromium.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int callTimeoutMs = 60000;

} // namespace

ChromiumDevTools::~ChromiumDevTools()
{
    close();
}

bool ChromiumDevTools::start(QString *errorMessage)
{
    QString firstError;
    if (startOnce(&firstError))
        return true;
    qDebug() << "[ChromiumDevTools]"
             << "retrying after:" << firstError;
    close();
    if (startOnce(errorMessage))
        return true;
    *errorMessage = firstError + QStringLiteral("; and again: ") + *errorMessage;
    return false;
}

bool ChromiumDevTools::startOnce(QString *errorMessage)
{
    if (!m_profile.isValid()) {
        *errorMessage = QStringLiteral("no temporary profile directory");
        return false;
    }
    int toBrowser[2];
    int fromBrowser[2];
    if (::pipe2(toBrowser, O_CLOEXEC) != 0) {
        *errorMessage = QStringLiteral("pipe failed");
        return false;
    }
    if (::pipe2(fromBrowser, O_CLOEXEC) != 0) {
        ::close(toBrowser[0]);
        ::close(toBrowser[1]);
        *errorMessage = QStringLiteral("pipe failed");
        return false;
    }
    const int browserReads = toBrowser[0];
    const int browserWrites = fromBrowser[1];
    m_process.setChildProcessModifier([browserReads, browserWrites] {
        // Through fresh numbers first, so that neither end is already 3 or 4; dup2 leaves the
        // copies open across exec.
        const int readCopy = ::fcntl(browserReads, F_DUPFD_CLOEXEC, 10);
        const int writeCopy = ::fcntl(browserWrites, F_DUPFD_CLOEXEC, 10);
        ::dup2(readCopy, 3);
        ::dup2(writeCopy, 4);
    });
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(m_profile.filePath(QStringLiteral("chromium.log")));
    m_process.start(HeadlessChromium::executable(),
                    HeadlessChromium::baseArguments(
                        m_profile.filePath(QStringLiteral("profile-%1").arg(m_nextId)))
                        << QStringLiteral("--remote-debugging-pipe")
                        << QStringLiteral("about:blank"));
    const bool started = m_process.waitForStarted(callTimeoutMs);
    ::close(browserReads);
    ::close(browserWrites);
    m_toBrowser = toBrowser[1];
    m_fromBrowser = fromBrowser[0];
    if (!started) {
        *errorMessage = QStringLiteral("chromium did not start: %1").arg(m_process.errorString());
        return false;
    }

    const QJsonObject target =
        call(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), "about:blank"}},
             callTimeoutMs, errorMessage, true);
    const QString targetId = target.value(QStringLiteral("targetId")).toString();
    if (targetId.isEmpty())
        return false;
    const QJsonObject attached =
        call(QStringLiteral("Target.attachToTarget"),
             {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}},
             callTimeoutMs, errorMessage, true);
    m_sessionId = attached.value(QStringLiteral("sessionId")).toString();
    if (m_sessionId.isEmpty())
        return false;
    call(QStringLiteral("Network.enable"), {}, callTimeoutMs, errorMessage);
    call(QStringLiteral("Page.enable"), {}, callTimeoutMs, errorMessage);
    return errorMessage->isEmpty();
}

bool ChromiumDevTools::navigate(const QUrl &url, QString *errorMessage)
{
    const int loadsBefore = m_loadsSeen;
    const QJsonObject result = call(QStringLiteral("Page.navigate"),
                                    {{QStringLiteral("url"), url.toString(QUrl::FullyEncoded)}},
                                    callTimeoutMs, errorMessage);
    if (result.contains(QStringLiteral("errorText"))) {
        *errorMessage = result.value(QStringLiteral("errorText")).toString();
        return false;
    }
    if (!errorMessage->isEmpty())
        return false;
    // The answer comes when the new document is committed; scripts may ask for its elements only
    // once it has loaded.
    QDeadlineTimer deadline(callTimeoutMs);
    while (m_loadsSeen == loadsBefore) {
        if (deadline.hasExpired() || !readMessages(int(deadline.remainingTime()))) {
            *errorMessage = QStringLiteral("%1 did not load").arg(url.toString());
            return false;
        }
    }
    return true;
}

QJsonValue ChromiumDevTools::evaluate(const QString &expression, QString *errorMessage)
{
    const QJsonObject result = call(QStringLiteral("Runtime.evaluate"),
                                    {{QStringLiteral("expression"), expression},
                                     {QStringLiteral("awaitPromise"), true},
                                     {QStringLiteral("returnByValue"), true}},
                                    callTimeoutMs, errorMessage);
    if (result.contains(QStringLiteral("exceptionDetails"))) {
        *errorMessage = QString::fromUtf8(
            QJsonDocument(result.value(QStringLiteral("exceptionDetails")).toObject())
                .toJson(QJsonDocument::Compact));
        return {};
    }
    return result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
}

bool ChromiumDevTools::waitUntil(const QString &expression, int timeoutMs, QString *errorMessage)
{
    // Polled by the page's own timers, so that the test process only waits for one answer.
    const QString poll = QStringLiteral("new Promise(function (resolve) {"
                                        "  var end = Date.now() + %1;"
                                        "  (function check() {"
                                        "    var done = false;"
                                        "    try { done = (%2); } catch (e) { done = false; }"
                                        "    if (done) resolve(true);"
                                        "    else if (Date.now() > end) resolve(false);"
                                        "    else setTimeout(check, 50);"
                                        "  })();"
                                        "})")
                             .arg(timeoutMs)
                             .arg(expression);
    const QJsonValue value = evaluate(poll, errorMessage);
    if (!errorMessage->isEmpty())
        return false;
    if (!value.toBool()) {
        *errorMessage = QStringLiteral("timed out waiting for %1").arg(expression);
        return false;
    }
    return true;
}

bool ChromiumDevTools::pressKey(const QString &key, const QString &code, int keyCode,
                                QString *errorMessage)
{
    for (const char *type : {"rawKeyDown", "keyUp"}) {
        QJsonObject params{{QStringLiteral("type"), QLatin1String(type)},
                           {QStringLiteral("key"), key},
                           {QStringLiteral("code"), code},
                           {QStringLiteral("windowsVirtualKeyCode"), keyCode}};
        call(QStringLiteral("Input.dispatchKeyEvent"), params, callTimeoutMs, errorMessage);
        if (!errorMessage->isEmpty())
            return false;
    }
    return true;
}

QJsonObject ChromiumDevTools::call(const QString &method, const QJsonObject &params, int timeoutMs,
                                   QString *errorMessage, bool toBrowser)
{
    if (!errorMessage->isEmpty())
        return {};
    const int id = m_nextId++;
    QJsonObject message{{QStringLiteral("id"), id}, {QStringLiteral("method"), method}};
    if (!params.isEmpty())
        message.insert(QStringLiteral("params"), params);
    if (!toBrowser)
        message.insert(QStringLiteral("sessionId"), m_sessionId);
    const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact) + '\0';
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(m_toBrowser, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *errorMessage = QStringLiteral("%1: the browser's pipe is closed").arg(method);
            return {};
        }
        written += n;
    }

    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        for (qsizetype i = 0; i < m_answers.size(); ++i) {
            if (m_answers.at(i).value(QStringLiteral("id")).toInt() != id)
                continue;
            const QJsonObject answer = m_answers.takeAt(i);
            if (answer.contains(QStringLiteral("error"))) {
                *errorMessage = QStringLiteral("%1: %2").arg(
                    method, QString::fromUtf8(
                                QJsonDocument(answer.value(QStringLiteral("error")).toObject())
                                    .toJson(QJsonDocument::Compact)));
                return {};
            }
            return answer.value(QStringLiteral("result")).toObject();
        }
        if (deadline.hasExpired() || !readMessages(int(deadline.remainingTime()))) {
            *errorMessage = QStringLiteral("%1: no answer from the browser").arg(method);
            return {};
        }
    }
}

bool ChromiumDevTools::readMessages(int timeoutMs)
{
    pollfd fd{m_fromBrowser, POLLIN, 0};
    const int ready = ::poll(&fd, 1, timeoutMs);
    if (ready < 0 && errno == EINTR)
        return true;
    if (ready <= 0)
        return false;
    char chunk[65536];
    const ssize_t n = ::read(m_fromBrowser, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR)
        return true;
    if (n <= 0)
        return false;
    m_buffer.append(chunk, n);
    qsizetype end;
    while ((end = m_buffer.indexOf('\0')) >= 0) {
        const QJsonObject message = QJsonDocument::fromJson(m_buffer.left(end)).object();
        m_buffer.remove(0, end + 1);
        if (message.contains(QStringLiteral("id")))
            m_answers << message;
        else
            handleEvent(message);
    }
    return true;
}

void ChromiumDevTools::handleEvent(const QJsonObject &message)
{
    const QString method = message.value(QStringLiteral("method")).toString();
    if (method == QLatin1String("Page.loadEventFired"))
        ++m_loadsSeen;
    if (method != QLatin1String("Network.requestWillBeSent"))
        return;
    m_requestedUrls << message.value(QStringLiteral("params"))
                           .toObject()
                           .value(QStringLiteral("request"))
                           .toObject()
                           .value(QStringLiteral("url"))
                           .toString();
}

void ChromiumDevTools::close()
{
    if (m_process.state() != QProcess::NotRunning) {
        QString ignored;
        if (m_toBrowser >= 0)
            call(QStringLiteral("Browser.close"), {}, 10000, &ignored, true);
        if (!m_process.waitForFinished(30000)) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    closePipes();
    m_sessionId.clear();
    m_buffer.clear();
    m_answers.clear();
}

void ChromiumDevTools::closePipes()
{
    if (m_toBrowser >= 0)
        ::close(m_toBrowser);
    if (m_fromBrowser >= 0)
        ::close(m_fromBrowser);
    m_toBrowser = -1;
    m_fromBrowser = -1;
}
