// kelvara-cli commands: info and frame, the command table and the shared command runner.
#include "cli/Commands.h"
#include "cli/Arguments.h"
#include "cli/InputSpool.h"
#include "cli/Output.h"
#include "cli/Progress.h"
#include "cli/WriteCommand.h"

#include "output/StillImageCodec.h"
#include "raster/Bitmap.h"
#include "raster/Error.h"
#include "video/FrameSource.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace kelvara::cli {

namespace {

const char* const CommonHelp =
    "Options may come in any order, as --option VALUE or --option=VALUE; -- ends the options.\n"
    "Progress and messages go to standard error when the output goes to standard output (-o -).\n"
    "Exit status: 0 done; 1 an error (the message says what; nothing is left half-written);\n"
    "2 a mistake in the command line (nothing is written); 3 written, but incomplete: the\n"
    "video ended early or a frame could not be read (a warning says where).\n";

const char* const InfoUsage = "Usage: kelvara-cli info VIDEO [--json]\n"
                              "\n"
                              "Prints the facts of the first video stream of a video file:\n"
                              "frames, length_ms, width, height, fps and codec, one per line,\n"
                              "and for files other than AVI the container, as FFmpeg names it.\n"
                              "  --json    the same facts and the container as one JSON object\n";

const char* const FrameUsage =
    "Usage: kelvara-cli frame VIDEO N -o OUT [--format F] [--size WxH] [writer options] [-y]\n"
    "\n"
    "Writes frame N of the video (1-based, like every command and the desktop program) as a\n"
    "still image at the video's size, in the format of OUT's extension (see 'write'). PNG and\n"
    "TGA keep the alpha channel of a video that has one (not of an AVI file).\n"
    "  -o, --output FILE   the picture to write; - for standard output (needs --format)\n"
    "  --format F          bmp, jpg, gif, tif, pcx, tga, jp2, j2k or png; must agree with OUT\n"
    "  --size WxH          a typed picture size, 1..10000 each way; default the video's\n"
    "  --width W, --height H  one side typed, the other kept in the video's aspect ratio\n"
    "  -y, --overwrite     replace FILE if it exists\n"
    "  -q, --quiet         print nothing on success\n"
    "VIDEO may be - for standard input, or a pipe: it is copied to a temporary file first.\n"
    "\n";

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int infoCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> videos;
    bool json = false;
    ArgumentReader args(arguments);
    while (args.next()) {
        if (args.isPositional())
            videos.push_back(args.text());
        else if (args.flag({"--json"}))
            json = true;
        else
            args.unknown();
    }
    if (videos.size() != 1)
        throw UsageError("info takes exactly one VIDEO");
    const VideoFacts facts = probeVideo(videos[0]);
    if (json) {
        std::printf(
            "{\"container\": %s, \"codec\": %s, \"frames\": %lld, \"length_ms\": %lld, \"width\": %d, "
            "\"height\": %d, \"fps\": %.6g}\n",
            jsonString(facts.container).c_str(), jsonString(facts.codec).c_str(),
            static_cast<long long>(facts.frameCount), static_cast<long long>(facts.lengthMs), facts.width,
            facts.height, facts.fps);
        return ExitOk;
    }
    std::printf("frames: %lld\n", static_cast<long long>(facts.frameCount));
    std::printf("length_ms: %lld\n", static_cast<long long>(facts.lengthMs));
    std::printf("width: %d\n", facts.width);
    std::printf("height: %d\n", facts.height);
    std::printf("fps: %.6g\n", facts.fps);
    std::printf("codec: %s\n", facts.codec.c_str());
    // AVI files give the lines they always have.
    if (facts.container != "avi")
        std::printf("container: %s\n", facts.container.c_str());
    return ExitOk;
}

int frameCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> positional;
    std::string output, formatName;
    bool overwrite = false, quietRun = false;
    SizeOptions size;
    WriterOptions writerOptions;
    ArgumentReader args(arguments);
    while (args.next()) {
        if (args.isPositional())
            positional.push_back(args.text());
        else if (args.option({"-o", "--output"}))
            output = args.value();
        else if (args.option({"--format"}))
            formatName = args.value();
        else if (args.flag({"--overwrite", "-y"}))
            overwrite = true;
        else if (args.flag({"--quiet", "-q"}))
            quietRun = true;
        else if (size.take(args)) {
        } else if (!writerOptions.take(args))
            args.unknown();
    }
    if (positional.size() != 2)
        throw UsageError("frame takes VIDEO and N");
    if (output.empty())
        throw UsageError("frame needs -o OUT");
    const long long number = wholeNumber("N", positional[1]);
    const FormatChoice format = outputFormat(output, formatName);
    const StillImageSaveOptions options = writerOptions.saveOptions(format);
    checkOutput(output, overwrite);
    setQuiet(quietRun);

    const std::string& video = positional[0];
    setCurrentInput(video);
    const InputSpool input(video);
    FrameReader reader;
    reader.open(input.path());
    const VideoFacts facts = reader.facts();
    checkRange("", number, number, 1, facts.frameCount, "frame");
    int width = 0, height = 0;
    size.sizeFor(facts.width, facts.height, width, height);
    if (width < 1 || height < 1 || width > 10000 || height > 10000)
        throw UsageError("the frame size must lie within 1..10000 pixels each way, not " +
                         std::to_string(width) + " x " + std::to_string(height));
    const FrameRead read = reader.read(number - 1);
    if (!read.picture)
        throw Error(
            (video == "-" ? std::string("standard input") : video) + ": frame " + std::to_string(number) +
            " could not be read: " + (read.error.empty() ? "the video holds no picture there" : read.error));
    Bitmap picture;
    picture.SetPixelFormat(PixelFormat::Bits24);
    picture.SetSize(width, height);
    if (width == read.picture->Width() && height == read.picture->Height())
        picture.Canvas().Draw(0, 0, *read.picture);
    else
        picture.Canvas().CopyRect(picture.Canvas().ClipRect(), read.picture->Canvas(),
                                  Rect{0, 0, read.picture->Width(), read.picture->Height()});
    writeOutput(output, encodeStillImage(picture, options, format.format).bytes, overwrite);
    summary(output, "Size: " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels  Frame: " + std::to_string(number));
    return ExitOk;
}

// The first line of a usage text.
std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

} // namespace

const Command& infoCommandEntry() {
    static const Command command{"info", "VIDEO [--json]", "print the facts of a video", InfoUsage,
                                 infoCommand};
    return command;
}

const Command& frameCommandEntry() {
    static const Command command{"frame", "VIDEO N -o OUT", "write frame N (1-based) as a still image",
                                 std::string(FrameUsage) + WriterOptions::usage(), frameCommand};
    return command;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> all = {
        infoCommandEntry(),  frameCommandEntry(),   gifCommandEntry(),        framesCommandEntry(),
        writeCommandEntry(), animateCommandEntry(), transitionCommandEntry(),
    };
    return all;
}

std::string frameSourceErrorText(const FrameSourceError& e) {
    // The file, the step that failed and the reason where there is one.
    // The input as typed, rather than the temporary copy of one that could not seek.
    const std::string file = !currentInput().empty() ? currentInput() : e.file();
    const std::string named = (file == "-" ? std::string("standard input") : file);
    return (named.empty() ? "" : named + ": ") + e.what() +
           (e.reason().empty() ? "" : " (" + e.reason() + ")");
}

namespace {
const char* g_command = nullptr;
std::atomic<bool> g_quiet{false};
std::mutex g_sayLock;
thread_local std::string t_input;
thread_local std::string t_label;
} // namespace

void setJobLabel(const std::string& label) {
    t_label = label;
}

void setCurrentInput(const std::string& path) {
    t_input = path;
}

const std::string& currentInput() {
    return t_input;
}

std::string linePrefix() {
    return g_command ? std::string("kelvara-cli ") + g_command + ": " : std::string("kelvara-cli: ");
}

void sayOn(std::FILE* stream, const std::string& text) {
    const std::lock_guard<std::mutex> lock(g_sayLock);
    // The line of a job of several names its input, unless it begins with it already.
    const std::string named = t_label.empty() || text.rfind(t_label + ": ", 0) == 0 ? "" : t_label + ": ";
    clearProgressLine();
    std::fprintf(stream, "%s%s%s\n", linePrefix().c_str(), named.c_str(), text.c_str());
    std::fflush(stream);
}

void say(const std::string& text) {
    sayOn(stderr, text);
}

void setQuiet(bool quiet) {
    g_quiet = quiet;
}

bool quiet() {
    return g_quiet;
}

const char* commonHelp() {
    return CommonHelp;
}

int runCommand(const Command& command, const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--")
            break;
        if (a == "--help" || a == "-h") {
            std::fputs(command.usage.c_str(), stdout);
            std::fputs("\n", stdout);
            std::fputs(CommonHelp, stdout);
            return ExitOk;
        }
    }
    g_command = command.name;
    endProgressOnSignals();
    try {
        return command.run(args);
    } catch (const UsageError& e) {
        say(e.what());
        say(firstLine(command.usage));
        say("Try 'kelvara-cli " + std::string(command.name) + " --help' for more information.");
        return ExitUsage;
    } catch (const FrameSourceError& e) {
        say(frameSourceErrorText(e));
        return ExitFailure;
    } catch (const std::exception& e) {
        say(e.what());
        return ExitFailure;
    }
}

} // namespace kelvara::cli
