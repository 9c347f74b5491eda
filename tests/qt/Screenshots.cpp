// Drives the program as a user would: opens a video, picks an area, converts it, and saves
// screenshots of the windows. Usage: kelvara_screenshots VIDEO OUTPUT_DIR
#include "AppFixture.h"

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
        f.PageControl1->setCurrentIndex(1);
        settle(200);
        save(&f, out, "main-window.png");

        // Pick the middle of the picture and convert every other frame of the first 40.
        f.RadioButton2->click();
        f.Button8->click();
        const int w = f.state.videoRect.width(), h = f.state.videoRect.height();
        QTest::mousePress(f.GIFview, Qt::LeftButton, {}, QPoint(w / 6, h / 6));
        QTest::mouseMove(f.GIFview, QPoint(w / 2, h / 2));
        QTest::mouseMove(f.GIFview, QPoint(5 * w / 6, 5 * h / 6));
        QTest::mouseRelease(f.GIFview, Qt::LeftButton, {}, QPoint(5 * w / 6, 5 * h / 6));
        settle(200);
        save(&f, out, "window-picking.png");
        f.RadioButton4->click();
        f.SpinEdit3->setText(QString::number(std::min(40, f.state.frameCount)));
        f.SpinEdit1->setText("2");
        f.Button5->click();
        settle(1200);
        save(&f, out, "converted.png");
        save(windows.gifForm1.get(), out, "preview.png");
        f.PageControl1->setCurrentIndex(0);
        settle(200);
        save(&f, out, "get-frames-tab.png");
        f.PageControl1->setCurrentIndex(2);
        settle(200);
        save(&f, out, "transition-tab.png");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
