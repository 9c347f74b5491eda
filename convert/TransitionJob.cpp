// The transition job: image sources, GIF size and duration rules, and the frame loop.
#include "convert/TransitionJob.h"

#include "convert/JobMemory.h"
#include "input/PictureReader.h"
#include "video/FrameSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <optional>

namespace kelvara {

namespace {

// A whole decimal integer of the 32-bit range, as the edits accept one.
std::optional<int64_t> parseWholeNumber(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return value;
}

// Grows the GIF size to hold a picture: the height first, then the width; it never shrinks.
void growGifSize(TransitionTab& tab, int width, int height) {
    if (tab.gifHeight < height) {
        tab.gifHeight = height;
        tab.spinHeight = height;
    }
    if (tab.gifWidth < width) {
        tab.gifWidth = width;
        tab.spinWidth = width;
    }
}

std::string sizeText(int width, int height) {
    return "Size: " + std::to_string(width) + "x" + std::to_string(height);
}

// A surface of the run: height then width, filled with the colour, the picture drawn unscaled at
// the top left and cut at the right and bottom.
void prepareSurface(Bitmap& surface, int width, int height, Color color, const Bitmap* picture) {
    surface.SetPixelFormat(PixelFormat::Bits24);
    surface.SetHeight(height);
    surface.SetWidth(width);
    surface.Canvas().Brush.Color = color;
    surface.Canvas().FillRect({0, 0, width, height});
    if (picture)
        surface.Canvas().Draw(0, 0, *picture);
}

} // namespace

int transitionDurationFromText(const std::string& text) {
    const int64_t value = parseWholeNumber(text).value_or(1000);
    return static_cast<int>(std::clamp<int64_t>(value, 10, 5000));
}

uint64_t transitionMemoryNeeded(int width, int height, int steps) {
    // Per frame: the 24-bit table entry (3 bytes a pixel), the reduced frame and its display
    // picture in the run's document and in the built copy (4), the GIF written at the end (1).
    // The four work surfaces and the shown copy count as two frames more.
    const uint64_t pixels = uint64_t(std::max(width, 0)) * uint64_t(std::max(height, 0));
    return (uint64_t(std::max(steps, 0)) + 1 + 2) * pixels * 8;
}

std::string transitionTooLargeMessage(int width, int height, int steps, uint64_t limit) {
    const auto megabytes = [](uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20); };
    return "A transition of " + std::to_string(steps + 1) + " frames of " + std::to_string(width) + " x " +
           std::to_string(height) + " pixels needs about " +
           megabytes(transitionMemoryNeeded(width, height, steps)) + " MB of memory, more than the " +
           megabytes(limit) + " MB a transition may use: choose a smaller GIF size or fewer steps.";
}

int transitionDelay(int durationMs, int steps) {
    const double delay = static_cast<double>(durationMs) / (static_cast<double>(steps) * 10.0);
    return std::max(1, static_cast<int>(delay));
}

bool openTransitionPicture(TransitionTab& tab, TransitionSideKind kind, const std::string& path) {
    TransitionSide& side = tab.side(kind);
    // An unknown extension is not read; the side goes on with what the holder had.
    const bool read = readPictureFile(path, side.holder);
    side.emptyToggleDown = false;
    side.sizeLabel = sizeText(side.holder.Width(), side.holder.Height());
    side.sizeLabelVisible = true;
    side.picture.Assign(side.holder);
    growGifSize(tab, side.picture.Width(), side.picture.Height());
    return read;
}

int64_t transitionFrameNumber(const std::string& text, int64_t frameCount) {
    const int64_t n = parseWholeNumber(text).value_or(1);
    return (n > frameCount || n < 1) ? 1 : n;
}

