// The windows of the program, made as start-up makes them, with the dialogs replaced by seams.
#pragma once

#include "app/Forms.h"
#include "app/MainForm.h"
#include "preview/qt/GifPreviewForm.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace kelvara::test {

struct AppWindows {
    AppWindows();
    ~AppWindows();

    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TForm5> form5;
    std::unique_ptr<TAboutForm> about;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TGIFform1> gifForm1;
    std::unique_ptr<TGIFform2> gifForm2;
    std::unique_ptr<TSAVEparam> saveParam;
    std::unique_ptr<TForm1> form1;

    QString nextOpenFile; // what the open dialog returns
    QString nextSaveFile; // what the save dialog returns
    bool replaceAnswer = true;
    QStringList warnings; // "caption: text" of each warning shown

    // Opens a video as "Open AVI" does, through the open dialog's seam.
    void openVideo(const std::string& path);
};

} // namespace kelvara::test
