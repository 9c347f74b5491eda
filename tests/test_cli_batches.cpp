// kelvara-cli gif and frames with several inputs: each written into the folder given with the
// same options, failures told on their own lines while the others go on, the worst status at the
// end, the same bytes however many run at once, and one Ctrl-C leaving nothing unfinished.
#include "raster/Stream.h"
#include "support/AviWriter.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

using namespace kelvara;
using namespace kelvara::test;

namespace {

ProcessResult cli(const std::string& arguments) {
    return runProcess(shellQuoted(KELVARA_CLI_PATH) + " " + arguments);
}

// A video of count frames of 24 x 18, each a picture of its own, seed telling videos apart.
std::string video(const ScratchDir& dir, const std::string& name, int count, int seed) {
    AviFixture f;
    f.width = 24;
    f.height = 18;
    for (int i = 0; i < count; ++i)
        f.frames.push_back(dibBits24(
            24, 18, [&](int x, int y) { return rgbColor((i * 9 + seed * 40) % 256, x * 10, y * 12); }));
    const std::string path = dir.file(name);
    writeAvi(path, f);
    return path;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (std::filesystem::exists(folder))
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            if (entry.is_regular_file())
                names.push_back(std::filesystem::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

} // namespace

// Each input goes to DIR/NAME.gif, as it would alone; a failing one is told on a line that names
// it, and the others are written; the status is the worst: a mistake (2), then an error (1), then
// an incomplete output (3).
TEST(CliBatch, EachInputOnItsOwnTheWorstStatusAtTheEnd) {
    ScratchDir dir;
    const std::string a = video(dir, "a.avi", 6, 1), b = video(dir, "b.avi", 9, 2);
    const std::string shortOne = video(dir, "short.avi", 3, 3);
    const std::string broken = dir.file("broken.webm");
    writeFileAtomically(broken, "not a video", 11);
    const struct {
        std::string inputs;
        std::string options;
        int status;
        std::vector<std::string> written;
        std::vector<std::string> failing; // the inputs named on a failure line
    } cases[] = {
        {a + " " + b, "--frames 2-", 0, {"a.gif", "b.gif"}, {}},
        {a + " " + broken + " " + b, "--frames 2-", 1, {"a.gif", "b.gif"}, {broken}},
        // A range outside one of them is that one's mistake.
        {a + " " + shortOne + " " + broken + " " + b,
         "--frames 5-6",
         2,
         {"a.gif", "b.gif"},
         {shortOne, broken}},
        {a + " " + b + " " + shortOne, "--frames 2-4 -j 2", 0, {"a.gif", "b.gif", "short.gif"}, {}},
        {a + " " + dir.file("missing.avi"), "-j 2", 1, {"a.gif"}, {dir.file("missing.avi")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inputs + " " + c.options);
        const std::string out = dir.file("gifs");
        std::filesystem::remove_all(out);
        const ProcessResult r = cli("gif " + c.inputs + " --out-dir " + shellQuoted(out) + " " + c.options);
        EXPECT_EQ(r.exitCode, c.status) << r.err;
        EXPECT_EQ(filesIn(out), c.written);
        // Each GIF is the one its input gives alone.
        for (const std::string& name : c.written) {
            const std::string alone = dir.file("alone.gif");
            const ProcessResult one =
                cli("gif " + dir.file(name.substr(0, name.size() - 4) + ".avi") + " -y -q -o " + alone + " " +
                    c.options.substr(0, c.options.find(" -j")));
            ASSERT_EQ(one.exitCode, 0) << one.err;
            EXPECT_EQ(readFile(out + "/" + name), readFile(alone)) << name;
        }
        const std::vector<std::string> said = lines(r.err);
        for (const std::string& line : said)
            EXPECT_EQ(line.rfind("kelvara-cli gif: ", 0), 0u) << line;
        for (const std::string& input : c.failing)
            EXPECT_EQ(std::count_if(said.begin(), said.end(),
                                    [&](const std::string& line) {
                                        return line.rfind("kelvara-cli gif: " + input + ": ", 0) == 0;
                                    }),
                      1)
                << input << "\n"
                << r.err;
        for (const std::string& name : c.written)
            EXPECT_NE(r.out.find("wrote " + out + "/" + name + ": "), std::string::npos) << r.out;
    }
}

// Three at once give the bytes one at a time gives; frames writes a folder per video.
TEST(CliBatch, JobsAtOnceGiveTheSameBytes) {
    ScratchDir dir;
    std::string inputs;
    for (int k = 0; k < 4; ++k)
        inputs += " " + video(dir, "v" + std::to_string(k) + ".avi", 20 + k * 7, k);
    for (const std::string options :
         {"--quality high --width 40", "--optimize --bounce", "--backward --fps 7"}) {
        SCOPED_TRACE(options);
        std::filesystem::remove_all(dir.file("one"));
        std::filesystem::remove_all(dir.file("three"));
        ProcessResult r = cli("gif" + inputs + " -q -j 1 --out-dir " + dir.file("one") + " " + options);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        r = cli("gif" + inputs + " -q -j3 -o " + dir.file("three/") + " " + options);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<std::string> names = filesIn(dir.file("one"));
        EXPECT_EQ(names, (std::vector<std::string>{"v0.gif", "v1.gif", "v2.gif", "v3.gif"}));
        EXPECT_EQ(filesIn(dir.file("three")), names);
        for (const std::string& name : names)
            EXPECT_EQ(readFile(dir.file("one/" + name)), readFile(dir.file("three/" + name))) << name;
    }
    const ProcessResult r =
        cli("frames" + inputs + " --format png --frames 1-2 -q -j 2 --out-dir " + dir.file("stills"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(filesIn(dir.file("stills")),
              (std::vector<std::string>{"v0/frame1.png", "v0/frame2.png", "v1/frame1.png", "v1/frame2.png",
                                        "v2/frame1.png", "v2/frame2.png", "v3/frame1.png", "v3/frame2.png"}));
}

// Outputs that cannot be told apart are refused before any work.
TEST(CliBatch, RefusalsBeforeAnyWork) {
    ScratchDir dir;
    const std::string a = video(dir, "a.avi", 3, 1);
    std::filesystem::create_directory(dir.file("x"));
    const std::string other = video(dir, "x/a.avi", 3, 2);
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"gif " + a + " " + other + " -o " + dir.file("out.gif"),
         "-o names one file, and there are 2 inputs: give a folder with --out-dir DIR (or -o DIR/)"},
        {"gif " + a + " " + other + " --out-dir " + dir.file("gifs"),
         "'" + a + "' and '" + other + "' would both be written as " + dir.file("gifs") + "/a.gif"},
        {"gif " + a + " - --out-dir " + dir.file("gifs"), "standard input (-) has no name"},
        {"gif " + a + " -o " + dir.file("o.gif") + " --out-dir " + dir.file("gifs"), "give -o or --out-dir"},
        {"gif " + a + " " + other + " -j 0 --out-dir " + dir.file("gifs"),
         "-j must be a whole number in 1..16"},
        {"frames " + a + " " + other + " --format png --out-dir " + dir.file("gifs"),
         "would both be written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ProcessResult r = cli(c.arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("gifs")));
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.gif")));
    }
}

// One Ctrl-C while two conversions write stops both and leaves no file behind.
TEST(CliBatch, InterruptedJobsLeaveNothing) {
    ScratchDir dir;
    const std::string a = dir.file("a.avi"), b = dir.file("b.avi");
    makeCodecFixture(a, "mpeg4", 64, 48, 300, false);
    std::filesystem::copy_file(a, b);
    const std::string out = dir.file("gifs");
    std::filesystem::create_directory(out);
    // With job control a background job keeps SIGINT, as a program run from a terminal does. The
    // signal comes once both outputs are open in the folder (unnamed or under a temporary name;
    // at most 10 s of waiting for them).
    const std::string openInFolder =
        "$(ls -l /proc/$pid/fd 2>/dev/null | grep -cF " + shellQuoted(" -> " + out + "/") + ")";
    const std::string script = "set -m; " + shellQuoted(KELVARA_CLI_PATH) + " gif " + shellQuoted(a) + " " +
                               shellQuoted(b) + " --size 1600x1200 -q -j 2 --out-dir " + shellQuoted(out) +
                               " & pid=$!; for i in $(seq 200); do [ " + openInFolder +
                               " -ge 2 ] && break; sleep 0.05; done; echo " + openInFolder +
                               "; kill -INT $pid; wait $pid; echo $?";
    const ProcessResult r = runProcess("bash -c " + shellQuoted(script));
    EXPECT_EQ(r.out, "2\n130\n") << r.err;
    EXPECT_EQ(filesIn(out), std::vector<std::string>{});
}
