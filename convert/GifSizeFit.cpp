// Fitting an animated GIF under a file size.
#include "convert/GifSizeFit.h"

#include "gif/GifDocument.h"
#include "raster/Stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace kelvara {

namespace {

// What one frame costs whatever its size: its colour table, descriptor and control block.
constexpr double FrameOverhead = 3 * 256 + 20;
// The header, the looping block and the trailer.
constexpr double FileOverhead = 40;
// The search aims a little under the limit, so that the first whole file usually fits.
constexpr double Aim = 0.96;
// A file this close to the limit is kept without trying a larger size.
constexpr double CloseEnough = 0.90;
// Frames encoded to predict the size of the whole GIF.
constexpr int SampleFrames = 12;
constexpr int MaxWholeEncodes = 8;

// The frames of the range before the step: what the job will count, as far as the options tell.
int64_t rangeCount(const AviToGifOptions& options) {
    switch (options.frames) {
    case FrameChoice::All:
        return options.frameCount;
    case FrameChoice::FrameRange:
        return options.lastFrame - options.firstFrame + 1;
    case FrameChoice::TimeRange: {
        if (options.lengthMs <= 0)
            return options.frameCount;
        const int64_t fromUs = options.fromUs.value_or(options.fromSecond * 1'000'000);
        const int64_t toUs = options.toUs.value_or(options.toSecond * 1'000'000);
        return static_cast<int64_t>(double(toUs - fromUs) / (double(options.lengthMs) * 1000) *
                                    double(options.frameCount)) +
               1;
    }
    }
    return options.frameCount;
}

// A measured encode: frames of size (scale) at a step, costing this many bytes per frame.
struct Measure {
    double scale = 1;
    double frameBytes = 0;
};

} // namespace

std::optional<uint64_t> byteLimitFromText(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    double unit = 1;
    std::string number = text;
    // "10MB" and "800KB" say the same as "10M" and "800K".
    if (number.size() >= 2 && (number.back() == 'B' || number.back() == 'b') &&
        std::string("KkMm").find(number[number.size() - 2]) != std::string::npos)
        number.pop_back();
    const char last = number.back();
    if (last == 'K' || last == 'k')
        unit = 1e3;
    else if (last == 'M' || last == 'm')
        unit = 1e6;
    if (unit != 1)
        number.pop_back();
    if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(number.begin(), number.end(), '.') > 1 || number == "." || number.size() > 15)
        return std::nullopt;
    const double bytes = std::floor(std::stod(number) * unit);
    if (!(bytes >= 1) || bytes > 1e15)
        return std::nullopt;
    return static_cast<uint64_t>(bytes);
}

