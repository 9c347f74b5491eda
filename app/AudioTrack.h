// The sound of a video: its first audio stream decoded by FFmpeg and played through Qt's audio
// output, fed from the window thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kelvara {

class AudioTrack {
public:
    // The first audio stream of the file on the default output device; null when the file has
    // no sound or there is no device to play it on.
    static std::unique_ptr<AudioTrack> open(const std::string& path);
    ~AudioTrack();

    // Starts playing from a time in milliseconds.
    void start(int64_t ms);
    void stop();
    // Tops up the output buffer; called by the player's clock.
    void feed();
    // 0..65535 on both channels.
    void setVolume(int level);

    struct State;

private:
    explicit AudioTrack(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace kelvara
