// Tests of the desktop program's main window: opening a video, the player's displays and sizes,
// the "AVI to animated GIF" tab with window picking, the preview and the failure paths.
#include "AppFixture.h"
#include "gif/GifDocument.h"
#include "raster/Stream.h"
#include "support/AviWriter.h"
#include "support/TestUtil.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

using namespace kelvara;
using namespace kelvara::test;

namespace {

Color frameColor(int i) {
    return rgbColor((i * 37) & 0xFF, (i * 11) & 0xFF, 255 - (i & 0xFF));
}

// A video of count frames; frame i (1-based) is one colour with a white pixel at (x, y) = (i, 0).
std::string video(const ScratchDir& dir, const std::string& name, int w, int h, int count, uint32_t scale = 1,
                  uint32_t rate = 25) {
    AviFixture f;
    f.width = w;
    f.height = h;
    f.scale = scale;
    f.rate = rate;
    for (int i = 1; i <= count; ++i)
        f.frames.push_back(
            dibBits24(w, h, [&](int x, int y) { return x == i && y == 0 ? ColorWhite : frameColor(i); }));
    std::string path = dir.file(name);
    writeAvi(path, f);
    return path;
}

// Whether the whole of a control shows in the window: inside it and clipped by nothing.
bool showsWhole(QWidget& window, QWidget* control) {
    const QRect inWindow(control->mapTo(&window, QPoint(0, 0)), control->size());
    return control->isVisible() && window.rect().contains(inWindow) &&
           control->visibleRegion() == QRegion(control->rect());
}

} // namespace

TEST(MainWindow, StartsWithItsControlsAndState) {
    AppWindows app;
    TForm1& f = *app.form1;
    EXPECT_EQ(f.windowTitle(), "Kelvara 5.2");
    // 752 x 303 where the controls fit; larger where the font needs more room.
    EXPECT_GE(f.width(), 752);
    EXPECT_GE(f.height(), 303);
    EXPECT_TRUE(TestScreen.contains(f.geometry()));
    EXPECT_EQ(f.findChild<QToolButton*>("SpeedButton5")->toolTip(), "Open AVI (Ctrl+O)");
    EXPECT_FALSE(app.find<QWidget>("ControlPanel")->isEnabled());
    EXPECT_FALSE(app.find<QPushButton>("Button5")->isEnabled());
    EXPECT_EQ(app.find<QTabWidget>("PageControl1")->tabText(0), "Get frames");
    EXPECT_EQ(app.find<QTabWidget>("PageControl1")->currentIndex(), 0);
    EXPECT_EQ(app.find<QComboBox>("ComboBox2")->itemText(0), " As AVI window size");
    EXPECT_EQ(app.find<QComboBox>("ComboBox3")->currentText(), " 1:1");
    EXPECT_EQ(app.find<QLineEdit>("Edit5")->toolTip(), "GIF delay (10...5000ms)");
    // The time-range panel shares the frame-range panel's place, the picking view the video
    // panel's.
    app.find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    QApplication::processEvents();
    EXPECT_EQ(app.find<QWidget>("Panel9")->geometry(), app.find<QWidget>("Panel8")->geometry());
    EXPECT_EQ(app.find<TImageView>("GIFview")->geometry().topLeft(),
              app.find<VideoDisplay>("VideoPanel")->geometry().topLeft());
    app.find<QTabWidget>("PageControl1")->setCurrentIndex(0);
    EXPECT_EQ(app.find<QComboBox>("ComboBox4")->currentText(), "CrossDissolve");
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit12")->value(), 10);
    EXPECT_EQ(f.state().gifDelay, 100);
    EXPECT_EQ(f.gifFrames.size(), 260);
    EXPECT_EQ(f.transitionFrames.size(), 55);
}

TEST(MainWindow, OpenAviFillsTheStateAndTheDisplays) {
    ScratchDir dir;
    // 2262 frames lasting 90 500 ms.
    std::string path = video(dir, "long.avi", 1, 1, 2262, 181, 4524);
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(path);
    EXPECT_EQ(f.state().frameCount, 2262);
    EXPECT_EQ(f.state().videoLength, 90500);
    EXPECT_EQ(f.state().videoLengthSeconds, 90);
    EXPECT_EQ(app.find<QLabel>("Label21")->text(), "long.avi");
    EXPECT_EQ(app.find<QLineEdit>("Edit9")->text(), "1 x 1");
    EXPECT_EQ(app.find<UpDown>("UpDown1")->maximum(), 226);
    EXPECT_EQ(app.find<QSlider>("TrackBar1")->maximum(), 2261);
    EXPECT_TRUE(app.find<QPushButton>("Button5")->isEnabled());
    EXPECT_FALSE(app.find<QToolButton>("BitBtn3")->isEnabled());
    EXPECT_EQ(app.form2->Label1->text(), "Put the frame number (1...2262)");
    EXPECT_EQ(f.MediaPlayer1.mode(), MediaPlayer::Playing);
    f.BitBtn4Click();
    f.MediaPlayer1.seek(1131);
    f.Timer1Timer();
    EXPECT_EQ(app.find<QLineEdit>("Edit8")->text(), "0:00:45 / 0:01:30");
    EXPECT_EQ(app.find<QLineEdit>("Edit6")->text(), "1132 / 2262");
    EXPECT_EQ(app.find<QSlider>("TrackBar1")->value(), 1131);
}

