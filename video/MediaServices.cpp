// The frame source for every container other than AVI: a pass over the packets for the positions
// and their timestamps, seeking by key frames, and decoding forward to the picture asked for.
#include "video/MediaServices.h"

#include "video/Decoder.h"
#include "video/DibPacker.h"
#include "video/FfmpegHandles.h"
#include "video/FrameSource.h"
#include "video/PacketPictures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>

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
// How far on from the packet expected next a packet read in order is looked for among those of
// the pass (the demuxer may leave out a damaged one).
constexpr size_t MatchWindow = 64;

// FFmpeg's own error codes are tags; the system's are negated error numbers.
bool isSystemError(int code) {
    return code < 0 && code > -4096;
}

[[noreturn]] void fail(const char* message, const std::string& path, const std::string& reason) {
    throw FrameSourceError(message, path, reason);
}

// One packet in the order the demuxer gives them.
struct PacketEntry {
    int64_t pts = AV_NOPTS_VALUE;    // its picture's time, worked out where the packet names none
    int64_t rawPts = AV_NOPTS_VALUE; // as the demuxer gives it: the packet is known again by it
    int64_t dts = AV_NOPTS_VALUE;
    int64_t pos = -1; // in the file, where the demuxer knows it
    int64_t duration = 0;
    bool key = false;
    bool shown = true;     // its picture is shown; a packet an edit list cuts is only decoded
    int pictures = 1;      // the pictures it makes: 0 for frames that are decoded but never shown
    int64_t position = -1; // of its first picture; -1 when it makes none
    size_t part = 0;       // of a file whose timestamps start again (recordings joined end to end)
};

// The packets of the stream, from its first key frame on, and the positions they make. Positions
// are the decoder's pictures in the order it gives them: within a part, the order of their
// timestamps; the parts one after the other.
struct Timeline {
    std::vector<PacketEntry> packets;   // in decoding order
    size_t firstKey = 0;                // the first key packet; those before it are kept with a timestamp
    bool startDecoded = false;          // what the packets up to the first key's pictures show was decoded
    std::vector<size_t> positionPacket; // the packet making each position's picture
    std::vector<int64_t> positionPts;   // the timestamp of each position, in its part's clock
    std::vector<size_t> partStart;      // the first packet of each part
    std::vector<int64_t> partPosition;  // the first position of each part, and the count at the end
    std::vector<std::pair<int64_t, size_t>> byPts; // (demuxer's timestamp, packet), sorted
    std::vector<std::pair<int64_t, size_t>> byDts; // (decoding time, packet), sorted
    std::vector<size_t> keys;                      // the key packets
    std::vector<int64_t> keyPositions;             // the positions of key packets' pictures, sorted
    bool timed = false;                            // every packet carries a timestamp
    int64_t length = 0;                            // from the first picture to the end of the last
    FrameTimes times;

    size_t parts() const { return partStart.size(); }
    size_t partOfPosition(int64_t position) const {
        return size_t(std::upper_bound(partPosition.begin(), partPosition.end() - 1, position) -
                      partPosition.begin()) -
               1;
    }
};

