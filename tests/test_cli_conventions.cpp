// kelvara-cli used as users of other command-line tools use them: options in any order and in
// GNU form, values checked with their ranges, refusals that say what would be written instead,
// output where and in the format the user named it, short runs told apart from whole ones,
// the video's own timing, and the help, version and JSON facts scripts rely on.
#include "convert/AviToGif.h"
#include "convert/FrameExtraction.h"
#include "raster/Stream.h"
#include "support/AviWriter.h"
#include "support/GifDecode.h"
#include "support/InputFixtures.h"
#include "support/OutputOracles.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using namespace kelvara;
using namespace kelvara::test;

namespace {

using Bytes = std::vector<uint8_t>;

ProcessResult cli(const std::string& arguments) {
    return runProcess(shellQuoted(KELVARA_CLI_PATH) + " " + arguments);
}

// A video of count frames of w x h, frame i a solid colour of its own, at rate frames a second.
std::string solidVideo(const ScratchDir& dir, int count, int rate = 25, int w = 8, int h = 6) {
    AviFixture f;
    f.width = w;
    f.height = h;
    f.rate = static_cast<uint32_t>(rate);
    for (int i = 0; i < count; ++i)
        f.frames.push_back(dibBits24(w, h, [&](int x, int) { return rgbColor(i % 256, x * 20, 100); }));
    const std::string path = dir.file("v" + std::to_string(count) + "_" + std::to_string(rate) + ".avi");
    writeAvi(path, f);
    return path;
}

// A small picture in a format ImageMagick writes, named by its extension.
std::string picture(const ScratchDir& dir, const std::string& name) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(imageMagickConvert("-size 12x9 gradient:red-blue " + shellQuoted(path))) << name;
    return path;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Whether the bytes are a file of the kind: bmp, jpg, gif, tif, pcx, tga, jp2, j2k or png.
bool isKind(const Bytes& bytes, const std::string& kind) {
    auto starts = [&](std::initializer_list<uint8_t> magic) {
        return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
    };
    if (kind == "tga") {
        const std::string footer = "TRUEVISION-XFILE";
        return bytes.size() > 26 && std::equal(footer.begin(), footer.end(), bytes.end() - 18);
    }
    return kind == "bmp"   ? starts({'B', 'M'})
           : kind == "jpg" ? starts({0xFF, 0xD8, 0xFF})
           : kind == "gif" ? starts({'G', 'I', 'F', '8', '9', 'a'})
           : kind == "tif" ? starts({'I', 'I', 42, 0})
           : kind == "pcx" ? starts({10, 5})
           : kind == "jp2" ? starts({0, 0, 0, 12, 'j', 'P', ' ', ' '})
           : kind == "j2k" ? starts({0xFF, 0x4F, 0xFF, 0x51})
           : kind == "png" ? starts({0x89, 'P', 'N', 'G'})
                           : false;
}

} // namespace

// The TIFF photometric is applied before the colours, whatever the order typed; a single option
// still gets its partner from the dialog's couplings.
TEST(CliWriterOptions, AreASetAppliedInOneOrder) {
    ScratchDir dir;
    const std::string in = picture(dir, "in.png");
    const struct {
        std::string first, second; // the same options in two orders
        int photometric, bitsPerSample, samplesPerPixel, compression;
    } cases[] = {
        {"--colors 16 --tiff-photometric palette", "--tiff-photometric=palette --colors=16", 3, 4, 1, 1},
        {"--colors bw --tiff-compression g4fax", "--tiff-compression=G4FAX --colors=BW", 0, 1, 1, 4},
        {"--colors 256 --tiff-compression lzw", "--tiff-compression lzw --colors 256", 3, 8, 1, 5},
        {"--colors 16", "--colors 16", 3, 4, 1, 1},                         // palette chosen for it
        {"--tiff-photometric cmyk", "--tiff-photometric cmyk", 5, 8, 4, 1}, // 16m chosen for it
        {"--colors bw --tiff-photometric blackiszero", "--tiff-photometric blackiszero --colors bw", 1, 1, 1,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const std::string a = dir.file("a.tif"), b = dir.file("b.tif");
        ProcessResult r = cli("write " + shellQuoted(in) + " " + shellQuoted(a) + " --overwrite " + c.first);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        r = cli("write " + c.second + " --overwrite " + shellQuoted(in) + " " + shellQuoted(b));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFile(a), readFile(b));
        const still::TiffFacts facts = still::decodeWithLibtiff(readFile(a));
        EXPECT_EQ(facts.photometric, c.photometric);
        EXPECT_EQ(facts.bitsPerSample, c.bitsPerSample);
        EXPECT_EQ(facts.samplesPerPixel, c.samplesPerPixel);
        EXPECT_EQ(facts.compression, c.compression);
    }
}

