// The player's sound through a simulated output: every codec and container decoded like ffmpeg
// decodes it, streams that cannot be sought, exact positions, pause and resume, the end of the
// last frame, the sound clock the pictures follow, and what happens when sound cannot play.
#include "AppFixture.h"
#include "SimulatedAudioOutput.h"
#include "SoundFixtures.h"

#include "app/MediaPlayer.h"
#include "support/TestUtil.h"
#include "video/AudioTrack.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace kelvara;
using namespace kelvara::test;

namespace {

constexpr int FrameBytes = 4; // 16-bit stereo

// Plays media time ranges of the file's sound one after another on one track, into an output that
// takes each range at once.
std::vector<std::vector<int16_t>> decodeRanges(const std::string& path,
                                               const std::vector<std::pair<int64_t, int64_t>>& ranges) {
    auto log = std::make_shared<OutputLog>();
    SimulatedOutputOptions options;
    options.bufferMs = 1'000'000;
    auto track = AudioTrack::open(path, simulatedOutputs(log, options));
    if (!track)
        throw std::runtime_error("no sound in " + path);
    std::vector<std::vector<int16_t>> sounds;
    for (auto [fromUs, toUs] : ranges) {
        track->start(fromUs, toUs);
        track->feed();
        const auto& bytes = log->streams.back();
        sounds.emplace_back(bytes.size() / 2);
        std::memcpy(sounds.back().data(), bytes.data(), bytes.size() / 2 * 2);
    }
    return sounds;
}

// The largest difference between two runs of samples, over the first `frames` frames.
int largestDifference(const std::vector<int16_t>& a, size_t aFrom, const std::vector<int16_t>& b,
                      size_t bFrom, size_t frames) {
    int worst = 0;
    for (size_t i = 0; i < 2 * frames; ++i)
        worst = std::max(worst, std::abs(int(a.at(2 * aFrom + i)) - int(b.at(2 * bFrom + i))));
    return worst;
}

// The shift of b against a, within maxShift frames either way, at which the first `frames` frames
// of a from aFrom differ least from b from bFrom; with that difference.
std::pair<int, int> bestShift(const std::vector<int16_t>& a, size_t aFrom, const std::vector<int16_t>& b,
                              size_t bFrom, size_t frames, int maxShift) {
    std::pair<int, int> best{0, INT32_MAX};
    for (int shift = -maxShift; shift <= maxShift; ++shift) {
        if (int64_t(bFrom) + shift < 0 || bFrom + shift + frames > b.size() / 2)
            continue;
        int diff = largestDifference(a, aFrom, b, bFrom + shift, frames);
        if (diff < best.second || (diff == best.second && std::abs(shift) < std::abs(best.first)))
            best = {shift, diff};
    }
    return best;
}

// The ramp's value at a frame.
int16_t rampAt(int64_t frame) {
    return int16_t((frame % 65536) - 32768);
}

// Checks that the samples are the ramp from frame `first` on, without a gap or a repeat.
::testing::AssertionResult isRampFrom(const std::vector<int16_t>& samples, int64_t first) {
    for (size_t i = 0; i < samples.size() / 2; ++i) {
        int16_t want = rampAt(first + int64_t(i));
        if (samples[2 * i] != want || samples[2 * i + 1] != want)
            return ::testing::AssertionFailure() << "frame " << i << " is " << samples[2 * i] << ", not "
                                                 << want << " (the ramp from frame " << first << ")";
    }
    return ::testing::AssertionSuccess();
}

struct CodecCase {
    const char* audioCodec;
    const char* extension;
    const char* videoCodec;
    int audioRate;
    int tolerance; // largest difference from ffmpeg's own decoding after a seek (rounding; the
                   // resampler's state where the stream is resampled)
    int maxShift;  // frames the sound may lie off ffmpeg's (timestamps in milliseconds)
};

void PrintTo(const CodecCase& c, std::ostream* out) {
    *out << c.audioCodec << " at " << c.audioRate << " Hz in " << c.extension;
}

class SoundCodecs : public ::testing::TestWithParam<CodecCase> {};

} // namespace

