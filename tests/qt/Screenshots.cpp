// Drives the program as a user would: opens a video, picks an area, converts it, extracts frames,
// opens every dialog and builds a transition, and saves a screenshot of every window.
// Usage: kelvara_screenshots VIDEO OUTPUT_DIR [FONT_SCALE]
// FONT_SCALE (1.5, say) enlarges the program's font, as a desktop set to a larger font does.
#include "AppFixture.h"

#include "app/Application.h"
#include "app/HelpWindow.h"
#include "convert/qt/TransitionTab.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>

using namespace kelvara;

namespace {

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void save(QWidget* w, const QString& dir, const QString& name) {
    QString path = dir + "/" + name;
    if (!w->grab().save(path))
        std::fprintf(stderr, "could not save %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

// Shows a window that the program shows modally, long enough for its picture.
void saveShown(QWidget* w, const QString& dir, const QString& name) {
    w->show();
    settle(300);
    save(w, dir, name);
    w->hide();
}

} // namespace

int main(int argc, char** argv) {
    KelvaraApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "Usage: kelvara_screenshots VIDEO OUTPUT_DIR [FONT_SCALE]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    if (argc == 4) {
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * QString::fromLocal8Bit(argv[3]).toDouble());
        QApplication::setFont(font);
    }
    try {
        // The windows on the display's own screen.
        test::AppWindows windows(std::nullopt);
        TForm1& f = *windows.form1;
        auto* tabs = windows.find<QTabWidget>("PageControl1");
        windows.openVideo(argv[1]);
        settle(1500);
        tabs->setCurrentIndex(1);
        settle(200);
        save(&f, out, "main-window.png");

        // Pick the middle of the picture and convert every other frame of the first 40.
        windows.find<QRadioButton>("RadioButton2")->click();
        windows.find<QPushButton>("Button8")->click();
        auto* picking = windows.find<TImageView>("GIFview");
        const int w = f.state().videoRect.width(), h = f.state().videoRect.height();
        QTest::mousePress(picking, Qt::LeftButton, {}, QPoint(w / 6, h / 6));
        QTest::mouseMove(picking, QPoint(w / 2, h / 2));
        QTest::mouseMove(picking, QPoint(5 * w / 6, 5 * h / 6));
        QTest::mouseRelease(picking, Qt::LeftButton, {}, QPoint(5 * w / 6, 5 * h / 6));
        settle(200);
        save(&f, out, "window-picking.png");
        windows.find<QRadioButton>("RadioButton4")->click();
        windows.find<SpinEdit>("SpinEdit3")->setText(QString::number(std::min(40, f.state().frameCount)));
        windows.find<SpinEdit>("SpinEdit1")->setText("2");
        windows.find<QPushButton>("Button5")->click();
        settle(1200);
        save(&f, out, "converted.png");
        save(windows.gifForm1.get(), out, "preview.png");
        windows.find<QPushButton>("Button4")->click(); // Clear GIF closes the preview

        // "Get frames": eight frames at half size, the viewer on the third, the dialog on JPEG
        // and on GIF.
        tabs->setCurrentIndex(0);
        windows.find<QRadioButton>("RadioButton7")->click();
        windows.find<SpinEdit>("SpinEdit6")->setText("20");
        windows.find<SpinEdit>("SpinEdit7")->setText("27");
        windows.find<QRadioButton>("RadioButton11")->click();
        windows.find<SpinEdit>("SpinEdit10")->setText(QString::number(w / 2));
        windows.find<QPushButton>("Button12")->click();
        settle(300);
        save(&f, out, "get-frames-tab.png");
        windows.find<QListWidget>("lbAVI")->setCurrentRow(2);
        f.lbAVIDblClick();
        windows.form5->SpeedButton3Click();
        settle(300);
        save(windows.form5.get(), out, "frame-viewer.png");
        windows.form5->hide();
        TSAVEparam& dialog = *windows.saveParam;
        dialog.setSaveOptions(&f.state().saveOptions);
        dialog.setSource(f.extractionFrames.entry(1));
        dialog.setPage(StillImageFormat::Jpeg);
        dialog.show();
        settle(600);
        save(&dialog, out, "save-parameters.png");
        dialog.setPage(StillImageFormat::Gif);
        settle(600);
        save(&dialog, out, "save-parameters-gif.png");
        dialog.hide();

        // "Transition effects": an empty blue source, frame 30 of the video as the target.
        tabs->setCurrentIndex(2);
        f.transitionTab().model().sourceSide.background = rgbColor(30, 60, 160);
        windows.find<QToolButton>("SpeedButton2")->setChecked(true);
        f.SpeedButton2Click();
        f.dialogs().askFrameNumber = [&] {
            windows.form2->Edit1->setText("30");
            return true;
        };
        f.SpeedButton9Click();
        windows.find<QComboBox>("ComboBox4")->setCurrentIndex(9);
        windows.find<QPushButton>("Button21")->click();
        settle(400);
        save(&f, out, "transition-tab.png");
        save(windows.gifForm2.get(), out, "transition-preview.png");

        // The small windows: the frame-number dialog, the about box, the help.
        windows.form2->Edit1->setText("30");
        saveShown(windows.form2.get(), out, "frame-number.png");
        saveShown(windows.about.get(), out, "about.png");
        f.SpeedButton6Click();
        settle(500);
        save(f.helpWindow(), out, "help.png");
        for (const QString& failure : windows.failures)
            std::fprintf(stderr, "%s\n", qPrintable(failure));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
