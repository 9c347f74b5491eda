// The AVI-to-animated-GIF job.
#include "convert/AviToGif.h"

#include "convert/FrameSelection.h"
#include "convert/GifDelays.h"
#include "convert/GifFramePipeline.h"
#include "gif/GifDocument.h"
#include "gif/GifOptimize.h"
#include "gif/GifStreamWriter.h"
#include "raster/Error.h"
#include "raster/OrderedPipeline.h"
#include "raster/Stream.h"
#include "video/FrameSource.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>
#include <utility>
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

std::unique_ptr<TGIFDocument> newConversionDocument(GifQuality quality) {
    auto document = std::make_unique<TGIFDocument>();
    document->SetReductionMode(reductionModeFor(quality));
    document->SetDitherKind(GifDitherKind::FloydSteinberg);
    return document;
}

// A frame on its way to be stored as its change from the frame before it: alone in a document
// of its own, with the colours it shows and those the frame before it shows (empty for none);
// then the bytes it is written as.
struct ChangeFrame {
    std::unique_ptr<TGIFDocument> document;
    std::shared_ptr<const std::vector<uint32_t>> colours;
    std::shared_ptr<const std::vector<uint32_t>> before;
    ChangePlan plan;
    std::vector<uint8_t> bytes;
};

// How long the job waits for a stored change before it pumps its messages again.
constexpr std::chrono::milliseconds PumpInterval{25};

// What a run reads: the range, the GIF size and delay, worked out and checked before anything
// is read.
struct ConversionPlan {
    int64_t first = 1;
    int64_t last = 0;
    int64_t count = 0; // the whole range, before the step (the frames picked, with a frame rate)
    // With a frame rate: the 1-based frames picked, in reading order.
    std::vector<int64_t> picks;
    int gw = 0;
    int gh = 0;
    uint16_t delay = 0;
    // With delays from the video's timing: how long each picture taken shows, in reading order,
    // and the delays of the GIF's frames in the order they play.
    std::vector<int64_t> spansUs;
    std::vector<uint16_t> delays;

    // The delay of the GIF's frame j (0-based).
    uint16_t delayOf(int j) const { return j >= 0 && size_t(j) < delays.size() ? delays[size_t(j)] : delay; }
    // Settles the delays once the frames read are known: going backward the GIF plays them in
    // reverse, and a bounce plays them again back to the second, each still lasting as long as its
    // picture does. Going forward the delays of the frames read stay as they were: the rounding is
    // carried only onward.
    void settleDelays(int read, Direction direction, bool bounce) {
        if (spansUs.empty() || (direction == Direction::Forward && !bounce))
            return;
        const int n = std::min<int>(read, static_cast<int>(spansUs.size()));
        std::vector<int64_t> played(spansUs.begin(), spansUs.begin() + n);
        if (direction == Direction::Backward)
            std::reverse(played.begin(), played.end());
        if (bounce)
            for (int i = n - 2; i >= 1; --i)
                played.push_back(played[size_t(i)]);
        delays = gifDelaysForDurations(played);
    }
};

// Fills result's size, delay and asked frames. False, with result's outcome and message set,
// when the range is refused with a warning; Error for input that cannot be converted. A time range
// of a file with timestamps opens the reader to map times to frames.
enum class FrameHolding { Whole, Streamed };

