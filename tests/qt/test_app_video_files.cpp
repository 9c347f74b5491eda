// Tests of the desktop program on videos other than AVI: such a video opens, plays and converts
// as an AVI does, its time ranges go by its pictures' own times, and a file that cannot be opened
// says which one and why.
#include "AppFixture.h"
#include "app/Application.h"
#include "support/TestUtil.h"
#include "video/FrameSource.h"

#include <QApplication>

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
    EXPECT_EQ(f.Label21->text(), "clip.mp4");
    EXPECT_EQ(f.state.frameCount, 30);
    EXPECT_EQ(f.state.videoLength, 1200);
    EXPECT_EQ(f.Edit9->text(), "64 x 48");
    EXPECT_EQ(f.MediaPlayer1.mode(), MediaPlayer::Playing);
    f.BitBtn4Click();
    f.MediaPlayer1.seek(17);
    f.Timer1Timer();
    EXPECT_EQ(f.Edit6->text(), "18 / 30");

    // "Get frames" takes every picture, as the frame source gives them.
    FrameReader reader;
    reader.open(path);
    f.Button12Click();
    ASSERT_EQ(f.lbAVI->count(), 30);
    for (int i : {1, 18, 30})
        EXPECT_EQ(bgrBytes(f.extractionFrames.entry(i)), bgrBytes(*reader.frame(i - 1))) << "frame " << i;

    // "Time range" 0..1 s: the pictures shown from 0 s to 1 s, both included: 26 of them, where
    // the frame count and the length would give 25.
    f.RadioButton5->setChecked(true);
    f.RadioButton5Click();
    f.SpinEdit4->setValue(0);
    f.SpinEdit5->setValue(1);
    f.Button5Click();
    EXPECT_EQ(f.state.builtFrameCount, 26);
    EXPECT_EQ(bgrBytes(f.gifFrames.entry(26)), bgrBytes(*reader.frame(25)));
}

TEST(VideoFiles, AFileThatCannotBeOpenedSaysWhichAndWhy) {
    EXPECT_EQ(
        exceptionText(
            FrameSourceError(FrameSourceMessages::OpenFile, "/somewhere/clip.xyz",
                             "not a video FFmpeg can read: Invalid data found when processing input")),
        "Failed to open AVI file\nclip.xyz: not a video FFmpeg can read: Invalid data found when processing "
        "input");
    // An AVI's message stands alone, as ever.
    EXPECT_EQ(exceptionText(FrameSourceError(FrameSourceMessages::OpenStream)), "Failed to open AVI stream");
    EXPECT_EQ(exceptionText(Error("The GIF size must not exceed 10000 x 10000 pixels.")),
              "The GIF size must not exceed 10000 x 10000 pixels.");

    ScratchDir dir;
    const std::string sound = dir.file("song.mp3");
    ASSERT_EQ(runProcess("ffmpeg -v error -y -f lavfi -i sine -t 0.5 " + shellQuoted(sound)).exitCode, 0);
    AppWindows app;
    try {
        app.openVideo(sound);
        ADD_FAILURE() << "a sound file opened as a video";
    } catch (const FrameSourceError& e) {
        EXPECT_EQ(exceptionText(e), "Failed to open AVI stream\nsong.mp3: the file has no video stream");
    }
    EXPECT_EQ(app.form1->Label21->text(), "");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
