// Tests of the frame viewer: opening at a row, previous and next with their enabling, the zoom
// steps and the zoom rule of the scrolling image view, and a frame list that changes under it.
#include "AppFixture.h"
#include "raster/FrameTable.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

using namespace kelvara;
using namespace kelvara::test;

namespace {

constexpr Color Teal = rgbColor(0, 128, 128);

Color frameColor(int entry) {
    return rgbColor(entry * 40, 255 - entry * 30, entry * 7);
}

// The "Get frames" tab after extracting count frames of w x h numbered 10, 20, ...: table entry
// k + 1 is one colour and row k of the number list holds its frame number.
struct Extracted {
    AppWindows app;
    TForm1& f = *app.form1;
    TForm5& viewer = *app.form5;

    Extracted(int count, int w = 32, int h = 24) {
        for (int k = 0; k < count; ++k) {
            Bitmap& entry = f.extractionFrames.entry(k + 1);
            entry.SetPixelFormat(PixelFormat::Bits24);
            entry.SetSize(w, h);
            entry.Canvas().Brush.Color = frameColor(k + 1);
            entry.Canvas().FillRect({0, 0, w, h});
            app.find<QListWidget>("ListBox1")->addItem(QString::number((k + 1) * 10));
        }
    }
    void open(int k, int w = 32, int h = 24) {
        viewer.openAtPosition(k, f.extractionFrames, app.find<QListWidget>("ListBox1"), w, h);
    }
};

} // namespace

TEST(FrameViewer, StartsHiddenWithItsControls) {
    AppWindows app;
    TForm5& v = *app.form5;
    EXPECT_FALSE(v.isVisible());
    EXPECT_EQ(v.size(), QSize(400, 320));
    EXPECT_TRUE(v.windowTitle().startsWith("Frame "));
    // The hints, with the key that presses each button.
    EXPECT_EQ(v.findChild<QToolButton*>("SpeedButton1")->toolTip(), "Previous (Left)");
    EXPECT_EQ(v.findChild<QToolButton*>("SpeedButton2")->toolTip(), "Next (Right)");
    EXPECT_EQ(v.findChild<QToolButton*>("SpeedButton3")->toolTip(), "Zoom in (+)");
    EXPECT_EQ(v.findChild<QToolButton*>("SpeedButton4")->toolTip(), "Zoom out (-)");
    EXPECT_EQ(v.StatusBar1Panel0->text(), "Zoom: 100%");
    EXPECT_EQ(v.StatusBar1Panel0->width(), 100);
    EXPECT_EQ(v.ImageView1->backgroundColor(), QColor(0, 128, 128));
    ASSERT_NE(v.ImageView1->findChild<QWidget*>("HorzScrollBar"), nullptr);
    ASSERT_NE(v.ImageView1->findChild<QWidget*>("VertScrollBar"), nullptr);
    v.setFrameSizeText("320x240 pixels");
    EXPECT_EQ(v.StatusBar1Panel1->text(), "320x240 pixels");
}

TEST(FrameViewer, OpensAtARowWithPreviousAndNextEnabledByPosition) {
    Extracted e(6);
    struct Case {
        int k;
        bool previous;
        bool next;
    };
    for (Case c : {Case{0, false, true}, Case{5, true, false}, Case{2, true, true}}) {
        SCOPED_TRACE(c.k);
        e.open(c.k);
        EXPECT_TRUE(e.viewer.isVisible());
        EXPECT_EQ(e.viewer.position(), c.k);
        EXPECT_EQ(e.viewer.windowTitle(), QString("Frame %1").arg((c.k + 1) * 10));
        EXPECT_EQ(e.viewer.SpeedButton1->isEnabled(), c.previous);
        EXPECT_EQ(e.viewer.SpeedButton2->isEnabled(), c.next);
        const Bitmap& shown = e.viewer.ImageView1->picture();
        EXPECT_EQ(shown.Width(), 32);
        EXPECT_EQ(shown.Height(), 24);
        EXPECT_EQ(shown.pixel(31, 23), frameColor(c.k + 1));
    }
}

