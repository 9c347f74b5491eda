// kelvara-cli frames: extracts frames of a video and writes each as a still image.
#include "cli/Commands.h"
#include "cli/Progress.h"
#include "cli/WriteCommand.h"

#include "convert/AviToGif.h"
#include "convert/FrameExtraction.h"
#include "output/SaveOptions.h"
#include "raster/Error.h"
#include "video/FrameSource.h"

#include <cstdio>
#include <filesystem>
#include <vector>

namespace kelvara::cli {

namespace {

std::string framesUsageText() {
    return std::string(
               "Usage: kelvara-cli frames VIDEO --format FORMAT [options] [writer options]\n"
               "\n"
               "Extracts 2 to 256 frames of an AVI video and writes each as BASE + NUMBER + extension.\n"
               "  --format F            bmp, jpg, gif, tif, pcx, tga, jp2 or png\n"
               "  --range A-B           frames A to B (1-based, inclusive); default all frames\n"
               "  --size WxH            a typed frame size; default the video's size\n"
               "  --width W, --height H one side typed, the other kept in the video's aspect ratio\n"
               "  --base NAME           base file name (default \"frame\")\n"
               "  --out-dir DIR         folder to write to (default the current folder)\n"
               "  --overwrite           replace files that exist\n"
               "  --quiet               no progress on standard error\n"
               "\n") +
           WriterOptions::usage();
}

int framesCommand(const std::vector<std::string>& args) {
    std::string video, formatName, base = "frame", outDir = ".";
    bool overwrite = false, quiet = false, haveRange = false;
    int64_t first = 0, last = 0;
    int width = -1, height = -1;
    WriterOptions writerOptions;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            return args[++i];
        };
        if (a == "--format") {
            formatName = value();
        } else if (a == "--range") {
            parseRange(value(), "--range", first, last);
            haveRange = true;
        } else if (a == "--size") {
            parseSize(value(), "--size", width, height);
        } else if (a == "--width") {
            width = static_cast<int>(parseInteger(value(), "--width"));
        } else if (a == "--height") {
            height = static_cast<int>(parseInteger(value(), "--height"));
        } else if (a == "--base") {
            base = value();
        } else if (a == "--out-dir") {
            outDir = value();
        } else if (a == "--overwrite") {
            overwrite = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (writerOptions.take(args, i)) {
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            throw UsageError("unknown option " + a);
        } else if (video.empty()) {
            video = a;
        } else {
            throw UsageError("only one VIDEO, please");
        }
    }
    if (video.empty())
        throw UsageError("frames needs a VIDEO");
    if (formatName.empty())
        throw UsageError("frames needs --format");
    const StillImageFormat format = parseStillImageFormat(formatName);
    const StillImageSaveOptions saveOptions = writerOptions.saveOptions(format);
    if (base.empty() || base.find('/') != std::string::npos)
        throw UsageError("--base must be a file name without folders");

    VideoFacts facts = probeVideo(video);
    if (!haveRange) {
        first = 1;
        last = facts.frameCount;
    }
    int w = facts.width, h = facts.height;
    if (width >= 0 || height >= 0) {
        w = width >= 0 ? width : aspectSide(height, facts.height, facts.width);
        h = height >= 0 ? height : aspectSide(width, facts.width, facts.height);
    }
    if (w < 1 || h < 1 || w > 10000 || h > 10000)
        throw Error("The frame size must lie within 1..10000 pixels each way, not " + std::to_string(w) +
                    " x " + std::to_string(h) + ".");

    // Nothing is replaced without consent: look before extracting.
    if (!overwrite) {
        for (long long n = first; n <= last && n - first < 256; ++n) {
            std::string path = outDir + "/" + stillImageFileName(base, static_cast<int>(n), format);
            if (std::filesystem::exists(path))
                throw Error("\"" + path + "\" exists; use --overwrite to replace it");
        }
    }

    FrameTable table(ExtractionFrameTableSize);
    std::vector<int64_t> numbers;
    FrameExtractionOptions options;
    options.videoPath = video;
    options.firstFrame = first;
    options.lastFrame = last;
    options.videoWidth = facts.width;
    options.videoHeight = facts.height;
    options.frameSize = [&](int& fw, int& fh) {
        fw = w;
        fh = h;
    };
    options.frameAdded = [&](int, int64_t number) { numbers.push_back(number); };
    ProgressPrinter progress(quiet);
    FrameExtractionResult result = extractFrames(options, table, progress);
    progress.finish();
    if (result.outcome == FrameExtractionOutcome::Warning)
        throw Error(result.message);
    std::filesystem::create_directories(outDir);
    for (size_t i = 0; i < numbers.size(); ++i) {
        std::string path = outDir + "/" + stillImageFileName(base, static_cast<int>(numbers[i]), format);
        saveStillImageFile(table.entry(static_cast<int>(i + 1)), saveOptions, format, path,
                           overwrite ? ExistingFile::Replace : ExistingFile::Keep);
    }
    std::printf("%zu frames written to %s\n", numbers.size(), outDir.c_str());
    return ExitOk;
}

} // namespace

const Command& framesCommandEntry() {
    static const std::string usage = framesUsageText();
    static const Command command{"frames", usage.c_str(), framesCommand};
    return command;
}

} // namespace kelvara::cli
