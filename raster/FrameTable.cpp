// A frame table of 24-bit bitmaps, numbered from 1.
#include "raster/FrameTable.h"

#include "raster/Error.h"

#include <string>

namespace kelvara {

FrameTable::FrameTable(int entries) {
    m_entries.reserve(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i) {
        auto bitmap = std::make_unique<Bitmap>();
        bitmap->SetPixelFormat(PixelFormat::Bits24);
        m_entries.push_back(std::move(bitmap));
    }
}

Bitmap& FrameTable::entry(int number) {
    if (number < 1 || number > size())
        throw Error("Frame table entry " + std::to_string(number) + " out of range");
    return *m_entries[static_cast<size_t>(number - 1)];
}

void FrameTable::clear() {
    for (auto& bitmap : m_entries) {
        bitmap->SetHeight(1);
        bitmap->SetWidth(1);
    }
}

} // namespace kelvara
