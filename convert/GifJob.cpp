// One AVI-to-GIF job: the sink chosen by a policy, with the fallbacks between them.
#include "convert/GifJob.h"

#include "convert/JobMemory.h"
#include "gif/GifDocument.h"
#include "raster/Error.h"
#include "raster/FrameTable.h"

#include <memory>

namespace kelvara {

namespace {

// The table and document of a GIF held whole: the caller's, or the job's own.
struct HeldFrames {
    std::unique_ptr<FrameTable> ownTable;
    FrameTable* table = nullptr;
    TGIFDocument* built = nullptr;

    explicit HeldFrames(const GifJobRequest& request) : table(request.table), built(request.built) {
        if (!built)
            throw Error("A GIF held in memory needs a document to go to.");
        if (!table) {
            ownTable = std::make_unique<FrameTable>(GifFrameTableSize);
            table = ownTable.get();
        }
    }
};

// Builds the GIF whole: fitted under the size when one is asked, else into the document.
GifJobResult runHeld(const GifJobRequest& request, const AviToGifOptions& options, HeldFrames& held,
                     JobObserver& observer) {
    GifJobResult result;
    if (request.fit) {
        result.sink = GifSink::SizeFitted;
        result.fitted = fitGifUnderSize(options, *request.fit, *held.table, *held.built, observer);
        result.job = result.fitted.job;
    } else {
        result.sink = GifSink::Document;
        result.job = convertAviToGif(options, *held.table, *held.built, observer);
    }
    return result;
}

GifJobResult runStreamed(const GifJobRequest& request, const AviToGifOptions& options,
                         JobObserver& observer) {
    if (!request.stream)
        throw Error("A GIF written as it is made needs a stream to go to.");
    GifJobResult result;
    result.sink = GifSink::Stream;
    Stream& out = request.stream->open();
    result.job = streamAviToGif(options, out, observer, request.stream->spillFolder());
    request.stream->finish();
    return result;
}

// The streaming policy: the stream, unless the options need the frames whole; then the document,
// and the stream after all when the frames were refused for their number or memory and the stream
// can take them.
GifJobResult runStreamingPolicy(const GifJobRequest& request, JobObserver& observer) {
    const AviToGifOptions& options = request.options;
    // Fitting the file under a size works on the whole GIF in memory, and so does storing frames
    // as their changes while they are few enough to keep (one colour table may then serve them
    // all); every other GIF is written as it is made.
    const bool whole = options.build.optimize || request.fit.has_value();
    // Frames stored as their changes going backward or bouncing need every frame first.
    const bool mustHold = options.direction == Direction::Backward || options.bounce;
    if (!whole)
        return runStreamed(request, options, observer);

    AviToGifOptions held = options;
    if (held.maxFrames == 0 || held.maxFrames > request.maxFramesInMemory)
        held.maxFrames = request.maxFramesInMemory;
    HeldFrames frames(request);
    if (request.fit) {
        GifJobRequest fitted = request;
        fitted.fit->maxFrames = held.maxFrames;
        GifJobResult result = runHeld(fitted, held, frames, observer);
        result.framesHeld = true;
        return result;
    }
    GifJobResult result;
    bool tooLarge = false;
    try {
        result = runHeld(request, held, frames, observer);
    } catch (const MemoryLimitError&) {
        // Frames that must be held cannot be streamed instead: the refusal is the answer.
        if (mustHold)
            throw;
        tooLarge = true;
    }
    result.framesHeld = mustHold;
    const bool tooMany = tooLarge || (result.job.outcome == AviToGifOutcome::Warning &&
                                      result.job.message != AviToGifMessages::CheckRange);
    if (tooMany && !mustHold && (options.maxFrames == 0 || result.job.run.asked <= options.maxFrames)) {
        frames.ownTable.reset();
        return runStreamed(request, options, observer);
    }
    return result;
}

} // namespace

GifJobResult runGifJob(const GifJobRequest& request, JobObserver& observer) {
    if (request.policy == GifSinkPolicy::Streaming)
        return runStreamingPolicy(request, observer);
    HeldFrames frames(request);
    GifJobResult result = runHeld(request, request.options, frames, observer);
    result.framesHeld = true;
    return result;
}

} // namespace kelvara
