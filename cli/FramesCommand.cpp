// kelvara-cli frames: extracts frames of a video and writes each as a still image.
#include "cli/Arguments.h"
#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Progress.h"
#include "cli/WriteCommand.h"

#include "cli/InputSpool.h"
#include "convert/AviToGif.h"
#include "convert/FrameExtraction.h"
#include "convert/FrameSelection.h"
#include "convert/JobMemory.h"
#include "output/SaveOptions.h"
#include "raster/Error.h"
#include "raster/OrderedPipeline.h"
#include "video/FrameSource.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace kelvara::cli {

namespace {

const char* const FramesUsage =
    "Usage: kelvara-cli frames VIDEO... --format FORMAT [options] [writer options]\n"
    "\n"
    "Extracts frames of a video and writes each as a still image, as it is decoded: any number\n"
    "of frames, in constant memory. Files are named BASE + the frame number, zero-padded to the\n"
    "width of the largest (frame001.png ... frame256.png), so that they sort in order.\n"
    "PNG and TGA keep the alpha channel of a video that has one (not of an AVI file).\n"
    "  --format F            bmp, jpg (jpeg), gif, tif (tiff), pcx, tga (targa), jp2, j2k or png\n"
    "  --frames A-B          frames A to B (1-based, inclusive); A- to the end, -B from the\n"
    "                        start; default all frames (--range is the same)\n"
    "  --time T1-T2          the frames from time T1 to time T2: seconds (2, 1.5) or clock\n"
    "                        times (0:01.5); T1- to the end, -T2 from the start\n"
    "  --step N              take every N-th frame, 1..10000 (default 1)\n"
    "  --fps R               take the picture on display every 1/R seconds, 0.01..100 (a picture\n"
    "                        once, however long it shows); excludes --step\n"
    "  --size WxH            a typed frame size, 1..10000 each way; default the video's size\n"
    "  --width W, --height H one side typed, the other kept in the video's aspect ratio; both\n"
    "                        together are taken as typed. Give --size or --width/--height.\n"
    "                        A smaller frame averages the pixels each of its pixels covers;\n"
    "                        a larger one repeats pixels.\n"
    "  --base NAME           base file name (default \"frame\")\n"
    "  --name PATTERN        the file name as a printf pattern of the frame number, such as\n"
    "                        shot-%05d (the extension is added); instead of --base\n"
    "  --out-dir DIR         folder to write to (default the current folder); with several\n"
    "                        VIDEOs each goes to a folder of its own in it, named by the video\n"
    "                        without its extension (DIR/clip/frame001.png)\n"
    "  -j, --jobs N          with several VIDEOs, extract from N at once, 1..16 (default 1)\n"
    "  --memory-limit SIZE   the memory the job may use, 2G by default (K, M and G count\n"
    "                        1024s); a job that would need more is refused before it starts.\n"
    "                        With -j N each job may use as much: N times the limit in all\n"
    "  -y, --overwrite       replace files that exist\n"
    "  -q, --quiet           no progress, and nothing printed on success\n"
    "VIDEO may be - for standard input, or a pipe: it is copied to a temporary file first.\n"
    "With several VIDEOs a video that fails is told on a line naming it and the others go on;\n"
    "the exit status is the worst of them (2, then 1, then 3).\n"
    "\n";

// A file name pattern: text, one conversion %d (with the flag 0 and a width, as %05d) and text;
// %% for a percent sign. UsageError otherwise: the pattern is never handed to printf as it is.
struct NamePattern {
    std::string before, after;
    bool zeros = false;
    int width = 0;

