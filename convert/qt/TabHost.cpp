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
    m_bar->setMinimum(minimum);
    m_bar->setMaximum(maximum);
}

void WindowJobObserver::setProgressPosition(int position) {
    m_bar->setValue(std::clamp(position, m_bar->minimum(), m_bar->maximum()));
}

void WindowJobObserver::pumpMessages() {
    QCoreApplication::processEvents();
}

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
    if (state.builtGifFile.empty()) {
        MemoryStream bytes;
        built.SaveToStream(bytes);
        state.builtGifFile = std::move(bytes.bytes());
    }
    writeFileAtomically(path.toStdString(), state.builtGifFile.data(), state.builtGifFile.size());
    host.rememberFolder(FolderKind::SavedGifs, path);
}

QString fileSizeText(uint64_t bytes) {
    return QString::number(bytes) + " bytes (" + QString::number(double(bytes) / 1e6, 'f', 1) + " MB)";
}

QString encodeBuiltGif(TabHost& host, const QString& suggestedName) {
    SharedState& state = host.state();
    const TGIFDocument& built = host.builtGif();
    MemoryStream bytes;
    built.SaveToStream(bytes);
    state.builtGifFile = std::move(bytes.bytes());
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
