// The sound of a video through FFmpeg and an audio output: opening, positioning, decoding,
// conversion and feeding.
#include "video/AudioTrack.h"

#include "video/Decoder.h"
#include "video/FfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <vector>

namespace kelvara {

namespace {

struct SwrFreer {
    void operator()(SwrContext* c) const { swr_free(&c); }
};

// A channel layout that is always initialised and always released.
struct ChannelLayout {
    AVChannelLayout layout = {};
    ChannelLayout() = default;
    ChannelLayout(const ChannelLayout&) = delete;
    ChannelLayout& operator=(const ChannelLayout&) = delete;
    ~ChannelLayout() { av_channel_layout_uninit(&layout); }
};

constexpr int64_t UsPerSecond = 1'000'000;
// Decoding starts this far before the start time (seeks aim there, and packets that end before it
// are read past undecoded), so that decoders whose output depends on the packets before
// (overlapping transforms, MP3's bit reservoir) give the start time's sound exactly.
constexpr int64_t PrerollUs = 200'000;
// A seek that lands later than this after the start time missed its target.
constexpr int64_t SeekToleranceUs = 2'000;
// Packets the decoder refuses and sound it cannot make, in a row, before the sound counts as
// undecodable.
constexpr int MaxRefusedPackets = 64;

[[noreturn]] void fail(const char* message, const std::string& detail) {
    throw SoundError(detail.empty() ? std::string(message) : std::string(message) + " (" + detail + ")");
}

AVSampleFormat sampleFormatOf(AudioOutputFormat::Sample sample) {
    switch (sample) {
    case AudioOutputFormat::Sample::UInt8:
        return AV_SAMPLE_FMT_U8;
    case AudioOutputFormat::Sample::Int16:
        return AV_SAMPLE_FMT_S16;
    case AudioOutputFormat::Sample::Int32:
        return AV_SAMPLE_FMT_S32;
    case AudioOutputFormat::Sample::Float:
        return AV_SAMPLE_FMT_FLT;
    }
    return AV_SAMPLE_FMT_S16;
}

} // namespace

int AudioOutputFormat::bytesPerFrame() const {
    return channels * av_get_bytes_per_sample(sampleFormatOf(sample));
}

struct AudioTrack::State : ffmpeg::PacketSource {
    std::string path;
    ffmpeg::FormatPtr format;
    ffmpeg::Decoder decoder;
    std::unique_ptr<SwrContext, SwrFreer> swr;
    ffmpeg::FramePtr frame{av_frame_alloc()};
    int stream = -1;
    AVRational timeBase{1, UsPerSecond};

    std::unique_ptr<AudioOutput> output;
    AudioOutputFormat outFormat;
    int frameBytes = 4;
    double volume = 1.0;

    // What the converter was made for.
    ChannelLayout swrLayout;
    int swrRate = 0;
    int swrFormat = -1;

    // The range being played and where the decoding stands in it, in output frames from fromUs.
    int64_t fromUs = 0;
    int64_t limitFrames = 0;
    int64_t cursor = 0;           // output position of the next converted frame
    bool positioned = false;      // the first decoded frame fixed the cursor
    bool seeked = false;          // the demuxer was sought to fromUs rather than read from the start
    bool landedLate = false;      // that seek landed after fromUs
    bool atFileStart = true;      // nothing read since the file was opened
    bool done = false;            // nothing more to decode for this range
    int64_t silenceFrames = 0;    // silence still to write before the sound
    std::vector<uint8_t> pending; // converted sound not yet written
    size_t pendingAt = 0;
    int64_t writtenFrames = 0;
    std::vector<uint8_t> converted;

    void openFile() {
        AVFormatContext* raw = nullptr;
        int ret = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
        if (ret < 0)
            fail(SoundMessages::CannotRead, ffmpeg::errorText(ret));
        format.reset(raw);
        // Containers whose streams show only in their packets are probed; the others are known
        // from their headers.
        if (format->ctx_flags & AVFMTCTX_NOHEADER) {
            ret = avformat_find_stream_info(format.get(), nullptr);
            if (ret < 0)
                fail(SoundMessages::CannotRead, ffmpeg::errorText(ret));
        }
        atFileStart = true;
    }

