// Layouts of the desktop program's windows: every text shows whole at the default font and at
// one and a half times its size, no two controls lie over each other, and the windows stay on
// the screen and beside the main window.
#include "AppFixture.h"
#include "app/HelpWindow.h"
#include "app/PageScroller.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QGroupBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QStyleOptionToolButton>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

using namespace kelvara;
using namespace kelvara::test;

namespace {

std::string video(const ScratchDir& dir, int w, int h, int count) {
    return writeTestVideo(dir, "v" + std::to_string(w) + "x" + std::to_string(h) + ".avi", w, h, count,
                          [](int i, int x, int y) { return rgbColor(x & 0xFF, y & 0xFF, i); });
}

// The text a control shows: a mnemonic's ampersand is not drawn, a doubled one is drawn once.
QString shownText(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        shown += text[i];
    }
    return shown;
}

// Why a control's text does not show whole, or empty when it does.
QString textProblem(QWidget* w) {
    const QFontMetrics fm = w->fontMetrics();
    QStyle* style = w->style();
    const auto lacking = [&](int needed, int has, const QString& what) {
        return has < needed ? QString("%1: %2 wide, its text needs %3").arg(what).arg(has).arg(needed)
                            : QString();
    };
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty() || qobject_cast<ElidingLabel*>(label))
            return {};
        // An ampersand is a mnemonic only where the label has a control to give the focus to.
        if (!label->buddy() && label->text().contains('&'))
            return "shows its mnemonic's ampersand: " + label->text();
        const QString text = shownText(label->text());
        const QRect room = label->contentsRect().marginsRemoved(
            QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
        if (label->wordWrap())
            return room.height() < label->heightForWidth(label->width()) - 2 * label->frameWidth()
                       ? "wrapped text cut at the bottom: " + text
                       : QString();
        if (room.height() < fm.height())
            return "cut at the bottom: " + text;
        return lacking(fm.horizontalAdvance(text), room.width(), text);
    }
    if (auto* box = qobject_cast<QGroupBox*>(w)) {
        if (box->title().isEmpty())
            return {};
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        option.textAlignment = box->alignment();
        const QRect title =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        if (!box->rect().contains(title))
            return "title reaches past its group: " + box->title();
        return lacking(fm.horizontalAdvance(shownText(box->title())), title.width(), box->title());
    }
    if (auto* tabs = qobject_cast<QTabBar*>(w)) {
        for (int i = 0; i < tabs->count(); ++i)
            if (!tabs->rect().contains(tabs->tabRect(i)) ||
                tabs->tabRect(i).width() < fm.horizontalAdvance(shownText(tabs->tabText(i))))
                return "the tab " + tabs->tabText(i) + " is cut";
        return {};
    }
    auto* button = qobject_cast<QAbstractButton*>(w);
    if (!button || button->text().isEmpty())
        return {};
    const QString text = shownText(button->text());
    const QSize textSize(fm.horizontalAdvance(text), fm.height());
    QSize needed;
    if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        needed = style->sizeFromContents(
            qobject_cast<QCheckBox*>(w) ? QStyle::CT_CheckBox : QStyle::CT_RadioButton, &option, textSize, w);
    } else if (auto* push = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(push);
        option.text = push->text();
        if (push->isDefault() || push->autoDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
        needed = style->sizeFromContents(QStyle::CT_PushButton, &option, textSize, w);
    } else {
        QStyleOptionToolButton option;
        option.initFrom(button);
        option.text = button->text();
        option.toolButtonStyle = Qt::ToolButtonTextOnly;
        needed = style->sizeFromContents(QStyle::CT_ToolButton, &option, textSize, w);
    }
    if (button->height() < textSize.height())
        return "cut at the bottom: " + text;
    return lacking(needed.width(), button->width(), text);
}

// The controls of a window that are drawn now: children of its forms, not the parts inside
// Qt's own compound controls (the inside of a list, a combo box or a tab bar).
void shownControls(QWidget* parent, QList<QWidget*>& out) {
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow() || !w->isVisible())
            continue;
        out << w;
        if (qobject_cast<QAbstractScrollArea*>(w) && !qobject_cast<QScrollArea*>(w))
            continue;
        if (qobject_cast<QComboBox*>(w) || qobject_cast<QTabBar*>(w) || qobject_cast<QAbstractSpinBox*>(w))
            continue;
        shownControls(w, out);
    }
}

