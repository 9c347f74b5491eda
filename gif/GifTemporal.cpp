// The quality-scaled reduction of an animation: palettes kept while they fit, still pixels kept.
#include "gif/GifTemporal.h"

#include "gif/GifLossy.h"
#include "gif/GifPaletteSearch.h"
#include "gif/GifRefined.h"
#include "raster/Bitmap.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <type_traits>

namespace kelvara {

namespace {
// The mean a still pixel's source is compared with spans this many frames at most.
constexpr uint16_t MeanFrames = 8;
} // namespace

GifQualitySettings gifQualitySettings(int quality) {
    const int q = std::clamp(quality, 1, 100);
    const int loss = 100 - q; // 0 .. 99
    GifQualitySettings s;
    s.keepSlack16 = 16 + loss;
    s.motion16 = 32 + loss * 16 / 10;
    s.diffusedSixteenths = std::max(0, 4 - loss / 5);
    s.errorBound = 16;
    s.paletteSlackPercent = 10 + loss / 2;
    s.paletteSlackLevel = 1 + loss / 25;
    s.colours = 256 - loss * 2;
    s.exact = q == 100;
    s.lossy = 0;
    return s;
}

namespace {
// A Lloyd pass over the frame's own pixels: every entry moves to the mean of the pixels nearest
// to it. A palette made from bins of close colours comes to the colours themselves so.
void refineOverPixels(int width, int height, const uint8_t* const* rows, std::vector<GifRGB>& palette) {
    ColourLookup lookup(palette);
    std::vector<uint64_t> sums(palette.size() * 4, 0);
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = rows[y];
        for (int x = 0; x < width; ++x, p += 3) {
            uint64_t* s = sums.data() + size_t(lookup.find(p[2], p[1], p[0])) * 4;
            s[0] += p[2];
            s[1] += p[1];
            s[2] += p[0];
            ++s[3];
        }
    }
    for (size_t e = 0; e < palette.size(); ++e)
        if (const uint64_t n = sums[e * 4 + 3])
            palette[e] = {uint8_t((sums[e * 4] + n / 2) / n), uint8_t((sums[e * 4 + 1] + n / 2) / n),
                          uint8_t((sums[e * 4 + 2] + n / 2) / n)};
}
} // namespace

struct GifTemporalReducer::Analysis {
    FrameColours colours;
    std::vector<GifRGB> palette; // a palette of the frame's own
    uint64_t error = 0;          // its summed squared error over the frame
    bool exact = false;          // the frame's own colours, every one
};

GifTemporalReducer::GifTemporalReducer(int quality, int lossy) : m_settings(gifQualitySettings(quality)) {
    if (lossy >= 0)
        m_settings.lossy = lossy;
}

GifTemporalReducer::~GifTemporalReducer() = default;

void GifTemporalReducer::waitForTurn(uint64_t sequence) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_turn.wait(lock, [&] { return m_next == sequence; });
}

void GifTemporalReducer::endTurn(uint64_t sequence, bool reset) {
    if (reset) {
        m_palette.clear();
        m_lookup.reset();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_next = sequence + 1;
    }
    m_turn.notify_all();
}

void GifTemporalReducer::skip(uint64_t sequence) {
    waitForTurn(sequence);
    endTurn(sequence, true);
}

ReducedFrame GifTemporalReducer::reduce(uint64_t sequence, const Bitmap& frame) {
    std::vector<const uint8_t*> rows(size_t(std::max(frame.Height(), 0)));
    for (int y = 0; y < frame.Height(); ++y)
        rows[size_t(y)] = frame.ScanLine(y);
    return reduce(sequence, frame.Width(), frame.Height(), rows.data());
}

ReducedFrame GifTemporalReducer::reduce(uint64_t sequence, int width, int height,
                                        const uint8_t* const* rows) {
    Analysis analysis;
    try {
        // The frame's own palette, on the calling thread while other frames are reduced.
        analysis.colours = frameColours(width, height, rows);
        // One entry stays free unless the frame's own colours need it, so that a frame stored as
        // its change always has one for the pixels that stay as they were.
        analysis.exact = m_settings.exact && analysis.colours.exact && analysis.colours.points.size() <= 256;
        analysis.colours.exact = analysis.exact;
        analysis.palette = paletteFor(
            analysis.colours, analysis.exact ? 256 : std::min(255, m_settings.colours), &analysis.error);
        if (!analysis.colours.exact)
            refineOverPixels(width, height, rows, analysis.palette);
    } catch (...) {
        skip(sequence);
        throw;
    }
    waitForTurn(sequence);
    try {
        ReducedFrame reduced = reduceInTurn(width, height, rows, analysis);
        endTurn(sequence, false);
        return reduced;
    } catch (...) {
        endTurn(sequence, true);
        throw;
    }
}

