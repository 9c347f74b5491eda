// Faults a person met in the desktop program, driven as a person would: a Save after a refused
// Convert, typed values, the seek slider dragged, Abort while the GIF is built, Play at the last
// frame, a handler that fails, and Help.
#include "AppFixture.h"
#include "app/HelpWindow.h"
#include "convert/qt/TransitionTab.h"

#include <QApplication>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace kelvara;
using namespace kelvara::test;

namespace {

Color frameColor(int i) {
    return rgbColor((i * 23) & 0xFF, 40, 255 - (i & 0xFF));
}

std::string video(const ScratchDir& dir, const std::string& name, int w, int h, int count) {
    return writeTestVideo(dir, name, w, h, count, [](int i, int, int) { return frameColor(i); });
}

// Types into an edit as a user does: everything selected, then the keys.
void typeInto(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
}

} // namespace

TEST(Faults, ARefusedConvertOffersNoEarlierGifToSave) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    auto* convert = app.find<QPushButton>("Button5");
    auto* clear = app.find<QPushButton>("Button4");
    auto* save = app.find<QPushButton>("Button6");
    // Video A is converted and cleared; video B has too many frames for "All frames".
    app.openVideo(video(dir, "a.avi", 16, 16, 5));
    convert->click();
    ASSERT_EQ(f.state().builtFrameCount, 5);
    clear->click();
    app.openVideo(video(dir, "b.avi", 8, 8, 300));
    convert->click();
    ASSERT_EQ(app.warnings.size(), 1);
    EXPECT_FALSE(save->isEnabled());
    EXPECT_FALSE(clear->isEnabled());
    app.nextSaveFile = QString::fromStdString(dir.file("stale.gif"));
    save->click();
    EXPECT_FALSE(std::filesystem::exists(dir.file("stale.gif")));

    // Convert works again at once, without Clear GIF, and Save writes video B's frames.
    ASSERT_TRUE(convert->isEnabled());
    app.find<QRadioButton>("RadioButton4")->click();
    app.find<SpinEdit>("SpinEdit3")->setText("10");
    convert->click();
    EXPECT_EQ(f.state().builtFrameCount, 10);
    ASSERT_TRUE(save->isEnabled());
    app.nextSaveFile = QString::fromStdString(dir.file("b.gif"));
    save->click();
    ProcessResult info = runProcess("identify -format '%w %h|' " + shellQuoted(dir.file("b.gif")));
    EXPECT_EQ(info.out, "8 8|8 8|8 8|8 8|8 8|8 8|8 8|8 8|8 8|8 8|") << info.err;
    EXPECT_TRUE(app.failures.isEmpty()) << app.failures.join("; ").toStdString();
}

TEST(Faults, TypedStepsCountWhenCommittedAndBeforeTheyAreRead) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    // The transition's steps, typed and not yet committed when Convert is clicked: 12 steps
    // make 13 frames.
    auto* steps = app.find<QLineEdit>("Edit4");
    typeInto(steps, "12");
    QTest::mouseClick(app.find<QPushButton>("Button21"), Qt::LeftButton);
    EXPECT_EQ(f.state().builtFrameCount, 13);
    f.Button23Click();
    // A typed number out of range is brought into it when the typing is finished.
    typeInto(steps, "99");
    QTest::keyClick(steps, Qt::Key_Return);
    EXPECT_EQ(steps->text(), "50");
    EXPECT_EQ(app.find<UpDown>("UpDown3")->position(), 50);

    // The frame step typed between the step buttons counts for the next step.
    app.openVideo(video(dir, "v.avi", 4, 4, 100));
    f.BitBtn4Click();
    f.MediaPlayer1.seek(0);
    auto* frameStep = app.find<QLineEdit>("Edit1");
    typeInto(frameStep, "7");
    QTest::mouseClick(app.find<QToolButton>("BitBtn2"), Qt::LeftButton);
    EXPECT_EQ(f.MediaPlayer1.position(), 7);
    // A text that is no number leaves the step the box counted with last, and the box shows it
    // again when the typing is finished.
    typeInto(frameStep, "x");
    QTest::mouseClick(app.find<QToolButton>("BitBtn2"), Qt::LeftButton);
    EXPECT_EQ(f.MediaPlayer1.position(), 14);
    QTest::keyClick(frameStep, Qt::Key_Return);
    EXPECT_EQ(frameStep->text(), "7");
}

