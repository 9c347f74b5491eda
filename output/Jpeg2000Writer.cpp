// JPEG 2000 writer over OpenJPEG: the picture as grey or RGB components, encoded with the options
// text "rate=R prg=lrcp" into a JP2 file or a bare code stream.
#include "output/ImageQuantizer.h"
#include "output/Jpeg2000Options.h"
#include "output/StillImageWriters.h"

#include <charconv>
#include <memory>
#include <openjpeg.h>
#include <sstream>

namespace kelvara {

std::string jpeg2000OptionText(const TIOParams& params) {
    char rate[64];
    auto result = std::to_chars(rate, rate + sizeof rate, params.jpeg2000.rate);
    std::string text = "rate=" + std::string(rate, result.ptr);
    text += params.jp2ProgressionOrder == 1 ? " prg=rlcp" : " prg=lrcp";
    return text;
}

Jpeg2000EncoderSettings parseJpeg2000Options(const std::string& text) {
    Jpeg2000EncoderSettings settings;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        auto equals = word.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = word.substr(0, equals), value = word.substr(equals + 1);
        if (key == "rate") {
            double rate = 0;
            auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), rate);
            if (error == std::errc() && end == value.data() + value.size())
                settings.rate = rate;
        } else if (key == "prg") {
            settings.progression = value == "rlcp" ? Jpeg2000Progression::Rlcp : Jpeg2000Progression::Lrcp;
        }
    }
    return settings;
}

namespace {

struct StreamContext {
    Stream* stream = nullptr;
    uint64_t start = 0;
    std::string failure;
};

OPJ_SIZE_T writeBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* context = static_cast<StreamContext*>(user);
    try {
        context->stream->write(buffer, count);
        return count;
    } catch (const std::exception& e) {
        context->failure = e.what();
        return static_cast<OPJ_SIZE_T>(-1);
    }
}

OPJ_OFF_T skipBytes(OPJ_OFF_T count, void* user) {
    auto* context = static_cast<StreamContext*>(user);
    try {
        const int64_t target = static_cast<int64_t>(context->stream->position()) + count;
        if (target < static_cast<int64_t>(context->start))
            return -1;
        context->stream->seek(static_cast<uint64_t>(target));
        return count;
    } catch (const std::exception& e) {
        context->failure = e.what();
        return -1;
    }
}

OPJ_BOOL seekTo(OPJ_OFF_T position, void* user) {
    auto* context = static_cast<StreamContext*>(user);
    try {
        if (position < 0)
            return OPJ_FALSE;
        context->stream->seek(context->start + static_cast<uint64_t>(position));
        return OPJ_TRUE;
    } catch (const std::exception& e) {
        context->failure = e.what();
        return OPJ_FALSE;
    }
}

void recordMessage(const char* message, void* user) {
    auto* text = static_cast<std::string*>(user);
    if (text->empty()) {
        *text = message;
        while (!text->empty() && (text->back() == '\n' || text->back() == '\r'))
            text->pop_back();
    }
}

void ignoreMessage(const char*, void*) {}

struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};

} // namespace

