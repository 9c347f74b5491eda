// Fitting an animated GIF under a file size: the largest GIF size (aspect ratio kept), then if
// need be a larger frame step, whose file is not over the limit.
#pragma once

#include "convert/AviToGif.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvara {

// A size limit as typed: a whole or decimal number of bytes with an optional K or M (powers of
// 1000, as upload limits count), the B after it optional: "10M", "2.5MB", "800K", "500000".
// Nothing when the text is not one or gives less than one byte.
std::optional<uint64_t> byteLimitFromText(const std::string& text);

// A file size for people: "9.6 MB", "812.4 KB", "950 bytes" (powers of 1000, rounded down so
// that a size under a limit never reads as over it).
std::string byteSizeText(uint64_t bytes);

// "every frame", "every 2nd frame", "every 3rd frame", "every 11th frame".
std::string frameStepText(int step);

struct GifSizeFitOptions {
    uint64_t limit = 0; // bytes
    // The smaller side of the GIF is not made smaller than this (nor than it is at the start).
    int minimumSide = 64;
    // The delay grows with the step, so that the GIF keeps the video's speed; a typed delay
    // stays as it is.
    bool delayFollowsStep = false;
    // The most frames the GIF may hold, 0 for no limit: the search starts at the smallest step
    // that keeps to it.
    int64_t maxFrames = 0;
};

struct GifSizeFitResult {
    bool fits = false;
    int width = 0;
    int height = 0;
    int step = 1;
    int level = 100;           // the high quality mode's level
    uint64_t bytes = 0;        // the file's size (the one chosen, or the smallest tried)
    int encodes = 0;           // whole GIFs encoded, samples included
    std::vector<uint8_t> file; // the GIF's bytes when it fits
    AviToGifResult job;        // the run that made the file (or the last one tried)
    std::string summary;       // "480x270, every frame, 9.6 MB"
    std::string message;       // why nothing fits
};

// Converts with options (their own size and step are where the search starts) and keeps the
// largest result whose file fits: it encodes a sample of the frames to predict the size, then
// confirms with the whole GIF and corrects until the file is under the limit. The table and the
// built document hold the last run (the chosen one when it fits). The job's own warnings and
// errors pass through unchanged (result.job).
GifSizeFitResult fitGifUnderSize(const AviToGifOptions& options, const GifSizeFitOptions& fit,
                                 FrameTable& table, TGIFDocument& built, JobObserver& observer);

} // namespace kelvara
