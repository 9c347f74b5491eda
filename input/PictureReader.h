// The picture reader of the transition tab: reads a picture file, chosen by its extension, into a
// Bitmap, and the messages its decoders raise.
#pragma once

#include "raster/Bitmap.h"
#include "raster/Error.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kelvara {

// Raised when a picture file cannot be read: damaged, truncated, too large or of a kind that is
// not read here.
class PictureReadError : public Error {
public:
    using Error::Error;
};

// The kinds of picture file, one per row of the extension table.
enum class PictureFileType {
    Jpeg,
    Jpeg2000File,
    Jpeg2000CodeStream,
    Png,
    Tiff,
    Pcx,
    Gif,
    Metafile,
    WindowsBitmap,
    Cursor,
    Icon,
    Targa,
    PortableAnymap,
};

// The largest picture a file may hold to be read: at most this many pixels a side and in all.
// Larger ones are refused from their headers, before anything is decoded.
inline constexpr int64_t MaxPictureSide = 16384;
inline constexpr int64_t MaxPictureArea = int64_t(64) << 20;

namespace PictureReaderMessages {
inline constexpr const char* Metafile = "Metafiles cannot be read on this platform";
inline constexpr const char* UnknownType = "is not a picture file of a known type; it is not read";
inline constexpr const char* Truncated = "image is truncated";
inline constexpr const char* TooLarge = "image is too large";
inline constexpr const char* NotValid = "image is not valid";
inline constexpr const char* Unsupported = "image uses a kind of picture that cannot be read";
// The whole message: the kind of picture ("GIF", "PCX", ...) followed by the reason above.
std::string message(const char* kind, const char* reason);
// The message for a picture above the size limit, with its size and the limit.
std::string tooLarge(const char* kind, int64_t width, int64_t height);
} // namespace PictureReaderMessages

// The name shown in messages for each kind of file.
const char* pictureFileTypeName(PictureFileType type);

// The kind of picture a file name asks for, by its extension compared in lower case; none for an
// extension the reader does not know.
std::optional<PictureFileType> pictureFileTypeForPath(const std::string& path);

// Decodes a whole picture file held in memory. Every reader gives a 24-bit picture except the
// Windows bitmap reader, which keeps the file's own depth. Transparent pixels (GIF's transparent
// colour, icon masks, PNG and TIFF alpha) come out white, the colour of a fresh picture; Targa and
// Windows bitmap alpha bytes are ignored, as writers often leave them unset. Throws
// PictureReadError (or the raster surface's error for Windows bitmaps) and leaves picture as it
// was on failure.
void decodePicture(PictureFileType type, const uint8_t* data, size_t size, Bitmap& picture);

// Reads a picture file into picture by its extension. Returns false, leaving picture unchanged,
// when the extension is not one the reader knows. Throws as decodePicture does, and StreamError
// when the file cannot be read.
bool readPictureFile(const std::string& path, Bitmap& picture);

} // namespace kelvara
