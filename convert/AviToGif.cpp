// The AVI-to-animated-GIF job.
#include "convert/AviToGif.h"

#include "gif/GifDocument.h"
#include "raster/Error.h"
#include "video/FrameSource.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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

std::unique_ptr<TGIFDocument> newConversionDocument() {
    auto document = std::make_unique<TGIFDocument>();
    document->SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    document->SetDitherKind(GifDitherKind::FloydSteinberg);
    return document;
}

// Reduces entries 1..count, each into a document of its own, on several threads.
std::vector<std::unique_ptr<TGIFDocument>> reduceInParallel(FrameTable& table, int count, int threads) {
    std::vector<std::unique_ptr<TGIFDocument>> reduced(static_cast<size_t>(count));
    std::vector<const Bitmap*> entries;
    for (int i = 1; i <= count; ++i)
        entries.push_back(&table.entry(i));
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto work = [&] {
        for (int k; (k = next.fetch_add(1)) < count;) {
            try {
                auto document = newConversionDocument();
                document->AddFrame(*entries[size_t(k)]);
                reduced[size_t(k)] = std::move(document);
            } catch (...) {
                std::lock_guard<std::mutex> lock(failureLock);
                if (!failure)
                    failure = std::current_exception();
                next = count;
            }
        }
    };
    std::vector<std::thread> workers;
    for (int t = 1; t < std::min(threads, count); ++t)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return reduced;
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

std::optional<int64_t> timeFromText(const std::string& text) {
    // Up to three fields separated by colons; the last may carry a fraction.
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
        fields.push_back(text.substr(start, colon - start));
    fields.push_back(text.substr(start));
    if (fields.size() > 3)
        return std::nullopt;
    std::string fraction;
    std::string& seconds = fields.back();
    if (size_t dot = seconds.find('.'); dot != std::string::npos) {
        fraction = seconds.substr(dot + 1);
        seconds.resize(dot);
        if (fraction.empty())
            return std::nullopt;
    }
    auto digits = [](const std::string& s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!fraction.empty() && !digits(fraction))
        return std::nullopt;
    int64_t total = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string& f = fields[i];
        // The first field takes any number of digits; the ones after a colon one or two, below 60.
        if (!digits(f) || (i > 0 && f.size() > 2) || f.size() > 12)
            return std::nullopt;
        const int64_t value = std::stoll(f);
        if (i > 0 && value >= 60)
            return std::nullopt;
        total = total * 60 + value;
    }
    if (total > int64_t(1) << 32)
        return std::nullopt;
    int64_t micro = 0;
    for (size_t i = 0; i < 6; ++i)
        micro = micro * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    return total * 1'000'000 + micro;
}

int aspectSide(int value, int fromSide, int toSide) {
    if (fromSide <= 0 || value < 0 || toSide < 0)
        return 0;
    return static_cast<int>(roundHalfEven(int64_t(value) * toSide, fromSide));
}

int64_t sampledFrameCount(int64_t count, int step) {
    return count <= 0 || step < 1 ? 0 : (count + step - 1) / step;
}

