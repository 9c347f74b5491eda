// The transition job's GIF: each rendered frame reduced into a looping GIF document, which
// becomes the built GIF document at the end of the run.
#pragma once

#include "convert/TransitionJob.h"
#include "gif/GifBuildOptions.h"

namespace kelvara {

class TGIFDocument;

// Runs the transition (runTransition) with a GIF document of its own: QuantizeWithSystemColors
// reduction and Floyd-Steinberg dithering, the looping block on the first frame and a graphic
// control block with the transition delay on every frame. Each frame is reduced on the worker
// threads (threads of them, 0 for one per core) while the next is rendered. At the end, aborted or
// not, built takes it over (as a copy would be, without holding both). An Abort seen while
// rendering keeps the frames stored before it, all of them built; one seen after the rendering,
// while the last frames are built, keeps the frames built so far, and the built frame count says
// how many. The build options choose the refined palettes instead and store the frames as their
// changes.
TransitionRunResult buildTransitionGif(TransitionTab& tab, FrameTable& table, TGIFDocument& built,
                                       JobObserver& observer, int threads = 0,
                                       const GifBuildOptions& build = {});

} // namespace kelvara
