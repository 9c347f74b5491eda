// Tests of the desktop program's "Transition effects" and "Get frames" tabs.
#include "AppFixture.h"
#include "convert/FrameExtraction.h"
#include "convert/qt/TransitionTab.h"
#include "gif/GifDocument.h"
#include "raster/Stream.h"
#include "support/AviWriter.h"
#include "support/TestUtil.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

using namespace kelvara;
using namespace kelvara::test;

namespace {

Color frameColor(int i) {
    return rgbColor((i * 29) & 0xFF, 90, 255 - (i & 0xFF));
}

std::string video(const ScratchDir& dir, int w, int h, int count) {
    AviFixture f;
    f.width = w;
    f.height = h;
    for (int i = 1; i <= count; ++i)
        f.frames.push_back(dibBits24(w, h, [&](int, int) { return frameColor(i); }));
    std::string path = dir.file("v" + std::to_string(count) + ".avi");
    writeAvi(path, f);
    return path;
}

} // namespace

TEST(TransitionTab, RunsWithAFilePictureAVideoFrameAndAnEmptySide) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    // A 40 x 30 picture written by ImageMagick for the source side.
    std::string picture = dir.file("red.png");
    ASSERT_EQ(runProcess("convert -size 40x30 xc:'#ff0000' " + shellQuoted(picture)).exitCode, 0);
    f.dialogs().chooseOpenPicture = [&] { return QString::fromStdString(picture); };
    f.SpeedButton1Click();
    EXPECT_EQ(app.find<QLabel>("Label33")->text(), "Size: 40x30");
    EXPECT_FALSE(app.find<QToolButton>("SpeedButton2")->isChecked());
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit12")->value(), 40);
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit13")->value(), 30);
    EXPECT_FALSE(app.find<QLabel>("Image10")->pixmap().isNull());

    // The target from frame 2 of a 60 x 20 video: the size grows to 60 x 30.
    app.openVideo(video(dir, 60, 20, 5));
    EXPECT_TRUE(app.find<QToolButton>("SpeedButton9")->isEnabled());
    f.dialogs().askFrameNumber = [&] {
        app.form2->Edit1->setText("2");
        return true;
    };
    f.SpeedButton9Click();
    EXPECT_EQ(app.find<QLabel>("Label34")->text(), "Size: 60x20");
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit12")->value(), 60);
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit13")->value(), 30);
    EXPECT_EQ(f.transitionTab().model().targetSide.picture.pixel(0, 0), frameColor(2));

    // Default settings: 11 frames with a delay of 10 hundredths.
    f.Button21Click();
    EXPECT_EQ(f.state().builtFrameCount, 11);
    EXPECT_EQ(app.form3->Image1Picture().FrameCount(), 11);
    EXPECT_EQ(app.find<QTimer>("TransitTimer")->interval(), 100);
    EXPECT_TRUE(app.gifForm2->isVisible());
    EXPECT_FALSE(app.find<QPushButton>("Button21")->isEnabled());
    EXPECT_TRUE(app.find<QPushButton>("Button23")->isEnabled());
    EXPECT_EQ(f.transitionFrames.entry(1).pixel(0, 0), rgbColor(255, 0, 0));
    EXPECT_EQ(f.transitionFrames.entry(11).pixel(0, 0), frameColor(2));
    f.TransitTimerTimer();
    EXPECT_EQ(app.gifForm2->GIFview->picture().Width(), 60);
    f.Button23Click();
    EXPECT_TRUE(app.find<QPushButton>("Button21")->isEnabled());
    EXPECT_FALSE(app.gifForm2->isVisible());

    // An empty source side: 192 x 136 of its background colour of the moment.
    f.transitionTab().model().sourceSide.background = rgbColor(0, 0, 255);
    app.find<QToolButton>("SpeedButton2")->setChecked(true);
    f.SpeedButton2Click();
    EXPECT_EQ(f.transitionTab().model().sourceSide.picture.Width(), 192);
    EXPECT_EQ(f.transitionTab().model().sourceSide.picture.pixel(5, 5), rgbColor(0, 0, 255));
    EXPECT_FALSE(app.find<QLabel>("Label33")->isVisible());
    app.find<UpDown>("UpDown3")->setPosition(3);
    app.find<QLineEdit>("Edit7")->setText("1000");
    f.Button21Click();
    EXPECT_EQ(f.state().builtFrameCount, 4);
    EXPECT_EQ(app.find<QTimer>("TransitTimer")->interval(), 330); // Trunc(1000 / 30) = 33 hundredths
}

TEST(TransitionTab, AbortAfterTheThirdFrameKeepsThree) {
    AppWindows app;
    TForm1& f = *app.form1;
    // Abort is pressed while the run pumps its messages after frame 3 (the 4th) is rendered:
    // the progress bar then stands at 4.
    app.find<UpDown>("UpDown3")->setPosition(10);
    QObject::connect(app.find<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged, [&](int v) {
        if (v == 4 && app.find<QPushButton>("Button22")->isEnabled())
            app.find<QPushButton>("Button22")->click();
    });
    f.Button21Click();
    EXPECT_EQ(f.state().builtFrameCount, 3);
    EXPECT_EQ(app.form3->Image1Picture().FrameCount(), 3);
    EXPECT_EQ(app.gifForm2->frameCount(), 3);
    EXPECT_FALSE(app.find<QPushButton>("Button22")->isEnabled());
}

