// Message pumping on behalf of a job.
#include "convert/JobObserver.h"

#include "raster/Bitmap.h"

namespace kelvara {

void pumpJobMessages(JobObserver& observer) {
    observer.pumpMessages();
    releaseCanvasContexts();
}

} // namespace kelvara
