// The window's jobs (Convert, Get frames, their Save, the transition): one at a time, closing the
// window while one runs, and what the window says of a job that stopped early.
#include "AppFixture.h"

#include <QApplication>
#include <QShortcut>
#include <QTabBar>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace kelvara;
using namespace kelvara::test;

namespace {

constexpr int Frames = 40;

Color frameColor(int i, int x, int y) {
    return rgbColor((i * 23 + x) & 0xFF, (40 + y * 3) & 0xFF, 255 - (i & 0xFF));
}

std::string video(const ScratchDir& dir, const std::string& name, int count) {
    return writeTestVideo(dir, name, 48, 32, count, frameColor);
}

// A job as its button starts it, on a video of Frames frames: its Abort, and after it the frames
// it kept of those it meant to make.
struct Job {
    const char* name;
    const char* abort;
    std::function<void(AppWindows&, const ScratchDir&)> start;
    std::function<int(AppWindows&)> kept;
    int asked;
};

void extractAll(AppWindows& app) {
    app.find<QRadioButton>("RadioButton7")->click();
    app.find<SpinEdit>("SpinEdit6")->setText("1");
    app.find<SpinEdit>("SpinEdit7")->setText(QString::number(Frames));
    app.form1->Button12Click();
}

const std::vector<Job>& jobs() {
    static const std::vector<Job> all = {
        {"Convert", "Button7",
         [](AppWindows& app, const ScratchDir&) {
             app.find<QComboBox>("qualityCombo")->setCurrentIndex(1);
             app.find<QCheckBox>("optimiseCheck")->setChecked(true);
             app.find<QRadioButton>("RadioButton4")->click();
             app.find<SpinEdit>("SpinEdit3")->setText(QString::number(Frames));
             app.form1->Button5Click();
         },
         [](AppWindows& app) { return app.form1->state().builtFrameCount; }, Frames},
        {"Get frames", "Button13", [](AppWindows& app, const ScratchDir&) { extractAll(app); },
         [](AppWindows& app) { return app.find<QListWidget>("lbAVI")->count(); }, Frames},
        {"Save frames", "Button13",
         [](AppWindows& app, const ScratchDir& dir) {
             // The frames are extracted first; the saving is the job.
             QProgressBar* bar = app.find<QProgressBar>("ProgressBar1");
             bar->blockSignals(true);
             extractAll(app);
             std::filesystem::create_directory(dir.file("saved"));
             app.form1->dialogs().runSaveDialog = [](StillImageFormat&, const Bitmap&,
                                                     StillImageSaveOptions&) { return true; };
             app.form1->dialogs().chooseFolder = [&dir] { return QString::fromStdString(dir.file("saved")); };
             bar->blockSignals(false);
             app.form1->Button15Click();
         },
         [](AppWindows&) { return -1; }, Frames},
        {"Transition", "Button22",
         [](AppWindows& app, const ScratchDir&) {
             app.find<UpDown>("UpDown3")->setPosition(Frames);
             app.form1->Button21Click();
         },
         [](AppWindows& app) { return app.form1->state().builtFrameCount; }, Frames + 1},
    };
    return all;
}

int savedFiles(const ScratchDir& dir) {
    int n = 0;
    if (std::filesystem::exists(dir.file("saved")))
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.file("saved")))
            ++n;
    return n;
}

// Calls act once, while the job runs, when the progress bar first reaches at.
void whenBarReaches(AppWindows& app, int at, std::function<void()> act) {
    auto* bar = app.find<QProgressBar>("ProgressBar1");
    auto done = std::make_shared<bool>(false);
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [=](int v) {
        if (!*done && v >= at) {
            *done = true;
            act();
        }
    });
}

// The controls that start a job or replace the video.
const char* const Starters[] = {
    "SpeedButton5", "ControlPanel", "TrackBar1",   "ComboBox5",    "Button12",     "Button14",
    "Button15",     "Button16",     "Button5",     "Button8",      "Button4",      "Button6",
    "Button21",     "Button23",     "Button24",    "SpeedButton1", "SpeedButton2", "SpeedButton3",
    "SpeedButton4", "SpeedButton8", "SpeedButton9"};

} // namespace