TEST(MainWindow, WindowAndPanelSizesFollowTheScale) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    auto* panel = app.find<VideoDisplay>("VideoPanel");
    auto* scale = app.find<QComboBox>("ComboBox5");
    // The sizes the handlers ask for are where the window opens when the controls fit; the
    // whole video panel shows below the controls.
    struct Case {
        int scaleIndex;
        QSize panel;
        QSize window;
    };
    app.openVideo(video(dir, "qvga.avi", 320, 240, 3));
    for (Case c : {Case{1, {320, 240}, {760, 540}}, Case{2, {640, 480}, {760, 780}},
                   Case{0, {160, 120}, {760, 420}}}) {
        SCOPED_TRACE(c.scaleIndex);
        scale->setCurrentIndex(c.scaleIndex);
        EXPECT_EQ(panel->size(), c.panel);
        EXPECT_EQ(f.MediaPlayer1.displayRect(), QRect(QPoint(0, 0), c.panel));
        EXPECT_GE(f.width(), c.window.width());
        EXPECT_GE(f.height(), c.window.height());
        EXPECT_TRUE(showsWhole(f, panel));
    }

    // A wide, low video: 1015 wide, and at least 330 high on opening and 320 after Play leaves
    // the picking display.
    app.openVideo(video(dir, "wide.avi", 1000, 20, 3));
    EXPECT_EQ(f.width(), 1015);
    EXPECT_GE(f.height(), 330);
    f.Button8Click();
    f.BitBtn3Click();
    EXPECT_EQ(f.width(), 1015);
    EXPECT_GE(f.height(), 320);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(showsWhole(f, panel));
}

TEST(MainWindow, SeekSliderPressJumpsAlongItsTrack) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    auto* slider = app.find<QSlider>("TrackBar1");
    app.openVideo(video(dir, "647.avi", 1, 1, 647));
    // A press in the middle of the track pauses the video and seeks to the middle frame.
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() / 2, slider->height() / 2));
    EXPECT_NEAR(f.MediaPlayer1.position(), 323, 4);
    EXPECT_EQ(slider->value(), f.MediaPlayer1.position());
    EXPECT_EQ(f.MediaPlayer1.mode(), MediaPlayer::Stopped);
    // A press at the far right end asks for frame 647, outside the video: only an error code.
    const int64_t before = f.MediaPlayer1.position();
    f.BitBtn4Click();
    int x = slider->width() - 1;
    while (x > 0 && f.MediaPlayer1.lastError() != MediaPlayer::OutOfRangeError)
        f.TrackBar1MouseDown(x--);
    EXPECT_EQ(f.MediaPlayer1.lastError(), MediaPlayer::OutOfRangeError);
    EXPECT_NE(f.MediaPlayer1.position(), 647);
    EXPECT_GE(f.MediaPlayer1.position(), before);
}

TEST(MainWindow, AspectLockedSizeChainStopsOnARepeatedValue) {
    ScratchDir dir;
    AppWindows app;
    app.openVideo(video(dir, "qvga.avi", 320, 240, 2));
    app.find<QComboBox>("ComboBox2")->setCurrentIndex(2);
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit8")->value(), 320);
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit9")->value(), 240);
    app.find<SpinEdit>("SpinEdit8")->setText("10");
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit8")->value(), 11);
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit9")->value(), 8);
    app.find<SpinEdit>("SpinEdit8")->setText("101");
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit9")->value(), 76);
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit8")->value(), 101);
    app.find<SpinEdit>("SpinEdit8")->setText("abc"); // no integer: the minimum
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit8")->value(), 0);
}

