// The still-image codec layer: the writer of each format, and the picture reader for the way back.
#include "output/StillImageCodec.h"

#include "input/PictureReader.h"
#include "output/SaveOptions.h"
#include "output/StillImageWriters.h"
#include "raster/Stream.h"

namespace kelvara {

WriteResult writeStillImage(const Bitmap& picture, const StillImageSaveOptions& options,
                            StillImageFormat format, Stream& stream, const ProgressCallback& progress) {
    const TIOParams params = writerParams(options);
    switch (format) {
    case StillImageFormat::Bmp:
        return writeBmp(stream, picture, params, progress);
    case StillImageFormat::Jpeg:
        return writeJpeg(stream, picture, params, progress);
    case StillImageFormat::Gif:
        return writeGif(stream, picture, params, progress);
    case StillImageFormat::Tiff:
        return writeTiff(stream, picture, params, progress);
    case StillImageFormat::Pcx:
        return writePcx(stream, picture, params, progress);
    case StillImageFormat::Tga:
        return writeTga(stream, picture, params, progress);
    case StillImageFormat::Jpeg2000:
        return writeJpeg2000(stream, picture, params, progress);
    case StillImageFormat::Png:
        return writePng(stream, picture, params, progress);
    }
    return {};
}

EncodedImage encodeStillImage(const Bitmap& picture, const StillImageSaveOptions& options,
                              StillImageFormat format, const ProgressCallback& progress) {
    MemoryStream stream;
    WriteResult result = writeStillImage(picture, options, format, stream, progress);
    return {std::move(stream.bytes()), std::move(result.palette)};
}

void decodeStillImage(StillImageFormat format, const uint8_t* data, size_t size, Bitmap& picture) {
    PictureFileType type = PictureFileType::WindowsBitmap;
    switch (format) {
    case StillImageFormat::Bmp:
        type = PictureFileType::WindowsBitmap;
        break;
    case StillImageFormat::Jpeg:
        type = PictureFileType::Jpeg;
        break;
    case StillImageFormat::Gif:
        type = PictureFileType::Gif;
        break;
    case StillImageFormat::Tiff:
        type = PictureFileType::Tiff;
        break;
    case StillImageFormat::Pcx:
        type = PictureFileType::Pcx;
        break;
    case StillImageFormat::Tga:
        type = PictureFileType::Targa;
        break;
    case StillImageFormat::Jpeg2000:
        // A code stream starts with its SOC marker FF 4F; a JP2 file with its signature box.
        type = size >= 2 && data[0] == 0xFF && data[1] == 0x4F ? PictureFileType::Jpeg2000CodeStream
                                                               : PictureFileType::Jpeg2000File;
        break;
    case StillImageFormat::Png:
        type = PictureFileType::Png;
        break;
    }
    decodePicture(type, data, size, picture);
}

} // namespace kelvara