TEST(TransitionTab, DurationAndEmptySidesFollowTheirRules) {
    AppWindows app;
    TForm1& f = *app.form1;
    for (auto [text, expected] :
         std::vector<std::pair<const char*, int>>{{"9", 10}, {"6000", 5000}, {"abc", 1000}, {"250", 250}}) {
        app.find<QLineEdit>("Edit7")->setText(text);
        EXPECT_EQ(f.transitionTab().model().durationMs, expected) << text;
    }
    f.transitionTab().model().gifWidth = f.transitionTab().model().gifHeight = 300;
    app.find<QToolButton>("SpeedButton4")->setChecked(true);
    f.SpeedButton4Click(); // the other side's toggle is down: back to 10 x 10
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit12")->value(), 10);
    EXPECT_EQ(app.find<SpinEdit>("SpinEdit13")->value(), 10);
}

TEST(GetFramesTab, ExtractsARangeAndRefusesTheWrongOnes) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, 200, 50, 300));
    f.Button12Click(); // all 300 frames
    ASSERT_EQ(app.warnings.size(), 1);
    EXPECT_EQ(app.warnings[0],
              "Warning: Do not make sample more than 256 frames.\r\nIt can break work of the program.");
    app.find<QRadioButton>("RadioButton7")->click();
    app.find<SpinEdit>("SpinEdit6")->setText("7");
    app.find<SpinEdit>("SpinEdit7")->setText("7");
    f.Button12Click();
    EXPECT_EQ(app.warnings.last(), "Warning: This range of the frames is wrong");
    app.find<SpinEdit>("SpinEdit6")->setText("1");
    app.find<SpinEdit>("SpinEdit7")->setText("257");
    f.Button12Click();
    EXPECT_EQ(app.warnings.size(), 3);
    EXPECT_EQ(app.find<QListWidget>("lbAVI")->count(), 0);

    app.find<SpinEdit>("SpinEdit6")->setText("11");
    app.find<SpinEdit>("SpinEdit7")->setText("266"); // exactly 256
    f.Button12Click();
    EXPECT_EQ(app.find<QListWidget>("lbAVI")->count(), 256);
    EXPECT_EQ(app.find<QListWidget>("lbAVI")->item(0)->text(), "Frame 11");
    EXPECT_EQ(app.find<QListWidget>("ListBox1")->item(255)->text(), "266");
    EXPECT_EQ(f.extractionFrames.entry(256).pixel(3, 3), frameColor(266));
    EXPECT_TRUE(app.find<QPushButton>("Button16")->isEnabled());
    EXPECT_TRUE(app.find<QPushButton>("Button15")->isEnabled());
    EXPECT_FALSE(app.find<QPushButton>("Button12")->isEnabled());
    // The 200 x 50 frame is drawn 150 x 37 in its 74-pixel row.
    EXPECT_EQ(
        app.find<QListWidget>("lbAVI")->visualItemRect(app.find<QListWidget>("lbAVI")->item(0)).height(), 74);
    f.Button14Click();
    EXPECT_EQ(app.find<QListWidget>("lbAVI")->count(), 0);
    EXPECT_EQ(f.extractionFrames.entry(1).Width(), 1);
    EXPECT_TRUE(app.find<QPushButton>("Button12")->isEnabled());

    // Abort pressed during the extraction keeps the frames read so far.
    app.find<SpinEdit>("SpinEdit7")->setText("100");
    QObject::connect(app.find<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged, [&](int v) {
        if (v == 5 && app.find<QPushButton>("Button13")->isEnabled())
            app.find<QPushButton>("Button13")->click();
    });
    f.Button12Click();
    EXPECT_EQ(app.find<QListWidget>("lbAVI")->count(), 4);
    EXPECT_TRUE(app.find<QPushButton>("Button14")->isEnabled());
    EXPECT_FALSE(app.find<QPushButton>("Button13")->isEnabled());
}