TEST(MainWindow, ConvertAPickedAreaBackwardAndSaveIt) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, "clip.avi", 64, 48, 30));
    app.find<QRadioButton>("RadioButton2")->click();
    app.find<QPushButton>("Button8")->click();
    ASSERT_TRUE(app.find<TImageView>("GIFview")->isVisible());
    EXPECT_EQ(app.find<TImageView>("GIFview")->picture().pixel(2, 0), ColorWhite); // the second frame
    // Drag a selection from (10, 20) to (40, 30) with the mouse.
    QTest::mousePress(app.find<TImageView>("GIFview"), Qt::LeftButton, {}, QPoint(10, 20));
    QTest::mouseMove(app.find<TImageView>("GIFview"), QPoint(25, 25));
    QTest::mouseMove(app.find<TImageView>("GIFview"), QPoint(40, 30));
    QTest::mouseRelease(app.find<TImageView>("GIFview"), Qt::LeftButton, {}, QPoint(40, 30));
    ASSERT_TRUE(app.find<TImageView>("GIFview")->hasSelection());
    EXPECT_EQ(app.find<QLabel>("Label1")->text(), "30");
    EXPECT_EQ(app.find<QLabel>("Label2")->text(), "10");
    EXPECT_EQ(f.state().cropRect, (Rect{10, 20, 40, 30}));

    app.find<QRadioButton>("RadioButton4")->click();
    app.find<SpinEdit>("SpinEdit2")->setText("10");
    app.find<SpinEdit>("SpinEdit3")->setText("20");
    app.find<SpinEdit>("SpinEdit1")->setText("3");
    app.find<QRadioButton>("RadioGroup1Backward")->setChecked(true);
    app.find<QLineEdit>("Edit5")->setText("95");
    app.find<QPushButton>("Button5")->click();
    EXPECT_FALSE(app.find<TImageView>("GIFview")->isVisible());
    EXPECT_FALSE(app.find<TImageView>("GIFview")->hasSelection());
    EXPECT_EQ(app.find<QLabel>("StatusBar2Panel1")->text(), "Size: 30 x 10 pixels  Frames: 4");
    EXPECT_EQ(f.state().builtFrameCount, 4);
    // Frames 19, 16, 13, 10 in that order.
    const int order[] = {19, 16, 13, 10};
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(f.gifFrames.entry(k).pixel(5, 5), frameColor(order[k - 1])) << k;
    EXPECT_FALSE(app.find<QPushButton>("Button5")->isEnabled());
    EXPECT_FALSE(app.find<QToolButton>("SpeedButton5")->isEnabled());
    EXPECT_TRUE(app.find<QPushButton>("Button4")->isEnabled());
    EXPECT_TRUE(app.find<QPushButton>("Button6")->isEnabled());
    EXPECT_FALSE(app.find<QPushButton>("Button7")->isEnabled());

    // The preview steps through the 24-bit frames at the typed delay and wraps.
    EXPECT_TRUE(app.gifForm1->isVisible());
    EXPECT_EQ(app.find<QTimer>("PreviewTimer")->interval(), 95);
    for (int tick = 0; tick < 5; ++tick)
        f.PreviewTimerTimer();
    EXPECT_EQ(app.gifForm1->GIFview->picture().pixel(5, 5), frameColor(19));
    EXPECT_EQ(app.gifForm1->cursor(), 2);

    // Save writes the built GIF; an existing file is replaced only with consent.
    app.nextSaveFile = QString::fromStdString(dir.file("out.gif"));
    f.Button6Click();
    std::vector<uint8_t> saved = readFile(dir.file("out.gif"));
    MemoryStream expected;
    app.form3->Image1Picture().SaveToStream(expected);
    EXPECT_EQ(saved, expected.bytes());
    writeFileAtomically(dir.file("out.gif"), "x", 1);
    app.replaceAnswer = false;
    f.Button6Click();
    EXPECT_EQ(readFile(dir.file("out.gif")).size(), 1u);

    // Clear GIF: the table shrinks, the tab is idle again, the preview goes.
    f.Button4Click();
    EXPECT_EQ(f.gifFrames.entry(1).Width(), 1);
    EXPECT_EQ(f.gifFrames.entry(260).Height(), 1);
    EXPECT_TRUE(app.find<QPushButton>("Button5")->isEnabled());
    EXPECT_TRUE(app.find<QToolButton>("SpeedButton5")->isEnabled());
    EXPECT_FALSE(app.find<QPushButton>("Button6")->isEnabled());
    EXPECT_EQ(app.find<QLabel>("StatusBar2Panel1")->text(), " ");
    EXPECT_FALSE(app.gifForm1->isVisible());
    EXPECT_FALSE(app.find<QTimer>("PreviewTimer")->isActive());
}