bool planConversion(const AviToGifOptions& options, AviToGifResult& result, ConversionPlan& plan,
                    FrameReader& reader, FrameHolding holding = FrameHolding::Whole) {
    gifSizeFor(options, plan.gw, plan.gh);
    result.gifWidth = plan.gw;
    result.gifHeight = plan.gh;
    plan.delay =
        static_cast<uint16_t>(options.delayHundredths ? *options.delayHundredths : options.delayMs / 10);
    result.delayHundredths = plan.delay;

    // The range, 1-based and inclusive.
    const int64_t n = options.frameCount;
    int64_t first = 1, last = n;
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
    int64_t count = last - first + 1;
    int64_t sampled = sampledFrameCount(count, options.samplingStep);
    // A frame rate picks the pictures on display at its ticks; a sampling step divides the rate.
    std::vector<int64_t> tickSpansUs;
    if (options.frameRate > 0 && options.samplingStep >= 1 && count > 0 && first >= 1 && last <= n) {
        if (!reader.isOpen())
            reader.open(options.videoPath);
        const double rate = options.frameRate / options.samplingStep;
        const std::vector<RatePick> picks =
            framesAtRate(pictureTimes(reader, n, options.lengthMs), first, last, rate);
        const auto tickUs = [rate](int64_t k) {
            return static_cast<int64_t>(std::llround(static_cast<long double>(k) * 1'000'000 / rate));
        };
        int64_t ticks = 0;
        for (const RatePick& pick : picks) {
            plan.picks.push_back(pick.frame);
            tickSpansUs.push_back(tickUs(ticks + pick.ticks) - tickUs(ticks));
            ticks += pick.ticks;
        }
        count = sampled = static_cast<int64_t>(picks.size());
    }
    // A refused run tells how many frames it asked for.
    result.run.asked = static_cast<int>(std::min<int64_t>(sampled, INT32_MAX));
    if (options.limitRule == FrameLimitRule::WholeRange && count > 256) {
        result.outcome = AviToGifOutcome::Warning;
        result.message = AviToGifMessages::TooManyFrames;
        return false;
    }
    if (options.limitRule == FrameLimitRule::AfterStep && options.maxFrames > 0 &&
        options.samplingStep >= 1 && sampled > options.maxFrames) {
        result.outcome = AviToGifOutcome::Warning;
        result.message = "The GIF would hold " + std::to_string(sampled) +
                         " frames, more than the limit of " + std::to_string(options.maxFrames) + ".";
        return false;
    }
    if (count <= 0) {
        result.outcome = AviToGifOutcome::Warning;
        result.message = AviToGifMessages::CheckRange;
        return false;
    }
    if (options.samplingStep < 1)
        throw Error("The frame sampling rate must be at least 1.");
    if (plan.gw < 1 || plan.gh < 1)
        throw Error("The GIF size must be at least 1 x 1 pixels, not " + std::to_string(plan.gw) + " x " +
                    std::to_string(plan.gh) + ".");
    if (plan.gw > 10000 || plan.gh > 10000)
        throw Error("The GIF size must not exceed 10000 x 10000 pixels.");
    if (first < 1 || last > n)
        throw Error("The frames must lie within 1.." + std::to_string(n) + ", not " + std::to_string(first) +
                    ".." + std::to_string(last) + ".");
    if (count > INT32_MAX)
        throw Error("The range of " + std::to_string(count) + " frames is too long to convert.");
    // A streamed run holds only the frames in flight; streamedThreads() fits them to the limit.
    if (holding == FrameHolding::Whole)
        // A bounce's way back holds a copy of the indices of each frame between the turning ones.
        checkMemoryNeed(gifFramesWords(sampled, plan.gw, plan.gh),
                        heldGifFramesMemory(plan.gw, plan.gh, sampled) +
                            (options.bounce && sampled > 2
                                 ? uint64_t(plan.gw) * uint64_t(plan.gh) * uint64_t(sampled - 2)
                                 : 0),
                        options.memoryLimit);
    plan.first = first;
    plan.last = last;
    plan.count = count;
    if (options.delaysFromTimes) {
        if (!reader.isOpen())
            reader.open(options.videoPath);
        if (!plan.picks.empty())
            plan.spansUs = std::move(tickSpansUs);
        else if (const auto startUs = pictureStartsUs(reader, n))
            plan.spansUs = takenPictureSpansUs(first - 1, sampled, options.samplingStep, startUs);
        if (!plan.spansUs.empty()) {
            if (options.direction == Direction::Forward)
                plan.delays = gifDelaysForDurations(plan.spansUs);
            plan.settleDelays(static_cast<int>(sampled), options.direction, options.bounce);
            if (!plan.delays.empty())
                result.delayHundredths = plan.delays.front();
        }
    }
    return true;
}

// The worker threads of a streamed run: as many as asked while the frames in flight (twice the
// threads and two more) fit the memory limit, fewer when they do not; refused when even one
// worker's frames are too many. The bytes are the same for any number of threads.
int streamedThreads(const AviToGifOptions& options, const ConversionPlan& plan) {
    int threads = pipelineThreads(options.threads);
    while (threads > 1 && streamedGifFramesMemory(plan.gw, plan.gh, 2 * threads + 2) > options.memoryLimit)
        --threads;
    checkMemoryNeed("A GIF of " + std::to_string(plan.gw) + " x " + std::to_string(plan.gh) +
                        " pixels written as it is made",
                    streamedGifFramesMemory(plan.gw, plan.gh, 2 * threads + 2), options.memoryLimit,
                    "choose a smaller size");
    return threads;
}

