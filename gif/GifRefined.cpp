// The refined colour reduction: a median-cut seed, Lloyd passes over a histogram, bounded
// serpentine error diffusion.
#include "gif/GifRefined.h"

#include <algorithm>
#include <climits>
#include <numeric>
#include <type_traits>

namespace kelvara {

namespace {

// The histogram keeps 5 bits per channel: fine enough for the assignments of the Lloyd passes,
// while the sums keep every pixel's exact colour for the means.
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
    uint32_t first = 0; // the first colour seen, 0xRRGGBB
    bool mixed = false; // another colour than the first fell in
    uint64_t red = 0, green = 0, blue = 0;
};

int binOf(int red, int green, int blue) {
    constexpr int Shift = 8 - BinBits;
    return ((red >> Shift) << (2 * BinBits)) | ((green >> Shift) << BinBits) | (blue >> Shift);
}

int squared(int v) {
    return v * v;
}

// Exact nearest entry by squared distance: entries sorted by green, searched outwards from the
// colour's green until the green difference alone is larger than the best distance.
class NearestSearch {
public:
    explicit NearestSearch(const std::vector<GifRGB>& palette) : m_count(static_cast<int>(palette.size())) {
        std::vector<int> order(palette.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return palette[size_t(a)].green < palette[size_t(b)].green; });
        for (int k = 0; k < m_count; ++k) {
            const GifRGB& c = palette[size_t(order[size_t(k)])];
            m_red[k] = c.red;
            m_green[k] = c.green;
            m_blue[k] = c.blue;
            m_index[k] = static_cast<uint8_t>(order[size_t(k)]);
            m_position[order[size_t(k)]] = k;
        }
    }

    // A hint (an entry likely to be near, or -1) only makes the search shorter: the first
    // entry at the smallest distance in green order wins either way, unless the hint ties it.
    int find(int red, int green, int blue, int hint = -1) const {
        int hi = static_cast<int>(std::lower_bound(m_green, m_green + m_count, green) - m_green);
        int lo = hi - 1;
        int best = INT_MAX, bestAt = hi < m_count ? hi : lo;
        if (hint >= 0 && hint < m_count) {
            bestAt = m_position[hint];
            best = squared(m_green[bestAt] - green) + squared(m_red[bestAt] - red) +
                   squared(m_blue[bestAt] - blue);
        }
        while (hi < m_count || lo >= 0) {
            if (hi < m_count) {
                const int dg = squared(m_green[hi] - green);
                if (dg >= best) {
                    hi = m_count;
                } else {
                    const int d = dg + squared(m_red[hi] - red) + squared(m_blue[hi] - blue);
                    if (d < best) {
                        best = d;
                        bestAt = hi;
                    }
                    ++hi;
                }
            }
            if (lo >= 0) {
                const int dg = squared(m_green[lo] - green);
                if (dg >= best) {
                    lo = -1;
                } else {
                    const int d = dg + squared(m_red[lo] - red) + squared(m_blue[lo] - blue);
                    if (d < best) {
                        best = d;
                        bestAt = lo;
                    }
                    --lo;
                }
            }
        }
        return m_index[bestAt];
    }

private:
    int m_count;
    int m_red[256];
    int m_green[256];
    int m_blue[256];
    uint8_t m_index[256];
    int m_position[256] = {};
};

