// Tests of the desktop program as a desktop citizen: the file on the command line, drops, recent
// videos, remembered settings, keys, names for screen readers and the exact size of the built GIF.
#include "AppFixture.h"
#include "app/HelpWindow.h"
#include "app/StartupFile.h"
#include "convert/qt/TransitionTab.h"
#include "support/TestUtil.h"

#include <QAbstractSlider>
#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QSettings>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <filesystem>

using namespace kelvara;
using namespace kelvara::test;

namespace {

std::string clip(const ScratchDir& dir, const std::string& name, int count = 8) {
    return writeTestVideo(dir, name, 16, 12, count,
                          [](int frame, int x, int y) { return rgbColor(frame * 20, x * 10, y * 15); });
}

// Sends a drag of the given files onto a widget, then its drop; gives whether the drop was taken.
bool dropFiles(QWidget* target, const QStringList& files) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& file : files)
        urls << QUrl::fromLocalFile(file);
    mime.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// The items of the recent-videos menu, made as they are when it opens.
QList<QAction*> recentItems(TForm1& f) {
    emit f.recentMenu()->aboutToShow();
    return f.recentMenu()->actions();
}

void activate(QWidget* window) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

} // namespace

TEST(Desktop, CommandLineFileOpensAfterStartUp) {
    // The arguments: none, a path, a file: URL; two files and a URL of another scheme are refused.
    EXPECT_TRUE(startupFile({}).path.isEmpty());
    EXPECT_TRUE(startupFile({}).error.isEmpty());
    EXPECT_EQ(startupFile({"/videos/clip one.avi"}).path, "/videos/clip one.avi");
    EXPECT_EQ(startupFile({"file:///videos/clip%20one.avi"}).path, "/videos/clip one.avi");
    EXPECT_EQ(startupFile({"a.avi", "b.avi"}).error, "kelvara: one video at a time; 2 files were given");
    EXPECT_FALSE(startupFile({"file://host/share/a.avi"}).error.isEmpty() &&
                 startupFile({"file://host/share/a.avi"}).path.isEmpty());

    ScratchDir dir;
    AppWindows app;
    const std::string path = clip(dir, "clip.avi");
    openAtStart(*app.form1, QString::fromStdString(path));
    EXPECT_FALSE(app.form1->MediaPlayer1.isOpen()); // not before the event loop runs
    QApplication::processEvents();
    EXPECT_TRUE(app.form1->MediaPlayer1.isOpen());
    EXPECT_EQ(app.find<QLabel>("Label21")->text(), "clip.avi");
    EXPECT_EQ(app.form1->recentVideos(), QStringList{QString::fromStdString(path)});

    // A file that cannot be opened shows the failure as "Open AVI" would; the window stays usable.
    openAtStart(*app.form1, QString::fromStdString(dir.file("missing.avi")));
    QApplication::processEvents();
    ASSERT_EQ(app.failures.size(), 1);
    EXPECT_TRUE(app.find<QToolButton>("SpeedButton5")->isEnabled());
    EXPECT_EQ(app.find<QLabel>("Label21")->text(), "clip.avi");
}

