// Transparent pixels of frames with an alpha channel.
#include "gif/GifTransparency.h"

#include "raster/Bitmap.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace kelvara {

bool hasTransparentPixels(const Bitmap& frame) {
    const uint8_t* alpha = frame.alphaPlane();
    if (!alpha)
        return false;
    const size_t count = size_t(frame.Width()) * size_t(frame.Height());
    return std::any_of(alpha, alpha + count, [](uint8_t a) { return a < GifAlphaThreshold; });
}

std::unique_ptr<Bitmap> fillTransparentPixels(const Bitmap& frame) {
    auto filled = std::make_unique<Bitmap>();
    filled->Assign(frame);
    filled->SetPixelFormat(PixelFormat::Bits24);
    const uint8_t* alpha = frame.alphaPlane();
    const int width = filled->Width(), height = filled->Height();
    if (!alpha || width <= 0 || height <= 0)
        return filled;
    // Along each row from the nearest opaque pixel; rows without one are marked.
    std::vector<bool> filledRow(static_cast<size_t>(height), false);
    for (int y = 0; y < height; ++y) {
        const uint8_t* a = alpha + size_t(y) * size_t(width);
        int first = 0;
        while (first < width && a[first] < GifAlphaThreshold)
            ++first;
        if (first == width)
            continue;
        filledRow[size_t(y)] = true;
        uint8_t* row = filled->ScanLine(y);
        for (int x = 0; x < first; ++x)
            std::memcpy(row + 3 * x, row + 3 * first, 3);
        int last = first;
        for (int x = first + 1; x < width; ++x) {
            if (a[x] >= GifAlphaThreshold)
                last = x;
            else
                std::memcpy(row + 3 * x, row + 3 * last, 3);
        }
    }
    // Rows without an opaque pixel take the nearest row above that has one, else the nearest below.
    int source = -1;
    for (int y = 0; y < height; ++y) {
        if (filledRow[size_t(y)]) {
            source = y;
            continue;
        }
        int from = source;
        if (from < 0) {
            for (int below = y + 1; below < height && from < 0; ++below)
                if (filledRow[size_t(below)])
                    from = below;
        }
        if (from >= 0)
            std::memcpy(filled->ScanLine(y), filled->ScanLine(from), size_t(width) * 3);
    }
    return filled;
}

void reserveTransparentEntry(ReducedFrame& frame, const uint8_t* alpha) {
    std::vector<GifRGB>& colors = frame.colors;
    std::vector<uint8_t>& indices = frame.indices;
    if (!alpha || colors.empty() || indices.empty())
        return;
    std::array<uint64_t, 256> uses{};
    for (size_t k = 0; k < indices.size(); ++k)
        if (alpha[k] >= GifAlphaThreshold)
            ++uses[indices[k]];
    int entry = -1;
    for (int i = static_cast<int>(colors.size()) - 1; i >= 0 && entry < 0; --i)
        if (uses[size_t(i)] == 0)
            entry = i;
    if (entry < 0 && colors.size() < 256) {
        entry = static_cast<int>(colors.size());
        colors.push_back({});
    }
    if (entry < 0) {
        // Every entry is shown: the least used one gives its pixels to the entry nearest it.
        entry = static_cast<int>(std::min_element(uses.begin(), uses.end()) - uses.begin());
        const GifRGB& c = colors[size_t(entry)];
        int nearest = -1;
        long best = std::numeric_limits<long>::max();
        for (int i = 0; i < static_cast<int>(colors.size()); ++i) {
            if (i == entry)
                continue;
            const long dr = colors[size_t(i)].red - c.red, dg = colors[size_t(i)].green - c.green,
                       db = colors[size_t(i)].blue - c.blue;
            const long d = dr * dr + dg * dg + db * db;
            if (d < best) {
                best = d;
                nearest = i;
            }
        }
        for (uint8_t& index : indices)
            if (index == entry)
                index = static_cast<uint8_t>(nearest);
    }
    for (size_t k = 0; k < indices.size(); ++k)
        if (alpha[k] < GifAlphaThreshold)
            indices[k] = static_cast<uint8_t>(entry);
    frame.transparentIndex = entry;
}

} // namespace kelvara
