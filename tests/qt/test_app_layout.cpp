// Layout dump (temporary).
#include "AppFixture.h"
#include "convert/qt/AviToGifTab.h"
#include "convert/qt/GetFramesTab.h"
#include "convert/qt/TransitionTab.h"

#include <QApplication>
#include <QGroupBox>
#include <gtest/gtest.h>

using namespace kelvara;
using namespace kelvara::test;

static void dump(QWidget* w, int depth) {
    if (!w->isVisibleTo(w->window()))
        return;
    if (depth <= 3 || qobject_cast<QGroupBox*>(w))
        printf("%*s%s %s geo=%d,%d %dx%d min=%dx%d\n", depth * 2, "", w->metaObject()->className(),
               qPrintable(w->objectName()), w->x(), w->y(), w->width(), w->height(), w->minimumSizeHint().width(),
               w->minimumSizeHint().height());
    for (QObject* c : w->children())
        if (auto* cw = qobject_cast<QWidget*>(c))
            dump(cw, depth + 1);
}

TEST(LayoutDump, Print) {
    AppWindows app;
    QApplication::processEvents();
    printf("font %s %g\n", qPrintable(QApplication::font().family()), QApplication::font().pointSizeF());
    printf("form1 %dx%d min %dx%d\n", app.form1->width(), app.form1->height(), app.form1->minimumSizeHint().width(), app.form1->minimumSizeHint().height());
    for (QWidget* tab : std::initializer_list<QWidget*>{&app.form1->getFramesTab(), &app.form1->aviToGifTab(), &app.form1->transitionTab()}) {
        printf("tab %s min %dx%d\n", qPrintable(tab->objectName()), tab->minimumSizeHint().width(), tab->minimumSizeHint().height());
        for (QObject* c : tab->children())
            if (auto* cw = qobject_cast<QWidget*>(c))
                printf("   %s %s min %dx%d\n", cw->metaObject()->className(), qPrintable(cw->objectName()), cw->minimumSizeHint().width(), cw->minimumSizeHint().height());
    }
    dump(app.form1.get(), 0);
    printf("save %dx%d min %dx%d\n", app.saveParam->width(), app.saveParam->height(), app.saveParam->minimumSizeHint().width(), app.saveParam->minimumSizeHint().height());
}