// What the writers would store otherwise is refused with exit 2 and the options of what they
// would store; nothing is written.
TEST(CliWriterOptions, CombinationsTheWriterWouldChangeAreRefused) {
    ScratchDir dir;
    const std::string in = picture(dir, "in.png");
    const std::string rgb = "--colors 16m --tiff-photometric rgb --tiff-compression none";
    const struct {
        const char* out;
        const char* options;
        std::string instead;
    } cases[] = {
        {"o.tif", "--colors bw --tiff-photometric rgb",
         "--colors bw --tiff-photometric blackiszero --tiff-compression none"},
        {"o.tif", "--tiff-photometric rgb --colors bw",
         "--colors bw --tiff-photometric blackiszero --tiff-compression none"},
        {"o.tif", "--tiff-compression g4fax", rgb},
        {"o.tif", "--tiff-compression ccitt1d --colors 256",
         "--colors 256 --tiff-photometric palette --tiff-compression none"},
        {"o.tif", "--tiff-compression jpeg", rgb},
        {"o.tif", "--tiff-compression oldjpeg", rgb},
        {"o.tif", "--tiff-photometric ycbcr", rgb},
        {"o.tif", "--tiff-photometric transpmask", rgb},
        {"o.tif", "--tiff-photometric blackiszero", "--colors 256 --tiff-photometric palette"},
        {"o.tif", "--tiff-photometric whiteiszero --colors bw", "--tiff-photometric blackiszero"},
        {"o.tif", "--colors 65536", rgb},
        {"o.tif", "--tiff-photometric cmyk --colors 256", "--colors 256 --tiff-photometric palette"},
        {"o.bmp", "--colors 16m32", "--colors 16m"},
        {"o.bmp", "--colors 65536", "--colors 16m"},
        {"o.bmp", "--bmp-rle", "uncompressed"},
        {"o.tga", "--colors bw --tga-compressed", "uncompressed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const ProcessResult r =
            cli("write " + shellQuoted(in) + " " + shellQuoted(dir.file(c.out)) + " " + c.options);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("cannot be written as asked"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.instead), std::string::npos) << r.err;
        EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"in.png"});
    }
}

