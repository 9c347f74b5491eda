// The refined colour reduction: a median-cut seed, Lloyd passes over a histogram, bounded
// serpentine error diffusion.
#include "gif/GifRefined.h"

#include "gif/GifPaletteSearch.h"

#include <algorithm>
#include <climits>
#include <numeric>
#include <type_traits>

namespace kelvara {

namespace {

// A frame of many colours is counted in bins of 5 bits per channel: fine enough for the
// assignments of the Lloyd passes, while the sums keep every pixel's exact colour for the means.
constexpr int BinBits = 5;
constexpr int BinCount = 1 << (3 * BinBits);
constexpr int LloydPasses = 2;
// The largest error, per channel, that diffusion carries into a pixel, and the part of a pixel's
// error that is passed on (in sixteenths). Passing on all of it adds more noise than it takes
// away once the palette fits the frame this closely.
constexpr int ErrorBound = 16;
constexpr int DiffusedSixteenths = 10;

struct Bin {
    uint32_t count = 0;
    uint64_t red = 0, green = 0, blue = 0;
};

int binOf(int red, int green, int blue) {
    constexpr int Shift = 8 - BinBits;
    return ((red >> Shift) << (2 * BinBits)) | ((green >> Shift) << BinBits) | (blue >> Shift);
}

// A set of colours is split along one channel at the weighted median of that channel.
int channelOf(const ColourPoint& p, int axis) {
    return axis == 0 ? p.red : axis == 1 ? p.green : p.blue;
}

// The seed: median cut over the weighted points. The box whose colours are spread the most
// (count times variance, summed over the channels) is split at the weighted median of its
// widest channel, until there are as many boxes as colours wanted; each gives its mean. The
// median is found by counting the 256 values of the channel, so a split costs one pass over the
// box.
std::vector<GifRGB> medianCut(std::vector<ColourPoint>& points, size_t wanted) {
    struct Box {
        size_t begin, end;
        double spread;
        int axis;
    };
    auto measure = [&](size_t begin, size_t end) {
        double n = 0, sum[3] = {}, sumSq[3] = {};
        int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
        for (size_t i = begin; i < end; ++i) {
            const ColourPoint& p = points[i];
            n += p.count;
            for (int a = 0; a < 3; ++a) {
                const int v = channelOf(p, a);
                sum[a] += double(v) * p.count;
                sumSq[a] += double(v) * v * p.count;
                low[a] = std::min(low[a], v);
                high[a] = std::max(high[a], v);
            }
        }
        Box box{begin, end, 0, 0};
        double widest = -1;
        for (int a = 0; a < 3; ++a) {
            const double spread = sumSq[a] - sum[a] * sum[a] / n;
            box.spread += spread;
            // Only a channel with two values or more can be split.
            if (high[a] > low[a] && spread > widest) {
                widest = spread;
                box.axis = a;
            }
        }
        if (end - begin < 2 || widest < 0)
            box.spread = -1;
        return box;
    };
    std::vector<Box> boxes{measure(0, points.size())};
    while (boxes.size() < wanted) {
        size_t pick = 0;
        for (size_t k = 1; k < boxes.size(); ++k)
            if (boxes[k].spread > boxes[pick].spread)
                pick = k;
        const Box box = boxes[pick];
        if (box.spread <= 0)
            break;
        uint64_t counts[256] = {}, total = 0;
        int low = 255, high = 0;
        for (size_t i = box.begin; i < box.end; ++i) {
            const int v = channelOf(points[i], box.axis);
            counts[v] += points[i].count;
            total += points[i].count;
            low = std::min(low, v);
            high = std::max(high, v);
        }
        // The lower box takes the values up to the weighted median, but never all of them.
        uint64_t run = 0;
        int median = low;
        for (int v = low; v < high; ++v) {
            run += counts[v];
            median = v;
            if (2 * run >= total)
                break;
        }
        const auto first = points.begin() + static_cast<std::ptrdiff_t>(box.begin);
        const auto last = points.begin() + static_cast<std::ptrdiff_t>(box.end);
        const auto middle = std::stable_partition(
            first, last, [&](const ColourPoint& p) { return channelOf(p, box.axis) <= median; });
        const size_t split = box.begin + static_cast<size_t>(middle - first);
        boxes[pick] = measure(box.begin, split);
        boxes.push_back(measure(split, box.end));
    }
    std::vector<GifRGB> palette;
    for (const Box& box : boxes) {
        uint64_t n = 0, red = 0, green = 0, blue = 0;
        for (size_t i = box.begin; i < box.end; ++i) {
            n += points[i].count;
            red += points[i].redSum;
            green += points[i].greenSum;
            blue += points[i].blueSum;
        }
        palette.push_back(
            {uint8_t((red + n / 2) / n), uint8_t((green + n / 2) / n), uint8_t((blue + n / 2) / n)});
    }
    return palette;
}

// The exact colours of a frame and how often each occurs, in a table of open addressing that is
// kept per thread; false when the frame has more than limit colours.
bool exactColours(int width, int height, const uint8_t* const* rows, size_t limit,
                  std::vector<ColourPoint>& points) {
    constexpr size_t Slots = size_t(1) << 17;          // twice the largest limit
    thread_local std::vector<uint32_t> keys(Slots, 0); // colour + 1; 0 is a free slot
    thread_local std::vector<uint32_t> counts(Slots, 0);
    std::vector<uint32_t> usedSlots;
    bool fits = true;
    uint32_t lastColour = 0xFFFFFFFF;
    size_t lastSlot = 0;
    for (int y = 0; y < height && fits; ++y) {
        const uint8_t* p = rows[y];
        for (int x = 0; x < width; ++x, p += 3) {
            const uint32_t colour = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[0]);
            if (colour == lastColour) {
                ++counts[lastSlot];
                continue;
            }
            size_t slot = (colour * 2654435761u) >> 15 & (Slots - 1);
            while (keys[slot] != 0 && keys[slot] != colour + 1)
                slot = (slot + 1) & (Slots - 1);
            if (keys[slot] == 0) {
                if (usedSlots.size() == limit) {
                    fits = false;
                    break;
                }
                keys[slot] = colour + 1;
                usedSlots.push_back(static_cast<uint32_t>(slot));
            }
            ++counts[slot];
            lastColour = colour;
            lastSlot = slot;
        }
    }
    if (fits) {
        points.reserve(usedSlots.size());
        for (const uint32_t slot : usedSlots) {
            const uint32_t colour = keys[slot] - 1;
            const int red = int(colour >> 16), green = int((colour >> 8) & 0xFF), blue = int(colour & 0xFF);
            const uint32_t n = counts[slot];
            points.push_back(
                {red, green, blue, n, uint64_t(red) * n, uint64_t(green) * n, uint64_t(blue) * n});
        }
    }
    for (const uint32_t slot : usedSlots) {
        keys[slot] = 0;
        counts[slot] = 0;
    }
    return fits;
}

} // namespace

