// The GIF jobs' frame pipeline: frames read or rendered on the caller's thread are reduced to
// their palettes (and, for a GIF written as it is made, compressed) on every core, and come back
// in order to the caller's thread, which adds them to a document or writes them.
#pragma once

#include "convert/JobObserver.h"
#include "gif/GifBuildOptions.h"
#include "gif/GifReduction.h"
#include "raster/Bitmap.h"
#include "raster/OrderedPipeline.h"

#include <functional>
#include <memory>
#include <vector>

namespace kelvara {

// The reduce stage: a true-colour frame to a palette and indices, called on any worker thread
// with the frame's place in the animation (0 for the first frame handed in). A reducer that
// reduces each frame on its own ignores the place; one whose frames depend on those before them
// waits for them.
using FrameReducer = std::function<ReducedFrame(const Bitmap& frame, uint64_t sequence)>;

// The reduction the GIF jobs give their documents: QuantizeWithSystemColors, Floyd-Steinberg.
FrameReducer conversionReducer();
// How a document with these settings reduces a true-colour frame it is given.
FrameReducer documentReducer(GifReductionMode reductionMode, GifDitherKind ditherKind, int quantizeBits);
// The reduction of the GIF jobs' colour quality: the conversion reducer for the classic mode,
// the frame-to-frame reduction of GifTemporalReducer for the high mode. One reducer serves one
// animation.
FrameReducer qualityReducer(const GifBuildOptions& build);

// What a reducer makes of the alpha plane of a frame from a source with an alpha channel.
enum class FrameAlpha {
    Ignore,      // the frame is opaque: every pixel shows its colour
    Transparent, // pixels with alpha below half are the frame's transparent colour
};
// The reducer with the alpha rule: a frame with an alpha plane is reduced with its transparent
// pixels given the colours of their opaque neighbours, then one entry is kept for them (also when
// it has none), and the frame is cleared after it shows. Frames without an alpha plane are
// reduced as reducer reduces them.
FrameReducer alphaReducer(FrameReducer reducer, FrameAlpha alpha);

// A frame on its way through the pipeline.
struct GifPipelineFrame {
    uint64_t sequence = 0; // the order it was handed in, from 0
    // What is reduced, the pipeline's own: a buffer of its pool (back to the pool once delivered)
    // or a bitmap sharing the caller's picture, which the caller's next write leaves untouched.
    std::unique_ptr<Bitmap> source;
    bool pooled = false;        // source is a buffer of the pool
    ReducedFrame reduced;       // after the reduce stage
    std::vector<uint8_t> image; // after the LZW stage: the frame's bytes (writeReducedFrame)
};

struct GifPipelineOptions {
    int threads = 1; // worker threads for the reduce and LZW stages
    FrameReducer reducer = conversionReducer();
    // Compress each frame too: image holds its bytes and reduced its size alone. Frames that
    // go into a document are compressed when the document is written.
    bool encode = false;
    int emptyMapBits = 8; // the map size a frame without colours is compressed with
};

// Frames go in with add() in order and come out in order through the deliver call, on the
// caller's thread: as soon as they are ready while frames are added, and the rest in finish().
// At most a small window of frames (twice the threads and two more) is in flight, so memory is
// bounded by the window. While it waits the pipeline pumps the observer's messages; it reads
// the observer's abort flag only in finish(). The first error of any stage reaches the caller
// from add() or finish(); the frames after it are dropped.
class GifFramePipeline {
public:
    using Deliver = std::function<void(GifPipelineFrame& frame)>;

    GifFramePipeline(GifPipelineOptions options, Deliver deliver, JobObserver& observer);
    ~GifFramePipeline();
    GifFramePipeline(const GifFramePipeline&) = delete;
    GifFramePipeline& operator=(const GifFramePipeline&) = delete;

    // A 24-bit buffer for the next frame: one of the pipeline's own, reused once delivered.
    std::unique_ptr<Bitmap> buffer();
    // Adds a frame the caller keeps (a frame table entry): the pipeline shares its picture, so the
    // caller may change, clear or free the frame at once; the workers never see it.
    void add(const Bitmap& frame);
    // Adds a buffer the caller filled.
    void add(std::unique_ptr<Bitmap> frame);
    // Delivers the frames still in flight. With AbortRule::Stop an abort seen on the way ends
    // it: the frames after those delivered are dropped. Returns the frames delivered in all.
    enum class AbortRule { Ignore, Stop };
    int finish(AbortRule rule);
    // Waits, pumping the observer's messages, until the oldest frame in flight is delivered;
    // false when none is in flight.
    bool deliverOne();
    // True when add() would have to wait for a frame to be delivered first.
    bool full() const { return m_pipeline->full(); }

private:
    void submit(GifPipelineFrame frame);
    // Delivers the oldest frame if it is ready within wait; false when it is not.
    bool deliverNext(std::chrono::milliseconds wait);

    GifPipelineOptions m_options;
    Deliver m_deliver;
    JobObserver& m_observer;
    std::vector<std::unique_ptr<Bitmap>> m_pool;
    uint64_t m_submitted = 0;
    std::unique_ptr<OrderedPipeline<GifPipelineFrame>> m_pipeline;
    int m_delivered = 0;
};

// The number of worker threads for a job that asks for threads: 0 means one per core.
int pipelineThreads(int threads);

} // namespace kelvara
