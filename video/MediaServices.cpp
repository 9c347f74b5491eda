// The frame source for every container other than AVI: a pass over the packets for the positions
// and their timestamps, seeking by key frames, and decoding forward to the picture asked for.
#include "video/MediaServices.h"

#include "video/DibPacker.h"
#include "video/FfmpegHandles.h"
#include "video/FrameSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace kelvara {

namespace {

using ffmpeg::FormatPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;

// The demuxer FFmpeg names the MP4 family by: its sample tables count the pictures.
constexpr const char* MovDemuxer = "mov,mp4,m4a,3gp,3g2,mj2";
// Key frames a missing picture is looked for behind the one it should follow.
constexpr int MaxKeysBack = 2;
// Decoding errors in a row after which a stream counts as ended.
constexpr int MaxDecodeErrors = 64;

// FFmpeg's own error codes are tags; the system's are negated error numbers.
bool isSystemError(int code) {
    return code < 0 && code > -4096;
}

[[noreturn]] void fail(const char* message, const std::string& path, const std::string& reason) {
    throw FrameSourceError(message, path, reason);
}

// One packet in the order the demuxer gives them.
struct PacketEntry {
    int64_t pts = AV_NOPTS_VALUE;
    int64_t dts = AV_NOPTS_VALUE;
    bool key = false;
    bool shown = true; // its picture is shown; a packet an edit list cuts is only decoded
};

// The packets of the stream, from its first key frame on, and the positions they make.
struct Timeline {
    std::vector<PacketEntry> packets;              // in decoding order
    std::vector<int64_t> positionPts;              // the timestamp of each position, in display order
    std::vector<std::pair<int64_t, size_t>> byPts; // (timestamp, decoding index), sorted
    std::vector<std::pair<int64_t, size_t>> byDts; // (decoding time, decoding index), sorted
    std::vector<size_t> keys;                      // decoding indices of the key packets
    std::vector<int64_t> keyPositions;             // the positions of shown key packets' pictures
    bool timed = false;                            // every packet carries a timestamp
    int64_t endPts = 0;                            // where the last picture ends
    int64_t lastDuration = 0;                      // of the packet showing last
    FrameTimes times;
};

// MPEG program streams carry one timestamp per PES packet, and a PES packet may hold several
// pictures: the demuxer gives every packet its decoding time, but the presentation time only to
// some. In such a constant-rate stream the presentation times are the decoding times moved on by
// the first packet's reorder delay; those no packet names belong, in decoding order, to the
// packets without one (reference pictures, which show in the order they are decoded). That is the
// time the decoder stamps on their pictures. Where the times do not work out so, nothing changes.
void fillMissingPts(std::vector<PacketEntry>& packets) {
    if (packets.empty() || packets.front().pts == AV_NOPTS_VALUE)
        return;
    size_t missing = 0;
    for (const PacketEntry& p : packets) {
        if (p.dts == AV_NOPTS_VALUE)
            return;
        missing += p.pts == AV_NOPTS_VALUE;
    }
    if (missing == 0)
        return;
    const int64_t delay = packets.front().pts - packets.front().dts;
    std::vector<int64_t> shown, named;
    for (const PacketEntry& p : packets) {
        shown.push_back(p.dts + delay);
        if (p.pts != AV_NOPTS_VALUE)
            named.push_back(p.pts);
    }
    std::sort(shown.begin(), shown.end());
    std::sort(named.begin(), named.end());
    if (!std::includes(shown.begin(), shown.end(), named.begin(), named.end()))
        return;
    std::vector<int64_t> unnamed;
    std::set_difference(shown.begin(), shown.end(), named.begin(), named.end(), std::back_inserter(unnamed));
    if (unnamed.size() != missing)
        return;
    size_t next = 0;
    for (PacketEntry& p : packets)
        if (p.pts == AV_NOPTS_VALUE)
            p.pts = unnamed[next++];
}

// The demuxer reads the packets of this stream only.
void keepOnlyStream(AVFormatContext* fc, int streamIndex) {
    for (unsigned i = 0; i < fc->nb_streams; ++i)
        fc->streams[i]->discard = static_cast<int>(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

// How far the stream's display matrix turns its pictures clockwise, in quarter turns as ffmpeg
// applies them: 0, 90, 180 or 270.
int rotationOf(const AVStream* stream) {
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix)
        return 0;
    double theta = -std::round(av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix)));
    if (std::isnan(theta))
        return 0;
    theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
    for (int quarter : {90, 180, 270})
        if (std::fabs(theta - quarter) < 1.0)
            return quarter;
    return 0;
}

} // namespace

