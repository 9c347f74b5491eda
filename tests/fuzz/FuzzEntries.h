// What each libFuzzer target does with one input, shared with the test that replays the inputs
// the fuzzers found. Every entry ends in a picture or an Error, never anything else.
#pragma once

#include "input/PictureReader.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvara::fuzz {

// The picture reader's decoders: the first byte picks the kind of file.
void pictureReader(const uint8_t* data, size_t size);
// One decoder of the picture reader.
void stillImage(PictureFileType type, const uint8_t* data, size_t size);
// BMP byte images into a Bitmap.
void bmp(const uint8_t* data, size_t size);
// GIF files and extension blocks into the GIF document, and what was read written again.
void gifDocument(const uint8_t* data, size_t size);
// The AVI frame source on the bytes, written to scratchPath first.
void frameSource(const uint8_t* data, size_t size, const std::string& scratchPath);

} // namespace kelvara::fuzz
