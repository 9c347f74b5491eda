// kelvara-cli on hostile input, as a user would meet it: damaged files made from valid ones with a
// few bytes changed, run under an address-space limit of 1 GiB and a timeout. Every run ends in
// seconds with a clear refusal (or, for a video header that claims too much, with what the video
// really holds; for videos joined end to end, cut short or repeating every picture, with what they
// hold, or a short run), and leaves nothing behind in the output folder. Also: write errors name the file
// and the reason, and runs killed at any moment leave no partial or temporary files.
#include "support/AviWriter.h"
#include "support/InputFixtures.h"
#include "support/TestUtil.h"

#include "input/PictureReader.h"
#include "raster/Stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

using namespace kelvara;
using namespace kelvara::test;

namespace {

using Bytes = std::vector<uint8_t>;

std::string cli(const std::string& args) {
    return shellQuoted(KELVARA_CLI_PATH) + " " + args;
}

// Files in the folder whose names a writer's temporary or partial file would have.
std::vector<std::string> debrisIn(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".kelvara.", 0) == 0 || name.find(".part") != std::string::npos)
            found.push_back(name);
    }
    return found;
}

// Makes a file with ImageMagick and changes a few of its bytes.
std::string damagedCopy(const ScratchDir& dir, const std::string& name, const std::string& convertArguments,
                        const std::function<void(Bytes&)>& damage) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(imageMagickConvert(convertArguments + " " + shellQuoted(path))) << name;
    Bytes bytes = readFile(path);
    damage(bytes);
    writeFileAtomically(path, bytes.data(), bytes.size());
    return path;
}

// A bitmap written by our own writer with run-length coding, its size then set to claim more.
std::string runLengthBitmap(const ScratchDir& dir, const std::string& name, const char* colors,
                            uint32_t width, uint32_t height) {
    const std::string source = dir.file(name + ".source.bmp");
    EXPECT_TRUE(imageMagickConvert("-size 4x2 gradient:red-blue BMP3:" + shellQuoted(source)));
    const std::string path = dir.file(name);
    ProcessResult r = runProcess(cli("write " + shellQuoted(source) + " " + shellQuoted(path) +
                                     " --format bmp --bmp-rle --colors " + colors));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Bytes bytes = readFile(path);
    EXPECT_EQ(bytes[30], std::string(colors) == "16" ? 2 : 1); // RLE4 or RLE8
    for (int k = 0; k < 4; ++k) {
        bytes[18 + k] = uint8_t(width >> (8 * k));
        bytes[22 + k] = uint8_t(height >> (8 * k));
    }
    writeFileAtomically(path, bytes.data(), bytes.size());
    return path;
}

} // namespace

