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
    const std::string text = shortRunText(run);
    if (text.empty())
        return ExitOk;
    std::fprintf(stderr, "warning: %s\n", text.c_str());
    return ExitIncomplete;
}

} // namespace kelvara::cli
