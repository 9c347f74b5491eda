// kelvara-cli gif: a video, or part of it, to a looping animated GIF.
#include "cli/Arguments.h"
#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/GifRewriter.h"
#include "cli/InputSpool.h"
#include "cli/Output.h"
#include "cli/Progress.h"

#include "convert/AviToGif.h"
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

int gifCommand(const std::vector<std::string>& arguments) {
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
    ArgumentReader args(arguments);
    while (args.next()) {
        if (args.isPositional()) {
            videos.push_back(args.text());
        } else if (args.option({"-o", "--output"})) {
            output = args.value();
        } else if (args.option({"--out-dir"})) {
            outDir = args.value();
        } else if (takeJobs(args, jobs)) {
        } else if (args.option({"--frames"})) {
            framesText = args.value();
        } else if (args.option({"--time"})) {
            timeText = args.value();
        } else if (args.option({"--step"})) {
            options.samplingStep = static_cast<int>(integerIn("--step", args.value(), 1, 10000));
            stepGiven = true;
        } else if (args.option({"--fps"})) {
            options.frameRate = numberIn("--fps", args.value(), 0.01, 50);
        } else if (args.flag({"--bounce"})) {
            options.bounce = true;
        } else if (args.option({"--delay"})) {
            delayMs = static_cast<int>(integerIn("--delay", args.value(), 10, 5000));
        } else if (args.option({"--loop"})) {
            options.loopCount = static_cast<uint16_t>(integerIn("--loop", args.value(), 0, 65535));
            loopGiven = true;
        } else if (args.option({"--max-frames"})) {
            options.maxFrames = integerIn("--max-frames", args.value(), 0, INT32_MAX);
        } else if (args.flag({"--backward"})) {
            options.direction = Direction::Backward;
        } else if (args.option({"--crop"})) {
            cropText = args.value();
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
        } else if (size.take(args)) {
        } else if (takeGifBuildOption(args, options.build)) {
        } else if (args.option({"--max-size"})) {
            maxSize = byteLimitFromText(args.value());
            if (!maxSize)
                throw UsageError("--max-size must be a size such as 10M, 2.5M, 800K or 500000, not '" +
                                 args.value() + "'");
        } else if (takeMemoryLimit(args, options.memoryLimit)) {
        } else if (args.flag({"--no-loop"})) {
            noLoop = true;
        } else if (args.option({"--speed"})) {
            speed = numberIn("--speed", args.value(), 0.1, 10);
        } else if (args.flag({"--overwrite", "-y"})) {
            overwrite = true;
        } else if (args.flag({"--quiet", "-q"})) {
            quiet = true;
        } else {
            args.unknown();
        }
    }
    if (videos.empty())
        throw UsageError("gif needs a VIDEO");
    settleOutputs(videos, output, outDir, "gif needs -o OUT.gif");
    if (!framesText.empty() && !timeText.empty())
        throw UsageError("--frames and --time exclude each other");
    if (options.sizeMode == GifSizeMode::Scale && size.given())
        throw UsageError("give one of --scale, --size and --width/--height");
    if (noLoop && loopGiven)
        throw UsageError("--loop and --no-loop exclude each other");
    if (options.frameRate > 0 && stepGiven)
        throw UsageError("--fps and --step exclude each other");
    setQuiet(quiet);

    // One input, or each of several: a GIF named by its input in the folder given.
    auto convert = [&](const std::string& video, const std::string& output, const std::string& label,
                       int threads) -> int {
        setCurrentInput(video);
        checkGifOutputName("gif", output);
        checkOutput(output, overwrite);
        AviToGifOptions job = options;
        GifRewrite rewrite;
        rewrite.dropLoop = noLoop;
        rewrite.speed = speed;

        // The facts as the tab has them after opening the video.
        const InputSpool input(video);
        const VideoFacts facts = probeVideo(input.path());
        job.videoPath = input.path();
        job.frameCount = facts.frameCount;
        job.lengthMs = facts.lengthMs;
        job.frames = FrameChoice::All;
        if (!framesText.empty()) {
            parseFrameRange("--frames", framesText, facts.frameCount, job.firstFrame, job.lastFrame);
            job.frames = FrameChoice::FrameRange;
        }
        if (!timeText.empty()) {
            int64_t fromUs = 0, toUs = 0;
            parseTimeRange("--time", timeText, facts.lengthMs, fromUs, toUs);
            job.fromUs = fromUs;
            job.toUs = toUs;
            job.frames = FrameChoice::TimeRange;
        }
        // Without --delay the GIF keeps the video's timing, each frame lasting as long as its picture
        // shows; the tab's 100 ms default stays the tab's. A typed delay goes to the nearest hundredth.
        job.delayHundredths = delayMs             ? (*delayMs + 5) / 10
                              : job.frameRate > 0 ? sourceDelayHundredths(job.frameRate, 1)
                                                  : sourceDelayHundredths(facts.fps, job.samplingStep);
        job.delaysFromTimes = !delayMs;
        job.limitRule = FrameLimitRule::AfterStep;
        if (!cropText.empty()) {
            const Rect crop = parseCrop(cropText);
            if (crop.right > facts.width || crop.bottom > facts.height || crop.left >= crop.right ||
                crop.top >= crop.bottom)
                throw UsageError("--crop must lie within the " + std::to_string(facts.width) + " x " +
                                 std::to_string(facts.height) + " picture, not '" + cropText + "'");
            job.crop = crop;
        } else {
            job.crop = {0, 0, facts.width, facts.height};
        }
        job.baseWidth = job.crop.width();
        job.baseHeight = job.crop.height();
        if (size.given()) {
            job.sizeMode = GifSizeMode::Specified;
            size.sizeFor(facts.width, facts.height, job.specifiedWidth, job.specifiedHeight);
        }

        // Frames are reduced and compressed on every core (shared by the jobs running at once) and
        // written as they are made.
        job.threads = threads;
        ProgressPrinter progress(quiet, label);
        // Fitting the file under a size works on the whole GIF in memory, and so does storing frames
        // as their changes while they are few enough to keep (one colour table may then serve them
        // all); every other GIF is written as it is made.
        bool whole = job.build.optimize || maxSize.has_value();
        // Frames stored as their changes going backward or bouncing need every frame first.
        const bool mustHold = job.direction == Direction::Backward || job.bounce;
        std::unique_ptr<OutputFile> file;
        std::unique_ptr<FrameTable> table;
        TGIFDocument built;
        const int64_t typedMaxFrames = job.maxFrames;
        GifSizeFitResult fitted;
        AviToGifResult result;
        if (whole) {
            table = std::make_unique<FrameTable>(GifFrameTableSize);
            if (job.maxFrames == 0 || job.maxFrames > MaxFramesInMemory)
                job.maxFrames = MaxFramesInMemory;
            if (maxSize) {
                GifSizeFitOptions fit;
                fit.limit = *maxSize;
                // A typed delay grows with the step too: the GIF keeps the speed it asked for.
                fit.delayFollowsStep = true;
                fit.maxFrames = job.maxFrames;
                fitted = fitGifUnderSize(job, fit, *table, built, progress);
                result = fitted.job;
            } else {
                // Too many frames to keep, or too large for the memory: going forward they are
                // stored as their changes as they are made instead. Refused before anything was
                // read, so nothing is lost.
                bool tooLarge = false;
                try {
                    result = convertAviToGif(job, *table, built, progress);
                } catch (const MemoryLimitError&) {
                    if (job.direction != Direction::Forward)
                        throw;
                    tooLarge = true;
                    result = {};
                }
                const bool tooMany = tooLarge || (result.outcome == AviToGifOutcome::Warning &&
                                                  result.message != AviToGifMessages::CheckRange);
                if (tooMany && !mustHold && (typedMaxFrames == 0 || result.run.asked <= typedMaxFrames)) {
                    whole = false;
                    table.reset();
                    job.maxFrames = typedMaxFrames;
                }
            }
        }
        if (!whole) {
            file = openOutput(output, overwrite);
            file->setWriteThrough();
            if (rewrite.any()) {
                GifRewriter rewriter(*file, rewrite);
                result = streamAviToGif(job, rewriter, progress, spillFolder(output));
                rewriter.finish();
            } else {
                result = streamAviToGif(job, *file, progress, spillFolder(output));
            }
        }
        progress.finish();
        if (result.outcome == AviToGifOutcome::Warning) {
            const std::string asked = std::to_string(result.run.asked);
            if (result.message == AviToGifMessages::CheckRange)
                say(video + ": " + result.message);
            else if (whole && (maxSize || mustHold) &&
                     (typedMaxFrames == 0 || typedMaxFrames > MaxFramesInMemory))
                say("the GIF would hold " + asked + " frames; " +
                    (maxSize                                ? "--max-size"
                     : job.direction == Direction::Backward ? "--optimize with --backward"
                                                            : "--optimize with --bounce") +
                    " keeps the frames in memory, at most " + std::to_string(MaxFramesInMemory) +
                    "; choose fewer with --frames, --time or --step");
            else
                say("the GIF would hold " + asked + " frames, more than --max-frames " +
                    std::to_string(typedMaxFrames) + "; choose fewer with --frames, --time or --step");
            return ExitUsage;
        }
        if (result.outcome != AviToGifOutcome::Built)
            throw Error(result.message);
        if (maxSize && !fitted.fits)
            throw Error(fitted.message);
        if (maxSize) {
            writeOutput(output, rewrite.any() ? rewriteGif(fitted.file, rewrite) : fitted.file, overwrite);
            if (!quiet)
                say(fitted.summary);
        } else if (whole) {
            MemoryStream bytes;
            built.SaveToStream(bytes);
            writeOutput(output, rewrite.any() ? rewriteGif(bytes.bytes(), rewrite) : bytes.bytes(),
                        overwrite);
        } else {
            commitOutput(*file, output);
        }
        summary(output, result.statusText);
        return runExitStatus(result.run);
    };
    if (outDir.empty())
        return convert(videos.front(), output, {}, 0);
    const std::vector<std::string> outputs = outputsInFolder(videos, outDir, ".gif");
    makeFolder(outDir);
    if (videos.size() == 1)
        return convert(videos.front(), outputs.front(), {}, 0);
    return runJobs(videos, jobs, [&](size_t k, const std::string& label, int threads) {
        return convert(videos[k], outputs[k], label, threads);
    });
}

} // namespace

const Command& gifCommandEntry() {
    static const Command command{"gif", "VIDEO -o OUT.gif [options]",
                                 "convert a video, or part of it, to a GIF", GifUsage, gifCommand};
    return command;
}

} // namespace kelvara::cli