TEST(CliHostileInput, EveryRunEndsInSecondsUnderOneGibibyteWithAClearAnswer) {
    ScratchDir dir;
    const std::string out = dir.file("out");
    std::filesystem::create_directory(out);

    // A video whose stream format claims 10000 x 10000 pixels for its 96 x 54 pictures.
    const std::string video = dir.file("claims.avi");
    makeCodecFixture(video, "mpeg4", 96, 54, 8, false);
    claimAviFormatSize(video, 10000, 10000);

    const std::string pattern = "-size 64x48 gradient:red-blue ";
    const std::string hugeJpeg =
        damagedCopy(dir, "huge.jpg", pattern, [](Bytes& b) { setJpegSize(b, 16384, 16384); });
    const std::string emptyJpeg =
        damagedCopy(dir, "empty.jpg", pattern, [](Bytes& b) { setJpegSize(b, 8000, 8000); });
    const std::string cutJpeg = damagedCopy(dir, "cut.jpg", pattern, [](Bytes& b) {
        b.resize(b.size() * 2 / 3);
        b.insert(b.end(), {0xFF, 0xD9});
    });
    const std::string hugePng =
        damagedCopy(dir, "huge.png", pattern, [](Bytes& b) { setPngSize(b, 16384, 16384); });
    const std::string unknownTiff = damagedCopy(dir, "unknown.tif", pattern + "-compress None",
                                                [](Bytes& b) { setTiffField(b, 259, 12345); });
    const std::string deflateTiff = damagedCopy(dir, "deflate.tif", pattern + "-compress Zip", [](Bytes& b) {
        setTiffField(b, 256, 8000);
        setTiffField(b, 257, 8000);
        setTiffField(b, 278, 8000);
    });
    const std::string faxTiff =
        damagedCopy(dir, "fax.tif", pattern + "-monochrome -compress Fax", [](Bytes& b) {
            setTiffField(b, 257, 16000);
            setTiffField(b, 278, 16000);
        });
    const std::string cutPcx =
        damagedCopy(dir, "cut.pcx", pattern + "-type Palette", [](Bytes& b) { b.resize(b.size() - 100); });
    const std::string hugeGif = damagedCopy(dir, "huge.gif", pattern, [](Bytes& b) {
        // The image descriptor's width and height.
        for (size_t at = 13; at + 10 <= b.size(); ++at)
            if (b[at] == 0x2C && b[at + 5] == 64 && b[at + 7] == 48) {
                b[at + 6] = b[at + 8] = 0x10;
                return;
            }
        ADD_FAILURE() << "no image descriptor";
    });
    const std::string rle4 = runLengthBitmap(dir, "rle4.bmp", "16", 50331648, 5);
    const std::string rle8 = runLengthBitmap(dir, "rle8.bmp", "256", 16384, 16384);

    // Videos of other kinds of trouble: two recordings joined end to end, whose timestamps start
    // again; an MP4 whose data was cut short after its sample table, through a picture; an AVI
    // copied from an MP4, with an empty chunk after every picture, the last one too.
    auto ffmpeg = [](const std::string& arguments) {
        const ProcessResult r = runProcess("ffmpeg -v error -y " + arguments);
        EXPECT_EQ(r.exitCode, 0) << r.err;
    };
    const std::string counting = "-f lavfi -i testsrc=size=64x48:rate=25 -frames:v 50 ";
    const std::string partA = dir.file("a.mpg"), partB = dir.file("b.mpg"), joined = dir.file("joined.mpg");
    ffmpeg(counting + "-c:v mpeg2video -f vob " + shellQuoted(partA));
    ffmpeg(counting + "-vf negate -c:v mpeg2video -f vob " + shellQuoted(partB));
    EXPECT_EQ(runProcess("cat " + shellQuoted(partA) + " " + shellQuoted(partB) + " > " + shellQuoted(joined))
                  .exitCode,
              0);
    const std::string whole = dir.file("whole.mp4"), cutMp4 = dir.file("cut.mp4"),
                      copied = dir.file("copied.avi");
    ffmpeg(counting + "-c:v libx264 -qp 0 -movflags +faststart " + shellQuoted(whole));
    ffmpeg("-i " + shellQuoted(whole) + " -c copy " + shellQuoted(copied));
    Bytes cutBytes = readFile(whole);
    cutBytes.resize(cutBytes.size() / 2);
    writeFileAtomically(cutMp4, cutBytes.data(), cutBytes.size());

    const std::string o = shellQuoted(out);
    const std::string gif = shellQuoted(out + "/out.gif");
    const std::string truncated = " image is truncated";
    struct Case {
        std::string arguments;
        int exitCode;
        std::string message; // on standard error (a refusal) or standard output
    };
    const Case cases[] = {
        {"gif " + shellQuoted(video) + " -o " + gif + " --frames 1-2", 0, "Size: 96 x 54 pixels  Frames: 2"},
        {"frames " + shellQuoted(video) + " --format bmp --range 1-4 --out-dir " + o + " --quiet", 0, ""},
        {"transition -o " + gif + " --source " + shellQuoted(hugeJpeg) + " --size 100x100", 1,
         PictureReaderMessages::tooLarge("JPEG", 16384, 16384)},
        {"transition -o " + gif + " --source " + shellQuoted(emptyJpeg), 1, "JPEG" + truncated},
        {"transition -o " + gif + " --source " + shellQuoted(cutJpeg), 1, "JPEG" + truncated},
        {"transition -o " + gif + " --target " + shellQuoted(hugePng), 1,
         PictureReaderMessages::tooLarge("PNG", 16384, 16384)},
        {"transition -o " + gif + " --source " + shellQuoted(unknownTiff), 1,
         "TIFF image uses a kind of picture that cannot be read"},
        {"transition -o " + gif + " --source " + shellQuoted(deflateTiff), 1, "TIFF" + truncated},
        {"transition -o " + gif + " --source " + shellQuoted(faxTiff), 1, "TIFF" + truncated},
        {"transition -o " + gif + " --source " + shellQuoted(cutPcx), 1, "PCX" + truncated},
        {"transition -o " + gif + " --source " + shellQuoted(hugeGif), 1, "GIF" + truncated},
        {"transition -o " + gif + " --source " + shellQuoted(rle4), 1,
         PictureReaderMessages::tooLarge("Bitmap", 50331648, 5)},
        {"write " + shellQuoted(rle4) + " " + shellQuoted(out + "/out.png") + " --format png", 1,
         PictureReaderMessages::tooLarge("Bitmap", 50331648, 5)},
        {"write " + shellQuoted(rle8) + " " + shellQuoted(out + "/out.bmp") + " --format bmp", 1,
         PictureReaderMessages::tooLarge("Bitmap", 16384, 16384)},
        {"transition -o " + gif + " --size 10000x10000 --quiet", 1, "needs about"},
        {"info " + shellQuoted(joined), 0, "frames: 100\nlength_ms: 4000\n"},
        {"gif " + shellQuoted(joined) + " -o " + gif, 0, "Frames: 100"},
        {"gif " + shellQuoted(cutMp4) + " -o " + gif + " --quiet", 3, "warning: the video ended at frame "},
        {"frame " + shellQuoted(copied) + " 100 -o " + shellQuoted(out + "/last.bmp"), 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        // A run that hangs is cut at 30 s, which its exit status (124) then shows.
        const ProcessResult r = runProcess("ulimit -v 1048576; exec timeout 30 " + cli(c.arguments));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (c.exitCode == 0) {
            EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        } else {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
            // A short run writes what it read; a refusal writes nothing.
            EXPECT_EQ(std::filesystem::exists(out + "/out.gif"), c.exitCode == 3);
        }
        EXPECT_TRUE(debrisIn(out).empty());
        std::filesystem::remove(out + "/out.gif");
    }
    // The frames are the pictures' size, not the claimed one.
    Bitmap frame;
    const Bytes bmp = readFile(out + "/frame1.bmp");
    frame.LoadFromMemory(bmp.data(), bmp.size());
    EXPECT_EQ(frame.Width(), 96);
    EXPECT_EQ(frame.Height(), 54);
    // The copied AVI's last frame, an empty chunk, shows the last picture.
    const Bytes last = readFile(out + "/last.bmp");
    frame.LoadFromMemory(last.data(), last.size());
    EXPECT_EQ(bgrBytes(frame), ffmpegFramesBgr(copied, 64, 48).back());
}

// A file size limit makes every write fail part way: each command says which file and why, and
// leaves no file behind.
TEST(CliHostileInput, WriteErrorsNameTheFileAndTheReason) {
    ScratchDir dir;
    const std::string video = dir.file("v.avi");
    makeCodecFixture(video, "mpeg4", 96, 54, 8, false);
    const std::string picture = dir.file("p.bmp");
    ASSERT_TRUE(imageMagickConvert("-size 64x48 gradient:red-blue BMP3:" + shellQuoted(picture)));
    const std::string out = dir.file("out");
    std::filesystem::create_directory(out);
    const std::string gif = out + "/out.gif";
    const struct {
        std::string arguments;
        std::string file;
    } cases[] = {
        {"gif " + shellQuoted(video) + " -o " + shellQuoted(gif) + " --quiet", gif},
        {"frames " + shellQuoted(video) + " --format bmp --range 1-2 --base f --out-dir " + shellQuoted(out) +
             " --quiet",
         out + "/f1.bmp"},
        {"write " + shellQuoted(picture) + " " + shellQuoted(out + "/w.tif") + " --format tif",
         out + "/w.tif"},
        {"transition -o " + shellQuoted(gif) + " --size 100x100 --quiet", gif},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        // Past the limit a write fails with "File too large" instead of ending the process.
        const ProcessResult r = runProcess("trap '' XFSZ; ulimit -f 2; exec " + cli(c.arguments));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "kelvara-cli " + c.arguments.substr(0, c.arguments.find(' ')) +
                             ": Cannot write file " + c.file + ": File too large\n");
        EXPECT_TRUE(std::filesystem::is_empty(out)) << debrisIn(out).size();
    }
}

