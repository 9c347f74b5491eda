// Tests of the AVI frame source on fixtures of our own, on codec fixtures made by ffmpeg and on
// real-world samples.
#include "raster/Stream.h"
#include "support/AviWriter.h"
#include "support/TestUtil.h"
#include "video/FrameSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <random>

using namespace kelvara;
using namespace kelvara::test;

namespace {

Color patternColor(int frame, int x, int y) {
    return rgbColor(x * 37 + frame * 50, y * 53 + frame, (x + y) * 11);
}

AviFixture fixture24(int width, int height, int frames) {
    AviFixture f;
    f.width = width;
    f.height = height;
    for (int i = 0; i < frames; ++i)
        f.frames.push_back(dibBits24(width, height, [&](int x, int y) { return patternColor(i, x, y); }));
    return f;
}

std::string messageOf(const std::string& path) {
    try {
        FrameReader reader;
        reader.open(path);
    } catch (const FrameSourceError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(FrameSource, Uncompressed24BitFramesWithOddWidth) {
    ScratchDir dir;
    std::string path = dir.file("rgb.avi");
    writeAvi(path, fixture24(5, 3, 4));
    FrameReader reader;
    reader.open(path);
    EXPECT_EQ(reader.facts().frameCount, 4);
    EXPECT_EQ(reader.facts().width, 5);
    EXPECT_EQ(reader.facts().height, 3);
    EXPECT_EQ(reader.facts().lengthMs, 160);
    for (int i : {0, 1, 3, 2, 0}) {
        Bitmap* b = reader.frame(i);
        ASSERT_NE(b, nullptr) << i;
        EXPECT_EQ(b->PixelFormat(), PixelFormat::Bits24);
        // No colour table: the byte image is the file header, the DIB header and the bits.
        EXPECT_EQ(reader.lastByteImage().size(), 14u + 40u + 16u * 3u);
        EXPECT_EQ(reader.lastByteImage()[10], 14);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(b->pixel(x, y), patternColor(i, x, y)) << i << ":" << x << "," << y;
    }
    EXPECT_EQ(reader.frame(4), nullptr);
    EXPECT_EQ(reader.frame(-1), nullptr);
    // A position the stream does not have is no error.
    EXPECT_TRUE(reader.read(4).error.empty());
    EXPECT_NE(reader.frame(1), nullptr); // still usable after a miss
    // A closed reader says so instead of giving nothing.
    reader.close();
    const FrameRead closed = reader.read(0);
    EXPECT_EQ(closed.picture, nullptr);
    EXPECT_EQ(closed.error, FrameSourceMessages::NotOpen);
}

TEST(FrameSource, SingleFrameVideo) {
    ScratchDir dir;
    std::string path = dir.file("one.avi");
    writeAvi(path, fixture24(1, 1, 1));
    FrameReader reader;
    reader.open(path);
    EXPECT_EQ(reader.facts().frameCount, 1);
    ASSERT_NE(reader.frame(0), nullptr);
    EXPECT_EQ(reader.frame(0)->pixel(0, 0), patternColor(0, 0, 0));
    EXPECT_EQ(reader.frame(1), nullptr);
}

// The stream's palette is what the decoded frames carry, and the byte image holds the full
// 256-entry allowance.
TEST(FrameSource, PalettisedStreamCarriesTheStreamPalette) {
    ScratchDir dir;
    std::string path = dir.file("pal8.avi");
    AviFixture f;
    f.width = 3;
    f.height = 2;
    f.bitCount = 8;
    for (int i = 0; i < 256; ++i)
        f.palette.push_back(PaletteEntry::fromColor(rgbColor(255 - i, i, i / 2)));
    f.frames.push_back({0, 1, 2, 0, 3, 4, 5, 0});
    writeAvi(path, f);
    FrameReader reader;
    reader.open(path);
    Bitmap* b = reader.frame(0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->PixelFormat(), PixelFormat::Bits8);
    ASSERT_EQ(b->palette().size(), 256u);
    EXPECT_EQ(b->palette(), f.palette);
    EXPECT_EQ(reader.lastByteImage()[10] | (reader.lastByteImage()[11] << 8), 14 + 1024);
    EXPECT_EQ(b->pixel(0, 0), f.palette[3].color());
    EXPECT_EQ(b->pixel(2, 1), f.palette[2].color());
}

// A 16-bit bit-field stream: the three masks travel with each frame and the offset field is 26.
TEST(FrameSource, BitFieldFramesKeepTheirMasks) {
    ScratchDir dir;
    std::string path = dir.file("rgb565.avi");
    AviFixture f;
    f.width = 2;
    f.height = 1;
    f.bitCount = 16;
    f.compression = 3;
    f.masks = {0xF800, 0x07E0, 0x001F};
    f.frames.push_back({0x00, 0xF8, 0xE0, 0x07});
    writeAvi(path, f);
    FrameReader reader;
    reader.open(path);
    Bitmap* b = reader.frame(0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->PixelFormat(), PixelFormat::Bits16);
    EXPECT_EQ(reader.lastByteImage()[10], 26);
    EXPECT_EQ(b->pixel(0, 0), rgbColor(255, 0, 0));
    EXPECT_EQ(b->pixel(1, 0), rgbColor(0, 255, 0));
}

// A zero-length chunk is a position of its own and shows the picture before it, the last chunk
// too.
TEST(FrameSource, DroppedFramesRepeatThePictureBefore) {
    ScratchDir dir;
    std::string path = dir.file("dropped.avi");
    AviFixture f = fixture24(4, 2, 7);
    f.frames[2].clear();
    f.frames[3].clear();
    f.frames[6].clear();
    writeAvi(path, f);
    FrameReader reader;
    reader.open(path);
    EXPECT_EQ(reader.facts().frameCount, 7);
    const int shows[7] = {0, 1, 1, 1, 4, 5, 5};
    for (int order : {0, 1}) {
        std::vector<int> positions = {0, 1, 2, 3, 4, 5, 6};
        if (order)
            positions = {6, 5, 3, 0, 4, 2, 1};
        for (int p : positions) {
            Bitmap* b = reader.frame(p);
            ASSERT_NE(b, nullptr) << p;
            EXPECT_EQ(b->pixel(3, 1), patternColor(shows[p], 3, 1)) << p;
        }
    }
}

// A stream copied into an AVI from another container (ffmpeg -c copy) has an empty chunk after
// every picture, the last one too: every position shows a picture, each empty one the picture
// before it, in order and out of order.
TEST(FrameSource, AnEmptyChunkAfterEveryPictureRepeatsIt) {
    ScratchDir dir;
    const std::string mp4 = dir.file("clip.mp4"), avi = dir.file("copy.avi");
    ProcessResult r = runProcess(
        "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 20 -c:v "
        "libx264 -bf 2 -g 6 " +
        shellQuoted(mp4) + " && ffmpeg -v error -y -i " + shellQuoted(mp4) + " -c copy " + shellQuoted(avi));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto pictures = ffmpegFramesBgr(avi, 64, 48);
    ASSERT_EQ(pictures.size(), 20u);
    FrameReader reader;
    reader.open(avi);
    ASSERT_TRUE(reader.isAvi());
    ASSERT_EQ(reader.facts().frameCount, 40);
    std::vector<int64_t> order(40);
    std::iota(order.begin(), order.end(), 0);
    std::vector<int64_t> shuffled = order;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    order.insert(order.end(), {39, 38, 0, 39});
    order.insert(order.end(), shuffled.begin(), shuffled.end());
    for (int64_t i : order) {
        Bitmap* b = reader.frame(i);
        ASSERT_NE(b, nullptr) << "frame " << i + 1;
        ASSERT_EQ(bgrBytes(*b), pictures[size_t(i / 2)]) << "frame " << i + 1;
    }
    EXPECT_EQ(reader.frame(40), nullptr);
}

TEST(FrameSource, OpeningFailuresGiveTheirMessages) {
    ScratchDir dir;
    EXPECT_EQ(messageOf(dir.file("missing.avi")), FrameSourceMessages::OpenFile);
    // Not an AVI, whatever its name says: it is read as what it is.
    std::string mp4 = dir.file("movie.avi");
    ProcessResult r = runProcess(
        "ffmpeg -v error -y -f lavfi -i testsrc=size=32x32:rate=5 -frames:v 2 -f mp4 " + shellQuoted(mp4));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    FrameReader notAvi;
    notAvi.open(mp4);
    EXPECT_FALSE(notAvi.isAvi());
    EXPECT_EQ(notAvi.facts().frameCount, 2);
    std::string garbage = dir.file("garbage.avi");
    std::ofstream(garbage) << "RIFF\x10\0\0\0AVI garbage";
    EXPECT_EQ(messageOf(garbage), FrameSourceMessages::OpenFile);
    if (samplesAvailable()) {
        EXPECT_EQ(messageOf(samplePath("fate-imc-audio-only.avi")), FrameSourceMessages::OpenStream);
    }

    // Damaged stream headers, one failing step each.
    struct Case {
        const char* message;
        void (*damage)(AviFixture&);
    } cases[] = {
        {FrameSourceMessages::StreamInfo, [](AviFixture& f) { f.rate = 0; }},
        {FrameSourceMessages::FormatSize, [](AviFixture& f) { f.writeFormat = false; }},
        {FrameSourceMessages::Format, [](AviFixture& f) { f.formatBytes = 20; }},
        {FrameSourceMessages::StartDecompression,
         [](AviFixture& f) { f.compression = fourCC('Z', 'Z', 'Z', 'Z'); }},
    };
    for (const Case& c : cases) {
        AviFixture f = fixture24(4, 4, 2);
        c.damage(f);
        std::string path = dir.file("damaged.avi");
        writeAvi(path, f);
        EXPECT_EQ(messageOf(path), c.message);
    }
}

// A stream format that claims a larger picture than the decoder makes: the reader reports the
// pictures' size, so no job sizes its pictures by the claim. A claim no picture bears out and no
// picture could have is refused.
TEST(FrameSource, AFormatClaimingALargerPictureIsNotBelieved) {
    ScratchDir dir;
    const std::string path = dir.file("claims.avi");
    makeCodecFixture(path, "mpeg4", 48, 32, 4, false);
    claimAviFormatSize(path, 10000, 10000);
    FrameReader reader;
    reader.open(path);
    EXPECT_EQ(reader.facts().width, 48);
    EXPECT_EQ(reader.facts().height, 32);
    Bitmap* first = reader.frame(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Width(), 48);
    EXPECT_EQ(first->Height(), 32);

    // Within what a decoder may make, the claim reaches the decoder and is still not believed.
    claimAviFormatSize(path, 4000, 3000);
    reader.open(path);
    EXPECT_EQ(reader.facts().width, 48);
    EXPECT_EQ(reader.facts().height, 32);

    // A smaller claim stands: it is the size the video reports.
    claimAviFormatSize(path, 40, 30);
    reader.open(path);
    EXPECT_EQ(reader.facts().width, 40);
    EXPECT_EQ(reader.facts().height, 30);

    // Uncompressed frames that claim no size at all give no picture to take the size from.
    const std::string raw = dir.file("raw.avi");
    writeAvi(raw, fixture24(4, 4, 2));
    claimAviFormatSize(raw, 0, 0);
    EXPECT_EQ(messageOf(raw), FrameSourceMessages::Format);
}

// A picture larger than the stream's first is damage: no frame, and nothing made for its size.
// Motion-JPEG frames of 16 x 16, then 64 x 64, then 16 x 16 again.
TEST(FrameSource, APictureLargerThanTheFirstGivesNoFrame) {
    ScratchDir dir;
    AviFixture f;
    f.width = f.height = 16;
    f.compression = fourCC('M', 'J', 'P', 'G');
    for (int size : {16, 64, 16}) {
        const std::string jpeg = dir.file("f" + std::to_string(size) + ".jpg");
        ProcessResult r = runProcess("convert -size " + std::to_string(size) + "x" + std::to_string(size) +
                                     " gradient:red-blue " + shellQuoted(jpeg));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        f.frames.push_back(readFile(jpeg));
    }
    const std::string path = dir.file("grows.avi");
    writeAvi(path, f);
    FrameReader reader;
    reader.open(path);
    for (int i : {0, 2}) {
        Bitmap* frame = reader.frame(i);
        ASSERT_NE(frame, nullptr) << i;
        EXPECT_EQ(frame->Width(), 16);
    }
    EXPECT_EQ(reader.frame(1), nullptr);
}

// Every prefix of a valid file either fails with one of the messages or reads frames safely.
TEST(FrameSource, TruncatedFilesNeverCrash) {
    ScratchDir dir;
    std::string whole = dir.file("whole.avi");
    writeAvi(whole, fixture24(8, 6, 5));
    std::ifstream in(whole, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    for (size_t cut = 0; cut < bytes.size(); cut += 37) {
        std::string path = dir.file("cut.avi");
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(cut));
        FrameReader reader;
        try {
            reader.open(path);
        } catch (const FrameSourceError&) {
            continue;
        }
        for (int i = 0; i < 6; ++i)
            if (Bitmap* b = reader.frame(i)) {
                EXPECT_EQ(b->Width(), 8);
            }
    }
}

// Frames decoded through codecs equal what ffmpeg decodes from the same file.
class CodecFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(CodecFixture, FramesEqualFfmpegDecoding) {
    ScratchDir dir;
    std::string path = dir.file("codec.avi");
    makeCodecFixture(path, GetParam(), 64, 48, 12, true);
    FrameReader reader;
    reader.open(path);
    VideoFacts facts = reader.facts();
    ASSERT_EQ(facts.frameCount, 12);
    auto expected = ffmpegFramesBgr(path, 64, 48);
    ASSERT_EQ(expected.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        Bitmap* b = reader.frame(i);
        ASSERT_NE(b, nullptr) << i;
        ASSERT_EQ(bgrBytes(*b), expected[i]) << "frame " << i;
    }
    // Random access lands on the same pictures.
    for (int i : {7, 2, 11, 0, 5}) {
        Bitmap* b = reader.frame(i);
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(bgrBytes(*b), expected[i]) << "frame " << i << " read out of order";
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, CodecFixture, ::testing::Values("mjpeg", "mpeg4", "msvideo1"));

// Run-length coded 8-bit frames (this ffmpeg has no encoder for them, so we write our own).
TEST(FrameSource, RunLengthFramesDecodeWithTheStreamPalette) {
    ScratchDir dir;
    std::string path = dir.file("rle8.avi");
    const int w = 9, h = 5; // RLE data of a size other than the raw frame's
    AviFixture f;
    f.width = w;
    f.height = h;
    f.bitCount = 8;
    f.compression = 1;
    for (int i = 0; i < 256; ++i)
        f.palette.push_back(PaletteEntry::fromColor(rgbColor(i, 255 - i, i * 3)));
    std::vector<std::vector<uint8_t>> pictures;
    for (int frame = 0; frame < 3; ++frame) {
        std::vector<uint8_t> pixels(w * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels[y * w + x] = uint8_t((x / 3 + y + frame * 7) % 256);
        pictures.push_back(pixels);
        f.frames.push_back(encodeRle8(pixels, w, h));
    }
    writeAvi(path, f);
    FrameReader reader;
    reader.open(path);
    for (int frame : {0, 1, 2, 0}) {
        Bitmap* b = reader.frame(frame);
        ASSERT_NE(b, nullptr);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(b->pixel(x, y), f.palette[pictures[frame][y * w + x]].color())
                    << frame << ":" << x << "," << y;
    }
}

// Real-world files: dropped frames, palettes, B-frames, odd sizes.
struct SampleCase {
    const char* file;
    int frames;
    // Whether a picture reached by seeking equals the one decoded from the start. Cinepak key
    // frames may refresh their codebooks only in part, so seeking gives slightly different
    // pictures there.
    bool exactAfterSeek = true;
};

class SampleFile : public ::testing::TestWithParam<SampleCase> {};

TEST_P(SampleFile, FramesEqualFfmpegDecoding) {
    if (!samplesAvailable())
        GTEST_SKIP() << "samples folder not found: " << KELVARA_SAMPLES_DIR;
    std::string path = samplePath(GetParam().file);
    FrameReader reader;
    reader.open(path);
    VideoFacts facts = reader.facts();
    EXPECT_EQ(facts.frameCount, GetParam().frames);
    // The k-th picture in display order belongs to the k-th chunk that holds data; a chunk
    // without data repeats the picture before it, and the positions before the first picture
    // show that first picture.
    auto expected = ffmpegFramesBgr(path, facts.width, facts.height);
    std::vector<int64_t> dataPositions = ffprobePacketPositions(path);
    ASSERT_EQ(expected.size(), dataPositions.size());
    auto expectedAt = [&](size_t i) -> const std::vector<uint8_t>& {
        size_t k =
            std::upper_bound(dataPositions.begin(), dataPositions.end(), int64_t(i)) - dataPositions.begin();
        return expected[k == 0 ? 0 : k - 1];
    };
    size_t n = size_t(std::min<int64_t>(dataPositions.back() + 1, facts.frameCount));
    ASSERT_GT(n, 0u);
    for (size_t i = 0; i < n; ++i) {
        Bitmap* b = reader.frame(int64_t(i));
        ASSERT_NE(b, nullptr) << "frame " << i;
        ASSERT_EQ(bgrBytes(*b), expectedAt(i)) << "frame " << i;
    }
    if (!GetParam().exactAfterSeek)
        return;
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(3));
    order.resize(std::min<size_t>(n, 8));
    for (size_t i : order) {
        Bitmap* b = reader.frame(int64_t(i));
        ASSERT_NE(b, nullptr) << "frame " << i;
        ASSERT_EQ(bgrBytes(*b), expectedAt(i)) << "frame " << i << " read out of order";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SampleFile,
    ::testing::Values(SampleCase{"fate-cram-skating.avi", 225}, SampleCase{"fate-cram-clock-cram16.avi", 30},
                      SampleCase{"fate-h264-ref_10.avi", 30}, SampleCase{"fate-mjpeg-field_order.avi", 9},
                      SampleCase{"fate-xvid-packed_bframes.avi", 15},
                      SampleCase{"fate-cvid-pcitva15.avi", 152, false},
                      SampleCase{"fate-vcr2-VCR2test.avi", 157}, SampleCase{"mimetype-avi-96x54.avi", 51},
                      SampleCase{"androidx-sample-with-large-length.avi", 59},
                      SampleCase{"jcodec-test.avi", 840}),
    [](const ::testing::TestParamInfo<SampleCase>& info) {
        std::string name;
        for (const char* c = info.param.file; *c && *c != '.'; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

// Files with few or no frames behind their headers open, and reading them is safe.
TEST(FrameSource, DamagedSamplesReadSafely) {
    if (!samplesAvailable())
        GTEST_SKIP() << "samples folder not found: " << KELVARA_SAMPLES_DIR;
    for (const char* name : {"exiftool-RIFF.avi", "exiftool-Pentax.avi", "hachoir-smallville.s03e02.avi",
                             "fate-cram-toon-partial.avi", "fate-tscc-uebung9-partial.avi",
                             "riffinfo-simpson.avi", "fate-cvid-laracroft-partial.avi"}) {
        SCOPED_TRACE(name);
        FrameReader reader;
        reader.open(samplePath(name));
        int64_t n = reader.facts().frameCount;
        for (int64_t i : {int64_t(0), int64_t(1), n / 2, n - 1, n})
            if (Bitmap* b = reader.frame(i)) {
                EXPECT_EQ(b->Width(), reader.facts().width);
            }
    }
    // A truncated file ends its frames where its data ends.
    FrameReader reader;
    reader.open(samplePath("fate-cram-toon-partial.avi"));
    EXPECT_EQ(reader.facts().frameCount, 2822);
    EXPECT_NE(reader.frame(100), nullptr);
    EXPECT_EQ(reader.frame(2000), nullptr);
}
