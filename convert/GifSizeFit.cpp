// Fitting an animated GIF under a file size.
#include "convert/GifSizeFit.h"

#include "convert/GifFramePipeline.h"
#include "gif/GifDocument.h"
#include "gif/GifOptimize.h"
#include "gif/GifTemporal.h"
#include "gif/GifTransparency.h"
#include "raster/Stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <thread>
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
int64_t wholeRangeCount(const AviToGifOptions& options) {
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

// The same, as a frame rate picks them: at most one a tick of the range's length, which the
// frame count and the length tell.
int64_t rangeCount(const AviToGifOptions& options) {
    const int64_t frames = wholeRangeCount(options);
    if (options.frameRate <= 0 || options.frameCount <= 0 || options.lengthMs <= 0)
        return frames;
    const double seconds = double(frames) * double(options.lengthMs) / 1000.0 / double(options.frameCount);
    return std::clamp<int64_t>(static_cast<int64_t>(std::ceil(seconds * options.frameRate - 1e-9)), 1,
                               std::max<int64_t>(frames, 1));
}

// The frames of a GIF of this many pictures taken: a bounce shows all but the turning ones twice.
int64_t playedCount(const AviToGifOptions& options, int64_t taken) {
    return options.bounce && taken >= 3 ? 2 * taken - 2 : taken;
}

// What the frames taken are, for the summary: "every 2nd frame", or with a frame rate the rate
// the step leaves: "12.5 fps".
std::string takenText(const AviToGifOptions& options, int step) {
    if (options.frameRate <= 0)
        return frameStepText(step);
    char text[32];
    std::snprintf(text, sizeof text, "%.3g fps", options.frameRate / std::max(1, step));
    return text;
}

// A measured encode: frames of size (scale) at a step, costing this many bytes per frame.
struct Measure {
    double scale = 1;
    double frameBytes = 0;
};

// ---- The high-quality fit: the level, the size and the frame rate chosen for the best picture ----

// The levels, sizes and steps the fit chooses among. Sizes go down by a tenth at a time.
constexpr int FitLevels[] = {100, 90, 80, 70, 60, 50, 40, 30, 20, 10, 1};
constexpr int FitLevelCount = int(sizeof FitLevels / sizeof FitLevels[0]);
constexpr double ScaleStep = 0.9;
// The high-quality fit encodes the whole GIF at most this often, and keeps a file this close to
// the limit.
constexpr int MaxConfirmEncodes = 5;
constexpr double CloseToLimit = 0.95;
// The prediction encodes a few runs of consecutive frames spread over the GIF.
constexpr int SampleRuns = 4;
constexpr int SampleRunLength = 4;

// A copy of a picture at another size, each pixel the mean of the pixels it covers.
std::unique_ptr<Bitmap> scaledCopy(Bitmap& source, int width, int height) {
    auto copy = std::make_unique<Bitmap>();
    copy->SetPixelFormat(PixelFormat::Bits24);
    copy->SetSize(width, height);
    if (width == source.Width() && height == source.Height()) {
        copy->Canvas().Draw(0, 0, source);
    } else {
        copy->Canvas().setStretchMode(StretchMode::Halftone);
        copy->Canvas().CopyRect(copy->Canvas().ClipRect(), source.Canvas(), source.Canvas().ClipRect());
    }
    return copy;
}

// The summed squared error, over the channels, of a reduced frame enlarged to the source's size
// (bilinear, as a viewer scales it) against the source, where the source is not transparent.
double shownError(const ReducedFrame& frame, const Bitmap& source) {
    const int W = source.Width(), H = source.Height(), w = frame.width, h = frame.height;
    if (w <= 0 || h <= 0 || frame.colors.empty())
        return 0;
    auto colour = [&](int x, int y, int c) {
        const uint8_t index = frame.indices[size_t(y) * size_t(w) + size_t(x)];
        const GifRGB& e = frame.colors[std::min<size_t>(index, frame.colors.size() - 1)];
        return c == 0 ? e.blue : c == 1 ? e.green : e.red;
    };
    double sum = 0;
    for (int Y = 0; Y < H; ++Y) {
        const double fy = std::clamp((Y + 0.5) * h / H - 0.5, 0.0, double(h - 1));
        const int y0 = int(fy), y1 = std::min(y0 + 1, h - 1);
        const double ty = fy - y0;
        const uint8_t* s = source.ScanLine(Y);
        const uint8_t* alpha = source.alphaPlane() ? source.alphaPlane() + size_t(Y) * size_t(W) : nullptr;
        for (int X = 0; X < W; ++X) {
            if (alpha && alpha[X] < GifAlphaThreshold)
                continue;
            const double fx = std::clamp((X + 0.5) * w / W - 0.5, 0.0, double(w - 1));
            const int x0 = int(fx), x1 = std::min(x0 + 1, w - 1);
            const double tx = fx - x0;
            for (int c = 0; c < 3; ++c) {
                const double top = colour(x0, y0, c) * (1 - tx) + colour(x1, y0, c) * tx;
                const double bottom = colour(x0, y1, c) * (1 - tx) + colour(x1, y1, c) * tx;
                const double d = top * (1 - ty) + bottom * ty - s[3 * X + c];
                sum += d * d;
            }
        }
    }
    return sum;
}

// What a choice is predicted to give, from the sample.
struct Prediction {
    uint64_t bytes = 0;
    double psnr = 0;
};

class QualitySearch {
public:
    QualitySearch(FrameTable& table, int frames, int width, int height, uint16_t delay)
        : m_table(table), m_frames(frames), m_width(width), m_height(height), m_delay(delay) {}

    // The sample's prediction for frames of the scale, every step-th frame, at the level.
    Prediction predict(double scale, int step, int level) {
        const auto key = std::make_tuple(scale, step, level);
        if (const auto found = m_predictions.find(key); found != m_predictions.end())
            return found->second;
        int w = 0, h = 0;
        sizeAt(scale, w, h);
        const int gifFrames = (m_frames + step - 1) / step;
        const int runs = std::min(SampleRuns, std::max(1, gifFrames / SampleRunLength));
        const int length = std::min(SampleRunLength, gifFrames);
        // What one run of the sample gives.
        struct Run {
            std::vector<const Bitmap*> pictures; // the GIF's frames of the run, at the size
            int start = 0;
            double firstBytes = 0, laterBytes = 0, error = 0, compared = 0;
            std::exception_ptr failure;
        };
        std::vector<Run> sample(static_cast<size_t>(runs));
        // The frames at the size are made here, one after the other; the runs then go on every core.
        for (int r = 0; r < runs; ++r) {
            Run& run = sample[size_t(r)];
            run.start = runs == 1 ? 0 : int(int64_t(r) * (gifFrames - length) / (runs - 1));
            for (int j = 0; j < length; ++j)
                run.pictures.push_back(&scaled(1 + (run.start + j) * step, w, h));
        }
        auto encodeRun = [&](Run& run) {
            try {
                auto temporal = std::make_shared<GifTemporalReducer>(level);
                const FrameReducer reducer = alphaReducer(
                    [temporal](const Bitmap& frame, uint64_t j) { return temporal->reduce(j, frame); },
                    FrameAlpha::Transparent);
                TGIFDocument document;
                MemoryStream whole;
                uint64_t first = 0;
                for (int j = 0; j < length; ++j) {
                    const int number = 1 + (run.start + j) * step; // the table entry the GIF frame shows
                    ReducedFrame reduced = reducer(*run.pictures[size_t(j)], uint64_t(j));
                    // The source frames the GIF frame stands for, until the next one.
                    for (int k = number; k < number + step && k <= m_frames; ++k) {
                        run.error += shownError(reduced, m_table.entry(k));
                        run.compared += 3.0 * m_width * m_height;
                    }
                    TGIFSubImage& image = document.Frame(document.addReducedFrame(std::move(reduced)));
                    appendAnimationBlocks(image, j, 0, m_delay);
                    if (j == 0) {
                        MemoryStream one;
                        document.SaveToStream(one);
                        first = one.size();
                    }
                }
                optimizeFrames(document, 1);
                document.SaveToStream(whole);
                run.firstBytes = double(first);
                run.laterBytes = double(whole.size() - std::min<uint64_t>(whole.size(), first));
            } catch (...) {
                run.failure = std::current_exception();
            }
        };
        const int threads = std::min(runs, pipelineThreads(0));
        std::vector<std::thread> workers;
        for (int t = 1; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (int r = t; r < runs; r += threads)
                    encodeRun(sample[size_t(r)]);
            });
        for (int r = 0; r < runs; r += threads)
            encodeRun(sample[size_t(r)]);
        for (std::thread& worker : workers)
            worker.join();
        double firstBytes = 0, laterBytes = 0, error = 0, compared = 0;
        int laterFrames = 0;
        for (const Run& run : sample) {
            if (run.failure)
                std::rethrow_exception(run.failure);
            firstBytes += run.firstBytes;
            laterBytes += run.laterBytes;
            error += run.error;
            compared += run.compared;
            laterFrames += length - 1;
        }
        Prediction p;
        const double perLater = laterFrames > 0 ? laterBytes / laterFrames : 0;
        p.bytes = uint64_t(firstBytes / runs + perLater * (gifFrames - 1));
        const double mse = compared > 0 ? error / compared : 0;
        p.psnr = mse <= 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
        m_predictions[key] = p;
        return p;
    }

    void sizeAt(double scale, int& width, int& height) const {
        width = std::clamp(static_cast<int>(std::lround(m_width * scale)), 1, m_width);
        height = std::clamp(static_cast<int>(std::lround(m_height * scale)), 1, m_height);
    }

private:
    const Bitmap& scaled(int number, int width, int height) {
        Bitmap& source = m_table.entry(number);
        if (width == m_width && height == m_height)
            return source;
        auto& copy = m_scaled[std::make_tuple(number, width, height)];
        if (!copy)
            copy = scaledCopy(source, width, height);
        return *copy;
    }

    FrameTable& m_table;
    int m_frames;
    int m_width;
    int m_height;
    uint16_t m_delay;
    std::map<std::tuple<double, int, int>, Prediction> m_predictions;
    std::map<std::tuple<int, int, int>, std::unique_ptr<Bitmap>> m_scaled;
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

namespace {

// The high-quality fit: the frames are read once at the largest size; a sample of them, encoded
// at each level, size and frame rate tried, predicts each file's size and how close its picture
// comes to the frames as a viewer sees it (scaled back and shown for as long as the frames it
// stands for); the best predicted to fit is confirmed by encoding the whole GIF, and a file over
// the limit takes the next level down.
GifSizeFitResult fitHighQuality(const AviToGifOptions& options, const GifSizeFitOptions& fit,
                                FrameTable& table, TGIFDocument& built, JobObserver& observer) {
    GifSizeFitResult result;
    int baseWidth = 0, baseHeight = 0;
    gifSizeFor(options, baseWidth, baseHeight);
    int baseStep = std::max(1, options.samplingStep);
    // A frame limit: the search starts at the step that keeps to it.
    const int64_t count = std::max<int64_t>(1, rangeCount(options));
    if (fit.maxFrames > 0 && sampledFrameCount(count, baseStep) > fit.maxFrames)
        baseStep = static_cast<int>(std::min<int64_t>(count, (count + fit.maxFrames - 1) / fit.maxFrames));
    const int topLevel = std::clamp(options.build.level, 1, 100);
    auto encode = [&](int width, int height, int step, int level) {
        AviToGifOptions o = options;
        o.sizeMode = GifSizeMode::Specified;
        o.specifiedWidth = width;
        o.specifiedHeight = height;
        o.samplingStep = step;
        o.build.level = level;
        o.build.optimize = true;
        if (fit.delayFollowsStep && options.delayHundredths)
            o.delayHundredths = static_cast<int>(std::clamp<long>(
                std::lround(double(*options.delayHundredths) * step / std::max(1, options.samplingStep)), 2,
                65535));
        result.job = convertAviToGif(o, table, built, observer);
        ++result.encodes;
        if (result.job.outcome != AviToGifOutcome::Built)
            return false;
        MemoryStream bytes;
        built.SaveToStream(bytes);
        result.bytes = bytes.size();
        result.width = width;
        result.height = height;
        result.step = step;
        result.level = level;
        result.file = std::move(bytes.bytes());
        return true;
    };
    auto stopped = [&] { return !result.job.run.error.empty() || observer.abortRequested(); };
    auto finish = [&] {
        result.fits = true;
        result.summary = std::to_string(result.width) + "x" + std::to_string(result.height) + ", " +
                         takenText(options, result.step) + ", quality " + std::to_string(result.level) +
                         ", " + byteSizeText(result.bytes);
        return result;
    };

    // The frames at the largest size, read once; the searches take them from the table.
    {
        AviToGifOptions o = options;
        o.sizeMode = GifSizeMode::Specified;
        o.specifiedWidth = baseWidth;
        o.specifiedHeight = baseHeight;
        o.samplingStep = baseStep;
        result.job = readGifFrames(o, table, observer);
        if (result.job.outcome != AviToGifOutcome::Built) {
            result.message = result.job.message;
            return result;
        }
    }
    if (stopped())
        return result;
    const int frames = result.job.frames;
    const uint16_t delay = static_cast<uint16_t>(result.job.delayHundredths);
    QualitySearch search(table, frames, baseWidth, baseHeight, delay);
    // The scale whose smaller side is the smallest allowed.
    const double smallestScale =
        std::min(1.0, double(std::max(1, fit.minimumSide)) / double(std::min(baseWidth, baseHeight)));
    const double aim = double(fit.limit) * Aim;

    struct Choice {
        double scale = 0;
        int step = 0;
        int level = 0;
        double psnr = -1;
    };
    // The highest level predicted to fit at a size and frame rate (the files shrink as the level
    // goes down), or 0: the levels of FitLevels bracket it, and a level between two of them is
    // taken where the sizes at both, drawn as a line, meet the aim.
    auto highestLevel = [&](double scale, int step, double aim) {
        const auto fits = [&](int level) { return double(search.predict(scale, step, level).bytes) <= aim; };
        if (fits(topLevel))
            return topLevel;
        int lo = 0, hi = FitLevelCount - 1, at = -1;
        while (lo <= hi) {
            const int mid = (lo + hi) / 2;
            if (FitLevels[mid] >= topLevel) {
                lo = mid + 1;
            } else if (fits(FitLevels[mid])) {
                at = mid;
                hi = mid - 1;
            } else {
                lo = mid + 1;
            }
        }
        if (at < 0)
            return 0;
        const int below = FitLevels[at];
        const int above = at > 0 ? std::min(topLevel, FitLevels[at - 1]) : topLevel;
        const double bytesBelow = double(search.predict(scale, step, below).bytes);
        const double bytesAbove = double(search.predict(scale, step, above).bytes);
        if (above - below > 1 && bytesAbove > bytesBelow) {
            const int between = below + int((aim - bytesBelow) / (bytesAbove - bytesBelow) * (above - below));
            if (between > below && between < above && fits(between))
                return between;
        }
        return below;
    };
    // The best the options allow is tried whole first unless the sample says it is too large (the
    // sample's predictions come within about a tenth of the whole file's size). Either way the
    // whole file corrects the sample's predictions.
    constexpr double FarTooLarge = 1.1;
    // The sample has no way back of a bounce: it starts counted as the frames it adds.
    const double plays = double(playedCount(options, frames)) / std::max(1, frames);
    double ratio = plays; // the whole file's size over the sample's prediction
    bool topTried = false;
    if (double(search.predict(1.0, 1, topLevel).bytes) * plays <= double(fit.limit) * FarTooLarge) {
        if (!encode(baseWidth, baseHeight, baseStep, topLevel)) {
            result.message = result.job.message;
            return result;
        }
        if (result.bytes <= fit.limit)
            return finish();
        topTried = true;
        ratio = double(result.bytes) / std::max(1.0, double(search.predict(1.0, 1, topLevel).bytes));
    }
    // A smaller size or fewer frames cost much of the picture as a viewer sees it; they are
    // searched only when the full size and rate need a low level.
    constexpr int LowLevel = 40;
    Choice best;
    auto consider = [&](double scale, int step) {
        // The top level gives the best picture a size and rate can give: one that cannot beat
        // the best found is not searched for a level.
        if (best.psnr >= 0 && search.predict(scale, step, topLevel).psnr <= best.psnr)
            return -1.0;
        const int level = highestLevel(scale, step, aim / ratio);
        if (level <= 0)
            return -1.0;
        const double psnr = search.predict(scale, step, level).psnr;
        if (psnr > best.psnr)
            best = Choice{scale, step, level, psnr};
        return psnr;
    };
    for (int step = 1; step <= 2 && !stopped(); ++step) {
        if (step > 1 && ((best.level > LowLevel && best.psnr >= 0) || (frames + step - 1) / step < 2))
            break;
        double previous = consider(1.0, step);
        if (previous >= 0 && best.level > LowLevel)
            continue;
        for (double scale = ScaleStep; scale >= smallestScale - 1e-9 && !stopped(); scale *= ScaleStep) {
            if (best.psnr >= 0 && search.predict(scale, step, topLevel).psnr <= best.psnr)
                break; // smaller sizes show less still
            const double psnr = consider(scale, step);
            if (psnr >= 0 && psnr <= previous)
                break;
            previous = std::max(previous, psnr);
        }
    }
    if (best.psnr < 0) {
        // Nothing is predicted to fit: the smallest size, frame rate and level are tried anyway.
        best = Choice{smallestScale, 2, 1, 0};
    }
    // Confirming: the whole GIF. The sample's predictions, corrected by what the last whole file
    // showed, choose the next level: higher when the file is well under the limit, lower when it
    // is over. Once files on both sides of the limit are known, the level between them is read
    // off the line through their sizes. A file still over at the lowest level takes a smaller
    // size.
    double scale = best.scale;
    int level = best.level;
    const int step = best.step;
    int fitting = 0;         // the highest level confirmed to fit, at the size being tried
    int over = topLevel + 1; // the lowest level confirmed not to fit there
    uint64_t fittingBytes = 0, overBytes = 0;
    if (topTried && scale >= 1 && step == 1) {
        over = topLevel;
        overBytes = result.bytes;
    }
    const double target = double(fit.limit) * (1 + CloseToLimit) / 2;
    for (int tries = 0; tries < MaxConfirmEncodes && !stopped(); ++tries) {
        int width = 0, height = 0;
        search.sizeAt(scale, width, height);
        if (!encode(width, height, baseStep * step, level))
            break;
        const bool fits = result.bytes <= fit.limit;
        if (fits && (double(result.bytes) >= double(fit.limit) * CloseToLimit || level >= topLevel))
            return finish();
        if (fits) {
            fitting = level;
            fittingBytes = result.bytes;
        } else {
            over = level;
            overBytes = result.bytes;
        }
        if (fitting > 0 && over <= topLevel && over - fitting <= 1)
            break; // no level between them: the one that fits
        int next;
        if (fitting > 0 && over <= topLevel && overBytes > fittingBytes) {
            next = fitting + int((target - double(fittingBytes)) / double(overBytes - fittingBytes) *
                                 double(over - fitting));
            next = std::clamp(next, fitting + 1, over - 1);
        } else {
            ratio = double(result.bytes) / std::max(1.0, double(search.predict(scale, step, level).bytes));
            next = highestLevel(scale, step, target / ratio);
            if (next <= fitting || next >= over)
                next = fits ? std::min(over - 1, level + std::max(5, level / 10))
                            : level - std::max(5, level / 10);
        }
        if (fitting > 0 && next <= fitting)
            break;
        if (next < 1) {
            if (scale <= smallestScale)
                break;
            // Not even the lowest level fits at this size: a smaller one.
            scale = std::max(smallestScale, scale * ScaleStep);
            next = std::max(1, level / 2);
            over = topLevel + 1;
            overBytes = 0;
        }
        level = next;
    }
    if (fitting > 0 && !stopped()) {
        if (result.level == fitting && result.bytes <= fit.limit)
            return finish();
        int width = 0, height = 0;
        search.sizeAt(scale, width, height);
        if (encode(width, height, baseStep * step, fitting) && result.bytes <= fit.limit)
            return finish();
    }
    result.file.clear();
    if (result.job.outcome != AviToGifOutcome::Built) {
        result.message = result.job.message;
    } else if (!stopped()) {
        result.message = "No GIF of these frames fits under " + byteSizeText(fit.limit) +
                         ": the smallest tried, " + std::to_string(result.width) + "x" +
                         std::to_string(result.height) + " with " + std::to_string(result.job.frames) +
                         (result.job.frames == 1 ? " frame" : " frames") + ", takes " +
                         byteSizeText(result.bytes) + ".";
    }
    return result;
}

} // namespace

GifSizeFitResult fitGifUnderSize(const AviToGifOptions& options, const GifSizeFitOptions& fit,
                                 FrameTable& table, TGIFDocument& built, JobObserver& observer) {
    if (options.build.quality == GifQuality::High && fit.limit > 0)
        return fitHighQuality(options, fit, table, built, observer);
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
    auto gifFramesAt = [&](int step) { return playedCount(options, framesAt(step)); };

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
        const double perFrame = (limit * Aim - FileOverhead) / double(gifFramesAt(step));
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
                         takenText(options, result.step) + ", " + byteSizeText(result.bytes);
        return result;
    }
    result.file.clear();
    if (result.job.outcome != AviToGifOutcome::Built) {
        result.message = result.job.message;
    } else if (!stopped()) {
        const int64_t frames = options.frameRate > 0 ? result.job.frames : gifFramesAt(result.step);
        result.message = "No GIF of these frames fits under " + byteSizeText(fit.limit) +
                         ": the smallest tried, " + std::to_string(result.width) + "x" +
                         std::to_string(result.height) + " with " + std::to_string(frames) +
                         (frames == 1 ? " frame" : " frames") + ", takes " + byteSizeText(result.bytes) + ".";
    }
    return result;
}

} // namespace kelvara
