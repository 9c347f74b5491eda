// The windows of the program for tests and scripted runs.
#include "AppFixture.h"

#include "support/AviWriter.h"

namespace kelvara::test {

std::string writeTestVideo(const ScratchDir& dir, const std::string& name, int w, int h, int count,
                           const std::function<Color(int frame, int x, int y)>& colorAt) {
    AviFixture f;
    f.width = w;
    f.height = h;
    for (int i = 1; i <= count; ++i)
        f.frames.push_back(dibBits24(w, h, [&](int x, int y) { return colorAt(i, x, y); }));
    const std::string path = dir.file(name);
    writeAvi(path, f);
    return path;
}

AppWindows::AppWindows(std::optional<QRect> screen) {
    m_previousReporter = setFailureReporter([this](const QString& message) { failures << message; });
    if (screen)
        m_previousArea = setAvailableAreaSource([area = *screen](const QWidget*) { return area; });
    form3 = std::make_unique<TForm3>();
    form5 = std::make_unique<TForm5>();
    about = std::make_unique<TAboutForm>();
    form2 = std::make_unique<TForm2>();
    gifForm1 = std::make_unique<TGIFform1>();
    gifForm2 = std::make_unique<TGIFform2>();
    saveParam = std::make_unique<TSAVEparam>();
    Windows windows{form3.get(),    form5.get(),    about.get(),    form2.get(),
                    gifForm1.get(), gifForm2.get(), saveParam.get()};
    form1 = std::make_unique<TForm1>(windows);
    Dialogs& dialogs = form1->dialogs();
    dialogs.chooseOpenFile = [this] { return nextOpenFile; };
    dialogs.chooseSaveFile = [this](const QString& suggestedName) {
        suggestedSaveNames << suggestedName;
        return nextSaveFile;
    };
    dialogs.confirmReplace = [this](const QString&) { return replaceAnswer; };
    dialogs.showWarning = [this](const QString& caption, const QString& text) {
        warnings << caption + ": " + text;
    };
    form1->show();
}

AppWindows::~AppWindows() {
    form1->MediaPlayer1.close();
    form1.reset();
    if (m_previousArea)
        setAvailableAreaSource(m_previousArea);
    setFailureReporter(m_previousReporter);
}

void AppWindows::openVideo(const std::string& path) {
    nextOpenFile = QString::fromStdString(path);
    form1->SpeedButton5Click();
}

} // namespace kelvara::test
