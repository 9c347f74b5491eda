// Progress of a job on standard error: a bar on a terminal, nothing when quiet or redirected.
#pragma once

#include "convert/JobObserver.h"

namespace kelvara::cli {

class ProgressPrinter final : public JobObserver {
public:
    explicit ProgressPrinter(bool quiet);
    void setProgressRange(int minimum, int maximum) override;
    void setProgressPosition(int position) override;
    // Ends the bar's line.
    void finish();

private:
    bool m_show;
    bool m_drawn = false;
    int m_minimum = 0;
    int m_maximum = 0;
    int m_lastWidth = -1;
};

} // namespace kelvara::cli