TEST(FrameViewer, NextAndPreviousStepThroughTheListAndStopAtItsEnds) {
    Extracted e(3);
    e.open(0);
    QTest::mouseClick(e.viewer.SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(e.viewer.position(), 1);
    EXPECT_EQ(e.viewer.windowTitle(), "Frame 20");
    EXPECT_EQ(e.viewer.ImageView1->picture().pixel(0, 0), frameColor(2));
    e.viewer.SpeedButton2Click();
    EXPECT_EQ(e.viewer.position(), 2);
    EXPECT_FALSE(e.viewer.SpeedButton2->isEnabled());
    e.viewer.SpeedButton2Click(); // at the end: nothing happens
    EXPECT_EQ(e.viewer.position(), 2);
    e.viewer.SpeedButton1Click();
    e.viewer.SpeedButton1Click();
    EXPECT_EQ(e.viewer.position(), 0);
    EXPECT_FALSE(e.viewer.SpeedButton1->isEnabled());
    e.viewer.SpeedButton1Click();
    EXPECT_EQ(e.viewer.position(), 0);
    EXPECT_EQ(e.viewer.windowTitle(), "Frame 10");
}

TEST(FrameViewer, KeysStepZoomAndClose) {
    Extracted e(3);
    e.open(0);
    e.viewer.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&e.viewer));
    QTest::keyClick(&e.viewer, Qt::Key_Right);
    QTest::keyClick(&e.viewer, Qt::Key_Right);
    QTest::keyClick(&e.viewer, Qt::Key_Right); // at the end: nothing happens
    EXPECT_EQ(e.viewer.position(), 2);
    QTest::keyClick(&e.viewer, Qt::Key_Left);
    EXPECT_EQ(e.viewer.position(), 1);
    QTest::keyClick(&e.viewer, Qt::Key_Plus);
    QTest::keyClick(&e.viewer, Qt::Key_Equal);
    EXPECT_EQ(e.viewer.zoom(), 400);
    QTest::keyClick(&e.viewer, Qt::Key_Minus);
    EXPECT_EQ(e.viewer.zoom(), 200);
    EXPECT_EQ(e.viewer.StatusBar1Panel0->text(), "Zoom: 200%");
    QTest::keyClick(&e.viewer, Qt::Key_0);
    EXPECT_EQ(e.viewer.zoom(), 100);
    EXPECT_EQ(e.viewer.StatusBar1Panel0->text(), "Zoom: 100%");
    QTest::keyClick(&e.viewer, Qt::Key_Escape);
    EXPECT_FALSE(e.viewer.isVisible());
}

TEST(FrameViewer, ZoomStepsBetween25And1600AndReopeningResetsTo100) {
    Extracted e(6);
    e.open(0);
    TForm5& v = e.viewer;
    for (int expected : {200, 400, 800, 1600}) {
        QTest::mouseClick(v.SpeedButton3, Qt::LeftButton);
        EXPECT_EQ(v.zoom(), expected);
        EXPECT_EQ(v.ImageView1->zoom(), expected);
        EXPECT_EQ(v.StatusBar1Panel0->text(), QString("Zoom: %1%").arg(expected));
    }
    EXPECT_FALSE(v.SpeedButton3->isEnabled());
    EXPECT_TRUE(v.SpeedButton4->isEnabled());
    v.SpeedButton3Click();
    EXPECT_EQ(v.zoom(), 1600);

    e.open(0);
    v.SpeedButton4Click();
    v.SpeedButton4Click();
    EXPECT_EQ(v.zoom(), 25);
    EXPECT_EQ(v.StatusBar1Panel0->text(), "Zoom: 25%");
    EXPECT_FALSE(v.SpeedButton4->isEnabled());
    EXPECT_TRUE(v.SpeedButton3->isEnabled());
    v.SpeedButton4Click();
    EXPECT_EQ(v.zoom(), 25);

    // At 400 %, closed, and opened again at another row: that row at 100 %.
    for (int i = 0; i < 4; ++i) // 50, 100, 200, 400
        v.SpeedButton3Click();
    EXPECT_EQ(v.zoom(), 400);
    v.close();
    EXPECT_FALSE(v.isVisible());
    e.open(4);
    EXPECT_TRUE(v.isVisible());
    EXPECT_EQ(v.zoom(), 100);
    EXPECT_EQ(v.ImageView1->zoom(), 100);
    EXPECT_EQ(v.StatusBar1Panel0->text(), "Zoom: 100%");
    EXPECT_TRUE(v.SpeedButton3->isEnabled());
    EXPECT_TRUE(v.SpeedButton4->isEnabled());
    EXPECT_EQ(v.windowTitle(), "Frame 50");
}

TEST(FrameViewer, ALargerSizeThanTheFrameShowsTealBesideIt) {
    Extracted e(2, 20, 10);
    e.open(1, 30, 16);
    const Bitmap& shown = e.viewer.ImageView1->picture();
    EXPECT_EQ(shown.Width(), 30);
    EXPECT_EQ(shown.Height(), 16);
    EXPECT_EQ(shown.pixel(19, 9), frameColor(2));
    EXPECT_EQ(shown.pixel(20, 0), Teal);
    EXPECT_EQ(shown.pixel(0, 10), Teal);
    EXPECT_EQ(shown.pixel(29, 15), Teal);
}