// The start every run shares: the plan worked out and checked, the worker threads (fitted to the
// memory limit for a streamed run), the progress bar set to count the frames to read and set back
// when the run ends, and the frame reader open. refused() tells a run that ended in its plan, the
// result's outcome and message set, before the bar or the reader was touched.
class JobStart {
public:
    JobStart(const AviToGifOptions& options, AviToGifResult& result, JobObserver& observer,
             FrameHolding holding = FrameHolding::Whole) {
        if (!planConversion(options, result, plan, reader, holding)) {
            m_refused = true;
            return;
        }
        threads = holding == FrameHolding::Streamed ? streamedThreads(options, plan) : options.threads;
        observer.setProgressRange(0, static_cast<int>(plan.count));
        observer.setProgressPosition(0);
        m_resetProgress.emplace(observer);
        if (!reader.isOpen())
            reader.open(options.videoPath);
    }
    bool refused() const { return m_refused; }

    // The pipeline's options: the run's threads and the reduction its quality asks for, with a
    // transparent colour where the source's alpha is below half.
    GifPipelineOptions pipelineOptions(const AviToGifOptions& options) const {
        GifPipelineOptions pipeline;
        pipeline.threads = threads;
        pipeline.reducer = alphaReducer(qualityReducer(options.build), FrameAlpha::Transparent);
        return pipeline;
    }

    ConversionPlan plan;
    FrameReader reader;
    int threads = 0;

private:
    bool m_refused = false;
    std::optional<ProgressReset> m_resetProgress;
};

std::string statusTextFor(int gw, int gh, int frames) {
    return "Size: " + std::to_string(gw) + " x " + std::to_string(gh) +
           " pixels  Frames: " + std::to_string(frames);
}

// The reading stage: for each chosen frame, advances the progress bar, pumps the messages, tests
// the abort flag and reads the frame; target(k) gives the bitmap that frame k (1-based) is
// copied into, at the GIF size, and done(k, bitmap) takes it. Returns the frames read; run says
// why reading stopped.
int readFrames(const AviToGifOptions& options, const ConversionPlan& plan, FrameReader& reader,
               JobObserver& observer, FrameRun& run, const std::function<Bitmap&(int k)>& target,
               const std::function<void(int k, Bitmap& frame)>& done) {
    const int maximum = static_cast<int>(plan.count);
    const bool picked = !plan.picks.empty();
    const int step = picked ? 1 : options.samplingStep;
    int position = 0;
    int read = 0;
    size_t next = 0; // the next of the frames picked
    for (int64_t cur = picked ? plan.picks.front() : plan.first; cur <= plan.last;) {
        if (position < maximum) {
            position = std::min(maximum, position + step);
            observer.setProgressPosition(position);
        }
        pumpJobMessages(observer);
        if (observer.abortRequested()) {
            run.end = FrameRunEnd::Aborted;
            break;
        }
        const FrameRead frameRead = reader.read(cur - 1);
        if (!frameRead.picture) {
            run.stopAt(cur, frameRead.error);
            break;
        }
        const int k = ++read;
        run.read = k;
        Bitmap& entry = target(k);
        const Bitmap& picture = *frameRead.picture;
        if (picture.PixelFormat() == PixelFormat::Bits24 && plan.gw == picture.Width() &&
            plan.gh == picture.Height() && options.crop == Rect{0, 0, plan.gw, plan.gh}) {
            // The whole 24-bit picture at its own size: the entry shares it rather than copying
            // it, since the reader decodes the next frame into a picture of its own.
            entry.Assign(picture);
        } else {
            entry.SetWidth(plan.gw);
            entry.SetHeight(plan.gh);
            // A reduction here averages the pixels each entry pixel covers: the entry's context is
            // new. The high quality mode asks for the same averaging by name.
            if (options.build.quality == GifQuality::High)
                entry.Canvas().setStretchMode(StretchMode::Halftone);
            entry.Canvas().CopyRect(entry.Canvas().ClipRect(), frameRead.picture->Canvas(), options.crop);
        }
        pumpJobMessages(observer);
        done(k, entry);
        if (picked) {
            if (++next >= plan.picks.size())
                break;
            cur = plan.picks[next];
        } else {
            cur += step;
        }
    }
    return read;
}

