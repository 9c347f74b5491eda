// The pictures a VP8, VP9 or AV1 packet shows, from the first bits of its frame headers.
#include "video/PacketPictures.h"

#include <algorithm>

namespace kelvara {

namespace {

// Reads bits from the most significant end, as the VP9 and AV1 headers are written; past the end
// it gives zeros and says so.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    unsigned bit() {
        if (m_at >= m_size * 8) {
            m_overrun = true;
            return 0;
        }
        const unsigned b = (m_data[m_at / 8] >> (7 - m_at % 8)) & 1;
        ++m_at;
        return b;
    }
    unsigned bits(int n) {
        unsigned v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | bit();
        return v;
    }
    bool overrun() const { return m_overrun; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    bool m_overrun = false;
};

// VP9, uncompressed header (section 6.2): whether the frame is shown, or -1 when it is no frame.
int vp9FrameShown(const uint8_t* data, size_t size) {
    BitReader r(data, size);
    if (r.bits(2) != 2) // frame_marker
        return -1;
    const unsigned low = r.bit();
    const unsigned high = r.bit();
    if (((high << 1) | low) == 3)
        r.bit(); // reserved_zero
    if (r.bit()) // show_existing_frame: a frame decoded before is shown now
        return r.overrun() ? -1 : 1;
    r.bit(); // frame_type
    const unsigned shown = r.bit();
    return r.overrun() ? -1 : static_cast<int>(shown);
}

// AV1, an unsigned integer of up to eight bytes, seven bits each (section 4.10.5).
bool readLeb128(const uint8_t*& p, const uint8_t* end, uint64_t& value) {
    value = 0;
    for (int i = 0; i < 8; ++i) {
        if (p >= end)
            return false;
        const uint8_t byte = *p++;
        value |= uint64_t(byte & 0x7F) << (7 * i);
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

constexpr unsigned ObuSequenceHeader = 1;
constexpr unsigned ObuFrameHeader = 3;
constexpr unsigned ObuFrame = 6;

} // namespace

PacketPictures::PacketPictures(const AVCodecParameters* params) : m_codec(params->codec_id) {
    m_applies = m_codec == AV_CODEC_ID_VP8 || m_codec == AV_CODEC_ID_VP9 || m_codec == AV_CODEC_ID_AV1;
    // The AV1 codec configuration record ('av1C') holds the sequence header after its four bytes.
    if (m_codec == AV_CODEC_ID_AV1 && params->extradata && params->extradata_size > 4 &&
        (params->extradata[0] & 0x80))
        countAv1(params->extradata + 4, size_t(params->extradata_size - 4));
}

int PacketPictures::count(const uint8_t* data, size_t size) {
    if (!data || size == 0)
        return 1;
    switch (m_codec) {
    case AV_CODEC_ID_VP8:
        return countVp8(data, size);
    case AV_CODEC_ID_VP9:
        return countVp9(data, size);
    case AV_CODEC_ID_AV1:
        return countAv1(data, size);
    default:
        return 1;
    }
}

// VP8, frame tag (RFC 6386, section 9.1): bit 4 of the first three bytes is show_frame.
int PacketPictures::countVp8(const uint8_t* data, size_t size) const {
    if (size < 3)
        return 1;
    return (data[0] >> 4) & 1;
}

// VP9: a superframe (Annex B) holds several frames and an index of their sizes at its end; each
// frame shows or not by its own header.
int PacketPictures::countVp9(const uint8_t* data, size_t size) const {
    const uint8_t marker = data[size - 1];
    if ((marker & 0xE0) == 0xC0) {
        const size_t frames = (marker & 7) + 1;
        const size_t bytesPerSize = ((marker >> 3) & 3) + 1;
        const size_t indexSize = 2 + bytesPerSize * frames;
        if (size >= indexSize && data[size - indexSize] == marker) {
            const uint8_t* index = data + size - indexSize + 1;
            size_t at = 0;
            int shown = 0;
            bool read = false;
            for (size_t f = 0; f < frames; ++f) {
                size_t frameSize = 0;
                for (size_t b = 0; b < bytesPerSize; ++b)
                    frameSize |= size_t(index[f * bytesPerSize + b]) << (8 * b);
                if (frameSize > size - indexSize - at)
                    return 1;
                const int s = frameSize ? vp9FrameShown(data + at, frameSize) : -1;
                if (s >= 0) {
                    shown += s;
                    read = true;
                }
                at += frameSize;
            }
            return read ? shown : 1;
        }
    }
    const int s = vp9FrameShown(data, size);
    return s < 0 ? 1 : s;
}

// AV1: a packet is a temporal unit of open bitstream units (section 5.3); the frames whose
// headers show them count, those of the highest spatial layer present only, as decoders give
// one picture per temporal unit and layer set. Sequence headers met on the way are remembered.
int PacketPictures::countAv1(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    int shownByLayer[4] = {};
    bool sawFrame = false;
    while (p < end) {
        const uint8_t header = *p++;
        if (header & 0x80) // obu_forbidden_bit
            return 1;
        const unsigned type = (header >> 3) & 15;
        const bool extension = header & 4;
        const bool hasSize = header & 2;
        unsigned spatialId = 0;
        if (extension) {
            if (p >= end)
                return 1;
            spatialId = (*p++ >> 3) & 3;
        }
        uint64_t obuSize = uint64_t(end - p);
        if (hasSize && (!readLeb128(p, end, obuSize) || obuSize > uint64_t(end - p)))
            return 1;
        const uint8_t* body = p;
        p += obuSize;
        if (type == ObuSequenceHeader) {
            BitReader r(body, size_t(obuSize));
            r.bits(3); // seq_profile
            r.bit();   // still_picture
            m_reducedStillPictureHeader = r.bit();
        } else if (type == ObuFrameHeader || type == ObuFrame) {
            sawFrame = true;
            bool shown = true;
            if (!m_reducedStillPictureHeader) {
                BitReader r(body, size_t(obuSize));
                if (!r.bit()) { // show_existing_frame
                    r.bits(2);  // frame_type
                    shown = r.bit();
                }
                if (r.overrun())
                    return 1;
            }
            shownByLayer[spatialId] += shown;
        }
    }
    if (!sawFrame)
        return 1;
    for (int layer = 3; layer >= 0; --layer)
        if (shownByLayer[layer])
            return shownByLayer[layer];
    return 0;
}

} // namespace kelvara
