// An audio output for tests that plays on the steady clock at a chosen speed, and keeps every
// byte written and how much of it was played.
#pragma once

#include "video/AudioTrack.h"

#include <QElapsedTimer>

#include <memory>
#include <vector>

namespace kelvara::test {

// What an output did, kept by the test after the player has let the output go.
struct OutputLog {
    int starts = 0;
    int stops = 0;
    int suspends = 0;
    // The sound written after each start, and how many of its bytes were played when it ended.
    std::vector<std::vector<uint8_t>> streams;
    std::vector<int64_t> playedBytes;
    // The sound a listener heard: the played part of each stream, in order.
    std::vector<int16_t> heard() const;
};

struct SimulatedOutputOptions {
    AudioOutputFormat format;
    double speed = 1.0;     // played seconds per second of the steady clock
    int bufferMs = 200;     // how much the output takes ahead
    int failAfterMs = -1;   // the output fails this long after a start (a server that goes)
    int stallAfterMs = -1;  // the output stops playing this long after a start, unannounced
    bool failStart = false; // no stream can be opened
};

class SimulatedAudioOutput final : public AudioOutput {
public:
    SimulatedAudioOutput(std::shared_ptr<OutputLog> log, SimulatedOutputOptions options)
        : m_log(std::move(log)), m_options(options) {}
    ~SimulatedAudioOutput() override { stop(); }

    AudioOutputFormat format() const override { return m_options.format; }
    bool start() override;
    void stop() override;
    void suspend() override;
    void resume() override;
    int64_t bytesFree() const override;
    int64_t write(const uint8_t* data, int64_t size) override;
    int64_t playedUs() const override;
    void setVolume(double volume) override { m_volume = volume; }
    std::string failure() const override;

    double volume() const { return m_volume; }

private:
    int64_t activeUs() const;
    int64_t writtenBytes() const;
    int64_t bytesPerSecond() const {
        return int64_t(m_options.format.rate) * m_options.format.bytesPerFrame();
    }
    bool failed() const;

    std::shared_ptr<OutputLog> m_log;
    SimulatedOutputOptions m_options;
    bool m_open = false;
    bool m_suspended = false;
    QElapsedTimer m_clock;        // since the last start or resume
    int64_t m_activeBeforeUs = 0; // played time before the last resume
    double m_volume = 1.0;
};

// A factory for the player that makes simulated outputs sharing one log.
AudioOutputFactory simulatedOutputs(std::shared_ptr<OutputLog> log, SimulatedOutputOptions options = {});

} // namespace kelvara::test