// Whether what holds a control cuts part of it off. A page in a scroller counts as whole: the
// part of it outside the scroller's view is there once the page is scrolled to it.
bool cutByItsHolders(const QWidget* w) {
    QRect r = w->rect();
    const QWidget* c = w;
    while (!c->isWindow()) {
        const QWidget* holder = c->parentWidget();
        if (holder && qobject_cast<const PageScroller*>(holder->parentWidget()))
            return false;
        r.translate(c->pos());
        if (!holder->rect().contains(r))
            return true;
        c = holder;
    }
    return false;
}

bool insideScrollingPage(const QWidget* w) {
    for (const QWidget* c = w; c && !c->isWindow(); c = c->parentWidget())
        if (qobject_cast<const PageScroller*>(c))
            return true;
    return false;
}

// Every problem of a window's layout as it shows now: texts that do not show whole, controls cut
// by what holds them, and sibling controls that lie over each other.
QStringList layoutProblems(QWidget* window) {
    // Let the layouts settle: a window that grows looks at its controls again after they have.
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    QStringList problems;
    QList<QWidget*> controls;
    shownControls(window, controls);
    for (QWidget* w : controls) {
        const QString where = w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName();
        if (QString text = textProblem(w); !text.isEmpty())
            problems << where + ": " + text;
        const bool hasText =
            (qobject_cast<QLabel*>(w) && !qobject_cast<QLabel*>(w)->text().isEmpty()) ||
            (qobject_cast<QAbstractButton*>(w) && !qobject_cast<QAbstractButton*>(w)->text().isEmpty()) ||
            qobject_cast<QGroupBox*>(w);
        const bool cut =
            insideScrollingPage(w) ? cutByItsHolders(w) : w->visibleRegion() != QRegion(w->rect());
        if (hasText && !qobject_cast<ElidingLabel*>(w) && cut)
            problems << where + ": cut by the control or window that holds it";
    }
    for (QWidget* a : controls)
        for (QWidget* b : controls)
            if (a < b && a->parentWidget() == b->parentWidget() && a->geometry().intersects(b->geometry()))
                problems << a->objectName() + " " + a->metaObject()->className() + " lies over " +
                                b->objectName() + " " + b->metaObject()->className();
    return problems;
}

// The application's font, scaled for the life of the object.
class ScaledFont {
public:
    explicit ScaledFont(double factor) : m_saved(QApplication::font()) {
        QFont font = m_saved;
        font.setPointSizeF(m_saved.pointSizeF() * factor);
        QApplication::setFont(font);
    }
    ~ScaledFont() { QApplication::setFont(m_saved); }

private:
    QFont m_saved;
};

// Brings every panel of the main window into view that a person can bring: the frame range and
// the time range, the scale list and the typed size, "Range" and "Specified", the size labels.
void showEveryPanel(AppWindows& app, int tab, int step) {
    TForm1& f = *app.form1;
    app.find<QTabWidget>("PageControl1")->setCurrentIndex(tab);
    if (tab == 0) {
        f.RadioButton7Click();
        app.find<QRadioButton>("RadioButton7")->setChecked(true);
        f.RadioButton11Click();
    } else if (tab == 1) {
        app.find<QComboBox>("ComboBox2")->setCurrentIndex(step == 0 ? 1 : 2);
        (step == 0 ? f.RadioButton4Click() : f.RadioButton5Click());
        app.find<QLabel>("StatusBar2Panel1")->setText("Size: 768 x 576 pixels  Frames: 256");
    } else {
        for (const char* size : {"Label33", "Label34"}) {
            app.find<QLabel>(size)->setText("Size: 1024x768");
            app.find<QLabel>(size)->show();
        }
    }
}

// When the font is set: before the windows are made (the desktop's font at start-up), or while
// they show (the user changes the desktop's font).
enum class FontSet { BeforeStart, WhileOpen };