// Puts the first count entries of the table in reverse order. The swaps go through the work
// bitmap (the reader's, which keeps the depth of the last frame).
void reverseEntries(FrameTable& table, int count, Bitmap& work, const ConversionPlan& plan) {
    work.SetWidth(plan.gw);
    work.SetHeight(plan.gh);
    for (int i = 1; i <= count / 2; ++i) {
        Bitmap& front = table.entry(i);
        Bitmap& back = table.entry(count + 1 - i);
        work.Canvas().Draw(0, 0, back);
        back.Canvas().Draw(0, 0, front);
        front.Canvas().Draw(0, 0, work);
    }
}

// A bounce's way back: copies of the frames before the last of the count built, back to the
// second, each with the delay of its place.
void appendWayBack(TGIFDocument& document, int count, const ConversionPlan& plan) {
    for (int j = count - 2; j >= 1; --j) {
        auto copy = std::make_unique<TGIFSubImage>(&document);
        copy->Assign(document.Frame(j));
        const int index = document.AddFrame(std::move(copy));
        if (TGIFGraphicControlExtension* control = document.Frame(index).GraphicControlExtension())
            control->SetDelayHundredths(plan.delayOf(index));
    }
}

// Stores each frame of the document as its change, the bar counting them. An Abort keeps every
// frame, the rest stored whole: false then.
bool storeChanges(TGIFDocument& document, int threads, JobObserver& observer) {
    bool complete = true;
    observer.setProgressRange(0, document.FrameCount());
    optimizeFrames(document, threads, [&](int done, int) {
        observer.setProgressPosition(done);
        pumpJobMessages(observer);
        if (!observer.abortRequested())
            return true;
        complete = false;
        return false;
    });
    return complete;
}

// A file without a name for the compressed frames of a backward stream.
class SpillFile {
public:
    explicit SpillFile(const std::string& folder) {
        if (!folder.empty())
            m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            std::FILE* file = std::tmpfile();
            if (!file)
                throw StreamError(cannotWriteMessage("a temporary file", errno));
            m_fd = ::dup(::fileno(file));
            std::fclose(file);
            if (m_fd < 0)
                throw StreamError(cannotWriteMessage("a temporary file", errno));
        }
    }
    ~SpillFile() { ::close(m_fd); }
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Appends the bytes; returns where they start.
    uint64_t append(const std::vector<uint8_t>& bytes) {
        const uint64_t at = m_size;
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done, off_t(m_size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw StreamError(cannotWriteMessage("a temporary file", n < 0 ? errno : ENOSPC));
            done += size_t(n);
            m_size += uint64_t(n);
        }
        return at;
    }
    void read(uint64_t at, size_t size, std::vector<uint8_t>& bytes) const {
        bytes.resize(size);
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::pread(m_fd, bytes.data() + done, size - done, off_t(at + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw StreamError("Cannot read a temporary file: " +
                                  std::string(std::strerror(n < 0 ? errno : EIO)));
            done += size_t(n);
        }
    }

private:
    int m_fd = -1;
    uint64_t m_size = 0;
};

// The frames of a backward or bouncing stream, compressed and kept in a spill file until they play.
class SpilledFrames {
public:
    explicit SpilledFrames(const std::string& folder) : m_file(folder) {}

    void add(const GifPipelineFrame& frame) {
        m_frames.push_back({m_file.append(frame.image), frame.image.size(), frame.reduced.transparentIndex,
                            frame.reduced.clearAfter});
    }
    int count() const { return static_cast<int>(m_frames.size()); }