std::string fileOpenReason(int errorNumber) {
    if (errorNumber == ENOENT)
        return "No such file";
    return std::strerror(errorNumber);
}

struct MediaFile::State {
    std::string path;
    const AVInputFormat* inputFormat = nullptr;
    FormatPtr format;
    AVStream* stream = nullptr; // of the demuxer opened first; the facts are read from it
    // What the decoder and the timestamps need of the stream, kept apart from the demuxer, which
    // is opened again when reading starts over.
    ffmpeg::ParametersPtr params{avcodec_parameters_alloc()};
    AVRational timeBase{1, 1};
    AVRational averageRate{0, 1};
    int streamIndex = -1;
    int streamId = 0;
    ffmpeg::CodecPtr codec;
    PacketPtr packet{av_packet_alloc()};
    bool held = false;    // the packet is read but not yet sent to the decoder
    int refusedSends = 0; // sends in a row the decoder put off
    bool started = false; // the decoder has been given packets
    FramePtr current{av_frame_alloc()};
    FramePtr ahead{av_frame_alloc()};
    int64_t currentPosition = -1;
    int64_t aheadPosition = -1;
    bool haveCurrent = false;
    bool haveAhead = false;
    bool draining = false; // the stream is read to its end and the decoder was told so
    bool finished = false; // the decoder gave its last picture
    int64_t lastOutput = -1;
    // Pictures before this timestamp are the leading pictures of the key frame decoding started
    // at (an open group of pictures): they belong to the group before and are not used.
    int64_t ignoreBefore = AV_NOPTS_VALUE;

    bool timelineBuilt = false;
    Timeline timeline;
    VideoFacts facts;
    DibPacking packing;
    DibPacker packer;

    void open(const std::string& path);
    void openInput(bool withStreamInfo);
    void openDecoder();
    bool readPacket(AVFormatContext* fc, AVPacket* pkt) const;
    void countFromSampleTable();
    void buildTimeline();
    void ensureTimeline();
    void workOutFacts();

    bool timed() const { return timelineBuilt && timeline.timed; }
    int64_t knownPositions() const {
        return timed() ? static_cast<int64_t>(timeline.positionPts.size()) : facts.frameCount;
    }
    bool decodeNext(AVFrame* out, int64_t& position);
    bool sendNextPacket();
    int64_t mapPosition(const AVFrame* frame) const;
    void resetDecoding();
    void rewind();
    // Starts decoding again at the key frame for a position, or keysBack key frames before it;
    // false when there is none so far back.
    bool restart(int64_t position, int keysBack = 0);
    enum class Landing { Found, Overshot, End };
    Landing findPacket(size_t decodeIndex);
    int64_t decodeIndexOf(const AVPacket* pkt) const;
    bool keyBetween(int64_t after, int64_t upTo) const;
};

MediaFile::MediaFile() : m_state(std::make_unique<State>()) {}
MediaFile::~MediaFile() = default;

void MediaFile::open(const std::string& path) {
    m_state = std::make_unique<State>();
    m_state->open(path);
}

const VideoFacts& MediaFile::facts() const {
    return m_state->facts;
}

const FrameTimes* MediaFile::frameTimes() {
    m_state->ensureTimeline();
    return m_state->timed() ? &m_state->timeline.times : nullptr;
}

// ---- opening ----

