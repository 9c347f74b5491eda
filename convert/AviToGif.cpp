// The AVI-to-animated-GIF job.
#include "convert/AviToGif.h"

#include "gif/GifDocument.h"
#include "raster/Error.h"
#include "video/FrameSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

namespace kelvara {

namespace {

// Round(numerator / denominator), ties to even, for a non-negative numerator and a positive
// denominator.
int64_t roundHalfEven(int64_t numerator, int64_t denominator) {
    int64_t q = numerator / denominator, r = numerator % denominator;
    if (2 * r > denominator || (2 * r == denominator && (q & 1)))
        ++q;
    return q;
}

} // namespace

void gifSizeFor(const AviToGifOptions& options, int& width, int& height) {
    switch (options.sizeMode) {
    case GifSizeMode::AsArea:
        width = options.baseWidth;
        height = options.baseHeight;
        break;
    case GifSizeMode::Scale: {
        int index = std::clamp(options.scaleIndex, 0, 8);
        long double r = ScaleRatios[index];
        width = static_cast<int>(static_cast<long double>(options.baseWidth) * r);
        height = static_cast<int>(static_cast<long double>(options.baseHeight) * r);
        break;
    }
    case GifSizeMode::Specified:
        width = options.specifiedWidth;
        height = options.specifiedHeight;
        break;
    }
}

int gifDelayFromText(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value > 5000 || value < 10)
        return 100;
    return static_cast<int>(value);
}

int aspectSide(int value, int fromSide, int toSide) {
    if (fromSide <= 0 || value < 0 || toSide < 0)
        return 0;
    return static_cast<int>(roundHalfEven(int64_t(value) * toSide, fromSide));
}

AviToGifResult convertAviToGif(const AviToGifOptions& options, FrameTable& table, TGIFDocument& built,
                               JobObserver& observer) {
    AviToGifResult result;
    int gw = 0, gh = 0;
    gifSizeFor(options, gw, gh);
    result.gifWidth = gw;
    result.gifHeight = gh;
    result.delayHundredths = static_cast<uint16_t>(options.delayMs / 10);

    // The range, 1-based and inclusive.
    const int64_t n = options.frameCount;
    int64_t first = 1, last = n;
    if (options.frames == FrameChoice::FrameRange) {
        first = options.firstFrame;
        last = options.lastFrame;
    } else if (options.frames == FrameChoice::TimeRange) {
        if (options.lengthMs <= 0)
            throw Error("The video has no length, so a time range cannot be converted.");
        // The products are formed in 64 bits: seconds x frames x 1000 passes 2^31 on long videos.
        first =
            static_cast<int64_t>(static_cast<long double>(options.fromSecond * n * 1000) / options.lengthMs);
        last = static_cast<int64_t>(static_cast<long double>(options.toSecond * n * 1000) / options.lengthMs);
        // A range from 0 s starts at the first frame.
        first = std::max<int64_t>(first, 1);
    }
    const int64_t count = last - first + 1;
    if (count > 256) {
        result.outcome = AviToGifOutcome::Warning;
        result.message = AviToGifMessages::TooManyFrames;
        return result;
    }
    if (count <= 0) {
        result.outcome = AviToGifOutcome::Warning;
        result.message = AviToGifMessages::CheckRange;
        return result;
    }
    if (options.samplingStep < 1)
        throw Error("The frame sampling rate must be at least 1.");
    if (gw < 1 || gh < 1)
        throw Error("The GIF size must be at least 1 x 1 pixels, not " + std::to_string(gw) + " x " +
                    std::to_string(gh) + ".");
    if (gw > 10000 || gh > 10000)
        throw Error("The GIF size must not exceed 10000 x 10000 pixels.");
    if (first < 1 || last > n)
        throw Error("The frames must lie within 1.." + std::to_string(n) + ", not " + std::to_string(first) +
                    ".." + std::to_string(last) + ".");

    const int maximum = static_cast<int>(count);
    const int step = options.samplingStep;
    int position = 0;
    observer.setProgressRange(0, maximum);
    observer.setProgressPosition(0);

    struct ResetProgress {
        JobObserver& observer;
        ~ResetProgress() { observer.setProgressPosition(0); }
    } resetProgress{observer};

    FrameReader reader;
    reader.open(options.videoPath);
    auto document = std::make_unique<TGIFDocument>();
    document->SetReductionMode(8); // QuantizeWithSystemColors
    document->SetDitherKind(1);    // FloydSteinberg

    int builtCount = 0;
    for (int64_t cur = first; cur <= last;) {
        if (position < maximum) {
            position = std::min(maximum, position + (step == 1 ? 1 : step));
            observer.setProgressPosition(position);
        }
        pumpJobMessages(observer);
        if (observer.abortRequested())
            break;
        Bitmap* frame = reader.frame(cur - 1);
        if (!frame)
            break;
        const int k = ++builtCount;
        Bitmap& entry = table.entry(k);
        entry.SetWidth(gw);
        entry.SetHeight(gh);
        // A reduction here AND-combines dropped pixels: the entry's context is new.
        entry.Canvas().CopyRect(entry.Canvas().ClipRect(), frame->Canvas(), options.crop);
        pumpJobMessages(observer);
        cur += step;
    }
    result.frames = builtCount;
    result.statusText = "Size: " + std::to_string(gw) + " x " + std::to_string(gh) +
                        " pixels  Frames: " + std::to_string(builtCount);
    if (builtCount == 0) {
        result.outcome = AviToGifOutcome::NoFrames;
        result.message = AviToGifMessages::NoFramesRead;
        return result;
    }

    if (options.direction == Direction::Backward) {
        // The swaps go through the reader's work bitmap, which keeps the depth of the last frame.
        Bitmap& work = reader.workBitmap();
        work.SetWidth(gw);
        work.SetHeight(gh);
        for (int i = 1; i <= builtCount / 2; ++i) {
            Bitmap& front = table.entry(i);
            Bitmap& back = table.entry(builtCount + 1 - i);
            work.Canvas().Draw(0, 0, back);
            back.Canvas().Draw(0, 0, front);
            front.Canvas().Draw(0, 0, work);
        }
    }

    for (int i = 1; i <= builtCount; ++i) {
        const int j = document->AddFrame(table.entry(i));
        TGIFSubImage& frame = document->Frame(j);
        if (j == 0) {
            auto loop = std::make_unique<TGIFAppExtNSLoop>(&frame);
            loop->SetLoopCount(0);
            frame.Extensions().Append(std::move(loop));
        }
        auto control = std::make_unique<TGIFGraphicControlExtension>(&frame);
        control->SetDelayHundredths(static_cast<uint16_t>(result.delayHundredths));
        frame.Extensions().Append(std::move(control));
        pumpJobMessages(observer);
    }
    built.Assign(document.get());
    observer.setProgressPosition(maximum);
    pumpJobMessages(observer);
    return result;
}

} // namespace kelvara