std::string byteSizeText(uint64_t bytes) {
    char text[48];
    if (bytes >= 1'000'000)
        std::snprintf(text, sizeof text, "%llu.%llu MB", static_cast<unsigned long long>(bytes / 1'000'000),
                      static_cast<unsigned long long>(bytes / 100'000 % 10));
    else if (bytes >= 1000)
        std::snprintf(text, sizeof text, "%llu.%llu KB", static_cast<unsigned long long>(bytes / 1000),
                      static_cast<unsigned long long>(bytes / 100 % 10));
    else
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    return text;
}

std::string frameStepText(int step) {
    if (step <= 1)
        return "every frame";
    const int tens = step % 100 / 10, units = step % 10;
    const char* suffix = "th";
    if (tens != 1 && units == 1)
        suffix = "st";
    else if (tens != 1 && units == 2)
        suffix = "nd";
    else if (tens != 1 && units == 3)
        suffix = "rd";
    return "every " + std::to_string(step) + suffix + " frame";
}

GifSizeFitResult fitGifUnderSize(const AviToGifOptions& options, const GifSizeFitOptions& fit,
                                 FrameTable& table, TGIFDocument& built, JobObserver& observer) {
    GifSizeFitResult result;
    int baseWidth = 0, baseHeight = 0;
    gifSizeFor(options, baseWidth, baseHeight);
    const int baseStep = std::max(1, options.samplingStep);
    if (baseWidth < 1 || baseHeight < 1 || fit.limit == 0) {
        // Nothing to search: the job refuses the size itself.
        result.job = convertAviToGif(options, table, built, observer);
        result.message = result.job.message;
        return result;
    }
    const int64_t count = std::max<int64_t>(1, rangeCount(options));
    const double smallestScale =
        std::min(1.0, double(std::max(1, fit.minimumSide)) / double(std::min(baseWidth, baseHeight)));
    const double limit = double(fit.limit);
    auto sizeAt = [&](double scale, int& width, int& height) {
        width = std::clamp(static_cast<int>(std::lround(baseWidth * scale)), 1, baseWidth);
        height = std::clamp(static_cast<int>(std::lround(baseHeight * scale)), 1, baseHeight);
    };
    auto framesAt = [&](int step) { return sampledFrameCount(count, step); };

    // One encode: every-th frame of those the step gives. Only a whole encode (every = 1) keeps
    // its bytes.
    struct Trial {
        bool built = false;
        uint64_t bytes = 0;
        int frames = 0;
    };
    auto encode = [&](double scale, int step, int every) {
        AviToGifOptions o = options;
        o.sizeMode = GifSizeMode::Specified;
        sizeAt(scale, o.specifiedWidth, o.specifiedHeight);
        o.samplingStep = step * every;
        if (fit.delayFollowsStep && options.delayHundredths)
            o.delayHundredths = static_cast<int>(
                std::clamp<long>(std::lround(double(*options.delayHundredths) * step / baseStep), 2, 65535));
        Trial trial;
        result.job = convertAviToGif(o, table, built, observer);
        ++result.encodes;
        if (result.job.outcome != AviToGifOutcome::Built)
            return trial;
        MemoryStream bytes;
        built.SaveToStream(bytes);
        trial.built = true;
        trial.bytes = bytes.size();
        trial.frames = result.job.frames;
        if (every == 1) {
            result.file = std::move(bytes.bytes());
            result.bytes = trial.bytes;
            result.width = o.specifiedWidth;
            result.height = o.specifiedHeight;
            result.step = step;
        }
        return trial;
    };
    auto measured = [](double scale, const Trial& trial) {
        const double perFrame = (double(trial.bytes) - FileOverhead) / std::max(1, trial.frames);
        return Measure{scale, std::max(perFrame, FrameOverhead + 1)};
    };
    // The largest scale (at most 1) whose predicted file at this step is under the aim: the part
    // of a frame above its fixed cost follows the pixel count.
    auto scaleFor = [&](const Measure& m, int step) {
        const double perFrame = (limit * Aim - FileOverhead) / double(framesAt(step));
        const double room = (perFrame - FrameOverhead) / (m.frameBytes - FrameOverhead);
        return room <= 0 ? 0.0 : std::min(1.0, m.scale * std::sqrt(room));
    };
    auto stopped = [&] { return !result.job.run.error.empty() || observer.abortRequested(); };

    double bestScale = -1;
    int bestStep = 0;
    // Whether the table, the document and result.file hold the best fit found.
    bool holdingBest = false;
    // The prediction: a sample of the frames at the starting size.
    int step = baseStep;
    if (fit.maxFrames > 0 && framesAt(step) > fit.maxFrames)
        step = static_cast<int>(std::min<int64_t>(count, (count + fit.maxFrames - 1) / fit.maxFrames));
    Measure m;
    {
        const int every = static_cast<int>(std::max<int64_t>(1, framesAt(step) / SampleFrames));
        const Trial sample = encode(1.0, step, every);
        if (!sample.built) {
            result.message = result.job.message;
            return result;
        }
        if (every == 1 && sample.bytes <= fit.limit)
            result.fits = true; // few frames: the sample is the whole GIF
        m = measured(1.0, sample);
    }

    for (int whole = 0; !result.fits && whole < MaxWholeEncodes && !stopped(); ++whole) {
        double scale = scaleFor(m, step);
        if (scale < smallestScale) {
            // The smallest size is too large with these frames: take fewer frames.
            scale = smallestScale;
            const double ratio = (scale / m.scale) * (scale / m.scale);
            const double perFrame = FrameOverhead + (m.frameBytes - FrameOverhead) * ratio;
            const double fitting = std::floor((limit * Aim - FileOverhead) / perFrame);
            const int64_t wanted = fitting < 1 ? count : (count + int64_t(fitting) - 1) / int64_t(fitting);
            step = static_cast<int>(std::clamp<int64_t>(std::max<int64_t>(wanted, step + 1), 1, count));
        }
        if (bestScale >= 0 && (step > bestStep || (step == bestStep && scale <= bestScale)))
            break; // nothing larger to try
        const Trial trial = encode(scale, step, 1);
        if (!trial.built)
            break;
        if (trial.bytes <= fit.limit) {
            bestScale = scale;
            bestStep = step;
            holdingBest = true;
            if (double(trial.bytes) >= limit * CloseEnough || (scale >= 1 && step == baseStep))
                break;
        } else {
            holdingBest = false;
            if (scale <= smallestScale && framesAt(step) == 1)
                break; // one frame at the smallest size is still too large
        }
        m = measured(scale, trial);
    }
    if (bestScale >= 0) {
        result.fits = true;
        if (!holdingBest) {
            // A larger try went over: the table and the document go back to the one that fits.
            encode(bestScale, bestStep, 1);
        }
    }
    if (result.fits) {
        result.summary = std::to_string(result.width) + "x" + std::to_string(result.height) + ", " +
                         frameStepText(result.step) + ", " + byteSizeText(result.bytes);
        return result;
    }
    result.file.clear();
    if (result.job.outcome != AviToGifOutcome::Built) {
        result.message = result.job.message;
    } else if (!stopped()) {
        const int64_t frames = framesAt(result.step);
        result.message = "No GIF of these frames fits under " + byteSizeText(fit.limit) +
                         ": the smallest tried, " + std::to_string(result.width) + "x" +
                         std::to_string(result.height) + " with " + std::to_string(frames) +
                         (frames == 1 ? " frame" : " frames") + ", takes " + byteSizeText(result.bytes) + ".";
    }
    return result;
}

} // namespace kelvara
