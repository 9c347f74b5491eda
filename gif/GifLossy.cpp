// Lossy compression of GIF frames: approximate matches along the compressor's parse.
#include "gif/GifLossy.h"

#include "gif/GifDocument.h"
#include "raster/Lzw.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace kelvara {

void lossyIndices(std::vector<uint8_t>& indices, const std::vector<GifRGB>& table, int tolerance,
                  const std::vector<uint8_t>* fixed) {
    const int count = static_cast<int>(std::min<size_t>(table.size(), 256));
    if (tolerance <= 0 || indices.size() < 2 || count < 2)
        return;
    // For each entry, the other entries within the tolerance, nearest first.
    std::array<std::vector<uint8_t>, 256> near;
    for (int a = 0; a < count; ++a) {
        std::vector<std::pair<int, int>> found;
        for (int b = 0; b < count; ++b) {
            const int dr = std::abs(table[size_t(a)].red - table[size_t(b)].red);
            const int dg = std::abs(table[size_t(a)].green - table[size_t(b)].green);
            const int db = std::abs(table[size_t(a)].blue - table[size_t(b)].blue);
            if (b != a && dr <= tolerance && dg <= tolerance && db <= tolerance)
                found.emplace_back(dr * dr + dg * dg + db * db, b);
        }
        std::sort(found.begin(), found.end());
        for (const auto& [distance, b] : found)
            near[size_t(a)].push_back(static_cast<uint8_t>(b));
    }
    const int clearCode = 1 << std::max(2, TGIFColorMap::bitsFor(count));
    LzwStringTable strings(LzwStringTable::Chains::Unbounded, LzwStringTable::SimulationSizeBits);
    const auto find = [&](int prefix, int pixel) { return strings.find(prefix, pixel); };
    int next = clearCode + 2;
    int prefix = indices[0];
    for (size_t k = 1; k < indices.size(); ++k) {
        const int own = indices[k];
        int code = find(prefix, own);
        if (code < 0 && own < count && !(fixed && (*fixed)[k])) {
            for (const uint8_t other : near[size_t(own)])
                if ((code = find(prefix, other)) >= 0) {
                    indices[k] = other;
                    break;
                }
        }
        if (code >= 0) {
            prefix = code;
            continue;
        }
        if (next >= 4095) {
            strings.clear();
            next = clearCode + 2;
        } else {
            strings.insert(prefix, own, next);
            ++next;
        }
        prefix = own;
    }
}

} // namespace kelvara
