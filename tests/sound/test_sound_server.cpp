// The player heard through a real sound server: a private PulseAudio null sink whose monitor is
// recorded while the player plays.
#include "SoundFixtures.h"
#include "SoundServer.h"

#include "app/MediaPlayer.h"
#include "support/TestUtil.h"

#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kelvara;
using namespace kelvara::test;

namespace {

#define REQUIRE_SOUND_SERVER()                                                                               \
    if (!soundServer().running())                                                                            \
    GTEST_SKIP() << "no sound server could start here: " << soundServer().failure()

// Lets the player run until it stops, or the time is up.
bool waitUntilStopped(const MediaPlayer& player, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (player.mode() == MediaPlayer::Playing && t.elapsed() < timeoutMs)
        QTest::qWait(5);
    return player.mode() != MediaPlayer::Playing;
}

} // namespace

TEST(SoundServer, BeepsStayInStepWithTheFlashes) {
    REQUIRE_SOUND_SERVER();
    const double seconds =
        std::getenv("KELVARA_SYNC_SECONDS") ? std::atof(std::getenv("KELVARA_SYNC_SECONDS")) : 60;
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

    // Flashes at frames 25, 50, ... (frame 0 is on display before the play starts).
    std::vector<int64_t> flashUs;
    for (auto [frame, at] : shown)
        if (frame > 0 && frame % 25 == 0)
            flashUs.push_back(at);
    const std::vector<int16_t> sound = recorder.samples();
    std::vector<int64_t> beepUs;
    for (size_t onset : soundOnsets(sound, 1000, SoundRate / 2))
        beepUs.push_back(recorder.startUs() + int64_t(onset) * 1'000'000 / SoundRate);
    ASSERT_EQ(beepUs.size(), size_t(std::llround(seconds)));
    ASSERT_EQ(flashUs.size(), beepUs.size() - 1);
    std::vector<double> offsetsMs;
    for (size_t k = 0; k < flashUs.size(); ++k)
        offsetsMs.push_back((beepUs[k + 1] - flashUs[k]) / 1000.0);
    for (size_t k = 0; k < offsetsMs.size(); ++k)
        EXPECT_LE(std::abs(offsetsMs[k]), 40.0)
            << "beep " << k + 1 << " is " << offsetsMs[k] << " ms off its flash";
    std::printf("sound minus picture at 1 s: %.1f ms, at %d s: %.1f ms\n", offsetsMs.front(),
                int(offsetsMs.size()), offsetsMs.back());
    for (double o : offsetsMs)
        std::printf("%.1f ", o);
    std::printf("\n");
}
