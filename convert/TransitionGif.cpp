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

    void addFrame(const Bitmap& frame, int, int) override { m_pipeline.add(frame); }

private:
    GifFramePipeline& m_pipeline;
};

} // namespace

TransitionRunResult buildTransitionGif(TransitionTab& tab, FrameTable& table, TGIFDocument& built,
                                       JobObserver& observer, int threads, const GifBuildOptions& build) {
    auto document = std::make_unique<TGIFDocument>();
    document->SetReductionMode(reductionModeFor(build.quality));
    document->SetDitherKind(GifDitherKind::FloydSteinberg);
    GifPipelineOptions options;
    options.threads = threads;
    options.reducer = qualityReducer(build);
    GifFramePipeline pipeline(
        options, [&](GifPipelineFrame& frame) { document->addReducedFrame(std::move(frame.reduced)); },
        observer);
    PipelineFrameSink sink(pipeline);
    TransitionRunResult result = runTransition(tab, table, sink, observer);
    // An aborted run keeps every frame it rendered, unless the program is closing.
    const int frames =
        pipeline.finish(result.aborted && !observer.closing() ? GifFramePipeline::AbortRule::Ignore
                                                              : GifFramePipeline::AbortRule::Stop);
    // Every frame of a run has the same delay.
    for (int i = 0; i < document->FrameCount(); ++i)
        appendAnimationBlocks(document->Frame(i), i, 0, static_cast<uint16_t>(result.delayHundredths));
    if (frames < result.frames) {
        result.frames = frames;
        result.aborted = true;
        tab.builtFrameCount = frames;
    }
    if (build.optimize)
        optimizeFrames(*document, pipelineThreads(threads));
    built.Take(*document);
    return result;
}

} // namespace kelvara
