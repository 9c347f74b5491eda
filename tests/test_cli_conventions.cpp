// kelvara-cli used as users of other command-line tools use them: options in any order and in
// GNU form, values checked with their ranges, refusals that say what would be written instead,
// output where and in the format the user named it, short runs told apart from whole ones,
// the video's own timing, and the help, version and JSON facts scripts rely on.
#include "convert/AviToGif.h"
#include "convert/FrameExtraction.h"
#include "gif/GifDocument.h"
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
        {"gif " + v + " -o " + out + ".gif --frames 13-1000", "--frames: frame 13 is outside 1..12"},
        {"gif " + v + " -o " + out + ".gif --frames 13-", "--frames: frame 13 is outside 1..12"},
        {"gif " + v + " -o " + out + ".gif --frames 3", "--frames must look like A-B, A- (to the end) or -B"},
        {"gif " + v + " -o " + out + ".gif --frames 0-3", "--frames: frame 0 is outside 1..12"},
        {"gif " + v + " -o " + out + ".gif --time 9-", "--time: second 9 is outside 0..0.48"},
        {"gif " + v + " -o " + out + ".gif --time 0.5-0.6", "--time: second 0.5 is outside 0..0.48"},
        {"gif " + v + " -o " + out + ".gif --time -", "--time must look like T1-T2, T1- (to the end)"},
        {"frames " + v + " --format bmp --out-dir " + out + " --range 5-2",
         "--range: start 5 is after end 2"},
        {"frames " + v + " --format bmp --out-dir " + out + " --range 13-20",
         "--range: frame 13 is outside 1..12"},
        {"frames " + v + " --format bmp --out-dir " + out + " --step 2 --fps 5", "--fps and --step exclude"},
        {"frames " + v + " --format bmp --out-dir " + out + " --name shot",
         "--name must be a file name with one %d"},
        {"frames " + v + " --format bmp --out-dir " + out + " --name %s%d", "--name must be a file name"},
        {"frames " + v + " --format bmp --out-dir " + out + " --name a/%d", "no folders"},
        {"gif " + v + " -o " + out + ".gif --loop 2 --no-loop", "--loop and --no-loop exclude each other"},
        {"gif " + v + " -o " + out + ".gif --speed 20", "--speed must be a number in 0.1..10, not '20'"},
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
         "give --size or --width/--height, not both"},
        {"gif " + v + " -o " + out + ".gif --scale 1:2 --height 4", "give one of"},
        {"frames " + v + " --format bmp --out-dir " + out + " --size 3x3 --height 5", "give --size or"},
        {"gif " + v + " -o " + out + ".gif --frames=1-2 --time=0-1",
         "--frames and --time exclude each other"},
        {"gif " + v + " -o " + out + ".gif --nope", "unknown option --nope"},
        {"gif " + v + " -o " + out + ".gif --backward=yes", "--backward takes no value"},
        {"gif " + v + " -o", "-o needs a value"},
        {"frames " + v + " --format webp", "--format must be one of"},
        {"write " + in + " " + out + ".jpg --format png", "--format png does not agree"},
        {"write " + in + " " + out + ".xyz", ".xyz is not a format kelvara-cli writes; it writes .bmp .jpg"},
        {"write " + in + " " + out, "cannot tell the format of"},
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
    EXPECT_EQ(r.out, "");
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
    // A picture that cannot be decoded is named with the reason, and nothing is written.
    const std::vector<uint8_t> bmp = readFile(picture(dir, "p.bmp"));
    const std::string bad = dir.file("bad.bmp");
    writeFileAtomically(bad, bmp.data(), bmp.size() / 2);
    const std::string badGif = dir.file("bad.gif");
    r = cli("animate -o " + shellQuoted(badGif) + " " + shellQuoted(dir.file("p.png")) + " " +
            shellQuoted(bad) + " " + shellQuoted(dir.file("p.gif")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvara-cli animate: \"" + bad + "\": Bitmap image is not valid: cut short\n");
    EXPECT_FALSE(std::filesystem::exists(badGif));
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
         "file.gif", false}, // --quiet: nothing at all
        {"frame " + v + " 5 -o " + file + ".png", "frame " + v + " 5 --format png -o -", "file.png", true},
        {"write " + in + " " + file + ".tif --colors 16", "write " + in + " - --format=tiff --colors 16",
         "file.tif", true},
        {"transition --quiet --steps 2 -o " + file + ".gif", "transition --quiet --steps 2 -o -", "file.gif",
         false},
        {"animate -o " + file + ".gif " + in + " " + in, "animate -o - " + in + " " + in, "file.gif", true},
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

