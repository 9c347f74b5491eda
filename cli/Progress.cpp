// Progress of a job on standard error.
#include "cli/Progress.h"
#include "cli/Commands.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace kelvara::cli {

ProgressPrinter::ProgressPrinter(bool quiet) : m_show(!quiet && isatty(STDERR_FILENO)) {}

void ProgressPrinter::setProgressRange(int minimum, int maximum) {
    m_minimum = minimum;
    m_maximum = maximum;
    m_shown = -1;
}

void ProgressPrinter::setProgressPosition(int position) {
    if (!m_show || m_maximum <= m_minimum)
        return;
    const int done = std::clamp(position, m_minimum, m_maximum) - m_minimum;
    if (done <= m_shown)
        return;
    m_shown = done;
    constexpr int barWidth = 40;
    const int total = m_maximum - m_minimum;
    const int filled = done * barWidth / total;
    std::fprintf(stderr, "\r[%-*s] %d/%d", barWidth, std::string(static_cast<size_t>(filled), '#').c_str(),
                 done, total);
    std::fflush(stderr);
    m_drawn = true;
}

void ProgressPrinter::finish() {
    if (m_drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    m_drawn = false;
}

int runExitStatus(const FrameRun& run) {
    if (!run.isShort() || run.end == FrameRunEnd::Complete)
        return ExitOk;
    const std::string written =
        std::to_string(run.read) + " of " + std::to_string(run.asked) + " frames written";
    switch (run.end) {
    case FrameRunEnd::VideoEnded:
        std::fprintf(stderr, "warning: the video ended at frame %lld: %s\n",
                     static_cast<long long>(run.stoppedAt), written.c_str());
        break;
    case FrameRunEnd::ReadFailed:
        std::fprintf(stderr, "warning: frame %lld could not be read (%s): %s\n",
                     static_cast<long long>(run.stoppedAt), run.error.c_str(), written.c_str());
        break;
    case FrameRunEnd::Aborted:
        std::fprintf(stderr, "warning: stopped before frame %d of %d: %s\n", run.read + 1, run.asked,
                     written.c_str());
        break;
    case FrameRunEnd::Complete:
        break;
    }
    return ExitIncomplete;
}

} // namespace kelvara::cli
