// The frame viewer of the "Get frames" tab: one extracted frame at a time, previous and next,
// zoom from 25 to 1600 %.
#pragma once

#include "preview/qt/ImageView.h"

#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

namespace kelvara {

class FrameTable;

class TForm5 : public QWidget {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
    ~TForm5() override;

    QToolBar* ToolBar1 = nullptr;
    QToolButton* SpeedButton1 = nullptr; // Previous
    QToolButton* SpeedButton2 = nullptr; // Next
    QToolButton* SpeedButton3 = nullptr; // Zoom in
    QToolButton* SpeedButton4 = nullptr; // Zoom out
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusBar1Panel0 = nullptr; // the zoom
    QLabel* StatusBar1Panel1 = nullptr; // the frame size
    TImageView* ImageView1 = nullptr;

    // Shows the frame at 0-based position k of the frame list: entry k + 1 of frames, whose
    // number is row k of numbers, copied unscaled onto a view picture of width x height over the
    // background colour, at 100 %. The viewer keeps frames and numbers for Previous and Next and
    // follows the rows of numbers as they are cleared or refilled. A k outside the list shows
    // nothing.
    void openAtPosition(int k, FrameTable& frames, QListWidget* numbers, int width, int height);
    // Status panel 1, the size of the extracted frames (for example "320x240 pixels").
    void setFrameSizeText(const QString& text);

    int position() const { return m_position; }
    int zoom() const { return m_zoom; }

    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int frameCount() const;
    // Caption, clear, copy and repaint for the current position; the view picture keeps its size.
    void showFrame();
    void sizeToPicture();
    void resetZoom();
    void applyZoom(int zoom);
    void updateStepButtons();
    void updateZoomButtons();
    void watchList(QListWidget* numbers);

    FrameTable* m_frames = nullptr;
    QPointer<QListWidget> m_numbers;
    QList<QMetaObject::Connection> m_listConnections;
    int m_position = 0;
    int m_zoom = 100;
};

} // namespace kelvara