// A video cut short: what was read is written, a warning says where the video ended and the
// status is 3.
TEST(CliShortRuns, AreWrittenWithAWarningAndStatusThree) {
    ScratchDir dir;
    const std::string whole = dir.file("whole.avi"), cut = dir.file("cut.avi");
    makeCodecFixture(whole, "rawvideo", 32, 24, 40, false);
    Bytes bytes = readFile(whole);
    bytes.resize(60000); // the index and the frames after the 24th are gone
    writeFileAtomically(cut, bytes.data(), bytes.size());
    std::filesystem::create_directory(dir.file("f"));
    const struct {
        std::string arguments;
        std::string warning;
        std::string written; // the file that holds what was read
    } cases[] = {
        {"gif " + shellQuoted(cut) + " --quiet -o " + shellQuoted(dir.file("a.gif")),
         "warning: the video ended at frame 25: 24 of 40 frames written\n", "a.gif"},
        {"gif " + shellQuoted(cut) + " --quiet --frames 11-40 --step 2 -o " + shellQuoted(dir.file("b.gif")),
         "warning: the video ended at frame 25: 7 of 15 frames written\n", "b.gif"},
        {"frames " + shellQuoted(cut) + " --quiet --format bmp --range 20-30 --out-dir " +
             shellQuoted(dir.file("f")),
         "warning: the video ended at frame 25: 5 of 11 frames written\n", "f/frame24.bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ProcessResult r = cli(c.arguments);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.err, (c.arguments.rfind("gif", 0) == 0 ? "kelvara-cli gif: " : "kelvara-cli frames: ") +
                             cut + ": " + c.warning);
        EXPECT_TRUE(std::filesystem::exists(dir.file(c.written)));
    }
    EXPECT_EQ(decodeWithGiflib(readFile(dir.file("a.gif"))).frames.size(), 24u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("f/frame25.bmp")));
    // The whole video is a whole run.
    const ProcessResult r =
        cli("gif " + shellQuoted(whole) + " --quiet -o " + shellQuoted(dir.file("c.gif")));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

