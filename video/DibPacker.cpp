// Decoded pictures as packed DIBs: palettised and 16-bit pictures copied as they are, everything
// else converted to 24-bit BGR rows by libswscale.
#include "video/DibPacker.h"

#include "video/AviServices.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <type_traits>

namespace kelvara {

namespace {

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

// A damaged stream can leave any number in a decoder's enum field: its bytes are read as the
// integer they hold, and values outside the enum are then treated as unspecified.
template <typename Enum> int enumValue(const Enum& field) {
    std::underlying_type_t<Enum> value;
    std::memcpy(&value, &field, sizeof value);
    return static_cast<int>(value);
}

// The YUV matrix ffmpeg's scaler takes for a picture's colour space: the picture's own where
// libswscale knows it, else BT.601.
int matrixOf(int colorspace) {
    if (colorspace < AVCOL_SPC_BT709 || colorspace > AVCOL_SPC_BT2020_CL || colorspace == AVCOL_SPC_YCGCO)
        return AVCOL_SPC_BT470BG;
    return colorspace;
}

} // namespace

void DibPacker::SwsDeleter::operator()(SwsContext* c) const {
    sws_freeContext(c);
}

DibPacker::DibPacker() = default;
DibPacker::~DibPacker() = default;

const uint8_t* DibPacker::pack(const AVFrame* frame, const DibPacking& how) {
    m_hasAlpha = false;
    const uint8_t* dib = packColours(frame, how);
    if (dib && how.alpha) {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
        // Palette pictures are left out: decoders fill the palette's alpha unevenly.
        if (desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA) && !(desc->flags & AV_PIX_FMT_FLAG_PAL))
            takeAlpha(frame, how.width > 0 ? how.width : frame->width,
                      how.height > 0 ? how.height : frame->height, how.rotation);
    }
    return dib;
}

void DibPacker::takeAlpha(const AVFrame* frame, int outWidth, int outHeight, int rotation) {
    const int w = frame->width, h = frame->height;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    // The alpha channel is the last component, at full size.
    const int c = desc->nb_components - 1;
    const AVComponentDescriptor& comp = desc->comp[c];
    std::vector<uint8_t> own(size_t(w) * size_t(h));
    if (comp.depth == 8 && comp.shift == 0 && !(desc->flags & AV_PIX_FMT_FLAG_BITSTREAM)) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* p =
                frame->data[comp.plane] + ptrdiff_t(y) * frame->linesize[comp.plane] + comp.offset;
            uint8_t* out = own.data() + size_t(y) * size_t(w);
            for (int x = 0; x < w; ++x)
                out[x] = p[size_t(x) * size_t(comp.step)];
        }
    } else {
        std::vector<uint16_t> line(static_cast<size_t>(w));
        const uint32_t top = (1u << comp.depth) - 1;
        for (int y = 0; y < h; ++y) {
            av_read_image_line2(line.data(), const_cast<const uint8_t**>(frame->data), frame->linesize, desc,
                                0, y, c, w, 0, 2);
            uint8_t* out = own.data() + size_t(y) * size_t(w);
            for (int x = 0; x < w; ++x)
                out[x] = static_cast<uint8_t>((uint32_t(line[size_t(x)]) * 255 + top / 2) / top);
        }
    }
    // Scaled (nearest pixel) and turned as the colours are.
    rotation = rotation == 90 || rotation == 180 || rotation == 270 ? rotation : 0;
    const int dibWidth = rotation % 180 ? outHeight : outWidth;
    const int dibHeight = rotation % 180 ? outWidth : outHeight;
    m_alpha.resize(size_t(dibWidth) * size_t(dibHeight));
    for (int y = 0; y < dibHeight; ++y)
        for (int x = 0; x < dibWidth; ++x) {
            int ux = x, uy = y; // in the upright picture of the output size
            if (rotation == 90) {
                ux = y;
                uy = outHeight - 1 - x;
            } else if (rotation == 270) {
                ux = outWidth - 1 - y;
                uy = x;
            } else if (rotation == 180) {
                ux = outWidth - 1 - x;
                uy = outHeight - 1 - y;
            }
            const size_t sx = size_t(int64_t(ux) * w / outWidth), sy = size_t(int64_t(uy) * h / outHeight);
            m_alpha[size_t(y) * size_t(dibWidth) + size_t(x)] = own[sy * size_t(w) + sx];
        }
    m_hasAlpha = true;
}

