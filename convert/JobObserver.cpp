// Message pumping on behalf of a job, and the progress reset at its end.
#include "convert/JobObserver.h"

#include "raster/Bitmap.h"

namespace kelvara {

void pumpJobMessages(JobObserver& observer) {
    observer.pumpMessages();
    releaseCanvasContexts();
}

ProgressReset::~ProgressReset() {
    if (m_full)
        m_observer.setProgressPosition(*m_full);
    m_observer.setProgressPosition(0);
}

std::string shortRunText(const FrameRun& run) {
    if (!run.isShort() || run.end == FrameRunEnd::Complete)
        return {};
    const std::string written =
        std::to_string(run.read) + " of " + std::to_string(run.asked) + " frames written";
    switch (run.end) {
    case FrameRunEnd::VideoEnded:
        return "the video ended at frame " + std::to_string(run.stoppedAt) + ": " + written;
    case FrameRunEnd::ReadFailed:
        return "frame " + std::to_string(run.stoppedAt) + " could not be read (" + run.error +
               "): " + written;
    case FrameRunEnd::Aborted:
        return "stopped before frame " + std::to_string(run.read + 1) + " of " + std::to_string(run.asked) +
               ": " + written;
    case FrameRunEnd::Complete:
        break;
    }
    return {};
}

} // namespace kelvara
