// Pixel sequences that drive the GIF engine's LZW table into its limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvara::test {

// Indexes below 2^bits (2 to 6 bits) whose strings, right from the first clear, all hash into the
// quadratic residues of the engine's 8009-slot table until that class of 4004 slots is full,
// followed by `tail` indexes (or a few more, to fill the last row of width) that repeat a short
// random run: its new strings partly find their chain full, and the repeats look for them.
std::vector<uint8_t> fullChainIndexes(int bits, size_t tail, int width, uint32_t seed);

} // namespace kelvara::test
