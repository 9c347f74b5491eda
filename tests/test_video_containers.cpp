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
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

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

// Every picture at its position, read in order and out of order, equals ffmpeg's decoding, and
// the count is ffprobe's. The positions' times are the pictures' own as ffprobe gives them, or,
// in recordings joined end to end whose timestamps start again, run on from part to part.
enum class Times { Own, RunOn };
void expectPicturesEqualFfmpeg(const std::string& path, int width, int height, int tolerance,
                               Times timesAre = Times::Own) {
    FrameReader reader;
    reader.open(path);
    const VideoFacts facts = reader.facts();
    const int64_t n = ffprobeFrameCount(path);
    ASSERT_GT(n, 0);
    EXPECT_EQ(facts.frameCount, n);
    EXPECT_EQ(facts.width, width);
    EXPECT_EQ(facts.height, height);
    EXPECT_FALSE(reader.isAvi());
    EXPECT_FALSE(facts.container.empty());
    EXPECT_NE(facts.container, "avi");
    const auto expected = ffmpegFramesBgr(path, width, height);
    ASSERT_EQ(int64_t(expected.size()), n);

    const FrameTimes* times = reader.frameTimes();
    ASSERT_NE(times, nullptr);
    ASSERT_EQ(int64_t(times->startUs.size()), n);
    if (timesAre == Times::Own) {
        const std::vector<int64_t> probed = ffprobeFrameTimesUs(path);
        ASSERT_EQ(times->startUs.size(), probed.size());
        for (size_t i = 0; i < probed.size(); ++i) {
            if (probed[i] != Unknown) {
                EXPECT_EQ(times->startUs[i], probed[i]) << "position " << i;
            }
        }
        EXPECT_LE(std::count(probed.begin(), probed.end(), Unknown), 1);
    } else {
        EXPECT_TRUE(std::is_sorted(times->startUs.begin(), times->startUs.end()));
        EXPECT_EQ(std::adjacent_find(times->startUs.begin(), times->startUs.end()), times->startUs.end());
    }
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
        EXPECT_LE(maxDifference(bgrBytes(*b), expected[size_t(i)]), tolerance) << "position " << i;
    }
    // Then every picture in order, on a fresh reader and on this one.
    FrameReader fresh;
    fresh.open(path);
    for (int64_t i = 0; i < n; ++i) {
        Bitmap* b = fresh.frame(i);
        ASSERT_NE(b, nullptr) << "position " << i;
        ASSERT_LE(maxDifference(bgrBytes(*b), expected[size_t(i)]), tolerance) << "position " << i;
        Bitmap* again = reader.frame(i);
        ASSERT_NE(again, nullptr) << "position " << i;
        ASSERT_EQ(bgrBytes(*again), bgrBytes(*fresh.frame(i))) << "position " << i;
    }
    EXPECT_EQ(reader.frame(n), nullptr);
    EXPECT_EQ(reader.frame(-1), nullptr);
    EXPECT_TRUE(reader.read(n).error.empty());
}

} // namespace