FrameColours frameColours(int width, int height, const uint8_t* const* rows) {
    FrameColours colours;
    if (width <= 0 || height <= 0)
        return colours;
    colours.pixels = uint64_t(width) * uint64_t(height);
    if (exactColours(width, height, rows, ExactColourLimit, colours.points)) {
        colours.exact = true;
        return colours;
    }
    // Too many colours to keep each: the 5-bit bins, each at the mean of its colours.
    thread_local std::vector<Bin> bins(BinCount);
    std::vector<int> used;
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = rows[y];
        for (int x = 0; x < width; ++x, p += 3) {
            const int b = p[0], g = p[1], r = p[2];
            Bin& bin = bins[size_t(binOf(r, g, b))];
            if (bin.count == 0)
                used.push_back(binOf(r, g, b));
            ++bin.count;
            bin.red += uint64_t(r);
            bin.green += uint64_t(g);
            bin.blue += uint64_t(b);
        }
    }
    colours.points.reserve(used.size());
    for (const int at : used) {
        Bin& bin = bins[size_t(at)];
        const uint64_t half = bin.count / 2;
        colours.points.push_back({int((bin.red + half) / bin.count), int((bin.green + half) / bin.count),
                                  int((bin.blue + half) / bin.count), bin.count, bin.red, bin.green,
                                  bin.blue});
        bin = Bin{};
    }
    return colours;
}