    std::string format(int64_t number) const {
        std::string digits = std::to_string(number);
        if (static_cast<int>(digits.size()) < width)
            digits.insert(0, static_cast<size_t>(width) - digits.size(), zeros ? '0' : ' ');
        return before + digits + after;
    }
};

NamePattern parseNamePattern(const std::string& text) {
    NamePattern pattern;
    bool seen = false;
    auto refuse = [&](const std::string& why) {
        throw UsageError("--name must be a file name with one %d for the frame number, such as shot-%05d (" +
                         why + "), not '" + text + "'");
    };
    for (size_t i = 0; i < text.size(); ++i) {
        std::string& part = seen ? pattern.after : pattern.before;
        if (text[i] != '%') {
            part += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            part += '%';
            ++i;
            continue;
        }
        if (seen)
            refuse("only one number");
        size_t j = i + 1;
        if (j < text.size() && text[j] == '0') {
            pattern.zeros = true;
            ++j;
        }
        size_t digits = j;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
            ++j;
        if (j - digits > 2)
            refuse("a width of at most 99");
        pattern.width = j > digits ? std::stoi(text.substr(digits, j - digits)) : 0;
        if (j >= text.size() || (text[j] != 'd' && text[j] != 'i' && text[j] != 'u'))
            refuse("%d, %05d and the like");
        seen = true;
        i = j;
    }
    if (!seen)
        refuse("no %d");
    if (text.find('/') != std::string::npos)
        refuse("no folders: give them with --out-dir");
    return pattern;
}

// The frames of one video as the options pick them, 1-based, in order.
struct FramePick {
    std::string framesOption = "--frames", framesText, timeText;
    int step = 1;
    double fps = 0;
};

std::vector<int64_t> pickFrames(const FramePick& pick, FrameReader& reader, const VideoFacts& facts) {
    int64_t first = 1, last = facts.frameCount;
    if (!pick.framesText.empty())
        parseFrameRange(pick.framesOption, pick.framesText, facts.frameCount, first, last);
    if (!pick.timeText.empty()) {
        int64_t fromUs = 0, toUs = 0;
        parseTimeRange("--time", pick.timeText, facts.lengthMs, fromUs, toUs);
        framesOfTimeRange(reader, facts.frameCount, facts.lengthMs, fromUs, toUs, first, last);
    }
    std::vector<int64_t> numbers;
    if (pick.fps > 0) {
        for (const RatePick& p :
             framesAtRate(pictureTimes(reader, facts.frameCount, facts.lengthMs), first, last, pick.fps))
            numbers.push_back(p.frame);
        return numbers;
    }
    for (int64_t n = first; n <= last; n += pick.step)
        numbers.push_back(n);
    return numbers;
}

int framesCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> videos;
    std::string formatName, base = "frame", outDir = ".", nameText;
    int jobs = 1;
    bool overwrite = false, quietRun = false, baseGiven = false;
    FramePick pick;
    SizeOptions size;
    WriterOptions writerOptions;
    uint64_t memoryLimit = DefaultMemoryLimit;
    bool stepGiven = false;
    ArgumentReader args(arguments);
    while (args.next()) {
        if (args.isPositional()) {
            videos.push_back(args.text());
        } else if (takeJobs(args, jobs)) {
        } else if (args.option({"--format"})) {
            formatName = args.value();
        } else if (args.option({"--range", "--frames"})) {
            pick.framesText = args.value();
            pick.framesOption = args.name();
        } else if (args.option({"--time"})) {
            pick.timeText = args.value();
        } else if (args.option({"--step"})) {
            pick.step = static_cast<int>(integerIn("--step", args.value(), 1, 10000));
            stepGiven = true;
        } else if (args.option({"--fps"})) {
            pick.fps = numberIn("--fps", args.value(), 0.01, 100);
        } else if (size.take(args)) {
        } else if (args.option({"--base"})) {
            base = args.value();
            baseGiven = true;
        } else if (args.option({"--name"})) {
            nameText = args.value();
        } else if (args.option({"--out-dir"})) {
            outDir = args.value();
        } else if (takeMemoryLimit(args, memoryLimit)) {
        } else if (args.flag({"--overwrite", "-y"})) {
            overwrite = true;
        } else if (args.flag({"--quiet", "-q"})) {
            quietRun = true;
        } else if (!writerOptions.take(args)) {
            args.unknown();
        }
    }
    if (videos.empty())
        throw UsageError("frames needs a VIDEO");
    if (formatName.empty())
        throw UsageError("frames needs --format");
    const FormatChoice format = formatFromName(formatName);
    const StillImageSaveOptions saveOptions = writerOptions.saveOptions(format);
    if (base.empty() || base.find('/') != std::string::npos)
        throw UsageError("--base must be a file name without folders");
    if (!pick.framesText.empty() && !pick.timeText.empty())
        throw UsageError("--frames and --time exclude each other");
    if (pick.fps > 0 && stepGiven)
        throw UsageError("--fps and --step exclude each other");
    if (baseGiven && !nameText.empty())
        throw UsageError("--base and --name exclude each other");
    std::optional<NamePattern> pattern;
    if (!nameText.empty())
        pattern = parseNamePattern(nameText);
    setQuiet(quietRun);