TEST(MainWindow, WarningsLeaveTheTabReadyAndAbortKeepsTheFramesRead) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, "300.avi", 2, 2, 300));
    f.Button5Click(); // all 300 frames
    ASSERT_EQ(app.warnings.size(), 1);
    EXPECT_EQ(app.warnings[0],
              "Warning: Do not make a GIF file, which contains more than 256 frames.\r\nIt can "
              "break work of the program.");
    // Nothing was built: Convert at once, no Clear GIF, no Save of an older GIF.
    EXPECT_TRUE(app.find<QPushButton>("Button5")->isEnabled());
    EXPECT_TRUE(app.find<QToolButton>("SpeedButton5")->isEnabled());
    EXPECT_FALSE(app.find<QPushButton>("Button4")->isEnabled());
    EXPECT_FALSE(app.find<QPushButton>("Button6")->isEnabled());

    // Abort pressed while the job pumps its messages after the 4th frame: the 4 frames read are
    // built.
    app.find<QRadioButton>("RadioButton4")->click();
    app.find<SpinEdit>("SpinEdit3")->setText("100");
    auto* abort = app.find<QPushButton>("Button7");
    QObject::connect(app.find<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged, abort,
                     [abort](int v) {
                         if (v == 5 && abort->isEnabled())
                             abort->click();
                     });
    f.Button5Click();
    EXPECT_EQ(f.state().builtFrameCount, 4);
    EXPECT_EQ(app.form3->Image1Picture().FrameCount(), 4);
    EXPECT_FALSE(abort->isEnabled());
    EXPECT_TRUE(app.find<QPushButton>("Button4")->isEnabled());
    EXPECT_EQ(app.find<QProgressBar>("ProgressBar1")->value(), 0);
}

TEST(MainWindow, FailuresRestoreAUsableWindow) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    std::string path = video(dir, "clip.avi", 16, 16, 5);
    app.openVideo(path);

    // A file the player cannot open: the open video stays, the window is usable.
    std::string bad = dir.file("bad.avi");
    writeFileAtomically(bad, "not a video", 11);
    EXPECT_THROW(app.openVideo(bad), Error);
    EXPECT_EQ(app.find<QLabel>("Label21")->text(), "clip.avi");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(f.state().frameCount, 5);

    // The video disappears before "Convert" and "Pick window".
    std::filesystem::remove(path);
    EXPECT_THROW(f.Button5Click(), Error);
    EXPECT_TRUE(app.find<QPushButton>("Button5")->isEnabled());
    EXPECT_TRUE(app.find<QToolButton>("SpeedButton5")->isEnabled());
    EXPECT_FALSE(app.find<QPushButton>("Button7")->isEnabled());
    EXPECT_TRUE(app.find<QToolButton>("BitBtn3")->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(app.find<QLabel>("Label21")->text(), "clip.avi");
    EXPECT_THROW(f.Button8Click(), Error);
    EXPECT_TRUE(app.find<VideoDisplay>("VideoPanel")->isVisible());
    EXPECT_FALSE(app.find<TImageView>("GIFview")->isVisible());
}

TEST(MainWindow, SingleFrameVideoPicksItsOnlyFrame) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, "one.avi", 8, 8, 1));
    f.Button8Click();
    EXPECT_EQ(app.find<TImageView>("GIFview")->picture().pixel(1, 0), ColorWhite);
    EXPECT_EQ(app.find<TImageView>("GIFview")->picture().pixel(3, 3), frameColor(1));
}

TEST(MainWindow, SplashAboutVolumeAndClose) {
    TSplashForm splash;
    EXPECT_EQ(splash.size(), QSize(400, 266));
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);
    QImage picture = splashPicture();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.format(), QImage::Format_RGB888);
    QColor corner = picture.pixelColor(2, 2);
    EXPECT_NE(corner.red(), corner.blue()); // decoded in colour, not grey

    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    EXPECT_EQ(app.about->windowTitle(), "About");
    EXPECT_EQ(app.about->ProductName->text(), "Kelvara 5.2");
    app.openVideo(video(dir, "clip.avi", 8, 8, 12));
    app.find<QSlider>("TrackBar2")->setValue(50);
    EXPECT_EQ(f.MediaPlayer1.volume(), 32750);
    app.find<QSlider>("TrackBar2")->setValue(100);
    EXPECT_EQ(f.MediaPlayer1.volume(), 65500);

    f.Button5Click();
    ASSERT_EQ(f.state().builtFrameCount, 12);
    // Closing the preview window is its tab's "Clear GIF".
    app.gifForm1->close();
    EXPECT_TRUE(app.find<QPushButton>("Button5")->isEnabled());
    EXPECT_EQ(f.gifFrames.entry(1).Width(), 1);
    EXPECT_EQ(app.find<QLabel>("StatusBar2Panel1")->text(), " ");
    // Closing the main window clears every table.
    f.extractionFrames.entry(3).SetSize(20, 20);
    f.close();
    EXPECT_EQ(f.extractionFrames.entry(3).Width(), 1);
}
