// The player heard through a real sound server: a private PulseAudio null sink whose monitor is
// recorded while the player plays.
#include "SoundFixtures.h"
#include "SoundServer.h"

#include "AppFixture.h"

#include "app/MediaPlayer.h"
#include "support/TestUtil.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numeric>

using namespace kelvara;
using namespace kelvara::test;

namespace {

#define REQUIRE_SOUND_SERVER()                                                                               \
    if (!soundServer().running())                                                                            \
    GTEST_SKIP() << "no sound server could start here: " << soundServer().failure()

double decibels(double ratio) {
    return 20 * std::log10(ratio);
}

// The tones heard, one for each stretch of at least two 50 ms windows of the same pitch (a window
// where one tone gives way to the next has a pitch of neither).
std::vector<int> tonesHeard(const std::vector<int16_t>& sound) {
    std::vector<std::pair<int, int>> runs; // tone, windows
    const size_t window = SoundRate / 20;
    for (size_t at = 0; at + window <= sound.size() / 2; at += window) {
        int tone = rmsLevel(sound, at, at + window) < 3000
                       ? 0
                       : int(std::lround(toneFrequency(sound, at, at + window) / 10) * 10);
        if (runs.empty() || runs.back().first != tone)
            runs.emplace_back(tone, 0);
        ++runs.back().second;
    }
    std::vector<int> tones;
    for (auto [tone, windows] : runs)
        if (tone != 0 && windows >= 2 && (tones.empty() || tones.back() != tone))
            tones.push_back(tone);
    return tones;
}

// The program's windows, a scratch folder and a recorder of the sink.
struct RecordedApp {
    RecordedApp() : recorder(soundServer()) {}
    ScratchDir dir;
    SoundRecorder recorder;
    AppWindows app;
    MediaPlayer& player() { return app.form1->MediaPlayer1; }
};

} // namespace

// A PCM video is heard from its first picture to the end of its last one, at its own level.
TEST(SoundServer, APcmVideoIsHeardToTheEndOfItsLastPicture) {
    REQUIRE_SOUND_SERVER();
    ScratchDir dir;
    const std::string path = dir.file("tone.avi");
    SoundVideo video;
    video.seconds = 1;
    video.audio = sineSource(440, 2); // the sound goes on after the pictures
    makeSoundVideo(path, video);
    SoundRecorder recorder(soundServer());
    ASSERT_TRUE(recorder.start());
    VideoDisplay display;
    MediaPlayer player;
    player.setDisplayWindow(&display);
    player.open(path);
    ASSERT_TRUE(player.hasAudio()) << player.soundProblem().toStdString();
    player.play();
    ASSERT_TRUE(waitUntilStopped(player, 4000));
    QTest::qWait(400);
    recorder.stop();
    const std::vector<int16_t> sound = recorder.samples();
    auto [first, end] = soundSpan(sound, 1000);
    const double heardMs = (end - first) * 1000.0 / SoundRate;
    std::printf("heard %.1f ms of a 1000 ms video\n", heardMs);
    EXPECT_NEAR(heardMs, 1000, 3); // the tone's first and last samples may lie below the threshold
    EXPECT_NEAR(toneFrequency(sound, first, end), 440, 1);
    const std::vector<int16_t> source = ffmpegSound(path);
    EXPECT_NEAR(decibels(rmsLevel(sound, first, end) / rmsLevel(source, 0, SoundRate)), 0, 0.05);
}

