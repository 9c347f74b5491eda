// kelvara-cli transition: the transition tab without its window. The two sides are set up as the
// tab's buttons would (source first, then target), then "Convert" runs and the GIF is written.
#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Progress.h"

#include "convert/TransitionGif.h"
#include "gif/GifDocument.h"
#include "input/PictureReader.h"
#include "output/StillImageWriters.h"
#include "raster/Error.h"
#include "raster/Stream.h"
#include "video/FrameSource.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace kelvara::cli {

namespace {

const char* const TransitionUsage =
    "Usage: kelvara-cli transition -o OUT.gif --source SIDE --target SIDE [options]\n"
    "\n"
    "Builds a looping animated GIF that passes from the source picture to the target picture.\n"
    "A SIDE is a picture file, frame:N (frame N of --video, 1-based) or empty (the side's\n"
    "background colour). The GIF size grows to hold each picture unless --size is given.\n"
    "  -o, --output FILE      the GIF to write; - for standard output\n"
    "  --source SIDE          the first picture (default empty)\n"
    "  --target SIDE          the last picture (default empty)\n"
    "  --video VIDEO          the video that frame:N sides are taken from\n"
    "  --effect NAME|INDEX    one of the 24 effects by name (in any case) or index 0..23\n"
    "                         (default CrossDissolve); --effect list names them\n"
    "  --steps N              1..50 steps, N + 1 frames (default 10)\n"
    "  --duration MS          10..5000 ms for the whole transition (default 1000)\n"
    "  --size WxH             the GIF size, 1..10000 each way\n"
    "  --source-bg RRGGBB     the source background colour (default FFFFFF)\n"
    "  --target-bg RRGGBB     the target background colour (default FFFFFF)\n"
    "  --frames-dir DIR       also write each frame as DIR/frame_000.bmp, frame_001.bmp, ...\n"
    "  --quality MODE         classic (the default), high (refined palettes kept while they fit)\n"
    "                         or a level 1..100 of it (high is 100)\n"
    "  --lossy N              let each pixel show a colour up to N levels from its own where\n"
    "                         that compresses better (0..255)\n"
    "  --optimize             store each frame as the rectangle that changed; frames that show\n"
    "                         nothing new give their time to the frame before\n"
    "  --memory-limit SIZE    the memory the job may use, 2G by default (K, M and G count\n"
    "                         1024s); a run that would need more is refused before it starts\n"
    "  -y, --overwrite        replace existing files\n"
    "  -q, --quiet            no progress, and nothing printed on success\n";

int parseEffect(const std::string& text) {
    const std::string lower = lowerCase(text);
    for (int e = 0; e < TransitionEffectCount; ++e)
        if (lower == lowerCase(TransitionEffectNames[size_t(e)]))
            return e;
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])))
        return static_cast<int>(integerIn("--effect", text, 0, TransitionEffectCount - 1));
    throw UsageError("--effect must name one of the 24 effects (--effect list names them) or be an index "
                     "in 0..23, not '" +
                     text + "'");
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string frameFileName(const std::string& dir, int index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%03d.bmp", index);
    return (std::filesystem::path(dir) / name).string();
}

// Sets one side up as its buttons would.
void setUpSide(TransitionTab& tab, TransitionSideKind kind, const std::string& side,
               const std::string& video) {
    if (side == "empty") {
        setTransitionEmptyPicture(tab, kind, true);
        return;
    }
    if (side.rfind("frame:", 0) == 0) {
        const std::string option = kind == TransitionSideKind::Source ? "--source" : "--target";
        if (video.empty())
            throw UsageError("a frame:N side needs --video");
        const long long number = wholeNumber(option + " frame:N", side.substr(6));
        const VideoFacts facts = probeVideo(video);
        // The frame-number dialog takes frame 1 for a number out of range; here it is refused.
        checkRange(option, number, number, 1, facts.frameCount, "frame");
        openTransitionVideoFrame(tab, kind, video, number);
        return;
    }
    if (!readNamingFile(side, [&] { return openTransitionPicture(tab, kind, side); }))
        say("\"" + side + "\" " + PictureReaderMessages::UnknownType);
}

