// kelvara-cli gif: an AVI video, or part of it, to a looping animated GIF.
#include "cli/Commands.h"
#include "cli/Progress.h"

#include "convert/AviToGif.h"
#include "gif/GifDocument.h"
#include "raster/Error.h"
#include "raster/Stream.h"
#include "video/FrameSource.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <thread>

namespace kelvara::cli {

namespace {

const char* const GifUsage =
    "Usage: kelvara-cli gif VIDEO -o OUT.gif [options]\n"
    "\n"
    "Converts an AVI video, a frame range or a time range of it, into a looping animated GIF.\n"
    "  -o, --output FILE     the GIF to write\n"
    "  --frames A-B          frames A to B (1-based, inclusive); default all frames\n"
    "  --time S1-S2          the frames from second S1 to second S2\n"
    "  --step N              take every N-th frame (default 1)\n"
    "  --delay MS            frame interval in ms, 10..5000 (default 100; other values give 100)\n"
    "  --backward            play the frames in reverse order\n"
    "  --crop L,T,R,B        convert this rectangle of the picture (right and bottom exclusive)\n"
    "  --scale R             the area scaled by 5:1, 4:1, 3:1, 2:1, 1:1, 1:2, 1:3, 1:4 or 1:5\n"
    "  --size WxH            a typed GIF size\n"
    "  --width W, --height H one side typed, the other kept in the video's aspect ratio\n"
    "  --overwrite           replace OUT if it exists\n"
    "  --quiet               no progress on standard error\n";

int gifCommand(const std::vector<std::string>& args) {
    std::string video, output;
    bool overwrite = false, quiet = false;
    AviToGifOptions options;
    bool haveFrames = false, haveTime = false, haveCrop = false;
    int sizeOptions = 0;
    std::string delayText = "100";
    int width = -1, height = -1;
    Rect crop;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            return args[++i];
        };
        if (a == "-o" || a == "--output") {
            output = value();
        } else if (a == "--frames") {
            parseRange(value(), "--frames", options.firstFrame, options.lastFrame);
            haveFrames = true;
        } else if (a == "--time") {
            parseRange(value(), "--time", options.fromSecond, options.toSecond);
            haveTime = true;
        } else if (a == "--step") {
            options.samplingStep = static_cast<int>(parseInteger(value(), "--step"));
        } else if (a == "--delay") {
            delayText = value();
        } else if (a == "--backward") {
            options.direction = Direction::Backward;
        } else if (a == "--crop") {
            std::string text = value();
            long long v[4];
            size_t start = 0;
            for (int k = 0; k < 4; ++k) {
                size_t comma = k < 3 ? text.find(',', start) : text.size();
                if (comma == std::string::npos)
                    throw UsageError("--crop must look like L,T,R,B, not '" + text + "'");
                v[k] = parseInteger(text.substr(start, comma - start), "--crop");
                start = comma + 1;
            }
            crop = {int(v[0]), int(v[1]), int(v[2]), int(v[3])};
            haveCrop = true;
        } else if (a == "--scale") {
            std::string text = value();
            options.scaleIndex = -1;
            for (int k = 0; k < 9; ++k)
                if (text == ScaleRatioNames[k])
                    options.scaleIndex = k;
            if (options.scaleIndex < 0)
                throw UsageError("--scale must be one of 5:1 4:1 3:1 2:1 1:1 1:2 1:3 1:4 1:5, not '" + text +
                                 "'");
            options.sizeMode = GifSizeMode::Scale;
            ++sizeOptions;
        } else if (a == "--size") {
            parseSize(value(), "--size", width, height);
            ++sizeOptions;
        } else if (a == "--width") {
            width = static_cast<int>(parseInteger(value(), "--width"));
        } else if (a == "--height") {
            height = static_cast<int>(parseInteger(value(), "--height"));
        } else if (a == "--overwrite") {
            overwrite = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            throw UsageError("unknown option " + a);
        } else if (video.empty()) {
            video = a;
        } else {
            throw UsageError("only one VIDEO, please");
        }
    }
    if (video.empty())
        throw UsageError("gif needs a VIDEO");
    if (output.empty())
        throw UsageError("gif needs -o OUT.gif");
    if (haveFrames && haveTime)
        throw UsageError("--frames and --time exclude each other");
    if ((width >= 0 || height >= 0) && sizeOptions == 0)
        ++sizeOptions;
    if (sizeOptions > 1)
        throw UsageError("choose one of --scale, --size, --width/--height");
    struct stat st;
    if (!overwrite && ::stat(output.c_str(), &st) == 0)
        throw Error("\"" + output + "\" exists; use --overwrite to replace it");

    // The facts as the tab has them after opening the video.
    VideoFacts facts = probeVideo(video);
    options.videoPath = video;
    options.frameCount = facts.frameCount;
    options.lengthMs = facts.lengthMs;
    options.frames = haveFrames ? FrameChoice::FrameRange
                     : haveTime ? FrameChoice::TimeRange
                                : FrameChoice::All;
    options.delayMs = gifDelayFromText(delayText);
    if (haveCrop) {
        if (crop.left < 0 || crop.top < 0 || crop.right > facts.width || crop.bottom > facts.height ||
            crop.left >= crop.right || crop.top >= crop.bottom)
            throw Error("The crop rectangle must lie within the " + std::to_string(facts.width) + " x " +
                        std::to_string(facts.height) + " picture.");
        options.crop = crop;
    } else {
        options.crop = {0, 0, facts.width, facts.height};
    }
    options.baseWidth = options.crop.width();
    options.baseHeight = options.crop.height();
    if (width >= 0 || height >= 0) {
        // One side alone keeps the video's aspect ratio, as the size spin edits do.
        options.sizeMode = GifSizeMode::Specified;
        options.specifiedWidth = width >= 0 ? width : aspectSide(height, facts.height, facts.width);
        options.specifiedHeight = height >= 0 ? height : aspectSide(width, facts.width, facts.height);
    }

    // Frames are reduced independently: spread them over the machine's cores.
    options.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    ProgressPrinter progress(quiet);
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    AviToGifResult result = convertAviToGif(options, table, built, progress);
    progress.finish();
    if (result.outcome != AviToGifOutcome::Built)
        throw Error(result.message);
    MemoryStream bytes;
    built.SaveToStream(bytes);
    writeOutput(output, bytes.bytes(), overwrite);
    std::printf("%s\n", result.statusText.c_str());
    return ExitOk;
}

} // namespace

const Command& gifCommandEntry() {
    static const Command command{"gif", GifUsage, gifCommand};
    return command;
}

} // namespace kelvara::cli
