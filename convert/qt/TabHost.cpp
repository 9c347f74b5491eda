// The job observer of the window and the shared "Save" of the two GIF tabs.
#include "convert/qt/TabHost.h"

#include "gif/GifDocument.h"
#include "raster/Error.h"
#include "raster/Stream.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProgressBar>

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
    QString path = dialogs.chooseSaveFile ? dialogs.chooseSaveFile() : QString();
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path) && !(dialogs.confirmReplace && dialogs.confirmReplace(path)))
        return;
    MemoryStream bytes;
    built.SaveToStream(bytes);
    writeFileAtomically(path.toStdString(), bytes.bytes().data(), bytes.bytes().size());
}

} // namespace kelvara
