// What the three tabs of the main window share with the window around them: the state every
// handler uses, the dialogs the handlers open, and the parts of the window that a job locks or
// uses (the progress bar, "Open AVI", the player's buttons, the picking view).
#pragma once

#include "convert/JobObserver.h"
#include "output/SaveOptions.h"
#include "raster/Bitmap.h"

#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QColor;
class QProgressBar;
class QWidget;

namespace kelvara {

class SpinEdit;
class TGIFDocument;
class TImageView;

// The state the handlers share.
struct SharedState {
    std::string videoPath;     // the file the open dialog returned last
    std::string videoFileName; // its name part
    int frameCount = 0;        // N
    int videoLength = 0;       // L, milliseconds
    int videoLengthSeconds = 0;
    QRect videoRect; // left, top, width, height as the player reports them
    int firstFrame = 0;
    int lastFrame = 0;
    int gifBaseWidth = 0;
    int gifBaseHeight = 0;
    Rect cropRect;
    int samplingStep = 0;
    bool abortConversion = false;
    bool userPaused = false;
    int gifDelay = 100;
    int builtFrameCount = 0;
    bool abortExtraction = false;
    bool windowClosing = false; // the window waits for the job to end, then closes
    // The still-image save options "Save" on "Get frames" writes with; the save-parameters
    // dialog's "OK" fills them.
    StillImageSaveOptions saveOptions = defaultSaveOptions(StillImageFormat::Bmp);
    // The built GIF document as "Save" writes it, encoded once when a job has built it, and the
    // file name the save dialog suggests for it.
    std::vector<uint8_t> builtGifFile;
    QString builtGifName;
};

// The folders the dialogs start in: each is the one the user last took a file from or saved to.
enum class FolderKind { Videos, Pictures, SavedGifs, SavedFrames };

// The dialogs the handlers open, as functions: the window sets the real dialogs, tests answer
// them.
struct Dialogs {
    std::function<QString()> chooseOpenFile; // OpenDialog1; empty when cancelled
    // The GIF save dialog, offering the suggested file name in the folder last saved to.
    std::function<QString(const QString& suggestedName)> chooseSaveFile;
    std::function<bool(const QString& path)> confirmReplace; // before replacing files
    std::function<void(const QString& caption, const QString& text)> showWarning;
    std::function<QString()> chooseOpenPicture;     // OpenPictureDialog1
    std::function<bool(QColor& color)> chooseColor; // ColorDialog1
    std::function<bool()> askFrameNumber;           // TForm2 shown modally: true on OK
    // The save-parameters dialog, shown modally on a page: true on OK, with the page in front.
    std::function<bool(StillImageFormat& page, const Bitmap& source, StillImageSaveOptions& options)>
        runSaveDialog;
    std::function<QString()> chooseFolder; // where "Save" writes the frames
};

// The main window as the tabs see it.
class TabHost {
public:
    virtual ~TabHost() = default;

    virtual SharedState& state() = 0;
    virtual Dialogs& dialogs() = 0;
    // The window itself: the preview windows open beside it, and where they cannot, keep clear
    // of its controls (in screen coordinates).
    virtual QWidget* mainWindow() = 0;
    virtual QRect controlsOnScreen() = 0;
    virtual QProgressBar* progressBar() = 0;

    // "Open AVI" and the player's Play, Pause and Reset, which the jobs lock.
    virtual void setOpenAviEnabled(bool enabled) = 0;
    virtual void setPlayerButtons(bool play, bool pause, bool reset) = 0;
    // The media player's pause operation (it pauses a playing video and resumes a paused one).
    virtual void pauseOperation() = 0;
    // The Pause button's handler.
    virtual void pauseHandler() = 0;
    virtual void seekPlayer(int64_t frame) = 0;
    // The file-name label shows the video's name again.
    virtual void showFileName() = 0;

