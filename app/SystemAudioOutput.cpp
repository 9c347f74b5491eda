// Qt's audio sink on the default output device, as the output of the video's sound.
#include "app/SystemAudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>

namespace kelvara {

namespace {

// Long enough to ride out a slow picture decode on the window thread, short enough that a volume
// change (applied to the sound as it is written) is heard soon.
constexpr int BufferMs = 250;

class SystemAudioOutput final : public AudioOutput {
public:
    SystemAudioOutput(const QAudioDevice& device, const QAudioFormat& qtFormat, AudioOutputFormat format)
        : m_sink(std::make_unique<QAudioSink>(device, qtFormat)), m_format(format) {}

    ~SystemAudioOutput() override { m_sink->stop(); }

    AudioOutputFormat format() const override { return m_format; }

    bool start() override {
        m_written = 0;
        m_sink->setBufferSize(qsizetype(m_format.rate) * BufferMs / 1000 * m_format.bytesPerFrame());
        m_io = m_sink->start();
        if (!m_io || m_sink->error() != QAudio::NoError || m_sink->state() == QAudio::StoppedState) {
            m_io = nullptr;
            return false;
        }
        m_sink->setVolume(m_volume);
        return true;
    }

    void stop() override {
        m_sink->stop();
        m_io = nullptr;
    }

    void suspend() override { m_sink->suspend(); }
    void resume() override { m_sink->resume(); }

    int64_t bytesFree() const override {
        if (!m_io)
            return 0;
        QAudio::State state = m_sink->state();
        return state == QAudio::ActiveState || state == QAudio::IdleState ? m_sink->bytesFree() : 0;
    }

    int64_t write(const uint8_t* data, int64_t size) override {
        if (!m_io)
            return 0;
        qint64 n = m_io->write(reinterpret_cast<const char*>(data), size);
        if (n <= 0)
            return 0;
        m_written += n;
        return n;
    }

    int64_t playedUs() const override {
        if (!m_io)
            return 0;
        // Qt's PulseAudio sink reports what the server has read less the server's own latency,
        // moved on by the time since its last timing report: the sound played out. What still
        // waits in the stream's buffer is already left out; taking off the buffer's fill again
        // (which moves in the server's request steps) would put the pictures 5 to 10 ms later
        // and make them jitter.
        return m_sink->processedUSecs();
    }

    void setVolume(double volume) override {
        m_volume = volume;
        m_sink->setVolume(volume);
    }

    std::string failure() const override {
        switch (m_sink->error()) {
        case QAudio::OpenError:
            return "the device cannot be opened";
        case QAudio::IOError:
            return "the device refused the sound";
        case QAudio::FatalError:
            return "the sound server is gone";
        default:
            return {};
        }
    }

private:
    std::unique_ptr<QAudioSink> m_sink;
    AudioOutputFormat m_format;
    QIODevice* m_io = nullptr;
    int64_t m_written = 0;
    double m_volume = 1.0;
};

} // namespace

std::unique_ptr<AudioOutput> makeSystemAudioOutput() {
    QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        throw SoundError(SoundMessages::NoDevice);
    // 16-bit stereo at 44100 Hz where the device takes it, else what the device prefers.
    QAudioFormat format;
    format.setSampleRate(44100);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        format = device.preferredFormat();
    AudioOutputFormat ours;
    ours.rate = format.sampleRate();
    ours.channels = format.channelCount();
    switch (format.sampleFormat()) {
    case QAudioFormat::UInt8:
        ours.sample = AudioOutputFormat::Sample::UInt8;
        break;
    case QAudioFormat::Int16:
        ours.sample = AudioOutputFormat::Sample::Int16;
        break;
    case QAudioFormat::Int32:
        ours.sample = AudioOutputFormat::Sample::Int32;
        break;
    case QAudioFormat::Float:
        ours.sample = AudioOutputFormat::Sample::Float;
        break;
    default:
        throw SoundError(SoundMessages::UnsupportedFormat);
    }
    if (ours.rate <= 0 || ours.channels <= 0)
        throw SoundError(SoundMessages::UnsupportedFormat);
    return std::make_unique<SystemAudioOutput>(device, format, ours);
}

} // namespace kelvara