void MediaFile::State::openInput(bool withStreamInfo) {
    AVFormatContext* raw = nullptr;
    int ret = avformat_open_input(&raw, path.c_str(), inputFormat, nullptr);
    if (ret < 0)
        fail(FrameSourceMessages::OpenFile, path,
             isSystemError(ret) ? fileOpenReason(-ret)
                                : "not a video FFmpeg can read: " + ffmpeg::errorText(ret));
    format.reset(raw);
    // Containers whose streams show only in their packets are probed every time: without it,
    // their packets miss the timestamps the parser works out.
    if (withStreamInfo || (format->ctx_flags & AVFMTCTX_NOHEADER)) {
        ret = avformat_find_stream_info(format.get(), nullptr);
        if (ret < 0)
            fail(FrameSourceMessages::StreamInfo, path, ffmpeg::errorText(ret));
    }
}

bool MediaFile::State::readPacket(AVFormatContext* fc, AVPacket* pkt) const {
    for (;;) {
        av_packet_unref(pkt);
        if (av_read_frame(fc, pkt) < 0)
            return false;
        if (pkt->stream_index == streamIndex && fc->streams[streamIndex]->id == streamId)
            return true;
        // Streams that show only in the packets appear as they are read: they are not wanted.
        if (pkt->stream_index >= 0 && static_cast<unsigned>(pkt->stream_index) < fc->nb_streams)
            fc->streams[pkt->stream_index]->discard = AVDISCARD_ALL;
    }
}

void MediaFile::State::open(const std::string& filePath) {
    path = filePath;
    av_log_set_level(AV_LOG_QUIET);
    if (!packet || !current || !ahead)
        fail(FrameSourceMessages::OpenFile, path, ffmpeg::errorText(AVERROR(ENOMEM)));
    openInput(true);
    inputFormat = format->iformat;
    for (unsigned i = 0; i < format->nb_streams && streamIndex < 0; ++i) {
        const AVStream* s = format->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            streamIndex = static_cast<int>(i);
    }
    if (streamIndex < 0)
        fail(FrameSourceMessages::OpenStream, path, "the file has no video stream");
    stream = format->streams[streamIndex];
    streamId = stream->id;
    keepOnlyStream(format.get(), streamIndex);
    if (stream->time_base.num <= 0 || stream->time_base.den <= 0)
        fail(FrameSourceMessages::StreamInfo, path, "the video stream has no time base");
    if (!params || avcodec_parameters_copy(params.get(), stream->codecpar) < 0)
        fail(FrameSourceMessages::StreamInfo, path, ffmpeg::errorText(AVERROR(ENOMEM)));
    timeBase = stream->time_base;
    averageRate = stream->avg_frame_rate;
    packing.rotation = rotationOf(stream);

    openDecoder();

    if (std::strcmp(inputFormat->name, MovDemuxer) == 0)
        countFromSampleTable();
    if (facts.frameCount <= 0) {
        buildTimeline();
        facts.frameCount = static_cast<int64_t>(
            timeline.packets.size() - std::count_if(timeline.packets.begin(), timeline.packets.end(),
                                                    [](const PacketEntry& p) { return !p.shown; }));
    }
    if (facts.frameCount <= 0)
        fail(FrameSourceMessages::StartStream, path, "the video stream holds no pictures");

    // The first picture, decoded from the start of the file: its size is the video's.
    resetDecoding();
    if (decodeNext(ahead.get(), aheadPosition))
        haveAhead = true;
    workOutFacts();
}

// A fresh decoder for each start: a flushed one keeps state (the reorder depth it has learnt, what
// it knows of recovery points) that changes which pictures come out after a seek.
void MediaFile::State::openDecoder() {
    const AVCodec* decoder = avcodec_find_decoder(params->codec_id);
    if (!decoder)
        fail(FrameSourceMessages::StartDecompression, path,
             std::string("FFmpeg has no decoder for ") + avcodec_get_name(params->codec_id));
    codec.reset(avcodec_alloc_context3(decoder));
    if (!codec)
        fail(FrameSourceMessages::StartDecompression, path, ffmpeg::errorText(AVERROR(ENOMEM)));
    int ret = avcodec_parameters_to_context(codec.get(), params.get());
    if (ret < 0)
        fail(FrameSourceMessages::StartDecompression, path, ffmpeg::errorText(ret));
    codec->pkt_timebase = timeBase;
    codec->thread_count = 1;
    // As for AVI files: no picture past the limit, whatever the stream claims.
    codec->max_pixels = MaxVideoPictureArea;
    if (int64_t(codec->width) * codec->height > MaxVideoPictureArea)
        codec->width = codec->height = codec->coded_width = codec->coded_height = 0;
    ret = avcodec_open2(codec.get(), decoder, nullptr);
    if (ret < 0)
        fail(FrameSourceMessages::StartDecompression, path,
             std::string(decoder->name) + ": " + ffmpeg::errorText(ret));
}

