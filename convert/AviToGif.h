// The AVI-to-animated-GIF job: frames of a video, cropped, scaled, sampled and optionally
// reversed, become a looping GIF document.
#pragma once

#include "convert/JobMemory.h"
#include "convert/JobObserver.h"
#include "gif/GifBuildOptions.h"
#include "raster/Bitmap.h"
#include "raster/FrameTable.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kelvara {

class Stream;
class TGIFDocument;

// How the GIF size follows from the GIF base size (the picked area).
enum class GifSizeMode { AsArea, Scale, Specified };

// Which frames to convert.
enum class FrameChoice { All, FrameRange, TimeRange };

enum class Direction { Forward, Backward };

// What the frame limit counts: the whole range, before the sampling step thins it, against 256
// frames (the tab's rule); or the frames the GIF will hold after it, against maxFrames (the
// command line's --max-frames, no limit by default).
enum class FrameLimitRule { WholeRange, AfterStep };

// The nine scale ratios of the scale list, ' 5:1' to ' 1:5'. Each is a 32-bit float: the fourth
// from the end is the float nearest 0.333, not one third.
inline constexpr float ScaleRatios[9] = {5.0f, 4.0f, 3.0f, 2.0f, 1.0f, 0.5f, 0.333f, 0.25f, 0.2f};
inline constexpr const char* ScaleRatioNames[9] = {"5:1", "4:1", "3:1", "2:1", "1:1",
                                                   "1:2", "1:3", "1:4", "1:5"};

struct AviToGifOptions {
    std::string videoPath;
    int64_t frameCount = 0; // N, as the player reports it
    int64_t lengthMs = 0;   // L
    int baseWidth = 0;      // GIF base size: the size of the area
    int baseHeight = 0;
    Rect crop; // the area of each frame, right and bottom exclusive
    GifSizeMode sizeMode = GifSizeMode::AsArea;
    int scaleIndex = 4; // into ScaleRatios
    int specifiedWidth = 0;
    int specifiedHeight = 0;
    FrameChoice frames = FrameChoice::All;
    int64_t firstFrame = 1; // frame range, 1-based, inclusive
    int64_t lastFrame = 1;
    int64_t fromSecond = 0; // time range, in whole seconds as the tab's spin edits give it
    int64_t toSecond = 0;
    // The time range to the microsecond (fractions and clock times typed on the command line);
    // when set, it is taken instead of the whole seconds.
    std::optional<int64_t> fromUs;
    std::optional<int64_t> toUs;
    int samplingStep = 1;
    // When above 0, the frames are picked by time instead of every step-th: for each tick of this
    // rate (divided by the sampling step) from the start of the first frame of the range, the
    // picture on display then, taken once however many ticks it shows (framesAtRate); with delays
    // from the video's timing each lasts its ticks, the rounding carried.
    double frameRate = 0;
    // The GIF plays its frames forward, then back without repeating the turning frames: 1..n, then
    // n-1..2, each showing as long as it did the first time (the rounding carried throughout).
    bool bounce = false;
    int delayMs = 100;
    // When set, the delay of every frame in hundredths of a second instead of delayMs / 10.
    std::optional<int> delayHundredths;
    // Each frame lasts as long as its picture shows in the video, until the next picture taken
    // (gifDelaysForDurations), instead of one delay for all; a video that tells no timing takes
    // the delay above.
    bool delaysFromTimes = false;
    // The looping block's count: 0 plays for ever.
    uint16_t loopCount = 0;
    FrameLimitRule limitRule = FrameLimitRule::WholeRange;
    int64_t maxFrames = 0; // AfterStep: the most frames the GIF may hold; 0 for no limit
    Direction direction = Direction::Forward;
    // Worker threads that reduce (and for a streamed GIF compress) the frames; 0 for one per
    // core. Frames are reduced independently, so the bytes are the same for any number.
    int threads = 0;
    // The memory the job may use: a run whose frames would need more is refused before anything
    // is read (MemoryLimitError); a GIF written as it is made keeps fewer frames in flight first.
    uint64_t memoryLimit = DefaultMemoryLimit;
    // The colour quality and the frame storage; the defaults make the classic GIF.
    GifBuildOptions build;
};

