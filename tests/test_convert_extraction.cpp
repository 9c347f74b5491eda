// Tests of the frame extraction job.
#include "convert/FrameExtraction.h"
#include "support/AviWriter.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

using namespace kelvara;
using namespace kelvara::test;

namespace {

Color frameColor(int i) {
    return rgbColor(i & 0xFF, (i * 5) & 0xFF, 200);
}

std::string solidFrames(const ScratchDir& dir, int w, int h, int count) {
    AviFixture f;
    f.width = w;
    f.height = h;
    for (int i = 0; i < count; ++i)
        f.frames.push_back(
            dibBits24(w, h, [&](int x, int) { return x == 0 ? frameColor(i + 1) : ColorWhite; }));
    std::string path = dir.file("frames" + std::to_string(count) + ".avi");
    writeAvi(path, f);
    return path;
}

struct Recorder : JobObserver {
    std::vector<int> positions;
    int maximum = -1, pumps = 0, abortAtPump = -1;
    void setProgressRange(int, int max) override { maximum = max; }
    void setProgressPosition(int p) override { positions.push_back(p); }
    void pumpMessages() override { ++pumps; }
    bool abortRequested() override { return abortAtPump >= 0 && pumps >= abortAtPump; }
};

} // namespace

TEST(FrameExtraction, RangesOfOneOrMoreThan256FramesAreRefused) {
    ScratchDir dir;
    std::string video = solidFrames(dir, 1, 1, 300);
    FrameTable table(ExtractionFrameTableSize);
    Recorder observer;
    FrameExtractionOptions o{video, 7, 7, 1, 1, {}, {}, {}};
    FrameExtractionResult r = extractFrames(o, table, observer);
    EXPECT_EQ(r.outcome, FrameExtractionOutcome::Warning);
    EXPECT_EQ(r.message, FrameExtractionMessages::WrongRange);
    o.lastFrame = 6;
    EXPECT_EQ(extractFrames(o, table, observer).message, FrameExtractionMessages::WrongRange);
    o.firstFrame = 1;
    o.lastFrame = 300; // "All frames" on a 300-frame video
    EXPECT_EQ(extractFrames(o, table, observer).message, FrameExtractionMessages::TooManyFrames);
    o.lastFrame = 257;
    EXPECT_EQ(extractFrames(o, table, observer).message, FrameExtractionMessages::TooManyFrames);
    EXPECT_TRUE(observer.positions.empty()); // nothing was started
    o.firstFrame = 45;
    o.lastFrame = 300;
    std::vector<std::string> items;
    o.frameAdded = [&](int, int64_t n) { items.push_back(frameItemText(n)); };
    r = extractFrames(o, table, observer);
    ASSERT_EQ(r.outcome, FrameExtractionOutcome::Extracted);
    EXPECT_EQ(r.frames, 256);
    EXPECT_EQ(items.front(), "Frame 45");
    EXPECT_EQ(items.back(), "Frame 300");
    EXPECT_EQ(table.entry(256).pixel(0, 0), frameColor(300));
}

TEST(FrameExtraction, SizeIsReadForEachFrameAndProgressMovesByOne) {
    ScratchDir dir;
    std::string video = solidFrames(dir, 4, 2, 5);
    FrameTable table(ExtractionFrameTableSize);
    Recorder observer;
    int calls = 0;
    FrameExtractionOptions o{video,
                             2,
                             5,
                             4,
                             2,
                             [&](int& w, int& h) {
                                 // The size changes while extracting: later frames take it.
                                 w = ++calls <= 2 ? 4 : 2;
                                 h = 2;
                             },
                             {},
                             {}};
    FrameExtractionResult r = extractFrames(o, table, observer);
    EXPECT_EQ(r.frames, 4);
    EXPECT_EQ(observer.maximum, 5);
    EXPECT_EQ(observer.positions, (std::vector<int>{0, 1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(table.entry(1).Width(), 4);
    EXPECT_EQ(table.entry(3).Width(), 2);
    // Halving the width averages the first column's colour with white.
    const Color c = frameColor(4);
    EXPECT_EQ(table.entry(3).pixel(0, 0),
              rgbColor((redOf(c) + 256) / 2, (greenOf(c) + 256) / 2, (blueOf(c) + 256) / 2));
    EXPECT_EQ(table.entry(1).pixel(0, 0), frameColor(2));
}

TEST(FrameExtraction, AbortAndMissingFramesKeepWhatWasRead) {
    ScratchDir dir;
    std::string video = solidFrames(dir, 2, 2, 10);
    FrameTable table(ExtractionFrameTableSize);
    Recorder observer;
    observer.abortAtPump = 4; // the pump before the 4th frame
    FrameExtractionOptions o{video, 1, 10, 2, 2, {}, {}, {}};
    FrameExtractionResult r = extractFrames(o, table, observer);
    EXPECT_EQ(r.outcome, FrameExtractionOutcome::Extracted);
    EXPECT_EQ(r.frames, 3);
    EXPECT_EQ(r.run.asked, 10);
    EXPECT_EQ(r.run.read, 3);
    EXPECT_EQ(r.run.end, FrameRunEnd::Aborted);
    // A range past the end of the video ends quietly at the last frame; the result tells the
    // caller where the video ended.
    Recorder plain;
    FrameExtractionOptions past{video, 8, 20, 2, 2, {}, {}, {}};
    r = extractFrames(past, table, plain);
    EXPECT_EQ(r.frames, 3);
    EXPECT_EQ(table.entry(3).pixel(0, 0), frameColor(10));
    EXPECT_TRUE(r.run.isShort());
    EXPECT_EQ(r.run.asked, 13);
    EXPECT_EQ(r.run.read, 3);
    EXPECT_EQ(r.run.end, FrameRunEnd::VideoEnded);
    EXPECT_EQ(r.run.stoppedAt, 11);
    // The whole video: a complete run.
    FrameExtractionOptions all{video, 1, 10, 2, 2, {}, {}, {}};
    r = extractFrames(all, table, plain);
    EXPECT_EQ(r.run.read, 10);
    EXPECT_EQ(r.run.end, FrameRunEnd::Complete);
    EXPECT_FALSE(r.run.isShort());
}

TEST(FrameExtraction, ThumbnailsFitTheRow) {
    const Rect row{0, 0, 300, 74}; // inner height 72
    struct {
        int w, h;
        Rect expected;
        bool scaled;
    } cases[] = {
        {200, 50, {3, 18, 153, 55}, true},                                   // 150 x 37
        {100, 60, {2, 7, 102, 67}, false},                                   // unscaled
        {160, 120, {3, 2, 96, 72}, true},                                    // 93 x 70
        {150, 70, {2, 2, 152, 72}, false}, {151, 70, {3, 2, 153, 71}, true}, // wider than 150/70: 150 x 69
    };
    for (const auto& c : cases) {
        ThumbnailPlacement p = thumbnailPlacement(row, c.w, c.h);
        EXPECT_EQ(p.rect, c.expected) << c.w << " x " << c.h;
        EXPECT_EQ(p.scaled, c.scaled) << c.w << " x " << c.h;
    }
}
