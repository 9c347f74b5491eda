// The string table of a GIF LZW run simulated to choose pixels (the optimiser's and the lossy
// choice): the code of each (prefix, pixel) string, emptied in constant time by a stamp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvara {

class LzwStrings {
public:
    // The table of this thread, empty: its 4 MB are made once and kept from run to run.
    static LzwStrings& forThisThread() {
        thread_local LzwStrings table;
        table.clear();
        return table;
    }

    // Empties the table (a clear code).
    void clear() {
        // A slot keeps its stamp in 20 bits: the slots are wiped before the stamp runs out.
        if (m_slots.empty() || m_stamp >= 0xFFFFFu) {
            m_slots.assign(size_t(4096) * 256, 0);
            m_stamp = 0;
        }
        ++m_stamp;
    }
    // The code of the string (prefix, pixel), or -1.
    int find(int prefix, int pixel) const {
        const uint32_t slot = m_slots[size_t(prefix) * 256 + size_t(pixel)];
        return (slot >> 12) == m_stamp ? int(slot & 0xFFF) : -1;
    }
    void insert(int prefix, int pixel, int code) {
        m_slots[size_t(prefix) * 256 + size_t(pixel)] = (m_stamp << 12) | uint32_t(code);
    }

private:
    std::vector<uint32_t> m_slots;
    uint32_t m_stamp = 0;
};

} // namespace kelvara
