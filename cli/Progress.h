// Progress of a job on standard error: a bar on a terminal, nothing when quiet or redirected.
#pragma once

#include "convert/JobObserver.h"

#include <chrono>
#include <string>

namespace kelvara::cli {

// One bar per job that only moves forward: a job that sets a new range (its building after its
// reading, or its progress back to the start when it ends) does not draw the bar back. Once it
// knows them the bar shows the frames a second and the time left. finish() clears the bar's line,
// leaving the terminal as it was; an interruption (Ctrl-C) clears it too.
class ProgressPrinter final : public JobObserver {
public:
    // label: what the job is, shown before the bar when several jobs run ("clip.mp4").
    explicit ProgressPrinter(bool quiet, std::string label = {});
    ~ProgressPrinter() override { finish(); }
    void setProgressRange(int minimum, int maximum) override;
    void setProgressPosition(int position) override;
    // Clears the bar's line.
    void finish();

private:
    bool m_show;
    std::string m_label;
    int m_minimum = 0;
    int m_maximum = 0;
    int m_ranges = 0; // the ranges set so far
    double m_shownFraction = -1;
    int m_lastDone = 0; // of the current range, for the rate
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_rangeStart;
    std::chrono::steady_clock::time_point m_drawnAt;
};

// Clears a bar drawn on the terminal's line, so that a line written next stands on its own.
void clearProgressLine();

// Installs the signal handling that clears a progress bar and says the run was interrupted before
// the temporary files are removed; after removeTemporaryFilesOnSignals().
void endProgressOnSignals();

// After a job that read frames: a short run (the video ended early, a frame could not be read)
// is told on standard error, "kelvara-cli gif: clip.mp4: warning: the video ended at frame 160:
// 63 of 101 frames written", and gives ExitIncomplete; a whole run gives ExitOk.
int runExitStatus(const FrameRun& run, const std::string& input = {});

} // namespace kelvara::cli