WriteResult writeJpeg2000(Stream& stream, const Bitmap& bitmap, const TIOParams& params,
                          const ProgressCallback& progress) {
    const RgbPicture picture = rgbPictureOf(bitmap);
    const int width = picture.width, height = picture.height;
    if (width <= 0 || height <= 0)
        throw OutputError(OutputMessages::EmptyPicture);

    const bool oneBit = params.bitsPerSample == 1;
    const int precision = oneBit ? 1 : std::clamp(params.bitsPerSample, 1, 16);
    const bool grey = oneBit || params.jpeg2000.colorSpace == Jpeg2000ColorSpace::Gray;
    const int components = grey ? 1 : 3;
    const int64_t maxSample = (int64_t(1) << precision) - 1;

    opj_image_cmptparm_t parameters[3] = {};
    for (int c = 0; c < components; ++c) {
        parameters[c].dx = parameters[c].dy = 1;
        parameters[c].w = static_cast<OPJ_UINT32>(width);
        parameters[c].h = static_cast<OPJ_UINT32>(height);
        parameters[c].prec = static_cast<OPJ_UINT32>(precision);
        parameters[c].sgnd = 0;
    }
    std::unique_ptr<opj_image_t, ImageDeleter> image(opj_image_create(
        static_cast<OPJ_UINT32>(components), parameters, grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
    if (!image)
        throw OutputError("JPEG 2000 image could not be created");
    image->x0 = image->y0 = 0;
    image->x1 = static_cast<OPJ_UINT32>(width);
    image->y1 = static_cast<OPJ_UINT32>(height);

    std::vector<uint8_t> bits;
    if (oneBit)
        bits = blackWhiteBits(twoColorPicture(picture));
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = picture.row(y);
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const int blue = row[x * 3], green = row[x * 3 + 1], red = row[x * 3 + 2];
            if (oneBit) {
                image->comps[0].data[i] = bits[i];
            } else if (grey) {
                const int level = (21 * red + 71 * green + 8 * blue) / 100;
                image->comps[0].data[i] = static_cast<OPJ_INT32>(level * maxSample / 255);
            } else {
                image->comps[0].data[i] = static_cast<OPJ_INT32>(red * maxSample / 255);
                image->comps[1].data[i] = static_cast<OPJ_INT32>(green * maxSample / 255);
                image->comps[2].data[i] = static_cast<OPJ_INT32>(blue * maxSample / 255);
            }
        }
        reportProgress(progress, y * 100 / height);
    }

    // The options text is what we decide; OpenJPEG's parameters are translated from it.
    const Jpeg2000EncoderSettings settings = parseJpeg2000Options(jpeg2000OptionText(params));
    opj_cparameters_t encoder;
    opj_set_default_encoder_parameters(&encoder);
    encoder.tcp_numlayers = 1;
    encoder.cp_disto_alloc = 1;
    // The rate is the fraction of the uncompressed size; OpenJPEG takes the compression ratio.
    // A rate of 1 or more asks for everything: lossless. Nothing smaller than a thousandth is asked.
    encoder.tcp_rates[0] =
        settings.rate >= 1 ? 0.0f : static_cast<float>(1.0 / std::max(settings.rate, 0.001));
    encoder.prog_order = settings.progression == Jpeg2000Progression::Rlcp ? OPJ_RLCP : OPJ_LRCP;
    int resolutions = 1;
    while (resolutions < 6 && (1 << resolutions) <= std::min(width, height))
        ++resolutions;
    encoder.numresolution = resolutions;

    std::unique_ptr<opj_codec_t, CodecDeleter> codec(opj_create_compress(
        params.jpeg2000.format == Jpeg2000Format::Jp2File ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    if (!codec)
        throw OutputError("JPEG 2000 encoder could not be created");
    std::string message;
    opj_set_error_handler(codec.get(), recordMessage, &message);
    opj_set_warning_handler(codec.get(), ignoreMessage, nullptr);
    opj_set_info_handler(codec.get(), ignoreMessage, nullptr);

    StreamContext context;
    context.stream = &stream;
    context.start = stream.position();
    std::unique_ptr<opj_stream_t, StreamDeleter> output(
        opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
    if (!output)
        throw OutputError("JPEG 2000 stream could not be created");
    opj_stream_set_user_data(output.get(), &context, nullptr);
    opj_stream_set_write_function(output.get(), writeBytes);
    opj_stream_set_skip_function(output.get(), skipBytes);
    opj_stream_set_seek_function(output.get(), seekTo);

    const bool ok = opj_setup_encoder(codec.get(), &encoder, image.get()) &&
                    opj_start_compress(codec.get(), image.get(), output.get()) &&
                    opj_encode(codec.get(), output.get()) && opj_end_compress(codec.get(), output.get());
    if (!ok || !context.failure.empty()) {
        if (!context.failure.empty())
            throw StreamError(context.failure);
        throw OutputError(message.empty() ? "JPEG 2000 encoding failed" : message);
    }
    output.reset();
    reportProgress(progress, 100);
    return {};
}

} // namespace kelvara