// Without --delay a GIF keeps the video's timing: each frame lasts until the next picture taken
// (the last its own picture), in hundredths with what is cut off carried on, at least 2; a typed
// delay goes to the nearest hundredth. --max-frames counts the frames after --step; --loop
// writes the count.
TEST(CliGifTiming, FromTheVideoAndTheLimitAfterTheStep) {
    ScratchDir dir;
    const struct {
        int rate;
        std::string options;
        std::vector<int> delays;
    } cases[] = {
        {25, "", std::vector<int>(9, 4)},
        {25, "--step 3", {12, 12, 4}},
        {15, "", {6, 7, 7, 6, 7, 7, 6, 7, 7}},
        {15, "--step 2", {13, 13, 14, 13, 7}},
        {100, "", std::vector<int>(9, 2)},
        {10, "", std::vector<int>(9, 10)},
        {25, "--delay 95", std::vector<int>(9, 10)},
        {25, "--delay 94", std::vector<int>(9, 9)},
        {100, "--delay 10", std::vector<int>(9, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " " + c.options);
        const std::string out = dir.file("t.gif");
        const ProcessResult r = cli("gif --quiet --overwrite " + shellQuoted(solidVideo(dir, 9, c.rate)) +
                                    " -o " + shellQuoted(out) + " " + c.options);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const GiflibImage gif = decodeWithGiflib(readFile(out));
        std::vector<int> delays;
        for (const GiflibFrame& f : gif.frames)
            delays.push_back(f.delay);
        EXPECT_EQ(delays, c.delays);
        EXPECT_EQ(gif.loopCount, 0);
    }

    const std::string long444 = solidVideo(dir, 444, 25, 2, 2);
    const std::string out = dir.file("long.gif");
    ProcessResult r = cli("gif --quiet " + shellQuoted(long444) + " --frames 1-444 --step 2 --loop 3 -o " +
                          shellQuoted(out));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const GiflibImage gif = decodeWithGiflib(readFile(out));
    EXPECT_EQ(gif.frames.size(), 222u);
    EXPECT_EQ(gif.loopCount, 3);
    // The command line has no 256-frame limit; --max-frames sets one, counted after the step.
    r = cli("gif --quiet " + shellQuoted(long444) + " --frames 1-300 -o " + shellQuoted(dir.file("300.gif")));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(decodeWithGiflib(readFile(dir.file("300.gif"))).frames.size(), 300u);
    r = cli("gif --quiet " + shellQuoted(long444) + " --max-frames 222 --step 2 -o " +
            shellQuoted(dir.file("222.gif")));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = cli("gif --quiet " + shellQuoted(long444) + " --max-frames 221 --step 2 -o " +
            shellQuoted(dir.file("no.gif")));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err,
              "kelvara-cli gif: the GIF would hold 222 frames, more than --max-frames 221; choose fewer "
              "with --frames, --time or --step\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("no.gif")));
    r = cli("gif --quiet " + shellQuoted(long444) + " --max-frames -1 -o " + shellQuoted(dir.file("no.gif")));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.file("no.gif")));
}

// The tab keeps its own rule: the whole range counts, before the step; and its 100 ms delay.
TEST(CliGifTiming, TheTabKeepsItsRules) {
    ScratchDir dir;
    AviToGifOptions o;
    o.videoPath = solidVideo(dir, 300, 25, 2, 2);
    o.frameCount = 300;
    o.lengthMs = 12000;
    o.baseWidth = o.baseHeight = 2;
    o.crop = {0, 0, 2, 2};
    o.frames = FrameChoice::FrameRange;
    o.firstFrame = 1;
    o.lastFrame = 300;
    o.samplingStep = 2;
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    struct : JobObserver {
        void setProgressRange(int, int) override {}
        void setProgressPosition(int) override {}
    } observer;
    AviToGifResult r = convertAviToGif(o, table, built, observer);
    EXPECT_EQ(r.outcome, AviToGifOutcome::Warning);
    o.limitRule = FrameLimitRule::AfterStep;
    o.maxFrames = 150;
    r = convertAviToGif(o, table, built, observer);
    ASSERT_EQ(r.outcome, AviToGifOutcome::Built);
    EXPECT_EQ(r.frames, 150);
    EXPECT_EQ(r.delayHundredths, 10);
}

