// One FFmpeg decoder fed from a demuxer, as every reader of video and sound uses it: opening,
// FFmpeg's send/receive/flush loop with its error rules, tags that follow each packet to the
// picture it makes, seeking to a key frame, and the window of pictures a reader decodes forward
// through.
#pragma once

#include "video/FfmpegHandles.h"

#include <cstdint>
#include <string>
#include <utility>

namespace kelvara::ffmpeg {

// Where a decoder's packets come from, in decoding order.
class PacketSource {
public:
    virtual ~PacketSource() = default;
    // Puts the next packet into pkt: 0; AVERROR_EOF when the stream ends; another error code when
    // it cannot be read on. The tag travels with the packet to the picture it makes (-1: none).
    virtual int nextPacket(AVPacket* pkt, int64_t& tag) = 0;
    // The decoder took the packet.
    virtual void accepted(const AVPacket* /*pkt*/, int64_t /*tag*/) {}
};

struct DecoderOptions {
    // The time base of the packets' timestamps; {0, 1} leaves it unset.
    AVRational packetTimeBase{0, 1};
    int threads = 1;
    // No picture of more pixels is made, and a stream's claim of a larger one is not passed on: a
    // decoder that reads the size from its bitstream finds the real one. 0: no limit of ours.
    int64_t maxPixels = 0;
    // Refused packets and pictures the decoder could not make, since the last picture, after which
    // the stream counts as undecodable; 0 for no limit.
    int maxErrorsInRow = 0;
    // The decoder to take by name, when FFmpeg has it; else the codec's default decoder.
    const char* decoderName = nullptr;
};

class Decoder {
public:
    enum class Status {
        Output,       // a picture or a piece of sound came out
        End,          // the stream is read to its end and the decoder gave all it held
        ReadFailed,   // the packet source failed; error() says how
        DecodeFailed, // maxErrorsInRow errors in a row; error() gives the last
    };

    Decoder();
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Opens a decoder for the stream's parameters: 0 or FFmpeg's error code, which failure()
    // puts into words (AVERROR_DECODER_NOT_FOUND when FFmpeg has no decoder for the codec).
    int open(const AVCodecParameters* params, const DecoderOptions& options);
    // A fresh decoder of the same kind: a flushed one keeps state (the reorder depth it has
    // learnt, what it knows of recovery points) that changes which pictures come out after a seek.
    int reopen();
    // Drops what the decoder holds and starts reading packets again; keeps what it has learnt.
    void flush();
    bool isOpen() const { return m_context != nullptr; }
    AVCodecContext* context() const { return m_context.get(); }
    // The name of the codec the parameters name.
    std::string codecName() const;
    // The words for an error open() or reopen() returned: FFmpeg's text, after the decoder's
    // name when the decoder refused to open.
    std::string failure(int code) const;

    // The next picture or piece of sound: packets are fed from the source as the decoder asks for
    // them, empty ones skipped (an empty packet would end the stream); a packet the decoder puts
    // off is held for the next send; one it refuses is skipped; at the end of the source the
    // decoder is flushed and gives what it still holds.
    Status receive(AVFrame* out, PacketSource& source);
    // The decoder gave its last output (or failed) since it was opened or flushed.
    bool finished() const { return m_finished; }
    // The code of the failure receive() reported.
    int error() const { return m_error; }
    // The tag of the packet a picture came from, or -1.
    static int64_t tagOf(const AVFrame* frame);

private:
    enum class Fed { Packet, Drained, ReadFailed, Failed };
    Fed feed(PacketSource& source);
    bool tooManyErrors(int code);

    ParametersPtr m_params;
    DecoderOptions m_options;
    CodecPtr m_context;
    PacketPtr m_packet;
    bool m_openFailed = false; // the last error came from opening, not from setting up
    bool m_held = false;       // m_packet is read but put off by the decoder
    int64_t m_heldTag = -1;
    int m_putOff = 0;        // sends in a row the decoder put off
    bool m_draining = false; // the source ended and the decoder was told so
    bool m_finished = false; // the decoder gave its last output
    int m_errorsInRow = 0;
    int m_error = 0;
};

// Puts the demuxer at the key frame at or before ts (in the stream's time base): true when a seek
// succeeded.
bool seekToKeyFrame(AVFormatContext* format, int streamIndex, int64_t ts);

// The pictures around a position as a reader decodes forward: the last one at or before it
// (current) and the first one after it (ahead), each with its position.
struct PictureWindow {
    FramePtr current{av_frame_alloc()};
    FramePtr ahead{av_frame_alloc()};
    int64_t currentPosition = -1;
    int64_t aheadPosition = -1;
    bool haveCurrent = false;
    bool haveAhead = false;

    bool allocated() const { return current && ahead; }
    void clear() {
        haveCurrent = haveAhead = false;
        currentPosition = aheadPosition = -1;
    }
    // Decodes forward with next(frame, position), which gives false when the pictures end, until
    // the picture waiting ahead lies past the position.
    template <typename Next> void readUpTo(int64_t position, Next&& next) {
        for (;;) {
            if (!haveAhead) {
                if (!next(ahead.get(), aheadPosition))
                    return;
                haveAhead = true;
            }
            if (aheadPosition > position)
                return;
            std::swap(current, ahead);
            currentPosition = aheadPosition;
            haveCurrent = true;
            haveAhead = false;
        }
    }
};

} // namespace kelvara::ffmpeg
