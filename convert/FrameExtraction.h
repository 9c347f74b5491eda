// The frame extraction job: a range of frames of a video, each stretched to the chosen size,
// kept in the extraction frame table.
#pragma once

#include "convert/JobMemory.h"
#include "convert/JobObserver.h"
#include "raster/Bitmap.h"
#include "raster/FrameTable.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kelvara {

struct FrameExtractionOptions {
    std::string videoPath;
    int64_t firstFrame = 1; // 1-based, inclusive
    int64_t lastFrame = 1;
    int videoWidth = 0; // the whole picture is copied from (0, 0, videoWidth, videoHeight)
    int videoHeight = 0;
    // The size of each frame, read again for every frame (the size spin edits).
    std::function<void(int& width, int& height)> frameSize;
    // Called after entry i (1-based) received frame number N.
    std::function<void(int entry, int64_t frameNumber)> frameAdded;
    // Where frame i goes instead of entry i of the table, when set: for a caller that hands each
    // frame on as it comes (in frameAdded) and keeps none, so that memory does not grow with the
    // frames.
    std::function<Bitmap&(int entry)> target;
    // The memory the frames may use: a run whose frames would need more is refused before
    // anything is read (MemoryLimitError).
    uint64_t memoryLimit = DefaultMemoryLimit;
};

enum class FrameExtractionOutcome { Extracted, Warning };

struct FrameExtractionResult {
    FrameExtractionOutcome outcome = FrameExtractionOutcome::Extracted;
    std::string message;
    int frames = 0; // entries filled
    // The frames read of those asked for, and why reading stopped.
    FrameRun run;
};

namespace FrameExtractionMessages {
inline constexpr const char* WrongRange = "This range of the frames is wrong";
inline constexpr const char* TooManyFrames =
    "Do not make sample more than 256 frames.\r\nIt can break work of the program.";
} // namespace FrameExtractionMessages

// The list text of an extracted frame: "Frame " + N.
std::string frameItemText(int64_t frameNumber);

// Where a thumbnail row of the frame list draws a picture of width x height pixels, for the row
// rectangle (left, top, right, bottom): unscaled when it fits 150 x 70, else scaled to fit with its
// proportions kept. scaled tells which.
struct ThumbnailPlacement {
    Rect rect;
    bool scaled = false;
};
ThumbnailPlacement thumbnailPlacement(const Rect& row, int width, int height);

// A frame the reader gave, as a 24-bit picture of width x height made from its whole rectangle:
// shared when it already is one, stretched otherwise.
void frameAtSize(Bitmap& frame, const Rect& whole, int width, int height, Bitmap& target);

// Runs the extraction. A range of fewer than 2 or more than 256 frames is refused with a
// warning; an abort or a frame the video cannot give ends it with the frames read so far, as the
// result's run tells. A frame source that cannot be opened raises FrameSourceError.
FrameExtractionResult extractFrames(const FrameExtractionOptions& options, FrameTable& table,
                                    JobObserver& observer);

} // namespace kelvara
