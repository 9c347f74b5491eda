// The memory a job may use and its estimates of what it will need. A job works out its peak from
// the frames it will hold at the size it will hold them, before it reads anything, and refuses
// to start past the limit rather than taking the machine's memory for minutes.
#pragma once

#include "raster/Error.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kelvara {

// What a job may use unless told otherwise: 2 GiB.
inline constexpr uint64_t DefaultMemoryLimit = uint64_t(2) << 30;

// Raised before a job starts when its estimate is past the limit. The message says what would
// be held, how much it needs and what to change.
class MemoryLimitError : public Error {
public:
    using Error::Error;
};

// A GIF job that keeps every frame until the end (the desktop program's, --optimize, --max-size,
// backward with the frames in memory): each frame as a 24-bit picture, its reduced indices and
// the document's copies, plus the work of building one frame.
uint64_t heldGifFramesMemory(int width, int height, int64_t frames);

// A GIF written as it is made: only the frames in flight between the reader, the workers and the
// writer are held.
uint64_t streamedGifFramesMemory(int width, int height, int framesInFlight);

// Stills kept as 24-bit pictures (extracted frames, pictures of an animation), each with the
// work of converting one.
uint64_t heldPicturesMemory(int width, int height, int64_t pictures);

// "A GIF of 256 frames of 1920 x 1080 pixels needs about 2610 MB of memory, more than the 2048 MB
// a job may use: choose a smaller size or fewer frames." what is the thing held ("A GIF of 256
// frames of 1920 x 1080 pixels"), advice what would bring the need down.
inline constexpr const char* SmallerOrFewer = "choose a smaller size or fewer frames";
std::string memoryRefusal(const std::string& what, uint64_t needed, uint64_t limit,
                          const char* advice = SmallerOrFewer);

// Throws MemoryLimitError with memoryRefusal's text when needed is past limit.
void checkMemoryNeed(const std::string& what, uint64_t needed, uint64_t limit,
                     const char* advice = SmallerOrFewer);

// "A GIF of N frames of W x H pixels", the words of a refusal.
std::string gifFramesWords(int64_t frames, int width, int height);

// A memory size as typed: a whole number of bytes, or with K, M or G (also KB, MB, GB, KiB, MiB,
// GiB) counting 1024s, as memory is counted. Nothing when the text is not such a size or is 0.
std::optional<uint64_t> memorySizeFromText(const std::string& text);

} // namespace kelvara
