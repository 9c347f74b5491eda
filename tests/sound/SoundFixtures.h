// Videos with sound made by ffmpeg for the sound tests, measurements of recorded sound, and
// waiting for a play to end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvara {
class MediaPlayer;
}

namespace kelvara::test {

constexpr int SoundRate = 44100;

// An ffmpeg audio source (a lavfi graph) of the given length.
std::string sineSource(int frequency, double seconds, double amplitude = 0.5);
// Stereo samples that count up by one from -32768 and wrap: every sample says where it lies in
// the sound, so a repeat or a gap shows exactly.
std::string rampSource(double seconds);
// A 1 kHz beep of 40 ms at the start of every second.
std::string beepSource(double seconds);

struct SoundVideo {
    double seconds = 1;
    int fps = 25;
    std::string audio; // an ffmpeg audio source; none when empty
    std::string audioCodec = "pcm_s16le";
    int audioRate = SoundRate;
    std::string videoCodec = "mjpeg";
    bool flashes = false; // white pictures at the start of every second, else black
};

// Makes the video with ffmpeg: 64 x 48 pictures (a test pattern, or the flashes); the container
// follows the file's extension.
void makeSoundVideo(const std::string& path, const SoundVideo& video);

// Clears the key-frame flag of every sound chunk in an AVI file's index, as some writers leave
// it: FFmpeg then cannot seek in the sound stream.
void clearSoundKeyFrames(const std::string& path);

// The file's first audio stream decoded by ffmpeg to 16-bit stereo at 44100 Hz, laid out by its
// timestamps from time 0.
// Replaces the format tag of an AVI file's sound stream (its WAVEFORMATEX's first field).
void setSoundFormatTag(const std::string& path, uint16_t tag);

std::vector<int16_t> ffmpegSound(const std::string& path);

// Measurements of interleaved stereo samples, over frames [from, to).
double rmsLevel(const std::vector<int16_t>& samples, size_t from, size_t to);
// The frequency of a tone, from the left channel's upward zero crossings.
double toneFrequency(const std::vector<int16_t>& samples, size_t from, size_t to);
// The frames where sound starts after at least minGap frames of silence.
std::vector<size_t> soundOnsets(const std::vector<int16_t>& samples, int threshold, size_t minGap);
// The first and one past the last frame whose left sample's magnitude exceeds threshold; {0, 0}
// when there is none.
std::pair<size_t, size_t> soundSpan(const std::vector<int16_t>& samples, int threshold);

// Lets the player run until it stops playing, or the time is up; false when it still plays.
bool waitUntilStopped(const MediaPlayer& player, int timeoutMs);

} // namespace kelvara::test
