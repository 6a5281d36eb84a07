#include "Application.h"
#include "ApplicationIdentity.h"
#include "CommandLineOptions.h"
#include "Logging.h"
#include "MetaTypes.h"
#include "S3TransferApi.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Logging::instance()->log(type, context, message);
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
