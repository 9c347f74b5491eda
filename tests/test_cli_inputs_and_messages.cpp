// kelvara-cli as users of ffmpeg and gifski use it: videos piped in, open and clamped ranges,
// GIFs that play once or faster, and messages that all begin with the program's name.
#include "raster/Stream.h"
#include "support/GifDecode.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>
#include <sstream>

using namespace kelvara;
using namespace kelvara::test;

namespace {

ProcessResult cli(const std::string& arguments) {
    return runProcess(shellQuoted(KELVARA_CLI_PATH) + " " + arguments);
}

// A clip of ffmpeg's test source: 30 pictures at 25 a second, 64 x 48.
std::string clip(const ScratchDir& dir, const std::string& name) {
    const std::string path = dir.file(name);
    const ProcessResult r =
        runProcess("ffmpeg -loglevel error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 30 "
                   "-pix_fmt yuv420p -y " +
                   shellQuoted(path));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return path;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

int total(const std::vector<int>& delays) {
    return std::accumulate(delays.begin(), delays.end(), 0);
}

} // namespace

// "-" and a FIFO are read through a temporary copy: the same GIF as from the file, and nothing
// left in the temporary folder.
TEST(CliPipedInput, StandardInputAndFifosGiveTheSameGif) {
    ScratchDir dir;
    const std::string tmp = dir.file("tmp");
    std::filesystem::create_directory(tmp);
    for (const char* name : {"c.mp4", "c.mkv"}) {
        SCOPED_TRACE(name);
        const std::string video = clip(dir, name);
        const std::string direct = dir.file("direct.gif");
        ProcessResult r = cli("gif " + shellQuoted(video) + " --frames 5- -q -y -o " + shellQuoted(direct));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string env = "TMPDIR=" + shellQuoted(tmp) + " ";
        const std::string viaDash = dir.file("dash.gif");
        r = runProcess("cat " + shellQuoted(video) + " | " + env + shellQuoted(KELVARA_CLI_PATH) +
                       " gif - --frames 5- -q -y -o " + shellQuoted(viaDash));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFile(viaDash), readFile(direct));
        const std::string fifo = dir.file("fifo");
        std::filesystem::remove(fifo);
        ASSERT_EQ(runProcess("mkfifo " + shellQuoted(fifo)).exitCode, 0);
        const std::string viaFifo = dir.file("fifo.gif");
        r = runProcess("cat " + shellQuoted(video) + " > " + shellQuoted(fifo) + " & " + env +
                       shellQuoted(KELVARA_CLI_PATH) + " gif " + shellQuoted(fifo) +
                       " --frames 5- -q -y -o " + shellQuoted(viaFifo) + "; wait");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFile(viaFifo), readFile(direct));
        EXPECT_TRUE(std::filesystem::is_empty(tmp));
    }
    // Nothing piped in that is a video: the error names standard input; no copy is left.
    const ProcessResult r =
        runProcess("echo nonsense | TMPDIR=" + shellQuoted(tmp) + " " + shellQuoted(KELVARA_CLI_PATH) +
                   " frame - 1 -o " + shellQuoted(dir.file("x.png")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("kelvara-cli frame: standard input: Failed to open video file", 0), 0u) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

// Open ranges run to the end or from the start; an end past the video is cut with one line; the
// bound is printed as the video's length with its fraction.
TEST(CliRanges, OpenAndClampedRanges) {
    ScratchDir dir;
    const std::string video = shellQuoted(clip(dir, "c.mp4")); // 30 pictures, 1.2 s
    const struct {
        std::string range;
        int exitCode;
        int frames;       // in the GIF
        std::string said; // on standard error
    } cases[] = {
        {"--frames 21-", 0, 10, ""},
        {"--frames -4", 0, 4, ""},
        {"--frames 25-99", 0, 6,
         "kelvara-cli gif: --frames 25-99: the video ends at frame 30; taking frames 25..30\n"},
        {"--time 1-", 0, 5, ""},
        {"--time -0.2", 0, 6, ""},
        {"--time 1-9", 0, 5, "kelvara-cli gif: --time 1-9: the video ends at second 1.2; taking 1..1.2\n"},
        {"--time 2-", 2, 0, "kelvara-cli gif: --time: second 2 is outside 0..1.2\n"},
        {"--frames 31-40", 2, 0, "kelvara-cli gif: --frames: frame 31 is outside 1..30\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range);
        const std::string out = dir.file("r.gif");
        std::filesystem::remove(out);
        const ProcessResult r = cli("gif " + video + " -q " + c.range + " -o " + shellQuoted(out));
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.out, "");
        if (c.exitCode == 0) {
            EXPECT_EQ(r.err, c.said);
            EXPECT_EQ(static_cast<int>(decodeWithGiflib(readFile(out)).frames.size()), c.frames);
        } else {
            EXPECT_EQ(r.err.rfind(c.said, 0), 0u) << r.err;
            EXPECT_FALSE(std::filesystem::exists(out));
        }
    }
}

// --no-loop drops the looping block; --speed divides every delay, the rounding carried so that
// the GIF's length is the video's divided by the speed.
TEST(CliGifPlayback, NoLoopAndSpeed) {
    ScratchDir dir;
    const std::string video = shellQuoted(clip(dir, "c.mp4"));
    const std::string plain = dir.file("plain.gif");
    ASSERT_EQ(cli("gif " + video + " -q -o " + shellQuoted(plain)).exitCode, 0);
    const GiflibImage reference = decodeWithGiflib(readFile(plain));
    std::vector<int> delays;
    for (const auto& f : reference.frames)
        delays.push_back(f.delay);
    EXPECT_EQ(total(delays), 120);
    EXPECT_EQ(reference.loopCount, 0);
    const struct {
        std::string options;
        int loopCount;
        int length; // hundredths
    } cases[] = {
        {"--no-loop", -1, 120},
        {"--speed 2", 0, 60},
        {"--speed 0.5 --loop 3", 3, 240},
        {"--speed 1.2 --no-loop --optimize", -1, 100},
        {"--speed 1.5 --max-size 1M", 0, 80},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string out = dir.file("s.gif");
        const ProcessResult r = cli("gif " + video + " -q -y " + c.options + " -o " + shellQuoted(out));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const GiflibImage gif = decodeWithGiflib(readFile(out));
        EXPECT_EQ(gif.loopCount, c.loopCount);
        std::vector<int> got;
        for (const auto& f : gif.frames)
            got.push_back(f.delay);
        EXPECT_NEAR(total(got), c.length, 1);
        for (int d : got)
            EXPECT_GE(d, 2);
    }
}

// Every line on standard error begins with the program's name and the command; a refusal of a
// file names it; --quiet prints nothing on success; the summaries have one form.
TEST(CliMessages, OneVoiceForEveryLine) {
    ScratchDir dir;
    const std::string video = clip(dir, "c.mp4");
    const std::string v = shellQuoted(video);
    writeFileAtomically(dir.file("exists.gif"), "x", 1);
    writeFileAtomically(dir.file("bad.png"), "not a png", 9);
    const struct {
        std::string arguments;
        int exitCode;
        std::string names; // a text the first message must hold, or empty
    } cases[] = {
        {"gif " + v + " -o " + shellQuoted(dir.file("exists.gif")), 1, dir.file("exists.gif")},
        {"gif " + shellQuoted(dir.file("none.mp4")) + " -o " + shellQuoted(dir.file("n.gif")), 1,
         dir.file("none.mp4")},
        {"animate -o " + shellQuoted(dir.file("a.gif")) + " " + shellQuoted(dir.file("bad.png")), 1,
         dir.file("bad.png")},
        {"frame " + v + " 3 -o " + shellQuoted(dir.file("f10.webp")), 2, ".webp is not a format"},
        {"gif " + v + " --frames 9-3 -o " + shellQuoted(dir.file("g.gif")), 2, ""},
        {"gif " + v + " --frames 29-40 -o " + shellQuoted(dir.file("g.gif")), 0, ""},
        {"frames " + v + " --format png --frames -3 --out-dir " + shellQuoted(dir.file("fr")), 0, ""},
        {"transition --steps 2 -o " + shellQuoted(dir.file("t.gif")), 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ProcessResult r = cli(c.arguments);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        const std::string command = c.arguments.substr(0, c.arguments.find(' '));
        for (const std::string& line : lines(r.err + r.out))
            EXPECT_EQ(line.rfind("kelvara-cli " + command + ": ", 0), 0u) << line;
        // The first line is the error, naming the file.
        EXPECT_NE(r.err.substr(0, r.err.find('\n')).find(c.names), std::string::npos) << r.err;
        if (c.exitCode == 0) {
            // One summary: "wrote FILE: Size: W x H pixels  Frames: N"; none with --quiet.
            EXPECT_EQ(lines(r.out).size(), 1u) << r.out;
            EXPECT_NE(r.out.find(": wrote "), std::string::npos) << r.out;
            EXPECT_NE(r.out.find(" pixels  Frames: "), std::string::npos) << r.out;
            const ProcessResult quiet = cli(c.arguments + " -y -q");
            EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
            EXPECT_EQ(quiet.out, "");
            EXPECT_EQ(quiet.err.find("wrote"), std::string::npos) << quiet.err;
        }
    }
}

// Ctrl-C during a run on a terminal clears the bar, says so on a line of its own and leaves no
// file; the status is 130.
TEST(CliProgress, InterruptedBarIsEndedAndNothingIsLeft) {
    ScratchDir dir;
    const std::string video = dir.file("long.mp4");
    ASSERT_EQ(runProcess("ffmpeg -loglevel error -f lavfi -i testsrc=size=640x480:rate=25 -frames:v 1500 "
                         "-pix_fmt yuv420p -y " +
                         shellQuoted(video))
                  .exitCode,
              0);
    const std::string out = dir.file("out");
    std::filesystem::create_directory(out);
    const std::string command = std::string(KELVARA_CLI_PATH) + " gif " + shellQuoted(video) +
                                " --quality high -o " + shellQuoted(out + "/o.gif");
    // script gives the command a terminal; SIGINT reaches it after a second, mid-run.
    const ProcessResult r = runProcess("script -qec " + shellQuoted("timeout -s INT 1 " + command) +
                                       " /dev/null; echo status=$?");
    EXPECT_NE(r.out.find("\r\x1b[Kkelvara-cli gif: interrupted"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::is_empty(out));
}
