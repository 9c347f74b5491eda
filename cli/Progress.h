// Progress of a job on standard error: a bar on a terminal, nothing when quiet or redirected.
#pragma once

#include "convert/JobObserver.h"

namespace kelvara::cli {

// The bar only moves forward: a job that sets its progress back to the start when it ends does
// not draw it empty again. finish() clears the bar's line, leaving the terminal as it was.
class ProgressPrinter final : public JobObserver {
public:
    explicit ProgressPrinter(bool quiet);
    ~ProgressPrinter() override { finish(); }
    void setProgressRange(int minimum, int maximum) override;
    void setProgressPosition(int position) override;
    // Clears the bar's line.
    void finish();

private:
    bool m_show;
    bool m_drawn = false;
    int m_minimum = 0;
    int m_maximum = 0;
    int m_shown = -1; // the position drawn last
};

// After a job that read frames: a short run (the video ended early, a frame could not be read)
// is told on standard error, "warning: the video ended at frame 160: 63 of 101 frames written",
// and gives ExitIncomplete; a whole run gives ExitOk.
int runExitStatus(const FrameRun& run);

} // namespace kelvara::cli
