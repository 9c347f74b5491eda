// Tests of the transition job: the duration and delay rules, the image sources and the GIF size
// they grow, and the frame loop with its table, sink, progress and abort.
#include "convert/TransitionJob.h"

#include "support/AviWriter.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace kelvara;
using namespace kelvara::test;

namespace {

// Keeps a copy of every frame the run hands on, with its index and delay.
class RecordingSink : public TransitionFrameSink {
public:
    struct Frame {
        int index;
        int delay;
        std::vector<uint8_t> bgr;
    };
    std::vector<Frame> frames;
    void addFrame(const Bitmap& frame, int index, int delay) override {
        frames.push_back({index, delay, bgrBytes(frame)});
    }
};

// Records progress and asks for an abort at a given pump.
class TestObserver : public JobObserver {
public:
    int maximum = -1;
    std::vector<int> positions;
    int pumps = 0;
    int abortAtPump = -1;
    void setProgressRange(int, int max) override { maximum = max; }
    void setProgressPosition(int position) override { positions.push_back(position); }
    void pumpMessages() override { ++pumps; }
    bool abortRequested() override { return pumps == abortAtPump; }
};

void writePpm(const std::string& path, int width, int height, Color color) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (int i = 0; i < width * height; ++i) {
        const char rgb[3] = {char(redOf(color)), char(greenOf(color)), char(blueOf(color))};
        out.write(rgb, 3);
    }
}

} // namespace

TEST(TransitionJob, DurationFromTypedText) {
    const std::pair<const char*, int> cases[] = {{"1000", 1000}, {"9", 10},  {"6000", 5000}, {"abc", 1000},
                                                 {"", 1000},     {"-5", 10}, {"250", 250},   {"12x", 1000}};
    for (auto [text, expected] : cases)
        EXPECT_EQ(transitionDurationFromText(text), expected) << text;
}

TEST(TransitionJob, DelayIsTruncatedAndAtLeastOne) {
    EXPECT_EQ(transitionDelay(1000, 10), 10);
    EXPECT_EQ(transitionDelay(10, 50), 1); // 0.02 becomes 1
    EXPECT_EQ(transitionDelay(1000, 3), 33);
    EXPECT_EQ(transitionDelay(5000, 1), 500);
}

TEST(TransitionJob, FrameNumberClampsToTheFirstFrame) {
    EXPECT_EQ(transitionFrameNumber("7", 250), 7);
    EXPECT_EQ(transitionFrameNumber("250", 250), 250);
    EXPECT_EQ(transitionFrameNumber("251", 250), 1);
    EXPECT_EQ(transitionFrameNumber("0", 250), 1);
    EXPECT_EQ(transitionFrameNumber("-3", 250), 1);
    EXPECT_EQ(transitionFrameNumber("seven", 250), 1);
}

TEST(TransitionJob, DefaultRunGivesElevenFramesWithDelayTen) {
    TransitionTab tab;
    FrameTable table(TransitionFrameTableSize);
    RecordingSink sink;
    TestObserver observer;
    const TransitionRunResult result = runTransition(tab, table, sink, observer);
    EXPECT_EQ(result.frames, 11);
    EXPECT_EQ(tab.builtFrameCount, 11);
    EXPECT_EQ(result.delayHundredths, 10);
    EXPECT_EQ(result.width, 10);
    EXPECT_EQ(result.height, 10);
    EXPECT_EQ(observer.maximum, 11);
    ASSERT_EQ(sink.frames.size(), 11u);
    for (int i = 0; i <= 10; ++i) {
        EXPECT_EQ(sink.frames[size_t(i)].index, i);
        EXPECT_EQ(sink.frames[size_t(i)].delay, 10);
        // Entry i + 1 of the table holds frame i.
        EXPECT_EQ(bgrBytes(table.entry(i + 1)), sink.frames[size_t(i)].bgr);
    }
    // The progress runs 1..11, then to the maximum and back to 0.
    EXPECT_EQ(observer.positions.back(), 0);
    EXPECT_EQ(observer.positions[observer.positions.size() - 2], 11);
}

