// How many pictures a packet shows, read from its bitstream, for the codecs whose packets may hold
// frames that are decoded but never shown: VP8 (alternate reference and golden frames with
// show_frame 0), VP9 (hidden frames, superframes, show_existing_frame) and AV1 (temporal units,
// show_frame and show_existing_frame).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>

namespace kelvara {

class PacketPictures {
public:
    // For the stream the parameters describe; its extradata may hold an AV1 sequence header.
    explicit PacketPictures(const AVCodecParameters* params);

    // Whether the stream's codec is one whose packets may show no picture.
    bool applies() const { return m_applies; }
    // The pictures the packet shows: 0 for a packet of hidden frames only. A packet that cannot be
    // read as the codec's bitstream counts as one picture, as a damaged frame the decoder may
    // still show.
    int count(const uint8_t* data, size_t size);

private:
    int countVp8(const uint8_t* data, size_t size) const;
    int countVp9(const uint8_t* data, size_t size) const;
    int countAv1(const uint8_t* data, size_t size);

    AVCodecID m_codec = AV_CODEC_ID_NONE;
    bool m_applies = false;
    // AV1: the sequence header says every frame is a shown key frame without a frame header flag.
    bool m_reducedStillPictureHeader = false;
};

} // namespace kelvara
