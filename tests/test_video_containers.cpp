// Tests of the frame source on containers other than AVI, on fixtures ffmpeg makes: frame counts,
// pictures and timestamps against ffmpeg's own decoding, random access, variable frame rates,
// time ranges of the GIF job, and damaged files.
#include "convert/AviToGif.h"
#include "gif/GifDocument.h"
#include "raster/Stream.h"
#include "support/TestUtil.h"
#include "video/FrameSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <random>
#include <sstream>

using namespace kelvara;
using namespace kelvara::test;

namespace {

// Makes a video of ffmpeg's moving test pattern with the given output options.
void makeVideo(const std::string& path, const std::string& size, int frames, const std::string& options,
               const std::string& filters = {}) {
    std::ostringstream cmd;
    cmd << "ffmpeg -v error -y -f lavfi -i testsrc2=size=" << size << ":rate=25";
    if (!filters.empty())
        cmd << " -vf " << shellQuoted(filters);
    cmd << " -frames:v " << frames << " " << options << " " << shellQuoted(path);
    ProcessResult r = runProcess(cmd.str());
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

// The number of pictures ffmpeg decodes from the first video stream.
int64_t ffprobeFrameCount(const std::string& path) {
    ProcessResult r = runProcess("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                 "stream=nb_read_frames -of csv=p=0 " +
                                 shellQuoted(path));
    return std::atoll(r.out.c_str());
}

// The display time of each picture ffmpeg decodes, in microseconds; Unknown where it has none
// (the last picture of an MPEG program stream, whose packet names no time).
constexpr int64_t Unknown = INT64_MIN;
std::vector<int64_t> ffprobeFrameTimesUs(const std::string& path) {
    ProcessResult r = runProcess("ffprobe -v error -select_streams v:0 -show_entries "
                                 "frame=best_effort_timestamp_time -of csv=p=0 " +
                                 shellQuoted(path));
    std::vector<int64_t> times;
    std::istringstream in(r.out);
    std::string line;
    // One line per picture, its time first; some containers add lines of side data.
    while (std::getline(in, line)) {
        if (line.rfind("N/A", 0) == 0)
            times.push_back(Unknown);
        else if (!line.empty() && (std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '-'))
            times.push_back(std::llround(std::stod(line.substr(0, line.find(','))) * 1e6));
    }
    return times;
}

// The largest difference of one channel between two pictures of the same size.
int maxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size())
        return 256;
    int most = 0;
    for (size_t i = 0; i < a.size(); ++i)
        most = std::max(most, std::abs(int(a[i]) - int(b[i])));
    return most;
}

struct ContainerCase {
    const char* name;
    const char* extension;
    const char* options; // ffmpeg's output options
    int width = 64;
    int height = 48;
    int frames = 30;
    // The largest channel difference allowed against ffmpeg's conversion to RGB: none for RGB
    // codecs; YUV pictures are converted by the same converter, so they match too, but a
    // difference of one step is allowed for rounding in the converter's faster paths.
    int tolerance = 0;
    const char* filters = "";
    const char* source = nullptr; // the pattern's size, when the filters crop it
};

void PrintTo(const ContainerCase& c, std::ostream* out) {
    *out << c.name;
}

class Container : public ::testing::TestWithParam<ContainerCase> {};

} // namespace

