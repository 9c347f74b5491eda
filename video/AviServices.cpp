// AVI file services on FFmpeg: header records read from the file's own RIFF lists, frames decoded
// by libavcodec and handed out as packed DIBs.
#include "video/AviServices.h"

#include "video/Decoder.h"
#include "video/DibPacker.h"
#include "video/FfmpegHandles.h"
#include "video/FrameSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <queue>

namespace kelvara {

namespace {

uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The header lists of the first video stream, read from the file's 'hdrl' list.
struct StreamHeaders {
    bool found = false;
    int streamNumber = -1; // position of its 'strl' among all stream lists
    bool hasInfo = false;
    AviStreamInfo info;
    bool hasFormat = false;
    std::vector<uint8_t> format;
    std::vector<uint8_t> superIndex; // the OpenDML super index ('indx'), when there is one
};

constexpr uint32_t tagRIFF = fourCC('R', 'I', 'F', 'F');
constexpr uint32_t tagAVI = fourCC('A', 'V', 'I', ' ');
constexpr uint32_t tagLIST = fourCC('L', 'I', 'S', 'T');
constexpr uint32_t tagHdrl = fourCC('h', 'd', 'r', 'l');
constexpr uint32_t tagStrl = fourCC('s', 't', 'r', 'l');
constexpr uint32_t tagStrh = fourCC('s', 't', 'r', 'h');
constexpr uint32_t tagStrf = fourCC('s', 't', 'r', 'f');
constexpr uint32_t tagIndx = fourCC('i', 'n', 'd', 'x');
constexpr uint32_t tagIdx1 = fourCC('i', 'd', 'x', '1');
// Header lists larger than this are not read: real ones are a few KiB.
constexpr uint32_t maxHeaderListSize = 16u << 20;

// Walks the chunks of a list body; every size is checked against what is left.
template <typename Visit> void forEachChunk(const uint8_t* data, size_t size, Visit visit) {
    size_t pos = 0;
    while (pos + 8 <= size) {
        uint32_t id = get32(data + pos);
        uint32_t length = get32(data + pos + 4);
        size_t body = pos + 8;
        size_t available = size - body;
        size_t used = std::min<size_t>(length, available);
        if (!visit(id, data + body, used))
            return;
        pos = body + used + (used & 1);
    }
}

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The file, read from its first chunk inside the RIFF header of form 'AVI '; null when it cannot be
// read or is no AVI file.
FilePtr openAviChunks(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"), &std::fclose);
    uint8_t head[12];
    if (!file || std::fread(head, 1, 12, file.get()) != 12 || get32(head) != tagRIFF ||
        get32(head + 8) != tagAVI)
        return FilePtr(nullptr, &std::fclose);
    return file;
}

StreamHeaders readStreamHeaders(const std::string& path) {
    StreamHeaders result;
    const FilePtr opened = openAviChunks(path);
    std::FILE* file = opened.get();
    if (!file)
        return result;
    // Find the 'hdrl' list among the top-level chunks.
    std::vector<uint8_t> hdrl;
    for (int guard = 0; guard < 64; ++guard) {
        uint8_t chunk[12];
        if (std::fread(chunk, 1, 8, file) != 8)
            return result;
        uint32_t id = get32(chunk), length = get32(chunk + 4);
        if (id == tagLIST) {
            if (std::fread(chunk + 8, 1, 4, file) != 4)
                return result;
            if (get32(chunk + 8) == tagHdrl) {
                if (length < 4 || length > maxHeaderListSize)
                    return result;
                hdrl.resize(length - 4);
                hdrl.resize(std::fread(hdrl.data(), 1, hdrl.size(), file));
                break;
            }
            length -= std::min<uint32_t>(length, 4);
        }
        if (fseeko(file, static_cast<off_t>(length + (length & 1)), SEEK_CUR) != 0)
            return result;
    }
    int streamNumber = 0;
    forEachChunk(hdrl.data(), hdrl.size(), [&](uint32_t id, const uint8_t* body, size_t size) {
        if (id != tagLIST || size < 4 || get32(body) != tagStrl)
            return true;
        StreamHeaders candidate;
        candidate.streamNumber = streamNumber++;
        forEachChunk(body + 4, size - 4, [&](uint32_t cid, const uint8_t* cbody, size_t csize) {
            if (cid == tagStrh && csize >= 48) {
                AviStreamInfo& s = candidate.info;
                s.fccType = get32(cbody);
                s.fccHandler = get32(cbody + 4);
                s.flags = get32(cbody + 8);
                s.priority = get16(cbody + 12);
                s.language = get16(cbody + 14);
                s.initialFrames = get32(cbody + 16);
                s.scale = get32(cbody + 20);
                s.rate = get32(cbody + 24);
                s.start = get32(cbody + 28);
                s.length = get32(cbody + 32);
                s.suggestedBufferSize = get32(cbody + 36);
                s.quality = get32(cbody + 40);
                s.sampleSize = get32(cbody + 44);
                if (csize >= 56)
                    s.frame = {int16_t(get16(cbody + 48)), int16_t(get16(cbody + 50)),
                               int16_t(get16(cbody + 52)), int16_t(get16(cbody + 54))};
                candidate.hasInfo = true;
            } else if (cid == tagStrf) {
                candidate.format.assign(cbody, cbody + csize);
                candidate.hasFormat = true;
            } else if (cid == tagIndx) {
                candidate.superIndex.assign(cbody, cbody + csize);
            }
            return true;
        });
        if (candidate.hasInfo && candidate.info.fccType == StreamTypeVideo) {
            result = std::move(candidate);
            result.found = true;
            return false;
        }
        return true;
    });
    return result;
}

// The chunks the file's index lists for the stream, those without data included: the stream's
// video entries ('NNdb', 'NNdc') of the 'idx1' index, or the chunks the OpenDML super index says
// its standard indexes cover, whichever is more. 0 without an index.
int64_t countIndexedChunks(const std::string& path, int streamNumber,
                           const std::vector<uint8_t>& superIndex) {
    int64_t fromSuperIndex = 0;
    // OpenDML, AVISUPERINDEX: wLongsPerEntry, bIndexSubType, bIndexType (0: an index of indexes),
    // nEntriesInUse, dwChunkId, three reserved words, then entries of qwOffset, dwSize,
    // dwDuration (the chunks the standard index covers).
    if (superIndex.size() >= 24 && superIndex[3] == 0) {
        const uint64_t entries =
            std::min<uint64_t>(get32(superIndex.data() + 4), (superIndex.size() - 24) / 16);
        for (uint64_t i = 0; i < entries; ++i)
            fromSuperIndex += get32(superIndex.data() + 24 + 16 * i + 12);
    }
    if (streamNumber < 0 || streamNumber > 99)
        return fromSuperIndex;
    const FilePtr opened = openAviChunks(path);
    std::FILE* file = opened.get();
    if (!file)
        return fromSuperIndex;
    const uint8_t digits[2] = {uint8_t('0' + streamNumber / 10), uint8_t('0' + streamNumber % 10)};
    // The top-level chunks of the first RIFF list: 'hdrl', 'movi', 'idx1' and a few more.
    for (int guard = 0; guard < 1024; ++guard) {
        uint8_t chunk[8];
        if (std::fread(chunk, 1, 8, file) != 8)
            break;
        const uint32_t length = get32(chunk + 4);
        if (get32(chunk) != tagIdx1) {
            if (fseeko(file, static_cast<off_t>(length) + (length & 1), SEEK_CUR) != 0)
                break;
            continue;
        }
        // idx1 entries: dwChunkId, dwFlags, dwOffset, dwSize.
        int64_t count = 0;
        std::vector<uint8_t> block(16 * 4096);
        for (uint32_t left = length / 16; left > 0;) {
            const size_t want = std::min<size_t>(left, 4096);
            const size_t got = std::fread(block.data(), 16, want, file);
            for (size_t e = 0; e < got; ++e) {
                const uint8_t* id = block.data() + 16 * e;
                if (id[0] == digits[0] && id[1] == digits[1] &&
                    ((id[2] == 'd' && id[3] == 'b') || (id[2] == 'd' && id[3] == 'c')))
                    ++count;
            }
            if (got < want)
                break;
            left -= static_cast<uint32_t>(got);
        }
        return std::max(count, fromSuperIndex);
    }
    return fromSuperIndex;
}

} // namespace

// ---- AviFile ----

struct AviFile::Context {
    std::string path;
    ffmpeg::FormatPtr format;
    int streamIndex = -1;
    bool headerOnly = false; // the stream is known from its headers alone
    StreamHeaders headers;
};

AviFile::AviFile() : m_context(std::make_unique<Context>()) {}
AviFile::~AviFile() = default;

bool AviFile::open(const std::string& path) {
    av_log_set_level(AV_LOG_QUIET);
    const AVInputFormat* avi = av_find_input_format("avi");
    AVFormatContext* raw = nullptr;
    if (!avi || avformat_open_input(&raw, path.c_str(), avi, nullptr) < 0)
        return false;
    m_context->format.reset(raw);
    m_context->path = path;
    return true;
}

bool AviFile::openVideoStream() {
    AVFormatContext* fc = m_context->format.get();
    if (!fc)
        return false;
    m_context->headers = readStreamHeaders(m_context->path);
    // The stream FFmpeg made for that stream list; any video stream as a fallback.
    int byNumber = -1, firstVideo = -1;
    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        if (fc->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        if (firstVideo < 0)
            firstVideo = static_cast<int>(i);
        if (m_context->headers.found && fc->streams[i]->id == m_context->headers.streamNumber && byNumber < 0)
            byNumber = static_cast<int>(i);
    }
    m_context->streamIndex = byNumber >= 0 ? byNumber : firstVideo;
    if (m_context->streamIndex < 0) {
        // A video stream list that FFmpeg made nothing of (its format is missing or unusable)
        // is still the file's first video stream: its later steps fail instead.
        m_context->headerOnly = m_context->headers.found;
        return m_context->headerOnly;
    }
    for (unsigned i = 0; i < fc->nb_streams; ++i)
        fc->streams[i]->discard =
            static_cast<int>(i) == m_context->streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    return true;
}

bool AviFile::streamInfo(AviStreamInfo& info) const {
    if ((m_context->streamIndex < 0 && !m_context->headerOnly) || !m_context->headers.found ||
        !m_context->headers.hasInfo)
        return false;
    const AviStreamInfo& s = m_context->headers.info;
    if (s.scale == 0 || s.rate == 0)
        return false;
    info = s;
    return true;
}

int64_t AviFile::formatSize() const {
    if ((m_context->streamIndex < 0 && !m_context->headerOnly) || !m_context->headers.hasFormat)
        return -1;
    return static_cast<int64_t>(m_context->headers.format.size());
}

bool AviFile::readFormat(std::vector<uint8_t>& format) const {
    // A video format is at least the 40-byte DIB information header.
    if ((m_context->streamIndex < 0 && !m_context->headerOnly) || m_context->headers.format.size() < 40)
        return false;
    format = m_context->headers.format;
    return true;
}

bool AviFile::beginStreaming() {
    AVFormatContext* fc = m_context->format.get();
    return fc && (m_context->streamIndex >= 0 || m_context->headerOnly);
}

std::string AviFile::codecName() const {
    if (m_context->streamIndex < 0)
        return {};
    return avcodec_get_name(m_context->format->streams[m_context->streamIndex]->codecpar->codec_id);
}

// ---- AviFrameDecoder ----

struct AviFrameDecoder::State : ffmpeg::PacketSource {
    AVFormatContext* format = nullptr; // owned by the AviFile
    AVStream* stream = nullptr;
    int streamIndex = -1;
    int64_t length = 0; // positions in the stream
    bool streamHasBitFields = false;
    ffmpeg::Decoder decoder;
    ffmpeg::PictureWindow window;
    bool atStart = true; // nothing decoded since the stream was opened or rewound
    int64_t lastPacketPosition = -1;
    int64_t lastOutputPosition = -1;
    // Positions of the chunks fed to the decoder and not yet matched with a picture. Pictures
    // come out in display order, so each takes the smallest position still waiting: a decoder
    // that holds pictures back (B-frames) still gives picture k to the k-th chunk with data.
    std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>> pendingPositions;
    // After a seek the demuxer may number the packets from a wrong origin (it does when the
    // stream starts with dropped frames); the index entry landed on gives the true position.
    int64_t anchorFilePosition = -1;
    int64_t anchorPosition = 0;
    bool anchorChecked = true;
    int64_t positionOffset = 0;
    // The positions the index lists, empty chunks included, and the last that holds data: once
    // reading has got that far, the empty chunks after it repeat the last picture.
    int64_t indexedChunks = 0;
    int64_t lastDataPosition = -1;
    DibPacker packer;
    int largestWidth = 0, largestHeight = 0; // 0: no bound but the decoder's own