// The write path: devices and FIFOs are written into, links followed, folders refused, a missing
// folder named.
TEST(CliOutput, DevicesFifosLinksAndFolders) {
    ScratchDir dir;
    const std::string v = shellQuoted(solidVideo(dir, 12));
    const std::string gifArgs = "gif " + v + " --quiet --frames 1-3 -o ";
    ProcessResult r = cli(gifArgs + shellQuoted(dir.file("ref.gif")));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Bytes reference = readFile(dir.file("ref.gif"));

    // /dev/null needs no --overwrite and stays a device.
    r = cli(gifArgs + "/dev/null");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    // /dev/stdout leads to the file the shell opened: written into, not replaced.
    r = runProcess(shellQuoted(KELVARA_CLI_PATH) + " " + gifArgs + "/dev/stdout > " +
                   shellQuoted(dir.file("out.gif")));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("out.gif")), reference);
    // A full device: the error names it.
    r = cli(gifArgs + "/dev/full");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvara-cli gif: Cannot write file /dev/full: No space left on device\n");

    // A FIFO is written into, not replaced.
    const std::string fifo = dir.file("pipe.gif");
    ASSERT_EQ(runProcess("mkfifo " + shellQuoted(fifo)).exitCode, 0);
    r = runProcess("cat " + shellQuoted(fifo) + " > " + shellQuoted(dir.file("from-pipe")) + " & " +
                   shellQuoted(KELVARA_CLI_PATH) + " " + gifArgs + shellQuoted(fifo) + "; wait");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("from-pipe")), reference);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));

    // A link is followed: its target is replaced and the link stays a link.
    std::filesystem::create_directory(dir.file("real"));
    writeFileAtomically(dir.file("real/target.gif"), "old", 3);
    std::filesystem::create_symlink("real/target.gif", dir.file("link.gif"));
    r = cli(gifArgs + shellQuoted(dir.file("link.gif")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("exists; use --overwrite"), std::string::npos);
    EXPECT_EQ(readFile(dir.file("real/target.gif")), (Bytes{'o', 'l', 'd'}));
    r = cli(gifArgs + shellQuoted(dir.file("link.gif")) + " --overwrite");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.gif")));
    EXPECT_EQ(readFile(dir.file("real/target.gif")), reference);
    // A dangling link: the file is made where it points.
    std::filesystem::create_symlink("real/new.gif", dir.file("dangling.gif"));
    r = cli(gifArgs + shellQuoted(dir.file("dangling.gif")));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("dangling.gif")));
    EXPECT_EQ(readFile(dir.file("real/new.gif")), reference);

    // A folder is refused; a missing folder is named, never a temporary file.
    r = cli(gifArgs + shellQuoted(dir.file("real")) + " --overwrite");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvara-cli gif: Cannot write file " + dir.file("real") + ": Is a directory\n");
    r = runProcess("cd " + shellQuoted(dir.path()) + " && " + shellQuoted(KELVARA_CLI_PATH) + " " + gifArgs +
                   "nodir/out.gif");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvara-cli gif: Cannot write file nodir/out.gif: folder nodir does not exist\n");
    r = runProcess("cd " + shellQuoted(dir.path()) + " && " + shellQuoted(KELVARA_CLI_PATH) + " write " +
                   shellQuoted(picture(dir, "in.png")) + " nodir/sub/out.png");
    EXPECT_EQ(r.err,
              "kelvara-cli write: Cannot write file nodir/sub/out.png: folder nodir/sub does not exist\n");
}

// A full disk and a read-only folder, on small file systems of their own: a clear error naming
// the file, nothing new left, the old file intact.
TEST(CliOutput, FullDiskAndReadOnlyFolderKeepTheOldFile) {
    if (runProcess("unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs /mnt'").exitCode != 0)
        GTEST_SKIP() << "no private mounts here (unshare and mount need privileges)";
    ScratchDir dir;
    const std::string v = shellQuoted(solidVideo(dir, 40, 25, 64, 48));
    const std::string mount = dir.file("m");
    std::filesystem::create_directory(mount);
    const std::string cliPath = shellQuoted(KELVARA_CLI_PATH);
    // Each script runs in a mount namespace of its own, so nothing outlives it.
    const struct {
        std::string setup;
        std::string reason;
    } cases[] = {
        {"mount -t tmpfs -o size=16k tmpfs M && printf old > M/out.gif", "No space left on device"},
        {"mount -t tmpfs -o size=1m tmpfs M && printf old > M/out.gif && mount -o remount,ro M",
         "Read-only file system"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        std::string script;
        for (char ch : c.setup)
            script += ch == 'M' ? shellQuoted(mount) : std::string(1, ch);
        script +=
            " && " + cliPath + " gif " + v + " --quiet --overwrite -o " + shellQuoted(mount + "/out.gif");
        script += "; status=$?; ls -A " + shellQuoted(mount) + "; cat " + shellQuoted(mount + "/out.gif") +
                  "; exit $status";
        const ProcessResult r = runProcess("unshare -m sh -c " + shellQuoted(script));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "kelvara-cli gif: Cannot write file " + mount + "/out.gif: " + c.reason + "\n");
        EXPECT_EQ(r.out, "out.gif\nold"); // the old file alone, as it was
    }
}

