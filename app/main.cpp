// Program entry: the command line, the splash, the windows in their order, and the event loop.
#include "app/Application.h"
#include "app/Forms.h"
#include "app/MainForm.h"
#include "app/StartupFile.h"
#include "preview/qt/GifPreviewForm.h"

#include <QCommandLineParser>
#include <QIcon>
#include <QSettings>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    using namespace kelvara;
    KelvaraApplication app(argc, argv);
    QCoreApplication::setApplicationVersion("5.2");
    // The desktop matches the windows with the menu entry (kelvara.desktop) and its icon.
    QGuiApplication::setDesktopFileName("kelvara");
    QApplication::setWindowIcon(QIcon(":/ICON"));

    // kelvara [FILE]: the video to open once the window is up ("Open with" of the file managers).
    QCommandLineParser parser;
    parser.setApplicationDescription("Turns video into animated GIFs, extracts frames as pictures and makes "
                                     "transition GIFs between two pictures.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("FILE", "A video to open at start-up.", "[FILE]");
    parser.process(app);
    const StartupFile file = startupFile(parser.positionalArguments());
    if (!file.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(file.error));
        return 2;
    }

    auto splash = std::make_unique<TSplashForm>();
    splash->show();
    splash->repaint();
    QApplication::processEvents();

    // The windows, in their order; each lives until the program ends.
    Windows windows;
    auto form3 = std::make_unique<TForm3>();
    auto form5 = std::make_unique<TForm5>();
    auto about = std::make_unique<TAboutForm>();
    auto form2 = std::make_unique<TForm2>();
    auto gifForm1 = std::make_unique<TGIFform1>();
    auto gifForm2 = std::make_unique<TGIFform2>();
    auto saveParam = std::make_unique<TSAVEparam>();
    windows = {form3.get(),    form5.get(),    about.get(),    form2.get(),
               gifForm1.get(), gifForm2.get(), saveParam.get()};
    auto form1 = std::make_unique<TForm1>(windows);
    // What the user left last time: ~/.config/kelvara/kelvara.conf.
    form1->attachSettings(
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "kelvara", "kelvara"));

    // The splash stays for 2000 ms (KELVARA_SPLASH_MS shortens it for scripted runs), with the
    // event loop running; then the main window takes its place.
    const int splashMs = qEnvironmentVariableIsSet("KELVARA_SPLASH_MS")
                             ? qEnvironmentVariableIntValue("KELVARA_SPLASH_MS")
                             : 2000;
    QTimer::singleShot(std::max(0, splashMs), form1.get(), [&splash, &form1, &file] {
        form1->show();
        splash->hide();
        splash.reset();
        openAtStart(*form1, file.path);
    });
    return app.exec();
}
