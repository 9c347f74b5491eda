// The transition job's GIF document.
#include "convert/TransitionGif.h"

#include "convert/GifFramePipeline.h"
#include "gif/GifDocument.h"
#include "gif/GifOptimize.h"

#include <memory>

namespace kelvara {

namespace {

// Hands each stored frame to the pipeline.
class PipelineFrameSink final : public TransitionFrameSink {
public:
    explicit PipelineFrameSink(GifFramePipeline& pipeline) : m_pipeline(pipeline) {}

    void addFrame(const Bitmap& frame, int, int delayHundredths) override {
        m_delay = delayHundredths;
        m_pipeline.add(frame);
    }
    int delay() const { return m_delay; }

private:
    GifFramePipeline& m_pipeline;
    int m_delay = 0;
};

} // namespace

TransitionRunResult buildTransitionGif(TransitionTab& tab, FrameTable& table, TGIFDocument& built,
                                       JobObserver& observer, int threads, const GifBuildOptions& build) {
    auto document = std::make_unique<TGIFDocument>();
    document->SetReductionMode(reductionModeFor(build.quality));
    document->SetDitherKind(GifDitherKind::FloydSteinberg);
    GifPipelineOptions options;
    options.threads = threads;
    options.reducer =
        documentReducer(document->ReductionMode(), document->DitherKind(), document->QuantizeBits());
    PipelineFrameSink* sinkPointer = nullptr;
    GifFramePipeline pipeline(
        options,
        [&](GifPipelineFrame& frame) {
            const int index = document->addReducedFrame(std::move(frame.reduced));
            TGIFSubImage& image = document->Frame(index);
            if (index == 0) {
                auto loop = std::make_unique<TGIFAppExtNSLoop>(&image);
                loop->SetLoopCount(0);
                image.Extensions().Append(std::move(loop));
            }
            auto control = std::make_unique<TGIFGraphicControlExtension>(&image);
            control->SetDelayHundredths(static_cast<uint16_t>(sinkPointer->delay()));
            image.Extensions().Append(std::move(control));
        },
        observer);
    PipelineFrameSink sink(pipeline);
    sinkPointer = &sink;
    TransitionRunResult result = runTransition(tab, table, sink, observer);
    const int frames = pipeline.finish(result.aborted ? GifFramePipeline::AbortRule::Ignore
                                                      : GifFramePipeline::AbortRule::Stop);
    if (frames < result.frames) {
        result.frames = frames;
        result.aborted = true;
        tab.builtFrameCount = frames;
    }
    if (build.optimize)
        optimizeFrames(*document);
    built.Assign(document.get());
    return result;
}

} // namespace kelvara