TEST(Desktop, CommandLineOfTheProgram) {
    const std::string program = std::filesystem::path(KELVARA_CLI_PATH).parent_path() / "kelvara";
    if (!std::filesystem::exists(program))
        GTEST_SKIP() << "the desktop program is not built beside the tests";
    const ProcessResult version =
        runProcess("QT_QPA_PLATFORM=offscreen " + shellQuoted(program) + " --version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_NE(version.out.find("5.2"), std::string::npos) << version.out;
    const ProcessResult two =
        runProcess("QT_QPA_PLATFORM=offscreen " + shellQuoted(program) + " a.avi b.avi");
    EXPECT_EQ(two.exitCode, 2);
    EXPECT_NE(two.err.find("one video at a time"), std::string::npos) << two.err;
}

TEST(Desktop, DropsOpenVideosAndPictures) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    const std::string video = clip(dir, "dropped.avi");
    // Two files at once are not taken; one video is opened as "Open AVI" opens it.
    EXPECT_FALSE(dropFiles(&f, {QString::fromStdString(video), QString::fromStdString(video)}));
    EXPECT_FALSE(f.MediaPlayer1.isOpen());
    EXPECT_TRUE(dropFiles(&f, {QString::fromStdString(video)}));
    EXPECT_TRUE(f.MediaPlayer1.isOpen());
    EXPECT_EQ(f.state().frameCount, 8);

    // A picture dropped on a thumbnail of the transition tab loads on that side only.
    const std::string picture = dir.file("red.png");
    ASSERT_EQ(runProcess("convert -size 40x30 xc:'#ff0000' " + shellQuoted(picture)).exitCode, 0);
    app.find<QTabWidget>("PageControl1")->setCurrentIndex(2);
    EXPECT_TRUE(dropFiles(app.find("Bevel4"), {QString::fromStdString(picture)}));
    EXPECT_EQ(app.find<QLabel>("Label34")->text(), "Size: 40x30");
    EXPECT_TRUE(app.find<QLabel>("Label33")->isHidden());
    EXPECT_EQ(f.lastFolder(FolderKind::Pictures), QString::fromStdString(dir.path()));
    // What is no picture gets the open button's warning, and the side keeps its picture.
    const std::string text = dir.file("notes.txt");
    writeFileAtomically(text, "hello", 5);
    EXPECT_TRUE(dropFiles(app.find("Bevel4"), {QString::fromStdString(text)}));
    ASSERT_EQ(app.warnings.size(), 1);
    EXPECT_TRUE(
        app.warnings.front().endsWith("is not a picture type that can be read; the side keeps its picture."));
    EXPECT_EQ(app.find<QLabel>("Label34")->text(), "Size: 40x30");

    // While a job holds "Open AVI", a video drop is refused as the button is.
    app.find<QToolButton>("SpeedButton5")->setEnabled(false);
    const std::string other = clip(dir, "other.avi", 3);
    EXPECT_FALSE(dropFiles(&f, {QString::fromStdString(other)}));
    EXPECT_EQ(f.state().frameCount, 8);
}

TEST(Desktop, RecentVideosKeepTheLastTenNewestFirst) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    EXPECT_EQ(recentItems(f).size(), 1); // "No recent videos"
    EXPECT_FALSE(recentItems(f).front()->isEnabled());
    std::vector<std::string> videos;
    for (int i = 1; i <= 12; ++i)
        videos.push_back(clip(dir, "v" + std::to_string(i) + ".avi", 2));
    for (const std::string& v : videos)
        app.openVideo(v);
    app.openVideo(videos[5]); // opened again: back to the top, not twice in the list
    const QStringList& recent = f.recentVideos();
    ASSERT_EQ(recent.size(), 10);
    EXPECT_EQ(recent[0], QString::fromStdString(videos[5]));
    EXPECT_EQ(recent[1], QString::fromStdString(videos[11]));
    EXPECT_EQ(recent.count(QString::fromStdString(videos[5])), 1);
    EXPECT_FALSE(recent.contains(QString::fromStdString(videos[0])));
    EXPECT_EQ(f.lastFolder(FolderKind::Videos), QString::fromStdString(dir.path()));

    // The menu of "Open AVI" lists them; picking one opens it.
    EXPECT_EQ(app.find<QToolButton>("SpeedButton5")->menu(), f.recentMenu());
    QList<QAction*> actions = recentItems(f);
    ASSERT_EQ(actions.size(), 12); // ten videos, a separator, "Clear list"
    EXPECT_EQ(actions[0]->text(), "&1 v6.avi");
    EXPECT_EQ(actions[9]->text(), "1&0 v3.avi");
    actions[2]->trigger();
    EXPECT_EQ(app.find<QLabel>("Label21")->text(), "v11.avi");
    EXPECT_EQ(f.recentVideos().front(), QString::fromStdString(videos[10]));

    // A video deleted since leaves the list with a warning.
    std::filesystem::remove(videos[9]);
    for (QAction* action : recentItems(f))
        if (action->text().endsWith(" v10.avi")) {
            action->trigger();
            break;
        }
    EXPECT_FALSE(f.recentVideos().contains(QString::fromStdString(videos[9])));
    ASSERT_EQ(app.warnings.size(), 1);
    EXPECT_TRUE(app.warnings.front().endsWith("no longer exists.")) << app.warnings.front().toStdString();
    EXPECT_EQ(app.find<QLabel>("Label21")->text(), "v11.avi");

    recentItems(f).back()->trigger(); // "Clear list"
    EXPECT_TRUE(f.recentVideos().isEmpty());
}