// Runs killed at any moment leave either no file or the whole file, never a partial or
// temporary one.
TEST(CliHostileInput, KilledRunsLeaveNoDebris) {
    ScratchDir dir;
    const std::string video = dir.file("v.avi");
    makeCodecFixture(video, "mpeg4", 320, 240, 60, false);
    const std::string out = dir.file("out");
    std::filesystem::create_directory(out);
    const std::string gif = out + "/out.gif";
    const std::string command =
        cli("gif " + shellQuoted(video) + " -o " + shellQuoted(gif) + " --overwrite --quiet") + " >/dev/null";
    ProcessResult whole = runProcess(command);
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    const Bytes expected = readFile(gif);
    std::filesystem::remove(gif);
    for (int delayMs = 20; delayMs <= 400; delayMs += 20) {
        SCOPED_TRACE(delayMs);
        const ProcessResult r = runProcess(command + " & pid=$!; sleep " + std::to_string(delayMs / 1000.0) +
                                           "; kill -9 $pid 2>/dev/null; wait $pid; true");
        EXPECT_TRUE(debrisIn(out).empty());
        if (std::filesystem::exists(gif)) {
            EXPECT_EQ(readFile(gif), expected);
            std::filesystem::remove(gif);
        }
        EXPECT_TRUE(std::filesystem::is_empty(out));
    }
}