void MediaFile::State::countFromSampleTable() {
    // Exact when the table lists every sample (a fragmented file lists them as it is read).
    const int entries = avformat_index_get_entries_count(stream);
    if (entries <= 0 || stream->nb_frames != entries)
        return;
    int64_t count = 0;
    bool started = false;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(stream, i);
        started = started || (e->flags & AVINDEX_KEYFRAME);
        if (started && !(e->flags & AVINDEX_DISCARD_FRAME) && e->size > 0)
            ++count;
    }
    facts.frameCount = count;
}

void MediaFile::State::buildTimeline() {
    timelineBuilt = true;
    Timeline& t = timeline;
    // A demuxer of its own, so that the one decoding stays where it is.
    FormatPtr scan;
    {
        AVFormatContext* raw = nullptr;
        if (avformat_open_input(&raw, path.c_str(), inputFormat, nullptr) < 0)
            return;
        scan.reset(raw);
        if ((scan->ctx_flags & AVFMTCTX_NOHEADER) && avformat_find_stream_info(scan.get(), nullptr) < 0)
            return;
    }
    keepOnlyStream(scan.get(), streamIndex);
    PacketPtr pkt(av_packet_alloc());
    if (!pkt)
        return;
    // Packets before the first key frame make no picture a decoder shows; with no key frame
    // marked at all, every packet counts.
    std::vector<PacketEntry> all;
    size_t firstKey = SIZE_MAX;
    int64_t maxPts = INT64_MIN;
    while (readPacket(scan.get(), pkt.get())) {
        if (pkt->size <= 0)
            continue;
        PacketEntry e;
        e.pts = pkt->pts;
        e.dts = pkt->dts;
        e.key = pkt->flags & AV_PKT_FLAG_KEY;
        e.shown = !(pkt->flags & AV_PKT_FLAG_DISCARD);
        if (e.key && firstKey == SIZE_MAX)
            firstKey = all.size();
        if (e.shown && e.pts != AV_NOPTS_VALUE && e.pts >= maxPts) {
            maxPts = e.pts;
            t.lastDuration = pkt->duration;
        }
        all.push_back(e);
    }
    t.packets.assign(all.begin() + static_cast<ptrdiff_t>(firstKey == SIZE_MAX ? 0 : firstKey), all.end());
    fillMissingPts(t.packets);

    t.timed = !t.packets.empty() && std::all_of(t.packets.begin(), t.packets.end(),
                                                [](const PacketEntry& p) { return p.pts != AV_NOPTS_VALUE; });
    if (!t.timed)
        return;
    for (size_t i = 0; i < t.packets.size(); ++i) {
        const PacketEntry& p = t.packets[i];
        t.byPts.emplace_back(p.pts, i);
        if (p.dts != AV_NOPTS_VALUE)
            t.byDts.emplace_back(p.dts, i);
        if (p.key)
            t.keys.push_back(i);
        if (p.shown)
            t.positionPts.push_back(p.pts);
    }
    std::sort(t.byPts.begin(), t.byPts.end());
    std::sort(t.byDts.begin(), t.byDts.end());
    std::sort(t.positionPts.begin(), t.positionPts.end());
    if (t.positionPts.empty()) {
        t.timed = false;
        return;
    }
    for (size_t k : t.keys)
        if (t.packets[k].shown)
            t.keyPositions.push_back(
                std::lower_bound(t.positionPts.begin(), t.positionPts.end(), t.packets[k].pts) -
                t.positionPts.begin());
    std::sort(t.keyPositions.begin(), t.keyPositions.end());

    // The last picture lasts as long as its packet says, else as long as the pictures do on
    // average, else one frame at the stream's rate.
    const size_t n = t.positionPts.size();
    int64_t last = t.lastDuration;
    if (last <= 0 && n > 1)
        last = (t.positionPts.back() - t.positionPts.front()) / static_cast<int64_t>(n - 1);
    if (last <= 0 && averageRate.num > 0 && averageRate.den > 0)
        last = av_rescale_q(1, av_inv_q(averageRate), timeBase);
    t.endPts = t.positionPts.back() + std::max<int64_t>(last, 0);
    const AVRational us{1, 1000000};
    t.times.startUs.reserve(n);
    for (int64_t pts : t.positionPts)
        t.times.startUs.push_back(av_rescale_q(pts, timeBase, us));
    t.times.endUs = av_rescale_q(t.endPts, timeBase, us);
}

