// The one GIF job: the sink its policy picks, and the fallbacks between them.
#include "convert/GifJob.h"
#include "convert/JobMemory.h"
#include "gif/GifDocument.h"
#include "raster/FrameTable.h"
#include "raster/Stream.h"
#include "support/AviWriter.h"
#include "support/GifDecode.h"
#include "support/GifJobSupport.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

using namespace kelvara;
using namespace kelvara::test;

namespace {

std::string movingAvi(const ScratchDir& dir, int w, int h, int count) {
    AviFixture f;
    f.width = w;
    f.height = h;
    for (int i = 0; i < count; ++i)
        f.frames.push_back(dibBits24(w, h, [&](int x, int y) {
            return x >= i * 3 && x < i * 3 + 4 ? rgbColor(250, 20, 20) : rgbColor(x * 7, y * 5, 90);
        }));
    const std::string path = dir.file("moving.avi");
    writeAvi(path, f);
    return path;
}

// A memory stream that tells whether the job opened it.
struct MemoryTarget : GifStreamTarget {
    MemoryStream bytes;
    int opened = 0;
    int finished = 0;
    Stream& open() override {
        ++opened;
        return bytes;
    }
    void finish() override { ++finished; }
};

struct QuietObserver : JobObserver {
    void setProgressRange(int, int) override {}
    void setProgressPosition(int) override {}
};

} // namespace

TEST(GifJob, ThePolicyPicksTheSinkAndFallsBackToTheStream) {
    ScratchDir dir;
    const AviToGifOptions base = optionsFor(movingAvi(dir, 32, 24, 6));
    enum Case { Plain, Optimize, OptimizeBackward, Fit };
    const struct {
        Case what;
        GifSinkPolicy policy;
        int64_t maxFramesInMemory;
        GifSink sink;
        AviToGifOutcome outcome;
        int opened;
    } cases[] = {
        // Nothing needs the frames whole: written as it is made.
        {Plain, GifSinkPolicy::Streaming, 256, GifSink::Stream, AviToGifOutcome::Built, 1},
        // Stored as changes: whole while the frames are few enough to keep, else streamed.
        {Optimize, GifSinkPolicy::Streaming, 256, GifSink::Document, AviToGifOutcome::Built, 0},
        {Optimize, GifSinkPolicy::Streaming, 4, GifSink::Stream, AviToGifOutcome::Built, 1},
        // Going backward they must be kept: the refusal is the answer, the stream never opened.
        {OptimizeBackward, GifSinkPolicy::Streaming, 4, GifSink::Document, AviToGifOutcome::Warning, 0},
        {Fit, GifSinkPolicy::Streaming, 256, GifSink::SizeFitted, AviToGifOutcome::Built, 0},
        // The desktop's policy never streams.
        {Plain, GifSinkPolicy::InMemory, 256, GifSink::Document, AviToGifOutcome::Built, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(&c - cases));
        GifJobRequest request;
        request.options = base;
        request.options.limitRule = FrameLimitRule::AfterStep;
        request.options.build.optimize = c.what == Optimize || c.what == OptimizeBackward;
        if (c.what == OptimizeBackward)
            request.options.direction = Direction::Backward;
        if (c.what == Fit) {
            GifSizeFitOptions fit;
            fit.limit = 1'000'000;
            request.fit = fit;
        }
        request.policy = c.policy;
        request.maxFramesInMemory = c.maxFramesInMemory;
        TGIFDocument built;
        request.built = &built;
        MemoryTarget target;
        request.stream = &target;
        QuietObserver observer;
        const GifJobResult result = runGifJob(request, observer);
        EXPECT_EQ(result.sink, c.sink);
        EXPECT_EQ(result.job.outcome, c.outcome) << result.job.message;
        EXPECT_EQ(target.opened, c.opened);
        EXPECT_EQ(target.finished, c.opened);
        if (c.outcome != AviToGifOutcome::Built)
            continue;
        std::vector<uint8_t> bytes = target.bytes.bytes();
        if (c.sink == GifSink::SizeFitted) {
            ASSERT_TRUE(result.fitted.fits);
            bytes = result.fitted.file;
        } else if (c.sink == GifSink::Document) {
            MemoryStream saved;
            built.SaveToStream(saved);
            bytes = saved.bytes();
        }
        const GiflibImage gif = decodeWithGiflib(bytes);
        EXPECT_EQ(gif.frames.size(), 6u);
        EXPECT_EQ(gif.screenWidth, 32);
        EXPECT_EQ(result.job.frames, 6);
    }
}

TEST(GifJob, FramesThatMustBeHeldAreRefusedForMemoryNotStreamed) {
    ScratchDir dir;
    GifJobRequest request;
    request.options = optionsFor(movingAvi(dir, 32, 24, 6));
    request.options.build.optimize = true;
    request.options.bounce = true;
    request.options.sizeMode = GifSizeMode::Specified;
    request.options.specifiedWidth = 3000;
    request.options.specifiedHeight = 2250;
    request.options.memoryLimit = 300ull << 20;
    request.policy = GifSinkPolicy::Streaming;
    TGIFDocument built;
    request.built = &built;
    MemoryTarget target;
    request.stream = &target;
    QuietObserver observer;
    EXPECT_THROW(runGifJob(request, observer), MemoryLimitError);
    EXPECT_EQ(target.opened, 0);
    EXPECT_EQ(built.FrameCount(), 0);
}