enum class AviToGifOutcome {
    Built,    // the document was built and moved into the result
    Warning,  // the range was refused; message holds the warning's text
    NoFrames, // no frame could be read; the result was left as it was
};

struct AviToGifResult {
    AviToGifOutcome outcome = AviToGifOutcome::Built;
    std::string message;
    int gifWidth = 0;
    int gifHeight = 0;
    int frames = 0;          // the GIF's frame count (with the way back of a bounce): fewer than run.read
                             // when Abort came while building
    int delayHundredths = 0; // the first frame's, when each frame has its own
    std::string statusText;  // "Size: W x H pixels  Frames: n"
    // The frames read of those the range and step ask for, and why reading stopped. A short run
    // (aborted, or a frame the video does not give) builds from the frames read.
    FrameRun run;
    // Abort ended the job early: while reading (every frame read is built), while building (the
    // frames reduced so far are kept) or while storing frames as their changes (the rest stay
    // whole).
    bool aborted = false;
};

namespace AviToGifMessages {
inline constexpr const char* TooManyFrames =
    "Do not make a GIF file, which contains more than 256 frames.\r\nIt can break work of the program.";
inline constexpr const char* CheckRange = "Check up a range of frames.";
inline constexpr const char* NoFramesRead = "No frames were read: nothing was built.";
inline constexpr const char* NothingBuilt = "Aborted before the first frame was built: nothing was built.";
} // namespace AviToGifMessages

// The GIF size the options give: the area, the area scaled (multiplied in extended precision and
// truncated), or the typed size.
void gifSizeFor(const AviToGifOptions& options, int& width, int& height);

// The GIF delay a typed text gives: its integer, or 100 when it is not one or lies outside
// 10..5000.
int gifDelayFromText(const std::string& text);

// A time as typed, in microseconds: seconds with an optional fraction ("2", "1.5"), or a clock
// time "M:SS.f" or "H:MM:SS.f" (fraction optional, minutes and seconds below 60). Digits past the
// microsecond are dropped. Nothing when the text is not such a time.
std::optional<int64_t> timeFromText(const std::string& text);

// The other side of a size typed with "Maintain aspect ratio": Round(value / from x to), ties to
// even on the exact quotient.
int aspectSide(int value, int fromSide, int toSide);

// The frames a range of count frames gives with a sampling step: every step-th from the first.
int64_t sampledFrameCount(int64_t count, int step);

// Runs the job. Frames go into entries 1..n of the table; on success the built document takes over
// the run's document (the copy's rules and progress, without holding both). A time range of an AVI
// file maps to frames by the frame count and the length; in other files a picture belongs to it
// when its display time, counted from the first picture, lies within it. Refused input (a step
// below 1, an empty GIF size, a range outside the video) raises Error before anything is read; a
// frame source that cannot be opened raises FrameSourceError; a frame that cannot be read ends the
// run, as the result's run tells.
//
// Reading and building overlap: each frame is reduced on the worker threads as soon as it is read
// (once all are read and reversed, going backward). An Abort seen while reading ends the reading
// and every frame read is built; one seen after the reading ends the building, and the GIF holds
// the frames reduced so far; one seen while optimising stops it, every frame kept. While building after the
// reading the progress bar counts the frames built.
AviToGifResult convertAviToGif(const AviToGifOptions& options, FrameTable& table, TGIFDocument& built,
                               JobObserver& observer);

// Only the reading of the job: the frames go into entries 1..n of the table in reading order, at
// the GIF size, and nothing is built. The result tells the frames read and why reading stopped.
AviToGifResult readGifFrames(const AviToGifOptions& options, FrameTable& table, JobObserver& observer);

// The same conversion written into out as it is made, in memory bounded by the pipeline's
// window whatever the number of frames: the command line's GIFs of any length. The bytes are
// those convertAviToGif's document writes for the same frames. Going backward the frames are
// compressed in reading order into a spill file in spillFolder (a folder on the output's file
// system, or empty for the system's temporary folder), then written in reverse. Nothing is
// written to out until the first frame is ready, so a run that reads no frame writes nothing.
// With build.optimize (forward only) each frame is stored as its change from the one before; one
// colour table shared by every frame is not tried, since that needs every frame first.
AviToGifResult streamAviToGif(const AviToGifOptions& options, Stream& out, JobObserver& observer,
                              const std::string& spillFolder = {});

} // namespace kelvara
