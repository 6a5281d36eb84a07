#include "ExportCommand.h"

#include "ExportThread.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

#include <cstdio>

ExportCommand::ExportCommand(const CommandLineOptions &options, QObject *parent)
    : QObject(parent), m_options(options)
{}

ExportCommand::~ExportCommand() = default;

void ExportCommand::run()
{
    const ExportKind kind = *ExportKinds::fromName(m_options.exportKind);
    m_thread =
        std::make_unique<ExportThread>(kind, QDir(m_options.exportDir), m_options.exportOutput);
    connect(m_thread.get(), &ExportThread::progressChanged, this, &ExportCommand::onProgress);
    connect(m_thread.get(), &QThread::finished, this, &ExportCommand::onFinished);

    // Ctrl+C ends the export the way the window's Cancel does: nothing is left behind.
    m_terminationSignals = TerminationSignals::create();
    if (m_terminationSignals)
        connect(m_terminationSignals.get(), &TerminationSignals::terminationRequested, this,
                [this] { m_thread->cancel(); });

    std::fprintf(stderr, "Exporting the %s of %s to %s\n",
                 qPrintable(ExportKinds::description(kind)),
                 qPrintable(QDir::toNativeSeparators(m_options.exportDir)),
                 qPrintable(QDir::toNativeSeparators(m_thread->outputPath())));
    std::fflush(stderr);
    m_thread->start();
}

void ExportCommand::onProgress(int percent)
{
    // A line every tenth is enough to follow it, also in a log.
    if (percent / 10 == m_lastPrinted / 10 && percent != 100)
        return;
    m_lastPrinted = percent;
    std::fprintf(stderr, "%d %%\n", percent);
    std::fflush(stderr);
}

void ExportCommand::onFinished()
{
    if (m_thread->succeeded()) {
        std::fprintf(stdout, "%s\n", qPrintable(QDir::toNativeSeparators(m_thread->outputPath())));
        std::fflush(stdout);
        QCoreApplication::exit(0);
        return;
    }
    std::fprintf(stderr, "QuilloraRecorder: %s\n", qPrintable(m_thread->errorMessage()));
    std::fflush(stderr);
    QCoreApplication::exit(1);
}