TEST_P(Container, PicturesEqualFfmpegDecoding) {
    const ContainerCase c = GetParam();
    ScratchDir dir;
    const std::string path = dir.file(std::string("clip.") + c.extension);
    makeVideo(path, c.source ? c.source : std::to_string(c.width) + "x" + std::to_string(c.height), c.frames,
              c.options, c.filters);
    expectPicturesEqualFfmpeg(path, c.width, c.height, c.tolerance);
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

namespace {

// The number of packets of the first video stream.
int64_t ffprobePacketCount(const std::string& path) {
    ProcessResult r = runProcess("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                                 "stream=nb_read_packets -of csv=p=0 " +
                                 shellQuoted(path));
    return std::atoll(r.out.c_str());
}

// Makes a video of ffmpeg's counting test pattern, whose every picture differs from the others.
void makeCountingVideo(const std::string& path, int frames, const std::string& options,
                       const std::string& filters = "null", const std::string& size = "64x48") {
    ProcessResult r = runProcess("ffmpeg -v error -y -f lavfi -i testsrc=size=" + size + ":rate=25 -vf " +
                                 shellQuoted(filters) + " -frames:v " + std::to_string(frames) + " " +
                                 options + " " + shellQuoted(path));
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

std::string cli(const std::string& args) {
    return shellQuoted(KELVARA_CLI_PATH) + " " + args;
}

} // namespace

// Frames a decoder decodes but never shows are no positions: VP8's alternate reference frames,
// which the reference encoder's two passes put in packets of their own, and AV1 frames split into
// packets of their own. Frame K is ffmpeg's K-th picture, and the count is ffprobe's, not the
// packets'; info tells it without decoding the file.
TEST(ContainerSource, FramesThatAreNeverShownAreNoPositions) {
    ScratchDir dir;
    const std::string y4m = dir.file("source.y4m");
    ASSERT_NO_FATAL_FAILURE(makeCountingVideo(y4m, 40, "-pix_fmt yuv420p"));
    const std::string vpxenc = "vpxenc --codec=vp8 --good --passes=2 --auto-alt-ref=1 --lag-in-frames=16 -q ";
    const std::string av1 = dir.file("av1.mkv");
    const struct {
        const char* name;
        std::string command; // writes OUT
    } cases[] = {
        {"vp8.webm", vpxenc + "-o OUT " + shellQuoted(y4m)},
        {"vp8.ivf", vpxenc + "--ivf -o OUT " + shellQuoted(y4m)},
        {"av1_split.mkv",
         "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 40 -c:v libaom-av1 "
         "-cpu-used 8 -lag-in-frames 16 -auto-alt-ref 1 -g 10 " +
             shellQuoted(av1) + " && ffmpeg -v error -y -i " + shellQuoted(av1) +
             " -c copy -bsf:v av1_frame_split OUT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        std::string command = c.command;
        command.replace(command.find("OUT"), 3, shellQuoted(path));
        const ProcessResult r = runProcess(command);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ASSERT_GT(ffprobePacketCount(path), ffprobeFrameCount(path)); // packets without a picture
        ASSERT_NO_FATAL_FAILURE(expectPicturesEqualFfmpeg(path, 64, 48, 1));
        const ProcessResult info = runProcess(cli("info " + shellQuoted(path)));
        EXPECT_EQ(info.out.substr(0, info.out.find('\n')), "frames: 40");
    }
}

// A transport stream cut anywhere (a recording started in the middle of a broadcast) starts with
// packets of an unfinished group of pictures, and its first key frame may be followed by pictures
// that show before it. Which of them a decoder shows depends on the codec and on what the stream
// gives it (MPEG-2 and H.264 drop pictures that refer to what the cut took away; HEVC decodes the
// packets before the key frame when it has their parameter sets, but drops the key frame's RASL
// pictures): the positions are the pictures ffmpeg decodes.
TEST(ContainerSource, ARecordingCutAnywhereGivesThePicturesTheDecoderShows) {
    const struct {
        const char* name;
        const char* options;
    } cases[] = {
        {"mpeg2_open_gop", "-c:v mpeg2video -bf 2 -g 12 -flags -cgop"},
        {"hevc_open_gop", "-c:v libx265 -x265-params keyint=24:open-gop=1:bframes=3:log-level=error"},
        {"h264_open_gop", "-c:v libx264 -bf 3 -x264-params open-gop=1:keyint=24:min-keyint=24"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string whole = dir.file("whole.ts"), cut = dir.file("cut.ts");
        ASSERT_NO_FATAL_FAILURE(makeCountingVideo(whole, 90, c.options));
        // From a transport packet a third of the way in.
        const std::vector<uint8_t> bytes = readFile(whole);
        const size_t from = bytes.size() / 188 / 3 * 188;
        writeFileAtomically(cut, bytes.data() + from, bytes.size() - from);
        ASSERT_NO_FATAL_FAILURE(expectPicturesEqualFfmpeg(cut, 64, 48, 1));
    }
}

// Recordings joined end to end with cat (MPEG program streams, H.264 transport streams), whose
// timestamps start again in the second part: the positions are the decoder's pictures in the order
// it gives them, one part after the other, as ffmpeg decodes them, and the length adds up the
// parts.
TEST(ContainerSource, RecordingsJoinedEndToEndFollowOneAnother) {
    const struct {
        const char* extension;
        const char* options;
    } cases[] = {
        {"mpg", "-c:v mpeg2video -bf 2 -g 12 -f vob"},
        {"ts", "-c:v libx264 -bf 2 -g 12 -crf 10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        ScratchDir dir;
        const std::string ext = std::string(".") + c.extension;
        const std::string a = dir.file("a" + ext), b = dir.file("b" + ext), joined = dir.file("joined" + ext);
        ASSERT_NO_FATAL_FAILURE(makeCountingVideo(a, 50, c.options));
        ASSERT_NO_FATAL_FAILURE(makeCountingVideo(b, 50, c.options, "negate"));
        ProcessResult r =
            runProcess("cat " + shellQuoted(a) + " " + shellQuoted(b) + " > " + shellQuoted(joined));
        ASSERT_EQ(r.exitCode, 0);
        ASSERT_NO_FATAL_FAILURE(expectPicturesEqualFfmpeg(joined, 64, 48, 1, Times::RunOn));
        FrameReader reader;
        reader.open(joined);
        EXPECT_EQ(reader.facts().frameCount, 100);
        EXPECT_EQ(reader.facts().lengthMs, 4000);
        // A hundred different pictures: none of the first part's is shown twice, none of the
        // second's left out.
        std::set<std::vector<uint8_t>> pictures;
        for (int64_t i = 0; i < 100; ++i)
            if (Bitmap* b = reader.frame(i))
                pictures.insert(bgrBytes(*b));
        EXPECT_EQ(pictures.size(), 100u);
    }
}

namespace {

// Cuts the video file to half its size when the job comes to a frame: a recording being cut, a
// download started again.
struct CuttingObserver : JobObserver {
    std::string path;
    int at = 0;
    bool cut = false;
    void setProgressRange(int, int) override {}
    void setProgressPosition(int position) override {
        if (!cut && position >= at) {
            std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
            cut = true;
        }
    }
};

} // namespace

// A video cut to half while the GIF job reads it, in any container (the index of an MP4 at its
// end or at its start, Matroska, MPEG-TS, a stream of one key frame, AVI): the run ends as a short run
// where the data ends, and every frame it took is the picture ffmpeg decodes there from the whole
// file, none a copy of another. Reading on past the cut gives no frame, and what is left still
// reads. The pictures are stored losslessly, so that the file is several times larger than what
// the demuxer reads ahead.
TEST(ContainerSource, AVideoCutShortWhileItIsReadEndsTheRunThere) {
    const struct {
        const char* name;
        const char* options;
    } cases[] = {
        {"index_at_end.mp4", "-c:v libx264 -qp 0 -bf 2 -g 12"},
        {"index_at_start.mp4", "-c:v libx264 -qp 0 -bf 2 -g 12 -movflags +faststart"},
        {"clip.mkv", "-c:v libx264 -qp 0 -bf 2 -g 12"},
        {"clip.ts", "-c:v libx264 -qp 0 -bf 2 -g 12"},
        {"one_key_frame.mp4", "-c:v libx264 -qp 0 -bf 2 -g 1000 -movflags +faststart"},
        {"clip.avi", "-c:v mjpeg -q:v 1"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string whole = dir.file(std::string("whole-") + c.name);
        ASSERT_NO_FATAL_FAILURE(makeCountingVideo(whole, 80, c.options, "null", "160x120"));
        ASSERT_GT(std::filesystem::file_size(whole), 128u << 10);
        const auto expected = ffmpegFramesBgr(whole, 160, 120);
        ASSERT_EQ(expected.size(), 80u);
        for (int step : {1, 7}) {
            SCOPED_TRACE(std::string(c.name) + " step " + std::to_string(step));
            const std::string path = dir.file(c.name);
            std::filesystem::copy_file(whole, path, std::filesystem::copy_options::overwrite_existing);
            AviToGifOptions o;
            o.videoPath = path;
            o.frameCount = 80;
            o.lengthMs = 3200;
            o.baseWidth = 160;
            o.baseHeight = 120;
            o.crop = {0, 0, 160, 120};
            o.samplingStep = step;
            FrameTable table(GifFrameTableSize);
            TGIFDocument built;
            CuttingObserver observer;
            observer.path = path;
            observer.at = 10;
            const AviToGifResult result = convertAviToGif(o, table, built, observer);
            EXPECT_TRUE(observer.cut);
            EXPECT_EQ(result.outcome, AviToGifOutcome::Built);
            EXPECT_EQ(result.run.end, FrameRunEnd::VideoEnded);
            EXPECT_GE(result.run.read, 10 / step);
            EXPECT_LT(result.run.read, result.run.asked);
            EXPECT_EQ(result.run.stoppedAt, 1 + int64_t(result.run.read) * step);
            // An AVI's chunk that the cut went through gives what its decoder makes of the part
            // left, as AVI files always have; the other containers give no such picture.
            const bool avi = std::string(c.name) == "clip.avi";
            for (int k = 1; k <= result.run.read - (avi ? 1 : 0); ++k)
                ASSERT_LE(maxDifference(bgrBytes(table.entry(k)), expected[size_t((k - 1) * step)]), 1)
                    << "frame " << (k - 1) * step + 1;

            FrameReader reader;
            if (std::string(c.name) == "index_at_end.mp4") {
                // Its sample table went with the second half: it is no video any more.
                EXPECT_THROW(reader.open(path), FrameSourceError);
                continue;
            }
            reader.open(path);
            EXPECT_EQ(reader.frame(79), nullptr);
            EXPECT_TRUE(reader.read(79).error.empty());
            Bitmap* first = reader.frame(0);
            ASSERT_NE(first, nullptr);
            EXPECT_LE(maxDifference(bgrBytes(*first), expected[0]), 1);
        }
    }
}

// An edit list that starts the video after its first key frame (a cut made by copying the
// stream): the pictures it cuts are decoded for the ones after them but are no positions.
TEST(ContainerSource, AnEditListHidesThePicturesItCuts) {
    ScratchDir dir;
    const std::string whole = dir.file("whole.mp4"), cut = dir.file("cut.mp4");
    makeVideo(whole, "64x48", 40, "-c:v libx264 -bf 2 -g 12");
    ProcessResult r =
        runProcess("ffmpeg -v error -y -ss 0.5 -i " + shellQuoted(whole) + " -c copy " + shellQuoted(cut));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runProcess("ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets "
                   "-of csv=p=0 " +
                   shellQuoted(cut));
    const int64_t packets = std::atoll(r.out.c_str());
    const int64_t n = ffprobeFrameCount(cut);
    ASSERT_LT(n, packets); // the cut is there
    FrameReader reader;
    reader.open(cut);
    EXPECT_EQ(reader.facts().frameCount, n);
    const auto expected = ffmpegFramesBgr(cut, 64, 48);
    ASSERT_EQ(int64_t(expected.size()), n);
    for (int64_t i : {int64_t(0), n - 1, int64_t(1), n / 2, int64_t(0)}) {
        Bitmap* b = reader.frame(i);
        ASSERT_NE(b, nullptr) << i;
        EXPECT_LE(maxDifference(bgrBytes(*b), expected[size_t(i)]), 1) << "position " << i;
    }
    EXPECT_EQ(reader.frame(n), nullptr);
}

// A raw elementary stream has no timestamps: its positions are the pictures counted from the
// start, and reading back starts again from there.
TEST(ContainerSource, AStreamWithoutTimestampsCountsItsPictures) {
    ScratchDir dir;
    const std::string path = dir.file("clip.h264");
    makeVideo(path, "64x48", 20, "-c:v libx264 -bf 2 -g 6");
    FrameReader reader;
    reader.open(path);
    EXPECT_EQ(reader.frameTimes(), nullptr);
    EXPECT_EQ(reader.facts().frameCount, 20);
    EXPECT_EQ(reader.facts().container, "h264");
    const auto expected = ffmpegFramesBgr(path, 64, 48);
    ASSERT_EQ(expected.size(), 20u);
    for (int64_t i : {5, 19, 0, 12, 13, 2}) {
        Bitmap* b = reader.frame(i);
        ASSERT_NE(b, nullptr) << i;
        EXPECT_LE(maxDifference(bgrBytes(*b), expected[size_t(i)]), 1) << "position " << i;
    }
}

// A stream whose pictures change size midway: every picture comes at the first one's size.
TEST(ContainerSource, PicturesOfAnotherSizeComeAtTheFirstOnesSize) {
    ScratchDir dir;
    const std::string a = dir.file("a.ts"), b = dir.file("b.ts"), joined = dir.file("joined.ts");
    makeVideo(a, "64x48", 10, "-c:v mpeg2video");
    makeVideo(b, "32x24", 10, "-c:v mpeg2video");
    ProcessResult r =
        runProcess("cat " + shellQuoted(a) + " " + shellQuoted(b) + " > " + shellQuoted(joined));
    ASSERT_EQ(r.exitCode, 0);
    FrameReader reader;
    reader.open(joined);
    EXPECT_EQ(reader.facts().width, 64);
    EXPECT_EQ(reader.facts().height, 48);
    const int64_t n = reader.facts().frameCount;
    ASSERT_GT(n, 10);
    for (int64_t i : {int64_t(0), n - 1, int64_t(3)}) {
        Bitmap* picture = reader.frame(i);
        ASSERT_NE(picture, nullptr) << i;
        EXPECT_EQ(picture->Width(), 64);
        EXPECT_EQ(picture->Height(), 48);
    }
}

// A clip whose display matrix turns it (a phone held upright) is given turned, as ffmpeg shows it.
TEST(ContainerSource, TurnedClipsComeAsTheyAreShown) {
    ScratchDir dir;
    const std::string upright = dir.file("upright.mp4");
    makeVideo(upright, "64x48", 6, "-c:v libx264 -g 3");
    for (int rotate : {90, 180, 270}) {
        SCOPED_TRACE(rotate);
        const std::string turned = dir.file("turned" + std::to_string(rotate) + ".mp4");
        ProcessResult r = runProcess("ffmpeg -v error -y -i " + shellQuoted(upright) +
                                     " -c copy -metadata:s:v:0 rotate=" + std::to_string(rotate) + " " +
                                     shellQuoted(turned));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        FrameReader reader;
        reader.open(turned);
        const int w = rotate == 180 ? 64 : 48, h = rotate == 180 ? 48 : 64;
        EXPECT_EQ(reader.facts().width, w);
        EXPECT_EQ(reader.facts().height, h);
        const auto expected = ffmpegFramesBgr(turned, w, h);
        ASSERT_EQ(expected.size(), 6u);
        for (int64_t i : {3, 0, 5}) {
            Bitmap* b = reader.frame(i);
            ASSERT_NE(b, nullptr);
            EXPECT_LE(maxDifference(bgrBytes(*b), expected[size_t(i)]), 1) << "position " << i;
        }
    }
}

TEST(ContainerSource, OpeningFailuresNameTheFileAndTheReason) {
    ScratchDir dir;
    auto failure = [](const std::string& path) {
        try {
            FrameReader reader;
            reader.open(path);
        } catch (const FrameSourceError& e) {
            return std::make_tuple(std::string(e.what()), e.file(), e.reason());
        }
        return std::make_tuple(std::string(), std::string(), std::string());
    };
    // Files of other containers say "video" where an AVI's messages say "AVI"; a file that
    // cannot be read at all is taken for what its name says.
    const std::string missing = dir.file("missing.mp4");
    EXPECT_EQ(failure(missing), std::make_tuple(std::string(FrameSourceMessages::Video::OpenFile), missing,
                                                std::string("No such file")));
    EXPECT_EQ(std::get<0>(failure(dir.file("missing.AVI"))), FrameSourceMessages::OpenFile);
    const std::string junk = dir.file("clip.xyz");
    std::ofstream(junk) << "this is no video at all";
    EXPECT_EQ(failure(junk),
              std::make_tuple(std::string(FrameSourceMessages::Video::OpenFile), junk,
                              std::string("not a video FFmpeg can read: Invalid data found when "
                                          "processing input")));
    EXPECT_EQ(std::get<2>(failure(dir.path())), "Is a directory");
    const std::string sound = dir.file("sound.mp3");
    ProcessResult r = runProcess("ffmpeg -v error -y -f lavfi -i sine -t 0.5 " + shellQuoted(sound));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(failure(sound), std::make_tuple(std::string(FrameSourceMessages::Video::OpenStream), sound,
                                              std::string("the file has no video stream")));
    // An AVI's errors stay the message alone.
    const std::string avi = dir.file("broken.avi");
    std::ofstream(avi) << std::string("RIFF\x10\0\0\0AVI garbage", 20);
    EXPECT_EQ(failure(avi),
              std::make_tuple(std::string(FrameSourceMessages::OpenStream), std::string(), std::string()));
}

TEST(TimeText, SecondsFractionsAndClockTimes) {
    const std::pair<const char*, std::optional<int64_t>> cases[] = {
        {"0", 0},
        {"2", 2'000'000},
        {"1.5", 1'500'000},
        {"0.04", 40'000},
        {"12.3456789", 12'345'678},
        {"0:01.5", 1'500'000},
        {"1:00", 60'000'000},
        {"10:05.25", 605'250'000},
        {"00:00:01.500", 1'500'000},
        {"1:02:03", 3'723'000'000},
        {"", std::nullopt},
        {"1.", std::nullopt},
        {".5", std::nullopt},
        {"-1", std::nullopt},
        {"1:60", std::nullopt},
        {"1:2:3:4", std::nullopt},
        {"0:100", std::nullopt},
        {"1:60:00", std::nullopt},
        {"1,5", std::nullopt},
        {"1.5.2", std::nullopt},
        {"0x10", std::nullopt},
        {" 1", std::nullopt},
        {"99999999999999999", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(timeFromText(text), expected) << "'" << text << "'";
}

namespace {

struct NoObserver : JobObserver {
    void setProgressRange(int, int) override {}
    void setProgressPosition(int) override {}
    void pumpMessages() override {}
    bool abortRequested() override { return false; }
};

} // namespace

// The GIF job on a variable-rate video: a frame range takes those pictures, and a time range with
// fractions takes the pictures whose display times lie within it, by their real timestamps.
TEST(ContainerGif, RangesPickThePicturesByPositionAndByTheirOwnTimes) {
    ScratchDir dir;
    const std::string path = dir.file("vfr.mkv");
    makeVideo(path, "64x48", 40, "-vsync vfr -enc_time_base:v 1:1000 -c:v libx264 -bf 2 -g 10",
              "settb=1/1000,setpts='N*40+if(eq(mod(N,3),1),13,0)+if(gte(N,20),(N-20)*25,0)'");
    const auto expected = ffmpegFramesBgr(path, 64, 48);
    std::vector<int64_t> times = ffprobeFrameTimesUs(path);
    ASSERT_EQ(expected.size(), 40u);
    ASSERT_EQ(times.size(), 40u);
    const VideoFacts facts = probeVideo(path);
    AviToGifOptions o;
    o.videoPath = path;
    o.frameCount = facts.frameCount;
    o.lengthMs = facts.lengthMs;
    o.baseWidth = 64;
    o.baseHeight = 48;
    o.crop = {0, 0, 64, 48};
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    NoObserver observer;
    auto takes = [&](const std::vector<int64_t>& positions) {
        AviToGifResult r = convertAviToGif(o, table, built, observer);
        ASSERT_EQ(r.outcome, AviToGifOutcome::Built);
        ASSERT_EQ(r.frames, int(positions.size()));
        for (size_t k = 0; k < positions.size(); ++k)
            EXPECT_LE(maxDifference(bgrBytes(table.entry(int(k + 1))), expected[size_t(positions[k])]), 1)
                << "entry " << k + 1 << " should be picture " << positions[k];
    };

    o.frames = FrameChoice::FrameRange;
    o.firstFrame = 5;
    o.lastFrame = 13;
    o.samplingStep = 4;
    takes({4, 8, 12});

    // 0.75 s to 1.3 s from the first picture: the pictures whose times lie there, ends included.
    o.frames = FrameChoice::TimeRange;
    o.samplingStep = 1;
    o.fromUs = 750'000;
    o.toUs = 1'300'000;
    std::vector<int64_t> inRange;
    for (size_t i = 0; i < times.size(); ++i)
        if (times[i] - times[0] >= *o.fromUs && times[i] - times[0] <= *o.toUs)
            inRange.push_back(int64_t(i));
    ASSERT_GE(inRange.size(), 5u);
    // Not what the average rate would give: the times spread out from the 20th picture on.
    const int64_t byRate = *o.fromUs * facts.frameCount / (facts.lengthMs * 1000);
    EXPECT_NE(inRange.front(), byRate);
    takes(inRange);

    // A picture exactly at the end of the range is in it.
    o.fromUs = times[3] - times[0];
    o.toUs = times[6] - times[0];
    takes({3, 4, 5, 6});
    // Whole seconds, as the tab gives them, the same way.
    o.fromUs.reset();
    o.toUs.reset();
    o.fromSecond = 1;
    o.toSecond = 1;
    EXPECT_EQ(convertAviToGif(o, table, built, observer).outcome, AviToGifOutcome::Warning);
    o.toSecond = 2;
    inRange.clear();
    for (size_t i = 0; i < times.size(); ++i)
        if (times[i] - times[0] >= 1'000'000 && times[i] - times[0] <= 2'000'000)
            inRange.push_back(int64_t(i));
    takes(inRange);
}

// Damaged MP4 and Matroska files, cut short anywhere or with bytes flipped in their sample table
// ('moov') or index ('Cues'), fail with one of the messages or read what they hold: never a crash,
// never a hang.
TEST(ContainerSource, DamagedFilesFailClearlyOrReadShort) {
    ScratchDir dir;
    const struct {
        const char* name;
        const char* options;
        std::string tag; // where the flips go
    } fixtures[] = {
        {"start.mp4", "-c:v libx264 -bf 2 -g 8 -movflags +faststart", "moov"},
        {"end.mov", "-c:v libx264 -bf 2 -g 8", "moov"},
        {"clip.mkv", "-c:v libx264 -bf 2 -g 8", "\x1C\x53\xBB\x6B"},
        {"clip.webm", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -g 8", "\x1C\x53\xBB\x6B"},
    };
    std::mt19937 random(11);
    for (const auto& f : fixtures) {
        SCOPED_TRACE(f.name);
        const std::string path = dir.file(f.name);
        makeVideo(path, "64x48", 24, f.options);
        const std::vector<uint8_t> bytes = readFile(path);
        const auto tag = std::search(bytes.begin(), bytes.end(), f.tag.begin(), f.tag.end(),
                                     [](uint8_t a, char b) { return a == uint8_t(b); });
        ASSERT_NE(tag, bytes.end());
        const size_t tagAt = size_t(tag - bytes.begin());
        const size_t region = std::min<size_t>(400, bytes.size() - tagAt);
        std::vector<std::vector<uint8_t>> variants;
        for (size_t k = 1; k < 16; ++k)
            variants.emplace_back(bytes.begin(), bytes.begin() + ptrdiff_t(bytes.size() * k / 16));
        for (int k = 0; k < 40; ++k) {
            std::vector<uint8_t> damaged = bytes;
            for (int flip = 0; flip < 3; ++flip) {
                const size_t at = k < 32 ? tagAt + random() % region : random() % bytes.size();
                damaged[at] ^= uint8_t(1 + random() % 255);
            }
            variants.push_back(std::move(damaged));
        }
        const std::string damaged = dir.file(std::string("damaged-") + f.name);
        for (size_t v = 0; v < variants.size(); ++v) {
            SCOPED_TRACE(v);
            writeFileAtomically(damaged, variants[v].data(), variants[v].size());
            try {
                FrameReader reader;
                reader.open(damaged);
                const VideoFacts facts = reader.facts();
                EXPECT_GT(facts.width, 0);
                for (int64_t i : {int64_t(0), facts.frameCount - 1, int64_t(1), facts.frameCount / 2,
                                  facts.frameCount, int64_t(0)})
                    if (Bitmap* b = reader.frame(i)) {
                        EXPECT_EQ(b->Width(), facts.width);
                        EXPECT_EQ(b->Height(), facts.height);
                    }
            } catch (const FrameSourceError& e) {
                EXPECT_FALSE(e.reason().empty()) << e.what();
            }
        }
    }
    // An MP4 cut short after its sample table: the table's count stands, and the positions past
    // the data give nothing.
    const std::vector<uint8_t> bytes = readFile(dir.file("start.mp4"));
    const std::string cut = dir.file("cut.mp4");
    writeFileAtomically(cut, bytes.data(), bytes.size() * 2 / 3);
    FrameReader reader;
    reader.open(cut);
    EXPECT_EQ(reader.facts().frameCount, 24);
    EXPECT_NE(reader.frame(0), nullptr);
    EXPECT_EQ(reader.frame(23), nullptr);
    EXPECT_TRUE(reader.read(23).error.empty());
}

// kelvara-cli on an MP4: info names the container, times take fractions and clock times, and
// errors name the file and the reason.
TEST(CliContainers, InfoTimesAndErrors) {
    ScratchDir dir;
    const std::string clip = dir.file("clip.mp4");
    makeVideo(clip, "64x48", 30, "-c:v libx264 -bf 2 -g 12");
    ProcessResult r = runProcess(cli("info " + shellQuoted(clip)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "frames: 30\nlength_ms: 1200\nwidth: 64\nheight: 48\nfps: 25\ncodec: h264\n"
                     "container: mov,mp4,m4a,3gp,3g2,mj2\n");

    // Pictures every 40 ms: 0.5 s to 1 s holds those at 0.52 s to 1.00 s.
    for (const char* range : {"0.5-1", "0:00.5-0:01", "00:00:00.500-00:00:01.000", "0.5-1.000000"}) {
        SCOPED_TRACE(range);
        const std::string out = dir.file("out.gif");
        r = runProcess(cli("gif " + shellQuoted(clip) + " -o " + shellQuoted(out) + " --time " + range +
                           " --overwrite"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "kelvara-cli gif: wrote " + out + ": Size: 64 x 48 pixels  Frames: 13\n");
    }
    for (const char* range : {"1.5", "1.5--2", "-", "0:61-1:00", "1:2:3:4-5", "a-b"}) {
        r = runProcess(cli("gif " + shellQuoted(clip) + " -o " + shellQuoted(dir.file("bad.gif")) +
                           " --time " + shellQuoted(range)));
        EXPECT_EQ(r.exitCode, 2) << range;
        EXPECT_NE(r.err.find("--time must look like T1-T2"), std::string::npos) << range;
    }

    // Frame 8, counted from 1, is position 7.
    const std::string bmp = dir.file("eight.bmp");
    r = runProcess(cli("frame " + shellQuoted(clip) + " 8 -o " + shellQuoted(bmp)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Bitmap picture;
    const std::vector<uint8_t> written = readFile(bmp);
    picture.LoadFromMemory(written.data(), written.size());
    EXPECT_LE(maxDifference(bgrBytes(picture), ffmpegFramesBgr(clip, 64, 48).at(7)), 1);

    const std::string junk = dir.file("clip.xyz");
    std::ofstream(junk) << "no video here";
    r = runProcess(cli("info " + shellQuoted(junk)));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvara-cli info: " + junk +
                         ": Failed to open video file (not a video FFmpeg can read: Invalid data found when "
                         "processing input)\n");
    r = runProcess(cli("gif " + shellQuoted(dir.file("gone.mkv")) + " -o " + shellQuoted(dir.file("g.gif"))));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "kelvara-cli gif: " + dir.file("gone.mkv") + ": Failed to open video file (No such file)\n");
    const std::string sound = dir.file("sound.ogg");
    ASSERT_EQ(runProcess("ffmpeg -v error -y -f lavfi -i sine -t 0.5 " + shellQuoted(sound)).exitCode, 0);
    r = runProcess(cli("frame " + shellQuoted(sound) + " 0 -o " + shellQuoted(dir.file("s.bmp"))));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvara-cli frame: " + sound +
                         ": Failed to open video stream (the file has no video stream)\n");
}
