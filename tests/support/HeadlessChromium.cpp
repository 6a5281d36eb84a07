#include "HeadlessChromium.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace HeadlessChromium {

namespace {

constexpr int runTimeoutMs = 120000;

QString tail(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    return QString::fromUtf8(all.right(2000));
}

bool dumpDomOnce(const QUrl &url, QString *dom, QString *errorMessage)
{
    QTemporaryDir profile;
    if (!profile.isValid()) {
        *errorMessage = QStringLiteral("no temporary profile directory");
        return false;
    }
    const QString log = profile.filePath(QStringLiteral("chromium.log"));
    QProcess process;
    process.setStandardErrorFile(log);
    process.start(executable(), baseArguments(profile.filePath(QStringLiteral("profile")))
                                    << QStringLiteral("--virtual-time-budget=3000")
                                    << QStringLiteral("--dump-dom")
                                    << url.toString(QUrl::FullyEncoded));
    if (!process.waitForStarted(runTimeoutMs)) {
        *errorMessage = QStringLiteral("chromium did not start: %1").arg(process.errorString());
        return false;
    }
    if (!process.waitForFinished(runTimeoutMs)) {
        process.kill();
        process.waitForFinished(10000);
        *errorMessage =
            QStringLiteral("chromium did not finish in time; its log:\n%1").arg(tail(log));
        return false;
    }
    *dom = QString::fromUtf8(process.readAllStandardOutput());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 ||
        !dom->contains(QLatin1String("</html>"))) {
        *errorMessage = QStringLiteral("chromium failed (exit code %1); its log:\n%2")
                            .arg(process.exitCode())
                            .arg(tail(log));
        return false;
    }
    return true;
}

} // namespace

QString executable()
{
    return QStringLiteral("/usr/bin/chromium");
}

bool isAvailable()
{
    return QFileInfo(executable()).isExecutable();
}

QStringList baseArguments(const QString &profileDir)
{
    return {QStringLiteral("--headless=new"),
            QStringLiteral("--no-sandbox"),
            QStringLiteral("--disable-gpu"),
            QStringLiteral("--no-first-run"),
            QStringLiteral("--no-default-browser-check"),
            QStringLiteral("--disable-background-networking"),
            QStringLiteral("--disable-component-update"),
            QStringLiteral("--disable-sync"),
            QStringLiteral("--host-resolver-rules=MAP * ~NOTFOUND"),
            QStringLiteral("--user-data-dir=") + profileDir};
}

bool dumpDom(const QUrl &url, QString *dom, QString *errorMessage)
{
    QString firstError;
    if (dumpDomOnce(url, dom, &firstError))
        return true;
    qDebug() << "[HeadlessChromium]"
             << "retrying after:" << firstError.left(300);
    if (dumpDomOnce(url, dom, errorMessage))
        return true;
    *errorMessage = firstError + QStringLiteral("\nand again: ") + *errorMessage;
    return false;
}

} // namespace HeadlessChromium
