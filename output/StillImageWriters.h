// The still-image writers. Each writes one complete file image at the stream's position from a
// picture, the writer parameters and a progress callback (0..100), and returns the palette it made.
#pragma once

#include "output/WriterParams.h"

#include <cstdint>
#include <vector>

namespace kelvara {

class Bitmap;
class Stream;

// Windows bitmap: 1, 4, 8 or 24 bits, RLE4/RLE8 on request.
WriteResult writeBmp(Stream& stream, const Bitmap& picture, const TIOParams& params,
                     const ProgressCallback& progress = {});
// PC Paintbrush: 1 or 4 bits in one plane, 8 bits with a trailing palette, or three 8-bit planes.
WriteResult writePcx(Stream& stream, const Bitmap& picture, const TIOParams& params,
                     const ProgressCallback& progress = {});
// Truevision TGA with ID, extension area and footer.
WriteResult writeTga(Stream& stream, const Bitmap& picture, const TIOParams& params,
                     const ProgressCallback& progress = {});
// Single-image GIF with a global colour table, graphic control and comment extensions.
WriteResult writeGif(Stream& stream, const Bitmap& picture, const TIOParams& params,
                     const ProgressCallback& progress = {});
// What the TIFF writer stores for a set of writer parameters. Its rules turn some requests into
// others: 2 to 8 bits in one sample become a palette, 65536 colours 24-bit RGB, a grey
// photometric with 24 bits RGB, and a compression that does not apply to the picture none (the
// CCITT codings apply to 1-bit pictures only; "JPEG" and "OLDJPEG" are never applied).
enum class TiffDataKind { Bilevel, Palette, Rgb, Cmyk, CieLab };
struct TiffLayout {
    TiffDataKind kind = TiffDataKind::Rgb;
    int paletteBits = 0; // bits of a palette index; 0 for other kinds
    // As written: a bilevel picture with a CCITT coding is stored with white as 0.
    TiffCompression compression = TiffCompression::Uncompressed;
    bool predictor = false; // horizontal differencing (LZW on 24-bit RGB)
};
TiffLayout tiffLayout(const TIOParams& params);
// Little-endian TIFF with one strip: none, PackBits, LZW or the CCITT bilevel codings.
WriteResult writeTiff(Stream& stream, const Bitmap& picture, const TIOParams& params,
                      const ProgressCallback& progress = {});
// JPEG through the IJG library.
WriteResult writeJpeg(Stream& stream, const Bitmap& picture, const TIOParams& params,
                      const ProgressCallback& progress = {});
// PNG through libpng.
WriteResult writePng(Stream& stream, const Bitmap& picture, const TIOParams& params,
                     const ProgressCallback& progress = {});
// JPEG 2000 as a JP2 file or as the bare code stream, as the JPEG 2000 options say.
WriteResult writeJpeg2000(Stream& stream, const Bitmap& picture, const TIOParams& params,
                          const ProgressCallback& progress = {});

// The plain 24-bit bottom-up BMP byte image of a picture, with no resolution and no count of
// important colours: the frames kelvara-cli writes.
std::vector<uint8_t> encodeBmp24(const Bitmap& bitmap);

// The row encoders of the writers, one row or line at a time.
namespace output_detail {
// BMP RLE8 (bits 8) or RLE4 (bits 4) of one row of indexes, end-of-line pair included.
std::vector<uint8_t> encodeBmpRleRow(const uint8_t* indexes, int width, int bits);
// PCX RLE of one plane line of count bytes, with the padding byte of an odd line.
std::vector<uint8_t> encodePcxRleLine(const uint8_t* line, size_t count);
// TGA run and raw packets of one row of pixels of pixelBytes bytes each.
std::vector<uint8_t> encodeTgaPacketRow(const uint8_t* row, int width, int pixelBytes);
// TIFF PackBits of one row.
void packBitsRow(const uint8_t* row, size_t count, std::vector<uint8_t>& out);
} // namespace output_detail

} // namespace kelvara
