// The transition job: the two sides' pictures (picture file, video frame or empty picture), the
// GIF size they grow, the duration and delay rules, and the run that renders frames 0..N into the
// transition frame table and hands each to a frame sink.
#pragma once

#include "convert/JobObserver.h"
#include "convert/TransitionRenderer.h"
#include "raster/Bitmap.h"
#include "raster/Error.h"
#include "raster/FrameTable.h"

#include <string>

namespace kelvara {

inline constexpr int MaxTransitionSteps = 50;
// The memory a run may use for its frames, work surfaces and GIF. A run that would need more is
// refused before it starts.
inline constexpr uint64_t TransitionMemoryBudget = uint64_t(2) << 30;

namespace TransitionMessages {
inline constexpr const char* EmptySize = "The GIF size must be at least 1 x 1";
inline constexpr const char* NoVideoFrame = "The frame could not be read from the video";
inline constexpr const char* StepsOutOfRange = "The number of steps must be 1 to 50";
} // namespace TransitionMessages

enum class TransitionSideKind { Source, Target };

// One side of the transition, as its controls hold it.
struct TransitionSide {
    Bitmap holder;  // the picture reader fills this; it keeps its picture when a file is not read
    Bitmap picture; // what a run draws onto the side's surface
    Color background = ColorWhite;
    bool emptyToggleDown = true;
    std::string sizeLabel = "Size:";
    bool sizeLabelVisible = false;
};

// The four work surfaces of a run and the picture each finished frame is handed on to.
struct TransitionSurfaces {
    Bitmap source, target, background, output;
    Bitmap shown;
};

// The tab's settings and the state the main window keeps for it.
struct TransitionTab {
    TransitionSide sourceSide;
    TransitionSide targetSide;
    // The transition GIF size the open handlers grow, and the spin edits a run reads.
    int gifWidth = 10;
    int gifHeight = 10;
    int spinWidth = 10;
    int spinHeight = 10;
    int steps = 10; // 1..50
    // The memory a run may use: one that would need more is refused before it starts.
    uint64_t memoryLimit = TransitionMemoryBudget;
    int durationMs = 1000;   // 10..5000
    int effect = 0;          // read afresh for every frame of a run
    int builtFrameCount = 0; // frames of the animation built last
    TransitionSurfaces surfaces;
    // The random effects' generator, carried from run to run.
    TransitionRandom random;

    TransitionSide& side(TransitionSideKind kind) {
        return kind == TransitionSideKind::Source ? sourceSide : targetSide;
    }
    Bitmap& surface(TransitionSideKind kind) {
        return kind == TransitionSideKind::Source ? surfaces.source : surfaces.target;
    }
};

// The duration a typed text gives: its integer, or 1000 when it is not one; then clamped to
// 10..5000.
int transitionDurationFromText(const std::string& text);

// The memory a run of steps + 1 frames of width x height needs, about: each frame kept as a 24-bit
// picture, as a reduced frame of the GIF and in the GIF's copy, the surfaces beside them.
uint64_t transitionMemoryNeeded(int width, int height, int steps);
// The message refusing a run that needs more than the limit.
std::string transitionTooLargeMessage(int width, int height, int steps,
                                      uint64_t limit = TransitionMemoryBudget);

// Hundredths of a second per frame: Trunc(duration / (steps x 10)), at least 1.
int transitionDelay(int durationMs, int steps);

// "Open image": reads the file into the side's holder by its extension (a file of an unknown
// extension is not read and the holder keeps its picture: the result is false), then takes the
// holder's picture for the side and grows the GIF size to fit it. Reader errors propagate and
// leave the side unchanged.
bool openTransitionPicture(TransitionTab& tab, TransitionSideKind kind, const std::string& path);

// The frame number a typed text gives for a video of frameCount frames: its integer, or 1 when it
// is not one, below 1 or past the end.
int64_t transitionFrameNumber(const std::string& text, int64_t frameCount);

// "Open image from a AVI": frame n (1-based) of the video becomes the side's picture; the size
// label and the GIF size follow the video's size. A frame the video does not give raises Error
// (NoVideoFrame, followed by the frame reader's reason when decoding failed) and leaves the side
// unchanged; frame source errors propagate likewise.
void openTransitionVideoFrame(TransitionTab& tab, TransitionSideKind kind, const std::string& videoPath,
                              int64_t frameNumber);

// "Empty image": with the other side's toggle down the GIF size goes back to 10 x 10; the side's
// picture becomes 192 x 136 of its background colour of this moment.
void setTransitionEmptyPicture(TransitionTab& tab, TransitionSideKind kind, bool toggleDown);

// Receives each stored frame of a run, in order: the table entry it was stored in, which stays
// unchanged until the run ends.
class TransitionFrameSink {
public:
    virtual ~TransitionFrameSink() = default;
    virtual void addFrame(const Bitmap& frame, int index, int delayHundredths) = 0;
};

struct TransitionRunResult {
    int width = 0;
    int height = 0;
    int delayHundredths = 0;
    int frames = 0; // the built frame count: frames in the table and given to the sink
    bool aborted = false;
};

// "Convert": prepares the surfaces from the spin edits' size and the sides, then renders frames
// 0..steps; frame i goes to entry i + 1 of the table and then to the sink. The observer's
// progress runs 0..steps + 1; an abort seen after a frame is rendered keeps the frames stored
// before it. Raises Error before anything changes when the size is 0 in either direction
// (EmptySize), the steps lie outside 1..50 (StepsOutOfRange) or the run would need more memory
// than TransitionMemoryBudget (transitionTooLargeMessage()).
TransitionRunResult runTransition(TransitionTab& tab, FrameTable& table, TransitionFrameSink& sink,
                                  JobObserver& observer);

} // namespace kelvara