// Closing the window by any way while a job runs aborts the job; the window waits for it, then
// closes at once, freeing the frames only then, and shows nothing more of the job.
TEST(Jobs, ClosingTheWindowDuringAJobAbortsItAndClosesWhenItHasEnded) {
    const std::vector<std::pair<const char*, std::function<void(TForm1&)>>> ways = {
        {"close button", [](TForm1& f) { f.windowHandle()->close(); }},
        {"Ctrl+Q",
         [](TForm1& f) {
             auto* quit = AppWindows::findIn<QShortcut>(&f, "QuitShortcut");
             emit quit->activated();
         }},
        {"session end", [](TForm1&) { QApplication::closeAllWindows(); }},
    };
    for (const Job& job : jobs()) {
        for (const auto& [way, close] : ways) {
            SCOPED_TRACE(std::string(job.name) + ", " + way);
            ScratchDir dir;
            AppWindows app;
            TForm1& f = *app.form1;
            app.openVideo(video(dir, "v.avi", Frames));
            bool visibleAfterClose = false, runningAfterClose = false;
            whenBarReaches(app, 3, [&] {
                close(f);
                visibleAfterClose = f.isVisible();
                runningAfterClose = f.jobRunning();
            });
            job.start(app, dir);
            EXPECT_TRUE(visibleAfterClose);
            EXPECT_TRUE(runningAfterClose);
            EXPECT_FALSE(f.jobRunning());
            if (job.kept(app) >= 0)
                EXPECT_LT(job.kept(app), job.asked);
            else
                EXPECT_LT(savedFiles(dir), Frames);
            QTRY_VERIFY(!f.isVisible());
            // Closed as the window closes: its frames are given back, and no dialog came up.
            EXPECT_EQ(f.gifFrames.entry(1).Width(), 1);
            EXPECT_EQ(f.extractionFrames.entry(1).Width(), 1);
            EXPECT_EQ(f.transitionFrames.entry(1).Width(), 1);
            EXPECT_TRUE(app.warnings.isEmpty()) << app.warnings.join("; ").toStdString();
            EXPECT_TRUE(app.failures.isEmpty()) << app.failures.join("; ").toStdString();
        }
    }
}

// While a job runs, every control that would start another job or replace the video is off but
// the job's Abort, the tabs stay reachable, and Open AVI's key and a recent video do nothing. Every
// way out of the job (done, aborted, failed) gives the controls back.
TEST(Jobs, WhileAJobRunsNothingElseStarts) {
    for (const Job& job : jobs()) {
        SCOPED_TRACE(job.name);
        ScratchDir dir;
        AppWindows app;
        TForm1& f = *app.form1;
        const std::string path = video(dir, "v.avi", Frames);
        const std::string other = video(dir, "other.avi", 5);
        app.openVideo(path);
        QStringList onDuringJob;
        bool abortOn = false, tabsOn = true;
        std::string videoAfterOpen;
        whenBarReaches(app, 2, [&] {
            for (const char* name : Starters)
                if (app.find(name)->isEnabled())
                    onDuringJob << name;
            abortOn = app.find(job.abort)->isEnabled();
            auto* tabs = app.find<QTabWidget>("PageControl1");
            for (int i = 0; i < tabs->count(); ++i)
                tabsOn = tabsOn && tabs->isTabEnabled(i) && tabs->tabBar()->isEnabled();
            app.nextOpenFile = QString::fromStdString(other);
            emit AppWindows::findIn<QShortcut>(&f, "OpenShortcut")->activated();
            videoAfterOpen = f.state().videoPath;
        });
        job.start(app, dir);
        EXPECT_TRUE(onDuringJob.isEmpty()) << onDuringJob.join(", ").toStdString();
        EXPECT_TRUE(abortOn);
        EXPECT_TRUE(tabsOn);
        EXPECT_EQ(videoAfterOpen, path);
        EXPECT_FALSE(f.jobRunning());
        for (const char* page : {"GetFramesTab", "AviToGifTab", "TransitionTab"})
            EXPECT_TRUE(app.find(page)->isEnabled()) << page;
        EXPECT_TRUE(app.find("ControlPanel")->isEnabled());
        EXPECT_TRUE(app.failures.isEmpty()) << app.failures.join("; ").toStdString();
    }

    // A job that fails: the video is gone when Convert reads it.
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    const std::string path = video(dir, "gone.avi", Frames);
    app.openVideo(path);
    std::filesystem::remove(path);
    EXPECT_ANY_THROW(f.Button5Click());
    EXPECT_FALSE(f.jobRunning());
    EXPECT_TRUE(app.find<QPushButton>("Button5")->isEnabled());
    EXPECT_TRUE(app.find("ControlPanel")->isEnabled());
    for (const char* page : {"GetFramesTab", "TransitionTab"})
        EXPECT_TRUE(app.find(page)->isEnabled()) << page;
}

