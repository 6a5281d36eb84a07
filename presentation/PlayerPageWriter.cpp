#include "PlayerPageWriter.h"

#include "ExportControl.h"
#include "ExportKind.h"
#include "PresentationFile.h"
#include "RecordedPresentation.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace {

const QString templatePath = QStringLiteral(":/player/player.html");

// A link from the page to a file of the presentation, relative so that the directory can be
// moved, copied or served as it is.
QString relativeUrl(const QDir &outputDir, const QString &absoluteFile)
{
    const QString relative = outputDir.relativeFilePath(absoluteFile);
    // Another drive on Windows: no relative path leads there.
    if (QDir::isAbsolutePath(relative))
        return QUrl::fromLocalFile(absoluteFile).toString(QUrl::FullyEncoded);
    return QString::fromLatin1(QUrl::toPercentEncoding(relative, "/"));
}

QByteArray playerData(const RecordedPresentation &presentation, const QString &title,
                      const QDir &outputDir)
{
    QJsonArray slides;
    for (const RecordedSlide &slide : presentation.slides()) {
        QJsonArray files;
        for (const QString &file : slide.files)
            files.append(relativeUrl(outputDir, presentation.absolutePath(file)));
        slides.append(QJsonObject{{QStringLiteral("number"), slide.number},
                                  {QStringLiteral("timeMs"), double(slide.timeMs)},
                                  {QStringLiteral("files"), files}});
    }
    const QJsonObject data{
        {QStringLiteral("title"), title},
        {QStringLiteral("audio"),
         relativeUrl(outputDir, presentation.absolutePath(RecordedPresentation::audioFileName()))},
        {QStringLiteral("durationMs"), double(presentation.durationMs())},
        {QStringLiteral("screenCount"), presentation.screenCount()},
        {QStringLiteral("slides"), slides}};
    QByteArray json = QJsonDocument(data).toJson(QJsonDocument::Compact);
    // The data sits inside a <script> element: no "</script>" or "<!--" from a title may end or
    // bend it. '<' only occurs inside JSON strings, where its escape means the same.
    json.replace('<', "\\u003c");
    return json;
}

} // namespace

QByteArray PlayerPageWriter::page(const RecordedPresentation &presentation, const QDir &outputDir,
                                  QString *errorMessage)
{
    QFile file(templatePath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (errorMessage)
            *errorMessage = QStringLiteral("The player page template %1 is missing: %2")
                                .arg(templatePath, file.errorString());
        return {};
    }
    const QString pageTemplate = QString::fromUtf8(file.readAll());

    QString title = presentation.title();
    if (title.trimmed().isEmpty())
        title = presentation.dir().dirName();
    const QString escapedTitle = title.toHtmlEscaped();
    const QString data = QString::fromUtf8(playerData(presentation, title, outputDir));

    // One pass over the template, so that a title that happens to contain a placeholder's name
    // stays as it is.
    static const QRegularExpression placeholder(QStringLiteral("@PLAYER_(TITLE|DATA)@"));
    QString result;
    result.reserve(pageTemplate.size() + data.size() + 2 * escapedTitle.size());
    qsizetype copied = 0;
    QRegularExpressionMatchIterator it = placeholder.globalMatch(pageTemplate);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        result += QStringView(pageTemplate).mid(copied, match.capturedStart() - copied);
        result += match.captured(1) == QLatin1String("TITLE") ? escapedTitle : data;
        copied = match.capturedEnd();
    }
    result += QStringView(pageTemplate).mid(copied);
    return result.toUtf8();
}

bool PlayerPageWriter::write(const RecordedPresentation &presentation, const QString &outputPath,
                             ExportControl &control, QString *errorMessage)
{
    QString unused;
    QString &error = errorMessage ? *errorMessage : unused;
    const QString path =
        outputPath.isEmpty()
            ? presentation.absolutePath(ExportKinds::defaultFileName(ExportKind::PlayerPage))
            : QFileInfo(outputPath).absoluteFilePath();
    qDebug() << "[PlayerPageWriter]"
             << "writing" << path << "slides" << presentation.slides().size() << "screens"
             << presentation.screenCount();

    // The page follows the audio's clock: without audio there is nothing to play.
    if (!presentation.hasAudio()) {
        error = presentation.missingAudioMessage();
        qWarning() << "[PlayerPageWriter]" << error;
        return false;
    }
    if (control.isCancelled()) {
        error = ExportControl::cancelledMessage();
        qDebug() << "[PlayerPageWriter]"
                 << "cancelled";
        return false;
    }
    control.setProgress(0);

    const QByteArray html = page(presentation, QFileInfo(path).absoluteDir(), &error);
    if (html.isEmpty()) {
        qWarning() << "[PlayerPageWriter]" << error;
        return false;
    }
    control.setProgress(50);
    if (control.isCancelled()) {
        error = ExportControl::cancelledMessage();
        qDebug() << "[PlayerPageWriter]"
                 << "cancelled";
        return false;
    }
    if (!PresentationFile::replace(path, html, &error)) {
        qWarning() << "[PlayerPageWriter]" << error;
        return false;
    }
    control.setProgress(100);
    qDebug() << "[PlayerPageWriter]"
             << "wrote" << path << html.size() << "bytes";
    return true;
}

void PlayerPageWriter::writeForRecording(const QDir &directory)
{
    RecordedPresentation recorded;
    PlayerPageWriter writer;
    ExportControl control;
    QString error;
    if (!recorded.load(directory, &error)) {
        qInfo() << "[PlayerPageWriter]"
                << "no player page:" << error;
        return;
    }
    if (!recorded.hasAudio())
        return;
    if (!writer.write(
            recorded,
            directory.absoluteFilePath(ExportKinds::defaultFileName(ExportKind::PlayerPage)),
            control, &error))
        qInfo() << "[PlayerPageWriter]"
                << "writing the player page failed:" << error;
}
