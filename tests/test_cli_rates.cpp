// kelvara-cli gif with a frame rate and a bounce: the pictures a rate picks checked against
// ffprobe's timestamps, the delays of the ticks they stand for, and a GIF that plays forward and
// back; outputs named as formats gif does not write are refused.
#include "convert/GifDelays.h"
#include "raster/Stream.h"
#include "support/GifDecode.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <filesystem>
#include <sstream>

using namespace kelvara;
using namespace kelvara::test;

namespace {

ProcessResult cli(const std::string& arguments) {
    return runProcess(shellQuoted(KELVARA_CLI_PATH) + " " + arguments);
}

// Picture N of the fixtures is one solid colour of its own.
std::array<int, 3> colourOf(int n) {
    return {n * 7 % 256, n * 53 % 256, n * 101 % 256};
}
const char* const SolidColours = "format=rgb24,geq=r='mod(N*7,256)':g='mod(N*53,256)':b='mod(N*101,256)'";

// Two clips of 16 x 16 solid pictures: cfr.mp4, 60 pictures at 29.97 a second (H.264, lossless),
// and vfr.mkv, 50 pictures at uneven times (FFV1): 40 ms apart with every third picture 13 ms
// late, growing 25 ms longer each from the 21st on.
std::string fixtures() {
    return cachedFixtureDir("cli-rates-1", [](const std::string& dir) {
        const std::string source = "-v error -y -f lavfi -i \"color=black:size=16x16:";
        const ProcessResult cfr =
            runProcess("ffmpeg " + source + "rate=30000/1001:duration=2," + SolidColours +
                       "\" -c:v libx264 -qp 0 -pix_fmt yuv444p " + shellQuoted(dir + "/cfr.mp4"));
        const ProcessResult vfr = runProcess(
            "ffmpeg " + source + "rate=25:duration=2," + SolidColours +
            ",settb=1/1000,setpts='N*40+if(eq(mod(N,3),1),13,0)+if(gte(N,20),(N-20)*25,0)'\" -fps_mode vfr "
            "-enc_time_base:v 1:1000 -c:v ffv1 " +
            shellQuoted(dir + "/vfr.mkv"));
        return cfr.exitCode == 0 && vfr.exitCode == 0;
    });
}

// When each picture starts, in microseconds from the first, as ffprobe tells.
std::vector<int64_t> ffprobeStarts(const std::string& video) {
    const ProcessResult r = runProcess("ffprobe -v error -select_streams v -show_entries "
                                       "frame=best_effort_timestamp_time -of csv=p=0 " +
                                       shellQuoted(video));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<int64_t> starts;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            starts.push_back(std::llround(std::stod(line) * 1e6));
    for (int64_t& s : starts)
        s -= starts.empty() ? 0 : starts.front();
    return starts;
}

struct Shown {
    std::vector<int> pictures; // the 0-based picture each GIF frame shows, as its colour tells
    std::vector<int> delays;
};

// What the GIF shows: each frame drawn over the ones before (transparent pixels show them), the
// picture whose colour is nearest the top-left pixel.
Shown shownPictures(const std::string& gif) {
    Shown shown;
    std::array<int, 3> canvas{};
    for (const GiflibFrame& f : decodeWithGiflib(readFile(gif)).frames) {
        if (f.left == 0 && f.top == 0 && f.width > 0) {
            const int index = f.indices[0];
            if (index != f.transparentIndex)
                canvas = {f.colors[size_t(index)][0], f.colors[size_t(index)][1], f.colors[size_t(index)][2]};
        }
        int best = 0, bestDistance = INT32_MAX;
        for (int n = 0; n < 256; ++n) {
            const std::array<int, 3> c = colourOf(n);
            const int d =
                std::abs(c[0] - canvas[0]) + std::abs(c[1] - canvas[1]) + std::abs(c[2] - canvas[2]);
            if (d < bestDistance) {
                best = n;
                bestDistance = d;
            }
        }
        EXPECT_LE(bestDistance, 12) << "frame " << shown.pictures.size();
        shown.pictures.push_back(best);
        shown.delays.push_back(f.delay);
    }
    return shown;
}

} // namespace

