// Tests of the AVI-to-animated-GIF job and of kelvara-cli gif.
#include "convert/AviToGif.h"
#include "gif/GifDocument.h"
#include "raster/Error.h"
#include "raster/Stream.h"
#include "support/AviWriter.h"
#include "support/GifDecode.h"
#include "support/GifJobSupport.h"
#include "support/TestUtil.h"
#include "video/FrameSource.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

using namespace kelvara;
using namespace kelvara::test;

namespace {

// Frame i of the fixtures is one solid colour that names it.
Color frameColor(int i) {
    return rgbColor(i & 0xFF, (i * 7) & 0xFF, 255 - (i & 0xFF));
}

std::string solidFramesAvi(const ScratchDir& dir, int w, int h, int count, int rate = 25) {
    AviFixture f;
    f.width = w;
    f.height = h;
    f.rate = uint32_t(rate);
    for (int i = 0; i < count; ++i)
        f.frames.push_back(dibBits24(w, h, [&](int, int) { return frameColor(i + 1); }));
    std::string path = dir.file("solid" + std::to_string(count) + ".avi");
    writeAvi(path, f);
    return path;
}

// Records the progress bar and asks to abort once the bar has reached a position. (Message
// pumps are no measure: the pipeline pumps while it waits for a frame, as often as it waits.)
struct RecordingObserver : JobObserver {
    std::vector<int> positions;
    std::vector<int> maximums;
    int abortAtPosition = -1;
    bool aborting = false;
    bool closingProgram = false;
    std::vector<size_t> rangeStarts; // where each range's positions start in positions
    void setProgressRange(int, int max) override {
        maximums.push_back(max);
        rangeStarts.push_back(positions.size());
    }
    // The highest position shown while the bar had its n-th range (0-based).
    int peakOfRange(size_t n) const {
        const size_t end = n + 1 < rangeStarts.size() ? rangeStarts[n + 1] : positions.size();
        int peak = 0;
        for (size_t i = n < rangeStarts.size() ? rangeStarts[n] : end; i < end; ++i)
            peak = std::max(peak, positions[i]);
        return peak;
    }
    void setProgressPosition(int position) override {
        positions.push_back(position);
        if (abortAtPosition >= 0 && position >= abortAtPosition)
            aborting = true;
    }
    bool abortRequested() override { return aborting; }
    bool closing() override { return closingProgram; }
};

struct DecodedGif {
    int frames = 0;
    int width = 0, height = 0;
    std::vector<int> delays;
    std::vector<int> loopBlocks; // NETSCAPE2.0 blocks before each frame
};

DecodedGif decodeGif(const std::vector<uint8_t>& bytes) {
    struct Source {
        const std::vector<uint8_t>* bytes;
        size_t pos;
    } source{&bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(
        &source,
        [](GifFileType* g, GifByteType* out, int n) {
            auto* s = static_cast<Source*>(g->UserData);
            int k = int(std::min<size_t>(size_t(n), s->bytes->size() - s->pos));
            std::memcpy(out, s->bytes->data() + s->pos, size_t(k));
            s->pos += size_t(k);
            return k;
        },
        &error);
    EXPECT_NE(gif, nullptr);
    DecodedGif d;
    if (!gif)
        return d;
    EXPECT_EQ(DGifSlurp(gif), GIF_OK);
    d.frames = gif->ImageCount;
    d.width = gif->SWidth;
    d.height = gif->SHeight;
    for (int i = 0; i < gif->ImageCount; ++i) {
        GraphicsControlBlock gcb;
        d.delays.push_back(DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK ? gcb.DelayTime : -1);
        int loops = 0;
        const SavedImage& image = gif->SavedImages[i];
        for (int e = 0; e < image.ExtensionBlockCount; ++e)
            if (image.ExtensionBlocks[e].Function == APPLICATION_EXT_FUNC_CODE &&
                image.ExtensionBlocks[e].ByteCount == 11 &&
                std::memcmp(image.ExtensionBlocks[e].Bytes, "NETSCAPE2.0", 11) == 0)
                ++loops;
        d.loopBlocks.push_back(loops);
    }
    DGifCloseFile(gif, &error);
    return d;
}

std::vector<uint8_t> saved(TGIFDocument& doc) {
    MemoryStream out;
    doc.SaveToStream(out);
    return out.bytes();
}

} // namespace

TEST(AviToGifRules, SizesDelaysAndAspect) {
    AviToGifOptions o;
    o.sizeMode = GifSizeMode::Scale;
    struct {
        int base, index, expected;
    } scales[] = {{300, 6, 99}, {600, 6, 199}, {5, 8, 1}, {100, 0, 500}, {7, 5, 3}, {10, 4, 10}};
    for (auto s : scales) {
        o.baseWidth = o.baseHeight = s.base;
        o.scaleIndex = s.index;
        int w = 0, h = 0;
        gifSizeFor(o, w, h);
        EXPECT_EQ(w, s.expected) << s.base << " " << ScaleRatioNames[s.index];
        EXPECT_EQ(h, s.expected);
    }
    EXPECT_EQ(gifDelayFromText("95"), 95);
    EXPECT_EQ(gifDelayFromText("5000"), 5000);
    EXPECT_EQ(gifDelayFromText("10"), 10);
    for (const char* t : {"5001", "9", "", "abc", "12x", "-50"})
        EXPECT_EQ(gifDelayFromText(t), 100) << t;
    // The aspect chain of a 320 x 240 video: 100 -> 75; 101 -> 76 -> 101; 10 -> 8 -> 11 -> 8.
    EXPECT_EQ(aspectSide(100, 320, 240), 75);
    EXPECT_EQ(aspectSide(101, 320, 240), 76);
    EXPECT_EQ(aspectSide(76, 240, 320), 101);
    EXPECT_EQ(aspectSide(10, 320, 240), 8);
    EXPECT_EQ(aspectSide(8, 240, 320), 11);
    EXPECT_EQ(aspectSide(11, 320, 240), 8);
}

TEST(AviToGif, FrameRangeWithStepReadsEveryThirdFrame) {
    ScratchDir dir;
    AviToGifOptions o = optionsFor(solidFramesAvi(dir, 4, 2, 30));
    o.frames = FrameChoice::FrameRange;
    o.firstFrame = 10;
    o.lastFrame = 20;
    o.samplingStep = 3;
    o.delayMs = 95;
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    RecordingObserver observer;
    AviToGifResult r = convertAviToGif(o, table, built, observer);
    ASSERT_EQ(r.outcome, AviToGifOutcome::Built);
    EXPECT_EQ(r.frames, 4);
    // Reading counts the range's 11 frames by the step; building counts the 4 frames read; the
    // bar ends empty.
    EXPECT_EQ(observer.maximums, (std::vector<int>{11, 4}));
    EXPECT_EQ(observer.positions, (std::vector<int>{0, 3, 6, 9, 11, 0, 1, 2, 3, 4, 0}));
    const int read[] = {10, 13, 16, 19};
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(table.entry(k).pixel(3, 1), frameColor(read[k - 1])) << k;
    EXPECT_EQ(r.statusText, "Size: 4 x 2 pixels  Frames: 4");
    EXPECT_EQ(r.delayHundredths, 9);
    EXPECT_EQ(r.run.asked, 4);
    EXPECT_EQ(r.run.read, 4);
    EXPECT_EQ(r.run.end, FrameRunEnd::Complete);
    EXPECT_FALSE(r.run.isShort());

    DecodedGif gif = decodeGif(saved(built));
    EXPECT_EQ(gif.frames, 4);
    EXPECT_EQ(gif.width, 4);
    EXPECT_EQ(gif.height, 2);
    EXPECT_EQ(gif.delays, (std::vector<int>{9, 9, 9, 9}));
    EXPECT_EQ(gif.loopBlocks, (std::vector<int>{1, 0, 0, 0}));
}

TEST(AviToGif, TimeRangesAndTheRangeLimits) {
    ScratchDir dir;
    // 250 frames at 25 fps: 10000 ms. 2..4 s gives frames 50..100.
    AviToGifOptions o = optionsFor(solidFramesAvi(dir, 1, 1, 250));
    ASSERT_EQ(o.lengthMs, 10000);
    o.frames = FrameChoice::TimeRange;
    o.fromSecond = 2;
    o.toSecond = 4;
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    RecordingObserver observer;
    AviToGifResult r = convertAviToGif(o, table, built, observer);
    ASSERT_EQ(r.outcome, AviToGifOutcome::Built);
    EXPECT_EQ(r.frames, 51);
    EXPECT_EQ(table.entry(1).pixel(0, 0), frameColor(50));
    EXPECT_EQ(table.entry(51).pixel(0, 0), frameColor(100));
    // A range from 0 s starts at the first frame.
    o.fromSecond = 0;
    o.toSecond = 1;
    r = convertAviToGif(o, table, built, observer);
    EXPECT_EQ(r.frames, 25);
    EXPECT_EQ(table.entry(1).pixel(0, 0), frameColor(1));

    // Exactly 256 frames are accepted; 257 are refused before anything is read.
    AviToGifOptions all = optionsFor(solidFramesAvi(dir, 1, 1, 257));
    r = convertAviToGif(all, table, built, observer);
    EXPECT_EQ(r.outcome, AviToGifOutcome::Warning);
    EXPECT_EQ(r.message, AviToGifMessages::TooManyFrames);
    all.frames = FrameChoice::FrameRange;
    all.firstFrame = 2;
    all.lastFrame = 257;
    r = convertAviToGif(all, table, built, observer);
    ASSERT_EQ(r.outcome, AviToGifOutcome::Built);
    EXPECT_EQ(r.frames, 256);
    EXPECT_EQ(built.FrameCount(), 256);
    all.firstFrame = 9;
    all.lastFrame = 8;
    r = convertAviToGif(all, table, built, observer);
    EXPECT_EQ(r.outcome, AviToGifOutcome::Warning);
    EXPECT_EQ(r.message, AviToGifMessages::CheckRange);
}

TEST(AviToGif, RefusedInputIsRefusedBeforeReading) {
    ScratchDir dir;
    AviToGifOptions o = optionsFor(solidFramesAvi(dir, 2, 2, 5));
    o.videoPath = dir.file("not-there.avi"); // reading would fail with another message
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    RecordingObserver observer;
    auto refused = [&](AviToGifOptions options) {
        try {
            convertAviToGif(options, table, built, observer);
        } catch (const FrameSourceError&) {
            return false;
        } catch (const Error&) {
            return true;
        }
        return false;
    };
    AviToGifOptions step = o;
    step.samplingStep = 0;
    EXPECT_TRUE(refused(step));
    AviToGifOptions size = o;
    size.sizeMode = GifSizeMode::Specified;
    size.specifiedWidth = 0;
    size.specifiedHeight = 5;
    EXPECT_TRUE(refused(size));
    AviToGifOptions range = o;
    range.frames = FrameChoice::FrameRange;
    range.firstFrame = 3;
    range.lastFrame = 6;
    EXPECT_TRUE(refused(range));
    EXPECT_FALSE(refused(o)); // a valid run reaches the reader
}

TEST(AviToGif, BackwardReversesAroundTheMiddleFrame) {
    ScratchDir dir;
    AviToGifOptions o = optionsFor(solidFramesAvi(dir, 3, 2, 5));
    o.direction = Direction::Backward;
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    RecordingObserver observer;
    AviToGifResult r = convertAviToGif(o, table, built, observer);
    ASSERT_EQ(r.frames, 5);
    for (int k = 1; k <= 5; ++k)
        EXPECT_EQ(table.entry(k).pixel(2, 1), frameColor(6 - k)) << k;
}

TEST(AviToGif, ReducedAreaAndsAndCropUsesTheExclusiveRectangle) {
    ScratchDir dir;
    const int w = 120, h = 80;
    AviFixture f;
    f.width = w;
    f.height = h;
    auto colorAt = [](int x, int y) { return rgbColor(x * 2 + 1, y * 3 + 2, (x ^ y) & 0xFF); };
    f.frames.push_back(dibBits24(w, h, colorAt));
    std::string path = dir.file("pattern.avi");
    writeAvi(path, f);
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    RecordingObserver observer;

    // Half size: each entry pixel is the rounded mean of the 2 x 2 block it covers.
    AviToGifOptions half = optionsFor(path);
    half.sizeMode = GifSizeMode::Scale;
    half.scaleIndex = 5;
    ASSERT_EQ(convertAviToGif(half, table, built, observer).frames, 1);
    Bitmap& e = table.entry(1);
    ASSERT_EQ(e.Width(), 60);
    for (int y : {0, 17, 39})
        for (int x : {0, 23, 59}) {
            const Color block[] = {colorAt(2 * x, 2 * y), colorAt(2 * x + 1, 2 * y),
                                   colorAt(2 * x, 2 * y + 1), colorAt(2 * x + 1, 2 * y + 1)};
            int r = 2, g = 2, b = 2;
            for (Color c : block)
                r += redOf(c), g += greenOf(c), b += blueOf(c);
            EXPECT_EQ(e.pixel(x, y), rgbColor(r / 4, g / 4, b / 4)) << x << "," << y;
        }

    // A selection over columns 10..109 and rows 20..69 gives a 99 x 49 base, copied 1:1.
    AviToGifOptions crop = optionsFor(path);
    crop.crop = {10, 20, 109, 69};
    crop.baseWidth = crop.crop.width();
    crop.baseHeight = crop.crop.height();
    AviToGifResult r = convertAviToGif(crop, table, built, observer);
    EXPECT_EQ(r.statusText, "Size: 99 x 49 pixels  Frames: 1");
    EXPECT_EQ(table.entry(1).pixel(0, 0), colorAt(10, 20));
    EXPECT_EQ(table.entry(1).pixel(98, 48), colorAt(108, 68));
}

TEST(AviToGif, AbortKeepsWhatWasReadAndNothingReadLeavesTheResult) {
    ScratchDir dir;
    AviToGifOptions o = optionsFor(solidFramesAvi(dir, 2, 2, 8));
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    RecordingObserver observer;
    observer.abortAtPosition = 4; // Abort pressed as the 4th frame is about to be read
    AviToGifResult r = convertAviToGif(o, table, built, observer);
    ASSERT_EQ(r.outcome, AviToGifOutcome::Built);
    EXPECT_EQ(r.frames, 3);
    EXPECT_EQ(built.FrameCount(), 3);
    EXPECT_EQ(r.statusText, "Size: 2 x 2 pixels  Frames: 3");
    // The caller learns of the short run: 3 of 8 frames, stopped by the user.
    EXPECT_TRUE(r.run.isShort());
    EXPECT_EQ(r.run.asked, 8);
    EXPECT_EQ(r.run.read, 3);
    EXPECT_EQ(r.run.end, FrameRunEnd::Aborted);
    // The building ran through every frame read.
    ASSERT_GE(observer.maximums.size(), 2u);
    EXPECT_EQ(observer.maximums[1], 3);
    EXPECT_EQ(observer.peakOfRange(1), 3);

    // The same abort while the program is closing: the building stops at its first frame, keeping
    // no more than the frames already reduced, and the run still says how far the reading got.
    RecordingObserver closing;
    closing.abortAtPosition = 4;
    closing.closingProgram = true;
    TGIFDocument closed;
    r = convertAviToGif(o, table, closed, closing);
    EXPECT_EQ(r.run.read, 3);
    EXPECT_EQ(r.run.end, FrameRunEnd::Aborted);
    ASSERT_GE(closing.maximums.size(), 2u);
    EXPECT_EQ(closing.peakOfRange(1), 1);
    EXPECT_LE(r.frames, 3);

    RecordingObserver abortAtOnce;
    abortAtOnce.abortAtPosition = 1;
    r = convertAviToGif(o, table, built, abortAtOnce);
    EXPECT_EQ(r.outcome, AviToGifOutcome::NoFrames);
    EXPECT_EQ(r.run.read, 0);
    EXPECT_EQ(built.FrameCount(), 3); // the earlier result stays
}

// Frames are reduced while the next are read, but the document takes them only in the building,
// which counts them on its own bar: an Abort pressed there keeps the frames finished so far (built,
// or reduced and waiting), in order, and the result says how many, in either direction. Going
// forward the frames are reduced while they are read, so an Abort as the building starts still
// keeps most of them; going backward nothing is reduced before the building starts.
TEST(AviToGif, AbortWhileBuildingKeepsTheFramesFinished) {
    ScratchDir dir;
    AviToGifOptions o = optionsFor(solidFramesAvi(dir, 2, 2, 40));
    o.threads = 2;
    const int window = 2 * 2 + 2; // the pipeline's frames in flight at most
    for (Direction direction : {Direction::Forward, Direction::Backward}) {
        const bool forward = direction == Direction::Forward;
        SCOPED_TRACE(forward ? "forward" : "backward");
        o.direction = direction;
        FrameTable table(GifFrameTableSize);
        TGIFDocument built;
        struct : RecordingObserver {
            void setProgressPosition(int position) override {
                // The second range is the building's: abort as the 3rd frame is about to be built.
                if (maximums.size() == 2 && position >= 3)
                    aborting = true;
            }
        } observer;
        const AviToGifResult r = convertAviToGif(o, table, built, observer);
        ASSERT_EQ(r.outcome, AviToGifOutcome::Built);
        EXPECT_TRUE(r.aborted);
        EXPECT_EQ(r.run.read, 40);
        EXPECT_EQ(r.run.end, FrameRunEnd::Complete);
        // The 2 built and those reduced meanwhile (workers race the building).
        EXPECT_GE(r.frames, forward ? 40 - window : 2);
        EXPECT_LE(r.frames, 40);
        EXPECT_EQ(built.FrameCount(), r.frames);
        EXPECT_EQ(r.statusText, "Size: 2 x 2 pixels  Frames: " + std::to_string(r.frames));
        // The frames kept are the first in the GIF's order (a flat frame's colour is the
        // octree's one colour, entry 10).
        EXPECT_EQ(decodeGif(saved(built)).frames, r.frames);
        for (int j = 0; j < r.frames; ++j) {
            const GifRGB& c = built.Frame(j).ColorMap().Colors(10);
            EXPECT_EQ(rgbColor(c.red, c.green, c.blue), frameColor(forward ? j + 1 : 40 - j)) << j;
        }

        // Aborted as the building starts.
        struct : RecordingObserver {
            void setProgressRange(int, int max) override {
                maximums.push_back(max);
                aborting = maximums.size() == 2;
            }
        } early;
        const int before = built.FrameCount();
        const AviToGifResult atStart = convertAviToGif(o, table, built, early);
        EXPECT_TRUE(atStart.aborted);
        if (forward) {
            EXPECT_EQ(atStart.outcome, AviToGifOutcome::Built);
            EXPECT_GE(atStart.frames, 40 - window);
            EXPECT_EQ(built.FrameCount(), atStart.frames);
        } else {
            // Nothing was built: the earlier result stays.
            EXPECT_EQ(atStart.outcome, AviToGifOutcome::NoFrames);
            EXPECT_EQ(atStart.message, AviToGifMessages::NothingBuilt);
            EXPECT_EQ(built.FrameCount(), before);
        }
    }
}

// Storing the frames as their changes counts them on a third bar; an Abort there keeps every
// frame, those not yet stored as changes whole, and the GIF shows the same pictures.
TEST(AviToGif, AbortWhileOptimisingKeepsEveryFrame) {
    ScratchDir dir;
    AviToGifOptions o = optionsFor(solidFramesAvi(dir, 2, 2, 20));
    o.build.optimize = true;
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    struct : RecordingObserver {
        void setProgressPosition(int position) override {
            if (maximums.size() == 3 && position >= 5)
                aborting = true;
        }
    } observer;
    const AviToGifResult r = convertAviToGif(o, table, built, observer);
    ASSERT_EQ(r.outcome, AviToGifOutcome::Built);
    EXPECT_EQ(observer.maximums.size(), 3u);
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(r.frames, 20);
    // Each frame as shown: its pixel (1, 1) drawn over the frames before it.
    const GiflibImage decoded = decodeWithGiflib(saved(built));
    ASSERT_EQ(decoded.frames.size(), 20u);
    Color shown = 0;
    for (size_t j = 0; j < decoded.frames.size(); ++j) {
        const GiflibFrame& f = decoded.frames[j];
        if (f.left <= 1 && f.top <= 1 && f.left + f.width > 1 && f.top + f.height > 1) {
            const int index = f.indices[size_t((1 - f.top) * f.width + (1 - f.left))];
            if (index != f.transparentIndex)
                shown = rgbColor(f.colors[size_t(index)][0], f.colors[size_t(index)][1],
                                 f.colors[size_t(index)][2]);
        }
        EXPECT_EQ(shown, frameColor(int(j) + 1)) << j;
    }
}

TEST(AviToGif, AVideoThatEndsEarlyIsAShortRun) {
    // The header promises 12 frames, the file holds 5: the GIF is built from those 5 and the
    // result says where the video ended.
    ScratchDir dir;
    const std::string path = solidFramesAvi(dir, 2, 2, 5);
    AviToGifOptions o = optionsFor(path);
    o.frameCount = 12;
    o.frames = FrameChoice::FrameRange;
    o.firstFrame = 2;
    o.lastFrame = 12;
    o.samplingStep = 2;
    // The range check reads the frame count the player reported; the reader finds what is there.
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    RecordingObserver observer;
    const AviToGifResult r = convertAviToGif(o, table, built, observer);
    ASSERT_EQ(r.outcome, AviToGifOutcome::Built);
    EXPECT_EQ(built.FrameCount(), 2); // frames 2 and 4
    EXPECT_EQ(r.run.asked, 6);        // 2, 4, ..., 12
    EXPECT_EQ(r.run.read, 2);
    EXPECT_EQ(r.run.end, FrameRunEnd::VideoEnded);
    EXPECT_EQ(r.run.stoppedAt, 6);
    EXPECT_TRUE(r.run.error.empty());
}

// At 1:1 without a crop each GIF frame is what the engine makes of the decoded video frame.
TEST(AviToGif, FramesEqualTheEngineOnDecodedFrames) {
    ScratchDir dir;
    std::string path = dir.file("clip.avi");
    makeCodecFixture(path, "mjpeg", 64, 48, 6, false);
    AviToGifOptions o = optionsFor(path);
    FrameTable table(GifFrameTableSize);
    TGIFDocument built;
    RecordingObserver observer;
    ASSERT_EQ(convertAviToGif(o, table, built, observer).frames, 6);

    TGIFDocument expected;
    expected.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    expected.SetDitherKind(GifDitherKind::FloydSteinberg);
    FrameReader reader;
    reader.open(path);
    for (int i = 0; i < 6; ++i) {
        Bitmap frame;
        frame.SetPixelFormat(PixelFormat::Bits24);
        frame.SetSize(64, 48);
        frame.Canvas().Draw(0, 0, *reader.frame(i));
        int j = expected.AddFrame(frame);
        TGIFSubImage& sub = expected.Frame(j);
        if (j == 0)
            sub.Extensions().Append(std::make_unique<TGIFAppExtNSLoop>(&sub));
        auto control = std::make_unique<TGIFGraphicControlExtension>(&sub);
        control->SetDelayHundredths(10);
        sub.Extensions().Append(std::move(control));
    }
    std::vector<uint8_t> bytes = saved(built);
    EXPECT_EQ(bytes, saved(expected));
    // Reduced on one thread or several, into the document or streamed into a file (compressed on
    // the workers, going backward through a spill file), the GIF is the same, byte for byte;
    // scaled and cropped too.
    for (const bool scaled : {false, true}) {
        for (Direction direction : {Direction::Forward, Direction::Backward}) {
            SCOPED_TRACE(std::string(scaled ? "scaled " : "") +
                         (direction == Direction::Forward ? "forward" : "backward"));
            AviToGifOptions sequential = o;
            sequential.direction = direction;
            if (scaled) {
                sequential.crop = {3, 5, 61, 40};
                sequential.baseWidth = 58;
                sequential.baseHeight = 35;
                sequential.sizeMode = GifSizeMode::Scale;
                sequential.scaleIndex = 6; // 1:3, each pixel the mean of its 3 x 3 block
            }
            sequential.threads = 1;
            AviToGifOptions parallel = sequential;
            parallel.threads = 3;
            TGIFDocument one, several;
            ASSERT_EQ(convertAviToGif(sequential, table, one, observer).frames, 6);
            ASSERT_EQ(convertAviToGif(parallel, table, several, observer).frames, 6);
            const std::vector<uint8_t> reference = saved(one);
            EXPECT_EQ(saved(several), reference);
            for (int threads : {1, 3}) {
                AviToGifOptions streamed = sequential;
                streamed.threads = threads;
                MemoryStream out;
                const AviToGifResult r = streamAviToGif(streamed, out, observer, dir.path());
                EXPECT_EQ(r.frames, 6);
                EXPECT_EQ(out.bytes(), reference) << threads << " threads";
            }
        }
    }
    DecodedGif gif = decodeGif(bytes);
    EXPECT_EQ(gif.frames, 6);
    EXPECT_EQ(gif.delays, std::vector<int>(6, 10));
}

TEST(CliGif, ConvertsAndRefusesWithoutWriting) {
    ScratchDir dir;
    std::string video = solidFramesAvi(dir, 32, 24, 12);
    std::string cli = shellQuoted(KELVARA_CLI_PATH);
    std::string out = dir.file("out.gif");
    ProcessResult r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(out) +
                                 " --width 16 --delay 90 --backward --step 2");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "kelvara-cli gif: wrote " + out + ": Size: 16 x 12 pixels  Frames: 6\n");
    DecodedGif gif = decodeGif(readFile(out));
    EXPECT_EQ(gif.frames, 6);
    EXPECT_EQ(gif.width, 16);
    EXPECT_EQ(gif.delays, std::vector<int>(6, 9)); // 90 ms
    r = runProcess("identify " + shellQuoted(out) + " | wc -l");
    EXPECT_EQ(r.out, "6\n");

    // An existing file stays without --overwrite; refusals write nothing.
    r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(out));
    EXPECT_EQ(r.exitCode, 1);
    std::string other = dir.file("other.gif");
    for (const char* bad : {"--frames 5-4", "--crop 0,0,40,10", "--scale 1:6", "--frames 3",
                            "--frames 1-2 --time 0-1", "--scale 1:2 --size 3x3", "--delay 9000"}) {
        r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(other) + " " + bad);
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_FALSE(std::filesystem::exists(other));
    }
    // A crop sets the base size; a scale works on it.
    r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(other) +
                   " --crop 2,2,22,12 --scale 1:2 --frames 1-2");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "kelvara-cli gif: wrote " + other + ": Size: 10 x 5 pixels  Frames: 2\n");
}