uint64_t paletteError(const FrameColours& colours, const std::vector<GifRGB>& palette) {
    if (palette.empty())
        return UINT64_MAX;
    const NearestSearch search(palette);
    uint64_t error = 0;
    int hint = -1;
    for (const ColourPoint& p : colours.points) {
        hint = search.find(p.red, p.green, p.blue, hint);
        const GifRGB& e = palette[size_t(hint)];
        error += uint64_t(p.count) *
                 uint64_t(squared(p.red - e.red) + squared(p.green - e.green) + squared(p.blue - e.blue));
    }
    return error;
}

std::vector<GifRGB> paletteFor(FrameColours& colours, size_t maxColours, uint64_t* error) {
    std::vector<ColourPoint>& points = colours.points;
    maxColours = std::clamp<size_t>(maxColours, 1, 256);
    if (error)
        *error = 0;
    std::vector<GifRGB> palette;
    if (points.empty())
        return palette;
    if (colours.exact && points.size() <= maxColours) {
        // Few colours: each is kept as it is, in order of first appearance.
        for (const ColourPoint& p : points)
            palette.push_back({uint8_t(p.red), uint8_t(p.green), uint8_t(p.blue)});
        return palette;
    }

    palette = medianCut(points, maxColours);
    const size_t wanted = std::min(maxColours, points.size());
    std::vector<int> owner(points.size(), -1);
    for (int pass = 0; pass < LloydPasses; ++pass) {
        // Entries the last pass left without pixels, and missing ones, move to the points that
        // cost most where they are.
        if (palette.size() < wanted || pass > 0) {
            std::vector<uint64_t> cost(points.size());
            std::vector<uint32_t> members(palette.size(), 0);
            for (size_t i = 0; i < points.size(); ++i)
                if (owner[i] >= 0)
                    ++members[size_t(owner[i])];
            std::vector<size_t> empty;
            for (size_t e = 0; e < palette.size(); ++e)
                if (pass > 0 && members[e] == 0)
                    empty.push_back(e);
            const size_t missing = wanted > palette.size() ? wanted - palette.size() : 0;
            if (!empty.empty() || missing) {
                for (size_t i = 0; i < points.size(); ++i) {
                    const ColourPoint& p = points[i];
                    if (owner[i] < 0) {
                        cost[i] = UINT64_MAX;
                        continue;
                    }
                    const GifRGB& e = palette[size_t(owner[i])];
                    cost[i] =
                        uint64_t(p.count) * uint64_t(squared(p.red - e.red) + squared(p.green - e.green) +
                                                     squared(p.blue - e.blue));
                }
                std::vector<size_t> worst(points.size());
                std::iota(worst.begin(), worst.end(), size_t(0));
                const size_t take = std::min(worst.size(), empty.size() + missing);
                std::partial_sort(
                    worst.begin(), worst.begin() + static_cast<std::ptrdiff_t>(take), worst.end(),
                    [&](size_t a, size_t b) { return cost[a] != cost[b] ? cost[a] > cost[b] : a < b; });
                for (size_t k = 0; k < take; ++k) {
                    const ColourPoint& p = points[worst[k]];
                    const GifRGB colour{uint8_t(p.red), uint8_t(p.green), uint8_t(p.blue)};
                    if (k < empty.size())
                        palette[empty[k]] = colour;
                    else
                        palette.push_back(colour);
                }
            }
        }
        // Assignment, then every entry moves to the mean of the pixels it stands for.
        const NearestSearch search(palette);
        std::vector<uint64_t> red(palette.size()), green(palette.size()), blue(palette.size()),
            count(palette.size());
        bool moved = false;
        for (size_t i = 0; i < points.size(); ++i) {
            const ColourPoint& p = points[i];
            const int e = search.find(p.red, p.green, p.blue, owner[i]);
            moved = moved || e != owner[i];
            owner[i] = e;
            red[size_t(e)] += p.redSum;
            green[size_t(e)] += p.greenSum;
            blue[size_t(e)] += p.blueSum;
            count[size_t(e)] += p.count;
        }
        for (size_t e = 0; e < palette.size(); ++e)
            if (const uint64_t n = count[e]) {
                palette[e] = {uint8_t((red[e] + n / 2) / n), uint8_t((green[e] + n / 2) / n),
                              uint8_t((blue[e] + n / 2) / n)};
            }
        if (!moved && palette.size() >= wanted)
            break;
    }
    if (error)
        *error = paletteError(colours, palette);
    return palette;
}

