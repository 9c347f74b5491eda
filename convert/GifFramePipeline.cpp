// The GIF jobs' frame pipeline.
#include "convert/GifFramePipeline.h"

#include "gif/GifDocument.h"
#include "gif/GifLossy.h"
#include "gif/GifTemporal.h"
#include "gif/GifTransparency.h"
#include "raster/Stream.h"

#include <thread>

namespace kelvara {

namespace {
// How long the caller's thread waits for a frame before it pumps its messages again.
constexpr std::chrono::milliseconds PumpInterval{25};
} // namespace

FrameReducer conversionReducer() {
    return documentReducer(GifReductionMode::QuantizeWithSystemColors, GifDitherKind::FloydSteinberg, 8);
}

FrameReducer documentReducer(GifReductionMode reductionMode, GifDitherKind ditherKind, int quantizeBits) {
    return [=](const Bitmap& frame, uint64_t) {
        return reduceFrame(frame, reductionMode, ditherKind, quantizeBits);
    };
}

FrameReducer qualityReducer(const GifBuildOptions& build) {
    if (build.quality == GifQuality::Classic) {
        if (build.lossy <= 0)
            return conversionReducer();
        const int lossy = build.lossy;
        return [lossy](const Bitmap& frame, uint64_t) {
            ReducedFrame reduced = reduceFrame(frame, GifReductionMode::QuantizeWithSystemColors,
                                               GifDitherKind::FloydSteinberg, 8);
            lossyIndices(reduced.indices, reduced.colors, lossy);
            return reduced;
        };
    }
    auto reducer = std::make_shared<GifTemporalReducer>(build.level, build.lossy);
    return [reducer](const Bitmap& frame, uint64_t sequence) { return reducer->reduce(sequence, frame); };
}

FrameReducer alphaReducer(FrameReducer reducer, FrameAlpha alpha) {
    if (alpha == FrameAlpha::Ignore)
        return reducer;
    return [reducer = std::move(reducer)](const Bitmap& frame, uint64_t sequence) {
        if (!frame.hasAlpha())
            return reducer(frame, sequence);
        ReducedFrame reduced = hasTransparentPixels(frame) ? reducer(*fillTransparentPixels(frame), sequence)
                                                           : reducer(frame, sequence);
        // Also a frame without transparent pixels: a player may clear a frame to the background
        // colour, not to nothing, when the frame names no transparent colour.
        reserveTransparentEntry(reduced, frame.alphaPlane());
        reduced.clearAfter = true;
        return reduced;
    };
}

int pipelineThreads(int threads) {
    if (threads > 0)
        return threads;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

GifFramePipeline::GifFramePipeline(GifPipelineOptions options, Deliver deliver, JobObserver& observer)
    : m_options(std::move(options)), m_deliver(std::move(deliver)), m_observer(observer) {
    const int threads = pipelineThreads(m_options.threads);
    const FrameReducer reducer = m_options.reducer;
    const bool encode = m_options.encode;
    const int emptyMapBits = m_options.emptyMapBits;
    m_pipeline = std::make_unique<OrderedPipeline<GifPipelineFrame>>(
        threads, 2 * threads + 2, [reducer, encode, emptyMapBits](GifPipelineFrame& frame) {
            frame.reduced = reducer(*frame.source, frame.sequence);
            if (encode) {
                MemoryStream bytes;
                writeReducedFrame(bytes, frame.reduced, emptyMapBits);
                frame.image = std::move(bytes.bytes());
                frame.reduced.indices = {}; // compressed now: give the memory back
            }
        });
}

GifFramePipeline::~GifFramePipeline() = default;

std::unique_ptr<Bitmap> GifFramePipeline::buffer() {
    if (!m_pool.empty()) {
        std::unique_ptr<Bitmap> b = std::move(m_pool.back());
        m_pool.pop_back();
        return b;
    }
    auto b = std::make_unique<Bitmap>();
    b->SetPixelFormat(PixelFormat::Bits24);
    return b;
}

void GifFramePipeline::add(const Bitmap& frame) {
    GifPipelineFrame item;
    item.source = std::make_unique<Bitmap>();
    item.source->Assign(frame);
    submit(std::move(item));
}

void GifFramePipeline::add(std::unique_ptr<Bitmap> frame) {
    GifPipelineFrame item;
    item.source = std::move(frame);
    item.pooled = true;
    submit(std::move(item));
}

void GifFramePipeline::submit(GifPipelineFrame frame) {
    frame.sequence = m_submitted++;
    while (m_pipeline->full())
        if (!deliverNext(PumpInterval))
            pumpJobMessages(m_observer);
    m_pipeline->submit(std::move(frame));
    while (deliverNext(std::chrono::milliseconds(0))) {
    }
}

bool GifFramePipeline::deliverNext(std::chrono::milliseconds wait) {
    std::optional<GifPipelineFrame> frame = m_pipeline->takeNext(wait);
    if (!frame)
        return false;
    m_deliver(*frame);
    ++m_delivered;
    if (frame->pooled && frame->source)
        m_pool.push_back(std::move(frame->source));
    return true;
}

bool GifFramePipeline::deliverOne() {
    while (m_pipeline->inFlight() > 0) {
        if (deliverNext(PumpInterval))
            return true;
        pumpJobMessages(m_observer);
    }
    return false;
}

int GifFramePipeline::finish(AbortRule rule) {
    while (m_pipeline->inFlight() > 0) {
        if (rule == AbortRule::Stop && m_observer.abortRequested())
            break;
        if (!deliverNext(PumpInterval))
            pumpJobMessages(m_observer);
    }
    m_pipeline->stop();
    return m_delivered;
}

} // namespace kelvara