// Every codec and container is heard as ffmpeg decodes it: a range that starts after a seek, then
// the whole sound from the start, both with an index FFmpeg can seek in and with one it cannot.
TEST_P(SoundCodecs, DecodeAsFfmpegDoesFromAnyStart) {
    const CodecCase c = GetParam();
    ScratchDir dir;
    const std::string path = dir.file(std::string("sound.") + c.extension);
    SoundVideo video;
    video.seconds = 2;
    video.audio = sineSource(440, 2);
    video.audioCodec = c.audioCodec;
    video.videoCodec = c.videoCodec;
    video.audioRate = c.audioRate;
    makeSoundVideo(path, video);
    const std::vector<int16_t> reference = ffmpegSound(path);
    const size_t referenceFrames = reference.size() / 2;
    ASSERT_GT(referenceFrames, size_t(SoundRate));

    std::vector<std::string> files = {path};
    if (std::string(c.extension) == "avi") {
        files.push_back(dir.file("unseekable.avi"));
        std::filesystem::copy_file(path, files.back());
        clearSoundKeyFrames(files.back());
    }
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        // From 0.5 s to 1.25 s, then from the start to beyond the end.
        auto sounds = decodeRanges(file, {{500'000, 1'250'000}, {0, 10'000'000}});
        const std::vector<int16_t>& range = sounds[0];
        const std::vector<int16_t>& whole = sounds[1];
        // All of it, as ffmpeg decodes it.
        const size_t wholeFrames = whole.size() / 2;
        EXPECT_EQ(wholeFrames, referenceFrames);
        const size_t common = std::min(wholeFrames, referenceFrames) - c.maxShift - 1;
        auto [wholeShift, wholeDiff] =
            bestShift(whole, c.maxShift, reference, c.maxShift, common - c.maxShift, c.maxShift);
        EXPECT_EQ(wholeDiff, 0) << "shifted by " << wholeShift;
        // The range: exactly that long, and the sound that lies there.
        ASSERT_EQ(range.size() / 2, size_t(SoundRate * 3 / 4));
        auto [shift, diff] = bestShift(range, 0, reference, SoundRate / 2, range.size() / 2, c.maxShift);
        EXPECT_LE(diff, c.tolerance) << "shifted by " << shift;
        EXPECT_LE(std::abs(shift - wholeShift), c.maxShift);
        EXPECT_NEAR(toneFrequency(range, 0, range.size() / 2), 440, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(AviAndOtherContainers, SoundCodecs,
                         ::testing::Values(CodecCase{"pcm_s16le", "avi", "mjpeg", SoundRate, 0, 0},
                                           CodecCase{"pcm_u8", "avi", "mjpeg", SoundRate, 0, 0},
                                           CodecCase{"pcm_mulaw", "avi", "mjpeg", SoundRate, 0, 0},
                                           CodecCase{"pcm_alaw", "avi", "mjpeg", SoundRate, 0, 0},
                                           CodecCase{"adpcm_ms", "avi", "mjpeg", SoundRate, 1, 0},
                                           CodecCase{"adpcm_ima_wav", "avi", "mjpeg", SoundRate, 1, 0},
                                           CodecCase{"libmp3lame", "avi", "mjpeg", SoundRate, 1, 0},
                                           CodecCase{"aac", "avi", "mjpeg", SoundRate, 1, 0},
                                           CodecCase{"ac3", "avi", "mjpeg", SoundRate, 1, 0},
                                           CodecCase{"mp2", "avi", "mjpeg", SoundRate, 1, 0},
                                           CodecCase{"wmav2", "avi", "mjpeg", SoundRate, 1, 0},
                                           CodecCase{"aac", "mp4", "mjpeg", SoundRate, 1, 0},
                                           CodecCase{"flac", "mkv", "mjpeg", SoundRate, 0, 44},
                                           CodecCase{"libvorbis", "mkv", "mjpeg", SoundRate, 1, 44},
                                           CodecCase{"libvorbis", "webm", "libvpx", SoundRate, 1, 44},
                                           CodecCase{"pcm_s16le", "avi", "mjpeg", 48000, 512, 0}),
                         [](const ::testing::TestParamInfo<CodecCase>& info) {
                             return std::string(info.param.audioCodec) + "_" +
                                    std::to_string(info.param.audioRate) + "_" + info.param.extension;
                         });

namespace {

// A 25 fps video whose sound is the ramp, played by a player into simulated outputs.
struct RampPlayer {
    explicit RampPlayer(double videoSeconds, double soundSeconds, SimulatedOutputOptions options = {})
        : log(std::make_shared<OutputLog>()) {
        SoundVideo video;
        video.seconds = videoSeconds;
        video.audio = rampSource(soundSeconds);
        makeSoundVideo(path, video);
        display.resize(64, 48);
        player.setDisplayWindow(&display);
        player.setAudioOutputFactory(simulatedOutputs(log, options));
        player.open(path);
    }

    ScratchDir dir;
    std::string path = dir.file("ramp.avi");
    std::shared_ptr<OutputLog> log;
    VideoDisplay display;
    MediaPlayer player;
};

constexpr int64_t FramesPerPicture = SoundRate / 25;

} // namespace

// The last picture's sound is heard to its end, and the play stops only then.
TEST(PlayerSound, APlayEndsWithTheLastPicturesSound) {
    RampPlayer r(0.4, 1.0);
    ASSERT_TRUE(r.player.hasAudio());
    QElapsedTimer clock;
    clock.start();
    r.player.play();
    ASSERT_TRUE(waitUntilStopped(r.player, 3000));
    EXPECT_GE(clock.elapsed(), 390);
    EXPECT_EQ(r.player.position(), 9 * 40);
    r.player.close();
    const std::vector<int16_t> heard = r.log->heard();
    EXPECT_EQ(heard.size() / 2, size_t(10 * FramesPerPicture));
    EXPECT_TRUE(isRampFrom(heard, 0));

    // A play of frames 3 to 5 from their start positions hears exactly their sound.
    RampPlayer part(0.4, 1.0);
    part.player.setTimeFormat(MediaPlayer::TimeFormat::Frames);
    part.player.setStartPosition(3);
    part.player.setEndPosition(5);
    part.player.play();
    ASSERT_TRUE(waitUntilStopped(part.player, 3000));
    EXPECT_EQ(part.player.position(), 5);
    part.player.close();
    EXPECT_EQ(part.log->heard().size() / 2, size_t(3 * FramesPerPicture));
    EXPECT_TRUE(isRampFrom(part.log->heard(), 3 * FramesPerPicture));
}

// Pausing holds the sound where it is; resuming, by the pause operation or by Play, goes on
// from that very sample.
TEST(PlayerSound, PauseAndResumeGoOnFromTheSameSample) {
    RampPlayer r(1.0, 1.0);
    r.player.play();
    for (int round = 0; round < 2; ++round) {
        QTest::qWait(200);
        r.player.pauseOperation();
        ASSERT_EQ(r.player.mode(), MediaPlayer::Paused);
        const int64_t paused = r.player.position();
        QTest::qWait(150);
        EXPECT_EQ(r.player.position(), paused);
        if (round == 0)
            r.player.pauseOperation();
        else
            r.player.play();
        ASSERT_EQ(r.player.mode(), MediaPlayer::Playing);
    }
    ASSERT_TRUE(waitUntilStopped(r.player, 3000));
    r.player.close();
    EXPECT_EQ(r.log->starts, 1);
    EXPECT_EQ(r.log->suspends, 2);
    const std::vector<int16_t> heard = r.log->heard();
    EXPECT_EQ(heard.size() / 2, size_t(SoundRate));
    EXPECT_TRUE(isRampFrom(heard, 0));
}

// A seek moves the sound with the picture: the play hears the frame's sound from its start.
TEST(PlayerSound, APlayAfterASeekStartsAtThatFramesSound) {
    RampPlayer r(1.0, 1.0);
    r.player.setTimeFormat(MediaPlayer::TimeFormat::Frames);
    r.player.play();
    QTest::qWait(100);
    r.player.seek(20);
    EXPECT_EQ(r.player.mode(), MediaPlayer::Stopped);
    r.player.play();
    ASSERT_TRUE(waitUntilStopped(r.player, 3000));
    r.player.close();
    ASSERT_EQ(r.log->streams.size(), 2u);
    OutputLog second;
    second.streams = {r.log->streams[1]};
    EXPECT_EQ(second.heard().size() / 2, size_t(5 * FramesPerPicture));
    EXPECT_TRUE(isRampFrom(second.heard(), 20 * FramesPerPicture));
}

// Opening one video with sound after another keeps every player working, each with its sound.
TEST(PlayerSound, OpeningVideosWithSoundOneAfterAnother) {
    ScratchDir dir;
    auto log = std::make_shared<OutputLog>();
    VideoDisplay display;
    MediaPlayer player;
    player.setDisplayWindow(&display);
    player.setAudioOutputFactory(simulatedOutputs(log));
    const char* codecs[] = {"pcm_s16le", "libmp3lame", "adpcm_ms", "aac", "pcm_s16le"};
    for (int i = 0; i < 5; ++i) {
        SoundVideo video;
        video.seconds = 0.4;
        video.audio = sineSource(440 + 110 * i, 0.4);
        video.audioCodec = codecs[i];
        const std::string path = dir.file("video" + std::to_string(i) + ".avi");
        makeSoundVideo(path, video);
        player.open(path);
        ASSERT_TRUE(player.hasAudio()) << codecs[i];
        EXPECT_TRUE(player.soundProblem().isEmpty()) << player.soundProblem().toStdString();
        player.play();
        QTest::qWait(100);
    }
    player.close();
    ASSERT_EQ(log->streams.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        OutputLog one;
        one.streams = {log->streams[i]};
        one.playedBytes = {log->playedBytes[i]};
        const std::vector<int16_t> heard = one.heard();
        EXPECT_GT(heard.size() / 2, size_t(SoundRate / 20)) << codecs[i];
        EXPECT_GT(rmsLevel(heard, 0, heard.size() / 2), 5000) << codecs[i];
    }
}

namespace {

struct FailureCase {
    const char* name;
    const char* message; // what the sound problem starts with
    SimulatedOutputOptions output;
    bool noDevice = false;
    bool unknownCodec = false;
};

SimulatedOutputOptions failingStart() {
    SimulatedOutputOptions o;
    o.failStart = true;
    return o;
}

SimulatedOutputOptions failingAfter(int ms) {
    SimulatedOutputOptions o;
    o.failAfterMs = ms;
    return o;
}

} // namespace

// When the sound cannot be played, from the start or from some point on, the pictures play to the
// end on the timer and the player says why it is silent.
TEST(PlayerSound, PicturesPlayOnWhenTheSoundCannot) {
    const FailureCase cases[] = {
        {"no output device", SoundMessages::NoDevice, {}, true, false},
        {"no decoder", SoundMessages::NoDecoder, {}, false, true},
        {"output that cannot start", SoundMessages::OutputFailed, failingStart()},
        {"output that fails while playing", SoundMessages::OutputFailed, failingAfter(200)},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = dir.file("video.avi");
        SoundVideo video;
        video.seconds = 0.6;
        video.audio = sineSource(440, 0.6);
        makeSoundVideo(path, video);
        if (c.unknownCodec)
            setSoundFormatTag(path, 0x7A7A);
        auto log = std::make_shared<OutputLog>();
        VideoDisplay display;
        MediaPlayer player;
        player.setDisplayWindow(&display);
        if (c.noDevice)
            player.setAudioOutputFactory(
                []() -> std::unique_ptr<AudioOutput> { throw SoundError(SoundMessages::NoDevice); });
        else
            player.setAudioOutputFactory(simulatedOutputs(log, c.output));
        QStringList problems;
        QObject::connect(&player, &MediaPlayer::soundProblemChanged,
                         [&](const QString& text) { problems << text; });
        player.open(path);
        player.setTimeFormat(MediaPlayer::TimeFormat::Frames);
        QElapsedTimer clock;
        clock.start();
        player.play();
        ASSERT_TRUE(waitUntilStopped(player, 3000));
        // To the end of the last picture. Not stuck on a sound that does not come: a player held
        // by it would have said OutputStalled, not the failure's own message (checked below).
        EXPECT_GE(clock.elapsed(), 550);
        EXPECT_EQ(player.position(), 14);
        ASSERT_FALSE(problems.isEmpty());
        EXPECT_TRUE(problems.back().startsWith(c.message)) << problems.back().toStdString();
        EXPECT_EQ(player.soundProblem(), problems.back());
    }
}

// An output that stops playing without a word holds the pictures for two seconds at most: then
// the timer goes on from where the sound stopped, and the player says why it is silent.
TEST(PlayerSound, AStuckOutputGivesTheClockToTheTimer) {
    SimulatedOutputOptions stuck;
    stuck.stallAfterMs = 300;
    RampPlayer r(1.0, 1.0, stuck);
    r.player.setTimeFormat(MediaPlayer::TimeFormat::Frames);
    QElapsedTimer clock;
    clock.start();
    r.player.play();
    QTest::qWait(1500);
    EXPECT_EQ(r.player.position(), 7); // 300 ms in
    EXPECT_TRUE(r.player.soundProblem().isEmpty());
    ASSERT_TRUE(waitUntilStopped(r.player, 5000));
    EXPECT_EQ(r.player.soundProblem(), SoundMessages::OutputStalled);
    EXPECT_GE(clock.elapsed(), 2900); // 0.3 s, 2 s held, 0.7 s on the timer
    EXPECT_EQ(r.player.position(), 24);
}

// The main window says under the file name why the video is silent, and says nothing when its
// sound plays or it has none.
TEST(PlayerSound, TheMainWindowSaysWhyAVideoIsSilent) {
    ScratchDir dir;
    const std::string withSound = dir.file("sound.avi"), silent = dir.file("silent.avi");
    SoundVideo video;
    video.seconds = 0.2;
    video.audio = sineSource(440, 0.2);
    makeSoundVideo(withSound, video);
    video.audio.clear();
    makeSoundVideo(silent, video);

    AppWindows app;
    auto* status = app.form1->findChild<QLabel*>("SoundStatus");
    ASSERT_NE(status, nullptr);
    app.form1->MediaPlayer1.setAudioOutputFactory(
        []() -> std::unique_ptr<AudioOutput> { throw SoundError(SoundMessages::NoDevice); });
    app.openVideo(withSound);
    EXPECT_EQ(status->text(), SoundMessages::NoDevice);
    EXPECT_TRUE(status->isVisible());
    app.openVideo(silent);
    EXPECT_EQ(status->text(), "");
    app.form1->MediaPlayer1.setAudioOutputFactory(simulatedOutputs(std::make_shared<OutputLog>()));
    app.openVideo(withSound);
    EXPECT_EQ(status->text(), "");
    EXPECT_TRUE(app.form1->MediaPlayer1.hasAudio());
}

namespace {

// Pauses a play after a while of the steady clock, and gives the frame it stopped at.
int64_t frameAfter(MediaPlayer& player, int ms) {
    player.setTimeFormat(MediaPlayer::TimeFormat::Frames);
    player.play();
    QTest::qWait(ms);
    player.pauseOperation();
    return player.position();
}

} // namespace

// While the sound plays, its device's clock sets the picture: a device that runs slow or fast
// against the system clock takes the pictures with it.
TEST(PlayerClock, PicturesFollowTheSoundDevicesClock) {
    for (double speed : {0.8, 1.25}) {
        SCOPED_TRACE(speed);
        SimulatedOutputOptions options;
        options.speed = speed;
        RampPlayer r(3.0, 3.0, options);
        const int64_t frame = frameAfter(r.player, 1000);
        // 1 s of the system clock is `speed` seconds of the device's, 25 pictures a second.
        EXPECT_NEAR(double(frame), 25 * speed, 2.5);
    }
}

// Without sound, or once a short sound is over, the timer keeps the time.
TEST(PlayerClock, TheTimerKeepsTimeWithoutSound) {
    RampPlayer noSound(3.0, 0.3);
    EXPECT_NEAR(double(frameAfter(noSound.player, 1000)), 25, 2.5);
    EXPECT_TRUE(noSound.player.soundProblem().isEmpty());

    ScratchDir dir;
    SoundVideo video;
    video.seconds = 3;
    makeSoundVideo(dir.file("silent.avi"), video);
    VideoDisplay display;
    MediaPlayer player;
    player.setDisplayWindow(&display);
    player.open(dir.file("silent.avi"));
    EXPECT_FALSE(player.hasAudio());
    EXPECT_NEAR(double(frameAfter(player, 1000)), 25, 2.5);
}

namespace {

struct ContainerSound {
    const char* extension;
    const char* videoCodec;
    const char* audioCodec;
};

void PrintTo(const ContainerSound& c, std::ostream* out) {
    *out << c.videoCodec << " and " << c.audioCodec << " in " << c.extension;
}

class PlayerContainers : public ::testing::TestWithParam<ContainerSound> {};

} // namespace

// Videos in other containers play with their sound from the first picture to the last, the sound
// lying where the pictures do (a transport stream's clock starts well after 0).
TEST_P(PlayerContainers, PlayWithTheirSoundFromFirstPictureToLast) {
    const ContainerSound c = GetParam();
    ScratchDir dir;
    const std::string path = dir.file(std::string("clip.") + c.extension);
    SoundVideo video;
    video.seconds = 1;
    video.audio = sineSource(440, 1);
    video.videoCodec = c.videoCodec;
    video.audioCodec = c.audioCodec;
    video.audioRate = 48000;
    makeSoundVideo(path, video);
    auto log = std::make_shared<OutputLog>();
    VideoDisplay display;
    MediaPlayer player;
    player.setDisplayWindow(&display);
    player.setAudioOutputFactory(simulatedOutputs(log));
    player.open(path);
    ASSERT_TRUE(player.hasAudio());
    EXPECT_TRUE(player.soundProblem().isEmpty()) << player.soundProblem().toStdString();
    EXPECT_EQ(player.facts().frameCount, 25);
    std::vector<qint64> shown;
    QObject::connect(&player, &MediaPlayer::frameShown, [&](qint64 frame) { shown.push_back(frame); });
    player.setTimeFormat(MediaPlayer::TimeFormat::Frames);
    player.play();
    ASSERT_TRUE(waitUntilStopped(player, 4000));
    EXPECT_EQ(player.position(), 24);
    player.close();
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_EQ(shown.back(), 24);
    // A second of sound, heard from the first picture on: no silence in front of it.
    const std::vector<int16_t> heard = log->heard();
    EXPECT_NEAR(double(heard.size() / 2), SoundRate, SoundRate * 0.03);
    EXPECT_GT(rmsLevel(heard, 0, SoundRate / 20), 5000);
    EXPECT_NEAR(toneFrequency(heard, 0, heard.size() / 2), 440, 2);
}

INSTANTIATE_TEST_SUITE_P(Containers, PlayerContainers,
                         ::testing::Values(ContainerSound{"mp4", "libx264", "aac"},
                                           ContainerSound{"mp4", "libx264", "libmp3lame"},
                                           ContainerSound{"mkv", "libx264", "libopus"},
                                           ContainerSound{"webm", "libvpx-vp9", "libvorbis"},
                                           ContainerSound{"ts", "mpeg2video", "mp2"}),
                         [](const ::testing::TestParamInfo<ContainerSound>& info) {
                             return std::string(info.param.extension) + "_" + info.param.audioCodec;
                         });

// Pictures of a variable-rate video show at their own times: a play from a picture hears the
// sound from that picture's time on, and a pause shows the picture whose time the sound reached.
TEST(PlayerSound, AVariableRateVideoShowsEachPictureAtItsOwnTime) {
    ScratchDir dir;
    const std::string path = dir.file("vfr.mkv");
    ProcessResult made =
        runProcess("ffmpeg -v error -y -t 1.2 -f lavfi -i testsrc=size=64x48:rate=25 -f lavfi -i " +
                   shellQuoted(rampSource(3)) + " -vf " +
                   shellQuoted("settb=1/1000,setpts='N*40+if(eq(mod(N,3),1),13,0)+N*N'") +
                   " -vsync vfr -enc_time_base:v 1:1000 -c:v libx264 -bf 2 -c:a pcm_s16le -ar 44100 " +
                   shellQuoted(path));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    FrameReader reader;
    reader.open(path);
    ASSERT_NE(reader.frameTimes(), nullptr);
    const FrameTimes times = *reader.frameTimes();

    auto log = std::make_shared<OutputLog>();
    VideoDisplay display;
    MediaPlayer player;
    player.setDisplayWindow(&display);
    player.setAudioOutputFactory(simulatedOutputs(log));
    player.open(path);
    ASSERT_TRUE(player.hasAudio());
    player.setTimeFormat(MediaPlayer::TimeFormat::Frames);
    player.seek(12);
    player.play();
    QTest::qWait(500);
    player.pauseOperation();
    const int64_t paused = player.position();
    player.close();

    const std::vector<int16_t> heard = log->heard();
    ASSERT_GT(heard.size(), 2u);
    // The ramp from picture 12's time (Matroska keeps milliseconds: the sound may lie one off).
    const int64_t start = (heard[0] + 32768) % 65536;
    EXPECT_NEAR(double(start), double(times.startUs[12]) * SoundRate / 1e6, SoundRate / 1000 + 1);
    EXPECT_TRUE(isRampFrom(heard, start));
    // The picture on show is the one whose time the sound reached.
    const int64_t reachedUs = times.startUs[12] + int64_t(heard.size() / 2) * 1'000'000 / SoundRate;
    const int64_t expected =
        std::upper_bound(times.startUs.begin(), times.startUs.end(), reachedUs) - times.startUs.begin() - 1;
    EXPECT_NEAR(double(paused), double(expected), 1);
    EXPECT_GT(paused, 12);
}