void MediaFile::State::ensureTimeline() {
    if (timelineBuilt)
        return;
    buildTimeline();
    if (!timed() || !haveAhead || haveCurrent)
        return;
    // The first picture was decoded before the positions were known: place it among them.
    lastOutput = -1;
    ignoreBefore = timeline.positionPts.front();
    const int64_t position = mapPosition(ahead.get());
    if (position < 0) {
        haveAhead = false;
    } else {
        aheadPosition = lastOutput = position;
    }
}

void MediaFile::State::workOutFacts() {
    const AVCodecParameters* par = stream->codecpar;
    facts.codec = avcodec_get_name(par->codec_id);
    facts.container = inputFormat->name;
    if (haveAhead) {
        facts.width = ahead->width;
        facts.height = ahead->height;
    } else {
        // No picture to take the size from: the stream's claim, if a picture could have it.
        facts.width = par->width;
        facts.height = par->height;
        if (facts.width <= 0 || facts.height <= 0 || int64_t(facts.width) * facts.height > Bitmap::MaxPixels)
            fail(FrameSourceMessages::Format, path, "the video stream gives no picture and names no size");
    }
    packing.width = facts.width;
    packing.height = facts.height;
    packing.ownColorimetry = true;
    // A picture shown turned (a phone held upright) is reported and given as it is shown.
    if (packing.rotation % 180)
        std::swap(facts.width, facts.height);

    // Length: from the pictures' timestamps where they were read, else the stream's duration.
    const AVRational ms{1, 1000};
    if (timed()) {
        facts.lengthMs = av_rescale_q(timeline.endPts - timeline.positionPts.front(), stream->time_base, ms);
    } else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        facts.lengthMs = av_rescale_q(stream->duration, stream->time_base, ms);
    } else if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
        facts.lengthMs = av_rescale_q(format->duration, AVRational{1, AV_TIME_BASE}, ms);
    }
    // Rate: the average over the whole stream. The stream's own figure is kept where it agrees
    // (it is exact: 30000/1001 rather than 29.97003), and replaced where it was only estimated
    // from the first pictures of a variable-rate stream.
    const AVRational avg = stream->avg_frame_rate;
    const double stated = avg.num > 0 && avg.den > 0 ? av_q2d(avg) : 0;
    const double measured = facts.lengthMs > 0 ? static_cast<double>(facts.frameCount) * 1000.0 /
                                                     static_cast<double>(facts.lengthMs)
                                               : 0;
    facts.fps = stated;
    if (measured > 0 && (stated <= 0 || std::fabs(stated - measured) > stated * 0.01))
        facts.fps = measured;
    if (facts.fps <= 0 && stream->r_frame_rate.num > 0 && stream->r_frame_rate.den > 0)
        facts.fps = av_q2d(stream->r_frame_rate);
}

// ---- decoding ----

void MediaFile::State::resetDecoding() {
    if (started)
        openDecoder();
    started = true;
    held = false;
    haveCurrent = haveAhead = false;
    currentPosition = aheadPosition = -1;
    draining = finished = false;
    lastOutput = -1;
    ignoreBefore = timed() ? timeline.positionPts.front() : AV_NOPTS_VALUE;
}

