#include "Application.h"
#include "ApplicationIdentity.h"
#include "CommandLineOptions.h"
#include "ExportCommand.h"
#include "Logging.h"
#include "MetaTypes.h"
#include "S3TransferApi.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QThreadPool>
#include <QTimer>

#include <opencv2/core/utility.hpp>

#include <csignal>
#include <cstdio>
#include <memory>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Logging::instance()->log(type, context, message);
}

// The recorder runs beside the presentation it records and should hardly be noticed there. Its
// work is one picture a second, so the libraries' defaults for heavy image processing only cost
// memory and wake-ups.
void limitProcessResources()
{
#ifdef __GLIBC__
    // Every thread that allocates would get a malloc arena of its own, each keeping the freed
    // memory of its frames. Two are plenty for a handful of threads that allocate once a second.
    // The mmap threshold stays dynamic on purpose: fixed low, every frame-sized buffer would go
    // back to the system when freed and come again as fresh pages, and page faults cost more
    // than the copies themselves.
    mallopt(M_ARENA_MAX, 2);
#endif
    // A thread pool per core for pictures that take milliseconds is all overhead: the
    // comparison and the conversions run on the thread that asks for them.
    cv::setNumThreads(0);
    // Qt's pool serves the occasional large image conversion (a slide saved as PNG).
    QThreadPool::globalInstance()->setMaxThreadCount(1);
    // The window renders in software: Qt need not load the OpenGL libraries for the X display.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

// An export, the help and a usage error need no display: they run where there is none as well.
// Their standard output and error carry their own text only, from the start.
void prepareForRunsWithoutWindow(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLineOptions options = CommandLineOptions::parse(arguments);
    const bool noWindow = options.exporting() || options.result != CommandLineOptions::Result::Ok;
    if (!noWindow)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Logging::instance()->setConsole(nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    // Capture devices open through the platform's own video back end first.
#ifdef Q_OS_WIN
    qputenv("OPENCV_VIDEOIO_PRIORITY_LIST", "DSHOW,MSMF");
#else
    qputenv("OPENCV_VIDEOIO_PRIORITY_LIST", "V4L2");
#endif
    limitProcessResources();
    prepareForRunsWithoutWindow(argc, argv);
#ifdef SIGXFSZ
    // A file-size limit makes the write that hits it fail with EFBIG, which every writer reports
    // and cleans up after; the signal's default would kill the process in the middle instead.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    qInstallMessageHandler(messageHandler);
    ApplicationIdentity::apply();
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    MetaTypes::registerAll();
    S3TransferApi::init();

    int result = 0;
    {
        QGuiApplication guiApplication(argc, argv);

        const CommandLineOptions options = CommandLineOptions::parse(guiApplication.arguments());
        if (options.result != CommandLineOptions::Result::Ok) {
            const bool help = options.result == CommandLineOptions::Result::HelpRequested;
            FILE *out = help ? stdout : stderr;
            if (!help)
                std::fprintf(out, "QuilloraRecorder: %s\n", qPrintable(options.error));
            std::fputs(qPrintable(CommandLineOptions::usage()), out);
            S3TransferApi::shutdown();
            return help ? 0 : 2;
        }

        if (options.exporting()) {
            ExportCommand command(options);
            QTimer::singleShot(0, &command, &ExportCommand::run);
            result = QGuiApplication::exec();
            S3TransferApi::shutdown();
            return result;
        }
        if (options.headless())
            Logging::instance()->setConsole(stderr);

        auto application = std::make_unique<Application>();
        application->setOptions(options);
        QTimer::singleShot(0, application.get(), &Application::run);
        result = QGuiApplication::exec();

        // The recording, and with it every upload, has ended before the event loop did; the
        // transfer library goes only after its last user.
        application.reset();
        S3TransferApi::shutdown();
    }
    return result;
}