// Abort at any moment: the frames finished so far make the result, and the window says
// "Aborted: N of M frames".
TEST(Jobs, AbortKeepsTheFramesFinishedAndSaysSo) {
    for (const Job& job : jobs()) {
        for (int at : {2, 20}) {
            SCOPED_TRACE(std::string(job.name) + " at " + std::to_string(at));
            ScratchDir dir;
            AppWindows app;
            app.openVideo(video(dir, "v.avi", Frames));
            whenBarReaches(app, at, [&] { app.find<QPushButton>(job.abort)->click(); });
            job.start(app, dir);
            const int kept = job.kept(app) >= 0 ? job.kept(app) : savedFiles(dir);
            EXPECT_GE(kept, 1);
            EXPECT_LT(kept, job.asked);
            const QString unit = job.kept(app) >= 0 ? " frames" : " frames saved";
            EXPECT_EQ(app.find<QLabel>("JobStatus")->text(),
                      "Aborted: " + QString::number(kept) + " of " + QString::number(job.asked) + unit);
            EXPECT_FALSE(app.find<QPushButton>(job.abort)->isEnabled());
            // The next job starts with the line cleared.
            if (std::string(job.name) == "Transition") {
                app.find<QPushButton>("Button23")->click();
                app.find<UpDown>("UpDown3")->setPosition(3);
                app.form1->Button21Click();
                EXPECT_TRUE(app.find<QLabel>("JobStatus")->text().isEmpty());
                EXPECT_TRUE(app.find<QLabel>("JobStatus")->isHidden());
            }
        }
    }
}

// A video that gives fewer frames than it promised (here cut after it was opened): the window says
// where it ended, in the command line's words, and keeps the frames read.
TEST(Jobs, AShortRunIsTold) {
    for (bool extract : {false, true}) {
        SCOPED_TRACE(extract ? "Get frames" : "Convert");
        ScratchDir dir;
        AppWindows app;
        TForm1& f = *app.form1;
        const std::string path = video(dir, "v.avi", 10);
        app.openVideo(path);
        std::filesystem::rename(video(dir, "cut.avi", 5), path);
        if (extract) {
            app.find<QRadioButton>("RadioButton7")->click();
            app.find<SpinEdit>("SpinEdit6")->setText("1");
            app.find<SpinEdit>("SpinEdit7")->setText("10");
            f.Button12Click();
            EXPECT_EQ(app.find<QListWidget>("lbAVI")->count(), 5);
        } else {
            f.Button5Click();
            EXPECT_EQ(f.state().builtFrameCount, 5);
        }
        EXPECT_EQ(app.find<QLabel>("JobStatus")->text(),
                  "The video ended at frame 6: 5 of 10 frames written");
        EXPECT_FALSE(app.find<QLabel>("JobStatus")->isHidden());
    }
}

// An idle progress bar is empty, not Qt's busy animation (a range of 0..0).
TEST(Jobs, AnIdleProgressBarIsEmpty) {
    ScratchDir dir;
    AppWindows app;
    auto* bar = app.find<QProgressBar>("ProgressBar1");
    EXPECT_GT(bar->maximum(), bar->minimum());
    EXPECT_EQ(bar->value(), bar->minimum());
    app.openVideo(video(dir, "v.avi", 5));
    app.form1->Button5Click();
    EXPECT_GT(bar->maximum(), bar->minimum());
    EXPECT_EQ(bar->value(), bar->minimum());
}