    // Writes them in the order they play, the GIF's frame written first: going backward all of
    // them from the last, then with a bounce the way back (the frames between the turning ones, in
    // the other direction). Returns the GIF's frames then.
    int write(GifStreamWriter& writer, const ConversionPlan& plan, Direction direction, bool bounce,
              int written) const {
        const bool forward = direction == Direction::Forward;
        std::vector<size_t> order;
        const size_t n = m_frames.size();
        if (!forward)
            for (size_t i = n; i-- > 0;)
                order.push_back(i);
        if (bounce && n >= 3) {
            for (size_t k = 1; k + 1 < n; ++k)
                order.push_back(forward ? n - 1 - k : k);
        }
        std::vector<uint8_t> bytes;
        for (const size_t i : order) {
            m_file.read(m_frames[i].at, m_frames[i].size, bytes);
            writer.setDelay(plan.delayOf(written));
            writer.setFrameTransparency(m_frames[i].transparentIndex, m_frames[i].clearAfter);
            writer.writeFrame(bytes.data(), bytes.size());
            ++written;
        }
        return written;
    }

private:
    struct Spilled {
        uint64_t at;
        size_t size;
        int transparentIndex;
        bool clearAfter;
    };
    SpillFile m_file;
    std::vector<Spilled> m_frames;
};

// Frames stored as their changes on a stream: each reduced frame comes here in display order,
// becomes a frame of its own document with the colours it shows, and goes to a second set of
// workers with the colours of the frame before it, which store it as its change and compress it;
// they come back in order to be written.
class ChangeStage {
public:
    ChangeStage(const AviToGifOptions& options, const ConversionPlan& plan, GifStreamWriter& writer,
                JobObserver& observer, int threads)
        : m_options(options), m_plan(plan), m_writer(writer), m_observer(observer),
          m_changes(threads, 2 * threads + 2, [](ChangeFrame& frame) {
              TGIFSubImage& image = frame.document->Frame(0);
              if (!frame.colours->empty())
                  storeAsChange(image, *frame.colours, *frame.before, frame.plan);
              MemoryStream bytes;
              image.SaveToStream(bytes);
              frame.bytes = std::move(bytes.bytes());
              frame.document.reset();
          }) {}

    // Takes the GIF's frame index (0-based).
    void take(ReducedFrame&& reduced, int index) {
        ChangeFrame change;
        change.document = newConversionDocument(m_options.build.quality);
        TGIFSubImage& image = change.document->Frame(change.document->addReducedFrame(std::move(reduced)));
        appendAnimationBlocks(image, index, m_options.loopCount, m_plan.delayOf(index));
        change.colours = std::make_shared<const std::vector<uint32_t>>(changeColours(image));
        if (m_waiting)
            submitWaiting(image.Transparent() ? *change.colours : m_none);
        if (!m_firstShown) {
            m_firstShown = change.colours;
            m_firstTransparent = image.Transparent();
        }
        change.before = m_shownBefore;
        m_waiting = std::move(change);
    }

    // Stores the last frame and writes every change.
    void finish() {
        if (m_waiting)
            submitWaiting(m_firstTransparent ? *m_firstShown : m_none);
        writeChanges(true);
    }

private:
    // Writes the stored changes that are done; waiting, pumping the messages, for room or for all.
    void writeChanges(bool all) {
        while (m_changes.inFlight() > 0) {
            const bool mustWait = all || m_changes.full();
            std::optional<ChangeFrame> done =
                m_changes.takeNext(mustWait ? PumpInterval : std::chrono::milliseconds(0));
            if (done)
                m_writer.writeWholeFrame(done->bytes.data(), done->bytes.size());
            else if (mustWait)
                pumpJobMessages(m_observer);
            else
                break;
        }
    }

    // A stored change waits for the colours of the frame after it, which tell whether it must be
    // cleared after it shows (a source with an alpha channel); the last waits for the first's.
    void submitWaiting(const std::vector<uint32_t>& next) {
        std::vector<uint32_t> after;
        m_waiting->plan = planChange(m_plan.gw, *m_waiting->colours, *m_waiting->before, next, &after);
        m_shownBefore = m_waiting->plan.clearAfter
                            ? std::make_shared<const std::vector<uint32_t>>(std::move(after))
                            : m_waiting->colours;
        writeChanges(false);
        m_changes.submit(std::move(*m_waiting));
        m_waiting.reset();
    }

    const AviToGifOptions& m_options;
    const ConversionPlan& m_plan;
    GifStreamWriter& m_writer;
    JobObserver& m_observer;
    OrderedPipeline<ChangeFrame> m_changes;
    std::shared_ptr<const std::vector<uint32_t>> m_shownBefore = std::make_shared<std::vector<uint32_t>>();
    std::optional<ChangeFrame> m_waiting;
    std::shared_ptr<const std::vector<uint32_t>> m_firstShown;
    bool m_firstTransparent = false;
    const std::vector<uint32_t> m_none;
};

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

