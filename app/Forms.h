// The secondary windows of the program: splash, about box, the holder of the built GIF, and the
// frame-number, frame viewer and save-parameters windows.
#pragma once

#include "gif/GifDocument.h"
#include "output/qt/SaveParamDialog.h"
#include "preview/qt/FrameViewer.h"

#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace kelvara {

// The JPEG stored in the program's resources under the name "SPLASH", decoded as 24-bit colour.
QImage splashPicture();

// The splash window: borderless, always on top, 400 x 266, the splash picture stretched and
// centred.
class TSplashForm : public QWidget {
    Q_OBJECT
public:
    explicit TSplashForm(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
};

// The about box: the splash picture while shown, the program name and version, "OK".
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* parent = nullptr);
    QLabel* Image1 = nullptr;
    QLabel* ProductName = nullptr;
    QPushButton* OKButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
};

// Never shown: its picture is the built GIF document, the one that "Save" writes.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    // Image1's picture.
    TGIFDocument& Image1Picture() { return m_picture; }

private:
    TGIFDocument m_picture;
};

// The frame-number dialog of the transition tab.
class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr; // Cancel
    QPushButton* Button2 = nullptr; // OK

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fitToContent();
};

} // namespace kelvara
