// Tests of the desktop program on videos other than AVI: such a video opens, plays and converts
// as an AVI does, its time ranges go by its pictures' own times, and a file that cannot be opened
// says which one and why.
#include "AppFixture.h"
#include "app/Application.h"
#include "support/TestUtil.h"
#include "video/FrameSource.h"
#include "widgets/SlotGuard.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

using namespace kelvara;
using namespace kelvara::test;

TEST(VideoFiles, AnMp4OpensPlaysExtractsAndConverts) {
    ScratchDir dir;
    const std::string path = dir.file("clip.mp4");
    ProcessResult made = runProcess("ffmpeg -v error -y -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 30 "
                                    "-c:v libx264 -bf 2 -g 12 " +
                                    shellQuoted(path));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(path);
    EXPECT_EQ(app.find<QLabel>("Label21")->text(), "clip.mp4");
    EXPECT_EQ(f.state().frameCount, 30);
    EXPECT_EQ(f.state().videoLength, 1200);
    EXPECT_EQ(app.find<QLineEdit>("Edit9")->text(), "64 x 48");
    EXPECT_EQ(f.MediaPlayer1.mode(), MediaPlayer::Playing);
    f.BitBtn4Click();
    f.MediaPlayer1.seek(17);
    f.Timer1Timer();
    EXPECT_EQ(app.find<QLineEdit>("Edit6")->text(), "18 / 30");

    // "Get frames" takes every picture, as the frame source gives them.
    FrameReader reader;
    reader.open(path);
    app.find<QPushButton>("Button12")->click();
    ASSERT_EQ(app.find<QListWidget>("lbAVI")->count(), 30);
    for (int i : {1, 18, 30})
        EXPECT_EQ(bgrBytes(f.extractionFrames.entry(i)), bgrBytes(*reader.frame(i - 1))) << "frame " << i;

    // "Time range" 0..1 s: the pictures shown from 0 s to 1 s, both included: 26 of them, where
    // the frame count and the length would give 25.
    app.find<QRadioButton>("RadioButton5")->click();
    app.find<SpinEdit>("SpinEdit4")->setValue(0);
    app.find<SpinEdit>("SpinEdit5")->setValue(1);
    app.find<QPushButton>("Button5")->click();
    EXPECT_EQ(f.state().builtFrameCount, 26);
    EXPECT_EQ(bgrBytes(f.gifFrames.entry(26)), bgrBytes(*reader.frame(25)));
}

TEST(VideoFiles, AFileThatCannotBeOpenedSaysWhichAndWhy) {
    EXPECT_EQ(failureText(
                  FrameSourceError(FrameSourceMessages::Video::OpenFile, "/somewhere/clip.xyz",
                                   "not a video FFmpeg can read: Invalid data found when processing input")),
              "Failed to open video file\nclip.xyz: not a video FFmpeg can read: Invalid data found when "
              "processing "
              "input");
    // An AVI's message stands alone, as ever.
    EXPECT_EQ(failureText(FrameSourceError(FrameSourceMessages::OpenStream)), "Failed to open AVI stream");
    EXPECT_EQ(failureText(Error("The GIF size must not exceed 10000 x 10000 pixels.")),
              "The GIF size must not exceed 10000 x 10000 pixels.");

    ScratchDir dir;
    const std::string sound = dir.file("song.mp3");
    ASSERT_EQ(runProcess("ffmpeg -v error -y -f lavfi -i sine -t 0.5 " + shellQuoted(sound)).exitCode, 0);
    AppWindows app;
    QString shown;
    const FailureReporter previous = setFailureReporter([&](const QString& message) { shown = message; });
    runGuarded([&] { app.openVideo(sound); });
    setFailureReporter(previous);
    EXPECT_EQ(shown, "Failed to open video stream\nsong.mp3: the file has no video stream");
    EXPECT_EQ(app.find<QLabel>("Label21")->text(), "");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