int64_t MediaFile::State::mapPosition(const AVFrame* frame) const {
    if (!timed())
        return lastOutput + 1; // the pictures counted from the start
    const int64_t pts = frame->best_effort_timestamp;
    const std::vector<int64_t>& positions = timeline.positionPts;
    int64_t position = lastOutput + 1;
    if (pts != AV_NOPTS_VALUE) {
        if (ignoreBefore != AV_NOPTS_VALUE && pts < ignoreBefore)
            return -1;
        auto at = std::lower_bound(positions.begin(), positions.end(), pts);
        if (at != positions.end() && *at == pts)
            position = std::max(position, static_cast<int64_t>(at - positions.begin()));
    }
    // Equal timestamps are positions in turn; a picture past the last position has none.
    return position < static_cast<int64_t>(positions.size()) ? position : -1;
}

bool MediaFile::State::sendNextPacket() {
    for (;;) {
        if (!held && !readPacket(format.get(), packet.get()))
            return false;
        held = false;
        if (packet->size <= 0)
            continue;
        const int ret = avcodec_send_packet(codec.get(), packet.get());
        if (ret == AVERROR(EAGAIN) && ++refusedSends < 2) {
            held = true; // the decoder has pictures to give first
            return true;
        }
        refusedSends = 0;
        if (ret == 0)
            return true;
        // A packet the decoder refuses, or keeps putting off while it has nothing to give, is
        // skipped.
    }
}

bool MediaFile::State::decodeNext(AVFrame* out, int64_t& position) {
    int errors = 0;
    while (!finished) {
        const int ret = avcodec_receive_frame(codec.get(), out);
        if (ret == 0) {
            errors = 0;
            const int64_t p = mapPosition(out);
            if (p < 0) {
                av_frame_unref(out);
                continue;
            }
            lastOutput = position = p;
            return true;
        }
        if (ret == AVERROR_EOF) {
            finished = true;
            break;
        }
        // EAGAIN, or a picture the decoder could not make: it goes on with the next packet.
        if (ret != AVERROR(EAGAIN) && ++errors >= MaxDecodeErrors) {
            finished = true;
            break;
        }
        if (draining) {
            if (ret == AVERROR(EAGAIN))
                finished = true;
            continue;
        }
        if (!sendNextPacket()) {
            draining = true;
            avcodec_send_packet(codec.get(), nullptr);
        }
    }
    return false;
}

void MediaFile::State::rewind() {
    // The file again from its start: seeking to the start is not exact in every container.
    format.reset();
    try {
        openInput(false);
    } catch (const FrameSourceError&) {
        finished = true;
        return;
    }
    keepOnlyStream(format.get(), streamIndex);
    stream = nullptr; // the facts were read; this demuxer's streams are not needed
    resetDecoding();
}

int64_t MediaFile::State::decodeIndexOf(const AVPacket* pkt) const {
    // By the presentation time, else by the decoding time (a packet that carries none of the
    // former, whose time the pass worked out).
    auto find = [](const std::vector<std::pair<int64_t, size_t>>& table, int64_t ts) -> int64_t {
        if (ts == AV_NOPTS_VALUE)
            return -1;
        auto at = std::lower_bound(table.begin(), table.end(), std::make_pair(ts, size_t(0)));
        return at != table.end() && at->first == ts ? static_cast<int64_t>(at->second) : -1;
    };
    const int64_t byPts = find(timeline.byPts, pkt->pts);
    return byPts >= 0 || pkt->pts != AV_NOPTS_VALUE ? byPts : find(timeline.byDts, pkt->dts);
}

MediaFile::State::Landing MediaFile::State::findPacket(size_t decodeIndex) {
    while (readPacket(format.get(), packet.get())) {
        const int64_t index = decodeIndexOf(packet.get());
        if (index < 0)
            continue; // a packet the pass did not count (before the first key frame, or damaged)
        if (index == static_cast<int64_t>(decodeIndex)) {
            held = true;
            return Landing::Found;
        }
        if (index > static_cast<int64_t>(decodeIndex))
            return Landing::Overshot;
    }
    return Landing::End;
}