    // The picking view, in the video panel's place; showPickingView swaps it with the video panel.
    virtual TImageView* pickingView() = 0;
    virtual void showPickingView(bool show) = 0;
    // Empties the extracted-frame lists of "Get frames", as "Convert" on the other tab does.
    virtual void clearFrameLists() = 0;

    // The built GIF document, the picture "Save" writes, and its never-shown holder's size.
    virtual TGIFDocument& builtGif() = 0;
    virtual void sizeBuiltGifHolder(int width, int height) = 0;
    // The frame-number dialog, emptied and shown modally: true on OK, with the text typed.
    virtual bool askFrameNumber(QString& text) = 0;

    // Notes the folder of a file the user opened or saved: the next dialog of that kind starts
    // there, in this run and the next.
    virtual void rememberFolder(FolderKind kind, const QString& file) = 0;

    // One job at a time. While a job runs, every control that would start another job or replace
    // the video is off (the tabs stay visible): the window's own, the other tabs' and those of the
    // job's tab but its Abort. Closing the window meanwhile aborts the job; the window closes as
    // soon as the job has ended. Use JobScope rather than these two.
    virtual void beginJob(QWidget* tab, QWidget* abortButton) = 0;
    virtual void endJob() = 0;
    virtual bool jobRunning() const = 0;
    // The window is to close once the job has ended: the tab shows nothing more of it.
    virtual bool closePending() const = 0;
    // The window's line about the last job, where a job that did not give every frame says so;
    // empty clears it.
    virtual void showJobStatus(const QString& text) = 0;
};

// A job of the window from start to end, however it ends (done, aborted, failed).
class JobScope {
public:
    JobScope(TabHost& host, QWidget* tab, QWidget* abortButton) : m_host(host) {
        m_host.beginJob(tab, abortButton);
    }
    ~JobScope() { m_host.endJob(); }
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;

private:
    TabHost& m_host;
};

// What the window says of a job that stopped early: "Aborted: N of M frames" for an abort (kept of
// the frames asked for), the short run's own words (shortRunText) with a capital for a video that
// gave fewer frames; empty for a whole run.
QString jobEndText(const FrameRun& run, int kept, bool aborted = false);

// The observer a job run from the window uses: the progress bar, the message queue and an abort
// flag of the window.
class WindowJobObserver final : public JobObserver {
public:
    WindowJobObserver(QProgressBar* bar, const bool& abortFlag, const bool& closingFlag)
        : m_bar(bar), m_abort(abortFlag), m_closing(closingFlag) {}
    void setProgressRange(int minimum, int maximum) override;
    void setProgressPosition(int position) override;
    void pumpMessages() override;
    bool abortRequested() override { return m_abort; }
    bool closing() override { return m_closing; }

private:
    QProgressBar* m_bar;
    const bool& m_abort;
    const bool& m_closing;
};

// "Save" of the two GIF tabs: writes the built GIF document to the file the save dialog gives,
// replacing an existing file only with the user's consent. The bytes written are those
// encodeBuiltGif kept, so the size shown after "Convert" is the size of the file.
void saveBuiltGif(TabHost& host);

// Encodes the built GIF document of a job that has just finished into memory, keeps the bytes and
// the suggested file name for "Save", and gives the line that tells the user the exact size:
// "Size: W x H pixels, N frames, B bytes (x.x MB)".
QString encodeBuiltGif(TabHost& host, const QString& suggestedName);

// The bytes as a size a user reads: "B bytes (x.x MB)", a megabyte being 1,000,000 bytes.
QString fileSizeText(uint64_t bytes);

// A width and a height box kept in the video's proportions while lock is checked, for sizes the
// user types: the value typed into one box, once the typing is finished, sets the other box once,
// and the other box's change does not come back. (Values the program sets, and arrow steps, go
// through the tab's own change handlers.)
void keepTypedSizesInProportion(TabHost& host, SpinEdit* width, SpinEdit* height, QCheckBox* lock);

} // namespace kelvara