AviToGifResult convertAviToGif(const AviToGifOptions& options, FrameTable& table, TGIFDocument& built,
                               JobObserver& observer) {
    AviToGifResult result;
    int gw = 0, gh = 0;
    gifSizeFor(options, gw, gh);
    result.gifWidth = gw;
    result.gifHeight = gh;
    result.delayHundredths =
        static_cast<uint16_t>(options.delayHundredths ? *options.delayHundredths : options.delayMs / 10);

    FrameRun& run = result.run;
    // The range, 1-based and inclusive.
    const int64_t n = options.frameCount;
    int64_t first = 1, last = n;
    FrameReader reader;
    if (options.frames == FrameChoice::FrameRange) {
        first = options.firstFrame;
        last = options.lastFrame;
    } else if (options.frames == FrameChoice::TimeRange) {
        const int64_t fromUs = options.fromUs.value_or(options.fromSecond * 1'000'000);
        const int64_t toUs = options.toUs.value_or(options.toSecond * 1'000'000);
        // Pictures with timestamps of their own are taken by them, which variable frame rates
        // need; AVI files and streams without timestamps map times by the frame count.
        const FrameTimes* times = nullptr;
        if (!isAviFile(options.videoPath)) {
            reader.open(options.videoPath);
            times = reader.frameTimes();
        }
        if (times) {
            const std::vector<int64_t>& starts = times->startUs;
            auto from = std::lower_bound(starts.begin(), starts.end(), starts.front() + fromUs);
            auto to = std::upper_bound(starts.begin(), starts.end(), starts.front() + toUs);
            first = (from - starts.begin()) + 1;
            last = to - starts.begin();
        } else {
            if (options.lengthMs <= 0)
                throw Error("The video has no length, so a time range cannot be converted.");
            // Formed in extended precision: seconds x frames x 1000 passes 2^31 on long videos. For
            // whole seconds this is Trunc((s x N x 1000) / L).
            first = static_cast<int64_t>(static_cast<long double>(fromUs) * n /
                                         (static_cast<long double>(options.lengthMs) * 1000));
            last = static_cast<int64_t>(static_cast<long double>(toUs) * n /
                                        (static_cast<long double>(options.lengthMs) * 1000));
            // A range from 0 s starts at the first frame.
            first = std::max<int64_t>(first, 1);
        }
    }
    const int64_t count = last - first + 1;
    const int64_t limited = options.limitRule == FrameLimitRule::AfterStep && options.samplingStep >= 1
                                ? sampledFrameCount(count, options.samplingStep)
                                : count;
    // A refused run tells how many frames it asked for.
    run.asked =
        static_cast<int>(std::min<int64_t>(sampledFrameCount(count, options.samplingStep), INT32_MAX));
    if (limited > 256) {
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
    const ProgressReset resetProgress(observer);

    if (!reader.isOpen())
        reader.open(options.videoPath);
    auto document = newConversionDocument();

    int builtCount = 0;
    for (int64_t cur = first; cur <= last;) {
        if (position < maximum) {
            position = std::min(maximum, position + (step == 1 ? 1 : step));
            observer.setProgressPosition(position);
        }
        pumpJobMessages(observer);
        if (observer.abortRequested()) {
            run.end = FrameRunEnd::Aborted;
            break;
        }
        const FrameRead read = reader.read(cur - 1);
        if (!read.picture) {
            run.end = read.error.empty() ? FrameRunEnd::VideoEnded : FrameRunEnd::ReadFailed;
            run.stoppedAt = cur;
            run.error = read.error;
            break;
        }
        Bitmap* frame = read.picture;
        const int k = ++builtCount;
        run.read = k;
        Bitmap& entry = table.entry(k);
        entry.SetWidth(gw);
        entry.SetHeight(gh);
        // A reduction here AND-combines dropped pixels: the entry's context is new.
        entry.Canvas().CopyRect(entry.Canvas().ClipRect(), frame->Canvas(), options.crop);
        pumpJobMessages(observer);
        cur += step;
    }
    const auto statusText = [&](int frames) {
        return "Size: " + std::to_string(gw) + " x " + std::to_string(gh) +
               " pixels  Frames: " + std::to_string(frames);
    };
    result.frames = builtCount;
    result.statusText = statusText(builtCount);
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

    // Building: the progress bar starts again and counts the frames handed to the document. An
    // Abort pressed now keeps the frames built so far; one pressed while reading has already
    // ended the reading, and every frame read is built.
    const bool readingAborted = run.end == FrameRunEnd::Aborted;
    observer.setProgressRange(0, builtCount);
    observer.setProgressPosition(0);
    // With more than one thread the frames are reduced in documents of their own first, then
    // copied over in order; the result is the same document.
    std::vector<std::unique_ptr<TGIFDocument>> reduced;
    if (options.threads > 1 && builtCount > 1)
        reduced = reduceInParallel(table, builtCount, options.threads);
    int encoded = 0;
    for (int i = 1; i <= builtCount; ++i) {
        observer.setProgressPosition(i);
        pumpJobMessages(observer);
        if (!readingAborted && observer.abortRequested())
            break;
        int j;
        if (reduced.empty()) {
            j = document->AddFrame(table.entry(i));
        } else {
            if (i == 1) {
                document->SetWidth(gw);
                document->SetHeight(gh);
            }
            auto copy = std::make_unique<TGIFSubImage>(document.get());
            copy->Assign(reduced[size_t(i - 1)]->Frame(0));
            reduced[size_t(i - 1)].reset();
            j = document->AddFrame(std::move(copy));
        }
        TGIFSubImage& frame = document->Frame(j);
        if (j == 0) {
            auto loop = std::make_unique<TGIFAppExtNSLoop>(&frame);
            loop->SetLoopCount(options.loopCount);
            frame.Extensions().Append(std::move(loop));
        }
        auto control = std::make_unique<TGIFGraphicControlExtension>(&frame);
        control->SetDelayHundredths(static_cast<uint16_t>(result.delayHundredths));
        frame.Extensions().Append(std::move(control));
        encoded = i;
    }
    if (encoded < builtCount) {
        // Aborted while building: the result is the frames built.
        result.frames = encoded;
        result.statusText = statusText(encoded);
        if (encoded == 0) {
            result.outcome = AviToGifOutcome::NoFrames;
            result.message = AviToGifMessages::NothingBuilt;
            return result;
        }
    }
    built.Assign(document.get());
    pumpJobMessages(observer);
    return result;
}

} // namespace kelvara