// Every picture at its position, read in order and out of order, equals ffmpeg's decoding, and
// the count is ffprobe's.
TEST_P(Container, PicturesEqualFfmpegDecoding) {
    const ContainerCase c = GetParam();
    ScratchDir dir;
    const std::string path = dir.file(std::string("clip.") + c.extension);
    makeVideo(path, c.source ? c.source : std::to_string(c.width) + "x" + std::to_string(c.height), c.frames,
              c.options, c.filters);
    FrameReader reader;
    reader.open(path);
    const VideoFacts facts = reader.facts();
    const int64_t n = ffprobeFrameCount(path);
    ASSERT_GT(n, 0);
    EXPECT_EQ(facts.frameCount, n);
    EXPECT_EQ(facts.width, c.width);
    EXPECT_EQ(facts.height, c.height);
    EXPECT_FALSE(reader.isAvi());
    EXPECT_FALSE(facts.container.empty());
    EXPECT_NE(facts.container, "avi");
    const auto expected = ffmpegFramesBgr(path, c.width, c.height);
    ASSERT_EQ(int64_t(expected.size()), n);

    // The positions' times are the pictures' own.
    const FrameTimes* times = reader.frameTimes();
    ASSERT_NE(times, nullptr);
    const std::vector<int64_t> probed = ffprobeFrameTimesUs(path);
    ASSERT_EQ(times->startUs.size(), probed.size());
    for (size_t i = 0; i < probed.size(); ++i) {
        if (probed[i] != Unknown) {
            EXPECT_EQ(times->startUs[i], probed[i]) << "position " << i;
        }
    }
    EXPECT_LE(std::count(probed.begin(), probed.end(), Unknown), 1);
    EXPECT_GT(times->endUs, times->startUs.back());

    // Random access first: the first, second, middle and last pictures, then from the end back.
    std::vector<int64_t> order = {0, 1, n / 2, n - 1};
    for (int64_t i = n - 1; i >= 0; i -= 7)
        order.push_back(i);
    std::vector<int64_t> shuffled(static_cast<size_t>(n));
    std::iota(shuffled.begin(), shuffled.end(), 0);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
    order.insert(order.end(), shuffled.begin(), shuffled.begin() + std::min<int64_t>(n, 10));
    for (int64_t i : order) {
        Bitmap* b = reader.frame(i);
        ASSERT_NE(b, nullptr) << "position " << i;
        EXPECT_LE(maxDifference(bgrBytes(*b), expected[size_t(i)]), c.tolerance) << "position " << i;
    }
    // Then every picture in order, on a fresh reader and on this one.
    FrameReader fresh;
    fresh.open(path);
    for (int64_t i = 0; i < n; ++i) {
        Bitmap* b = fresh.frame(i);
        ASSERT_NE(b, nullptr) << "position " << i;
        ASSERT_LE(maxDifference(bgrBytes(*b), expected[size_t(i)]), c.tolerance) << "position " << i;
        Bitmap* again = reader.frame(i);
        ASSERT_NE(again, nullptr) << "position " << i;
        ASSERT_EQ(bgrBytes(*again), bgrBytes(*fresh.frame(i))) << "position " << i;
    }
    EXPECT_EQ(reader.frame(n), nullptr);
    EXPECT_EQ(reader.frame(-1), nullptr);
    EXPECT_TRUE(reader.read(n).error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Containers, Container,
    ::testing::Values(
        // H.264 with B-frames: pictures come out of the decoder in another order than the packets.
        ContainerCase{"h264_mp4", "mp4", "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p", 64, 48, 40, 1},
        ContainerCase{"h264_mov", "mov", "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p", 64, 48, 40, 1},
        ContainerCase{"vp9_webm", "webm", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -g 10", 64, 48, 30,
                      1},
        ContainerCase{"vp8_webm", "webm", "-c:v libvpx -deadline realtime -cpu-used 8 -g 10", 64, 48, 30, 1},
        ContainerCase{"mpeg2_ts", "ts", "-c:v mpeg2video -bf 2 -g 9", 64, 48, 30, 1},
        ContainerCase{"mpeg1_mpg", "mpg", "-c:v mpeg1video -bf 1 -g 6 -f vob", 64, 48, 30, 1},
        ContainerCase{"flv1_flv", "flv", "-c:v flv1 -g 8", 64, 48, 30, 1},
        ContainerCase{"theora_ogv", "ogv", "-c:v libtheora -g 8", 64, 48, 30, 1},
        ContainerCase{"wmv2_wmv", "wmv", "-c:v wmv2 -g 8", 64, 48, 30, 1},
        // Odd sizes: the converter's tail, and a picture that is not a whole number of blocks.
        ContainerCase{"h264_odd_mkv", "mkv", "-c:v libx264 -bf 3 -g 15 -pix_fmt yuv420p", 70, 46, 30, 1},
        // RGB codecs give the very pixels.
        ContainerCase{"qtrle_mov", "mov", "-c:v qtrle", 33, 17, 12, 0, "format=rgb24,crop=33:17:5:7",
                      "64x48"},
        ContainerCase{"ffv1_rgb_mkv", "mkv", "-c:v ffv1", 31, 9, 12, 0, "format=bgr0,crop=31:9:3:3", "64x48"},
        // Open groups of pictures: key frames that are no IDR pictures, with B-frames before them in
        // display order that refer back to the group before.
        ContainerCase{"h264_open_gop_mkv", "mkv",
                      "-c:v libx264 -bf 3 -x264-params open-gop=1:keyint=9:min-keyint=9", 64, 48, 40, 1},
        ContainerCase{"h264_open_gop_mp4", "mp4",
                      "-c:v libx264 -bf 3 -x264-params open-gop=1:keyint=9:min-keyint=9", 64, 48, 40, 1},
        // Variable frame rate: timestamps that jitter and then spread out.
        ContainerCase{"h264_vfr_mkv", "mkv", "-vsync vfr -enc_time_base:v 1:1000 -c:v libx264 -bf 2 -g 10",
                      64, 48, 40, 1,
                      "settb=1/1000,setpts='N*40+if(eq(mod(N,3),1),13,0)+if(gte(N,20),(N-20)*25,0)'"},
        // Tagged BT.709 and full range: converted by the picture's own matrix, as ffmpeg does.
        ContainerCase{
            "h264_bt709_mp4", "mp4",
            "-c:v libx264 -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709", 64, 48,
            20, 1},
        ContainerCase{"mjpeg_full_range_mkv", "mkv", "-c:v mjpeg -pix_fmt yuvj420p", 48, 32, 10, 1}),
    [](const ::testing::TestParamInfo<ContainerCase>& info) { return std::string(info.param.name); });