TEST(Faults, TheSeekSliderHandleCanBeDragged) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, "v.avi", 4, 4, 200));
    auto* slider = app.find<QSlider>("TrackBar1");
    const int y = slider->height() / 2;
    // Press near the left end: the video pauses at a frame near the start, with the handle
    // under the pointer; then drag to three quarters of the slider.
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(12, y));
    const int64_t pressed = f.MediaPlayer1.position();
    EXPECT_LT(pressed, 20);
    std::vector<int64_t> seen;
    for (int x = 12; x <= slider->width() * 3 / 4; x += slider->width() / 10) {
        QTest::mouseMove(slider, QPoint(x, y));
        seen.push_back(f.MediaPlayer1.position());
    }
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() * 3 / 4, y));
    // The position followed the handle all the way.
    ASSERT_GE(seen.size(), 5u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GT(seen[2], pressed);
    EXPECT_NEAR(f.MediaPlayer1.position(), 150, 12);
    EXPECT_EQ(slider->value(), f.MediaPlayer1.position());
}

TEST(Faults, ATypedSizeSetsTheOtherSideOnce) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, "qvga.avi", 320, 240, 2));
    app.find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    app.find<QComboBox>("ComboBox2")->setCurrentIndex(2);
    auto* width = app.find<SpinEdit>("SpinEdit8");
    auto* height = app.find<SpinEdit>("SpinEdit9");
    // While the user types, the other box waits; Enter sets it once from the typed value.
    typeInto(width, "200");
    EXPECT_EQ(height->value(), 240);
    QTest::keyClick(width, Qt::Key_Return);
    EXPECT_EQ(width->value(), 200);
    EXPECT_EQ(height->value(), 150);
    typeInto(height, "76");
    QTest::keyClick(height, Qt::Key_Return);
    EXPECT_EQ(width->value(), 101); // Round(101.33)
    EXPECT_EQ(height->value(), 76);
    // The arrow keys step the value as the program sets it: the boxes drive each other until a
    // value repeats (10 gives 8, which gives 11, which gives 8 again).
    typeInto(width, "9");
    QTest::keyClick(width, Qt::Key_Return);
    EXPECT_EQ(height->value(), 7);
    QTest::keyClick(width, Qt::Key_Up);
    EXPECT_EQ(width->value(), 11);
    EXPECT_EQ(height->value(), 8);

    // "Get frames": typed width 100 gives height 75; a typed height of 100 left by the focus
    // gives width 133.
    app.find<QTabWidget>("PageControl1")->setCurrentIndex(0);
    f.RadioButton11Click();
    auto* frameWidth = app.find<SpinEdit>("SpinEdit10");
    auto* frameHeight = app.find<SpinEdit>("SpinEdit11");
    typeInto(frameWidth, "100");
    QTest::keyClick(frameWidth, Qt::Key_Return);
    EXPECT_EQ(frameHeight->value(), 75);
    QApplication::setActiveWindow(&f);
    typeInto(frameHeight, "100");
    frameWidth->setFocus();
    EXPECT_EQ(frameWidth->value(), 133);
    EXPECT_EQ(frameHeight->value(), 100);
}

TEST(Faults, AbortWhileTheGifIsBuiltKeepsTheFramesFinished) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, "v.avi", 32, 24, 60));
    auto* abort = app.find<QPushButton>("Button7");
    auto* bar = app.find<QProgressBar>("ProgressBar1");
    // The bar counts the 60 frames read, then starts again for the frames built; Abort is
    // pressed when it shows the 5th frame being built. The 4 built and every frame reduced
    // meanwhile (the workers reduce them while they are read) make the GIF.
    int peak = 0;
    QObject::connect(bar, &QProgressBar::valueChanged, abort, [&](int v) {
        peak = std::max(peak, v);
        if (peak == 60 && v == 5 && bar->maximum() == 60 && abort->isEnabled())
            abort->click();
    });
    f.Button5Click();
    EXPECT_EQ(peak, 60);
    const int kept = f.state().builtFrameCount;
    EXPECT_GE(kept, 4);
    EXPECT_LE(kept, 60);
    EXPECT_EQ(app.form3->Image1Picture().FrameCount(), kept);
    EXPECT_EQ(app.find<QLabel>("StatusBar2Panel1")->text(),
              "Size: 32 x 24 pixels  Frames: " + QString::number(kept));
    EXPECT_EQ(app.find<QLabel>("JobStatus")->text(), "Aborted: " + QString::number(kept) + " of 60 frames");
    EXPECT_EQ(app.gifForm1->frameCount(), kept);
    EXPECT_TRUE(app.gifForm1->isVisible());
    EXPECT_TRUE(app.find<QPushButton>("Button6")->isEnabled());
    EXPECT_FALSE(abort->isEnabled());
    EXPECT_EQ(bar->value(), 0);
}

