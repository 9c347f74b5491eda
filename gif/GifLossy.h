// Lossy compression of GIF frames: each pixel may show a colour close to its own when that lets
// the compressor's strings run longer.
#pragma once

#include "gif/GifDither.h"

#include <cstdint>
#include <vector>

namespace kelvara {

// Rewrites a frame's indices (rows of the frame's width, top row first, into table) so that the
// GIF compressor finds longer strings: it runs the compressor's own greedy parse (GIF89a,
// Appendix F: strings of up to 4095 codes, then a clear code), and where the string would end at
// a pixel, continues it with the nearest entry whose colour lies within tolerance of the
// pixel's own in every channel, if the string table holds that continuation. Every pixel's
// colour stays within tolerance of its own; a tolerance of 0 changes nothing. Indices past the
// table are left as they are.
// With fixed given, the pixels whose byte in it is not 0 keep their index.
void lossyIndices(std::vector<uint8_t>& indices, const std::vector<GifRGB>& table, int tolerance,
                  const std::vector<uint8_t>* fixed = nullptr);

} // namespace kelvara