// Opening three videos with sound one after another, each while the one before plays, keeps the
// program alive and each is heard.
TEST(SoundServer, ThreeVideosWithSoundOpenedOneAfterAnother) {
    REQUIRE_SOUND_SERVER();
    RecordedApp r;
    const struct {
        int tone;
        const char* codec;
    } videos[] = {{440, "pcm_s16le"}, {660, "libmp3lame"}, {880, "adpcm_ms"}};
    std::vector<std::string> paths;
    for (const auto& v : videos) {
        SoundVideo video;
        video.seconds = 1;
        video.audio = sineSource(v.tone, 1);
        video.audioCodec = v.codec;
        paths.push_back(r.dir.file(std::string(v.codec) + ".avi"));
        makeSoundVideo(paths.back(), video);
    }
    ASSERT_TRUE(r.recorder.start());
    for (const std::string& path : paths) {
        r.app.openVideo(path);
        ASSERT_TRUE(r.player().hasAudio()) << r.player().soundProblem().toStdString();
        QTest::qWait(700);
    }
    ASSERT_TRUE(waitUntilStopped(r.player(), 3000));
    QTest::qWait(300);
    r.recorder.stop();
    EXPECT_EQ(tonesHeard(r.recorder.samples()), (std::vector<int>{440, 660, 880}));
    EXPECT_EQ(r.app.form1->findChild<QLabel*>("SoundStatus")->text(), "");
}

// The real sample whose MP3 sound FFmpeg cannot seek in is heard at the level ffmpeg decodes it,
// and heard again from its start after Reset and Play.
TEST(SoundServer, TheMp3SampleIsHeard) {
    REQUIRE_SOUND_SERVER();
    const std::string path = samplePath("mimetype-avi-dx50.avi");
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "sample not found: " << path;
    RecordedApp r;
    ASSERT_TRUE(r.recorder.start());
    r.app.openVideo(path);
    ASSERT_TRUE(r.player().hasAudio()) << r.player().soundProblem().toStdString();
    QTest::qWait(1500);
    r.app.form1->BitBtn5Click(); // Reset
    QTest::qWait(500);
    r.app.form1->BitBtn3Click(); // Play
    QTest::qWait(1500);
    r.app.form1->BitBtn4Click(); // Pause
    QTest::qWait(300);
    r.recorder.stop();
    EXPECT_EQ(r.app.form1->findChild<QLabel*>("SoundStatus")->text(), "");

    const std::vector<int16_t> sound = r.recorder.samples();
    const std::vector<int16_t> source = ffmpegSound(path);
    std::vector<size_t> starts = soundOnsets(sound, 100, SoundRate / 5);
    ASSERT_EQ(starts.size(), 2u) << "the sample's sound is not heard twice";
    for (size_t play = 0; play < 2; ++play) {
        const size_t length = SoundRate; // the first second of each play
        const double ratio =
            decibels(rmsLevel(sound, starts[play], starts[play] + length) / rmsLevel(source, 0, length));
        std::printf("play %zu: the sample's first second at %.2f dB against ffmpeg's decoding\n", play + 1,
                    ratio);
        EXPECT_NEAR(ratio, decibels(65500 / 65535.0), 0.5);
    }
}

