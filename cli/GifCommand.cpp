// kelvara-cli gif: a video, or part of it, to a looping animated GIF.
#include "cli/Arguments.h"
#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/GifRewriter.h"
#include "cli/InputSpool.h"
#include "cli/Output.h"
#include "cli/Progress.h"

#include "convert/AviToGif.h"
#include "convert/GifJob.h"
#include "convert/GifSizeFit.h"
#include "gif/GifDocument.h"
#include "raster/Error.h"
#include "raster/Stream.h"
#include "video/FrameSource.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>

namespace kelvara::cli {

namespace {

// The frames a GIF kept whole in memory may hold: the frame table's.
constexpr int64_t MaxFramesInMemory = 256;

const char* const GifUsage =
    "Usage: kelvara-cli gif VIDEO -o OUT.gif [options]\n"
    "       kelvara-cli gif VIDEO... --out-dir DIR [-j N] [options]\n"
    "\n"
    "Converts a video, a frame range or a time range of it, into a looping animated GIF.\n"
    "  -o, --output FILE     the GIF to write; - for standard output. With several VIDEOs a\n"
    "                        folder (one that exists, or a name ending in /) is taken as\n"
    "                        --out-dir; a file is refused\n"
    "  --out-dir DIR         write each VIDEO's GIF as DIR/NAME.gif, NAME being the video's file\n"
    "                        name without its extension; the folder is made if need be\n"
    "  -j, --jobs N          with several VIDEOs, convert N at once, 1..16 (default 1); the\n"
    "                        GIFs are the same whatever N\n"
    "  --frames A-B          frames A to B (1-based, inclusive); A- to the end, -B from the\n"
    "                        start; default all frames. An end past the video's is cut to it.\n"
    "  --time T1-T2          the frames from time T1 to time T2: seconds (2, 1.5) or clock\n"
    "                        times (0:01.5, 00:00:01.500); T1- to the end, -T2 from the start\n"
    "  --step N              take every N-th frame, 1..10000 (default 1)\n"
    "  --fps R               frames a second, 0.01..50: for each time k/R from the start of the\n"
    "                        range, the picture on display then (a picture once, however long\n"
    "                        it shows), each lasting 1/R second for each time it stands for;\n"
    "                        excludes --step\n"
    "  --delay MS            frame interval in ms, 10..5000, to the nearest hundredth of a\n"
    "                        second; default the video's own timing: each frame lasts from its\n"
    "                        picture's time to the next frame's (with --step, --backward and\n"
    "                        --time too), in hundredths, the rounding carried on so the GIF\n"
    "                        lasts as long as the video, at least 2 hundredths a frame\n"
    "  --loop N              the loop count written in the GIF, 0..65535; 0 loops for ever\n"
    "                        (the default)\n"
    "  --no-loop             play once: no looping block\n"
    "  --speed F             multiply the playback speed by F, 0.1..10, after the delays are\n"
    "                        chosen (the rounding carried from frame to frame)\n"
    "  --backward            play the frames in reverse order\n"
    "  --bounce              play the frames forward, then back (1..n, then n-1..2), each as\n"
    "                        long as the first time\n"
    "  --crop L,T,R,B        convert this rectangle of the picture (right and bottom exclusive)\n"
    "  --scale R             the area scaled by 5:1, 4:1, 3:1, 2:1, 1:1, 1:2, 1:3, 1:4 or 1:5\n"
    "  --size WxH            a typed GIF size, 1..10000 each way\n"
    "  --width W, --height H one side typed, the other kept in the video's aspect ratio; both\n"
    "                        together are taken as typed. Give one of --scale, --size,\n"
    "                        --width/--height. A smaller GIF averages the pixels each of its\n"
    "                        pixels covers; a larger one repeats pixels.\n"
    "  --max-frames N        refuse to write a GIF of more than N pictures (after --step or\n"
    "                        --fps; --bounce shows them twice); 0, the default, for no limit\n"
    "  --quality MODE        classic (the default: the octree with the 20 system colours),\n"
    "                        high (refined palettes kept while they fit; still parts of the\n"
    "                        picture stay still) or a level 1..100 of it (high is 100):\n"
    "                        lower levels give smaller files\n"
    "  --lossy N             let each pixel show a colour up to N levels (per channel) from its\n"
    "                        own where that compresses better: 0..255, default none\n"
    "  --optimize            store each frame as the rectangle that changed, unchanged pixels\n"
    "                        transparent, and give the time of a frame that shows nothing new\n"
    "                        to the frame before; the GIF looks the same, the file is smaller\n"
    "  --max-size SIZE       the best GIF whose file is at most SIZE bytes: 10M, 2.5M, 800K\n"
    "                        (powers of 1000) or a number of bytes. Classic: the largest size\n"
    "                        (aspect ratio kept), then if need be a larger step. High or a\n"
    "                        level: the level, the size and the frame rate that look best, the\n"
    "                        GIF scaled back and played beside the video; the level given is\n"
    "                        the highest it may take. A typed size is the largest, the smaller\n"
    "                        side goes down to 64 pixels at least, and delays follow the frames\n"
    "                        kept. With --fps it takes fewer frames only by dividing the rate\n"
    "                        (R/2, R/3, ...). Tells on standard error what it chose.\n"
    "  --memory-limit SIZE   the memory the job may use, 2G by default (K, M and G count\n"
    "                        1024s); a job that would need more is refused before it starts.\n"
    "                        With -j N each job may use as much: N times the limit in all\n"
    "  -y, --overwrite       replace OUT if it exists\n"
    "  -q, --quiet           no progress, and nothing printed on success\n"
    "VIDEO may be - for standard input, or a pipe: it is copied to a temporary file first.\n"
    "With several VIDEOs each is converted with the same options; a video that fails is told\n"
    "on a line naming it and the others go on; the exit status is the worst of them (2, then\n"
    "1, then 3). Ctrl-C stops them all and leaves no unfinished file.\n"
    "The GIF is written as its frames are made: any number of frames, in constant memory.\n"
    "With --max-size, and with --optimize going backward or with --bounce, the frames are kept\n"
    "until the end:\n"
    "at most 256 of them (--max-size takes a larger step to keep to that). --optimize going\n"
    "forward keeps up to 256 frames to try one colour table for all; longer GIFs are written\n"
    "as they are made.\n"
    "A video with an alpha channel (QuickTime Animation ARGB, PNG in MOV, VP9 in WebM) gives a\n"
    "GIF that is transparent where the alpha is below half (not an AVI file).\n";

Rect parseCrop(const std::string& text) {
    long long v[4];
    size_t start = 0;
    for (int k = 0; k < 4; ++k) {
        const size_t comma = k < 3 ? text.find(',', start) : text.size();
        if (comma == std::string::npos)
            throw UsageError("--crop must look like L,T,R,B, not '" + text + "'");
        v[k] = integerIn("--crop", text.substr(start, comma - start), 0, 100000);
        start = comma + 1;
    }
    return {int(v[0]), int(v[1]), int(v[2]), int(v[3])};
}

// The delay the video's rate gives: the frame duration times the step, rounded to hundredths.
// Browsers play delays below 2 hundredths as 10, so 2 is the least. Taken when the video's
// pictures tell no times of their own.
int sourceDelayHundredths(double fps, double step) {
    if (!(fps > 0))
        return 10;
    const double hundredths = 100.0 * step / fps;
    return static_cast<int>(std::clamp<double>(std::lround(hundredths), 2, 65535));
}

// What the command line asks of every video.
struct GifRequest {
    std::vector<std::string> videos;
    std::string output, outDir;
    int jobs = 1;
    bool overwrite = false, quiet = false, noLoop = false;
    double speed = 1;
    bool loopGiven = false, stepGiven = false;
    AviToGifOptions options;
    std::string framesText, timeText, cropText;
    SizeOptions size;
    std::optional<int> delayMs;
    std::optional<uint64_t> maxSize;
};

// Takes one option of the GIF's own; false when the argument is none of them.
bool takeGifOption(ArgumentReader& args, GifRequest& request) {
    AviToGifOptions& options = request.options;
    if (args.option({"--frames"})) {
        request.framesText = args.value();
    } else if (args.option({"--time"})) {
        request.timeText = args.value();
    } else if (args.option({"--step"})) {
        options.samplingStep = static_cast<int>(integerIn("--step", args.value(), 1, 10000));
        request.stepGiven = true;
    } else if (args.option({"--fps"})) {
        options.frameRate = numberIn("--fps", args.value(), 0.01, 50);
    } else if (args.flag({"--bounce"})) {
        options.bounce = true;
    } else if (args.option({"--delay"})) {
        request.delayMs = static_cast<int>(integerIn("--delay", args.value(), 10, 5000));
    } else if (args.option({"--loop"})) {
        options.loopCount = static_cast<uint16_t>(integerIn("--loop", args.value(), 0, 65535));
        request.loopGiven = true;
    } else if (args.option({"--max-frames"})) {
        options.maxFrames = integerIn("--max-frames", args.value(), 0, INT32_MAX);
    } else if (args.flag({"--backward"})) {
        options.direction = Direction::Backward;
    } else if (args.option({"--crop"})) {
        request.cropText = args.value();
    } else if (args.option({"--scale"})) {
        const std::string& text = args.value();
        options.scaleIndex = -1;
        for (int k = 0; k < 9; ++k)
            if (text == ScaleRatioNames[k])
                options.scaleIndex = k;
        if (options.scaleIndex < 0)
            throw UsageError("--scale must be one of 5:1 4:1 3:1 2:1 1:1 1:2 1:3 1:4 1:5, not '" + text +
                             "'");
        options.sizeMode = GifSizeMode::Scale;
    } else if (request.size.take(args)) {
    } else if (takeGifBuildOption(args, options.build)) {
    } else if (args.option({"--max-size"})) {
        request.maxSize = byteLimitFromText(args.value());
        if (!request.maxSize)
            throw UsageError("--max-size must be a size such as 10M, 2.5M, 800K or 500000, not '" +
                             args.value() + "'");
    } else if (takeMemoryLimit(args, options.memoryLimit)) {
    } else if (args.flag({"--no-loop"})) {
        request.noLoop = true;
    } else if (args.option({"--speed"})) {
        request.speed = numberIn("--speed", args.value(), 0.1, 10);
    } else {
        return false;
    }
    return true;
}

GifRequest parseGifArguments(const std::vector<std::string>& arguments) {
    GifRequest request;
    ArgumentReader args(arguments);
    while (args.next()) {
        if (args.isPositional()) {
            request.videos.push_back(args.text());
        } else if (args.option({"-o", "--output"})) {
            request.output = args.value();
        } else if (args.option({"--out-dir"})) {
            request.outDir = args.value();
        } else if (takeJobs(args, request.jobs)) {
        } else if (takeGifOption(args, request)) {
        } else if (args.flag({"--overwrite", "-y"})) {
            request.overwrite = true;
        } else if (args.flag({"--quiet", "-q"})) {
            request.quiet = true;
        } else {
            args.unknown();
        }
    }
    if (request.videos.empty())
        throw UsageError("gif needs a VIDEO");
    settleOutputs(request.videos, request.output, request.outDir, "gif needs -o OUT.gif");
    if (!request.framesText.empty() && !request.timeText.empty())
        throw UsageError("--frames and --time exclude each other");
    if (request.options.sizeMode == GifSizeMode::Scale && request.size.given())
        throw UsageError("give one of --scale, --size and --width/--height");
    if (request.noLoop && request.loopGiven)
        throw UsageError("--loop and --no-loop exclude each other");
    if (request.options.frameRate > 0 && request.stepGiven)
        throw UsageError("--fps and --step exclude each other");
    return request;
}

// The job's options for one video, with the facts as the tab has them after opening it.
AviToGifOptions jobOptionsFor(const GifRequest& request, const std::string& path, const VideoFacts& facts) {
    AviToGifOptions job = request.options;
    job.videoPath = path;
    job.frameCount = facts.frameCount;
    job.lengthMs = facts.lengthMs;
    job.frames = FrameChoice::All;
    if (!request.framesText.empty()) {
        parseFrameRange("--frames", request.framesText, facts.frameCount, job.firstFrame, job.lastFrame);
        job.frames = FrameChoice::FrameRange;
    }
    if (!request.timeText.empty()) {
        int64_t fromUs = 0, toUs = 0;
        parseTimeRange("--time", request.timeText, facts.lengthMs, fromUs, toUs);
        job.fromUs = fromUs;
        job.toUs = toUs;
        job.frames = FrameChoice::TimeRange;
    }
    // Without --delay the GIF keeps the video's timing, each frame lasting as long as its picture
    // shows; the tab's 100 ms default stays the tab's. A typed delay goes to the nearest hundredth.
    const std::optional<int>& delayMs = request.delayMs;
    job.delayHundredths = delayMs             ? (*delayMs + 5) / 10
                          : job.frameRate > 0 ? sourceDelayHundredths(job.frameRate, 1)
                                              : sourceDelayHundredths(facts.fps, job.samplingStep);
    job.delaysFromTimes = !delayMs;
    job.limitRule = FrameLimitRule::AfterStep;
    if (!request.cropText.empty()) {
        const Rect crop = parseCrop(request.cropText);
        if (crop.right > facts.width || crop.bottom > facts.height || crop.left >= crop.right ||
            crop.top >= crop.bottom)
            throw UsageError("--crop must lie within the " + std::to_string(facts.width) + " x " +
                             std::to_string(facts.height) + " picture, not '" + request.cropText + "'");
        job.crop = crop;
    } else {
        job.crop = {0, 0, facts.width, facts.height};
    }
    job.baseWidth = job.crop.width();
    job.baseHeight = job.crop.height();
    if (request.size.given()) {
        job.sizeMode = GifSizeMode::Specified;
        request.size.sizeFor(facts.width, facts.height, job.specifiedWidth, job.specifiedHeight);
    }
    return job;
}

// The output file a GIF written as it is made goes to, through the rewriter when --no-loop or
// --speed change its blocks on the way.
class OutputTarget final : public GifStreamTarget {
public:
    OutputTarget(const std::string& path, bool overwrite, const GifRewrite& rewrite)
        : m_path(path), m_overwrite(overwrite), m_rewrite(rewrite) {}

