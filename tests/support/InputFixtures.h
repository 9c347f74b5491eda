// Fixtures of the picture reader's tests: pictures written by ImageMagick from a test pattern, the
// pixels ImageMagick decodes from them, and a seeded damage generator.
#pragma once

#include "raster/Bitmap.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kelvara::test {

// Writes a binary PPM of the test pattern: every pixel a different colour, position-dependent.
void writePatternPpm(const std::string& path, int width, int height);

// Runs ImageMagick's convert with the arguments; fails the test when it cannot.
bool imageMagickConvert(const std::string& arguments);

// The first picture of the file as ImageMagick decodes it, turned upright by the file's own
// orientation (ImageMagick keeps a Targa's stored row order otherwise), transparent parts laid
// over white, as top-down RGB bytes. Empty when ImageMagick cannot read it.
std::vector<uint8_t> imageMagickRgb(const std::string& path, int& width, int& height);

// The largest difference of one channel between a 24-bit picture and top-down RGB bytes, or -1
// when the sizes differ.
int maxChannelDifference(const Bitmap& picture, const std::vector<uint8_t>& rgb, int width, int height);

// Damage of a few bytes in valid files, for regression fixtures of refused pictures.
// The picture size in a JPEG's start-of-frame segment.
void setJpegSize(std::vector<uint8_t>& bytes, uint32_t width, uint32_t height);
// The size in a PNG's header chunk, with the chunk's check value made right again.
void setPngSize(std::vector<uint8_t>& bytes, uint32_t width, uint32_t height);
// A field of one value in the first directory of a little-endian TIFF.
void setTiffField(std::vector<uint8_t>& bytes, uint16_t tag, uint32_t value);

// A copy of the bytes with seeded random damage: bytes overwritten, a cut, or a field set to an
// extreme value.
std::vector<uint8_t> damaged(const std::vector<uint8_t>& bytes, std::mt19937& random);

} // namespace kelvara::test