// Every value is checked before any work, with the option's name and what it accepts; ranges
// of frames follow one rule and one wording in every command.
TEST(CliArguments, MistakesExitTwoNamingTheOptionAndTheRange) {
    ScratchDir dir;
    const std::string v = shellQuoted(solidVideo(dir, 12));
    const std::string in = shellQuoted(picture(dir, "in.png"));
    const std::string out = shellQuoted(dir.file("out/o"));
    std::filesystem::create_directory(dir.file("out"));
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"gif " + v + " -o " + out + ".gif --delay abc",
         "--delay must be a whole number in 10..5000, not 'abc'"},
        {"gif " + v + " -o " + out + ".gif --delay 0", "--delay must be a whole number in 10..5000, not '0'"},
        {"gif " + v + " -o " + out + ".gif --step 0", "--step must be a whole number in 1..10000, not '0'"},
        {"gif " + v + " -o " + out + ".gif --width 0", "--width must be a whole number in 1..10000, not '0'"},
        {"gif " + v + " -o " + out + ".gif --loop -1", "--loop must be a whole number in 0..65535, not '-1'"},
        {"gif " + v + " -o " + out + ".gif --frames 5-2", "--frames: start 5 is after end 2"},
        {"gif " + v + " -o " + out + ".gif --frames 1-1000", "--frames: frame 1000 is outside 1..12"},
        {"gif " + v + " -o " + out + ".gif --frames 0-3", "--frames: frame 0 is outside 1..12"},
        {"gif " + v + " -o " + out + ".gif --time 0-9", "--time: second 9 is outside 0..0"},
        {"frames " + v + " --format bmp --out-dir " + out + " --range 5-2",
         "--range: start 5 is after end 2"},
        {"frames " + v + " --format bmp --out-dir " + out + " --range 1-1000",
         "--range: frame 1000 is outside 1..12"},
        {"frame " + v + " 0 -o " + out + ".bmp", "frame 0 is outside 1..12"},
        {"frame " + v + " 13 -o " + out + ".bmp", "frame 13 is outside 1..12"},
        {"transition -o " + out + ".gif --video " + v + " --source frame:13", "frame 13 is outside 1..12"},
        {"transition -o " + out + ".gif --duration abc", "--duration must be a whole number in 10..5000"},
        {"transition -o " + out + ".gif --steps 0", "--steps must be a whole number in 1..50"},
        {"write " + in + " " + out + ".jpg --jpeg-quality 200",
         "--jpeg-quality must be a whole number in 0..100, not '200'"},
        {"write " + in + " " + out + ".jp2 --jp2-rate 2", "--jp2-rate must be a number in 0..1, not '2'"},
        {"animate -o " + out + ".gif --delay=x " + in, "--delay must be a whole number in 0..65535"},
        {"gif " + v + " -o " + out + ".gif --size 3x3 --width 5",
         "give one of --scale, --size and --width/--height"},
        {"gif " + v + " -o " + out + ".gif --scale 1:2 --height 4", "give one of"},
        {"frames " + v + " --format bmp --out-dir " + out + " --size 3x3 --height 5", "give --size or"},
        {"gif " + v + " -o " + out + ".gif --frames=1-2 --time=0-1",
         "--frames and --time exclude each other"},
        {"gif " + v + " -o " + out + ".gif --nope", "unknown option --nope"},
        {"gif " + v + " -o " + out + ".gif --backward=yes", "--backward takes no value"},
        {"gif " + v + " -o", "-o needs a value"},
        {"frames " + v + " --format webp", "--format must be one of"},
        {"write " + in + " " + out + ".jpg --format png", "--format png does not agree"},
        {"write " + in + " " + out + ".xyz", "give --format"},
        {"write " + in + " - --format png --png-compression 3 --jpeg-quality 5",
         "--jpeg-quality does not apply"},
        {"gif " + v + " -o " + out + ".png", "the gif command writes GIF files"},
        {"animate -o " + out + ".tif " + in, "the animate command writes GIF files"},
        {"transition -o " + out + ".JPG", "the transition command writes GIF files"},
        {"transition -o " + out + ".gif --effect Spin", "--effect must name one of the 24 effects"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ProcessResult r = cli(c.arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
        EXPECT_TRUE(filesIn(dir.file("out")).empty());
    }
}

// --opt=value everywhere, format names in any case with their aliases, and effect names in any
// case.
TEST(CliArguments, GnuFormsAndNamesInAnyCase) {
    ScratchDir dir;
    const std::string v = solidVideo(dir, 12);
    ProcessResult r = cli("gif --quiet --frames=2-9 " + shellQuoted(v) +
                          " --step=2 --output=" + shellQuoted(dir.file("a.gif")) + " --size=4x3");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Size: 4 x 3 pixels  Frames: 4\n");
    // "--" ends the options: a file named like one.
    std::filesystem::copy_file(v, dir.file("--odd.avi"));
    r = runProcess("cd " + shellQuoted(dir.path()) + " && " + shellQuoted(KELVARA_CLI_PATH) +
                   " info -- --odd.avi");
    EXPECT_EQ(r.exitCode, 0) << r.err;

    const std::string in = shellQuoted(picture(dir, "in.png"));
    const struct {
        const char* arguments;
        const char* kind;
    } formats[] = {
        {"--format JPEG", "jpg"}, {"--format=Tiff", "tif"}, {"--format targa", "tga"},
        {"--format j2k", "j2k"},  {"--format=JP2", "jp2"},  {"--format PNG", "png"},
        {"--format Bmp", "bmp"},  {"--format pcx", "pcx"},  {"--format GIF", "gif"},
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.arguments);
        const std::string out = dir.file("out");
        r = cli("write " + in + " " + shellQuoted(out) + " --overwrite " + f.arguments);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(isKind(readFile(out), f.kind));
    }
    for (const char* effect : {"crossdissolve", "CENTERZOOM1", "randomBoxes", "7"}) {
        r = cli("transition --quiet --overwrite -o " + shellQuoted(dir.file("t.gif")) + " --effect " +
                effect);
        EXPECT_EQ(r.exitCode, 0) << effect << r.err;
    }
}