std::vector<GifRGB> refinedPalette(int width, int height, const uint8_t* const* rows, bool* exact) {
    FrameColours colours = frameColours(width, height, rows);
    std::vector<GifRGB> palette = paletteFor(colours, 256);
    if (exact)
        *exact = colours.exact && colours.points.size() <= 256;
    return palette;
}

void ditherRefined(int width, int height, const uint8_t* const* rows, const std::vector<GifRGB>& palette,
                   GifDitherKind ditherKind, uint8_t* indices) {
    if (width <= 0 || height <= 0 || palette.empty())
        return;
    if (ditherKind == GifDitherKind::Nearest) {
        // Exact: each pixel's own nearest entry, the search starting from the pixel before's.
        const NearestSearch search(palette);
        for (int y = 0; y < height; ++y) {
            const uint8_t* p = rows[y];
            uint8_t* out = indices + size_t(y) * size_t(width);
            int hint = -1;
            for (int x = 0; x < width; ++x, p += 3)
                out[x] = static_cast<uint8_t>(hint = search.find(p[2], p[1], p[0], hint));
        }
        return;
    }
    CellLookup lookup(palette);
    // Errors in sixteenths, red, green and blue, for this row and the next, with a pixel of margin
    // on each side.
    const size_t stride = size_t(width + 2) * 3;
    std::vector<int> current(stride, 0), next(stride, 0);
    auto row = [&](const uint8_t* source, uint8_t* out, auto direction) {
        constexpr int dir = decltype(direction)::value;
        const int start = dir > 0 ? 0 : width - 1;
        for (int i = 0, x = start; i < width; ++i, x += dir) {
            const uint8_t* p = source + size_t(x) * 3;
            int* here = current.data() + size_t(x + 1) * 3;
            int* below = next.data() + size_t(x + 1) * 3;
            int want[3];
            for (int c = 0; c < 3; ++c) {
                const int error = std::clamp((here[c] + 8) >> 4, -ErrorBound, ErrorBound);
                want[c] = clampByte(p[2 - c] + error); // red, green, blue
            }
            const int index = lookup.find(want[0], want[1], want[2]);
            out[x] = static_cast<uint8_t>(index);
            const GifRGB& got = palette[size_t(index)];
            const int left[3] = {want[0] - got.red, want[1] - got.green, want[2] - got.blue};
            for (int c = 0; c < 3; ++c) {
                // Floyd–Steinberg's 7, 3, 5 and 1 sixteenths of the part of the error passed on.
                const int e = left[c] * DiffusedSixteenths / 16;
                here[c + dir * 3] += 7 * e;
                below[c - dir * 3] += 3 * e;
                below[c] += 5 * e;
                below[c + dir * 3] += e;
            }
        }
    };
    for (int y = 0; y < height; ++y) {
        std::fill(next.begin(), next.end(), 0);
        uint8_t* out = indices + size_t(y) * size_t(width);
        if ((y & 1) == 0)
            row(rows[y], out, std::integral_constant<int, 1>{});
        else
            row(rows[y], out, std::integral_constant<int, -1>{});
        std::swap(current, next);
    }
}

void reduceRefined(int width, int height, const uint8_t* const* rows, GifDitherKind ditherKind,
                   uint8_t* indices, std::vector<GifRGB>& colorTable) {
    bool exact = false;
    colorTable = refinedPalette(width, height, rows, &exact);
    // A frame of few colours has each of them in its table: nothing to diffuse.
    ditherRefined(width, height, rows, colorTable, exact ? GifDitherKind::Nearest : ditherKind, indices);
}

} // namespace kelvara
