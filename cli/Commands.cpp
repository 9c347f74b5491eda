// kelvara-cli commands: info and frame, and the shared command runner.
#include "cli/Commands.h"
#include "cli/AnimateCommand.h"
#include "cli/TransitionCommand.h"
#include "cli/WriteCommand.h"

#include "output/StillImageWriters.h"
#include "raster/Bitmap.h"
#include "raster/Error.h"
#include "raster/Stream.h"
#include "video/FrameSource.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace kelvara::cli {

namespace {

const char* const InfoUsage = "Usage: kelvara-cli info VIDEO\n"
                              "\n"
                              "Prints the facts of the first video stream of an AVI file:\n"
                              "frames, length_ms, width, height, fps and codec, one per line.\n";

const char* const FrameUsage = "Usage: kelvara-cli frame VIDEO INDEX -o OUT.bmp [--overwrite]\n"
                               "\n"
                               "Writes the frame at the 0-based position INDEX as a 24-bit BMP.\n"
                               "  -o, --output FILE   the BMP to write\n"
                               "  --overwrite         replace FILE if it exists\n";

int infoCommand(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        throw UsageError("info takes exactly one VIDEO");
    VideoFacts facts = probeVideo(args[0]);
    std::printf("frames: %lld\n", static_cast<long long>(facts.frameCount));
    std::printf("length_ms: %lld\n", static_cast<long long>(facts.lengthMs));
    std::printf("width: %d\n", facts.width);
    std::printf("height: %d\n", facts.height);
    std::printf("fps: %.6g\n", facts.fps);
    std::printf("codec: %s\n", facts.codec.c_str());
    return ExitOk;
}

int frameCommand(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::string output;
    bool overwrite = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-o" || a == "--output") {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a file name");
            output = args[++i];
        } else if (a == "--overwrite") {
            overwrite = true;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            throw UsageError("unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2)
        throw UsageError("frame takes VIDEO and INDEX");
    if (output.empty())
        throw UsageError("frame needs -o OUT.bmp");
    long long index = parseInteger(positional[1], "INDEX");

    FrameReader reader;
    reader.open(positional[0]);
    const FrameRead read = reader.read(index);
    if (!read.picture)
        throw Error("Frame " + positional[1] + " could not be read" +
                    (read.error.empty() ? "" : ": " + read.error));
    const Bitmap* decoded = read.picture;
    Bitmap picture;
    picture.SetPixelFormat(PixelFormat::Bits24);
    picture.SetSize(decoded->Width(), decoded->Height());
    picture.Canvas().Draw(0, 0, *decoded);
    writeOutput(output, encodeBmp24(picture), overwrite);
    return ExitOk;
}

} // namespace

const std::vector<Command>& commands() {
    static const std::vector<Command> all = {
        {"info", InfoUsage, infoCommand},
        {"frame", FrameUsage, frameCommand},
        gifCommandEntry(),
        animateCommandEntry(),
        writeCommandEntry(),
        framesCommandEntry(),
        transitionCommandEntry(),
    };
    return all;
}

int runCommand(const Command& command, const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(command.usage, stdout);
            return ExitOk;
        }
    }
    try {
        return command.run(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "kelvara-cli %s: %s\n\n%s", command.name, e.what(), command.usage);
        return ExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return ExitFailure;
    }
}

long long parseInteger(const std::string& text, const std::string& what) {
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE)
        throw UsageError(what + " must be a whole number, not '" + text + "'");
    return value;
}

void parseRange(const std::string& text, const std::string& what, int64_t& a, int64_t& b) {
    size_t dash = text.find('-', 1);
    if (dash == std::string::npos)
        throw UsageError(what + " must look like A-B, not '" + text + "'");
    a = parseInteger(text.substr(0, dash), what);
    b = parseInteger(text.substr(dash + 1), what);
}

void parseSize(const std::string& text, const std::string& what, int& width, int& height) {
    size_t x = text.find('x');
    if (x == std::string::npos)
        throw UsageError(what + " must look like WxH, not '" + text + "'");
    width = static_cast<int>(parseInteger(text.substr(0, x), what));
    height = static_cast<int>(parseInteger(text.substr(x + 1), what));
}

void writeOutput(const std::string& path, const std::vector<uint8_t>& bytes, bool overwrite) {
    const std::string exists = "\"" + path + "\" exists; use --overwrite to replace it";
    struct stat st;
    if (!overwrite && ::stat(path.c_str(), &st) == 0)
        throw Error(exists);
    OutputFile file(path, overwrite ? ExistingFile::Replace : ExistingFile::Keep);
    file.write(bytes.data(), bytes.size());
    try {
        file.commit();
    } catch (const FileExistsError&) {
        throw Error(exists); // it appeared while this run worked
    }
}

} // namespace kelvara::cli