TEST(TransitionJob, RunDrawsThePicturesOnTheirBackgroundsAndEndsOnTheTarget) {
    ScratchDir dir;
    TransitionTab tab;
    writePpm(dir.file("small.ppm"), 4, 3, rgbColor(200, 10, 10));
    writePpm(dir.file("large.ppm"), 30, 20, rgbColor(10, 200, 10));
    ASSERT_TRUE(openTransitionPicture(tab, TransitionSideKind::Source, dir.file("small.ppm")));
    ASSERT_TRUE(openTransitionPicture(tab, TransitionSideKind::Target, dir.file("large.ppm")));
    EXPECT_EQ(tab.gifWidth, 30);
    EXPECT_EQ(tab.gifHeight, 20);
    // A smaller GIF size typed afterwards cuts the larger picture at the right and bottom.
    tab.spinWidth = 12;
    tab.spinHeight = 9;
    tab.sourceSide.background = rgbColor(1, 2, 3);
    tab.targetSide.background = rgbColor(4, 5, 6);
    tab.steps = 2;
    FrameTable table(TransitionFrameTableSize);
    RecordingSink sink;
    TestObserver observer;
    runTransition(tab, table, sink, observer);
    ASSERT_EQ(sink.frames.size(), 3u);
    const Bitmap& first = table.entry(1);
    ASSERT_EQ(first.Width(), 12);
    ASSERT_EQ(first.Height(), 9);
    EXPECT_EQ(first.pixel(3, 2), rgbColor(200, 10, 10));
    EXPECT_EQ(first.pixel(4, 2), rgbColor(1, 2, 3)); // the source background round the picture
    EXPECT_EQ(first.pixel(0, 3), rgbColor(1, 2, 3));
    const Bitmap& last = table.entry(3);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(last.pixel(x, y), rgbColor(10, 200, 10)) << x << "," << y;
}

TEST(TransitionJob, AbortAfterARenderedFrameKeepsTheFramesBefore) {
    // Each stored frame pumps twice; the pump after frame 3 is rendered is the seventh.
    TransitionTab tab;
    FrameTable table(TransitionFrameTableSize);
    RecordingSink sink;
    TestObserver observer;
    observer.abortAtPump = 7;
    const TransitionRunResult result = runTransition(tab, table, sink, observer);
    EXPECT_TRUE(result.aborted);
    EXPECT_EQ(result.frames, 3);
    EXPECT_EQ(tab.builtFrameCount, 3);
    EXPECT_EQ(sink.frames.size(), 3u);
    EXPECT_EQ(observer.positions.back(), 0);
}

TEST(TransitionJob, GifSizeGrowsNeverShrinksAndBothEmptyResets) {
    ScratchDir dir;
    writePpm(dir.file("wide.ppm"), 640, 480, ColorBlack);
    writePpm(dir.file("small.ppm"), 100, 100, ColorBlack);
    TransitionTab tab;
    openTransitionPicture(tab, TransitionSideKind::Source, dir.file("wide.ppm"));
    EXPECT_EQ(tab.gifWidth, 640);
    EXPECT_EQ(tab.gifHeight, 480);
    EXPECT_EQ(tab.sourceSide.sizeLabel, "Size: 640x480");
    EXPECT_TRUE(tab.sourceSide.sizeLabelVisible);
    EXPECT_FALSE(tab.sourceSide.emptyToggleDown);
    openTransitionPicture(tab, TransitionSideKind::Target, dir.file("small.ppm"));
    EXPECT_EQ(tab.spinWidth, 640);
    EXPECT_EQ(tab.spinHeight, 480);

    // "Empty image" on one side while the other is not empty keeps the size.
    setTransitionEmptyPicture(tab, TransitionSideKind::Target, true);
    EXPECT_EQ(tab.gifWidth, 640);
    // Now the other side's toggle is down: back to 10 x 10.
    setTransitionEmptyPicture(tab, TransitionSideKind::Source, true);
    EXPECT_EQ(tab.gifWidth, 10);
    EXPECT_EQ(tab.gifHeight, 10);
    EXPECT_EQ(tab.spinWidth, 10);
    EXPECT_EQ(tab.spinHeight, 10);
}

TEST(TransitionJob, EmptyPictureKeepsTheColourOfItsMoment) {
    TransitionTab tab;
    tab.sourceSide.background = rgbColor(9, 8, 7);
    setTransitionEmptyPicture(tab, TransitionSideKind::Source, true);
    tab.sourceSide.background = rgbColor(50, 60, 70);
    EXPECT_EQ(tab.sourceSide.picture.Width(), 192);
    EXPECT_EQ(tab.sourceSide.picture.Height(), 136);
    EXPECT_EQ(tab.sourceSide.picture.pixel(191, 135), rgbColor(9, 8, 7));
    EXPECT_EQ(tab.sourceSide.sizeLabel, "Size: ");
    EXPECT_FALSE(tab.sourceSide.sizeLabelVisible);
    EXPECT_EQ(tab.surfaces.source.Width(), 1);
    // A run of 200 x 150 draws the old colour's 192 x 136 over the new colour.
    tab.spinWidth = 200;
    tab.spinHeight = 150;
    FrameTable table(TransitionFrameTableSize);
    RecordingSink sink;
    TestObserver observer;
    runTransition(tab, table, sink, observer);
    EXPECT_EQ(table.entry(1).pixel(191, 135), rgbColor(9, 8, 7));
    EXPECT_EQ(table.entry(1).pixel(192, 135), rgbColor(50, 60, 70));
}

