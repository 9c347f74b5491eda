// Drives the program as a user would: opens a video, picks an area, converts it, and saves
// screenshots of the windows. Usage: kelvara_screenshots VIDEO OUTPUT_DIR
#include "AppFixture.h"
#include "convert/qt/TransitionTab.h"

#include "app/Application.h"

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

} // namespace

int main(int argc, char** argv) {
    KelvaraApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "Usage: kelvara_screenshots VIDEO OUTPUT_DIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    try {
        test::AppWindows windows;
        TForm1& f = *windows.form1;
        windows.openVideo(argv[1]);
        settle(1500);
        windows.find<QTabWidget>("PageControl1")->setCurrentIndex(1);
        settle(200);
        save(&f, out, "main-window.png");

        // Pick the middle of the picture and convert every other frame of the first 40.
        windows.find<QRadioButton>("RadioButton2")->click();
        windows.find<QPushButton>("Button8")->click();
        const int w = f.state().videoRect.width(), h = f.state().videoRect.height();
        QTest::mousePress(windows.find<TImageView>("GIFview"), Qt::LeftButton, {}, QPoint(w / 6, h / 6));
        QTest::mouseMove(windows.find<TImageView>("GIFview"), QPoint(w / 2, h / 2));
        QTest::mouseMove(windows.find<TImageView>("GIFview"), QPoint(5 * w / 6, 5 * h / 6));
        QTest::mouseRelease(windows.find<TImageView>("GIFview"), Qt::LeftButton, {},
                            QPoint(5 * w / 6, 5 * h / 6));
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

        // "Get frames": eight frames at half size, the viewer on the third, the dialog on JPEG.
        windows.find<QTabWidget>("PageControl1")->setCurrentIndex(0);
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
        settle(300);
        save(windows.form5.get(), out, "frame-viewer.png");
        windows.form5->hide();
        windows.saveParam->setSaveOptions(&f.state().saveOptions);
        windows.saveParam->setSource(f.extractionFrames.entry(1));
        windows.saveParam->setPage(StillImageFormat::Jpeg);
        windows.saveParam->show();
        settle(600);
        save(windows.saveParam.get(), out, "save-parameters.png");
        windows.saveParam->hide();

        // "Transition effects": an empty blue source, frame 30 of the video as the target.
        windows.find<QTabWidget>("PageControl1")->setCurrentIndex(2);
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
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
