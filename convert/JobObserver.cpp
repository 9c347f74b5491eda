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

} // namespace kelvara
