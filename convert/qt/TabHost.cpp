// The job observer of the window and the shared "Save" of the two GIF tabs.
#include "convert/qt/TabHost.h"

#include "convert/AviToGif.h"
#include "gif/GifDocument.h"
#include "raster/Error.h"
#include "raster/Stream.h"
#include "widgets/Controls.h"
#include "widgets/SlotGuard.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QSignalBlocker>

#include <algorithm>

namespace kelvara {

void WindowJobObserver::setProgressRange(int minimum, int maximum) {
    // A range of no width would draw the busy animation: an empty job's bar stays empty.
    m_bar->setRange(minimum, std::max(maximum, minimum + 1));
}

void WindowJobObserver::setProgressPosition(int position) {
    m_bar->setValue(std::clamp(position, m_bar->minimum(), m_bar->maximum()));
}

void WindowJobObserver::pumpMessages() {
    QCoreApplication::processEvents();
}

namespace {

// The whole GIF file, never held twice while it is made.
std::vector<uint8_t> encodedGif(const TGIFDocument& built) {
    BlockBufferStream bytes;
    built.SaveToStream(bytes);
    return bytes.take();
}

} // namespace

void saveBuiltGif(TabHost& host) {
    TGIFDocument& built = host.builtGif();
    if (built.Empty())
        throw Error("There is no GIF to save.");
    Dialogs& dialogs = host.dialogs();
    SharedState& state = host.state();
    QString path = dialogs.chooseSaveFile ? dialogs.chooseSaveFile(state.builtGifName) : QString();
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path) && !(dialogs.confirmReplace && dialogs.confirmReplace(path)))
        return;
    if (state.builtGifFile.empty())
        state.builtGifFile = encodedGif(built);
    writeFileAtomically(path.toStdString(), state.builtGifFile.data(), state.builtGifFile.size());
    host.rememberFolder(FolderKind::SavedGifs, path);
}

QString jobEndText(const FrameRun& run, int kept, bool aborted) {
    if (aborted || run.end == FrameRunEnd::Aborted)
        return "Aborted: " + QString::number(kept) + " of " + QString::number(run.asked) + " frames";
    QString text = QString::fromStdString(shortRunText(run));
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

QString fileSizeText(uint64_t bytes) {
    return QString::number(bytes) + " bytes (" + QString::number(double(bytes) / 1e6, 'f', 1) + " MB)";
}

QString encodeBuiltGif(TabHost& host, const QString& suggestedName) {
    SharedState& state = host.state();
    const TGIFDocument& built = host.builtGif();
    state.builtGifFile = encodedGif(built);
    state.builtGifName = suggestedName;
    return "Size: " + QString::number(built.Width()) + " x " + QString::number(built.Height()) + " pixels, " +
           QString::number(built.FrameCount()) + " frames, " + fileSizeText(state.builtGifFile.size());
}

void keepTypedSizesInProportion(TabHost& host, SpinEdit* width, SpinEdit* height, QCheckBox* lock) {
    const auto follow = [&host, lock](SpinEdit* typed, SpinEdit* other, bool typedIsWidth) {
        QObject::connect(typed, &SpinEdit::valueTyped, other,
                         guarded([&host, lock, typed, other, typedIsWidth] {
                             if (!lock->isChecked())
                                 return;
                             const QRect& video = host.state().videoRect;
                             const int from = typedIsWidth ? video.width() : video.height();
                             const int to = typedIsWidth ? video.height() : video.width();
                             const QSignalBlocker once(other);
                             other->setValue(aspectSide(typed->value(), from, to));
                         }));
    };
    follow(width, height, true);
    follow(height, width, false);
}

} // namespace kelvara
