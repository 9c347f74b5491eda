// kelvara-cli transition: the transition tab without its window. The two sides are set up as the
// tab's buttons would (source first, then target), then "Convert" runs and the GIF is written.
#include "cli/TransitionCommand.h"
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
    "  -o, --output FILE      the GIF to write\n"
    "  --source SIDE          the first picture (default empty)\n"
    "  --target SIDE          the last picture (default empty)\n"
    "  --video VIDEO          the AVI video that frame:N sides are taken from\n"
    "  --effect NAME|INDEX    one of the 24 effects (default CrossDissolve); --effect list names them\n"
    "  --steps N              1..50 steps, N + 1 frames (default 10)\n"
    "  --duration MS          10..5000 ms for the whole transition (default 1000)\n"
    "  --size WxH             the GIF size, 0..10000 each\n"
    "  --source-bg RRGGBB     the source background colour (default FFFFFF)\n"
    "  --target-bg RRGGBB     the target background colour (default FFFFFF)\n"
    "  --frames-dir DIR       also write each frame as DIR/frame_000.bmp, frame_001.bmp, ...\n"
    "  --overwrite            replace existing files\n"
    "  --quiet                no progress on standard error\n";

Color parseColor(const std::string& text, const std::string& what) {
    bool hex = text.size() == 6;
    for (char c : text)
        hex = hex && std::isxdigit(static_cast<unsigned char>(c));
    if (!hex)
        throw UsageError(what + " must be six hexadecimal digits RRGGBB, not '" + text + "'");
    return static_cast<Color>(std::stoul(text, nullptr, 16));
}

int parseEffect(const std::string& text) {
    for (int e = 0; e < TransitionEffectCount; ++e)
        if (text == TransitionEffectNames[size_t(e)])
            return e;
    const long long index = parseInteger(text, "--effect");
    if (index < 0 || index >= TransitionEffectCount)
        throw UsageError("--effect must name an effect or be 0 to 23, not '" + text + "'");
    return static_cast<int>(index);
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
        if (video.empty())
            throw UsageError("a frame:N side needs --video");
        const VideoFacts facts = probeVideo(video);
        openTransitionVideoFrame(tab, kind, video, transitionFrameNumber(side.substr(6), facts.frameCount));
        return;
    }
    if (!openTransitionPicture(tab, kind, side))
        std::fprintf(stderr, "\"%s\" %s\n", side.c_str(), PictureReaderMessages::UnknownType);
}

int transitionCommand(const std::vector<std::string>& args) {
    std::string output, source = "empty", target = "empty", video, framesDir;
    std::string sourceBg, targetBg, sizeText, effectText, stepsText, durationText;
    bool overwrite = false, quiet = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            return args[++i];
        };
        if (a == "-o" || a == "--output")
            output = value();
        else if (a == "--source")
            source = value();
        else if (a == "--target")
            target = value();
        else if (a == "--video")
            video = value();
        else if (a == "--effect")
            effectText = value();
        else if (a == "--steps")
            stepsText = value();
        else if (a == "--duration")
            durationText = value();
        else if (a == "--size")
            sizeText = value();
        else if (a == "--source-bg")
            sourceBg = value();
        else if (a == "--target-bg")
            targetBg = value();
        else if (a == "--frames-dir")
            framesDir = value();
        else if (a == "--overwrite")
            overwrite = true;
        else if (a == "--quiet")
            quiet = true;
        else
            throw UsageError("unknown argument " + a);
    }
    if (effectText == "list") {
        for (int e = 0; e < TransitionEffectCount; ++e)
            std::printf("%d %s\n", e, TransitionEffectNames[size_t(e)]);
        return ExitOk;
    }
    if (output.empty())
        throw UsageError("transition needs -o OUT.gif");

    TransitionTab tab;
    if (!effectText.empty())
        tab.effect = parseEffect(effectText);
    if (!stepsText.empty()) {
        const long long steps = parseInteger(stepsText, "--steps");
        if (steps < 1 || steps > MaxTransitionSteps)
            throw UsageError("--steps must be 1 to 50, not '" + stepsText + "'");
        tab.steps = static_cast<int>(steps);
    }
    // Typed as into the duration edit: not a number gives 1000, and the value is kept in range.
    if (!durationText.empty())
        tab.durationMs = transitionDurationFromText(durationText);
    if (!sourceBg.empty())
        tab.sourceSide.background = parseColor(sourceBg, "--source-bg");
    if (!targetBg.empty())
        tab.targetSide.background = parseColor(targetBg, "--target-bg");
    int sizeWidth = -1, sizeHeight = -1;
    if (!sizeText.empty()) {
        parseSize(sizeText, "--size", sizeWidth, sizeHeight);
        if (sizeWidth < 0 || sizeWidth > 10000 || sizeHeight < 0 || sizeHeight > 10000)
            throw UsageError("--size must be 0..10000 in each direction, not '" + sizeText + "'");
    }

    // Existing files are refused before any work, as the other commands do.
    if (!overwrite && exists(output))
        throw Error("\"" + output + "\" exists; use --overwrite to replace it");
    if (!framesDir.empty() && !overwrite)
        for (int i = 0; i <= tab.steps; ++i)
            if (exists(frameFileName(framesDir, i)))
                throw Error("\"" + frameFileName(framesDir, i) + "\" exists; use --overwrite to replace it");

    setUpSide(tab, TransitionSideKind::Source, source, video);
    setUpSide(tab, TransitionSideKind::Target, target, video);
    if (sizeWidth >= 0) {
        tab.spinWidth = sizeWidth;
        tab.spinHeight = sizeHeight;
    }

    ProgressPrinter progress(quiet);
    FrameTable table(TransitionFrameTableSize);
    TGIFDocument built;
    const TransitionRunResult result = buildTransitionGif(tab, table, built, progress);
    progress.finish();
    MemoryStream bytes;
    built.SaveToStream(bytes);
    writeOutput(output, bytes.bytes(), overwrite);
    if (!framesDir.empty()) {
        std::filesystem::create_directories(framesDir);
        for (int k = 1; k <= result.frames; ++k)
            writeOutput(frameFileName(framesDir, k - 1), encodeBmp24(table.entry(k)), overwrite);
    }
    std::printf("Size: %dx%d  Frames: %d  Delay: %d\n", result.width, result.height, result.frames,
                result.delayHundredths);
    return ExitOk;
}

} // namespace

const Command& transitionCommandEntry() {
    static const Command command{"transition", TransitionUsage, transitionCommand};
    return command;
}

} // namespace kelvara::cli