void expectWholeTexts(double fontFactor, FontSet when, QRect screen = TestScreen) {
    std::optional<ScaledFont> font;
    if (when == FontSet::BeforeStart)
        font.emplace(fontFactor);
    ScratchDir dir;
    AppWindows app(screen);
    if (when == FontSet::WhileOpen)
        font.emplace(fontFactor);
    app.openVideo(video(dir, 64, 48, 6));
    TForm1& f = *app.form1;
    f.BitBtn4Click();
    EXPECT_EQ(layoutProblems(&f).join("\n").toStdString(), "") << "before any tab";
    for (int tab = 0; tab < 3; ++tab)
        for (int step = 0; step < 2; ++step) {
            showEveryPanel(app, tab, step);
            EXPECT_EQ(layoutProblems(&f).join("\n").toStdString(), "") << "tab " << tab << ", step " << step;
        }
    EXPECT_TRUE(screen.contains(f.geometry().marginsAdded(windowFrame(&f))));

    // The save-parameters dialog, page by page.
    TSAVEparam& dialog = *app.saveParam;
    Bitmap picture;
    picture.SetPixelFormat(PixelFormat::Bits24);
    picture.SetSize(40, 30);
    dialog.setSource(picture);
    dialog.show();
    for (int page = 0; page < dialog.PageControl1->count(); ++page) {
        dialog.PageControl1->setCurrentIndex(page);
        EXPECT_EQ(layoutProblems(&dialog).join("\n").toStdString(), "")
            << dialog.PageControl1->tabText(page).toStdString();
    }
    dialog.hide();

    // The frame viewer with its status line, the frame-number dialog, the about box.
    f.RadioButton7Click();
    app.find<SpinEdit>("SpinEdit7")->setText("3");
    f.Button12Click();
    f.Button16Click();
    ASSERT_TRUE(app.form5->isVisible());
    EXPECT_EQ(layoutProblems(app.form5.get()).join("\n").toStdString(), "");
    for (QWidget* small : std::initializer_list<QWidget*>{app.form2.get(), app.about.get()}) {
        small->show();
        EXPECT_EQ(layoutProblems(small).join("\n").toStdString(), "") << small->objectName().toStdString();
        small->hide();
    }
}

} // namespace

TEST(Layout, EveryTextShowsWholeAtTheDefaultFont) {
    expectWholeTexts(1.0, FontSet::BeforeStart);
}

TEST(Layout, EveryTextShowsWholeAtOneAndAHalfTimesTheFont) {
    expectWholeTexts(1.5, FontSet::BeforeStart);
}

TEST(Layout, EveryTextShowsWholeWhenTheFontGrowsWhileTheWindowsShow) {
    expectWholeTexts(1.5, FontSet::WhileOpen);
}

// A 1024 x 768 screen with a 144-dpi font: the window keeps to the screen, and the tab pages
// that have not the room scroll, every text whole.
TEST(Layout, EveryTextShowsWholeOnASmallScreenAtOneAndAHalfTimesTheFont) {
    expectWholeTexts(1.5, FontSet::BeforeStart, QRect(0, 0, 1024, 768));
}

// The same screen at a scale factor of 1.5 (a 144-dpi desktop): 683 x 512 in the program's
// pixels.
TEST(Layout, EveryTextShowsWholeOnASmallScreenScaledByOneAndAHalf) {
    expectWholeTexts(1.0, FontSet::BeforeStart, QRect(0, 0, 683, 512));
}

TEST(Layout, TheTabPagesScrollOnlyWhereTheScreenHasNotTheRoom) {
    ScaledFont font(1.5);
    for (QRect screen : {QRect(0, 0, 1024, 768), QRect(0, 0, 683, 512), TestScreen}) {
        SCOPED_TRACE(screen.width());
        AppWindows app(screen);
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
        const bool small = screen.width() < 1200;
        for (PageScroller* scroller : app.form1->findChildren<PageScroller*>()) {
            SCOPED_TRACE(scroller->objectName().toStdString());
            QWidget* page = scroller->widget();
            // The page keeps at least its own smallest size, and the scroller shows all of it
            // where it has the room.
            EXPECT_GE(page->width(), scroller->pageMinimumSize().width());
            EXPECT_GE(page->height(), scroller->pageMinimumSize().height());
            if (!small) {
                EXPECT_EQ(scroller->room(), QSize());
            }
        }
        // On the small screen the widest page does not fit beside the player: it scrolls.
        if (small) {
            app.find<QTabWidget>("PageControl1")->setCurrentIndex(2);
            QApplication::processEvents();
            auto* scroller =
                qobject_cast<PageScroller*>(app.find<QTabWidget>("PageControl1")->currentWidget());
            ASSERT_NE(scroller, nullptr);
            EXPECT_TRUE(scroller->room().isValid());
        }
    }
}