// SIGINT, SIGTERM and SIGHUP end a run with 128 + the signal, leaving no temporary file and any
// old output as it was.
TEST(CliOutput, SignalsEndTheRunCleanly) {
    ScratchDir dir;
    const std::string video = dir.file("long.avi");
    // Small frames made large: a run of about five seconds on two cores, well past the signals.
    makeCodecFixture(video, "mpeg4", 64, 48, 300, false);
    const std::string out = dir.file("out");
    std::filesystem::create_directory(out);
    writeFileAtomically(out + "/out.gif", "old", 3);
    const struct {
        const char* signal;
        int status;
    } cases[] = {{"INT", 130}, {"TERM", 143}, {"HUP", 129}};
    for (const auto& c : cases) {
        for (const char* delay : {"0.3", "1.5"}) {
            SCOPED_TRACE(std::string(c.signal) + " after " + delay);
            // With job control a background job keeps SIGINT, as a program run from a terminal does.
            const std::string script = "set -m; " + shellQuoted(KELVARA_CLI_PATH) + " gif " +
                                       shellQuoted(video) + " --size 1600x1200 --quiet --overwrite -o " +
                                       shellQuoted(out + "/out.gif") + " & pid=$!; sleep " + delay +
                                       "; kill -" + c.signal + " $pid; wait $pid; echo $?";
            const ProcessResult r = runProcess("bash -c " + shellQuoted(script));
            EXPECT_EQ(r.out, std::to_string(c.status) + "\n") << r.err;
            EXPECT_EQ(filesIn(out), std::vector<std::string>{"out.gif"});
            EXPECT_EQ(readFile(out + "/out.gif"), (Bytes{'o', 'l', 'd'}));
        }
    }
}

// --version, the list of commands made from the command table, the exit statuses and the
// command line's JPEG defaults in the help, and info --json.
TEST(CliHelp, VersionCommandsAndJson) {
    ProcessResult r = cli("--version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "kelvara-cli 5.2\n");
    r = cli("--help");
    EXPECT_EQ(r.exitCode, 0);
    for (const char* command : {"info", "frame", "gif", "frames", "write", "animate", "transition"}) {
        EXPECT_NE(r.out.find("\n  " + std::string(command) + " "), std::string::npos) << command;
        const ProcessResult help = cli(std::string(command) + " --help");
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_NE(help.out.find("Usage: kelvara-cli " + std::string(command)), std::string::npos);
        EXPECT_NE(help.out.find("3 written, but incomplete"), std::string::npos) << command;
    }
    r = cli("write --help");
    EXPECT_NE(r.out.find("--jpeg-quality Q         0..100 (default 90)"), std::string::npos);
    EXPECT_NE(r.out.find("(default ycbcr)"), std::string::npos);

    ScratchDir dir;
    const std::string video = dir.file("clip.avi");
    makeCodecFixture(video, "mjpeg", 48, 32, 10, false);
    r = cli("info --json " + shellQuoted(video));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "{\"container\": \"avi\", \"codec\": \"mjpeg\", \"frames\": 10, \"length_ms\": 400, "
                     "\"width\": 48, \"height\": 32, \"fps\": 25}\n");
}

