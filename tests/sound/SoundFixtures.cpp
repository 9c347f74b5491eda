// Videos with sound made by ffmpeg, and measurements of recorded sound.
#include "SoundFixtures.h"

#include "app/MediaPlayer.h"
#include "support/TestUtil.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace kelvara::test {

std::string sineSource(int frequency, double seconds, double amplitude) {
    std::ostringstream s;
    s << "aevalsrc=exprs=" << amplitude << "*sin(2*PI*" << frequency << "*t)|" << amplitude << "*sin(2*PI*"
      << frequency << "*t):s=" << SoundRate << ":d=" << seconds;
    return s.str();
}

std::string rampSource(double seconds) {
    std::ostringstream s;
    s << "aevalsrc=exprs=(mod(n\\,65536)-32768)/32768|(mod(n\\,65536)-32768)/32768:s=" << SoundRate
      << ":d=" << seconds;
    return s.str();
}

std::string beepSource(double seconds) {
    std::ostringstream s;
    s << "aevalsrc=exprs=if(lt(mod(t\\,1)\\,0.04)\\,0.5*sin(2*PI*1000*t)\\,0)|if(lt(mod(t\\,1)\\,0.04)\\,0.5*"
         "sin(2*"
         "PI*1000*t)\\,0):s="
      << SoundRate << ":d=" << seconds;
    return s.str();
}

void makeSoundVideo(const std::string& path, const SoundVideo& video) {
    std::ostringstream cmd;
    // Each input has its own length: the sound may go on after the last picture.
    cmd << "ffmpeg -v error -y -t " << video.seconds << " -f lavfi -i ";
    if (video.flashes)
        cmd << shellQuoted("color=c=black:s=64x48:r=" + std::to_string(video.fps) +
                           ",drawbox=c=white:t=fill:enable=" + "lt(mod(n\\," + std::to_string(video.fps) +
                           ")\\,1)");
    else
        cmd << "testsrc=size=64x48:rate=" << video.fps;
    if (!video.audio.empty())
        cmd << " -f lavfi -i " << shellQuoted(video.audio);
    cmd << " -c:v " << video.videoCodec;
    if (video.videoCodec == "mjpeg")
        cmd << " -q:v 5";
    if (!video.audio.empty())
        cmd << " -c:a " << video.audioCodec << " -ar " << video.audioRate;
    cmd << " " << shellQuoted(path);
    ProcessResult r = runProcess(cmd.str());
    if (r.exitCode != 0)
        throw std::runtime_error("ffmpeg could not make " + path + ": " + r.err);
}

void clearSoundKeyFrames(const std::string& path) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto get32 = [&](size_t at) {
        return uint32_t(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24);
    };
    const std::string tag = "idx1";
    auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    if (at == bytes.end())
        throw std::runtime_error("no index in " + path);
    size_t index = size_t(at - bytes.begin()) + 8;
    size_t end = std::min(bytes.size(), index + get32(index - 4));
    // Entries of 16 bytes: chunk id ("01wb" for sound), flags, offset, size.
    for (size_t e = index; e + 16 <= end; e += 16) {
        if (bytes[e + 2] == 'w' && bytes[e + 3] == 'b') {
            file.seekp(std::streamoff(e + 4));
            file.write("\0\0\0\0", 4);
        }
    }
    if (!file)
        throw std::runtime_error("cannot change " + path);
}

void setSoundFormatTag(const std::string& path, uint16_t tag) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The sound stream's header ("strh" of type "auds") is followed by its format ("strf").
    size_t header = bytes.find("auds");
    size_t format = header == std::string::npos ? header : bytes.find("strf", header);
    if (format == std::string::npos)
        throw std::runtime_error("no sound format in " + path);
    const char value[2] = {char(tag & 0xFF), char(tag >> 8)};
    file.seekp(std::streamoff(format + 8));
    file.write(value, 2);
    if (!file)
        throw std::runtime_error("cannot change " + path);
}

std::vector<int16_t> ffmpegSound(const std::string& path) {
    // Placed by its timestamps from time 0: silence where the stream starts late.
    ProcessResult r =
        runProcess("ffmpeg -v error -i " + shellQuoted(path) +
                   " -map 0:a:0 -af aresample=async=1:first_pts=0 -f s16le -ac 2 -ar 44100 -acodec "
                   "pcm_s16le -");
    if (r.exitCode != 0)
        throw std::runtime_error("ffmpeg could not decode " + path + ": " + r.err);
    std::vector<int16_t> samples(r.out.size() / 2);
    std::memcpy(samples.data(), r.out.data(), samples.size() * 2);
    return samples;
}

double rmsLevel(const std::vector<int16_t>& samples, size_t from, size_t to) {
    to = std::min(to, samples.size() / 2);
    if (to <= from)
        return 0;
    double sum = 0;
    for (size_t i = 2 * from; i < 2 * to; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(2 * (to - from)));
}

double toneFrequency(const std::vector<int16_t>& samples, size_t from, size_t to) {
    to = std::min(to, samples.size() / 2);
    size_t first = 0, last = 0, crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if (samples[2 * (i - 1)] < 0 && samples[2 * i] >= 0) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return double(crossings - 1) * SoundRate / double(last - first);
}

std::vector<size_t> soundOnsets(const std::vector<int16_t>& samples, int threshold, size_t minGap) {
    std::vector<size_t> onsets;
    size_t quiet = minGap;
    for (size_t i = 0; i < samples.size() / 2; ++i) {
        if (std::abs(int(samples[2 * i])) > threshold) {
            if (quiet >= minGap)
                onsets.push_back(i);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return onsets;
}

std::pair<size_t, size_t> soundSpan(const std::vector<int16_t>& samples, int threshold) {
    size_t first = 0, end = 0;
    bool any = false;
    for (size_t i = 0; i < samples.size() / 2; ++i) {
        if (std::abs(int(samples[2 * i])) > threshold) {
            if (!any)
                first = i;
            any = true;
            end = i + 1;
        }
    }
    return {first, end};
}

bool waitUntilStopped(const MediaPlayer& player, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (player.mode() == MediaPlayer::Playing && clock.elapsed() < timeoutMs)
        QTest::qWait(5);
    return player.mode() != MediaPlayer::Playing;
}

} // namespace kelvara::test
