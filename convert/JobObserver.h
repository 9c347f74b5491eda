// What a long job reports to, and asks of, the program running it, and how a job that reads
// frames tells its caller how far it got.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
    // The program is going away: an aborted job ends as soon as it can, and makes nothing of the
    // frames it has read but not yet built.
    virtual bool closing() { return false; }
};

// Pumps the program's messages on behalf of a job. Each pass ends with the drawing contexts
// released, as after any dispatched window message.
void pumpJobMessages(JobObserver& observer);

// Sets a job's progress back to 0 when the job ends, by return or by exception. A job that
// counts up to a maximum shows it full first.
class ProgressReset {
public:
    explicit ProgressReset(JobObserver& observer, std::optional<int> fullPosition = std::nullopt)
        : m_observer(observer), m_full(fullPosition) {}
    ~ProgressReset();
    ProgressReset(const ProgressReset&) = delete;
    ProgressReset& operator=(const ProgressReset&) = delete;

private:
    JobObserver& m_observer;
    std::optional<int> m_full;
};

// Why a job stopped reading frames.
enum class FrameRunEnd {
    Complete,   // every frame asked for was read
    Aborted,    // the user asked to stop
    VideoEnded, // the video gave no frame at that position
    ReadFailed, // the frame could not be decoded; error says why
};

// How far a job got with the frames it meant to read. A short run keeps what it read.
struct FrameRun {
    int asked = 0; // frames the job meant to read
    int read = 0;  // frames it read
    FrameRunEnd end = FrameRunEnd::Complete;
    int64_t stoppedAt = 0; // the 1-based frame number it could not read (VideoEnded, ReadFailed)
    std::string error;     // ReadFailed: the frame reader's message

    bool isShort() const { return read < asked; }
    // The frame numbered `number` could not be read: the video ended there, or, with an error,
    // the frame could not be decoded.
    void stopAt(int64_t number, const std::string& readError) {
        end = readError.empty() ? FrameRunEnd::VideoEnded : FrameRunEnd::ReadFailed;
        stoppedAt = number;
        error = readError;
    }
};

// How a short run ended, in the words both front ends show: "the video ended at frame 160: 63 of
// 101 frames written", "frame 7 could not be read (why): 6 of 10 frames written", "stopped before
// frame 5 of 10: 4 of 10 frames written". Empty for a whole run.
std::string shortRunText(const FrameRun& run);

} // namespace kelvara