TEST(Desktop, SettingsComeBackInTheNextRun) {
    ScratchDir dir;
    const QString file = QString::fromStdString(dir.file("kelvara.conf"));
    const std::string video = clip(dir, "clip.avi");
    {
        AppWindows app;
        TForm1& f = *app.form1;
        f.attachSettings(std::make_unique<QSettings>(file, QSettings::IniFormat));
        app.openVideo(video);
        app.find<QTabWidget>("PageControl1")->setCurrentIndex(2);
        app.find<QRadioButton>("RadioGroup1Backward")->setChecked(true);
        app.find<SpinEdit>("SpinEdit1")->setValue(3);
        app.find<QLineEdit>("Edit5")->setText("250");
        app.find<QComboBox>("ComboBox4")->setCurrentIndex(5);
        app.find<UpDown>("UpDown3")->setPosition(20);
        app.find<QLineEdit>("Edit7")->setText("2000");
        app.find<QComboBox>("ComboBox6")->setCurrentIndex(3);
        f.rememberFolder(FolderKind::SavedGifs, QString::fromStdString(dir.file("out/a.gif")));
        f.close();
    }
    {
        AppWindows app;
        TForm1& f = *app.form1;
        f.attachSettings(std::make_unique<QSettings>(file, QSettings::IniFormat));
        EXPECT_EQ(app.find<QTabWidget>("PageControl1")->currentIndex(), 2);
        EXPECT_TRUE(app.find<QRadioButton>("RadioGroup1Backward")->isChecked());
        EXPECT_EQ(app.find<SpinEdit>("SpinEdit1")->value(), 3);
        EXPECT_EQ(app.find<QLineEdit>("Edit5")->text(), "250");
        EXPECT_EQ(f.state().gifDelay, 250);
        EXPECT_EQ(app.find<QComboBox>("ComboBox4")->currentIndex(), 5);
        EXPECT_EQ(app.find<QLineEdit>("Edit4")->text(), "20");
        EXPECT_EQ(f.transitionTab().model().durationMs, 2000);
        EXPECT_EQ(app.find<QComboBox>("ComboBox6")->currentIndex(), 3);
        EXPECT_EQ(f.recentVideos(), QStringList{QString::fromStdString(video)});
        EXPECT_EQ(f.lastFolder(FolderKind::Videos), QString::fromStdString(dir.path()));
        EXPECT_EQ(f.lastFolder(FolderKind::SavedGifs), QString::fromStdString(dir.file("out")));
        // What the program sets on opening a video is not overridden: the GIF size list.
        app.openVideo(video);
        EXPECT_EQ(app.find<QComboBox>("ComboBox2")->currentIndex(), 0);
    }
}

TEST(Desktop, NoOrDamagedSettingsGiveTheFirstStart) {
    ScratchDir dir;
    const QString file = QString::fromStdString(dir.file("kelvara.conf"));
    {
        QSettings damaged(file, QSettings::IniFormat);
        damaged.setValue("window/tab", 7);
        damaged.setValue("gif/direction", "sideways");
        damaged.setValue("gif/sampling", 99);
        damaged.setValue("gif/interval", "lots");
        damaged.setValue("transition/effect", -4);
        damaged.setValue("transition/steps", "many");
        damaged.setValue("transition/duration", 99999);
        damaged.setValue("frames/format", 42);
    }
    for (const bool withFile : {false, true}) {
        SCOPED_TRACE(withFile ? "damaged settings" : "no settings");
        AppWindows app;
        TForm1& f = *app.form1;
        f.attachSettings(std::make_unique<QSettings>(
            withFile ? file : QString::fromStdString(dir.file("none.conf")), QSettings::IniFormat));
        EXPECT_EQ(app.find<QTabWidget>("PageControl1")->currentIndex(), 0);
        EXPECT_TRUE(app.find<QRadioButton>("RadioGroup1Forward")->isChecked());
        EXPECT_EQ(app.find<SpinEdit>("SpinEdit1")->value(), 1);
        EXPECT_EQ(f.state().gifDelay, 100);
        EXPECT_EQ(app.find<QLineEdit>("Edit5")->text(), "100");
        EXPECT_EQ(app.find<QLineEdit>("Edit7")->text(), "1000");
        EXPECT_EQ(app.find<QComboBox>("ComboBox4")->currentIndex(), 0);
        EXPECT_EQ(app.find<QLineEdit>("Edit4")->text(), "10");
        EXPECT_EQ(f.transitionTab().model().durationMs, 1000);
        EXPECT_EQ(app.find<QComboBox>("ComboBox6")->currentIndex(), 0);
        EXPECT_TRUE(f.recentVideos().isEmpty());
    }
}