bool MediaFile::State::restart(int64_t position, int keysBack) {
    if (!timed() || timeline.keys.empty()) {
        if (keysBack > 0)
            return false;
        rewind();
        return true;
    }
    // The last key frame whose picture shows at or before the one wanted, or one before that.
    const int64_t wanted = timeline.positionPts[size_t(position)];
    const std::vector<size_t>& keys = timeline.keys;
    auto after = std::upper_bound(keys.begin(), keys.end(), wanted,
                                  [&](int64_t pts, size_t k) { return pts < timeline.packets[k].pts; });
    const ptrdiff_t at = std::max<ptrdiff_t>(0, (after - keys.begin()) - 1) - keysBack;
    if (at < 0)
        return false;
    const size_t key = keys[size_t(at)];
    const PacketEntry& entry = timeline.packets[key];

    // Seek to it, or before it and read on to it; a seek that lands past it is done again from
    // further back, and at last from the start of the file.
    const int64_t second = std::max<int64_t>(1, av_rescale_q(1, AVRational{1, 1}, timeBase));
    int64_t base = entry.pts;
    if (entry.dts != AV_NOPTS_VALUE)
        base = std::min(base, entry.dts);
    bool found = false;
    for (int64_t back : {int64_t(0), second, 10 * second}) {
        resetDecoding();
        const int64_t target = base - back;
        if (av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0 &&
            avformat_seek_file(format.get(), streamIndex, INT64_MIN, target, target, 0) < 0)
            continue;
        const Landing landing = findPacket(key);
        if (landing == Landing::Found) {
            found = true;
            break;
        }
    }
    if (!found) {
        rewind();
        if (key != 0 && findPacket(key) != Landing::Found)
            rewind();
    }
    if (key != keys.front()) {
        ignoreBefore = entry.pts;
        lastOutput = (std::lower_bound(timeline.positionPts.begin(), timeline.positionPts.end(), entry.pts) -
                      timeline.positionPts.begin()) -
                     1;
    }
    return true;
}

bool MediaFile::State::keyBetween(int64_t after, int64_t upTo) const {
    if (!timed())
        return false;
    auto at = std::upper_bound(timeline.keyPositions.begin(), timeline.keyPositions.end(), after);
    return at != timeline.keyPositions.end() && *at <= upTo;
}

const uint8_t* MediaFile::getFrame(int64_t position) {
    State& s = *m_state;
    if (!s.codec || position < 0 || position >= s.facts.frameCount)
        return nullptr;
    s.ensureTimeline();
    if (position >= s.knownPositions())
        return nullptr;
    // Reading on is only possible forwards; a key frame between here and there is a shortcut.
    bool canReadOn;
    if (s.haveCurrent)
        canReadOn = s.currentPosition <= position &&
                    !s.keyBetween(s.haveAhead ? s.aheadPosition : s.currentPosition, position);
    else // still before the first picture
        canReadOn = s.haveAhead && !s.keyBetween(s.aheadPosition, position);
    if (!canReadOn)
        s.restart(position);
    for (int keysBack = 0;;) {
        for (;;) {
            if (!s.haveAhead) {
                if (!s.decodeNext(s.ahead.get(), s.aheadPosition))
                    break;
                s.haveAhead = true;
            }
            if (s.aheadPosition > position)
                break;
            std::swap(s.current, s.ahead);
            s.currentPosition = s.aheadPosition;
            s.haveCurrent = true;
            s.haveAhead = false;
        }
        // A decoder may hold back a picture when it starts at a key frame that is no clean
        // start (an open group of pictures at the end of a stream): such a picture is decoded
        // again from a key frame further back, as reading on from there gives it.
        if (canReadOn || (s.haveCurrent && s.currentPosition == position) || keysBack == MaxKeysBack ||
            !s.restart(position, ++keysBack))
            break;
    }
    // A position whose picture did not come out shows the one before it, and positions before
    // the first picture show that first picture.
    const AVFrame* picture = s.haveCurrent ? s.current.get() : s.haveAhead ? s.ahead.get() : nullptr;
    return picture ? s.packer.pack(picture, s.packing) : nullptr;
}

} // namespace kelvara