// The Tab key passes the three read-only information boxes by; "Pick window" after a zoom to 50 %
// picks from the picture at 1:1 and the scale box says 100 %, as the video shows afterwards.
TEST(Faults, TabSkipsTheInformationBoxesAndPickingShowsItsScale) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, "v.avi", 64, 48, 5));
    QStringList tabStops;
    QWidget* w = &f;
    do {
        w = w->nextInFocusChain();
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(&f))
            tabStops << w->objectName();
    } while (w != &f);
    EXPECT_TRUE(tabStops.contains("TrackBar1"));
    for (const char* info : {"Edit9", "Edit8", "Edit6"})
        EXPECT_FALSE(tabStops.contains(info)) << info;

    auto* scale = app.find<QComboBox>("ComboBox5");
    scale->setCurrentIndex(0);
    EXPECT_EQ(app.find("VideoPanel")->size(), QSize(32, 24));
    app.find<QRadioButton>("RadioButton2")->click();
    app.find<QPushButton>("Button8")->click();
    EXPECT_EQ(scale->currentText(), "100 %");
    EXPECT_EQ(app.find("GIFview")->size(), QSize(64, 48));
    f.BitBtn3Click();
    EXPECT_EQ(app.find("VideoPanel")->size(), QSize(64, 48));
    EXPECT_EQ(scale->currentText(), "100 %");
}

TEST(Faults, PlayAtTheLastFramePlaysFromTheFirst) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, "v.avi", 4, 4, 10));
    f.BitBtn4Click();
    f.MediaPlayer1.seek(9);
    f.Timer1Timer();
    auto* play = app.find<QToolButton>("BitBtn3");
    ASSERT_TRUE(play->isEnabled());
    play->click();
    EXPECT_EQ(f.MediaPlayer1.mode(), MediaPlayer::Playing);
    EXPECT_EQ(f.MediaPlayer1.position(), 0);
    // Play from anywhere else goes on from there.
    f.BitBtn4Click();
    f.MediaPlayer1.seek(4);
    play->click();
    EXPECT_EQ(f.MediaPlayer1.position(), 4);
}

TEST(Faults, AFailingHandlerIsShownAndStopsAtItsSlot) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    const std::string path = video(dir, "v.avi", 8, 8, 5);
    app.openVideo(path);
    const std::string notAVideo = dir.file("text.avi");
    writeFileAtomically(notAVideo, "not a video", 11);
    std::filesystem::copy_file(path, dir.file("kept.avi"));
    std::filesystem::remove(path);
    // Each click runs a handler that throws; the click returns, and the message is shown.
    struct Case {
        const char* control;
        std::function<void()> before;
    };
    const std::vector<Case> cases = {
        {"SpeedButton5", [&] { app.nextOpenFile = QString::fromStdString(notAVideo); }},
        {"Button5", [] {}},
        {"Button8", [&] { app.find<QRadioButton>("RadioButton2")->click(); }},
        {"Button12",
         [&] {
             f.RadioButton7Click();
             app.find<SpinEdit>("SpinEdit7")->setText("3");
         }},
        {"Button21", [&] { app.find<SpinEdit>("SpinEdit12")->setText("0"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        c.before();
        const qsizetype shown = app.failures.size();
        auto* button = app.find<QAbstractButton>(c.control);
        ASSERT_TRUE(button->isEnabled());
        EXPECT_NO_THROW(button->click());
        ASSERT_EQ(app.failures.size(), shown + 1);
        EXPECT_FALSE(app.failures.last().isEmpty());
        // The window is usable again.
        EXPECT_TRUE(button->isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST(Faults, HelpShowsThePageInTheProgramsOwnWindow) {
    AppWindows app;
    TForm1& f = *app.form1;
    app.find<QToolButton>("SpeedButton6")->click();
    HelpWindow* help = f.helpWindow();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->windowTitle(), "Kelvara 5.2 Help");
    EXPECT_TRUE(help->browser()->toPlainText().contains("Kelvara turns AVI video into animated GIFs"));
    EXPECT_TRUE(TestScreen.contains(help->geometry()));
    // A second press brings the same window forward.
    help->hide();
    app.find<QToolButton>("SpeedButton6")->click();
    EXPECT_EQ(f.helpWindow(), help);
    EXPECT_TRUE(help->isVisible());
}
