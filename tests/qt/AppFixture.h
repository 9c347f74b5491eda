// The windows of the program, made as start-up makes them, with the dialogs replaced by seams.
#pragma once

#include "app/Forms.h"
#include "app/MainForm.h"
#include "preview/qt/GifPreviewForm.h"
#include "support/TestUtil.h"
#include "widgets/SlotGuard.h"
#include "widgets/WindowFit.h"

// The kinds of control the tests find by name.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace kelvara::test {

// The screen the windows open on in the tests, whatever the test platform's screen: its available
// area, less a panel along the top.
inline constexpr QRect TestScreen(0, 24, 1280, 1000);

// An AVI of count frames of w x h, written by the tests' own writer: frame i (1-based) has the
// colour colorAt(i, x, y) at each pixel. Gives its path.
std::string writeTestVideo(const ScratchDir& dir, const std::string& name, int w, int h, int count,
                           const std::function<Color(int frame, int x, int y)>& colorAt);

struct AppWindows {
    // The windows on a screen whose available area is screen; none keeps the platform's screen.
    explicit AppWindows(std::optional<QRect> screen = TestScreen);
    ~AppWindows();

    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TForm5> form5;
    std::unique_ptr<TAboutForm> about;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TGIFform1> gifForm1;
    std::unique_ptr<TGIFform2> gifForm2;
    std::unique_ptr<TSAVEparam> saveParam;
    std::unique_ptr<TForm1> form1;

    QString nextOpenFile;           // what the open dialog returns
    QString nextSaveFile;           // what the save dialog returns
    QStringList suggestedSaveNames; // the file names the save dialog was offered
    bool replaceAnswer = true;
    QStringList warnings; // "caption: text" of each warning shown
    QStringList failures; // the messages of handlers' failures, shown as the program shows them

    // Opens a video as "Open AVI" does, through the open dialog's seam.
    void openVideo(const std::string& path);

    // The control of the main window with that name; throws when there is not exactly one.
    template <typename T = QWidget> T* find(const char* name) const { return findIn<T>(form1.get(), name); }
    template <typename T = QWidget> static T* findIn(const QObject* window, const char* name) {
        const QList<T*> found = window->findChildren<T*>(name);
        if (found.size() != 1)
            throw std::runtime_error(std::string("no single control named ") + name);
        return found.front();
    }

private:
    FailureReporter m_previousReporter;
    AvailableAreaSource m_previousArea;
};

} // namespace kelvara::test