TEST(TransitionJob, UnknownExtensionGoesOnWithTheHoldersPicture) {
    ScratchDir dir;
    writePpm(dir.file("first.ppm"), 20, 10, rgbColor(1, 1, 1));
    TransitionTab tab;
    openTransitionPicture(tab, TransitionSideKind::Target, dir.file("first.ppm"));
    EXPECT_FALSE(openTransitionPicture(tab, TransitionSideKind::Target, dir.file("notes.txt")));
    EXPECT_EQ(tab.targetSide.picture.Width(), 20);
    EXPECT_EQ(tab.targetSide.sizeLabel, "Size: 20x10");
}

TEST(TransitionJob, VideoFrameSourceTakesFrameNAndTheVideoSize) {
    ScratchDir dir;
    AviFixture avi;
    avi.width = 16;
    avi.height = 12;
    for (int f = 0; f < 5; ++f)
        avi.frames.push_back(dibBits24(16, 12, [f](int, int) { return rgbColor(f * 40, 0, 0); }));
    const std::string video = dir.file("clip.avi");
    writeAvi(video, avi);
    TransitionTab tab;
    openTransitionVideoFrame(tab, TransitionSideKind::Source, video, transitionFrameNumber("3", 5));
    EXPECT_EQ(tab.sourceSide.picture.pixel(0, 0), rgbColor(80, 0, 0));
    EXPECT_EQ(tab.sourceSide.sizeLabel, "Size: 16x12");
    EXPECT_EQ(tab.gifWidth, 16);
    EXPECT_EQ(tab.gifHeight, 12);
    openTransitionVideoFrame(tab, TransitionSideKind::Target, video, transitionFrameNumber("0", 5));
    EXPECT_EQ(tab.targetSide.picture.pixel(0, 0), rgbColor(0, 0, 0));
}

// The run's memory is known from its size and steps: one that would go past the budget is
// refused before a surface is made; the largest one that fits runs.
TEST(TransitionJob, RefusesARunPastTheMemoryBudget) {
    TransitionTab tab;
    FrameTable table(TransitionFrameTableSize);
    RecordingSink sink;
    TestObserver observer;
    tab.spinWidth = tab.spinHeight = 10000;
    tab.steps = 1;
    EXPECT_GT(transitionMemoryNeeded(10000, 10000, 1), TransitionMemoryBudget);
    try {
        runTransition(tab, table, sink, observer);
        ADD_FAILURE() << "ran";
    } catch (const Error& e) {
        EXPECT_EQ(e.what(), transitionTooLargeMessage(10000, 10000, 1));
        EXPECT_NE(std::string(e.what()).find("2 frames of 10000 x 10000 pixels"), std::string::npos);
    }
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_TRUE(tab.surfaces.output.Empty());
    // 51 frames of 2000 x 2000 fit; 51 frames of 2300 x 2300 do not.
    EXPECT_LE(transitionMemoryNeeded(2000, 2000, 50), TransitionMemoryBudget);
    EXPECT_GT(transitionMemoryNeeded(2300, 2300, 50), TransitionMemoryBudget);
}

TEST(TransitionJob, RefusesAnEmptySizeAndStepsOutOfRange) {
    TransitionTab tab;
    FrameTable table(TransitionFrameTableSize);
    RecordingSink sink;
    TestObserver observer;
    tab.spinWidth = 0;
    try {
        runTransition(tab, table, sink, observer);
        ADD_FAILURE() << "ran";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), TransitionMessages::EmptySize);
    }
    tab.spinWidth = 10;
    tab.steps = 51;
    try {
        runTransition(tab, table, sink, observer);
        ADD_FAILURE() << "ran";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), TransitionMessages::StepsOutOfRange);
    }
    EXPECT_TRUE(sink.frames.empty());
}

TEST(TransitionJob, ZoomFramesReduceAsTheRunLeavesTheContext) {
    // A checkerboard target scaled to half: CenterZoom1 averages each 2 x 2 block (the output's
    // context is new after each frame is handed on), CenterZoom2's Draw of the target sets the
    // dropping mode.
    auto checker = [](Bitmap& b) {
        b.SetPixelFormat(PixelFormat::Bits24);
        b.SetSize(8, 8);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                b.setPixel(x, y, ((x + y) % 2) ? ColorBlack : ColorWhite);
    };
    for (int effect : {22, 23}) {
        TransitionTab tab;
        tab.effect = effect;
        tab.steps = 2;
        tab.spinWidth = tab.spinHeight = 8;
        checker(effect == 22 ? tab.targetSide.picture : tab.sourceSide.picture);
        FrameTable table(TransitionFrameTableSize);
        RecordingSink sink;
        TestObserver observer;
        runTransition(tab, table, sink, observer);
        const Color expected = effect == 22 ? rgbColor(128, 128, 128) : ColorWhite;
        for (int y = 2; y < 6; ++y)
            for (int x = 2; x < 6; ++x)
                ASSERT_EQ(table.entry(2).pixel(x, y), expected) << effect << " " << x << "," << y;
    }
}
