// Palette searches of the refined reductions: the exact nearest entry by squared distance, and a
// cache of it for cells of 4 x 4 x 4 colours.
#pragma once

#include "gif/GifDither.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <numeric>
#include <vector>

namespace kelvara {

inline int squared(int v) {
    return v * v;
}

// Exact nearest entry by squared distance; among entries at the same distance the lowest index
// wins, however the search runs. Without a hint every entry is measured, sixteen at a time where
// the processor has AVX2; with a hint (an entry likely to be near) the entries sorted by green
// are searched outwards from the colour's green until the green difference alone is larger than
// the best distance.
class NearestSearch {
public:
    explicit NearestSearch(const std::vector<GifRGB>& palette);

    int find(int red, int green, int blue, int hint = -1) const {
        if (hint < 0 || hint >= m_count)
            return findAll(red, green, blue);
        int hi = static_cast<int>(std::lower_bound(m_green, m_green + m_count, green) - m_green);
        int lo = hi - 1;
        int bestAt = m_position[hint];
        int best =
            squared(m_green[bestAt] - green) + squared(m_red[bestAt] - red) + squared(m_blue[bestAt] - blue);
        auto consider = [&](int k) {
            const int d = squared(m_green[k] - green) + squared(m_red[k] - red) + squared(m_blue[k] - blue);
            if (d < best || (d == best && m_index[k] < m_index[bestAt])) {
                best = d;
                bestAt = k;
            }
        };
        while (hi < m_count || lo >= 0) {
            if (hi < m_count) {
                if (squared(m_green[hi] - green) > best)
                    hi = m_count;
                else
                    consider(hi++);
            }
            if (lo >= 0) {
                if (squared(m_green[lo] - green) > best)
                    lo = -1;
                else
                    consider(lo--);
            }
        }
        return m_index[bestAt];
    }

private:
    int findAll(int red, int green, int blue) const;

    int m_count;
    // Sorted by green, for the hinted search.
    int m_red[256];
    int m_green[256];
    int m_blue[256];
    uint8_t m_index[256];
    int m_position[256] = {};
    // In palette order, padded with far entries to a multiple of sixteen: red and green of each
    // entry side by side, then blue beside a zero, as the multiply-add pairs them.
    alignas(32) int16_t m_redGreen[512];
    alignas(32) int16_t m_blueZero[512];
};

// The nearest entry for each cell of 4 x 4 x 4 colours, found for the cell's centre when the
// cell is first met. A colour may get an entry that is not quite its nearest (at most 1.5 steps
// per channel off); the diffusion carries that difference on like any other.
class CellLookup {
public:
    // Keeps its cells in storage of the calling thread's, used by one lookup at a time: frames
    // are reduced one after another on each thread.
    explicit CellLookup(const std::vector<GifRGB>& palette) : m_search(palette) {
        // A byte per cell and a bit saying it is known keep the table small enough to stay in
        // the processor's cache.
        thread_local std::vector<uint8_t> cells(CellCount);
        thread_local std::vector<uint64_t> known(CellCount / 64);
        std::fill(known.begin(), known.end(), 0);
        m_cells = cells.data();
        m_known = known.data();
    }
    // Keeps its cells in storage of its own, which lives as long as the lookup does.
    CellLookup(const std::vector<GifRGB>& palette, std::vector<uint8_t>& cells, std::vector<uint64_t>& known)
        : m_search(palette) {
        cells.resize(CellCount);
        known.assign(CellCount / 64, 0);
        m_cells = cells.data();
        m_known = known.data();
    }

    int find(int red, int green, int blue) {
        const int cell = ((red >> 2) << 12) | ((green >> 2) << 6) | (blue >> 2);
        uint64_t& word = m_known[cell >> 6];
        const uint64_t bit = uint64_t(1) << (cell & 63);
        if (!(word & bit)) {
            m_cells[cell] =
                static_cast<uint8_t>(m_search.find((red & ~3) | 1, (green & ~3) | 1, (blue & ~3) | 1));
            word |= bit;
        }
        return m_cells[cell];
    }

private:
    static constexpr size_t CellCount = size_t(1) << 18;
    NearestSearch m_search;
    uint8_t* m_cells;
    uint64_t* m_known;
};

// The exact nearest entry of every colour, kept in a direct-mapped cache of recent colours so
// that a colour met again costs one load.
class ColourLookup {
public:
    explicit ColourLookup(const std::vector<GifRGB>& palette) : m_search(palette), m_slots(SlotCount, 0) {}

    int find(int red, int green, int blue) {
        const uint32_t colour = (uint32_t(red) << 16) | (uint32_t(green) << 8) | uint32_t(blue);
        uint64_t& slot = m_slots[(colour * 2654435761u) >> (32 - SlotBits)];
        // A slot holds the colour with a bit that says it is filled, above its entry.
        const uint64_t key = uint64_t(colour | 0x1000000u) << 8;
        if ((slot & ~uint64_t(0xFF)) != key) {
            slot = key | uint64_t(m_search.find(red, green, blue));
        }
        return static_cast<int>(slot & 0xFF);
    }

private:
    static constexpr int SlotBits = 16;
    static constexpr size_t SlotCount = size_t(1) << SlotBits;
    NearestSearch m_search;
    std::vector<uint64_t> m_slots;
};

} // namespace kelvara