TEST(GetFramesTab, SaveWritesFilesThatOtherDecodersRead) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, 32, 24, 6));
    app.find<QRadioButton>("RadioButton7")->click();
    app.find<SpinEdit>("SpinEdit6")->setText("2");
    app.find<SpinEdit>("SpinEdit7")->setText("4");
    f.Button12Click();
    ASSERT_EQ(app.find<QListWidget>("lbAVI")->count(), 3);
    app.find<QComboBox>("ComboBox6")->setCurrentIndex(3); // TIF
    StillImageFormat shownPage = StillImageFormat::Bmp;
    f.dialogs().runSaveDialog = [&](StillImageFormat& page, const Bitmap&, StillImageSaveOptions& options) {
        shownPage = page;
        options.tiff.compression = TiffCompression::Lzw;
        return true;
    };
    const std::string out = dir.file("out");
    std::filesystem::create_directories(out);
    f.dialogs().chooseFolder = [&] { return QString::fromStdString(out); };
    app.find<QLineEdit>("Edit3")->setText("shot");
    f.Button15Click();
    EXPECT_EQ(shownPage, StillImageFormat::Tiff);
    for (int n : {2, 3, 4}) {
        std::string path = out + "/shot" + std::to_string(n) + ".tif";
        ProcessResult r =
            runProcess("convert " + shellQuoted(path) + " -format '%w %h %[pixel:p{1,1}]' info:");
        Color c = frameColor(n);
        EXPECT_EQ(r.out, "32 24 srgb(" + std::to_string(redOf(c)) + "," + std::to_string(greenOf(c)) + "," +
                             std::to_string(blueOf(c)) + ")")
            << path << r.err;
    }
    // Existing files are replaced only after the one question.
    writeFileAtomically(out + "/shot3.tif", "x", 1);
    app.replaceAnswer = false;
    f.Button15Click();
    EXPECT_EQ(readFile(out + "/shot3.tif").size(), 1u);
    app.replaceAnswer = true;
    f.Button15Click();
    EXPECT_GT(readFile(out + "/shot3.tif").size(), 100u);

    // Preview opens the viewer at the first row.
    f.Button16Click();
    EXPECT_TRUE(app.form5->isVisible());
    EXPECT_EQ(app.form5->windowTitle(), "Frame 2");
}

TEST(AviToGifTab, QualityOptimiseAndFitUnderReachTheJob) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    auto* quality = app.find<QComboBox>("qualityCombo");
    auto* optimise = app.find<QCheckBox>("optimiseCheck");
    auto* fitUnder = app.find<QLineEdit>("fitUnderEdit");
    // Off and empty by default, and usable once a video is open.
    EXPECT_EQ(quality->currentText(), "Classic");
    EXPECT_FALSE(optimise->isChecked());
    EXPECT_TRUE(fitUnder->text().isEmpty());
    EXPECT_FALSE(app.find<QGroupBox>("outputGroup")->isEnabled());
    app.openVideo(writeTestVideo(dir, "v.avi", 160, 120, 12, [](int i, int x, int y) {
        return rgbColor((x * 255 / 160 + i * 9) & 0xFF, (y * 2 + (x ^ y)) & 0xFF, (i * 20 + x) & 0xFF);
    }));
    EXPECT_TRUE(app.find<QGroupBox>("outputGroup")->isEnabled());
    auto* convert = app.find<QPushButton>("Button5");
    auto* clear = app.find<QPushButton>("Button4");

    // A size that is no number is refused before the run starts.
    fitUnder->setText("ten");
    convert->click();
    ASSERT_EQ(app.warnings.size(), 1);
    EXPECT_TRUE(convert->isEnabled());
    EXPECT_EQ(f.state().builtFrameCount, 0);

    quality->setCurrentIndex(1);
    optimise->setChecked(true);
    fitUnder->setText("0.1"); // 100 KB: less than the whole size takes
    convert->click();
    ASSERT_EQ(app.warnings.size(), 1) << app.warnings.join("; ").toStdString();
    EXPECT_EQ(f.state().builtFrameCount, 12);
    MemoryStream bytes;
    app.form3->Image1Picture().SaveToStream(bytes);
    EXPECT_LE(bytes.size(), 100'000u);
    // The high quality fits by its level first, then by the size.
    const int width = app.form3->Image1Picture().Width();
    EXPECT_LE(width, 160);
    EXPECT_GE(width, 85);
    EXPECT_NE(app.find<QLabel>("StatusBar2Panel1")->text().indexOf(QString::number(width) + " x "), -1);
    EXPECT_TRUE(app.failures.isEmpty()) << app.failures.join("; ").toStdString();

    // A limit nothing meets builds nothing and says why.
    clear->click();
    fitUnder->setText("0.0002"); // 200 bytes
    convert->click();
    ASSERT_EQ(app.warnings.size(), 2);
    EXPECT_NE(app.warnings.back().indexOf("No GIF of these frames fits under 200 bytes"), -1)
        << app.warnings.join("; ").toStdString();
    EXPECT_FALSE(app.find<QPushButton>("Button6")->isEnabled());
    EXPECT_TRUE(convert->isEnabled());

    // The level of the high quality: offered with it only, and a lower one makes a smaller file.
    auto* level = app.find<QSpinBox>("qualityLevelSpin");
    EXPECT_EQ(level->value(), 100);
    EXPECT_TRUE(level->isEnabled());
    quality->setCurrentIndex(0);
    EXPECT_FALSE(level->isEnabled());
    quality->setCurrentIndex(1);
    fitUnder->clear();
    optimise->setChecked(false);
    std::vector<size_t> sizes;
    for (const int value : {100, 30}) {
        clear->click();
        level->setValue(value);
        convert->click();
        ASSERT_EQ(f.state().builtFrameCount, 12) << value;
        MemoryStream made;
        app.form3->Image1Picture().SaveToStream(made);
        sizes.push_back(made.size());
    }
    EXPECT_LT(sizes[1], sizes[0] * 9 / 10);
    EXPECT_TRUE(app.failures.isEmpty()) << app.failures.join("; ").toStdString();
}