// The sound beeps at the start of every second and the picture flashes white with it: each beep is
// heard within 40 ms of its flash, from the first second to the last (10 s, or
// KELVARA_SYNC_SECONDS: 60 for the long run).
TEST(SoundServer, BeepsStayInStepWithTheFlashes) {
    REQUIRE_SOUND_SERVER();
    const double seconds =
        std::getenv("KELVARA_SYNC_SECONDS") ? std::atof(std::getenv("KELVARA_SYNC_SECONDS")) : 10;
    ScratchDir dir;
    const std::string path = dir.file("beeps.avi");
    SoundVideo video;
    video.seconds = seconds;
    video.audio = beepSource(seconds);
    video.flashes = true;
    makeSoundVideo(path, video);

    SoundRecorder recorder(soundServer());
    ASSERT_TRUE(recorder.start());
    VideoDisplay display;
    display.resize(64, 48);
    display.show();
    MediaPlayer player;
    player.setDisplayWindow(&display);
    player.open(path);
    ASSERT_TRUE(player.hasAudio()) << player.soundProblem().toStdString();
    std::vector<std::pair<int64_t, int64_t>> shown;
    QObject::connect(&player, &MediaPlayer::frameShown,
                     [&](qint64 frame) { shown.emplace_back(frame, SoundRecorder::nowUs()); });
    player.play();
    ASSERT_TRUE(waitUntilStopped(player, int(seconds * 1000) + 5000));
    QTest::qWait(300);
    recorder.stop();
    EXPECT_TRUE(player.soundProblem().isEmpty()) << player.soundProblem().toStdString();

    // Flashes at frames 25, 50, ... (frame 0 is on display before the play starts). The player
    // rightly skips a frame that comes late, the flash among them: the flash's moment is then that
    // of the first frame shown after it, less the frames between (40 ms each). More than two
    // frames in a row skipped is a fault of its own.
    const int64_t frameUs = 1'000'000 / video.fps;
    std::vector<int64_t> flashUs;
    size_t next = 0;
    for (int64_t k = 1; k < std::llround(seconds); ++k) {
        const int64_t flash = k * video.fps;
        while (next < shown.size() && shown[next].first < flash)
            ++next;
        ASSERT_LT(next, shown.size()) << "no frame was shown from the flash of second " << k;
        const int64_t skipped = shown[next].first - flash;
        ASSERT_LE(skipped, 2) << "frames " << flash << " to " << shown[next].first - 1 << " were not shown";
        flashUs.push_back(shown[next].second - skipped * frameUs);
    }
    const std::vector<int16_t> sound = recorder.samples();
    std::vector<int64_t> beepUs;
    for (size_t onset : soundOnsets(sound, 1000, SoundRate / 2))
        beepUs.push_back(recorder.playedAtUs(onset));
    ASSERT_EQ(beepUs.size(), size_t(std::llround(seconds)));
    ASSERT_EQ(flashUs.size(), beepUs.size() - 1);
    std::vector<double> offsetsMs;
    for (size_t k = 0; k < flashUs.size(); ++k)
        offsetsMs.push_back((beepUs[k + 1] - flashUs[k]) / 1000.0);
    for (size_t k = 0; k < offsetsMs.size(); ++k)
        EXPECT_LE(std::abs(offsetsMs[k]), 40.0)
            << "beep " << k + 1 << " is " << offsetsMs[k] << " ms off its flash";
    std::printf(
        "sound minus picture at 1 s: %.1f ms, at %d s: %.1f ms; the sink's clock runs %.0f ppm off the "
        "system clock\n",
        offsetsMs.front(), int(offsetsMs.size()), offsetsMs.back(), recorder.sinkClockPpm());
    std::printf("every second:");
    for (double o : offsetsMs)
        std::printf(" %.1f", o);
    std::printf("\n");
}

// The volume slider at 50 sends 32750 of 65535: the sound's level halves (-6.03 dB).
TEST(SoundServer, VolumeFiftyHalvesTheLevel) {
    REQUIRE_SOUND_SERVER();
    RecordedApp r;
    const std::string path = r.dir.file("tone.avi");
    SoundVideo video;
    video.seconds = 3;
    video.audio = sineSource(440, 3);
    makeSoundVideo(path, video);
    ASSERT_TRUE(r.recorder.start());
    r.app.openVideo(path); // plays at the slider's 100
    QTest::qWait(1200);
    r.app.find<QSlider>("TrackBar2")->setValue(50);
    ASSERT_TRUE(waitUntilStopped(r.player(), 4000));
    QTest::qWait(300);
    r.recorder.stop();
    const std::vector<int16_t> sound = r.recorder.samples();
    auto [first, end] = soundSpan(sound, 1000);
    ASSERT_NEAR(double(end - first), 3.0 * SoundRate, SoundRate / 50);
    const double source = rmsLevel(ffmpegSound(path), 0, 3 * SoundRate);
    const double full = decibels(rmsLevel(sound, first + SoundRate / 5, first + SoundRate) / source);
    const double half = decibels(rmsLevel(sound, first + 2 * SoundRate, end - SoundRate / 5) / source);
    std::printf("slider 100: %.3f dB, slider 50: %.3f dB, ratio %.3f dB\n", full, half, half - full);
    EXPECT_NEAR(full, decibels(65500 / 65535.0), 0.05);
    EXPECT_NEAR(half, decibels(32750 / 65535.0), 0.05);
}