    // Opens the file again and leaves it at its start, for streams that cannot be sought.
    void reopen() {
        format.reset();
        openFile();
        if (stream >= static_cast<int>(format->nb_streams) ||
            format->streams[stream]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            fail(SoundMessages::CannotRead, "the file changed");
        discardOtherStreams();
    }

    void discardOtherStreams() {
        for (unsigned i = 0; i < format->nb_streams; ++i)
            format->streams[i]->discard = static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }

    int64_t toUs(int64_t ts) const { return av_rescale_q(ts, timeBase, AVRational{1, UsPerSecond}); }
    int64_t framesOf(int64_t us) const { return av_rescale(us, outFormat.rate, UsPerSecond); }

    // A fresh decoder for each start: a flushed one may still carry state into its first frame.
    void openDecoder() {
        const AVCodecParameters* par = format->streams[stream]->codecpar;
        ffmpeg::DecoderOptions options;
        options.packetTimeBase = timeBase;
        options.maxErrorsInRow = MaxRefusedPackets;
        const int ret = decoder.isOpen() ? decoder.reopen() : decoder.open(par, options);
        if (ret == AVERROR_DECODER_NOT_FOUND)
            fail(SoundMessages::NoDecoder, avcodec_get_name(par->codec_id));
        if (ret < 0)
            fail(SoundMessages::CannotDecode, decoder.failure(ret));
    }

    void resetDecoding() {
        openDecoder();
        swr.reset();
        swrRate = 0;
        swrFormat = -1;
        av_channel_layout_uninit(&swrLayout.layout);
        cursor = 0;
        positioned = false;
        seeked = false;
        landedLate = false;
        done = false;
        silenceFrames = 0;
        pending.clear();
        pendingAt = 0;
        writtenFrames = 0;
    }

    // Puts the demuxer at or before fromUs: by seeking, or by reading from the start of the
    // file when the stream cannot be sought.
    void positionDemuxer() {
        const AVStream* st = format->streams[stream];
        const int64_t startUs = st->start_time != AV_NOPTS_VALUE ? toUs(st->start_time) : 0;
        const int64_t targetUs = fromUs - PrerollUs;
        if (targetUs <= startUs) {
            // Near the start the file is read from its beginning, with every packet before the
            // first sound (an encoder's priming) decoded as a fresh decoder expects.
            if (!atFileStart)
                reopen();
            return;
        }
        const int64_t target = av_rescale_q(targetUs, AVRational{1, UsPerSecond}, timeBase);
        if (ffmpeg::seekToKeyFrame(format.get(), stream, target)) {
            seeked = true;
            atFileStart = false;
        } else {
            reopen();
        }
    }

    // Makes the converter for this frame's layout, rate and format when they differ from the last.
    void prepareConverter(const AVFrame* f) {
        ChannelLayout in;
        int ret = f->ch_layout.nb_channels > 0
                      ? av_channel_layout_copy(&in.layout, &f->ch_layout)
                      : av_channel_layout_copy(&in.layout, &decoder.context()->ch_layout);
        if (ret < 0)
            fail(SoundMessages::CannotConvert, ffmpeg::errorText(ret));
        // A layout that only counts its channels (a plain WAVE format's) gets the usual one.
        if (in.layout.order == AV_CHANNEL_ORDER_UNSPEC || in.layout.nb_channels <= 0) {
            int channels = std::max(in.layout.nb_channels, 1);
            av_channel_layout_uninit(&in.layout);
            av_channel_layout_default(&in.layout, channels);
        }
        if (swr && swrRate == f->sample_rate && swrFormat == f->format &&
            av_channel_layout_compare(&swrLayout.layout, &in.layout) == 0)
            return;
        ChannelLayout out;
        av_channel_layout_default(&out.layout, outFormat.channels);
        SwrContext* raw = nullptr;
        ret = swr_alloc_set_opts2(&raw, &out.layout, sampleFormatOf(outFormat.sample), outFormat.rate,
                                  &in.layout, static_cast<AVSampleFormat>(f->format), f->sample_rate, 0,
                                  nullptr);
        swr.reset(raw);
        if (ret >= 0)
            ret = swr_init(swr.get());
        if (ret < 0) {
            swr.reset();
            fail(SoundMessages::CannotConvert, ffmpeg::errorText(ret));
        }
        av_channel_layout_uninit(&swrLayout.layout);
        ret = av_channel_layout_copy(&swrLayout.layout, &in.layout);
        if (ret < 0)
            fail(SoundMessages::CannotConvert, ffmpeg::errorText(ret));
        swrRate = f->sample_rate;
        swrFormat = f->format;
    }

    // Converts a decoded frame (or, with null, what the converter still holds) and keeps the part
    // inside the range.
    void convert(const AVFrame* f) {
        if (!swr)
            return;
        int inSamples = f ? f->nb_samples : 0;
        int room = swr_get_out_samples(swr.get(), inSamples);
        if (room < 0)
            fail(SoundMessages::CannotConvert, ffmpeg::errorText(room));
        if (room == 0)
            return;
        converted.resize(size_t(room) * frameBytes);
        uint8_t* out = converted.data();
        int got = swr_convert(swr.get(), &out, room,
                              f ? const_cast<const uint8_t**>(f->extended_data) : nullptr, inSamples);
        if (got < 0)
            fail(SoundMessages::CannotConvert, ffmpeg::errorText(got));
        int64_t begin = cursor, end = cursor + got;
        cursor = end;
        int64_t keepFrom = std::max<int64_t>(begin, 0), keepTo = std::min(end, limitFrames);
        if (keepTo > keepFrom)
            pending.insert(pending.end(), converted.begin() + (keepFrom - begin) * frameBytes,
                           converted.begin() + (keepTo - begin) * frameBytes);
        if (cursor >= limitFrames)
            done = true;
    }

    // The first frame after a start fixes where the converted sound lies in the range.
    void position(const AVFrame* f) {
        positioned = true;
        int64_t ts = f->best_effort_timestamp;
        int64_t frameUs = ts != AV_NOPTS_VALUE ? toUs(ts) : (seeked ? fromUs : 0);
        if (seeked && frameUs > fromUs + SeekToleranceUs) {
            landedLate = true;
            return;
        }
        cursor = framesOf(frameUs - fromUs);
        if (cursor > 0) {
            // The stream starts after the start time: silence until it does.
            silenceFrames = std::min(cursor, limitFrames);
        }
    }

    // The stream's packets, those that end well before the start time read past undecoded.
    int nextPacket(AVPacket* pkt, int64_t&) override {
        for (;;) {
            av_packet_unref(pkt);
            const int ret = av_read_frame(format.get(), pkt);
            atFileStart = false;
            if (ret < 0)
                return ret;
            if (pkt->stream_index != stream)
                continue;
            if (!positioned && pkt->pts != AV_NOPTS_VALUE &&
                toUs(pkt->pts + std::max<int64_t>(pkt->duration, 0)) < fromUs - PrerollUs)
                continue;
            return 0;
        }
    }

    // Decodes until some sound for the range is pending, or the range or stream ends. A damaged
    // packet is skipped; a stream of them is undecodable.
    void decodeMore() {
        size_t before = pending.size();
        while (!done && pending.size() == before && !landedLate) {
            switch (decoder.receive(frame.get(), *this)) {
            case ffmpeg::Decoder::Status::Output:
                if (!positioned) {
                    position(frame.get());
                    if (landedLate)
                        return;
                }
                prepareConverter(frame.get());
                convert(frame.get());
                av_frame_unref(frame.get());
                break;
            case ffmpeg::Decoder::Status::End:
                convert(nullptr); // what the resampler still holds
                done = true;
                break;
            case ffmpeg::Decoder::Status::ReadFailed:
                fail(SoundMessages::CannotRead, ffmpeg::errorText(decoder.error()));
            case ffmpeg::Decoder::Status::DecodeFailed:
                fail(SoundMessages::CannotDecode, ffmpeg::errorText(decoder.error()));
            }
        }
    }

    // Decodes up to the first sound of the range; a seek that landed late is done again by
    // reading from the start of the file.
    void prime() {
        decodeMore();
        if (!landedLate)
            return;
        resetDecoding();
        done = limitFrames == 0;
        reopen();
        decodeMore();
    }
};

AudioTrack::AudioTrack(std::unique_ptr<State> state) : m_state(std::move(state)) {}
AudioTrack::~AudioTrack() = default;

std::unique_ptr<AudioTrack> AudioTrack::open(const std::string& path, const AudioOutputFactory& makeOutput) {
    auto s = std::make_unique<State>();
    s->path = path;
    if (!s->frame)
        fail(SoundMessages::CannotDecode, ffmpeg::errorText(AVERROR(ENOMEM)));
    s->openFile();
    for (unsigned i = 0; i < s->format->nb_streams && s->stream < 0; ++i)
        if (s->format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            s->stream = static_cast<int>(i);
    if (s->stream < 0)
        return nullptr;
    s->discardOtherStreams();
    AVStream* stream = s->format->streams[s->stream];
    s->timeBase = stream->time_base.num > 0 && stream->time_base.den > 0 ? stream->time_base
                                                                         : AVRational{1, UsPerSecond};
    s->openDecoder();
    s->output = makeOutput ? makeOutput() : nullptr;
    if (!s->output)
        fail(SoundMessages::NoDevice, {});
    s->outFormat = s->output->format();
    s->frameBytes = s->outFormat.bytesPerFrame();
    if (s->frameBytes <= 0 || s->outFormat.rate <= 0)
        fail(SoundMessages::UnsupportedFormat, {});
    return std::unique_ptr<AudioTrack>(new AudioTrack(std::move(s)));
}

void AudioTrack::start(int64_t fromUs, int64_t toUs) {
    State& s = *m_state;
    s.output->stop();
    s.resetDecoding();
    s.fromUs = fromUs;
    s.limitFrames = std::max<int64_t>(0, s.framesOf(toUs - fromUs));
    s.done = s.limitFrames == 0;
    s.positionDemuxer();
    s.prime();
    if (!s.output->start())
        fail(SoundMessages::OutputFailed, s.output->failure());
    s.output->setVolume(s.volume);
    feed();
}

void AudioTrack::stop() {
    m_state->output->stop();
}

void AudioTrack::pause() {
    m_state->output->suspend();
}

void AudioTrack::resume() {
    m_state->output->resume();
}

void AudioTrack::feed() {
    State& s = *m_state;
    int64_t room = s.output->bytesFree() / s.frameBytes;
    while (room > 0) {
        int64_t written = 0;
        if (s.silenceFrames > 0) {
            int64_t n = std::min(room, s.silenceFrames);
            s.converted.assign(size_t(n) * s.frameBytes,
                               s.outFormat.sample == AudioOutputFormat::Sample::UInt8 ? 0x80 : 0);
            written = s.output->write(s.converted.data(), n * s.frameBytes) / s.frameBytes;
            s.silenceFrames -= written;
        } else if (s.pendingAt < s.pending.size()) {
            int64_t n = std::min<int64_t>(room, int64_t(s.pending.size() - s.pendingAt) / s.frameBytes);
            written = s.output->write(s.pending.data() + s.pendingAt, n * s.frameBytes) / s.frameBytes;
            s.pendingAt += size_t(written) * s.frameBytes;
            if (s.pendingAt == s.pending.size()) {
                s.pending.clear();
                s.pendingAt = 0;
            }
        } else if (!s.done) {
            s.decodeMore();
            continue;
        } else {
            break;
        }
        if (written <= 0)
            break;
        s.writtenFrames += written;
        room -= written;
    }
}

void AudioTrack::setVolume(int level) {
    m_state->volume = std::clamp(level, 0, 65535) / 65535.0;
    m_state->output->setVolume(m_state->volume);
}

int64_t AudioTrack::playedUs() const {
    const State& s = *m_state;
    int64_t writtenUs = av_rescale(s.writtenFrames, UsPerSecond, s.outFormat.rate);
    return s.fromUs + std::clamp<int64_t>(s.output->playedUs(), 0, writtenUs);
}

bool AudioTrack::drained() const {
    const State& s = *m_state;
    if (!s.done || s.silenceFrames > 0 || s.pendingAt < s.pending.size())
        return false;
    // Outputs count their time in whole microseconds, rounded either way.
    int64_t writtenUs = av_rescale(s.writtenFrames, UsPerSecond, s.outFormat.rate);
    return s.output->playedUs() >= writtenUs - 1;
}

std::string AudioTrack::failure() const {
    return m_state->output->failure();
}

} // namespace kelvara
