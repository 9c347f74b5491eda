// Tests of the ordered pipeline the GIF jobs run on: order, the bounded window, the first error in
// order, and the stream writer's file against the document's.
#include "convert/GifFramePipeline.h"
#include "gif/GifDocument.h"
#include "gif/GifStreamWriter.h"
#include "raster/Error.h"
#include "raster/OrderedPipeline.h"
#include "raster/Stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using namespace kelvara;

namespace {

struct Numbered {
    int number = 0;
    int square = 0;
};

// Takes every item, waiting as long as it takes.
std::vector<Numbered> drain(OrderedPipeline<Numbered>& pipeline) {
    std::vector<Numbered> out;
    while (pipeline.inFlight() > 0)
        if (auto item = pipeline.takeNext(std::chrono::milliseconds(50)))
            out.push_back(*item);
    return out;
}

} // namespace

TEST(OrderedPipeline, ItemsComeOutInOrderAndTheWindowBoundsThem) {
    std::atomic<int> working{0}, mostWorking{0};
    std::mt19937 random(7);
    std::vector<int> delays(200);
    for (int& d : delays)
        d = int(random() % 300);
    OrderedPipeline<Numbered> pipeline(4, 6, [&](Numbered& item) {
        const int now = ++working;
        for (int seen = mostWorking; now > seen && !mostWorking.compare_exchange_weak(seen, now);) {
        }
        // Items finish out of order: later ones are often quicker.
        std::this_thread::sleep_for(std::chrono::microseconds(delays[size_t(item.number)]));
        item.square = item.number * item.number;
        --working;
    });
    std::vector<Numbered> out;
    for (int i = 0; i < 200; ++i) {
        while (pipeline.full())
            if (auto item = pipeline.takeNext(std::chrono::milliseconds(50)))
                out.push_back(*item);
        EXPECT_LE(pipeline.inFlight(), 6);
        pipeline.submit({i, 0});
    }
    for (const Numbered& item : drain(pipeline))
        out.push_back(item);
    ASSERT_EQ(out.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(out[size_t(i)].number, i);
        EXPECT_EQ(out[size_t(i)].square, i * i);
    }
    EXPECT_LE(mostWorking.load(), 4);
}

TEST(OrderedPipeline, TheFirstErrorInOrderReachesTheCaller) {
    // Item 5 fails slowly, item 7 at once: the items before 5 come out, then 5's error.
    OrderedPipeline<Numbered> pipeline(3, 10, [](Numbered& item) {
        if (item.number == 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            throw Error("five");
        }
        if (item.number == 7)
            throw Error("seven");
    });
    for (int i = 0; i < 10; ++i)
        pipeline.submit({i, 0});
    std::vector<int> taken;
    try {
        for (;;)
            if (auto item = pipeline.takeNext(std::chrono::milliseconds(100)))
                taken.push_back(item->number);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "five");
    }
    EXPECT_EQ(taken, (std::vector<int>{0, 1, 2, 3, 4}));
}

// The GIF pipeline delivers frames in order, compressed when asked, and a failing reduce stage
// reaches the caller from add() or finish().
TEST(GifFramePipeline, DeliversInOrderAndCarriesTheFirstError) {
    struct : JobObserver {
        void setProgressRange(int, int) override {}
        void setProgressPosition(int) override {}
    } observer;
    std::vector<std::unique_ptr<Bitmap>> frames;
    for (int i = 0; i < 12; ++i) {
        auto b = std::make_unique<Bitmap>();
        b->SetSize(5 + i, 3);
        b->Canvas().Brush.Color = rgbColor(20 * i, 255 - 20 * i, 7 * i);
        b->Canvas().FillRect({0, 0, 5 + i, 3});
        frames.push_back(std::move(b));
    }
    GifPipelineOptions options;
    options.threads = 3;
    options.encode = true;
    std::vector<int> widths;
    std::vector<std::vector<uint8_t>> images;
    {
        GifFramePipeline pipeline(
            options,
            [&](GifPipelineFrame& frame) {
                widths.push_back(frame.reduced.width);
                images.push_back(frame.image);
            },
            observer);
        for (const auto& b : frames)
            pipeline.add(*b);
        EXPECT_EQ(pipeline.finish(GifFramePipeline::AbortRule::Stop), 12);
    }
    ASSERT_EQ(widths.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(widths[size_t(i)], 5 + i);
        // The bytes a document writes for the same frame.
        MemoryStream expected;
        writeReducedFrame(expected,
                          reduceFrame(*frames[size_t(i)], GifReductionMode::QuantizeWithSystemColors,
                                      GifDitherKind::FloydSteinberg, 8),
                          8);
        EXPECT_EQ(images[size_t(i)], expected.bytes()) << i;
    }

    options.reducer = [](const Bitmap& b, uint64_t) -> ReducedFrame {
        if (b.Width() == 9)
            throw Error("no palette for this one");
        return reduceFrame(b, GifReductionMode::QuantizeWithSystemColors, GifDitherKind::FloydSteinberg, 8);
    };
    int delivered = 0;
    GifFramePipeline failing(
        options, [&](GifPipelineFrame&) { ++delivered; }, observer);
    try {
        for (const auto& b : frames)
            failing.add(*b);
        failing.finish(GifFramePipeline::AbortRule::Stop);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "no palette for this one");
    }
    EXPECT_EQ(delivered, 4); // the frames before it
}

// Frame by frame, the stream writer writes the document's file; without a frame it writes nothing
// and refuses as the document does.
TEST(GifStreamWriter, WritesTheDocumentsBytes) {
    TGIFDocument document;
    document.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    document.SetDitherKind(GifDitherKind::FloydSteinberg);
    MemoryStream streamed;
    GifStreamWriter writer(streamed, 7, 5, 8, 3, 25);
    for (int i = 0; i < 3; ++i) {
        Bitmap b;
        b.SetSize(7, 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                b.setPixel(x, y, rgbColor(30 * x + i, 40 * y, 90 * i));
        const int j = document.AddFrame(b);
        TGIFSubImage& frame = document.Frame(j);
        if (j == 0) {
            auto loop = std::make_unique<TGIFAppExtNSLoop>(&frame);
            loop->SetLoopCount(3);
            frame.Extensions().Append(std::move(loop));
        }
        auto control = std::make_unique<TGIFGraphicControlExtension>(&frame);
        control->SetDelayHundredths(25);
        frame.Extensions().Append(std::move(control));
        MemoryStream image;
        writeReducedFrame(
            image,
            reduceFrame(b, GifReductionMode::QuantizeWithSystemColors, GifDitherKind::FloydSteinberg, 8), 8);
        writer.writeFrame(image.bytes().data(), image.bytes().size());
    }
    writer.finish();
    MemoryStream saved;
    document.SaveToStream(saved);
    EXPECT_EQ(streamed.bytes(), saved.bytes());

    MemoryStream empty;
    GifStreamWriter none(empty, 7, 5, 8, 0, 10);
    EXPECT_THROW(none.finish(), GIFException);
    EXPECT_TRUE(empty.bytes().empty());
}