    // One input into the folder, or each of several into a folder of its own in it.
    auto extract = [&](const std::string& video, const std::string& folder, const std::string& label,
                       int threads) -> int {
        setCurrentInput(video);
        const InputSpool input(video);
        FrameReader reader;
        reader.open(input.path());
        const VideoFacts facts = reader.facts();
        const std::vector<int64_t> numbers = pickFrames(pick, reader, facts);
        if (numbers.empty())
            throw UsageError("the range holds no frame of the video");
        int w = 0, h = 0;
        size.sizeFor(facts.width, facts.height, w, h);
        if (w < 1 || h < 1 || w > 10000 || h > 10000)
            throw UsageError("the frame size must lie within 1..10000 pixels each way, not " +
                             std::to_string(w) + " x " + std::to_string(h));

        const std::string extension = format.codeStream ? ".j2k" : stillImageExtension(format.format);
        if (!pattern) {
            pattern = NamePattern{base, "", true, static_cast<int>(std::to_string(numbers.back()).size())};
        }
        auto fileOf = [&](int64_t number) { return pattern->format(number) + extension; };
        auto pathOf = [&](int64_t number) { return folder + "/" + fileOf(number); };
        if (pattern->width == 0 || !pattern->zeros) {
            // Names that would not sort are fine when asked for; names that collide are not.
        }
        // Nothing is replaced without consent: look before extracting.
        if (!overwrite) {
            for (int64_t n : numbers)
                if (std::filesystem::exists(pathOf(n)))
                    throw Error(existsMessage(pathOf(n)));
        }
        if (threads <= 0)
            threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        const int window = 2 * threads + 2;
        checkMemoryNeed(std::to_string(window) + " frames of " + std::to_string(w) + " x " +
                            std::to_string(h) + " pixels",
                        heldPicturesMemory(w, h, window + 1), memoryLimit, "choose a smaller size");

        // Each frame is written on a worker thread while the next is read; the frames written give
        // their bitmaps back for the frames to come, so memory stays the same for any number.
        struct Written {
            std::unique_ptr<Bitmap> frame;
            int64_t number = 0;
        };
        const ExistingFile existing = overwrite ? ExistingFile::Replace : ExistingFile::Keep;
        OrderedPipeline<Written> writer(threads, window, [&](Written& item) {
            saveStillImageFile(*item.frame, saveOptions, format.format, pathOf(item.number), existing);
        });
        std::vector<std::unique_ptr<Bitmap>> pool;
        size_t written = 0;
        auto takeWritten = [&](std::chrono::milliseconds wait) {
            std::optional<Written> done = writer.takeNext(wait);
            if (done) {
                pool.push_back(std::move(done->frame));
                ++written;
            }
            return done.has_value();
        };

        ProgressPrinter progress(quietRun, label);
        const int total = static_cast<int>(std::min<size_t>(numbers.size(), INT32_MAX));
        progress.setProgressRange(0, total);
        progress.setProgressPosition(0);
        FrameRun run;
        run.asked = total;
        std::filesystem::create_directories(folder);
        const Rect whole{0, 0, facts.width, facts.height};
        for (int64_t number : numbers) {
            const FrameRead read = reader.read(number - 1);
            if (!read.picture) {
                run.stopAt(number, read.error);
                break;
            }
            if (pool.empty())
                pool.push_back(std::make_unique<Bitmap>());
            std::unique_ptr<Bitmap> frame = std::move(pool.back());
            pool.pop_back();
            frameAtSize(*read.picture, whole, w, h, *frame);
            while (writer.full())
                takeWritten(std::chrono::milliseconds(100));
            writer.submit({std::move(frame), number});
            while (takeWritten(std::chrono::milliseconds(0))) {
            }
            ++run.read;
            progress.setProgressPosition(static_cast<int>(written));
        }
        while (writer.inFlight() > 0) {
            takeWritten(std::chrono::milliseconds(100));
            progress.setProgressPosition(static_cast<int>(written));
        }
        progress.finish();
        if (written > 0) {
            const std::string shown = folder == "." ? std::string() : folder + "/";
            const std::string files =
                shown + fileOf(numbers.front()) +
                (written > 1 ? " .. " + shown + fileOf(numbers[written - 1]) : std::string());
            summary(files, "Size: " + std::to_string(w) + " x " + std::to_string(h) +
                               " pixels  Frames: " + std::to_string(written));
        }
        return runExitStatus(run);
    };
    if (videos.size() == 1)
        return extract(videos.front(), outDir, {}, 0);
    const std::vector<std::string> folders = outputsInFolder(videos, outDir, "");
    return runJobs(videos, jobs, [&](size_t k, const std::string& label, int threads) {
        return extract(videos[k], folders[k], label, threads);
    });
}

} // namespace

const Command& framesCommandEntry() {
    static const Command command{"frames", "VIDEO --format F [options]", "extract frames as still images",
                                 std::string(FramesUsage) + WriterOptions::usage(), framesCommand};
    return command;
}

} // namespace kelvara::cli