// JPEG from the command line: YCbCr at quality 90, as users of other tools expect.
TEST(CliHelp, JpegDefaults) {
    ScratchDir dir;
    const std::string in = shellQuoted(picture(dir, "in.png"));
    ASSERT_EQ(cli("write " + in + " " + shellQuoted(dir.file("a.jpg"))).exitCode, 0);
    ASSERT_EQ(cli("write " + in + " " + shellQuoted(dir.file("b.jpg")) +
                  " --jpeg-quality 90 --jpeg-colorspace ycbcr")
                  .exitCode,
              0);
    ASSERT_EQ(cli("write " + in + " " + shellQuoted(dir.file("c.jpg")) + " --jpeg-quality 50").exitCode, 0);
    EXPECT_EQ(readFile(dir.file("a.jpg")), readFile(dir.file("b.jpg")));
    EXPECT_NE(readFile(dir.file("a.jpg")), readFile(dir.file("c.jpg")));
    const still::JpegFacts facts = still::decodeWithLibjpeg(readFile(dir.file("a.jpg")));
    EXPECT_EQ(facts.components, 3);
    EXPECT_EQ(facts.colorSpace, 3); // JCS_YCbCr
}

// On a terminal a job draws one bar that only goes forward, whose total is the frames it
// reads, ends full and is cleared at the end; piped, nothing is printed.
TEST(CliProgress, OneBarThatOnlyGoesForwardAndClearsItsLine) {
    ScratchDir dir;
    const std::string v = shellQuoted(solidVideo(dir, 12));
    const struct {
        std::string arguments;
        std::string full; // the count the bar ends at
    } cases[] = {
        {"gif " + v + " -o " + shellQuoted(dir.file("a.gif")), "12/12"},
        {"gif " + v + " --optimize --backward -o " + shellQuoted(dir.file("b.gif")), "12/12"},
        {"frames " + v + " --format bmp --range 2-6 --out-dir " + shellQuoted(dir.file("f")), "5/5"},
        {"frames " + v + " --format bmp --step 5 --out-dir " + shellQuoted(dir.file("g")), "3/3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        // script gives the command a terminal; the status line goes to standard output after it.
        const ProcessResult r = runProcess(
            "script -qec " + shellQuoted(std::string(KELVARA_CLI_PATH) + " " + c.arguments + " >/dev/null") +
            " /dev/null");
        const std::string clear = "\r\x1b[K";
        ASSERT_GE(r.out.size(), clear.size()) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - clear.size()), clear);
        // Every drawing of the bar shows a share at least that of the one before, and the bar is
        // full once, at the end.
        int last = -1;
        for (size_t at = r.out.find("] "); at != std::string::npos; at = r.out.find("] ", at + 1)) {
            const int percent = std::atoi(r.out.c_str() + at + 2);
            EXPECT_GE(percent, last) << r.out;
            last = percent;
        }
        EXPECT_EQ(last, 100) << r.out;
        const size_t full = r.out.find("] 100%  " + c.full);
        EXPECT_NE(full, std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("\r[", full + 1), std::string::npos) << r.out;
        const ProcessResult piped = cli(c.arguments + " --overwrite");
        EXPECT_EQ(piped.err, "");
    }
}

// What a command prints on standard output must arrive: a full device fails the run.
TEST(CliOutput, StandardOutputThatCannotBeWrittenFailsTheRun) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    ScratchDir dir;
    const std::string v = shellQuoted(solidVideo(dir, 4));
    for (const std::string& args : {"info " + v, std::string("--help"), std::string("--version"),
                                    std::string("gif --help"), std::string("transition --effect list")}) {
        const ProcessResult r = runProcess(shellQuoted(KELVARA_CLI_PATH) + " " + args + " >/dev/full");
        EXPECT_EQ(r.exitCode, 1) << args;
        EXPECT_EQ(r.err, "kelvara-cli: cannot write standard output: No space left on device\n") << args;
    }
}
