// An audio output that plays on the steady clock, for tests.
#include "SimulatedAudioOutput.h"

#include <algorithm>
#include <cstring>

namespace kelvara::test {

std::vector<int16_t> OutputLog::heard() const {
    std::vector<int16_t> samples;
    for (size_t i = 0; i < streams.size(); ++i) {
        int64_t played = i < playedBytes.size() ? playedBytes[i] : int64_t(streams[i].size());
        size_t at = samples.size();
        samples.resize(at + size_t(played) / 2);
        std::memcpy(samples.data() + at, streams[i].data(), size_t(played) / 2 * 2);
    }
    return samples;
}

bool SimulatedAudioOutput::start() {
    stop();
    if (m_options.failStart)
        return false;
    ++m_log->starts;
    m_log->streams.emplace_back();
    m_open = true;
    m_suspended = false;
    m_activeBeforeUs = 0;
    m_clock.start();
    return true;
}

void SimulatedAudioOutput::stop() {
    if (!m_open)
        return;
    int64_t perSecond = bytesPerSecond();
    int64_t played =
        std::min(writtenBytes(), activeUs() * perSecond / 1'000'000 / m_options.format.bytesPerFrame() *
                                     m_options.format.bytesPerFrame());
    m_log->playedBytes.push_back(played);
    ++m_log->stops;
    m_open = false;
}

void SimulatedAudioOutput::suspend() {
    if (!m_open || m_suspended)
        return;
    m_activeBeforeUs = activeUs();
    m_suspended = true;
    ++m_log->suspends;
}

void SimulatedAudioOutput::resume() {
    if (!m_open || !m_suspended)
        return;
    m_suspended = false;
    m_clock.start();
}

int64_t SimulatedAudioOutput::activeUs() const {
    if (!m_open)
        return 0;
    if (m_suspended)
        return m_activeBeforeUs;
    int64_t us = m_activeBeforeUs + int64_t(double(m_clock.nsecsElapsed() / 1000) * m_options.speed);
    return m_options.stallAfterMs >= 0 ? std::min<int64_t>(us, m_options.stallAfterMs * 1000) : us;
}

int64_t SimulatedAudioOutput::writtenBytes() const {
    return m_open || !m_log->streams.empty() ? int64_t(m_log->streams.back().size()) : 0;
}

bool SimulatedAudioOutput::failed() const {
    return m_open && m_options.failAfterMs >= 0 &&
           m_activeBeforeUs + m_clock.elapsed() * 1000 >= m_options.failAfterMs * 1000;
}

int64_t SimulatedAudioOutput::bytesFree() const {
    if (!m_open || m_suspended || failed())
        return 0;
    int64_t buffered = writtenBytes() - playedUs() * bytesPerSecond() / 1'000'000;
    int64_t capacity = int64_t(m_options.bufferMs) * bytesPerSecond() / 1000;
    int64_t frame = m_options.format.bytesPerFrame();
    return std::max<int64_t>(0, (capacity - buffered) / frame * frame);
}

int64_t SimulatedAudioOutput::write(const uint8_t* data, int64_t size) {
    if (!m_open || failed())
        return 0;
    auto& stream = m_log->streams.back();
    stream.insert(stream.end(), data, data + size);
    return size;
}

int64_t SimulatedAudioOutput::playedUs() const {
    if (!m_open)
        return 0;
    int64_t writtenUs = writtenBytes() * 1'000'000 / bytesPerSecond();
    return std::min(writtenUs, activeUs());
}

std::string SimulatedAudioOutput::failure() const {
    return failed() ? "the simulated server went away" : "";
}

AudioOutputFactory simulatedOutputs(std::shared_ptr<OutputLog> log, SimulatedOutputOptions options) {
    return [log, options] { return std::make_unique<SimulatedAudioOutput>(log, options); };
}

} // namespace kelvara::test
