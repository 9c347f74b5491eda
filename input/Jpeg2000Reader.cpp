// The JPEG 2000 reader on OpenJPEG: JP2 files and bare code streams. OpenJPEG reports errors
// through its message callbacks and return values, which this wrapper turns into exceptions.
#include "input/ByteReader.h"

#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace kelvara::input_detail {

namespace {

constexpr const char* Kind = "JPEG 2000";

struct Source {
    const uint8_t* data;
    uint64_t size;
    uint64_t position;
};

OPJ_SIZE_T readSource(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* s = static_cast<Source*>(user);
    const uint64_t left = s->size - s->position;
    if (left == 0)
        return static_cast<OPJ_SIZE_T>(-1);
    const uint64_t n = std::min<uint64_t>(count, left);
    std::memcpy(buffer, s->data + s->position, size_t(n));
    s->position += n;
    return static_cast<OPJ_SIZE_T>(n);
}

OPJ_OFF_T skipSource(OPJ_OFF_T count, void* user) {
    auto* s = static_cast<Source*>(user);
    if (count < 0 || uint64_t(count) > s->size - s->position)
        return -1;
    s->position += uint64_t(count);
    return count;
}

OPJ_BOOL seekSource(OPJ_OFF_T position, void* user) {
    auto* s = static_cast<Source*>(user);
    if (position < 0 || uint64_t(position) > s->size)
        return OPJ_FALSE;
    s->position = uint64_t(position);
    return OPJ_TRUE;
}

void quiet(const char*, void*) {}

struct CodecDeleter {
    void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageDeleter {
    void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

// A sample brought to 0..255 from its precision and sign.
int toByte(int32_t value, const opj_image_comp_t& comp) {
    int64_t v = value;
    if (comp.sgnd)
        v += int64_t(1) << (comp.prec - 1);
    const int64_t max = (int64_t(1) << comp.prec) - 1;
    v = std::clamp<int64_t>(v, 0, max);
    return static_cast<int>((v * 255 + max / 2) / max);
}

} // namespace

void decodeJpeg2000(const uint8_t* data, size_t size, Bitmap& picture, bool codeStream) {
    // The content decides between a code stream and a JP2 file; the extension only breaks ties.
    static const uint8_t jp2Signature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (size >= 12 && std::memcmp(data, jp2Signature, 12) == 0)
        codeStream = false;
    else if (size >= 4 && data[0] == 0xFF && data[1] == 0x4F && data[2] == 0xFF && data[3] == 0x51)
        codeStream = true;
    else
        fail(Kind, PictureReaderMessages::NotValid);

    Source source{data, size, 0};
    std::unique_ptr<opj_stream_t, StreamDeleter> stream(
        opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    std::unique_ptr<opj_codec_t, CodecDeleter> codec(
        opj_create_decompress(codeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    if (!stream || !codec)
        fail(Kind, PictureReaderMessages::NotValid);
    opj_stream_set_read_function(stream.get(), readSource);
    opj_stream_set_skip_function(stream.get(), skipSource);
    opj_stream_set_seek_function(stream.get(), seekSource);
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), size);
    opj_set_error_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_info_handler(codec.get(), quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters))
        fail(Kind, PictureReaderMessages::NotValid);

    opj_image_t* rawImage = nullptr;
    if (!opj_read_header(stream.get(), codec.get(), &rawImage)) {
        if (rawImage)
            opj_image_destroy(rawImage);
        fail(Kind, source.position >= source.size ? PictureReaderMessages::Truncated
                                                  : PictureReaderMessages::NotValid);
    }
    std::unique_ptr<opj_image_t, ImageDeleter> image(rawImage);
    if (image->x1 <= image->x0 || image->y1 <= image->y0 || image->numcomps == 0)
        fail(Kind, PictureReaderMessages::NotValid);
    const int64_t width = int64_t(image->x1) - image->x0, height = int64_t(image->y1) - image->y0;
    checkPictureSize(Kind, width, height);
    if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
        fail(Kind, source.position >= source.size ? PictureReaderMessages::Truncated
                                                  : PictureReaderMessages::NotValid);

    const bool colour = image->numcomps >= 3;
    const int used = colour ? 3 : 1;
    for (int c = 0; c < used; ++c) {
        const opj_image_comp_t& comp = image->comps[c];
        if (!comp.data || comp.w == 0 || comp.h == 0 || comp.dx == 0 || comp.dy == 0 || comp.prec == 0 ||
            comp.prec > 31)
            fail(Kind, PictureReaderMessages::NotValid);
    }
    const bool ycc = colour && image->color_space == OPJ_CLRSPC_SYCC;
    Bitmap decoded;
    makePicture24(decoded, int(width), int(height));
    for (int y = 0; y < height; ++y) {
        uint8_t* row = decoded.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            int v[3] = {0, 0, 0};
            for (int c = 0; c < used; ++c) {
                const opj_image_comp_t& comp = image->comps[c];
                // Subsampled components repeat their samples over the reference grid.
                const uint32_t cx = std::min<uint32_t>(uint32_t(x) / comp.dx, comp.w - 1);
                const uint32_t cy = std::min<uint32_t>(uint32_t(y) / comp.dy, comp.h - 1);
                v[c] = toByte(comp.data[size_t(cy) * comp.w + cx], comp);
            }
            if (!colour) {
                putRgb(row, x, v[0], v[0], v[0]);
            } else if (ycc) {
                const double Y = v[0], cb = v[1] - 128.0, cr = v[2] - 128.0;
                auto clampByte = [](double d) {
                    return std::clamp(static_cast<int>(std::lround(d)), 0, 255);
                };
                putRgb(row, x, clampByte(Y + 1.402 * cr), clampByte(Y - 0.344136 * cb - 0.714136 * cr),
                       clampByte(Y + 1.772 * cb));
            } else {
                putRgb(row, x, v[0], v[1], v[2]);
            }
        }
    }
    picture.Assign(decoded);
}

} // namespace kelvara::input_detail