// frame and write take the format from the output's name; write and animate read every kind of
// picture the picture reader reads.
TEST(CliFormats, FromTheOutputsNameAndEveryPictureRead) {
    ScratchDir dir;
    const std::string v = shellQuoted(solidVideo(dir, 12));
    const struct {
        const char* name;
        const char* kind;
    } outputs[] = {
        {"f.bmp", "bmp"}, {"f.jpg", "jpg"},  {"f.JPEG", "jpg"}, {"f.gif", "gif"},
        {"f.tif", "tif"}, {"f.tiff", "tif"}, {"f.pcx", "pcx"},  {"f.tga", "tga"},
        {"f.png", "png"}, {"f.jp2", "jp2"},  {"f.j2k", "j2k"},
    };
    for (const auto& o : outputs) {
        SCOPED_TRACE(o.name);
        const ProcessResult r = cli("frame " + v + " 3 -o " + shellQuoted(dir.file(o.name)));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(isKind(readFile(dir.file(o.name)), o.kind));
    }
    // Frame 3 at the video's size, read back by ImageMagick.
    ProcessResult px =
        runProcess("convert " + shellQuoted(dir.file("f.png")) + " -format '%w %h %[pixel:p{0,0}]' info:");
    EXPECT_EQ(px.out, "8 6 srgb(2,0,100)");

    std::string all;
    for (const char* name : {"p.png", "p.jpg", "p.tif", "p.gif", "p.pcx", "p.tga", "p.ico", "p.ppm", "p.pgm",
                             "p.jp2", "p.bmp"}) {
        SCOPED_TRACE(name);
        const std::string in = picture(dir, name);
        all += " " + shellQuoted(in);
        const std::string out = dir.file(std::string("w-") + name + ".png");
        const ProcessResult r = cli("write " + shellQuoted(in) + " " + shellQuoted(out));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const still::PngFacts png = still::decodeWithLibpng(readFile(out));
        EXPECT_EQ(png.width, 12);
        EXPECT_EQ(png.height, 9);
    }
    const std::string gif = dir.file("all.gif");
    ProcessResult r = cli("animate -o " + shellQuoted(gif) + all);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(decodeWithGiflib(readFile(gif)).frames.size(), 11u);
    // A picture of an extension the reader does not know is an error.
    writeFileAtomically(dir.file("notes.txt"), "text", 4);
    r = cli("write " + shellQuoted(dir.file("notes.txt")) + " " + shellQuoted(dir.file("n.png")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("is not a picture file of a known type"), std::string::npos) << r.err;
}

// -o - writes to standard output the bytes the file would hold; messages go to standard error.
TEST(CliOutput, DashIsStandardOutput) {
    ScratchDir dir;
    const std::string v = shellQuoted(solidVideo(dir, 12));
    const std::string in = shellQuoted(picture(dir, "in.png"));
    const std::string file = shellQuoted(dir.file("file"));
    const struct {
        std::string toFile, toStdout, name;
        bool message; // a line on standard error
    } cases[] = {
        {"gif " + v + " --frames 1-4 --quiet -o " + file + ".gif", "gif " + v + " --frames 1-4 --quiet -o -",
         "file.gif", true},
        {"frame " + v + " 5 -o " + file + ".png", "frame " + v + " 5 --format png -o -", "file.png", false},
        {"write " + in + " " + file + ".tif --colors 16", "write " + in + " - --format=tiff --colors 16",
         "file.tif", true},
        {"transition --quiet --steps 2 -o " + file + ".gif", "transition --quiet --steps 2 -o -", "file.gif",
         true},
        {"animate -o " + file + ".gif " + in + " " + in, "animate -o - " + in + " " + in, "file.gif", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.toStdout);
        ProcessResult r = cli(c.toFile);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        r = cli(c.toStdout + " > " + shellQuoted(dir.file("piped")));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFile(dir.file("piped")), readFile(dir.file(c.name)));
        EXPECT_EQ(!r.err.empty(), c.message) << r.err;
        std::filesystem::remove(dir.file(c.name));
    }
    // Standard output without a format to take from a name, and standard output on a terminal.
    ProcessResult r = cli("write " + in + " -");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("give --format"), std::string::npos);
    r = runProcess("script -qec " + shellQuoted(std::string(KELVARA_CLI_PATH) + " gif " + v + " -o -") +
                   " /dev/null");
    EXPECT_NE(r.out.find("standard output is a terminal"), std::string::npos) << r.out;
}