TEST(Layout, TheMainWindowFitsTheScreenAndALargeVideoScrolls) {
    ScratchDir dir;
    const std::string large = video(dir, 768, 576, 2);
    // A 1280 x 1024 screen less its panel, the same at one and a half times the font, and the
    // same screen at a scale factor of 1.5 (853 x 683 in the program's pixels).
    struct Case {
        QRect screen;
        double font;
    };
    for (Case c :
         {Case{{0, 24, 1280, 1000}, 1.0}, Case{{0, 24, 1280, 1000}, 1.5}, Case{{0, 0, 853, 683}, 1.0}}) {
        SCOPED_TRACE(c.screen.width());
        SCOPED_TRACE(c.font);
        ScaledFont font(c.font);
        AppWindows app(c.screen);
        TForm1& f = *app.form1;
        app.openVideo(large);
        f.BitBtn4Click();
        QApplication::processEvents();
        // The window and its frame stay inside the screen, with every control and the progress
        // bar in the window.
        EXPECT_TRUE(c.screen.contains(f.geometry().marginsAdded(windowFrame(&f))))
            << f.geometry().width() << "x" << f.geometry().height();
        EXPECT_EQ(layoutProblems(&f).join("\n").toStdString(), "");
        auto* bar = app.find<QProgressBar>("ProgressBar1");
        EXPECT_TRUE(f.rect().contains(QRect(bar->mapTo(&f, QPoint(0, 0)), bar->size())));
        // The video scrolls where the screen has no room for it.
        auto* area = app.find<QScrollArea>("VideoArea");
        auto* panel = app.find<VideoDisplay>("VideoPanel");
        EXPECT_EQ(panel->size(), QSize(768, 576));
        const QSize room = area->viewport()->size();
        EXPECT_EQ(area->verticalScrollBar()->maximum(), std::max(0, 576 - room.height()));
        EXPECT_EQ(area->horizontalScrollBar()->maximum(), std::max(0, 768 - room.width()));
        if (c.screen.height() < 900) {
            EXPECT_GT(area->verticalScrollBar()->maximum(), 0);
        }
    }
}

TEST(Layout, PreviewsOpenBesideTheMainWindowSizedToTheirGif) {
    ScratchDir dir;
    AppWindows app;
    TForm1& f = *app.form1;
    app.openVideo(video(dir, 160, 120, 4));
    f.Button5Click();
    TGIFform1& preview = *app.gifForm1;
    ASSERT_TRUE(preview.isVisible());
    EXPECT_EQ(preview.GIFview->size(), QSize(160, 120));
    EXPECT_EQ(preview.size(), QSize(170, 130)); // the GIF and a 5-pixel border
    EXPECT_FALSE(preview.geometry().intersects(f.geometry().marginsAdded(windowFrame(&f))));
    EXPECT_TRUE(TestScreen.contains(preview.geometry()));
    f.Button4Click();

    // No room beside the main window: the preview shows the whole GIF over the main window, on
    // the screen, rather than keep clear of its controls with scroll bars.
    const QRect narrow(0, 0, 1024, 1000);
    setAvailableAreaSource([narrow](const QWidget*) { return narrow; });
    f.move(90, 0);
    app.gifForm2->startPreview(400, 700, 1, &f, f.controlsOnScreen());
    const QRect outer = app.gifForm2->geometry().marginsAdded(windowFrame(app.gifForm2.get()));
    EXPECT_TRUE(narrow.contains(outer));
    EXPECT_EQ(app.gifForm2->size(), QSize(410, 710));
    EXPECT_EQ(app.gifForm2->GIFview->size(), QSize(400, 700));

    // A 320 x 240 GIF on a 1024 x 768 screen at a scale factor of 1.5 (683 x 512 in the
    // program's pixels): whole, without scroll bars.
    const QRect scaled(0, 0, 683, 512);
    setAvailableAreaSource([scaled](const QWidget*) { return scaled; });
    f.move(0, 0);
    app.gifForm1->startPreview(320, 240, 1, &f, f.controlsOnScreen());
    QApplication::processEvents();
    EXPECT_TRUE(scaled.contains(app.gifForm1->geometry().marginsAdded(windowFrame(app.gifForm1.get()))));
    auto* area = app.gifForm1->findChild<QScrollArea*>();
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(area->verticalScrollBar()->maximum(), 0);
    EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(area->verticalScrollBar()->isVisible());
    app.gifForm1->stopPreview();

    // A GIF larger than the screen: the window keeps to the screen and its view scrolls.
    const QRect small(0, 0, 1024, 600);
    setAvailableAreaSource([small](const QWidget*) { return small; });
    app.gifForm2->startPreview(1500, 900, 1, &f);
    EXPECT_TRUE(small.contains(app.gifForm2->geometry().marginsAdded(windowFrame(app.gifForm2.get()))));
    EXPECT_EQ(app.gifForm2->GIFview->size(), QSize(1500, 900));
    setAvailableAreaSource([](const QWidget*) { return TestScreen; });
}