    Stream& open() override {
        m_file = openOutput(m_path, m_overwrite);
        m_file->setWriteThrough();
        if (!m_rewrite.any())
            return *m_file;
        m_rewriter = std::make_unique<GifRewriter>(*m_file, m_rewrite);
        return *m_rewriter;
    }
    std::string spillFolder() const override { return cli::spillFolder(m_path); }
    void finish() override {
        if (m_rewriter)
            m_rewriter->finish();
    }
    // Puts the finished file in place.
    void commit() { commitOutput(*m_file, m_path); }

private:
    std::string m_path;
    bool m_overwrite;
    GifRewrite m_rewrite;
    std::unique_ptr<OutputFile> m_file;
    std::unique_ptr<GifRewriter> m_rewriter;
};

// The warning of a run refused for its frames.
std::string refusalText(const GifRequest& request, const GifJobResult& result, const std::string& video,
                        int64_t typedMaxFrames) {
    const AviToGifResult& job = result.job;
    if (job.message == AviToGifMessages::CheckRange)
        return video + ": " + job.message;
    const std::string asked = std::to_string(job.run.asked);
    if (result.sink != GifSink::Stream && result.framesHeld &&
        (typedMaxFrames == 0 || typedMaxFrames > MaxFramesInMemory))
        return "the GIF would hold " + asked + " frames; " +
               (request.maxSize                                    ? "--max-size"
                : request.options.direction == Direction::Backward ? "--optimize with --backward"
                                                                   : "--optimize with --bounce") +
               " keeps the frames in memory, at most " + std::to_string(MaxFramesInMemory) +
               "; choose fewer with --frames, --time or --step";
    return "the GIF would hold " + asked + " frames, more than --max-frames " +
           std::to_string(typedMaxFrames) + "; choose fewer with --frames, --time or --step";
}

// Writes the GIF a run held in memory, or puts the streamed one in place.
void writeGif(const GifRequest& request, const GifJobResult& result, const std::string& output,
              const GifRewrite& rewrite, const TGIFDocument& built, OutputTarget& target) {
    if (result.sink == GifSink::SizeFitted) {
        const std::vector<uint8_t>& file = result.fitted.file;
        writeOutput(output, rewrite.any() ? rewriteGif(file, rewrite) : file, request.overwrite);
        if (!request.quiet)
            say(result.fitted.summary);
    } else if (result.sink == GifSink::Document) {
        MemoryStream bytes;
        built.SaveToStream(bytes);
        writeOutput(output, rewrite.any() ? rewriteGif(bytes.bytes(), rewrite) : bytes.bytes(),
                    request.overwrite);
    } else {
        target.commit();
    }
}

// One video to one GIF.
int convertOne(const GifRequest& request, const std::string& video, const std::string& output,
               const std::string& label, int threads) {
    setCurrentInput(video);
    checkGifOutputName("gif", output);
    checkOutput(output, request.overwrite);
    GifRewrite rewrite;
    rewrite.dropLoop = request.noLoop;
    rewrite.speed = request.speed;

    const InputSpool input(video);
    const VideoFacts facts = probeVideo(input.path());
    GifJobRequest job;
    job.options = jobOptionsFor(request, input.path(), facts);
    // Frames are reduced and compressed on every core (shared by the jobs running at once).
    job.options.threads = threads;
    job.policy = GifSinkPolicy::Streaming;
    job.maxFramesInMemory = MaxFramesInMemory;
    if (request.maxSize) {
        GifSizeFitOptions fit;
        fit.limit = *request.maxSize;
        // A typed delay grows with the step too: the GIF keeps the speed it asked for.
        fit.delayFollowsStep = true;
        job.fit = fit;
    }
    TGIFDocument built;
    job.built = &built;
    OutputTarget target(output, request.overwrite, rewrite);
    job.stream = &target;

    ProgressPrinter progress(request.quiet, label);
    const GifJobResult result = runGifJob(job, progress);
    progress.finish();
    if (result.job.outcome == AviToGifOutcome::Warning) {
        say(refusalText(request, result, video, job.options.maxFrames));
        return ExitUsage;
    }
    if (result.job.outcome != AviToGifOutcome::Built)
        throw Error(result.job.message);
    if (result.sink == GifSink::SizeFitted && !result.fitted.fits)
        throw Error(result.fitted.message);
    writeGif(request, result, output, rewrite, built, target);
    summary(output, result.job.statusText);
    return runExitStatus(result.job.run);
}

int gifCommand(const std::vector<std::string>& arguments) {
    const GifRequest request = parseGifArguments(arguments);
    setQuiet(request.quiet);
    // One input, or each of several: a GIF named by its input in the folder given.
    if (request.outDir.empty())
        return convertOne(request, request.videos.front(), request.output, {}, 0);
    const std::vector<std::string> outputs = outputsInFolder(request.videos, request.outDir, ".gif");
    makeFolder(request.outDir);
    if (request.videos.size() == 1)
        return convertOne(request, request.videos.front(), outputs.front(), {}, 0);
    return runJobs(request.videos, request.jobs, [&](size_t k, const std::string& label, int threads) {
        return convertOne(request, request.videos[k], outputs[k], label, threads);
    });
}

} // namespace

const Command& gifCommandEntry() {
    static const Command command{"gif", "VIDEO -o OUT.gif [options]",
                                 "convert a video, or part of it, to a GIF", GifUsage, gifCommand};
    return command;
}

} // namespace kelvara::cli