TEST(Desktop, KeysOfTheMainWindow) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    activate(&f);
    const std::string video = clip(dir, "keys.avi", 30);
    app.nextOpenFile = QString::fromStdString(video);
    QTest::keyClick(&f, Qt::Key_O, Qt::ControlModifier);
    ASSERT_TRUE(f.MediaPlayer1.isOpen());
    EXPECT_EQ(f.MediaPlayer1.mode(), MediaPlayer::Playing);

    // The opened video has the focus: Space pauses and plays; Home, End and the arrows move the
    // paused player.
    QWidget* panel = app.find("VideoPanel");
    ASSERT_EQ(QApplication::focusWidget(), panel);
    QTest::keyClick(panel, Qt::Key_Space);
    EXPECT_EQ(f.MediaPlayer1.mode(), MediaPlayer::Paused);
    QTest::keyClick(panel, Qt::Key_End);
    EXPECT_EQ(f.MediaPlayer1.position(), 29);
    QTest::keyClick(panel, Qt::Key_Home);
    EXPECT_EQ(f.MediaPlayer1.position(), 0);
    QTest::keyClick(panel, Qt::Key_Right);
    EXPECT_EQ(f.MediaPlayer1.position(), 1);
    QTest::keyClick(panel, Qt::Key_Left);
    EXPECT_EQ(f.MediaPlayer1.position(), 0);
    QTest::keyClick(panel, Qt::Key_Space);
    EXPECT_EQ(f.MediaPlayer1.mode(), MediaPlayer::Playing);
    QTest::keyClick(panel, Qt::Key_Space);
    // A key the control with the focus uses stays with it: Left in a text box moves its cursor.
    QLineEdit* edit = app.find<QLineEdit>("Edit5");
    app.find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    edit->setFocus();
    edit->setCursorPosition(3);
    QTest::keyClick(edit, Qt::Key_Left);
    EXPECT_EQ(edit->cursorPosition(), 2);
    EXPECT_EQ(f.MediaPlayer1.position(), 0);

    // Ctrl+S saves the GIF of the tab in front; the dialog suggests the video's name.
    app.find<QPushButton>("Button5")->click();
    app.nextSaveFile = QString::fromStdString(dir.file("keys.gif"));
    QTest::keyClick(&f, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(app.suggestedSaveNames, QStringList{"keys.gif"});
    EXPECT_TRUE(std::filesystem::exists(dir.file("keys.gif")));
    app.find<QPushButton>("Button4")->click();

    // Esc aborts the running job: the key comes while the job pumps the window's events.
    QTimer::singleShot(0, &f, [&] { QTest::keyClick(&f, Qt::Key_Escape); });
    app.find<QPushButton>("Button5")->click();
    EXPECT_TRUE(f.state().abortConversion);
    EXPECT_LT(f.state().builtFrameCount, 30);

    // F1 shows the help; the tooltips name the keys.
    activate(&f);
    QTest::keyClick(&f, Qt::Key_F1);
    ASSERT_NE(f.helpWindow(), nullptr);
    EXPECT_TRUE(f.helpWindow()->isVisible());
    EXPECT_EQ(app.find<QToolButton>("SpeedButton6")->toolTip(), "Help (F1)");
    EXPECT_EQ(app.find<QToolButton>("BitBtn3")->toolTip(), "Play (Space)");
    EXPECT_EQ(app.find<QToolButton>("BitBtn2")->toolTip(), "Frame step + (Right)");
    EXPECT_EQ(app.find<QPushButton>("Button6")->toolTip(), "Save the GIF (Ctrl+S)");
    // The text buttons carry mnemonics.
    EXPECT_EQ(app.find<QPushButton>("Button5")->text(), "&Convert");
    EXPECT_EQ(app.find<QPushButton>("Button12")->text(), "&Get frames");

    activate(&f);
    QTest::keyClick(&f, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(f.isVisible());
}

TEST(Desktop, EveryControlHasAnAccessibleName) {
    ScratchDir dir;
    AppWindows app;
    app.openVideo(clip(dir, "names.avi"));
    for (QWidget* window : std::initializer_list<QWidget*>{app.form1.get(), app.form5.get()}) {
        for (QWidget* w : window->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                                 qobject_cast<QAbstractSlider*>(w) || qobject_cast<QComboBox*>(w);
            // Qt's own parts of a control: a tab bar's arrows, a scroll area's bars.
            if (!control || w->objectName().startsWith("qt_") || w->parentWidget()->inherits("QTabBar") ||
                w->inherits("QScrollBar"))
                continue;
            EXPECT_FALSE(accessibleName(w).trimmed().isEmpty())
                << w->metaObject()->className() << " " << w->objectName().toStdString();
        }
    }
    // Icon buttons are named by their hint, boxes by their label or group.
    EXPECT_EQ(accessibleName(app.find("SpeedButton5")), "Open AVI");
    // The description stays the hint, without the key the tooltip adds.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(app.find("SpeedButton5"))->text(QAccessible::Description),
              "Open AVI");
    EXPECT_EQ(accessibleName(app.find("BitBtn4")), "Pause");
    EXPECT_EQ(accessibleName(app.find("SpeedButton1")), "Source image: Open image");
    EXPECT_EQ(accessibleName(app.find("SpeedButton4")), "Target image: Empty image");
    EXPECT_EQ(accessibleName(app.find("Edit7")), "Duration (10...5000ms)");
    EXPECT_EQ(accessibleName(app.find("TrackBar1")), "Seeking Bar");
    EXPECT_EQ(accessibleName(app.form5->SpeedButton3), "Zoom in");
}

