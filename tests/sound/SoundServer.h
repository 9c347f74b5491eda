// A private PulseAudio server for the sound tests: a null sink with its own socket, and a recorder
// of the sink's monitor that knows when each recorded sample was played.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvara::test {

class SoundServer {
public:
    static constexpr const char* SinkName = "kelvara_test";

    SoundServer() = default;
    ~SoundServer() { stop(); }
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Starts pulseaudio in user mode in a folder of its own; false, with the reason, when it
    // cannot run here.
    bool start();
    void stop();
    bool running() const { return m_pid > 0; }
    const std::string& failure() const { return m_failure; }
    // The server string clients take in PULSE_SERVER.
    std::string address() const { return "unix:" + m_dir + "/native"; }

private:
    std::string m_dir;
    int m_pid = -1;
    std::string m_failure;
};

// Records the null sink's monitor as 16-bit stereo at 44100 Hz, through parec.
class SoundRecorder {
public:
    static constexpr int Rate = 44100;

    explicit SoundRecorder(const SoundServer& server) : m_server(server) {}
    ~SoundRecorder() { stop(); }

    // False when parec cannot record.
    bool start();
    void stop();

    // Interleaved left/right samples recorded so far.
    std::vector<int16_t> samples() const;
    // The steady-clock time, in microseconds, at which a recorded frame was played. The sink's
    // clock need not run at the steady clock's pace: the time comes from the blocks' arrivals.
    int64_t playedAtUs(size_t frame) const;
    // How much faster the sink plays than the steady clock runs, in parts per million.
    double sinkClockPpm() const;
    // Steady-clock microseconds now.
    static int64_t nowUs();

private:
    void readLoop(int fd);

    const SoundServer& m_server;
    int m_pid = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::vector<int16_t> m_samples;
    // Each block's arrival on the steady clock, with the frames recorded up to its end.
    std::vector<std::pair<int64_t, int64_t>> m_arrivals;
    // The fitted line: frame n was played at m_fitUs + n * m_fitUsPerFrame.
    void fit() const;
    mutable bool m_fitted = false;
    mutable double m_fitUs = 0, m_fitUsPerFrame = 0;
};

// The server the sound tests share; started by their main before the application.
SoundServer& soundServer();

} // namespace kelvara::test