// MPEG program streams carry one timestamp per PES packet, and a PES packet may hold several
// pictures: the demuxer gives every packet its decoding time, but the presentation time only to
// some. In such a constant-rate stream the presentation times are the decoding times moved on by
// the first packet's reorder delay; those no packet names belong, in decoding order, to the
// packets without one (reference pictures, which show in the order they are decoded). That is the
// time the decoder stamps on their pictures. Where the times do not work out so, nothing changes.
void fillMissingPts(PacketEntry* first, PacketEntry* last) {
    if (first == last || first->pts == AV_NOPTS_VALUE)
        return;
    size_t missing = 0;
    for (const PacketEntry* p = first; p != last; ++p) {
        if (p->dts == AV_NOPTS_VALUE)
            return;
        missing += p->pts == AV_NOPTS_VALUE;
    }
    if (missing == 0)
        return;
    const int64_t delay = first->pts - first->dts;
    std::vector<int64_t> shown, named;
    for (const PacketEntry* p = first; p != last; ++p) {
        shown.push_back(p->dts + delay);
        if (p->pts != AV_NOPTS_VALUE)
            named.push_back(p->pts);
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
    for (PacketEntry* p = first; p != last; ++p)
        if (p->pts == AV_NOPTS_VALUE)
            p->pts = unnamed[next++];
}

// Where the timestamps start again: a key packet whose decoding time goes back, or (without
// decoding times) whose picture shows no later than one before it. In one recording a key frame
// shows after every picture decoded before it.
std::vector<size_t> findParts(const std::vector<PacketEntry>& packets) {
    std::vector<size_t> starts = {0};
    int64_t lastDts = AV_NOPTS_VALUE, maxPts = AV_NOPTS_VALUE;
    for (size_t i = 0; i < packets.size(); ++i) {
        const PacketEntry& p = packets[i];
        if (i > 0 && p.key) {
            const bool dtsBack = p.dts != AV_NOPTS_VALUE && lastDts != AV_NOPTS_VALUE && p.dts < lastDts;
            const bool ptsBack = p.dts == AV_NOPTS_VALUE && p.rawPts != AV_NOPTS_VALUE &&
                                 maxPts != AV_NOPTS_VALUE && p.rawPts <= maxPts;
            if (dtsBack || ptsBack) {
                starts.push_back(i);
                lastDts = maxPts = AV_NOPTS_VALUE;
            }
        }
        if (p.dts != AV_NOPTS_VALUE)
            lastDts = p.dts;
        if (p.rawPts != AV_NOPTS_VALUE && (maxPts == AV_NOPTS_VALUE || p.rawPts > maxPts))
            maxPts = p.rawPts;
    }
    return starts;
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

struct MediaFile::State : ffmpeg::PacketSource {
    std::string path;
    const AVInputFormat* inputFormat = nullptr;
    FormatPtr format;
    AVStream* stream = nullptr; // of the demuxer opened first; the facts are read from it
    // What the timestamps need of the stream, kept apart from the demuxer, which is opened again
    // when reading starts over (the decoder keeps its own copy of the stream's parameters).
    AVRational timeBase{1, 1};
    AVRational averageRate{0, 1};
    int streamIndex = -1;
    int streamId = 0;
    ffmpeg::Decoder decoder;
    bool started = false; // the decoder has been given packets
    // A packet read while looking for where to start, to be decoded first.
    PacketPtr held{av_packet_alloc()};
    bool haveHeld = false;
    int64_t heldTag = -1;
    ffmpeg::PictureWindow window;
    int64_t lastOutput = -1;
    // Pictures before this position (or, of packets not known again, this timestamp) are the
    // leading pictures of the key frame decoding started at (an open group of pictures): they
    // belong to the group before and are not used.
    int64_t ignoreBefore = 0;
    int64_t ignoreBeforePts = AV_NOPTS_VALUE;
    // The packets read since decoding started: the last one known again among the pass's, and
    // the furthest one the decoder took.
    int64_t lastMatched = -1;
    int64_t furthestSent = -1;
    // Where reading ended: the last packet read, and whether the end was no clean one (a packet
    // the demuxer could read only in part, or a file that is shorter than it was).
    int64_t endedAfter = -1;
    bool endedBadly = false;
    bool lastWasPartial = false;
    // The first packet the file no longer gives (it was cut short while being read), and whether
    // it can no longer be opened at all.
    int64_t readableEnd = INT64_MAX;
    bool broken = false;
    int64_t openedSize = -1; // of the file when it was opened, where the system tells

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
    void placePictures();
    void keepStartPicturesTheDecoderShows();
    void ensureTimeline();
    void workOutFacts();

    bool timed() const { return timelineBuilt && timeline.timed; }
    int64_t knownPositions() const {
        return timed() ? static_cast<int64_t>(timeline.positionPts.size()) : facts.frameCount;
    }
    int nextPacket(AVPacket* pkt, int64_t& tag) override;
    void accepted(const AVPacket*, int64_t tag) override { furthestSent = std::max(furthestSent, tag); }
    bool decodeNext(AVFrame* out, int64_t& position);
    int64_t mapPosition(const AVFrame* frame) const;
    int64_t match(const AVPacket* pkt, int64_t near, bool inOrder) const;
    void resetDecoding();
    bool rewind();
    // Starts decoding again at the key frame for a position, or keysBack key frames before it;
    // false when there is none so far back, or the file cannot be read there.
    bool restart(int64_t position, int keysBack = 0);
    enum class Landing { Found, Overshot, End };
    Landing findPacket(size_t decodeIndex, bool inOrder);
    bool keyBetween(int64_t after, int64_t upTo) const;
    // Whether the file is shorter now than when it was opened.
    bool shrank() const;
    // Whether the position's picture is known to be gone: the file can no longer be read, or
    // was cut short before its packet.
    bool unreadable(int64_t position) const;
    // Whether decoding stopped before the position's packet: the file ended there, or the
    // decoder gave up before it.
    bool stoppedBefore(int64_t position) const;
    // The first position at or after the packet in decoding order.
    int64_t firstPositionFrom(size_t packet) const;
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
        fail(FrameSourceMessages::Video::OpenFile, path,
             isSystemError(ret) ? fileOpenReason(-ret)
                                : "not a video FFmpeg can read: " + ffmpeg::errorText(ret));
    format.reset(raw);
    // Containers whose streams show only in their packets are probed every time: without it,
    // their packets miss the timestamps the parser works out.
    if (withStreamInfo || (format->ctx_flags & AVFMTCTX_NOHEADER)) {
        ret = avformat_find_stream_info(format.get(), nullptr);
        if (ret < 0)
            fail(FrameSourceMessages::Video::StreamInfo, path, ffmpeg::errorText(ret));
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
    if (!held || !window.allocated())
        fail(FrameSourceMessages::Video::OpenFile, path, ffmpeg::errorText(AVERROR(ENOMEM)));
    openInput(true);
    inputFormat = format->iformat;
    openedSize = format->pb ? avio_size(format->pb) : -1;
    for (unsigned i = 0; i < format->nb_streams && streamIndex < 0; ++i) {
        const AVStream* s = format->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            streamIndex = static_cast<int>(i);
    }
    if (streamIndex < 0)
        fail(FrameSourceMessages::Video::OpenStream, path, "the file has no video stream");
    stream = format->streams[streamIndex];
    streamId = stream->id;
    keepOnlyStream(format.get(), streamIndex);
    if (stream->time_base.num <= 0 || stream->time_base.den <= 0)
        fail(FrameSourceMessages::Video::StreamInfo, path, "the video stream has no time base");
    timeBase = stream->time_base;
    averageRate = stream->avg_frame_rate;
    packing.rotation = rotationOf(stream);
    packing.alpha = true;

    openDecoder();

    // The sample table counts samples, each of them one picture shown: the MP4 bindings of AV1 and
    // VP9 hold a sample to one shown frame, hidden frames travelling with it. VP8 has no such
    // binding, and its packets are read.
    if (std::strcmp(inputFormat->name, MovDemuxer) == 0 && stream->codecpar->codec_id != AV_CODEC_ID_VP8)
        countFromSampleTable();
    if (facts.frameCount <= 0) {
        buildTimeline();
        int64_t pictures = 0;
        for (const PacketEntry& p : timeline.packets)
            pictures += p.shown ? p.pictures : 0;
        facts.frameCount = timed() ? static_cast<int64_t>(timeline.positionPts.size()) : pictures;
    }
    if (facts.frameCount <= 0)
        fail(FrameSourceMessages::Video::StartStream, path, "the video stream holds no pictures");

    // The first picture, decoded from the start of the file: its size is the video's.
    resetDecoding();
    if (decodeNext(window.ahead.get(), window.aheadPosition))
        window.haveAhead = true;
    workOutFacts();
}

// A fresh decoder for each start: a flushed one keeps state (the reorder depth it has learnt, what
// it knows of recovery points) that changes which pictures come out after a seek.
void MediaFile::State::openDecoder() {
    ffmpeg::DecoderOptions options;
    options.packetTimeBase = timeBase;
    // As for AVI files: no picture past the limit, whatever the stream claims.
    options.maxPixels = MaxVideoPictureArea;
    options.maxErrorsInRow = MaxDecodeErrors;
    // Compressed video decodes on every core (frame and slice threads), so that the jobs, which
    // reduce the pictures on every core too, are not held up by one decoding thread. The pictures
    // are the same on any number of threads.
    options.threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    // FFmpeg's own VP9 decoder drops the alpha channel a WebM file carries beside the picture;
    // libvpx's decodes it.
    // (A reopened decoder keeps what it was opened with; the stream may be gone by then.)
    if (!started && stream->codecpar->codec_id == AV_CODEC_ID_VP9) {
        const AVDictionaryEntry* alphaMode = av_dict_get(stream->metadata, "alpha_mode", nullptr, 0);
        if (alphaMode && std::strcmp(alphaMode->value, "1") == 0)
            options.decoderName = "libvpx-vp9";
    }
    const int ret = started ? decoder.reopen() : decoder.open(stream->codecpar, options);
    if (ret < 0)
        fail(FrameSourceMessages::Video::StartDecompression, path, decoder.failure(ret));
}

void MediaFile::State::countFromSampleTable() {
    // Exact when the table lists every sample (a fragmented file lists them as it is read).
    const int entries = avformat_index_get_entries_count(stream);
    if (entries <= 0 || stream->nb_frames != entries)
        return;
    // A file that starts with no key frame (a recording cut anywhere) is counted by its packets,
    // whose pictures before the first key frame are decoded to see.
    if (!(avformat_index_get_entry(stream, 0)->flags & AVINDEX_KEYFRAME))
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
    if (streamIndex >= static_cast<int>(scan->nb_streams))
        return;
    keepOnlyStream(scan.get(), streamIndex);
    PacketPtr pkt(av_packet_alloc());
    if (!pkt)
        return;
    PacketPictures pictures(scan->streams[streamIndex]->codecpar);
    // With no key frame marked at all, every packet counts.
    std::vector<PacketEntry> all;
    size_t firstKey = SIZE_MAX;
    while (readPacket(scan.get(), pkt.get())) {
        if (pkt->size <= 0)
            continue;
        PacketEntry e;
        e.pts = e.rawPts = pkt->pts;
        e.dts = pkt->dts;
        e.pos = pkt->pos;
        e.duration = pkt->duration;
        e.key = pkt->flags & AV_PKT_FLAG_KEY;
        e.shown = !(pkt->flags & AV_PKT_FLAG_DISCARD);
        if (pictures.applies())
            e.pictures = pictures.count(pkt->data, size_t(pkt->size));
        if (e.key && firstKey == SIZE_MAX)
            firstKey = all.size();
        all.push_back(e);
    }
    // Packets before the first key frame (a recording cut anywhere) make pictures where the decoder
    // has what they need; those without a timestamp cannot be placed among the others.
    if (firstKey == SIZE_MAX)
        firstKey = 0;
    for (size_t i = 0; i < firstKey; ++i)
        if (all[i].pts != AV_NOPTS_VALUE)
            t.packets.push_back(all[i]);
    t.firstKey = t.packets.size();
    t.packets.insert(t.packets.end(), all.begin() + static_cast<ptrdiff_t>(firstKey), all.end());
    t.partStart = findParts(t.packets);
    for (size_t part = 0; part < t.parts(); ++part) {
        const size_t end = part + 1 < t.parts() ? t.partStart[part + 1] : t.packets.size();
        fillMissingPts(t.packets.data() + t.partStart[part], t.packets.data() + end);
        for (size_t i = t.partStart[part]; i < end; ++i)
            t.packets[i].part = part;
    }
    t.timed = !t.packets.empty() && std::all_of(t.packets.begin(), t.packets.end(),
                                                [](const PacketEntry& p) { return p.pts != AV_NOPTS_VALUE; });
    if (!t.timed)
        return;
    for (size_t i = 0; i < t.packets.size(); ++i) {
        const PacketEntry& p = t.packets[i];
        if (p.rawPts != AV_NOPTS_VALUE)
            t.byPts.emplace_back(p.rawPts, i);
        else if (p.dts != AV_NOPTS_VALUE)
            t.byDts.emplace_back(p.dts, i);
        if (p.key)
            t.keys.push_back(i);
    }
    std::sort(t.byPts.begin(), t.byPts.end());
    std::sort(t.byDts.begin(), t.byDts.end());
    keepStartPicturesTheDecoderShows();
    placePictures();
}

// The positions: each part's pictures in the order of their timestamps, the parts in turn. Times
// run on from part to part: a part starts where the one before it ends.
void MediaFile::State::placePictures() {
    Timeline& t = timeline;
    const AVRational us{1, 1000000};
    int64_t partOffset = 0; // added to a part's timestamps to put them on the first part's clock
    int64_t firstPts = 0;
    for (size_t part = 0; part < t.parts(); ++part) {
        const size_t begin = t.partStart[part];
        const size_t end = part + 1 < t.parts() ? t.partStart[part + 1] : t.packets.size();
        struct Picture {
            int64_t pts;
            size_t packet;
        };
        std::vector<Picture> pictures;
        int64_t lastDuration = 0, maxPts = INT64_MIN;
        for (size_t i = begin; i < end; ++i) {
            const PacketEntry& p = t.packets[i];
            if (!p.shown)
                continue;
            for (int k = 0; k < p.pictures; ++k)
                pictures.push_back({p.pts, i});
            if (p.pictures > 0 && p.pts >= maxPts) {
                maxPts = p.pts;
                lastDuration = p.duration;
            }
        }
        t.partPosition.push_back(static_cast<int64_t>(t.positionPts.size()));
        if (pictures.empty())
            continue;
        std::stable_sort(pictures.begin(), pictures.end(),
                         [](const Picture& a, const Picture& b) { return a.pts < b.pts; });
        if (t.positionPts.empty())
            firstPts = pictures.front().pts;
        else
            partOffset = t.length + firstPts - pictures.front().pts;
        for (const Picture& picture : pictures) {
            PacketEntry& p = t.packets[picture.packet];
            if (p.position < 0)
                p.position = static_cast<int64_t>(t.positionPts.size());
            t.positionPacket.push_back(picture.packet);
            t.positionPts.push_back(picture.pts);
            t.times.startUs.push_back(av_rescale_q(picture.pts + partOffset, timeBase, us));
        }
        // The last picture lasts as long as its packet says, else as long as the pictures do on
        // average, else one frame at the stream's rate.
        const size_t n = pictures.size();
        int64_t last = lastDuration;
        if (last <= 0 && n > 1)
            last = (pictures.back().pts - pictures.front().pts) / static_cast<int64_t>(n - 1);
        if (last <= 0 && averageRate.num > 0 && averageRate.den > 0)
            last = av_rescale_q(1, av_inv_q(averageRate), timeBase);
        t.length = pictures.back().pts + partOffset + std::max<int64_t>(last, 0) - firstPts;
        t.times.endTold = lastDuration > 0;
    }
    t.partPosition.push_back(static_cast<int64_t>(t.positionPts.size()));
    if (t.positionPts.empty()) {
        t.timed = false;
        return;
    }
    t.times.endUs = av_rescale_q(firstPts + t.length, timeBase, us);
    for (size_t k : t.keys)
        if (t.packets[k].position >= 0)
            t.keyPositions.push_back(t.packets[k].position);
    std::sort(t.keyPositions.begin(), t.keyPositions.end());
}

// Before the first key frame, and after it where pictures show before it (an open group of
// pictures), a recording cut anywhere holds packets whose pictures a decoder starting at the
// file's start may or may not show: that depends on the codec and on what the stream gives it
// (MPEG-2 and H.264 drop pictures that refer to what the cut took away; HEVC decodes the packets
// before the key frame when it has their parameter sets, but drops the key frame's RASL
// pictures). They are decoded to see, as reading from the start decodes them; those that make no
// picture are no positions.
void MediaFile::State::keepStartPicturesTheDecoderShows() {
    Timeline& t = timeline;
    if (t.firstKey >= t.packets.size())
        return;
    const PacketEntry& key = t.packets[t.firstKey];
    const size_t nextKey = t.keys.size() > 1 ? t.keys[1] : t.packets.size();
    std::vector<size_t> unsure;
    for (size_t i = 0; i < t.firstKey; ++i)
        if (t.packets[i].pictures > 0)
            unsure.push_back(i);
    for (size_t i = t.firstKey + 1; i < nextKey && t.packets[i].part == key.part; ++i)
        if (t.packets[i].pts < key.pts && t.packets[i].pictures > 0)
            unsure.push_back(i);
    if (unsure.empty())
        return;
    t.startDecoded = true;
    // Decoded through a demuxer and a decoder of their own; the first picture of a packet after
    // those ends it, as pictures come out in the order they show.
    State probe;
    probe.path = path;
    probe.inputFormat = inputFormat;
    probe.streamIndex = streamIndex;
    probe.streamId = streamId;
    probe.timeBase = timeBase;
    probe.averageRate = averageRate;
    probe.timelineBuilt = true;
    probe.timeline.packets = t.packets;
    probe.timeline.byPts = t.byPts;
    probe.timeline.byDts = t.byDts;
    probe.timeline.timed = true;
    std::vector<bool> made(t.packets.size(), false);
    try {
        probe.openInput(false);
        keepOnlyStream(probe.format.get(), streamIndex);
        probe.stream = probe.format->streams[streamIndex];
        probe.openDecoder();
    } catch (const FrameSourceError&) {
        return;
    }
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return;
    const size_t last = unsure.back();
    while (probe.decoder.receive(frame.get(), probe) == ffmpeg::Decoder::Status::Output) {
        const int64_t tag = ffmpeg::Decoder::tagOf(frame.get());
        av_frame_unref(frame.get());
        if (tag >= 0 && tag < static_cast<int64_t>(made.size()))
            made[size_t(tag)] = true;
        if ((tag > static_cast<int64_t>(last) && tag != static_cast<int64_t>(t.firstKey)) ||
            probe.furthestSent > static_cast<int64_t>(last + MatchWindow))
            break;
    }
    for (size_t i : unsure)
        if (!made[i])
            t.packets[i].pictures = 0;
}

void MediaFile::State::ensureTimeline() {
    if (timelineBuilt)
        return;
    buildTimeline();
    if (!timed() || !window.haveAhead || window.haveCurrent)
        return;
    // The first picture was decoded before the positions were known: place it among them.
    lastOutput = -1;
    ignoreBefore = 0;
    ignoreBeforePts = timeline.positionPts.front();
    const int64_t position = mapPosition(window.ahead.get());
    if (position < 0) {
        window.haveAhead = false;
    } else {
        window.aheadPosition = lastOutput = position;
    }
}

void MediaFile::State::workOutFacts() {
    const AVCodecParameters* par = stream->codecpar;
    facts.codec = avcodec_get_name(par->codec_id);
    facts.container = inputFormat->name;
    if (window.haveAhead) {
        facts.width = window.ahead->width;
        facts.height = window.ahead->height;
    } else {
        // No picture to take the size from: the stream's claim, if a picture could have it.
        facts.width = par->width;
        facts.height = par->height;
        if (facts.width <= 0 || facts.height <= 0 || int64_t(facts.width) * facts.height > Bitmap::MaxPixels)
            fail(FrameSourceMessages::Video::Format, path,
                 "the video stream gives no picture and names no size");
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
        facts.lengthMs = av_rescale_q(timeline.length, stream->time_base, ms);
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
    av_packet_unref(held.get());
    haveHeld = false;
    window.clear();
    lastOutput = -1;
    lastMatched = furthestSent = endedAfter = -1;
    endedBadly = lastWasPartial = false;
    ignoreBefore = 0;
    ignoreBeforePts = timed() ? timeline.positionPts.front() : AV_NOPTS_VALUE;
}

int64_t MediaFile::State::match(const AVPacket* pkt, int64_t near, bool inOrder) const {
    if (!timed())
        return -1;
    const Timeline& t = timeline;
    const bool byPts = pkt->pts != AV_NOPTS_VALUE;
    const std::vector<std::pair<int64_t, size_t>>& table = byPts ? t.byPts : t.byDts;
    const int64_t ts = byPts ? pkt->pts : pkt->dts;
    if (ts == AV_NOPTS_VALUE)
        return -1;
    auto at = std::lower_bound(table.begin(), table.end(), std::make_pair(ts, size_t(0)));
    // Of the packets with that timestamp (recordings joined end to end repeat them), the one
    // expected next when reading on, else the nearest to where reading should be.
    int64_t best = -1;
    for (; at != table.end() && at->first == ts; ++at) {
        const PacketEntry& p = t.packets[at->second];
        if (byPts && pkt->dts != AV_NOPTS_VALUE && p.dts != AV_NOPTS_VALUE && pkt->dts != p.dts)
            continue;
        const int64_t index = static_cast<int64_t>(at->second);
        if (inOrder && (index < near || index > near + static_cast<int64_t>(MatchWindow)))
            continue;
        if (best < 0 || std::llabs(index - near) < std::llabs(best - near))
            best = index;
    }
    return best;
}

int MediaFile::State::nextPacket(AVPacket* pkt, int64_t& tag) {
    if (haveHeld) {
        av_packet_move_ref(pkt, held.get());
        haveHeld = false;
        tag = heldTag;
        return 0;
    }
    if (!format || !readPacket(format.get(), pkt)) {
        // The file ended before the pass's last packet: it was cut short while being read, and
        // the packet read last, where the cut went through, is as good as unread.
        const bool cut = shrank();
        if (timed() && lastMatched + 1 < static_cast<int64_t>(timeline.packets.size()) && cut)
            readableEnd = std::min(readableEnd, std::max<int64_t>(lastMatched, 0));
        endedAfter = lastMatched;
        endedBadly = cut || lastWasPartial;
        return AVERROR_EOF;
    }
    tag = match(pkt, lastMatched + 1, true);
    if (tag >= 0) {
        lastMatched = tag;
        lastWasPartial = pkt->flags & AV_PKT_FLAG_CORRUPT;
    }
    return 0;
}

int64_t MediaFile::State::mapPosition(const AVFrame* frame) const {
    if (!timed())
        return lastOutput + 1; // the pictures counted from the start
    const Timeline& t = timeline;
    const int64_t count = static_cast<int64_t>(t.positionPts.size());
    int64_t position = -1;
    // By the packet the picture came from.
    const int64_t tag = ffmpeg::Decoder::tagOf(frame);
    if (tag >= 0 && tag < static_cast<int64_t>(t.packets.size())) {
        const PacketEntry& p = t.packets[size_t(tag)];
        if (p.position >= 0 &&
            (frame->pts == AV_NOPTS_VALUE || p.rawPts == AV_NOPTS_VALUE || frame->pts == p.rawPts)) {
            position = p.position;
            if (position < ignoreBefore)
                return -1;
            // A packet of several pictures gives them in turn.
            if (lastOutput >= position && lastOutput < position + p.pictures - 1)
                position = lastOutput + 1;
        }
    }
    // Else by its timestamp, among the positions of the part being read.
    if (position < 0) {
        const int64_t pts = frame->best_effort_timestamp;
        position = lastOutput + 1;
        if (pts != AV_NOPTS_VALUE) {
            if (ignoreBeforePts != AV_NOPTS_VALUE && pts < ignoreBeforePts && t.parts() == 1)
                return -1;
            const size_t part = t.partOfPosition(std::clamp<int64_t>(lastOutput + 1, 0, count - 1));
            auto begin = t.positionPts.begin() + t.partPosition[part];
            auto end = t.positionPts.begin() + t.partPosition[part + 1];
            auto at = std::lower_bound(begin, end, pts);
            if (at != end && *at == pts)
                position = std::max(position, static_cast<int64_t>(at - t.positionPts.begin()));
        }
    }
    // Equal timestamps are positions in turn; a picture past the last position has none.
    position = std::max(position, lastOutput + 1);
    return position < count ? position : -1;
}

bool MediaFile::State::decodeNext(AVFrame* out, int64_t& position) {
    // A decoder that gives up on the stream ends it, as its end would.
    while (decoder.receive(out, *this) == ffmpeg::Decoder::Status::Output) {
        const int64_t p = mapPosition(out);
        if (p < 0) {
            av_frame_unref(out);
            continue;
        }
        lastOutput = position = p;
        return true;
    }
    return false;
}

bool MediaFile::State::rewind() {
    // The file again from its start: seeking to the start is not exact in every container.
    format.reset();
    try {
        openInput(false);
    } catch (const FrameSourceError&) {
        broken = true; // it is gone, or no longer a video
        return false;
    }
    if (streamIndex >= static_cast<int>(format->nb_streams)) {
        broken = true;
        format.reset();
        return false;
    }
    keepOnlyStream(format.get(), streamIndex);
    stream = nullptr; // the facts were read; this demuxer's streams are not needed
    resetDecoding();
    return true;
}

MediaFile::State::Landing MediaFile::State::findPacket(size_t decodeIndex, bool inOrder) {
    while (readPacket(format.get(), held.get())) {
        const int64_t index =
            match(held.get(), inOrder ? lastMatched + 1 : static_cast<int64_t>(decodeIndex), inOrder);
        if (index < 0)
            continue; // a packet the pass did not count (before the first key frame, or damaged)
        lastMatched = index;
        if (index == static_cast<int64_t>(decodeIndex)) {
            haveHeld = true;
            heldTag = index;
            return Landing::Found;
        }
        if (index > static_cast<int64_t>(decodeIndex))
            return Landing::Overshot;
    }
    av_packet_unref(held.get());
    return Landing::End;
}

bool MediaFile::State::restart(int64_t position, int keysBack) {
    if (broken)
        return false;
    if (!timed() || timeline.keys.empty()) {
        if (keysBack > 0)
            return false;
        return rewind();
    }
    // The last key frame of the part whose picture shows at or before the one wanted, or one
    // before that.
    const Timeline& t = timeline;
    const size_t part = t.packets[t.positionPacket[size_t(position)]].part;
    const size_t partEnd = part + 1 < t.parts() ? t.partStart[part + 1] : t.packets.size();
    const std::vector<size_t>& keys = t.keys;
    const auto first = std::lower_bound(keys.begin(), keys.end(), t.partStart[part]);
    const auto last = std::lower_bound(first, keys.end(), partEnd);
    const int64_t wanted = t.positionPts[size_t(position)];
    const auto after =
        std::upper_bound(first, last, wanted, [&](int64_t pts, size_t k) { return pts < t.packets[k].pts; });
    const ptrdiff_t at = std::max(first - keys.begin(), (after - keys.begin()) - 1) - keysBack;
    if (at < 0)
        return false;
    const size_t key = keys[size_t(at)];
    const PacketEntry& entry = t.packets[key];
    if (static_cast<int64_t>(key) >= readableEnd)
        return false;
    // The pictures around the first key frame are those that reading from the start gives.
    if (key == keys.front() && t.startDecoded)
        return rewind();

    bool found = false;
    bool gone = true; // every look for the key packet ran into the end of the file
    if (t.parts() == 1) {
        // Seek to it, or before it and read on to it; a seek that lands past it is done again
        // from further back, and at last from the start of the file.
        const int64_t second = std::max<int64_t>(1, av_rescale_q(1, AVRational{1, 1}, timeBase));
        int64_t base = entry.pts;
        if (entry.dts != AV_NOPTS_VALUE)
            base = std::min(base, entry.dts);
        for (int64_t back : {int64_t(0), second, 10 * second}) {
            resetDecoding();
            if (!ffmpeg::seekToKeyFrame(format.get(), streamIndex, base - back))
                continue;
            const Landing landing = findPacket(key, false);
            gone = gone && landing == Landing::End;
            if (landing == Landing::Found) {
                found = true;
                break;
            }
        }
    } else if (entry.pos >= 0 && !(inputFormat->flags & AVFMT_NO_BYTE_SEEK)) {
        // Timestamps that start again say nothing of where a packet lies: the key packet is
        // sought by its place in the file.
        resetDecoding();
        if (av_seek_frame(format.get(), streamIndex, entry.pos, AVSEEK_FLAG_BYTE) >= 0) {
            const Landing landing = findPacket(key, false);
            gone = landing == Landing::End;
            found = landing == Landing::Found;
        }
    }
    if (!found) {
        // Nothing at or after the key packet could be read, and the file has been cut short
        // before it: its pictures are gone.
        if (gone && shrank() && (entry.pos < 0 || entry.pos >= avio_size(format->pb))) {
            readableEnd = std::min<int64_t>(readableEnd, static_cast<int64_t>(key));
            return false;
        }
        if (!rewind())
            return false;
        if (key != 0) {
            const Landing landing = findPacket(key, true);
            if (landing == Landing::End && shrank()) {
                readableEnd = std::min<int64_t>(readableEnd, static_cast<int64_t>(key));
                return false;
            }
            if (landing != Landing::Found && !rewind())
                return false;
        }
    }
    if (key != keys.front()) {
        ignoreBeforePts = entry.pts;
        ignoreBefore = firstPositionFrom(key);
        lastOutput = ignoreBefore - 1;
    }
    return true;
}

int64_t MediaFile::State::firstPositionFrom(size_t packet) const {
    const Timeline& t = timeline;
    for (size_t i = packet; i < t.packets.size(); ++i)
        if (t.packets[i].position >= 0)
            return t.packets[i].position;
    return static_cast<int64_t>(t.positionPts.size());
}

bool MediaFile::State::keyBetween(int64_t after, int64_t upTo) const {
    if (!timed())
        return false;
    auto at = std::upper_bound(timeline.keyPositions.begin(), timeline.keyPositions.end(), after);
    return at != timeline.keyPositions.end() && *at <= upTo;
}

bool MediaFile::State::shrank() const {
    if (openedSize < 0 || !format || !format->pb)
        return false;
    const int64_t size = avio_size(format->pb);
    return size >= 0 && size < openedSize;
}

bool MediaFile::State::unreadable(int64_t position) const {
    if (broken)
        return true;
    return timed() && static_cast<int64_t>(timeline.positionPacket[size_t(position)]) >= readableEnd;
}

bool MediaFile::State::stoppedBefore(int64_t position) const {
    if (unreadable(position))
        return true;
    if (!timed())
        return decoder.finished() && (!window.haveCurrent || window.currentPosition < position);
    const int64_t packet = static_cast<int64_t>(timeline.positionPacket[size_t(position)]);
    // The picture of a packet read only in part as the file ended is as good as unread.
    return (decoder.finished() && packet > furthestSent) || (endedBadly && packet == endedAfter);
}

const uint8_t* MediaFile::getFrame(int64_t position) {
    State& s = *m_state;
    ffmpeg::PictureWindow& w = s.window;
    if (!s.decoder.isOpen() || position < 0 || position >= s.facts.frameCount)
        return nullptr;
    s.ensureTimeline();
    if (position >= s.knownPositions())
        return nullptr;
    if (s.unreadable(position) && !(w.haveCurrent && w.currentPosition == position))
        return nullptr;
    // Reading on is only possible forwards; a key frame between here and there is a shortcut.
    bool canReadOn;
    if (w.haveCurrent)
        canReadOn = w.currentPosition <= position &&
                    !s.keyBetween(w.haveAhead ? w.aheadPosition : w.currentPosition, position);
    else // still before the first picture
        canReadOn = w.haveAhead && !s.keyBetween(w.aheadPosition, position);
    if (!canReadOn && !s.restart(position))
        return nullptr;
    for (int keysBack = 0;;) {
        w.readUpTo(position, [&](AVFrame* out, int64_t& at) { return s.decodeNext(out, at); });
        // A decoder may hold back a picture when it starts at a key frame that is no clean
        // start (an open group of pictures at the end of a stream): such a picture is decoded
        // again from a key frame further back, as reading on from there gives it.
        if (canReadOn || (w.haveCurrent && w.currentPosition == position) || keysBack == MaxKeysBack ||
            !s.restart(position, ++keysBack))
            break;
    }
    // A picture that never came out because decoding stopped before it, or that the file no
    // longer holds whole (it was cut short while being read), is none: the run ends there rather
    // than show another picture again.
    if (s.unreadable(position) ||
        (!(w.haveCurrent && w.currentPosition == position) && s.stoppedBefore(position)))
        return nullptr;
    // A position whose picture did not come out shows the one before it, and positions before
    // the first picture show that first picture.
    const AVFrame* picture = w.haveCurrent ? w.current.get() : w.haveAhead ? w.ahead.get() : nullptr;
    return picture ? s.packer.pack(picture, s.packing) : nullptr;
}

const std::vector<uint8_t>* MediaFile::alphaPlane() const {
    return m_state->packer.alphaPlane();
}

} // namespace kelvara