TEST(Desktop, ShownSizeIsTheSizeOfTheSavedFile) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(clip(dir, "clip.avi", 70));
    app.find<QRadioButton>("RadioButton4")->click();
    app.find<SpinEdit>("SpinEdit2")->setText("10");
    app.find<SpinEdit>("SpinEdit3")->setText("60");
    app.find<SpinEdit>("SpinEdit1")->setText("5");
    app.find<QPushButton>("Button5")->click();
    ASSERT_EQ(f.state().builtFrameCount, 11);
    EXPECT_EQ(app.find<QLabel>("StatusBar2Panel1")->text(), "Size: 16 x 12 pixels  Frames: 11");
    const QString shown = app.find<QLabel>("StatusBar2Panel2")->text();
    app.nextSaveFile = QString::fromStdString(dir.file("clip_10-60.gif"));
    f.Button6Click();
    EXPECT_EQ(app.suggestedSaveNames, QStringList{"clip_10-60.gif"});
    const auto bytes = std::filesystem::file_size(dir.file("clip_10-60.gif"));
    EXPECT_EQ(shown, QString::number(bytes) + " bytes (0.0 MB)");
    EXPECT_EQ(f.lastFolder(FolderKind::SavedGifs), QString::fromStdString(dir.path()));
    app.find<QPushButton>("Button4")->click();
    EXPECT_TRUE(app.find<QLabel>("StatusBar2Panel2")->isHidden());

    // The time range names the seconds; the transition tab shows the whole line.
    app.find<QRadioButton>("RadioButton5")->click();
    app.find<SpinEdit>("SpinEdit4")->setText("1");
    app.find<SpinEdit>("SpinEdit5")->setText("2");
    app.find<QPushButton>("Button5")->click();
    f.Button6Click();
    EXPECT_EQ(app.suggestedSaveNames.back(), "clip_1-2s.gif");

    app.find<QPushButton>("Button21")->click();
    ASSERT_EQ(f.state().builtFrameCount, 11);
    QLabel* status = app.find<QLabel>("TransitionStatus");
    app.nextSaveFile = QString::fromStdString(dir.file("t.gif"));
    app.find<QPushButton>("Button23")->click();
    EXPECT_TRUE(status->isHidden());
    app.find<QPushButton>("Button21")->click();
    EXPECT_FALSE(status->isHidden());
    app.find<QPushButton>("Button24")->click();
    EXPECT_EQ(app.suggestedSaveNames.back(), "transition.gif");
    const auto transitionBytes = std::filesystem::file_size(dir.file("t.gif"));
    EXPECT_EQ(status->text(),
              "Size: 10 x 10 pixels, 11 frames, " + QString::number(transitionBytes) + " bytes (0.0 MB)");
}

TEST(Desktop, FileSizeText) {
    EXPECT_EQ(fileSizeText(0), "0 bytes (0.0 MB)");
    EXPECT_EQ(fileSizeText(1234567), "1234567 bytes (1.2 MB)");
    EXPECT_EQ(fileSizeText(25'960'000), "25960000 bytes (26.0 MB)");
}

TEST(Desktop, HelpPageBesideTheProgramOrInstalled) {
    ScratchDir dir;
    const std::filesystem::path bin = std::filesystem::path(dir.path()) / "bin";
    const std::filesystem::path doc = std::filesystem::path(dir.path()) / "share/doc/kelvara";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(doc);
    const QString programFolder = QString::fromStdString(bin.string());
    EXPECT_EQ(HelpWindow::helpPage(programFolder), ":/KELVARA.html"); // the copy built in
    writeFileAtomically((doc / "KELVARA.html").string(), "<p>", 3);
    EXPECT_EQ(HelpWindow::helpPage(programFolder), QString::fromStdString((doc / "KELVARA.html").string()));
    writeFileAtomically((bin / "KELVARA.html").string(), "<p>", 3);
    EXPECT_EQ(HelpWindow::helpPage(programFolder), QString::fromStdString((bin / "KELVARA.html").string()));
}
