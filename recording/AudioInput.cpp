#include "AudioInput.h"

#include <QAudioSource>
#include <QDebug>
#include <QMediaDevices>

#include <memory>

namespace {

QString describe(QAudio::Error error)
{
    switch (error) {
    case QAudio::NoError:
        break;
    case QAudio::OpenError:
        return QStringLiteral("the device cannot be opened");
    case QAudio::IOError:
        return QStringLiteral("reading from the device failed");
    case QAudio::UnderrunError:
        return QStringLiteral("the device delivers no data");
    case QAudio::FatalError:
        return QStringLiteral("the sound system failed");
    }
    return QStringLiteral("the device delivers no data stream");
}

QAudioDevice findInput(const QByteArray &id)
{
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    for (const QAudioDevice &input : inputs) {
        if (input.id() == id)
            return input;
    }
    return {};
}

} // namespace

AudioInput::AudioInput(QObject *parent) : QObject(parent)
{
    m_checkTimer.setInterval(checkIntervalMs);
    connect(&m_checkTimer, &QTimer::timeout, this, &AudioInput::check);
}

AudioInput::~AudioInput()
{
    release();
}

bool AudioInput::isListed(const QByteArray &id)
{
    return !findInput(id).isNull();
}

bool AudioInput::open(const QAudioDevice &device, const QAudioFormat &format, QString *error)
{
    release();
    m_device = device;
    m_format = format;
    m_lost = false;
    // Qt's PulseAudio input waits for ever on a stream whose source does not exist: an input that
    // went away since it was listed is not opened at all.
    if (!isListed(device.id())) {
        *error = QStringLiteral("it is not connected");
        return false;
    }
    return startStream(device, error);
}

bool AudioInput::startStream(const QAudioDevice &device, QString *error)
{
    auto source = std::make_unique<QAudioSource>(device, m_format, this);
    connect(source.get(), &QAudioSource::stateChanged, this, [this](QAudio::State state) {
        Q_EMIT stateChanged(state);
        // A stream that ended by itself while watched: its device is gone, or going. Looked at
        // after the report, as the stream must not be deleted inside it.
        if (state == QAudio::StoppedState && m_checkTimer.isActive())
            QTimer::singleShot(0, this, [this] {
                if (m_source && m_source->state() == QAudio::StoppedState &&
                    m_checkTimer.isActive())
                    lose("stream stopped");
            });
    });
    m_stream = source->start();
    if (!m_stream || source->error() != QAudio::NoError) {
        *error = describe(source->error());
        disconnect(source.get(), nullptr, this, nullptr);
        m_stream = nullptr;
        return false;
    }
    connect(m_stream, &QIODevice::readyRead, this, &AudioInput::readyRead);
    m_source = source.release();
    return true;
}

void AudioInput::watch()
{
    m_checkTimer.start();
}

bool AudioInput::stop()
{
    m_checkTimer.stop();
    if (!m_source || m_source->state() == QAudio::StoppedState)
        return false;
    m_source->stop();
    return true;
}

void AudioInput::release()
{
    m_checkTimer.stop();
    if (!m_source)
        return;
    disconnect(m_source, nullptr, this, nullptr);
    m_source->stop();
    m_source->deleteLater();
    m_source = nullptr;
    m_stream = nullptr;
}

QAudio::State AudioInput::state() const
{
    return m_source ? m_source->state() : QAudio::StoppedState;
}

QByteArray AudioInput::readAll()
{
    return m_stream ? m_stream->readAll() : QByteArray();
}

QString AudioInput::label() const
{
    return QStringLiteral("Audio input \"%1\"").arg(m_device.description());
}

void AudioInput::check()
{
    const QAudioDevice device = findInput(m_device.id());
    if (!m_lost) {
        if (device.isNull())
            lose("no longer listed");
        else if (state() == QAudio::StoppedState)
            lose("stream ended");
        return;
    }
    if (device.isNull())
        return;
    // Listed a moment ago: see open() for why that matters.
    QString error;
    if (!startStream(device, &error)) {
        qDebug() << "[AudioInput] input listed again but not opened:" << error;
        return;
    }
    m_lost = false;
    qInfo().noquote() << "[AudioInput]" << label() << "opened again";
    Q_EMIT returned(label());
}

void AudioInput::lose(const char *reason)
{
    if (m_lost)
        return;
    m_lost = true;
    qInfo().noquote() << "[AudioInput]" << label() << "lost:" << reason;
    Q_EMIT lost(label());
    // The stream goes; the device keeps being looked for.
    if (m_source) {
        disconnect(m_source, nullptr, this, nullptr);
        m_source->deleteLater();
        m_source = nullptr;
        m_stream = nullptr;
    }
}