// A pause is silent, and the play goes on from the sample it stopped at.
TEST(SoundServer, APauseIsSilentAndTheSoundGoesOnWhereItStopped) {
    REQUIRE_SOUND_SERVER();
    ScratchDir dir;
    const std::string path = dir.file("ramp.avi");
    SoundVideo video;
    video.seconds = 2;
    video.audio = rampSource(2);
    makeSoundVideo(path, video);
    SoundRecorder recorder(soundServer());
    ASSERT_TRUE(recorder.start());
    VideoDisplay display;
    MediaPlayer player;
    player.setDisplayWindow(&display);
    player.open(path); // at full volume the samples reach the sink as they are
    player.play();
    QTest::qWait(700);
    player.pauseOperation();
    QTest::qWait(800);
    player.pauseOperation();
    ASSERT_TRUE(waitUntilStopped(player, 4000));
    QTest::qWait(300);
    recorder.stop();

    // The ramp counts up by one from -32768: silence is a long run of zeros.
    const std::vector<int16_t> sound = recorder.samples();
    const size_t frames = sound.size() / 2;
    size_t first = 0;
    while (first < frames && sound[2 * first] == 0)
        ++first;
    ASSERT_LT(first, frames);
    EXPECT_EQ(sound[2 * first], -32768) << "the sound starts at its first sample";
    size_t gapStart = 0, gapEnd = 0;
    for (size_t i = first, run = 0; i < frames; ++i) {
        run = sound[2 * i] == 0 ? run + 1 : 0;
        if (run > gapEnd - gapStart && run > 100) {
            gapEnd = i + 1;
            gapStart = i + 1 - run;
        }
    }
    ASSERT_GT(gapEnd - gapStart, size_t(SoundRate / 2)) << "no silence while paused";
    // Past the pause the sound ends with a long silence too; the pause is the first gap.
    size_t pauseStart = first, pauseEnd;
    while (pauseStart < frames && !(sound[2 * pauseStart] == 0 && sound[2 * pauseStart + 2] == 0))
        ++pauseStart;
    pauseEnd = pauseStart;
    while (pauseEnd < frames && sound[2 * pauseEnd] == 0)
        ++pauseEnd;
    ASSERT_GT(pauseEnd - pauseStart, size_t(SoundRate / 2)) << "the pause is not silent";
    // Each sample before and after the pause is the one after its neighbour.
    for (size_t i = first + 1; i < pauseStart; ++i)
        ASSERT_EQ(int16_t(sound[2 * (i - 1)] + 1), sound[2 * i]) << "a jump before the pause at " << i;
    const int before = sound[2 * (pauseStart - 1)], after = sound[2 * pauseEnd];
    const int jump = int16_t(after - before - 1); // frames skipped (+) or heard again (-)
    std::printf("paused after %.3f s of sound; %d frames (%.2f ms) %s across the pause\n",
                double(pauseStart - first) / SoundRate, std::abs(jump), std::abs(jump) * 1000.0 / SoundRate,
                jump < 0 ? "heard again" : "skipped");
    EXPECT_LE(std::abs(jump), SoundRate / 100) << "more than 10 ms lost or repeated";
    size_t last = pauseEnd;
    while (last + 1 < frames && int16_t(sound[2 * last] + 1) == sound[2 * (last + 1)])
        ++last;
    EXPECT_EQ(sound[2 * last], int16_t((2 * SoundRate - 1) % 65536 - 32768))
        << "the sound ends at its last sample";
}
