// kelvara-cli animate: pictures, one frame each, to a looping animated GIF built as the
// conversions build theirs.
#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "convert/JobMemory.h"

#include "gif/GifDocument.h"
#include "raster/Bitmap.h"
#include "raster/Error.h"
#include "raster/Stream.h"

namespace kelvara::cli {

namespace {

const char* const AnimateUsage =
    "Usage: kelvara-cli animate -o OUT.gif [options] IN1 IN2 ...\n"
    "\n"
    "Makes a looping animated GIF of pictures, one frame each, in the order given, the way the\n"
    "conversions make theirs: each picture gets a 256-colour palette of its own, a looping\n"
    "block goes on the first frame and a graphic control block with the delay on every frame.\n"
    "The pictures may be PNG, JPEG, TIFF, GIF, PCX, Targa, icon, PNM, JPEG 2000 or BMP files,\n"
    "read by their extensions.\n"
    "  -o, --output FILE     the GIF to write; - for standard output\n"
    "  --delay HUNDREDTHS    frame delay in hundredths of a second, 0..65535 (default 10)\n"
    "  --loop N              the loop count written in the GIF, 0..65535; 0 loops for ever\n"
    "                        (the default)\n"
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
    "  --memory-limit SIZE   the memory the job may use, 2G by default (K, M and G count\n"
    "                        1024s); pictures past it are refused\n"
    "  -y, --overwrite       replace OUT if it exists\n"
    "  -q, --quiet           print nothing on success\n";

int animateCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> inputs;
    std::string output;
    bool overwrite = false, loop = true;
    int delay = 10, reduction = 8, dither = 1, encoder = 0;
    uint16_t loopCount = 0;
    uint64_t memoryLimit = DefaultMemoryLimit;
    ArgumentReader args(arguments);
    while (args.next()) {
        if (args.isPositional()) {
            inputs.push_back(args.text());
        } else if (args.option({"-o", "--output"})) {
            output = args.value();
        } else if (args.option({"--delay"})) {
            delay = static_cast<int>(integerIn("--delay", args.value(), 0, 65535));
        } else if (args.option({"--loop"})) {
            loopCount = static_cast<uint16_t>(integerIn("--loop", args.value(), 0, 65535));
        } else if (args.flag({"--no-loop"})) {
            loop = false;
        } else if (args.option({"--reduction"})) {
            // Mode 9 takes a palette of the caller's, which a command line has no way to give.
            reduction = static_cast<int>(integerIn("--reduction", args.value(), 0, 8));
        } else if (args.option({"--dither"})) {
            dither = static_cast<int>(integerIn("--dither", args.value(), 0, 6));
        } else if (args.option({"--encoder"})) {
            const std::string kind = lowerCase(args.value());
            if (kind == "lzw")
                encoder = 0;
            else if (kind == "rle")
                encoder = 1;
            else
                throw UsageError("--encoder must be lzw or rle, not '" + args.value() + "'");
        } else if (takeMemoryLimit(args, memoryLimit)) {
        } else if (args.flag({"--overwrite", "-y"})) {
            overwrite = true;
        } else if (args.flag({"--quiet", "-q"})) {
            setQuiet(true);
        } else {
            args.unknown();
        }
    }
    if (output.empty())
        throw UsageError("animate needs -o OUT.gif");
    if (inputs.empty())
        throw UsageError("animate needs at least one picture");
    checkGifOutputName("animate", output);
    checkOutput(output, overwrite);

    TGIFDocument document;
    document.SetReductionMode(static_cast<GifReductionMode>(reduction));
    document.SetDitherKind(static_cast<GifDitherKind>(dither));
    uint64_t held = 0;
    for (const std::string& path : inputs) {
        Bitmap picture;
        readInputPicture(path, picture);
        // Each picture stays in the document until the GIF is written.
        held += heldPicturesMemory(picture.Width(), picture.Height(), 1) - heldPicturesMemory(0, 0, 0);
        checkMemoryNeed("\"" + path + "\" and the pictures before it", held + heldPicturesMemory(0, 0, 0),
                        memoryLimit, "choose fewer or smaller pictures");
        // Frames reach the document as 24-bit pictures, as the frame tables hold them.
        Bitmap frame;
        frame.SetPixelFormat(PixelFormat::Bits24);
        frame.SetSize(picture.Width(), picture.Height());
        frame.Canvas().Draw(0, 0, picture);
        const int index = document.AddFrame(frame);
        TGIFSubImage& added = document.Frame(index);
        if (index == 0 && loop) {
            auto block = std::make_unique<TGIFAppExtNSLoop>(&added);
            block->SetLoopCount(loopCount);
            added.Extensions().Append(std::move(block));
        }
        auto control = std::make_unique<TGIFGraphicControlExtension>(&added);
        control->SetDelayHundredths(static_cast<uint16_t>(delay));
        added.Extensions().Append(std::move(control));
    }
    // The finished document is handed to the one that is saved, as the conversions do; that one
    // takes the encoder from here.
    TGIFDocument built;
    built.Take(document);
    built.SetEncoderKind(static_cast<uint8_t>(encoder));
    MemoryStream bytes;
    built.SaveToStream(bytes);
    writeOutput(output, bytes.bytes(), overwrite);
    summary(output, "Size: " + std::to_string(built.Width()) + " x " + std::to_string(built.Height()) +
                        " pixels  Frames: " + std::to_string(inputs.size()));
    return ExitOk;
}

} // namespace

const Command& animateCommandEntry() {
    static const Command command{"animate", "-o OUT.gif IN...", "make an animated GIF of pictures",
                                 AnimateUsage, animateCommand};
    return command;
}

} // namespace kelvara::cli
