// One FFmpeg decoder and the loop that feeds it (FFmpeg's doc/examples/demux_decode.c): EAGAIN and
// EOF are no errors, a null packet flushes the decoder, and errors count until a picture comes.
#include "video/Decoder.h"

extern "C" {
#include <libavcodec/version.h>
}

namespace kelvara::ffmpeg {

// Packets carry their tag to the picture they make: in the packet's own opaque field where FFmpeg
// copies it to the frame, else through the context's reordered_opaque, which the decoder copies
// to the picture it starts while decoding the packet.

Decoder::Decoder() : m_params(avcodec_parameters_alloc()), m_packet(av_packet_alloc()) {}
Decoder::~Decoder() = default;

int Decoder::open(const AVCodecParameters* params, const DecoderOptions& options) {
    m_context.reset();
    m_options = options;
    if (!m_params || !m_packet)
        return AVERROR(ENOMEM);
    const int ret = avcodec_parameters_copy(m_params.get(), params);
    if (ret < 0)
        return ret;
    return reopen();
}

int Decoder::reopen() {
    m_context.reset();
    m_held = m_draining = m_finished = false;
    m_putOff = m_errorsInRow = m_error = 0;
    m_openFailed = false;
    av_packet_unref(m_packet.get());
    const AVCodec* codec =
        m_options.decoderName ? avcodec_find_decoder_by_name(m_options.decoderName) : nullptr;
    if (!codec || codec->id != m_params->codec_id)
        codec = avcodec_find_decoder(m_params->codec_id);
    if (!codec)
        return AVERROR_DECODER_NOT_FOUND;
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return AVERROR(ENOMEM);
    int ret = avcodec_parameters_to_context(context.get(), m_params.get());
    if (ret < 0)
        return ret;
    if (m_options.packetTimeBase.num > 0 && m_options.packetTimeBase.den > 0)
        context->pkt_timebase = m_options.packetTimeBase;
    context->thread_count = m_options.threads;
    if (m_options.maxPixels > 0) {
        context->max_pixels = m_options.maxPixels;
        if (int64_t(context->width) * context->height > m_options.maxPixels)
            context->width = context->height = context->coded_width = context->coded_height = 0;
    }
#if LIBAVCODEC_VERSION_MAJOR >= 60
    context->flags |= AV_CODEC_FLAG_COPY_OPAQUE;
#endif
    ret = avcodec_open2(context.get(), codec, nullptr);
    if (ret < 0) {
        m_openFailed = true;
        return ret;
    }
    m_context = std::move(context);
    return 0;
}

void Decoder::flush() {
    if (m_context)
        avcodec_flush_buffers(m_context.get());
    av_packet_unref(m_packet.get());
    m_held = m_draining = m_finished = false;
    m_putOff = m_errorsInRow = m_error = 0;
}

std::string Decoder::codecName() const {
    return m_params ? avcodec_get_name(m_params->codec_id) : "";
}

std::string Decoder::failure(int code) const {
    if (code == AVERROR_DECODER_NOT_FOUND)
        return "FFmpeg has no decoder for " + codecName();
    const AVCodec* codec = m_params ? avcodec_find_decoder(m_params->codec_id) : nullptr;
    if (m_openFailed && codec)
        return std::string(codec->name) + ": " + errorText(code);
    return errorText(code);
}

int64_t Decoder::tagOf(const AVFrame* frame) {
#if LIBAVCODEC_VERSION_MAJOR >= 60
    return frame->opaque ? reinterpret_cast<intptr_t>(frame->opaque) - 1 : -1;
#else
    return frame->reordered_opaque;
#endif
}

bool Decoder::tooManyErrors(int code) {
    m_error = code;
    if (m_options.maxErrorsInRow <= 0 || ++m_errorsInRow < m_options.maxErrorsInRow)
        return false;
    m_finished = true;
    return true;
}

Decoder::Status Decoder::receive(AVFrame* out, PacketSource& source) {
    if (!m_context)
        return Status::End;
    while (!m_finished) {
        const int ret = avcodec_receive_frame(m_context.get(), out);
        if (ret == 0) {
            m_errorsInRow = 0;
            return Status::Output;
        }
        if (ret == AVERROR_EOF) {
            m_finished = true;
            break;
        }
        // EAGAIN, or output the decoder could not make: it goes on with the next packet.
        if (ret != AVERROR(EAGAIN) && tooManyErrors(ret))
            return Status::DecodeFailed;
        if (m_draining) {
            if (ret == AVERROR(EAGAIN))
                m_finished = true; // nothing can come after the flush
            continue;
        }
        switch (feed(source)) {
        case Fed::ReadFailed:
            return Status::ReadFailed;
        case Fed::Failed:
            return Status::DecodeFailed;
        case Fed::Packet:
        case Fed::Drained:
            break;
        }
    }
    return Status::End;
}

Decoder::Fed Decoder::feed(PacketSource& source) {
    for (;;) {
        int64_t tag = m_heldTag;
        if (!m_held) {
            av_packet_unref(m_packet.get());
            tag = -1;
            const int ret = source.nextPacket(m_packet.get(), tag);
            if (ret == AVERROR_EOF) {
                m_draining = true;
                const int flushed = avcodec_send_packet(m_context.get(), nullptr);
                if (flushed < 0 && flushed != AVERROR_EOF)
                    m_finished = true;
                return Fed::Drained;
            }
            if (ret < 0) {
                m_error = ret;
                m_finished = true;
                return Fed::ReadFailed;
            }
            if (m_packet->size <= 0)
                continue;
        }
        m_held = false;
#if LIBAVCODEC_VERSION_MAJOR >= 60
        m_packet->opaque = reinterpret_cast<void*>(static_cast<intptr_t>(tag + 1));
#else
        m_context->reordered_opaque = tag;
#endif
        const int ret = avcodec_send_packet(m_context.get(), m_packet.get());
        if (ret == AVERROR(EAGAIN) && ++m_putOff < 2) {
            m_held = true; // the decoder has output to give first
            m_heldTag = tag;
            return Fed::Packet;
        }
        m_putOff = 0;
        if (ret == 0) {
            source.accepted(m_packet.get(), tag);
            return Fed::Packet;
        }
        // A packet the decoder refuses, or keeps putting off while it has nothing to give, is
        // skipped.
        if (ret != AVERROR(EAGAIN) && tooManyErrors(ret))
            return Fed::Failed;
    }
}

bool seekToKeyFrame(AVFormatContext* format, int streamIndex, int64_t ts) {
    return av_seek_frame(format, streamIndex, ts, AVSEEK_FLAG_BACKWARD) >= 0 ||
           avformat_seek_file(format, streamIndex, INT64_MIN, ts, ts, 0) >= 0;
}

} // namespace kelvara::ffmpeg
