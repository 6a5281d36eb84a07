// Records the audio input given on the command line into DIRECTORY/audio.wav and prints
// "first-samples" once the first samples are in the file; runs until it is killed. When the file
// cannot be written, prints "write-failed MESSAGE", stops the recording and exits with 1.
//   quillora_audio_child DIRECTORY AUDIO_INPUT_ID [CHANNELS]
#include "AudioRecorder.h"
#include "Presentation.h"
#include "RecorderSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QMediaDevices>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3 && arguments.size() != 4) {
        std::fprintf(stderr, "usage: quillora_audio_child DIRECTORY AUDIO_INPUT_ID [CHANNELS]\n");
        return 2;
    }
    const QByteArray inputId = arguments.at(2).toUtf8();
    const QList<QAudioDevice> devices = QMediaDevices::audioInputs();
    const auto device = std::find_if(devices.cbegin(), devices.cend(),
                                     [&](const QAudioDevice &d) { return d.id() == inputId; });
    if (device == devices.cend()) {
        std::fprintf(stderr, "audio input not found\n");
        return 1;
    }
    RecorderSettings::instance()->setAudioChannelCount(
        arguments.size() == 4 ? arguments.at(3).toInt() : 1);
    RecorderSettings::instance()->setSelectedAudioInput(AudioInputInfo(*device));

    Presentation presentation{QDir(arguments.at(1))};
    AudioRecorder recorder;
    QObject::connect(&recorder, &AudioRecorder::firstSamplesReceived, &application, [] {
        std::printf("first-samples\n");
        std::fflush(stdout);
    });
    QObject::connect(&recorder, &AudioRecorder::writeFailed, &application,
                     [&recorder](const QString &message) {
                         std::printf("write-failed %s\n", qPrintable(message));
                         std::fflush(stdout);
                         recorder.requestStop();
                     });
    QObject::connect(&recorder, &AudioRecorder::stopped, &application,
                     [] { QCoreApplication::exit(1); });
    recorder.requestStart(&presentation);
    return QCoreApplication::exec();
}