ReducedFrame GifTemporalReducer::reduceInTurn(int width, int height, const uint8_t* const* rows,
                                              Analysis& analysis) {
    ReducedFrame out;
    out.width = width;
    out.height = height;
    if (width <= 0 || height <= 0 || analysis.palette.empty())
        return out;
    const size_t count = size_t(width) * size_t(height);
    const bool follows = m_width == width && m_height == height && !m_palette.empty();
    const uint64_t pixels = analysis.colours.pixels;

    // The palette: the one before while it still fits, else the frame's own, whose entries close
    // to one before take that one's colour so that what did not change can stay as it was.
    std::vector<GifRGB> previous = m_palette;
    bool keepPalette = false;
    if (follows) {
        const uint64_t error = paletteError(analysis.colours, m_palette);
        if (analysis.exact) {
            keepPalette = error == 0;
        } else {
            const uint64_t level = uint64_t(m_settings.paletteSlackLevel);
            keepPalette = error <= analysis.error +
                                       analysis.error * uint64_t(m_settings.paletteSlackPercent) / 100 +
                                       pixels * 3 * level * level;
        }
    }
    if (!keepPalette) {
        m_palette = analysis.palette;
        if (follows && !analysis.exact) {
            const NearestSearch search(previous);
            const int snap = std::max(1, m_settings.keepSlack16 / 16);
            std::array<bool, 256> taken{};
            for (GifRGB& entry : m_palette) {
                const int k = search.find(entry.red, entry.green, entry.blue);
                const GifRGB& old = previous[size_t(k)];
                if (!taken[size_t(k)] && std::abs(old.red - entry.red) <= snap &&
                    std::abs(old.green - entry.green) <= snap && std::abs(old.blue - entry.blue) <= snap) {
                    entry = old;
                    taken[size_t(k)] = true;
                }
            }
        }
        m_lookup = std::make_unique<ColourLookup>(m_palette);
    }

    // Where the entry a pixel showed before is in the palette now (-1 when it is gone).
    std::array<int, 256> carried;
    carried.fill(-1);
    if (follows) {
        if (keepPalette) {
            for (size_t k = 0; k < m_palette.size(); ++k)
                carried[k] = static_cast<int>(k);
        } else {
            std::vector<std::pair<uint32_t, int>> entries;
            for (size_t k = 0; k < m_palette.size(); ++k) {
                const GifRGB& c = m_palette[k];
                entries.emplace_back((uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | c.blue, int(k));
            }
            std::sort(entries.begin(), entries.end());
            for (size_t k = 0; k < previous.size(); ++k) {
                const GifRGB& c = previous[k];
                const uint32_t key = (uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | c.blue;
                const auto found = std::lower_bound(entries.begin(), entries.end(), std::make_pair(key, 0));
                if (found != entries.end() && found->first == key)
                    carried[k] = found->second;
            }
        }
    } else {
        m_width = width;
        m_height = height;
        m_indices.assign(count, 0);
        m_reference.assign(count, Reference{});
    }
    // A frame shown exactly keeps nothing: each pixel gets its own colour's entry.
    const bool exactFrame = analysis.exact;
    const bool diffuse = !exactFrame && m_settings.diffusedSixteenths > 0;
    const int bound = m_settings.errorBound, part = m_settings.diffusedSixteenths;
    const int64_t slack = int64_t(m_settings.keepSlack16) * m_settings.keepSlack16;
    const int motion = m_settings.motion16;

    out.colors = m_palette;
    out.indices.resize(count);
    // The pixels that keep what they showed, which the compression's approximate matches leave.
    std::vector<uint8_t> kept(count, 0);
    ColourLookup& lookup = *m_lookup;
    std::unique_ptr<NearestSearch> exactSearch;
    if (exactFrame)
        exactSearch = std::make_unique<NearestSearch>(m_palette);
    // Errors in sixteenths, red, green and blue, for this row and the next, with a pixel of margin
    // on each side.
    const size_t stride = size_t(width + 2) * 3;
    std::vector<int> current(stride, 0), next(stride, 0);
    auto row = [&](int y, auto direction) {
        constexpr int dir = decltype(direction)::value;
        const uint8_t* source = rows[y];
        uint8_t* indices = out.indices.data() + size_t(y) * size_t(width);
        uint8_t* before = m_indices.data() + size_t(y) * size_t(width);
        Reference* reference = m_reference.data() + size_t(y) * size_t(width);
        const int start = dir > 0 ? 0 : width - 1;
        for (int i = 0, x = start; i < width; ++i, x += dir) {
            const uint8_t* p = source + size_t(x) * 3;
            const int src[3] = {p[2], p[1], p[0]}; // red, green, blue
            int* here = current.data() + size_t(x + 1) * 3;
            int* below = next.data() + size_t(x + 1) * 3;
            int index = -1;
            int left[3];
            Reference& ref = reference[x];
            // A pixel keeps what it shows while its source stays near the mean of its source
            // colours since it was last reduced (no motion), and what it shows is about as close
            // to that mean as the nearest entry would be.
            const int candidate = follows && !exactFrame ? carried[before[x]] : -1;
            if (candidate >= 0 && std::abs(src[0] * 16 - ref.red) <= motion &&
                std::abs(src[1] * 16 - ref.green) <= motion && std::abs(src[2] * 16 - ref.blue) <= motion) {
                const int n = ref.frames + 1;
                const int mean[3] = {ref.red + (src[0] * 16 - ref.red) / n,
                                     ref.green + (src[1] * 16 - ref.green) / n,
                                     ref.blue + (src[2] * 16 - ref.blue) / n};
                // The mean is still within a level of the colour the entry was chosen for
                // (diffusion may have chosen another entry than the nearest for it), or what the
                // pixel shows is about as close to the mean as the nearest entry is.
                constexpr int keep = 16;
                if (std::abs(mean[0] - ref.chosenRed * 16) <= keep &&
                    std::abs(mean[1] - ref.chosenGreen * 16) <= keep &&
                    std::abs(mean[2] - ref.chosenBlue * 16) <= keep) {
                    index = candidate;
                } else {
                    const GifRGB& shown = m_palette[size_t(candidate)];
                    const GifRGB& nearest = m_palette[size_t(
                        lookup.find((mean[0] + 8) >> 4, (mean[1] + 8) >> 4, (mean[2] + 8) >> 4))];
                    const int64_t toShown = int64_t(squared(mean[0] - shown.red * 16)) +
                                            squared(mean[1] - shown.green * 16) +
                                            squared(mean[2] - shown.blue * 16);
                    const int64_t toNearest = int64_t(squared(mean[0] - nearest.red * 16)) +
                                              squared(mean[1] - nearest.green * 16) +
                                              squared(mean[2] - nearest.blue * 16);
                    if (toShown <= toNearest + slack)
                        index = candidate;
                }
            }
            if (index >= 0) {
                kept[size_t(y) * size_t(width) + size_t(x)] = 1;
                if (ref.frames < MeanFrames)
                    ++ref.frames;
                ref.red = uint16_t(ref.red + (src[0] * 16 - ref.red) / ref.frames);
                ref.green = uint16_t(ref.green + (src[1] * 16 - ref.green) / ref.frames);
                ref.blue = uint16_t(ref.blue + (src[2] * 16 - ref.blue) / ref.frames);
                // Still: the pixel shows what it showed; its own error goes on, not what came in.
                const GifRGB& got = m_palette[size_t(index)];
                left[0] = src[0] - got.red;
                left[1] = src[1] - got.green;
                left[2] = src[2] - got.blue;
            } else {
                int want[3];
                if (diffuse) {
                    for (int c = 0; c < 3; ++c)
                        want[c] = clampByte(src[c] + std::clamp((here[c] + 8) >> 4, -bound, bound));
                    index = lookup.find(want[0], want[1], want[2]);
                } else {
                    want[0] = src[0], want[1] = src[1], want[2] = src[2];
                    index = exactSearch ? exactSearch->find(want[0], want[1], want[2])
                                        : lookup.find(want[0], want[1], want[2]);
                }
                const GifRGB& got = m_palette[size_t(index)];
                left[0] = want[0] - got.red;
                left[1] = want[1] - got.green;
                left[2] = want[2] - got.blue;
                ref = Reference{uint16_t(src[0] * 16), uint16_t(src[1] * 16), uint16_t(src[2] * 16), 1,
                                uint8_t(src[0]),       uint8_t(src[1]),       uint8_t(src[2])};
            }
            indices[x] = static_cast<uint8_t>(index);
            if (diffuse)
                for (int c = 0; c < 3; ++c) {
                    // Floyd–Steinberg's 7, 3, 5 and 1 sixteenths of the part of the error passed on.
                    const int e = left[c] * part / 16;
                    here[c + dir * 3] += 7 * e;
                    below[c - dir * 3] += 3 * e;
                    below[c] += 5 * e;
                    below[c + dir * 3] += e;
                }
        }
    };
    for (int y = 0; y < height; ++y) {
        std::fill(next.begin(), next.end(), 0);
        if ((y & 1) == 0)
            row(y, std::integral_constant<int, 1>{});
        else
            row(y, std::integral_constant<int, -1>{});
        std::swap(current, next);
    }
    lossyIndices(out.indices, m_palette, m_settings.lossy, &kept);
    std::copy(out.indices.begin(), out.indices.end(), m_indices.begin());
    return out;
}

} // namespace kelvara
