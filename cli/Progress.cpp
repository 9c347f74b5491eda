// Progress of a job on standard error.
#include "cli/Progress.h"
#include "cli/Commands.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace kelvara::cli {

namespace {

// Whether a bar is on the terminal's last line, for the signal handler.
std::atomic<bool> g_barDrawn{false};
struct sigaction g_previous[32];
char g_interrupted[256];

extern "C" void endBarAndPassOn(int signal) {
    if (g_barDrawn.load()) {
        const char clear[] = "\r\033[K";
        [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, clear, sizeof clear - 1);
    }
    if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) {
        [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, g_interrupted, std::strlen(g_interrupted));
    }
    const struct sigaction& previous = g_previous[signal];
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
        previous.sa_handler(signal);
        return;
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

std::string clockText(double seconds) {
    const long s = std::lround(seconds);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

} // namespace

void endProgressOnSignals() {
    const std::string line = linePrefix() + "interrupted; nothing unfinished is left behind\n";
    std::snprintf(g_interrupted, sizeof g_interrupted, "%s", line.c_str());
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current = {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        g_previous[signal] = current;
        struct sigaction action = {};
        action.sa_handler = endBarAndPassOn;
        action.sa_mask = current.sa_mask;
        ::sigaction(signal, &action, nullptr);
    }
}

ProgressPrinter::ProgressPrinter(bool quiet, std::string label)
    : m_show(!quiet && isatty(STDERR_FILENO)), m_label(std::move(label)),
      m_start(std::chrono::steady_clock::now()) {}

void ProgressPrinter::setProgressRange(int minimum, int maximum) {
    m_minimum = minimum;
    m_maximum = maximum;
    m_lastDone = 0;
    ++m_ranges;
    m_rangeStart = std::chrono::steady_clock::now();
}

void ProgressPrinter::setProgressPosition(int position) {
    if (!m_show || m_maximum <= m_minimum)
        return;
    const int total = m_maximum - m_minimum;
    const int done = std::clamp(position, m_minimum, m_maximum) - m_minimum;
    const double fraction = static_cast<double>(done) / total;
    if (fraction <= m_shownFraction)
        return;
    const auto now = std::chrono::steady_clock::now();
    // Drawn at most 20 times a second, and always at the end.
    if (done < total && m_shownFraction >= 0 && now - m_drawnAt < std::chrono::milliseconds(50))
        return;
    m_shownFraction = fraction;
    m_drawnAt = now;
    m_lastDone = done;
    constexpr int barWidth = 30;
    const int filled = static_cast<int>(fraction * barWidth);
    std::string line = "\r";
    if (!m_label.empty())
        line += m_label + " ";
    line += "[" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(barWidth - filled), ' ') + "] " +
            std::to_string(static_cast<int>(fraction * 100)) + "%  " + std::to_string(done) + "/" +
            std::to_string(total);
    const double rangeSeconds = std::chrono::duration<double>(now - m_rangeStart).count();
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    if (rangeSeconds >= 0.5 && done > 0) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "  %.1f fps", done / rangeSeconds);
        line += rate;
    }
    if (seconds >= 1 && fraction > 0.02 && fraction < 1)
        line += "  " + clockText(seconds * (1 - fraction) / fraction) + " left";
    line += "\033[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    g_barDrawn = true;
}

void ProgressPrinter::finish() {
    clearProgressLine();
}

void clearProgressLine() {
    if (g_barDrawn.exchange(false)) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

int runExitStatus(const FrameRun& run, const std::string& input) {
    const std::string text = shortRunText(run);
    if (text.empty())
        return ExitOk;
    const std::string file = input.empty() ? currentInput() : input;
    say((file.empty() ? "" : (file == "-" ? "standard input" : file) + ": ") + "warning: " + text);
    return ExitIncomplete;
}

} // namespace kelvara::cli