TEST(FrameViewer, NeverReadsPastAListClearedOrRefilledWhileOpen) {
    Extracted e(6);
    e.open(4);
    EXPECT_TRUE(e.viewer.SpeedButton2->isEnabled());

    e.app.find<QListWidget>("ListBox1")->clear();
    EXPECT_FALSE(e.viewer.SpeedButton1->isEnabled());
    EXPECT_FALSE(e.viewer.SpeedButton2->isEnabled());
    e.viewer.SpeedButton1Click();
    e.viewer.SpeedButton2Click();
    EXPECT_EQ(e.viewer.position(), 4);
    EXPECT_EQ(e.viewer.windowTitle(), "Frame 50");

    // Refilled with two rows: the viewer at row 4 steps back onto the last row there is.
    e.app.find<QListWidget>("ListBox1")->addItem("7");
    EXPECT_TRUE(e.viewer.SpeedButton1->isEnabled());
    EXPECT_FALSE(e.viewer.SpeedButton2->isEnabled());
    e.app.find<QListWidget>("ListBox1")->addItem("8");
    e.viewer.SpeedButton1Click();
    EXPECT_EQ(e.viewer.position(), 1);
    EXPECT_EQ(e.viewer.windowTitle(), "Frame 8");
    EXPECT_FALSE(e.viewer.SpeedButton2->isEnabled());

    // Opening at a row the list does not have shows nothing new.
    e.open(7);
    EXPECT_EQ(e.viewer.position(), 1);
}

// The zoom rule of the scrolling view: the picture point under the centre of the client area
// stays there; scroll positions are truncated and clamped to the picture.
TEST(FrameViewer, ZoomKeepsThePointUnderTheCentre) {
    TImageView view;
    view.setScrolling(ScrollBars::Both);
    view.resize(217, 161);
    view.picture().SetSize(300, 200);
    const QRect client = view.clientRect();
    const int hw = client.width() / 2, hh = client.height() / 2;
    ASSERT_GT(hw, 0);

    view.setZoom(200);
    EXPECT_EQ(view.scrollX(), hw); // column hw moves from hw to 2 hw
    EXPECT_EQ(view.scrollY(), hh);

    view.setScrollPosition(101, 33);
    const int sx = view.scrollX(), sy = view.scrollY();
    ASSERT_EQ(sx, 101);
    const double column = std::nearbyint((hw + sx) * 100.0 / 200);
    const double row = std::nearbyint((hh + sy) * 100.0 / 200);
    view.setZoom(400);
    EXPECT_EQ(view.scrollX(), std::min(static_cast<int>(column * 4 - hw), 1200 - client.width()));
    EXPECT_EQ(view.scrollY(), std::min(static_cast<int>(row * 4 - hh), 800 - client.height()));

    // Zooming out until the picture fits puts it back at the top-left.
    view.setZoom(50);
    EXPECT_EQ(view.scrollX(), 0);
    EXPECT_EQ(view.scrollY(), 0);
    EXPECT_EQ(view.maxScrollX(), 0);

    // The largest scroll position clamps at the picture's far edge.
    view.setZoom(1600);
    view.setScrollPosition(100000, 100000);
    EXPECT_EQ(view.scrollX(), 4800 - client.width());
    EXPECT_EQ(view.scrollY(), 3200 - client.height());
}

// The viewer opens large enough to show the frame whole at 100 %, also with a larger font, and
// no larger than the screen; a small frame keeps the 400 x 320 window.
TEST(FrameViewer, OpensAtThePicturesSizeWithinTheScreen) {
    const QFont saved = QApplication::font();
    struct Case {
        double font;
        int w, h;
        QRect screen;
    };
    for (Case c :
         {Case{1.0, 32, 24, TestScreen}, Case{1.0, 320, 240, TestScreen}, Case{1.5, 320, 240, TestScreen},
          Case{1.5, 320, 240, QRect(0, 0, 1024, 768)}, Case{1.0, 320, 240, QRect(0, 0, 683, 512)},
          Case{1.0, 2000, 1500, QRect(0, 0, 1024, 768)}}) {
        SCOPED_TRACE(c.font);
        SCOPED_TRACE(c.w);
        QFont font = saved;
        font.setPointSizeF(saved.pointSizeF() * c.font);
        QApplication::setFont(font);
        {
            Extracted e(2, c.w, c.h);
            setAvailableAreaSource([screen = c.screen](const QWidget*) { return screen; });
            e.open(0, c.w, c.h);
            QApplication::processEvents();
            TForm5& v = e.viewer;
            EXPECT_TRUE(c.screen.contains(v.geometry().marginsAdded(windowFrame(&v))))
                << v.geometry().x() << "," << v.geometry().y() << " " << v.width() << "x" << v.height();
            if (c.w == 32) {
                EXPECT_EQ(v.size(), QSize(400, 320));
            } else if (c.w == 320) {
                EXPECT_EQ(v.ImageView1->maxScrollX(), 0);
                EXPECT_EQ(v.ImageView1->maxScrollY(), 0);
                EXPECT_GE(v.ImageView1->clientRect().width(), 320);
                EXPECT_GE(v.ImageView1->clientRect().height(), 240);
            } else {
                EXPECT_GT(v.ImageView1->maxScrollX(), 0);
            }
            setAvailableAreaSource([](const QWidget*) { return TestScreen; });
        }
        QApplication::setFont(saved);
    }
}
