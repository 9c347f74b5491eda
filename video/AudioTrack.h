// The sound of a video: its first audio stream decoded by FFmpeg, converted to the output's format
// and played through an audio output (the desktop program's is Qt's), fed from the window thread.
#pragma once

#include "raster/Error.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kelvara {

// Raised when a file has sound that cannot be played; the message says why, and may end with a
// detail in brackets.
class SoundError : public Error {
public:
    using Error::Error;
};

namespace SoundMessages {
inline constexpr const char* NoDevice = "No sound: there is no audio output device";
inline constexpr const char* UnsupportedFormat =
    "No sound: the audio output takes no format the sound converts to";
inline constexpr const char* CannotRead = "No sound: its stream cannot be read";
inline constexpr const char* NoDecoder = "No sound: there is no decoder for its codec";
inline constexpr const char* CannotDecode = "No sound: it cannot be decoded";
inline constexpr const char* CannotConvert = "No sound: it cannot be converted for the audio output";
inline constexpr const char* OutputFailed = "No sound: the audio output failed";
inline constexpr const char* OutputStalled = "No sound: the audio output stopped playing";
} // namespace SoundMessages

struct AudioOutputFormat {
    enum class Sample { UInt8, Int16, Int32, Float };
    int rate = 44100;
    int channels = 2;
    Sample sample = Sample::Int16;

    int bytesPerFrame() const;
};

// Where the decoded sound goes: Qt's audio sink in the program, a stand-in in tests. Positions are
// counted from the last start().
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    virtual AudioOutputFormat format() const = 0;
    // Opens a fresh stream, dropping whatever the previous one held; false when it cannot.
    virtual bool start() = 0;
    // Drops what is buffered and closes the stream.
    virtual void stop() = 0;
    // Holds the stream with its buffered sound, and lets it go on from the same sample.
    virtual void suspend() = 0;
    virtual void resume() = 0;
    virtual int64_t bytesFree() const = 0;
    virtual int64_t write(const uint8_t* data, int64_t size) = 0;
    // Microseconds of the written sound that have been played out.
    virtual int64_t playedUs() const = 0;
    // 0..1.
    virtual void setVolume(double volume) = 0;
    // Why the output stopped working; empty while it works.
    virtual std::string failure() const = 0;
};

// Makes the output a track plays through; throws SoundError when there is none.
using AudioOutputFactory = std::function<std::unique_ptr<AudioOutput>()>;

class AudioTrack {
public:
    // The first audio stream of the file, whatever its container and codec; null when the file
    // has no sound. Throws SoundError when it has sound that cannot be played.
    static std::unique_ptr<AudioTrack> open(const std::string& path, const AudioOutputFactory& makeOutput);
    ~AudioTrack();

    // Plays the media time from fromUs up to (not including) toUs, in microseconds. Throws
    // SoundError when the stream cannot be read or the output cannot start.
    void start(int64_t fromUs, int64_t toUs);
    // Stops at once, dropping the buffered sound.
    void stop();
    // Holds the sound where it is, and goes on from that sample.
    void pause();
    void resume();
    // Tops up the output; called by the player's clock. Throws SoundError when decoding fails.
    void feed();
    // 0..65535 on both channels.
    void setVolume(int level);

    // The media time played out since start(), in microseconds.
    int64_t playedUs() const;
    // Everything up to the end of the range, or of the stream, has been played out.
    bool drained() const;
    // Why the output stopped working; empty while it works.
    std::string failure() const;

    struct State;

private:
    explicit AudioTrack(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace kelvara