    // The chunks of the stream that hold data, each tagged with its position.
    int nextPacket(AVPacket* pkt, int64_t& tag) override;
    void accepted(const AVPacket*, int64_t tag) override { pendingPositions.push(tag); }
    // The next frame out of the decoder, with its position; false when there is none left.
    bool decodeNext(AVFrame* out, int64_t& position);
    void restart(int64_t position);
    bool keyFrameBetween(int64_t after, int64_t upTo) const;
    const uint8_t* pack(const AVFrame* frame);
};

AviFrameDecoder::AviFrameDecoder(std::unique_ptr<State> state) : m_state(std::move(state)) {}
AviFrameDecoder::~AviFrameDecoder() = default;

std::unique_ptr<AviFrameDecoder> AviFile::openDecoder() {
    if (m_context->streamIndex < 0)
        return nullptr;
    AVStream* stream = m_context->format->streams[m_context->streamIndex];
    auto state = std::make_unique<AviFrameDecoder::State>();
    if (!state->window.allocated())
        return nullptr;
    ffmpeg::DecoderOptions options;
    options.maxPixels = MaxVideoPictureArea;
    if (state->decoder.open(stream->codecpar, options) < 0)
        return nullptr;
    state->format = m_context->format.get();
    state->stream = stream;
    state->streamIndex = m_context->streamIndex;
    state->length = m_context->headers.found ? m_context->headers.info.length : stream->nb_frames;
    const std::vector<uint8_t>& format = m_context->headers.format;
    state->streamHasBitFields = format.size() >= 40 && get32(format.data() + 16) == 3;
    if (m_context->headers.found)
        state->indexedChunks = countIndexedChunks(m_context->path, m_context->headers.streamNumber,
                                                  m_context->headers.superIndex);
    if (const int entries = avformat_index_get_entries_count(stream); entries > 0)
        state->lastDataPosition = avformat_index_get_entry(stream, entries - 1)->timestamp;
    return std::unique_ptr<AviFrameDecoder>(new AviFrameDecoder(std::move(state)));
}

int AviFrameDecoder::State::nextPacket(AVPacket* pkt, int64_t& tag) {
    for (;;) {
        av_packet_unref(pkt);
        if (av_read_frame(format, pkt) < 0)
            return AVERROR_EOF;
        if (pkt->stream_index != streamIndex || pkt->size == 0)
            continue;
        int64_t stamp = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        if (!anchorChecked) {
            anchorChecked = true;
            // The index points at the chunk's header, the packet at its data 8 bytes on.
            if (stamp != AV_NOPTS_VALUE && anchorFilePosition >= 0 && pkt->pos >= anchorFilePosition &&
                pkt->pos <= anchorFilePosition + 8)
                positionOffset = anchorPosition - stamp;
        }
        if (stamp == AV_NOPTS_VALUE)
            stamp = lastPacketPosition + 1;
        else
            stamp += positionOffset;
        lastPacketPosition = std::max(lastPacketPosition, stamp);
        tag = stamp;
        return 0;
    }
}

bool AviFrameDecoder::State::decodeNext(AVFrame* out, int64_t& position) {
    if (decoder.receive(out, *this) != ffmpeg::Decoder::Status::Output)
        return false;
    int64_t ts = lastOutputPosition + 1;
    if (!pendingPositions.empty()) {
        ts = std::max(ts, pendingPositions.top());
        pendingPositions.pop();
    }
    lastOutputPosition = ts;
    position = ts;
    return true;
}

void AviFrameDecoder::State::restart(int64_t position) {
    decoder.flush();
    window.clear();
    atStart = true;
    lastOutputPosition = -1;
    pendingPositions = {};
    positionOffset = 0;
    anchorChecked = false;
    anchorFilePosition = -1;
    int index = av_index_search_timestamp(stream, position, AVSEEK_FLAG_BACKWARD);
    if (const AVIndexEntry* entry = index >= 0 ? avformat_index_get_entry(stream, index) : nullptr) {
        anchorFilePosition = entry->pos;
        anchorPosition = entry->timestamp;
    }
    if (!ffmpeg::seekToKeyFrame(format, streamIndex, position)) {
        anchorChecked = true;
        // Without an index entry to land on, read again from the first frame.
        if (av_seek_frame(format, streamIndex, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
            avformat_seek_file(format, -1, INT64_MIN, 0, 0, 0);
        lastPacketPosition = -1;
        return;
    }
    // Packets from here on are numbered by their own timestamps.
    lastPacketPosition = -1;
    lastOutputPosition = -1;
}

bool AviFrameDecoder::State::keyFrameBetween(int64_t after, int64_t upTo) const {
    int index = av_index_search_timestamp(stream, upTo, AVSEEK_FLAG_BACKWARD);
    if (index < 0)
        return false;
    const AVIndexEntry* entry = avformat_index_get_entry(stream, index);
    return entry && entry->timestamp > after;
}

const uint8_t* AviFrameDecoder::getFrame(int64_t position) {
    State& s = *m_state;
    ffmpeg::PictureWindow& w = s.window;
    if (position < 0 || position >= s.length)
        return nullptr;
    // Reading on is only possible forwards; a key frame between here and there is a shortcut.
    bool canReadOn;
    if (s.atStart)
        canReadOn = position == 0 || !s.keyFrameBetween(0, position);
    else if (w.haveCurrent)
        canReadOn = w.currentPosition <= position &&
                    !s.keyFrameBetween(w.haveAhead ? w.aheadPosition : w.currentPosition + 1, position);
    else // still before the first picture
        canReadOn = w.haveAhead && !s.keyFrameBetween(w.aheadPosition, position);
    if (!canReadOn)
        s.restart(position);
    s.atStart = false;
    w.readUpTo(position, [&](AVFrame* out, int64_t& at) { return s.decodeNext(out, at); });
    if (!w.haveCurrent) {
        // Positions before the stream's first picture (a stream that starts with dropped
        // frames) show that first picture.
        return w.haveAhead ? s.pack(w.ahead.get()) : nullptr;
    }
    // Past the last chunk that held data the stream has nothing more to show, unless the index
    // lists empty chunks there (a copy of a stream of another container has one after every
    // picture, the last too) and the data up to them was read.
    const int64_t lastRead = std::max(w.currentPosition, s.lastPacketPosition);
    if (!w.haveAhead && s.decoder.finished() && position > lastRead &&
        !(position < s.indexedChunks && s.lastDataPosition >= 0 && lastRead >= s.lastDataPosition))
        return nullptr;
    return s.pack(w.current.get());
}

bool AviFrameDecoder::firstPictureSize(int& width, int& height) {
    State& s = *m_state;
    if (!s.atStart || !s.decodeNext(s.window.ahead.get(), s.window.aheadPosition))
        return false;
    // The picture waits as the next one, as if getFrame had read up to it.
    s.atStart = false;
    s.window.haveAhead = true;
    width = s.window.ahead->width;
    height = s.window.ahead->height;
    return width > 0 && height > 0;
}

void AviFrameDecoder::setLargestPicture(int width, int height) {
    m_state->largestWidth = width;
    m_state->largestHeight = height;
}

const uint8_t* AviFrameDecoder::State::pack(const AVFrame* frame) {
    if ((largestWidth > 0 && frame->width > largestWidth) ||
        (largestHeight > 0 && frame->height > largestHeight))
        return nullptr;
    DibPacking how;
    how.bitFields = streamHasBitFields;
    return packer.pack(frame, how);
}

// ---- facts ----

VideoFacts probeVideo(const std::string& path) {
    FrameReader reader;
    reader.open(path);
    return reader.facts();
}

} // namespace kelvara
