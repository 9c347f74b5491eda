// What a long job reports to, and asks of, the program running it.
#pragma once

namespace kelvara {

// The desktop program moves its progress bar and pumps its message queue; the command line
// prints progress. A job calls pumpMessages() wherever the window would stay live and then
// tests abortRequested().
class JobObserver {
public:
    virtual ~JobObserver() = default;
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual void setProgressPosition(int position) = 0;
    virtual void pumpMessages() {}
    virtual bool abortRequested() { return false; }
};

// Pumps the program's messages on behalf of a job. Each pass ends with the drawing contexts
// released, as after any dispatched window message.
void pumpJobMessages(JobObserver& observer);

} // namespace kelvara