// For each time k/R from the start of the range, the picture on display then, once however many
// ticks it shows; each lasting its ticks, to within a hundredth all along. The expected pictures
// come from ffprobe's timestamps; the ranges end before the last picture, whose end only the
// container tells.
TEST(CliRates, FpsTakesThePictureOnDisplayAtEachTick) {
    const std::string dir = fixtures();
    ASSERT_FALSE(dir.empty());
    ScratchDir scratch;
    const struct {
        std::string video;
        std::string options; // -q is added but for the size fit, which tells what it chose
        int first, last;     // the range, 0-based pictures
        double rate;
    } cases[] = {
        {"cfr.mp4", "--fps 10 --frames 1-59", 0, 58, 10},
        {"cfr.mp4", "--fps 12.5 --frames 7-40", 6, 39, 12.5},
        {"vfr.mkv", "--fps 10 --frames -49", 0, 48, 10},
        {"vfr.mkv", "--fps 7 --frames 10-45 --quality high", 9, 44, 7},
        // A time range: the pictures that start within it (-1: found from the timestamps), the
        // ticks from the first of them.
        {"vfr.mkv", "--fps 24 --time 0.5-1.5", -1, -1, 24},
        // Held in memory, and stored as changes; backward the same frames and times in reverse.
        {"vfr.mkv", "--fps 10 --frames 2-40 --optimize", 1, 39, 10},
        {"vfr.mkv", "--fps 10 --frames 2-40 --backward", 1, 39, 10},
        // A rate above the video's: each picture once, lasting the ticks it stands for.
        {"vfr.mkv", "--fps 40 --frames 20-30", 19, 29, 40},
        // Fitting under a size takes fewer frames only by dividing the rate (0: the rate it tells).
        {"cfr.mp4", "--fps 10 --frames 1-59 --max-size 9K", 0, 58, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.video + " " + c.options);
        const std::string video = dir + "/" + c.video;
        const std::vector<int64_t> starts = ffprobeStarts(video);
        int first = c.first, last = c.last;
        if (first < 0) {
            first = int(std::lower_bound(starts.begin(), starts.end(), 500'000) - starts.begin());
            last = int(std::upper_bound(starts.begin(), starts.end(), 1'500'000) - starts.begin()) - 1;
        }
        ASSERT_GT(starts.size(), size_t(last + 1));
        const std::string out = scratch.file("out.gif");
        const ProcessResult r = cli("gif " + shellQuoted(video) + " -o " + shellQuoted(out) + " -y " +
                                    (c.rate == 0 ? "" : "-q ") + c.options);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        double rate = c.rate;
        if (rate == 0) {
            // The rate the size fit chose, as it tells: the one typed divided by a whole number.
            const size_t at = r.err.find(" fps, ");
            ASSERT_NE(at, std::string::npos) << r.err;
            rate = std::stod(r.err.substr(r.err.rfind(", ", at) + 2));
            EXPECT_LT(rate, 10);
            EXPECT_NEAR(10 / rate, std::round(10 / rate), 0.01) << r.err;
            rate = 10 / std::round(10 / rate);
        }
        std::vector<int> pictures, ticks;
        const int64_t start = starts[size_t(first)], end = starts[size_t(last + 1)];
        for (int k = 0;; ++k) {
            const int64_t t = start + std::llround(k * 1e6 / rate);
            if (t >= end)
                break;
            const int shown = int(std::upper_bound(starts.begin(), starts.end(), t) - starts.begin()) - 1;
            if (!pictures.empty() && pictures.back() == shown) {
                ++ticks.back();
            } else {
                pictures.push_back(shown);
                ticks.push_back(1);
            }
        }
        if (c.options.find("--backward") != std::string::npos) {
            std::reverse(pictures.begin(), pictures.end());
            std::reverse(ticks.begin(), ticks.end());
        }
        const Shown shown = shownPictures(out);
        EXPECT_EQ(shown.pictures, pictures);
        ASSERT_EQ(shown.delays.size(), ticks.size());
        double wanted = 0;
        int given = 0;
        for (size_t i = 0; i < ticks.size(); ++i) {
            wanted += ticks[i] * 100 / rate;
            given += shown.delays[i];
            EXPECT_LE(std::abs(given - wanted), 1.0) << "frame " << i;
        }
    }
}

// A bounce plays 1..n, then n-1..2, each frame as long as its picture shows the first time, the
// rounding carried throughout; backward it starts from the last. Streamed, in memory (--optimize)
// and with --speed.
TEST(CliRates, BounceGoesForwardThenBack) {
    const std::string dir = fixtures();
    ASSERT_FALSE(dir.empty());
    ScratchDir scratch;
    const std::string video = dir + "/vfr.mkv";
    const std::vector<int64_t> starts = ffprobeStarts(video);
    ASSERT_GE(starts.size(), 10u);
    auto spanOf = [&](int n) { return starts[size_t(n + 1)] - starts[size_t(n)]; };
    const struct {
        std::string options;
        std::vector<int> pictures;
        double speed;
    } cases[] = {
        {"--frames 2-7 --bounce", {1, 2, 3, 4, 5, 6, 5, 4, 3, 2}, 1},
        {"--frames 2-7 --bounce --optimize", {1, 2, 3, 4, 5, 6, 5, 4, 3, 2}, 1},
        {"--frames 2-7 --bounce --backward", {6, 5, 4, 3, 2, 1, 2, 3, 4, 5}, 1},
        {"--frames 2-7 --bounce --backward --optimize", {6, 5, 4, 3, 2, 1, 2, 3, 4, 5}, 1},
        {"--frames 1-9 --step 4 --bounce", {0, 4, 8, 4}, 1},
        {"--frames 1-2 --bounce", {0, 1}, 1},
        {"--frames 2-7 --bounce --speed 0.5", {1, 2, 3, 4, 5, 6, 5, 4, 3, 2}, 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string out = scratch.file("out.gif");
        const ProcessResult r =
            cli("gif " + shellQuoted(video) + " -o " + shellQuoted(out) + " -y -q " + c.options);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Shown shown = shownPictures(out);
        EXPECT_EQ(shown.pictures, c.pictures);
        // Each picture lasts until the next one taken in reading order (--step 4 takes 0, 4, 8).
        const int step = c.options.find("--step 4") != std::string::npos ? 4 : 1;
        std::vector<int64_t> durations;
        for (int p : c.pictures) {
            int64_t span = 0;
            for (int k = p; k < p + step && k <= 8; ++k)
                span += spanOf(k);
            durations.push_back(span);
        }
        std::vector<int> expected;
        // --speed 0.5 doubles the delays chosen.
        for (uint16_t d : gifDelaysForDurations(durations))
            expected.push_back(int(std::lround(d / c.speed)));
        EXPECT_EQ(shown.delays, expected);
    }
}

TEST(CliRates, RefusalsBeforeAnyWork) {
    const std::string dir = fixtures();
    ASSERT_FALSE(dir.empty());
    ScratchDir scratch;
    const std::string video = shellQuoted(dir + "/cfr.mp4");
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"--fps 10 --step 2 -o " + scratch.file("a.gif"), "--fps and --step exclude each other"},
        {"--fps 0 -o " + scratch.file("a.gif"), "--fps must be a number in 0.01..50, not '0'"},
        {"-o " + scratch.file("a.webp"),
         "'" + scratch.file("a.webp") + "': .webp is not a format the gif command writes; it writes .gif"},
        {"-o " + scratch.file("a.mp4"), ".mp4 is not a format the gif command writes"},
        {"-o " + scratch.file("a.png"), "is named as a png file: the gif command writes GIF files"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ProcessResult r = cli("gif " + video + " " + c.arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(std::filesystem::is_empty(scratch.path()));
    // A name without an extension, and standard output, are written as before.
    const ProcessResult plain =
        cli("gif " + video + " --frames 1-2 -q -o " + shellQuoted(scratch.file("clip")));
    EXPECT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(readFile(scratch.file("clip")).at(0), 'G');
    const ProcessResult piped = cli("gif " + video + " --frames 1-2 -q -o - | head -c 6");
    EXPECT_EQ(piped.out, "GIF89a");
}
