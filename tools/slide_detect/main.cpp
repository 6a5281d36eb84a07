// QuilloraSlideDetect DIR [--bench] [--explain]
// Feeds the PNG and JPEG files of DIR, in file-name order, to the slide change detection as
// one-picture batches (picture i at i x 1000 ms) and prints the 0-based index of every picture
// kept as a new slide, one per line: the picture that first showed the change. --bench loads
// every picture first and adds a last line with the mean processing time per picture in
// milliseconds. --explain follows every index with an indented line telling why it was kept.

#include "SlideProcessor.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMutex>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <memory>

namespace {

QStringList pictureFiles(const QDir &dir)
{
    return dir.entryList(
        {QStringLiteral("*.png"), QStringLiteral("*.jpg"), QStringLiteral("*.jpeg")}, QDir::Files,
        QDir::Name | QDir::IgnoreCase);
}

// A one-picture batch that owns a newly allocated matrix, or an empty list if unreadable.
QList<SlideImage> loadBatch(const QDir &dir, const QString &name)
{
    auto frame = std::make_unique<cv::Mat>(
        cv::imread(dir.absoluteFilePath(name).toStdString(), cv::IMREAD_COLOR));
    if (frame->empty()) {
        std::fprintf(stderr, "QuilloraSlideDetect: cannot read %s, skipped\n", qPrintable(name));
        return {};
    }
    return {SlideImage{frame.release(), QImage()}};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("QuilloraSlideDetect"));
    // The detection's progress lines would drown the result.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prints the 0-based indices of the pictures in DIR that the slide change "
                       "detection keeps as new slides."));
    parser.addHelpOption();
    const QCommandLineOption benchOption(
        QStringLiteral("bench"), QStringLiteral("Add a last line with the mean milliseconds of "
                                                "processing per picture."));
    parser.addOption(benchOption);
    const QCommandLineOption explainOption(
        QStringLiteral("explain"),
        QStringLiteral("Follow every index with a line telling why the picture was kept."));
    parser.addOption(explainOption);
    parser.addPositionalArgument(QStringLiteral("DIR"),
                                 QStringLiteral("Directory of PNG/JPEG pictures."));
    parser.process(application);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        std::fputs(qPrintable(parser.helpText()), stderr);
        return 2;
    }
    const QDir dir(positional.first());
    if (!dir.exists()) {
        std::fprintf(stderr, "QuilloraSlideDetect: no such directory: %s\n",
                     qPrintable(positional.first()));
        return 2;
    }
    const bool bench = parser.isSet(benchOption);
    const bool explain = parser.isSet(explainOption);
    const QStringList files = pictureFiles(dir);

    SlideProcessor processor;
    QList<qint64> kept;
    QStringList reasons;
    QMutex keptMutex;
    QObject::connect(
        &processor, &SlideProcessor::slidesExplained, &processor,
        [&](qint64, const QString &reason) {
            QMutexLocker locker(&keptMutex);
            reasons.append(reason);
        },
        Qt::DirectConnection);
    // This program is the last owner of the kept batches.
    QObject::connect(
        &processor, &SlideProcessor::slidesProcessed, &processor,
        [&](qint64 time, const QList<SlideImage> &slides) {
            SlideImage::releaseFrames(slides);
            QMutexLocker locker(&keptMutex);
            kept.append(time / 1000);
        },
        Qt::DirectConnection);

    // In bench mode decoding must not overlap the timed processing.
    QList<QList<SlideImage>> preloaded;
    if (bench) {
        for (const QString &name : files)
            preloaded.append(loadBatch(dir, name));
    }

    QElapsedTimer stopwatch;
    stopwatch.start();
    processor.start();
    qsizetype fed = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QList<SlideImage> batch = bench ? preloaded.at(i) : loadBatch(dir, files.at(i));
        if (batch.isEmpty())
            continue;
        processor.addSlides(i * 1000, batch, false);
        ++fed;
    }
    processor.requestStop();
    processor.wait();
    const double elapsedMs = double(stopwatch.nsecsElapsed()) / 1e6;

    for (qsizetype i = 0; i < kept.size(); ++i) {
        std::printf("%lld\n", static_cast<long long>(kept.at(i)));
        if (explain && i < reasons.size())
            std::printf("    kept: %s\n", qPrintable(reasons.at(i)));
    }
    if (bench)
        std::printf("mean ms per picture: %.3f\n", fed > 0 ? elapsedMs / double(fed) : 0.0);
    return 0;
}