const uint8_t* DibPacker::packColours(const AVFrame* frame, const DibPacking& how) {
    const int w = frame->width, h = frame->height;
    if (w <= 0 || h <= 0 || int64_t(w) * h > MaxVideoPictureArea)
        return nullptr;
    const int outWidth = how.width > 0 ? how.width : w;
    const int outHeight = how.height > 0 ? how.height : h;
    const bool scaled = outWidth != w || outHeight != h;
    if (int64_t(outWidth) * outHeight > MaxVideoPictureArea)
        return nullptr;
    const int rotation = how.rotation == 90 || how.rotation == 180 || how.rotation == 270 ? how.rotation : 0;
    // The DIB's size: the converted picture's, turned.
    const int dibWidth = rotation % 180 ? outHeight : outWidth;
    const int dibHeight = rotation % 180 ? outWidth : outHeight;
    const auto fmt = static_cast<AVPixelFormat>(frame->format);
    int bits = 24;
    uint32_t compression = 0;
    size_t tableBytes = 0;
    uint32_t masks[3] = {0, 0, 0};
    if (scaled || rotation) {
        // Scaled and turned pictures are made 24-bit, whatever their own depth.
    } else if (fmt == AV_PIX_FMT_PAL8) {
        bits = 8;
        tableBytes = 1024;
    } else if (fmt == AV_PIX_FMT_RGB555LE || fmt == AV_PIX_FMT_RGB565LE) {
        bits = 16;
        if (fmt == AV_PIX_FMT_RGB565LE || how.bitFields) {
            compression = 3;
            tableBytes = 12;
            if (fmt == AV_PIX_FMT_RGB565LE) {
                masks[0] = 0xF800, masks[1] = 0x07E0, masks[2] = 0x001F;
            } else {
                masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
            }
        }
    }
    const size_t stride = ((size_t(dibWidth) * bits + 31) / 32) * 4;
    const size_t imageSize = stride * size_t(dibHeight);
    // The pixel rows are written whole below; only the header, the table and the rows' padding
    // need clearing.
    m_dib.resize(40 + tableBytes + imageSize);
    std::memset(m_dib.data(), 0, 40 + tableBytes);
    uint8_t* header = m_dib.data();
    put32(header, 40);
    put32(header + 4, static_cast<uint32_t>(dibWidth));
    put32(header + 8, static_cast<uint32_t>(dibHeight));
    put16(header + 12, 1);
    put16(header + 14, static_cast<uint32_t>(bits));
    put32(header + 16, compression);
    put32(header + 20, static_cast<uint32_t>(imageSize));
    put32(header + 32, bits == 8 ? 256 : 0);
    uint8_t* table = header + 40;
    uint8_t* pixels = table + tableBytes;
    if (bits == 8) {
        // The decoder's palette: 256 native-endian 0xAARRGGBB words, stored as B, G, R, reserved.
        for (int i = 0; i < 256; ++i) {
            uint32_t argb;
            std::memcpy(&argb, frame->data[1] + 4 * i, 4);
            table[4 * i] = static_cast<uint8_t>(argb);
            table[4 * i + 1] = static_cast<uint8_t>(argb >> 8);
            table[4 * i + 2] = static_cast<uint8_t>(argb >> 16);
            table[4 * i + 3] = 0;
        }
    } else if (compression == 3) {
        put32(table, masks[0]);
        put32(table + 4, masks[1]);
        put32(table + 8, masks[2]);
    }
    if (!scaled && !rotation && (bits == 8 || bits == 16 || fmt == AV_PIX_FMT_BGR24)) {
        // Rows the decoder already gives in the DIB's layout are copied as they are.
        const size_t rowBytes = size_t(w) * (bits / 8);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = pixels + size_t(h - 1 - y) * stride;
            std::memcpy(row, frame->data[0] + ptrdiff_t(y) * frame->linesize[0], rowBytes);
            std::memset(row + rowBytes, 0, stride - rowBytes);
        }
        return m_dib.data();
    }
    // The fast converters work in blocks of 16 pixels and leave a shorter tail alone. Decoded
    // planes are padded, so convert the padded width and keep the real one.
    int convertWidth = w;
    if (!scaled) {
        convertWidth = (w + 15) & ~15;
        if (av_image_get_linesize(fmt, convertWidth, 0) > frame->linesize[0])
            convertWidth = w;
    }
    const int convertOutWidth = scaled ? outWidth : convertWidth;
    const int colorspace = how.ownColorimetry ? enumValue(frame->colorspace) : -1;
    const int range = how.ownColorimetry ? enumValue(frame->color_range) : -1;
    if (!m_sws || m_swsWidth != convertWidth || m_swsHeight != h || m_swsFormat != frame->format ||
        m_swsOutWidth != convertOutWidth || m_swsOutHeight != outHeight || m_swsColorspace != colorspace ||
        m_swsRange != range) {
        m_sws.reset(sws_getContext(convertWidth, h, fmt, convertOutWidth, outHeight, AV_PIX_FMT_BGR24,
                                   SWS_BICUBIC, nullptr, nullptr, nullptr));
        m_swsWidth = convertWidth;
        m_swsHeight = h;
        m_swsFormat = frame->format;
        m_swsOutWidth = convertOutWidth;
        m_swsOutHeight = outHeight;
        m_swsColorspace = colorspace;
        m_swsRange = range;
        if (!m_sws)
            return nullptr;
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(fmt);
        if (how.ownColorimetry && desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
            // The picture's own matrix and range, where it names them, as ffmpeg's scaler takes them.
            int* inverse = nullptr;
            int* forward = nullptr;
            int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
            if (sws_getColorspaceDetails(m_sws.get(), &inverse, &srcRange, &forward, &dstRange, &brightness,
                                         &contrast, &saturation) >= 0) {
                const int* matrix = sws_getCoefficients(matrixOf(colorspace));
                if (range == AVCOL_RANGE_JPEG)
                    srcRange = 1;
                else if (range == AVCOL_RANGE_MPEG)
                    srcRange = 0;
                sws_setColorspaceDetails(m_sws.get(), matrix, srcRange, matrix, dstRange, brightness,
                                         contrast, saturation);
            }
        }
    }
    const size_t rowBytes = size_t(outWidth) * 3;
    if (!rotation && convertOutWidth == outWidth && outWidth % 16 == 0 && stride == rowBytes) {
        // Whole blocks of pixels and rows without padding: the converter writes exactly the rows,
        // and lays them into the DIB bottom-up itself.
        uint8_t* dst[4] = {pixels + size_t(outHeight - 1) * stride, nullptr, nullptr, nullptr};
        int dstStride[4] = {-static_cast<int>(stride), 0, 0, 0};
        sws_scale(m_sws.get(), frame->data, frame->linesize, 0, h, dst, dstStride);
        return m_dib.data();
    }
    // The converters work in blocks of pixels: give them rows with room to spare, then lay the
    // rows into the DIB bottom-up.
    const int rgbStride = static_cast<int>((size_t(convertOutWidth) * 3 + 63) & ~size_t(63));
    m_rgb.resize(size_t(rgbStride) * outHeight + 64);
    uint8_t* dst[4] = {m_rgb.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {rgbStride, 0, 0, 0};
    sws_scale(m_sws.get(), frame->data, frame->linesize, 0, h, dst, dstStride);
    const uint8_t* rgb = m_rgb.data();
    if (rotation) {
        // Row y of the turned picture, top-down, from the upright one's pixels (x, y) -> (sx, sy).
        const size_t dibRowBytes = size_t(dibWidth) * 3;
        for (int y = 0; y < dibHeight; ++y) {
            uint8_t* row = pixels + size_t(dibHeight - 1 - y) * stride;
            for (int x = 0; x < dibWidth; ++x) {
                int sx, sy;
                if (rotation == 90) { // clockwise
                    sx = y;
                    sy = outHeight - 1 - x;
                } else if (rotation == 270) {
                    sx = outWidth - 1 - y;
                    sy = x;
                } else {
                    sx = outWidth - 1 - x;
                    sy = outHeight - 1 - y;
                }
                std::memcpy(row + size_t(x) * 3, rgb + size_t(sy) * rgbStride + size_t(sx) * 3, 3);
            }
            std::memset(row + dibRowBytes, 0, stride - dibRowBytes);
        }
        return m_dib.data();
    }
    for (int y = 0; y < outHeight; ++y) {
        uint8_t* row = pixels + size_t(outHeight - 1 - y) * stride;
        std::memcpy(row, rgb + size_t(y) * rgbStride, rowBytes);
        std::memset(row + rowBytes, 0, stride - rowBytes);
    }
    return m_dib.data();
}

} // namespace kelvara