// The nearest entry for each cell of 4 x 4 x 4 colours, found for the cell's centre when the
// cell is first met. A colour may get an entry that is not quite its nearest (at most 1.5 steps
// per channel off); the diffusion carries that difference on like any other.
class CellLookup {
public:
    explicit CellLookup(const std::vector<GifRGB>& palette) : m_search(palette) {
        // Kept per thread: frames are reduced one after another on each. A byte per cell and a
        // bit saying it is known keep the table small enough to stay in the processor's cache.
        thread_local std::vector<uint8_t> cells(CellCount);
        thread_local std::vector<uint64_t> known(CellCount / 64);
        std::fill(known.begin(), known.end(), 0);
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

} // namespace

// The seed: median cut over the weighted points. The box whose colours are spread the most
// (count times variance, summed over the channels) is split at the weighted median of its
// widest channel, until there are as many boxes as colours wanted; each gives its mean.
template <typename Point> std::vector<GifRGB> medianCut(std::vector<Point>& points) {
    struct Box {
        size_t begin, end;
        double spread;
        int axis;
    };
    auto channel = [](const Point& p, int axis) { return axis == 0 ? p.red : axis == 1 ? p.green : p.blue; };
    auto measure = [&](size_t begin, size_t end) {
        double n = 0, sum[3] = {}, sumSq[3] = {};
        for (size_t i = begin; i < end; ++i)
            for (int a = 0; a < 3; ++a) {
                const double v = channel(points[i], a);
                sum[a] += v * points[i].count;
                sumSq[a] += v * v * points[i].count;
            }
        for (size_t i = begin; i < end; ++i)
            n += points[i].count;
        Box box{begin, end, 0, 0};
        double widest = -1;
        for (int a = 0; a < 3; ++a) {
            const double spread = sumSq[a] - sum[a] * sum[a] / n;
            box.spread += spread;
            if (spread > widest) {
                widest = spread;
                box.axis = a;
            }
        }
        if (end - begin < 2)
            box.spread = -1;
        return box;
    };
    std::vector<Box> boxes{measure(0, points.size())};
    while (boxes.size() < 256) {
        size_t pick = 0;
        for (size_t k = 1; k < boxes.size(); ++k)
            if (boxes[k].spread > boxes[pick].spread)
                pick = k;
        const Box box = boxes[pick];
        if (box.spread <= 0)
            break;
        const auto first = points.begin() + static_cast<std::ptrdiff_t>(box.begin);
        const auto last = points.begin() + static_cast<std::ptrdiff_t>(box.end);
        std::sort(first, last, [&](const Point& a, const Point& b) {
            const int ca = channel(a, box.axis), cb = channel(b, box.axis);
            return ca != cb ? ca < cb : a.key < b.key;
        });
        uint64_t total = 0, run = 0;
        for (auto it = first; it != last; ++it)
            total += it->count;
        size_t split = box.begin + 1;
        for (size_t i = box.begin; i + 1 < box.end; ++i) {
            run += points[i].count;
            split = i + 1;
            if (2 * run >= total)
                break;
        }
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

std::vector<GifRGB> refinedPalette(int width, int height, const uint8_t* const* rows, bool* exact) {
    if (exact)
        *exact = false;
    if (width <= 0 || height <= 0)
        return {};
    thread_local std::vector<Bin> bins(BinCount);
    std::vector<int> used;
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = rows[y];
        for (int x = 0; x < width; ++x, p += 3) {
            const int b = p[0], g = p[1], r = p[2];
            Bin& bin = bins[size_t(binOf(r, g, b))];
            const uint32_t colour = (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
            if (bin.count == 0) {
                used.push_back(binOf(r, g, b));
                bin.first = colour;
            } else if (bin.first != colour) {
                bin.mixed = true;
            }
            ++bin.count;
            bin.red += uint64_t(r);
            bin.green += uint64_t(g);
            bin.blue += uint64_t(b);
        }
    }
    // Every bin as a weighted point at its mean; the histogram is left empty for the next frame.
    struct Point {
        int red, green, blue;
        int key; // the bin: orders equal colours the same way every time
        uint32_t count;
        uint64_t redSum, greenSum, blueSum;
    };
    std::vector<Point> points;
    points.reserve(used.size());
    bool few = used.size() <= 256;
    for (const int at : used) {
        Bin& bin = bins[size_t(at)];
        const uint64_t half = bin.count / 2;
        points.push_back({int((bin.red + half) / bin.count), int((bin.green + half) / bin.count),
                          int((bin.blue + half) / bin.count), at, bin.count, bin.red, bin.green, bin.blue});
        few = few && !bin.mixed;
        bin = Bin{};
    }
    std::vector<GifRGB> palette;
    if (few) {
        // Few colours: each is kept as it is, in order of first appearance.
        if (exact)
            *exact = true;
        for (const Point& p : points)
            palette.push_back({uint8_t(p.red), uint8_t(p.green), uint8_t(p.blue)});
        return palette;
    }

    palette = medianCut(points);
    const size_t wanted = std::min<size_t>(256, points.size());
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
                    const Point& p = points[i];
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
                    const Point& p = points[worst[k]];
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
            const Point& p = points[i];
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
