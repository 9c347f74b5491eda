// The sound of a video through FFmpeg and Qt's audio output.
#include "app/AudioTrack.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <vector>

namespace kelvara {

namespace {
constexpr int OutputRate = 44100;
constexpr int OutputChannels = 2;
} // namespace

struct AudioTrack::State {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int stream = -1;
    std::unique_ptr<QAudioSink> sink;
    QIODevice* io = nullptr;
    std::vector<uint8_t> pending; // converted samples not yet written
    int64_t skipBytes = 0;        // samples before the start time, dropped after a seek
    bool ended = false;
    double volume = 1.0;

    ~State() {
        if (sink)
            sink->stop();
        swr_free(&swr);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        av_packet_free(&packet);
        av_frame_free(&frame);
    }

    // Decodes more sound into pending; false at the end of the stream.
    bool decodeMore() {
        for (;;) {
            int ret = avcodec_receive_frame(codec, frame);
            if (ret == 0) {
                int outSamples = swr_get_out_samples(swr, frame->nb_samples);
                if (outSamples <= 0)
                    continue;
                size_t at = pending.size();
                pending.resize(at + size_t(outSamples) * OutputChannels * 2);
                uint8_t* out = pending.data() + at;
                int got = swr_convert(swr, &out, outSamples,
                                      const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
                pending.resize(at + size_t(std::max(got, 0)) * OutputChannels * 2);
                return true;
            }
            if (ret == AVERROR_EOF)
                return false;
            if (ret != AVERROR(EAGAIN))
                continue;
            for (;;) {
                av_packet_unref(packet);
                if (av_read_frame(format, packet) < 0) {
                    avcodec_send_packet(codec, nullptr);
                    break;
                }
                if (packet->stream_index != stream)
                    continue;
                if (avcodec_send_packet(codec, packet) >= 0)
                    break;
            }
        }
    }
};

AudioTrack::AudioTrack(std::unique_ptr<State> state) : m_state(std::move(state)) {}
AudioTrack::~AudioTrack() = default;

std::unique_ptr<AudioTrack> AudioTrack::open(const std::string& path) {
    QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return nullptr;
    auto s = std::make_unique<State>();
    if (avformat_open_input(&s->format, path.c_str(), av_find_input_format("avi"), nullptr) < 0)
        return nullptr;
    for (unsigned i = 0; i < s->format->nb_streams; ++i) {
        if (s->format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && s->stream < 0)
            s->stream = static_cast<int>(i);
        else
            s->format->streams[i]->discard = AVDISCARD_ALL;
    }
    if (s->stream < 0)
        return nullptr;
    AVCodecParameters* par = s->format->streams[s->stream]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder || !(s->codec = avcodec_alloc_context3(decoder)) ||
        avcodec_parameters_to_context(s->codec, par) < 0 || avcodec_open2(s->codec, decoder, nullptr) < 0)
        return nullptr;
    AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout in;
    if (s->codec->ch_layout.nb_channels > 0)
        av_channel_layout_copy(&in, &s->codec->ch_layout);
    else
        av_channel_layout_default(&in, 1);
    int ok = swr_alloc_set_opts2(&s->swr, &out, AV_SAMPLE_FMT_S16, OutputRate, &in, s->codec->sample_fmt,
                                 s->codec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (ok < 0 || swr_init(s->swr) < 0)
        return nullptr;
    QAudioFormat format;
    format.setSampleRate(OutputRate);
    format.setChannelCount(OutputChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        return nullptr;
    s->sink = std::make_unique<QAudioSink>(device, format);
    return std::unique_ptr<AudioTrack>(new AudioTrack(std::move(s)));
}

void AudioTrack::start(int64_t ms) {
    State& s = *m_state;
    stop();
    // Seek just before the start time, then drop the samples before it.
    av_seek_frame(s.format, -1, ms * (AV_TIME_BASE / 1000), AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(s.codec);
    swr_init(s.swr);
    s.pending.clear();
    s.ended = false;
    s.skipBytes = 0;
    if (s.decodeMore()) {
        int64_t firstMs = s.frame->best_effort_timestamp == AV_NOPTS_VALUE
                              ? ms
                              : av_rescale_q(s.frame->best_effort_timestamp,
                                             s.format->streams[s.stream]->time_base, AVRational{1, 1000});
        if (ms > firstMs)
            s.skipBytes = (ms - firstMs) * OutputRate / 1000 * OutputChannels * 2;
    }
    s.io = s.sink->start();
    s.sink->setVolume(s.volume);
    feed();
}

void AudioTrack::stop() {
    if (m_state->sink)
        m_state->sink->stop();
    m_state->io = nullptr;
}

void AudioTrack::feed() {
    State& s = *m_state;
    if (!s.io)
        return;
    qsizetype room = s.sink->bytesFree();
    while (room > 0 && !s.ended) {
        while (s.skipBytes > 0 && !s.pending.empty()) {
            size_t drop = size_t(std::min<int64_t>(s.skipBytes, int64_t(s.pending.size())));
            s.pending.erase(s.pending.begin(), s.pending.begin() + static_cast<ptrdiff_t>(drop));
            s.skipBytes -= int64_t(drop);
        }
        if (s.pending.empty()) {
            if (!s.decodeMore())
                s.ended = true;
            continue;
        }
        qsizetype n = std::min<qsizetype>(room, static_cast<qsizetype>(s.pending.size()));
        n -= n % (OutputChannels * 2);
        if (n <= 0)
            break;
        qint64 written = s.io->write(reinterpret_cast<const char*>(s.pending.data()), n);
        if (written <= 0)
            break;
        s.pending.erase(s.pending.begin(), s.pending.begin() + written);
        room -= written;
    }
}

void AudioTrack::setVolume(int level) {
    m_state->volume = level / 65535.0;
    if (m_state->sink)
        m_state->sink->setVolume(m_state->volume);
}

} // namespace kelvara