AviToGifResult readGifFrames(const AviToGifOptions& options, FrameTable& table, JobObserver& observer) {
    AviToGifResult result;
    JobStart start(options, result, observer);
    if (start.refused())
        return result;
    const ConversionPlan& plan = start.plan;
    result.frames = readFrames(
        options, plan, start.reader, observer, result.run, [&](int k) -> Bitmap& { return table.entry(k); },
        [](int, Bitmap&) {});
    result.statusText = statusTextFor(plan.gw, plan.gh, result.frames);
    if (result.frames == 0) {
        result.outcome = AviToGifOutcome::NoFrames;
        result.message = AviToGifMessages::NoFramesRead;
    }
    return result;
}

AviToGifResult convertAviToGif(const AviToGifOptions& options, FrameTable& table, TGIFDocument& built,
                               JobObserver& observer) {
    AviToGifResult result;
    JobStart start(options, result, observer);
    if (start.refused())
        return result;
    ConversionPlan& plan = start.plan;
    FrameReader& reader = start.reader;
    FrameRun& run = result.run;

    auto document = newConversionDocument(options.build.quality);
    // Frames are reduced on the worker threads while the next are read; the document takes them
    // in the building below, which counts them on the progress bar.
    std::deque<ReducedFrame> ready;
    GifFramePipeline pipeline(
        start.pipelineOptions(options),
        [&](GifPipelineFrame& frame) { ready.push_back(std::move(frame.reduced)); }, observer);

    // Going forward each frame goes to the workers as soon as it is read; going backward once all
    // are read and reversed.
    const bool forward = options.direction == Direction::Forward;
    const int builtCount = readFrames(
        options, plan, reader, observer, run, [&](int k) -> Bitmap& { return table.entry(k); },
        [&](int, Bitmap& entry) {
            if (forward)
                pipeline.add(entry);
        });
    result.frames = builtCount;
    result.statusText = statusTextFor(plan.gw, plan.gh, builtCount);
    if (builtCount == 0) {
        result.outcome = AviToGifOutcome::NoFrames;
        result.message = AviToGifMessages::NoFramesRead;
        return result;
    }

    if (!forward || options.bounce)
        plan.settleDelays(builtCount, options.direction, options.bounce);
    if (!forward)
        reverseEntries(table, builtCount, reader.workBitmap(), plan);

    // Building: the progress bar starts again and counts the frames handed to the document. An
    // Abort pressed now keeps the frames built so far; one pressed while reading has already
    // ended the reading, and every frame read is built, unless the program is closing.
    const bool readingAborted = run.end == FrameRunEnd::Aborted;
    observer.setProgressRange(0, builtCount);
    observer.setProgressPosition(0);
    int submitted = forward ? builtCount : 0;
    int encoded = 0;
    for (int i = 1; i <= builtCount; ++i) {
        observer.setProgressPosition(i);
        pumpJobMessages(observer);
        if ((!readingAborted || observer.closing()) && observer.abortRequested()) {
            // Aborted while building, or closing: the frames reduced so far make the GIF.
            while (!ready.empty()) {
                const int j = document->addReducedFrame(std::move(ready.front()));
                ready.pop_front();
                appendAnimationBlocks(document->Frame(j), j, options.loopCount, plan.delay);
                ++encoded;
            }
            result.aborted = true;
            break;
        }
        while (submitted < builtCount && !pipeline.full())
            pipeline.add(table.entry(++submitted));
        while (ready.empty())
            if (!pipeline.deliverOne())
                throw Error("A frame was lost on its way to the document."); // cannot happen
        const int j = document->addReducedFrame(std::move(ready.front()));
        ready.pop_front();
        appendAnimationBlocks(document->Frame(j), j, options.loopCount, plan.delayOf(j));
        encoded = i;
    }
    pipeline.finish(GifFramePipeline::AbortRule::Stop);
    if (encoded < builtCount) {
        // Aborted while building: the result is the frames built.
        result.frames = encoded;
        result.statusText = statusTextFor(plan.gw, plan.gh, encoded);
        if (encoded == 0) {
            result.outcome = AviToGifOutcome::NoFrames;
            result.message = AviToGifMessages::NothingBuilt;
            return result;
        }
    }
    if (readingAborted)
        result.aborted = true;
    if (options.bounce && !result.aborted && encoded == builtCount) {
        appendWayBack(*document, encoded, plan);
        result.frames = document->FrameCount();
        result.statusText = statusTextFor(plan.gw, plan.gh, result.frames);
    }
    if (options.build.optimize && !observer.abortRequested() &&
        !storeChanges(*document, pipelineThreads(options.threads), observer))
        result.aborted = true;
    built.Take(*document);
    pumpJobMessages(observer);
    return result;
}

