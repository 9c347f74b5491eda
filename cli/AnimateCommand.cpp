// kelvara-cli animate: BMP pictures, one frame each, to a looping animated GIF built as the
// conversions build theirs.
#include "cli/AnimateCommand.h"

#include "gif/GifDocument.h"
#include "raster/Bitmap.h"
#include "raster/Error.h"
#include "raster/Stream.h"

#include <sys/stat.h>

namespace kelvara::cli {

namespace {

const char* const AnimateUsage =
    "Usage: kelvara-cli animate -o OUT.gif [options] IN1.bmp IN2.bmp ...\n"
    "\n"
    "Makes a looping animated GIF of BMP pictures, one frame each, in the order given, the way\n"
    "the conversions make theirs: each picture gets a 256-colour palette of its own, a looping\n"
    "block goes on the first frame and a graphic control block with the delay on every frame.\n"
    "  -o, --output FILE     the GIF to write\n"
    "  --delay HUNDREDTHS    frame delay in hundredths of a second, 0..65535 (default 10)\n"
    "  --no-loop             play once: no looping block\n"
    "  --reduction MODE      colour reduction (default 8):\n"
    "                          0 the picture's own colours (at most 256)\n"
    "                          1 the 20 system colours     2 a fixed halftone palette\n"
    "                          3 four greys                4 black and white\n"
    "                          5 256 greys                 6 the 216-colour web cube\n"
    "                          7 octree colours only       8 octree colours framed by the\n"
    "                                                        20 system colours\n"
    "  --dither KIND         dithering (default 1): 0 none, 1 Floyd-Steinberg, 2 Stucki,\n"
    "                        3 Sierra, 4 Jarvis-Judice-Ninke, 5 Stevenson-Arce, 6 Burkes\n"
    "  --encoder lzw|rle     compression of the frames (default lzw)\n"
    "  --overwrite           replace OUT if it exists\n";

int rangedOption(const std::string& text, const std::string& what, long long low, long long high) {
    const long long value = parseInteger(text, what);
    if (value < low || value > high)
        throw UsageError(what + " must lie in " + std::to_string(low) + ".." + std::to_string(high) +
                         ", not " + text);
    return static_cast<int>(value);
}

int animateCommand(const std::vector<std::string>& args) {
    std::vector<std::string> inputs;
    std::string output;
    bool overwrite = false, loop = true;
    int delay = 10, reduction = 8, dither = 1, encoder = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            return args[++i];
        };
        if (a == "-o" || a == "--output") {
            output = value();
        } else if (a == "--delay") {
            delay = rangedOption(value(), "--delay", 0, 65535);
        } else if (a == "--no-loop") {
            loop = false;
        } else if (a == "--reduction") {
            // Mode 9 takes a palette of the caller's, which a command line has no way to give.
            reduction = rangedOption(value(), "--reduction", 0, 8);
        } else if (a == "--dither") {
            dither = rangedOption(value(), "--dither", 0, 6);
        } else if (a == "--encoder") {
            const std::string& kind = value();
            if (kind == "lzw")
                encoder = 0;
            else if (kind == "rle")
                encoder = 1;
            else
                throw UsageError("--encoder must be lzw or rle, not '" + kind + "'");
        } else if (a == "--overwrite") {
            overwrite = true;
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError("unknown option " + a);
        } else {
            inputs.push_back(a);
        }
    }
    if (output.empty())
        throw UsageError("animate needs -o OUT.gif");
    if (inputs.empty())
        throw UsageError("animate needs at least one picture");
    struct stat st;
    if (!overwrite && ::stat(output.c_str(), &st) == 0)
        throw Error("\"" + output + "\" exists; use --overwrite to replace it");

    TGIFDocument document;
    document.SetReductionMode(static_cast<GifReductionMode>(reduction));
    document.SetDitherKind(static_cast<GifDitherKind>(dither));
    for (const std::string& path : inputs) {
        Bitmap picture;
        {
            FileStream in(path, FileStream::Mode::Read);
            picture.LoadFromStream(in);
        }
        // Frames reach the document as 24-bit pictures, as the frame tables hold them.
        Bitmap frame;
        frame.SetPixelFormat(PixelFormat::Bits24);
        frame.SetSize(picture.Width(), picture.Height());
        frame.Canvas().Draw(0, 0, picture);
        const int index = document.AddFrame(frame);
        TGIFSubImage& added = document.Frame(index);
        if (index == 0 && loop) {
            auto block = std::make_unique<TGIFAppExtNSLoop>(&added);
            block->SetLoopCount(0); // for ever
            added.Extensions().Append(std::move(block));
        }
        auto control = std::make_unique<TGIFGraphicControlExtension>(&added);
        control->SetDelayHundredths(static_cast<uint16_t>(delay));
        added.Extensions().Append(std::move(control));
    }
    // The finished document is copied into the one that is saved, as the conversions do; the
    // copy takes the encoder from here.
    TGIFDocument built;
    built.Assign(&document);
    built.SetEncoderKind(static_cast<uint8_t>(encoder));
    MemoryStream bytes;
    built.SaveToStream(bytes);
    writeOutput(output, bytes.bytes(), overwrite);
    return ExitOk;
}

} // namespace

const Command& animateCommandEntry() {
    static const Command command = {"animate", AnimateUsage, animateCommand};
    return command;
}

} // namespace kelvara::cli