void openTransitionVideoFrame(TransitionTab& tab, TransitionSideKind kind, const std::string& videoPath,
                              int64_t frameNumber) {
    FrameReader reader;
    reader.open(videoPath);
    const VideoFacts facts = reader.facts();
    const FrameRead read = reader.read(frameNumber - 1);
    if (!read.picture)
        throw Error(read.error.empty() ? TransitionMessages::NoVideoFrame
                                       : std::string(TransitionMessages::NoVideoFrame) + ": " + read.error);
    const Bitmap* frame = read.picture;
    TransitionSide& side = tab.side(kind);
    side.emptyToggleDown = false;
    // The label and the growth follow the video's size, not the decoded bitmap's.
    side.sizeLabel = sizeText(facts.width, facts.height);
    side.sizeLabelVisible = true;
    growGifSize(tab, facts.width, facts.height);
    side.picture.Assign(*frame);
    reader.close();
}

void setTransitionEmptyPicture(TransitionTab& tab, TransitionSideKind kind, bool toggleDown) {
    TransitionSide& side = tab.side(kind);
    side.emptyToggleDown = toggleDown;
    const TransitionSide& other = tab.side(kind == TransitionSideKind::Source ? TransitionSideKind::Target
                                                                              : TransitionSideKind::Source);
    if (other.emptyToggleDown) {
        tab.gifHeight = tab.gifWidth = 10;
        tab.spinHeight = tab.spinWidth = 10;
    }
    // The picture keeps the colour of this moment; a later colour change does not recolour it.
    Bitmap& surface = tab.surface(kind);
    prepareSurface(surface, 192, 136, side.background, nullptr);
    side.picture.Assign(surface);
    side.sizeLabel = "Size: ";
    side.sizeLabelVisible = false;
    surface.SetHeight(1);
    surface.SetWidth(1);
}

TransitionRunResult runTransition(TransitionTab& tab, FrameTable& table, TransitionFrameSink& sink,
                                  JobObserver& observer) {
    const int H = tab.spinHeight, W = tab.spinWidth;
    const int N = tab.steps;
    // Surfaces of 0 pixels cannot make a frame; the GIF would have none worth the name.
    if (W < 1 || H < 1)
        throw Error(TransitionMessages::EmptySize);
    if (N < 1 || N > MaxTransitionSteps || N + 1 > table.size())
        throw Error(TransitionMessages::StepsOutOfRange);
    if (transitionMemoryNeeded(W, H, N) > tab.memoryLimit)
        throw MemoryLimitError(transitionTooLargeMessage(W, H, N, tab.memoryLimit));

    TransitionSurfaces& s = tab.surfaces;
    prepareSurface(s.source, W, H, tab.sourceSide.background, &tab.sourceSide.picture);
    prepareSurface(s.target, W, H, tab.targetSide.background, &tab.targetSide.picture);
    prepareSurface(s.background, W, H, tab.sourceSide.background, nullptr);
    s.output.SetPixelFormat(PixelFormat::Bits24);
    s.output.SetSize(W, H);
    TransitionRunState runState; // placed count 0

    TransitionRunResult result;
    result.width = W;
    result.height = H;
    result.delayHundredths = transitionDelay(tab.durationMs, N);

    const int maximum = N + 1;
    observer.setProgressRange(0, maximum);
    observer.setProgressPosition(0);
    const ProgressReset resetProgress(observer, maximum);

    tab.builtFrameCount = 0;
    for (int i = 0; i <= N; ++i) {
        RenderTransitionFrame(tab.effect, i, N, s.source, s.target, s.background, s.output, runState,
                              tab.random);
        observer.setProgressPosition(i + 1);
        pumpJobMessages(observer);
        if (observer.abortRequested()) {
            result.aborted = true;
            break;
        }
        const int k = ++tab.builtFrameCount;
        Bitmap& entry = table.entry(k);
        entry.SetPixelFormat(PixelFormat::Bits24);
        entry.SetWidth(W);
        entry.SetHeight(H);
        entry.Canvas().Draw(0, 0, s.output);
        pumpJobMessages(observer);
        // The entry, a copy of O that stays as it is for the rest of the run.
        sink.addFrame(entry, i, result.delayHundredths);
        // The finished frame is handed on; O's next write gives it a picture and context of its own.
        s.shown.Assign(s.output);
        result.frames = k;
    }
    return result;
}

} // namespace kelvara
