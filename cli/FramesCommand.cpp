// kelvara-cli frames: extracts frames of a video and writes each as a still image.
#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Progress.h"
#include "cli/WriteCommand.h"

#include "convert/AviToGif.h"
#include "convert/FrameExtraction.h"
#include "convert/JobMemory.h"
#include "output/SaveOptions.h"
#include "raster/Error.h"
#include "raster/OrderedPipeline.h"
#include "video/FrameSource.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace kelvara::cli {

namespace {

const char* const FramesUsage =
    "Usage: kelvara-cli frames VIDEO --format FORMAT [options] [writer options]\n"
    "\n"
    "Extracts 2 to 256 frames of a video and writes each as BASE + NUMBER + extension. PNG and\n"
    "TGA keep the alpha channel of a video that has one (not of an AVI file).\n"
    "  --format F            bmp, jpg (jpeg), gif, tif (tiff), pcx, tga (targa), jp2, j2k or png\n"
    "  --range A-B           frames A to B (1-based, inclusive); default all frames\n"
    "  --size WxH            a typed frame size, 1..10000 each way; default the video's size\n"
    "  --width W, --height H one side typed, the other kept in the video's aspect ratio; both\n"
    "                        together are taken as typed. Give --size or --width/--height.\n"
    "                        A smaller frame averages the pixels each of its pixels covers;\n"
    "                        a larger one repeats pixels.\n"
    "  --base NAME           base file name (default \"frame\")\n"
    "  --out-dir DIR         folder to write to (default the current folder)\n"
    "  --memory-limit SIZE   the memory the job may use, 2G by default (K, M and G count\n"
    "                        1024s); a job that would need more is refused before it starts\n"
    "  --overwrite           replace files that exist\n"
    "  --quiet               no progress on standard error\n"
    "\n";

int framesCommand(const std::vector<std::string>& arguments) {
    std::string video, formatName, base = "frame", outDir = ".", rangeText;
    bool overwrite = false, quiet = false;
    SizeOptions size;
    WriterOptions writerOptions;
    uint64_t memoryLimit = DefaultMemoryLimit;
    ArgumentReader args(arguments);
    while (args.next()) {
        if (args.isPositional()) {
            if (!video.empty())
                throw UsageError("unexpected argument '" + args.text() + "': frames takes one VIDEO");
            video = args.text();
        } else if (args.option({"--format"})) {
            formatName = args.value();
        } else if (args.option({"--range"})) {
            rangeText = args.value();
        } else if (size.take(args)) {
        } else if (args.option({"--base"})) {
            base = args.value();
        } else if (args.option({"--out-dir"})) {
            outDir = args.value();
        } else if (takeMemoryLimit(args, memoryLimit)) {
        } else if (args.flag({"--overwrite"})) {
            overwrite = true;
        } else if (args.flag({"--quiet"})) {
            quiet = true;
        } else if (!writerOptions.take(args)) {
            args.unknown();
        }
    }
    if (video.empty())
        throw UsageError("frames needs a VIDEO");
    if (formatName.empty())
        throw UsageError("frames needs --format");
    const FormatChoice format = formatFromName(formatName);
    const StillImageSaveOptions saveOptions = writerOptions.saveOptions(format);
    if (base.empty() || base.find('/') != std::string::npos)
        throw UsageError("--base must be a file name without folders");

    const VideoFacts facts = probeVideo(video);
    int64_t first = 1, last = facts.frameCount;
    if (!rangeText.empty()) {
        parseRange("--range", rangeText, first, last);
        checkRange("--range", first, last, 1, facts.frameCount, "frame");
    }
    int w = 0, h = 0;
    size.sizeFor(facts.width, facts.height, w, h);
    if (w < 1 || h < 1 || w > 10000 || h > 10000)
        throw UsageError("the frame size must lie within 1..10000 pixels each way, not " + std::to_string(w) +
                         " x " + std::to_string(h));

    // Nothing is replaced without consent: look before extracting.
    const std::string extension = format.codeStream ? ".j2k" : stillImageExtension(format.format);
    auto pathOf = [&](int64_t number) { return outDir + "/" + base + std::to_string(number) + extension; };
    if (!overwrite) {
        for (int64_t n = first; n <= last && n - first < 256; ++n)
            if (std::filesystem::exists(pathOf(n)))
                throw Error(existsMessage(pathOf(n)));
    }

    // Each frame is written on a worker thread while the next is read; the frames written give
    // their bitmaps back for the frames to come, so memory stays the same for any number.
    struct Written {
        std::unique_ptr<Bitmap> frame;
        int64_t number = 0;
    };
    const ExistingFile existing = overwrite ? ExistingFile::Replace : ExistingFile::Keep;
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    OrderedPipeline<Written> writer(threads, 2 * threads + 2, [&](Written& item) {
        saveStillImageFile(*item.frame, saveOptions, format.format, pathOf(item.number), existing);
    });
    std::vector<std::unique_ptr<Bitmap>> pool;
    std::unique_ptr<Bitmap> current;
    size_t written = 0;
    auto takeWritten = [&](std::chrono::milliseconds wait) {
        std::optional<Written> done = writer.takeNext(wait);
        if (done) {
            pool.push_back(std::move(done->frame));
            ++written;
        }
        return done.has_value();
    };

    FrameTable table(ExtractionFrameTableSize);
    FrameExtractionOptions options;
    options.videoPath = video;
    options.firstFrame = first;
    options.lastFrame = last;
    options.videoWidth = facts.width;
    options.videoHeight = facts.height;
    options.memoryLimit = memoryLimit;
    options.frameSize = [&](int& fw, int& fh) {
        fw = w;
        fh = h;
    };
    options.target = [&](int entry) -> Bitmap& {
        if (entry == 1)
            std::filesystem::create_directories(outDir);
        if (pool.empty())
            pool.push_back(std::make_unique<Bitmap>());
        current = std::move(pool.back());
        pool.pop_back();
        return *current;
    };
    options.frameAdded = [&](int, int64_t number) {
        while (writer.full())
            takeWritten(std::chrono::milliseconds(100));
        writer.submit({std::move(current), number});
        while (takeWritten(std::chrono::milliseconds(0))) {
        }
    };
    ProgressPrinter progress(quiet);
    const FrameExtractionResult result = extractFrames(options, table, progress);
    while (writer.inFlight() > 0)
        takeWritten(std::chrono::milliseconds(100));
    progress.finish();
    if (result.outcome == FrameExtractionOutcome::Warning) {
        std::fprintf(stderr, "%s\n", result.message.c_str());
        std::fprintf(
            stderr,
            "kelvara-cli frames: frames %lld to %lld are %lld frames; frames extracts 2 to 256 (frame "
            "writes one), so choose them with --range\n",
            static_cast<long long>(first), static_cast<long long>(last),
            static_cast<long long>(last - first + 1));
        return ExitUsage;
    }
    std::printf("%zu frames written to %s\n", written, outDir.c_str());
    return runExitStatus(result.run);
}

} // namespace

const Command& framesCommandEntry() {
    static const Command command{"frames", "VIDEO --format F [options]", "extract frames as still images",
                                 std::string(FramesUsage) + WriterOptions::usage(), framesCommand};
    return command;
}

} // namespace kelvara::cli
