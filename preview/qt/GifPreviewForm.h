// The animated preview windows of the two GIF jobs: a tool window whose view steps through the
// job's 24-bit frame table with a timer of the main window.
#pragma once

#include "preview/qt/ImageView.h"
#include "raster/FrameTable.h"

#include <QWidget>

#include <functional>

class QScrollArea;

namespace kelvara {

class GifPreviewForm : public QWidget {
    Q_OBJECT
public:
    GifPreviewForm(const QString& objectName, QWidget* parent = nullptr);

    TImageView* GIFview = nullptr;

    // Start, at the end of a job: client size gw x gh (within the screen: a larger GIF scrolls),
    // view cleared, shown beside the main window, clear of its controls; cursor 1.
    void startPreview(int width, int height, int frameCount, const QWidget* mainWindow,
                      const QRect& mainWindowControls = {});
    // One timer tick: show entry [cursor] of the table, then step the cursor, wrapping after the
    // last built frame. The cursor never leaves 1 .. min(frame count, table size).
    void tick(FrameTable& table);
    // Stop: view cleared and repainted, window hidden.
    void stopPreview();
    int cursor() const { return m_cursor; }
    int frameCount() const { return m_frameCount; }

    // What closing the window does: the tab's "Clear GIF".
    std::function<void()> FormClose;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QScrollArea* m_scroll = nullptr;
    int m_cursor = 0;
    int m_frameCount = 0;
};

class TGIFform1 : public GifPreviewForm {
    Q_OBJECT
public:
    explicit TGIFform1(QWidget* parent = nullptr) : GifPreviewForm("GIFform1", parent) {}
};

class TGIFform2 : public GifPreviewForm {
    Q_OBJECT
public:
    explicit TGIFform2(QWidget* parent = nullptr) : GifPreviewForm("GIFform2", parent) {}
};

} // namespace kelvara
