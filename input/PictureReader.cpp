// The picture reader: picks the decoder by the file name's extension and hands it the file.
#include "input/PictureReader.h"

#include "input/ByteReader.h"
#include "raster/Stream.h"

#include <algorithm>
#include <cctype>

namespace kelvara {

std::string PictureReaderMessages::message(const char* kind, const char* reason) {
    return std::string(kind) + " " + reason;
}

std::string PictureReaderMessages::tooLarge(const char* kind, int64_t width, int64_t height) {
    return message(kind, TooLarge) + ": " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, where pictures of up to " + std::to_string(MaxPictureSide) + " pixels a side and " +
           std::to_string(MaxPictureArea >> 20) + " megapixels are read";
}

const char* pictureFileTypeName(PictureFileType type) {
    switch (type) {
    case PictureFileType::Jpeg:
        return "JPEG";
    case PictureFileType::Jpeg2000File:
    case PictureFileType::Jpeg2000CodeStream:
        return "JPEG 2000";
    case PictureFileType::Png:
        return "PNG";
    case PictureFileType::Tiff:
        return "TIFF";
    case PictureFileType::Pcx:
        return "PCX";
    case PictureFileType::Gif:
        return "GIF";
    case PictureFileType::Metafile:
        return "Metafile";
    case PictureFileType::WindowsBitmap:
        return "Bitmap";
    case PictureFileType::Cursor:
        return "Cursor";
    case PictureFileType::Icon:
        return "Icon";
    case PictureFileType::Targa:
        return "Targa";
    case PictureFileType::PortableAnymap:
        return "Portable pixmap";
    }
    return "Picture";
}

std::optional<PictureFileType> pictureFileTypeForPath(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::nullopt;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    struct Row {
        const char* ext;
        PictureFileType type;
    };
    static const Row rows[] = {
        {"jpg", PictureFileType::Jpeg},
        {"jpeg", PictureFileType::Jpeg},
        {"jpe", PictureFileType::Jpeg},
        {"jp2", PictureFileType::Jpeg2000File},
        {"j2k", PictureFileType::Jpeg2000CodeStream},
        {"jpc", PictureFileType::Jpeg2000CodeStream},
        {"j2c", PictureFileType::Jpeg2000CodeStream},
        {"png", PictureFileType::Png},
        {"tif", PictureFileType::Tiff},
        {"tiff", PictureFileType::Tiff},
        {"fax", PictureFileType::Tiff},
        {"g3n", PictureFileType::Tiff},
        {"g3f", PictureFileType::Tiff},
        {"pcx", PictureFileType::Pcx},
        {"gif", PictureFileType::Gif},
        {"wmf", PictureFileType::Metafile},
        {"emf", PictureFileType::Metafile},
        {"bmp", PictureFileType::WindowsBitmap},
        {"dib", PictureFileType::WindowsBitmap},
        {"rle", PictureFileType::WindowsBitmap},
        {"cur", PictureFileType::Cursor},
        {"ico", PictureFileType::Icon},
        {"tga", PictureFileType::Targa},
        {"targa", PictureFileType::Targa},
        {"vda", PictureFileType::Targa},
        {"icb", PictureFileType::Targa},
        {"vst", PictureFileType::Targa},
        {"win", PictureFileType::Targa},
        {"pxm", PictureFileType::PortableAnymap},
        {"ppm", PictureFileType::PortableAnymap},
        {"pgm", PictureFileType::PortableAnymap},
        {"pbm", PictureFileType::PortableAnymap},
    };
    for (const Row& row : rows)
        if (ext == row.ext)
            return row.type;
    return std::nullopt;
}

namespace {

// The size limit for a Windows bitmap, from its header; the raster surface's decoder judges the
// rest of the header.
void checkBitmapSize(const uint8_t* data, size_t size) {
    using namespace input_detail;
    ByteReader in(data, size, pictureFileTypeName(PictureFileType::WindowsBitmap));
    if (size < 26 || data[0] != 'B' || data[1] != 'M')
        return;
    in.seek(14);
    const bool core = in.le32() == 12;
    const int64_t width = core ? in.le16() : int32_t(in.le32());
    const int64_t height = core ? in.le16() : int32_t(in.le32());
    if (width > 0 && height != 0)
        checkPictureSize(in.kind(), width, height < 0 ? -height : height);
}

} // namespace

void decodePicture(PictureFileType type, const uint8_t* data, size_t size, Bitmap& picture) {
    using namespace input_detail;
    Bitmap decoded;
    switch (type) {
    case PictureFileType::Jpeg:
        decodeJpeg(data, size, decoded);
        break;
    case PictureFileType::Jpeg2000File:
        decodeJpeg2000(data, size, decoded, false);
        break;
    case PictureFileType::Jpeg2000CodeStream:
        decodeJpeg2000(data, size, decoded, true);
        break;
    case PictureFileType::Png:
        decodePng(data, size, decoded);
        break;
    case PictureFileType::Tiff:
        decodeTiff(data, size, decoded);
        break;
    case PictureFileType::Pcx:
        decodePcx(data, size, decoded);
        break;
    case PictureFileType::Gif:
        decodeGif(data, size, decoded);
        break;
    case PictureFileType::Metafile:
        throw PictureReadError(PictureReaderMessages::Metafile);
    case PictureFileType::WindowsBitmap: {
        checkBitmapSize(data, size);
        MemoryStream stream(std::vector<uint8_t>(data, data + size));
        decoded.LoadFromStream(stream);
        break;
    }
    case PictureFileType::Cursor:
        decodeIcon(data, size, decoded, true);
        break;
    case PictureFileType::Icon:
        decodeIcon(data, size, decoded, false);
        break;
    case PictureFileType::Targa:
        decodeTarga(data, size, decoded);
        break;
    case PictureFileType::PortableAnymap:
        decodePortableAnymap(data, size, decoded);
        break;
    }
    picture.Assign(decoded);
}

bool readPictureFile(const std::string& path, Bitmap& picture) {
    std::optional<PictureFileType> type = pictureFileTypeForPath(path);
    if (!type)
        return false;
    if (*type == PictureFileType::Metafile)
        throw PictureReadError(PictureReaderMessages::Metafile);
    std::vector<uint8_t> bytes = readFile(path);
    decodePicture(*type, bytes.data(), bytes.size(), picture);
    return true;
}

} // namespace kelvara