int transitionCommand(const std::vector<std::string>& arguments) {
    std::string output, source = "empty", target = "empty", video, framesDir;
    std::string sourceBg, targetBg, sizeText, effectText, stepsText, durationText;
    bool overwrite = false, quiet = false;
    GifBuildOptions build;
    uint64_t memoryLimit = TransitionMemoryBudget;
    ArgumentReader args(arguments);
    while (args.next()) {
        if (args.isPositional())
            throw UsageError("unexpected argument '" + args.text() + "'");
        else if (args.option({"-o", "--output"}))
            output = args.value();
        else if (args.option({"--source"}))
            source = args.value();
        else if (args.option({"--target"}))
            target = args.value();
        else if (args.option({"--video"}))
            video = args.value();
        else if (args.option({"--effect"}))
            effectText = args.value();
        else if (args.option({"--steps"}))
            stepsText = args.value();
        else if (args.option({"--duration"}))
            durationText = args.value();
        else if (args.option({"--size"}))
            sizeText = args.value();
        else if (args.option({"--source-bg"}))
            sourceBg = args.value();
        else if (args.option({"--target-bg"}))
            targetBg = args.value();
        else if (args.option({"--frames-dir"}))
            framesDir = args.value();
        else if (takeGifBuildOption(args, build)) {
        } else if (takeMemoryLimit(args, memoryLimit)) {
        } else if (args.flag({"--overwrite", "-y"}))
            overwrite = true;
        else if (args.flag({"--quiet", "-q"}))
            quiet = true;
        else
            args.unknown();
    }
    if (lowerCase(effectText) == "list") {
        for (int e = 0; e < TransitionEffectCount; ++e)
            std::printf("%d %s\n", e, TransitionEffectNames[size_t(e)]);
        return ExitOk;
    }
    if (output.empty())
        throw UsageError("transition needs -o OUT.gif");
    checkGifOutputName("transition", output);

    TransitionTab tab;
    tab.memoryLimit = memoryLimit;
    if (!effectText.empty())
        tab.effect = parseEffect(effectText);
    if (!stepsText.empty())
        tab.steps = static_cast<int>(integerIn("--steps", stepsText, 1, MaxTransitionSteps));
    // The duration edit takes any text (not a number gives 1000, others are brought into range);
    // the command line refuses what is not in range instead.
    if (!durationText.empty())
        tab.durationMs = static_cast<int>(integerIn("--duration", durationText, 10, 5000));
    if (!sourceBg.empty())
        tab.sourceSide.background = parseColor("--source-bg", sourceBg);
    if (!targetBg.empty())
        tab.targetSide.background = parseColor("--target-bg", targetBg);
    int sizeWidth = -1, sizeHeight = -1;
    if (!sizeText.empty())
        parseSize("--size", sizeText, sizeWidth, sizeHeight);

    // Existing files are refused before any work, as the other commands do.
    checkOutput(output, overwrite);
    if (!framesDir.empty() && !overwrite)
        for (int i = 0; i <= tab.steps; ++i)
            if (exists(frameFileName(framesDir, i)))
                throw Error(existsMessage(frameFileName(framesDir, i)));

    setUpSide(tab, TransitionSideKind::Source, source, video);
    setUpSide(tab, TransitionSideKind::Target, target, video);
    if (sizeWidth >= 0) {
        tab.spinWidth = sizeWidth;
        tab.spinHeight = sizeHeight;
    }

    ProgressPrinter progress(quiet);
    FrameTable table(TransitionFrameTableSize);
    TGIFDocument built;
    const TransitionRunResult result = buildTransitionGif(tab, table, built, progress, 0, build);
    progress.finish();
    MemoryStream bytes;
    built.SaveToStream(bytes);
    writeOutput(output, bytes.bytes(), overwrite);
    if (!framesDir.empty()) {
        std::filesystem::create_directories(framesDir);
        for (int k = 1; k <= result.frames; ++k)
            writeOutput(frameFileName(framesDir, k - 1), encodeBmp24(table.entry(k)), overwrite);
    }
    if (!quiet)
        summary(output, "Size: " + std::to_string(result.width) + " x " + std::to_string(result.height) +
                            " pixels  Frames: " + std::to_string(result.frames) +
                            "  Delay: " + std::to_string(result.delayHundredths));
    return ExitOk;
}

} // namespace

const Command& transitionCommandEntry() {
    static const Command command{"transition", "-o OUT.gif [options]",
                                 "build a transition GIF between two pictures", TransitionUsage,
                                 transitionCommand};
    return command;
}

} // namespace kelvara::cli
