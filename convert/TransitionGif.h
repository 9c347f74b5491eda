// The transition job's GIF: each rendered frame reduced into a looping GIF document, which
// becomes the built GIF document at the end of the run.
#pragma once

#include "convert/TransitionJob.h"

namespace kelvara {

class TGIFDocument;

// Runs the transition (runTransition) with a GIF document of its own: QuantizeWithSystemColors
// reduction and Floyd-Steinberg dithering, the looping block on the first frame and a graphic
// control block with the transition delay on every frame. At the end, aborted or not, built
// becomes a copy of it.
TransitionRunResult buildTransitionGif(TransitionTab& tab, FrameTable& table, TGIFDocument& built,
                                       JobObserver& observer);

} // namespace kelvara
