// One AVI-to-GIF job for both front ends: the GIF built whole in memory (the document), written as
// it is made (the stream, with a spill file going backward or bouncing) or fitted under a file
// size, chosen by a policy, with the fallbacks between them.
#pragma once

#include "convert/AviToGif.h"
#include "convert/GifSizeFit.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kelvara {

class Stream;
class TGIFDocument;

// Where a job's GIF went.
enum class GifSink {
    Document,   // built whole in memory into the built document
    Stream,     // written as it was made
    SizeFitted, // built whole until its file fitted the size (the fit result holds the file)
};

// How the job picks its sink.
enum class GifSinkPolicy {
    // The document, or the size fit when one is asked: the frames stay in the caller's table
    // and a refused run is the result (the desktop's tab).
    InMemory,
    // Written as it is made, unless the options need the frames whole (a size fit, frames stored
    // as their changes); then the document, and the stream after all when the document's frames
    // were refused for their number or their memory and the stream can take them (going forward,
    // no bounce). Nothing was read before such a refusal, so nothing is lost.
    Streaming,
};

// The output a GIF written as it is made goes to. It is opened only when the job chooses the
// stream, just before the run starts.
class GifStreamTarget {
public:
    virtual ~GifStreamTarget() = default;
    virtual Stream& open() = 0;
    // The folder of the spill file that keeps frames for the way back: one on the output's file
    // system, or empty for the system's temporary folder.
    virtual std::string spillFolder() const { return {}; }
    // After the run wrote into the stream (also a run that wrote nothing).
    virtual void finish() {}
};

struct GifJobRequest {
    AviToGifOptions options;
    GifSinkPolicy policy = GifSinkPolicy::InMemory;
    // Fit the GIF's file under a size. With the streaming policy the fit's frame limit is that of
    // the frames kept in memory.
    std::optional<GifSizeFitOptions> fit;
    // Streaming policy: the most frames a GIF held whole may have (the frame table's).
    int64_t maxFramesInMemory = 256;
    // The frame table of a GIF held whole; the job makes its own when none is given.
    FrameTable* table = nullptr;
    // Where a GIF held whole goes; required unless the policy streams and nothing needs the frames
    // whole.
    TGIFDocument* built = nullptr;
    // Required for the streaming policy.
    GifStreamTarget* stream = nullptr;
};

struct GifJobResult {
    GifSink sink = GifSink::Document;
    AviToGifResult job;
    GifSizeFitResult fitted; // SizeFitted: the search's answer
    // The options needed every frame held whole (a size fit, or frames stored as their changes
    // going backward or bouncing): a run refused for its frames could not be streamed instead.
    bool framesHeld = false;
};

// Runs the job the request describes. Errors pass through as the jobs raise them.
GifJobResult runGifJob(const GifJobRequest& request, JobObserver& observer);

} // namespace kelvara