AviToGifResult streamAviToGif(const AviToGifOptions& options, Stream& out, JobObserver& observer,
                              const std::string& spillFolder) {
    AviToGifResult result;
    JobStart start(options, result, observer, FrameHolding::Streamed);
    if (start.refused())
        return result;
    ConversionPlan& plan = start.plan;
    FrameRun& run = result.run;
    GifStreamWriter writer(out, static_cast<uint16_t>(plan.gw), static_cast<uint16_t>(plan.gh), 8,
                           options.loopCount, plan.delay);
    const bool forward = options.direction == Direction::Forward;
    std::unique_ptr<SpilledFrames> spill;
    if (!forward)
        spill = std::make_unique<SpilledFrames>(spillFolder);

    // Going backward the frames stored as their changes would have to wait for the last one read,
    // so that is refused.
    const bool optimize = options.build.optimize;
    if (optimize && !forward)
        throw Error("Frames stored as their changes are written as they are made only going forward.");
    if (optimize && options.bounce)
        throw Error("Frames stored as their changes are written as they are made only without a bounce.");
    // A bounce plays the frames again on the way back: they are kept compressed until then.
    if (options.bounce && forward)
        spill = std::make_unique<SpilledFrames>(spillFolder);
    std::unique_ptr<ChangeStage> changes;
    if (optimize)
        changes =
            std::make_unique<ChangeStage>(options, plan, writer, observer, pipelineThreads(options.threads));

    GifPipelineOptions pipelineOptions = start.pipelineOptions(options);
    pipelineOptions.encode = !optimize;
    // Once every frame is read, a second bar counts the frames finished.
    bool countFinished = false;
    int finished = 0;
    GifFramePipeline pipeline(
        pipelineOptions,
        [&](GifPipelineFrame& frame) {
            if (changes) {
                changes->take(std::move(frame.reduced), finished);
            } else if (forward) {
                writer.setDelay(plan.delayOf(finished));
                writer.setFrameTransparency(frame.reduced.transparentIndex, frame.reduced.clearAfter);
                writer.writeFrame(frame.image.data(), frame.image.size());
                if (spill)
                    spill->add(frame);
            } else {
                spill->add(frame);
            }
            ++finished;
            if (countFinished)
                observer.setProgressPosition(finished);
        },
        observer);
    std::unique_ptr<Bitmap> buffer;
    const int read = readFrames(
        options, plan, start.reader, observer, run,
        [&](int) -> Bitmap& {
            buffer = pipeline.buffer();
            return *buffer;
        },
        [&](int, Bitmap&) { pipeline.add(std::move(buffer)); });
    const bool readingAborted = run.end == FrameRunEnd::Aborted;
    if (read > 0) {
        countFinished = true;
        observer.setProgressRange(0, read);
        observer.setProgressPosition(finished);
    }
    const int encoded = pipeline.finish(readingAborted ? GifFramePipeline::AbortRule::Ignore
                                                       : GifFramePipeline::AbortRule::Stop);
    if (changes)
        changes->finish();
    // The GIF's frames so far: going backward none is written before all are read.
    int written = forward ? encoded : 0;
    if (spill) {
        plan.settleDelays(spill->count(), options.direction, options.bounce);
        written = spill->write(writer, plan, options.direction, options.bounce, written);
    }
    result.frames = written;
    result.statusText = statusTextFor(plan.gw, plan.gh, written);
    if (encoded == 0) {
        result.outcome = AviToGifOutcome::NoFrames;
        result.message = read == 0 ? AviToGifMessages::NoFramesRead : AviToGifMessages::NothingBuilt;
        return result;
    }
    writer.finish();
    return result;
}

} // namespace kelvara
