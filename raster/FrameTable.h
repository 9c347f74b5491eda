// A frame table: a fixed number of 24-bit bitmaps, numbered from 1, reused across runs.
#pragma once

#include "raster/Bitmap.h"

#include <memory>
#include <vector>

namespace kelvara {

class FrameTable {
public:
    explicit FrameTable(int entries);

    int size() const { return static_cast<int>(m_entries.size()); }
    // Entry 1..size().
    Bitmap& entry(int number);
    // Gives the memory back: every entry becomes 1 x 1 (height first).
    void clear();

private:
    std::vector<std::unique_ptr<Bitmap>> m_entries;
};

// Entries of the three tables the main window owns.
inline constexpr int ExtractionFrameTableSize = 260;
inline constexpr int GifFrameTableSize = 260;
inline constexpr int TransitionFrameTableSize = 55;

} // namespace kelvara
