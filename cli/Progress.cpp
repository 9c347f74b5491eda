// Progress of a job on standard error.
#include "cli/Progress.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace kelvara::cli {

ProgressPrinter::ProgressPrinter(bool quiet) : m_show(!quiet && isatty(STDERR_FILENO)) {}

void ProgressPrinter::setProgressRange(int minimum, int maximum) {
    m_minimum = minimum;
    m_maximum = maximum;
}

void ProgressPrinter::setProgressPosition(int position) {
    if (!m_show || m_maximum <= m_minimum)
        return;
    constexpr int barWidth = 40;
    int done = (position - m_minimum) * barWidth / (m_maximum - m_minimum);
    if (done == m_lastWidth)
        return;
    m_lastWidth = done;
    std::fprintf(stderr, "\r[%-*s] %d/%d", barWidth, std::string(static_cast<size_t>(done), '#').c_str(),
                 position - m_minimum, m_maximum - m_minimum);
    std::fflush(stderr);
    m_drawn = true;
}

void ProgressPrinter::finish() {
    if (m_drawn)
        std::fputs("\n", stderr);
    m_drawn = false;
}

} // namespace kelvara::cli
