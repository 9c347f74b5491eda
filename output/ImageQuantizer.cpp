// The still-image colour quantizer (NeuQuant, histogram box splitting, grey identity) and the
// palette and two-colour reductions.
#include "output/ImageQuantizer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kelvara {

using output_detail::weightedLuma;

namespace {

// Round to nearest with ties to even, as the quantizer's arithmetic expects.
int roundEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

} // namespace

RgbPicture rgbPictureOf(const Bitmap& bitmap) {
    RgbPicture picture;
    picture.width = bitmap.Width();
    picture.height = bitmap.Height();
    picture.bgr.resize(static_cast<size_t>(picture.width) * picture.height * 3);
    for (int y = 0; y < picture.height; ++y) {
        uint8_t* out = picture.bgr.data() + static_cast<size_t>(y) * picture.width * 3;
        if (bitmap.PixelFormat() == PixelFormat::Bits24) {
            std::copy_n(bitmap.ScanLine(y), static_cast<size_t>(picture.width) * 3, out);
        } else {
            for (int x = 0; x < picture.width; ++x) {
                Color c = bitmap.pixel(x, y);
                out[x * 3] = static_cast<uint8_t>(blueOf(c));
                out[x * 3 + 1] = static_cast<uint8_t>(greenOf(c));
                out[x * 3 + 2] = static_cast<uint8_t>(redOf(c));
            }
        }
    }
    return picture;
}

const uint8_t BayerMatrix[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

// ---------------------------------------------------------------------------------------------
// Construction

TImageQuantizer::TImageQuantizer(const RgbPicture& picture, int colorCount, QuantizerSource source)
    : m_count(std::clamp(colorCount, 2, 256)) {
    m_palette.assign(m_count, ColorBlack);
    bool allGrey = false;
    if (source == QuantizerSource::Bitmap && m_count == 256) {
        allGrey = true;
        for (size_t i = 0; i + 2 < picture.bgr.size() && allGrey; i += 3)
            allGrey = picture.bgr[i] == picture.bgr[i + 1] && picture.bgr[i + 1] == picture.bgr[i + 2];
    }
    if (allGrey) {
        m_kind = Kind::GreyIdentity;
        for (int i = 0; i < 256; ++i)
            m_palette[i] = rgbColor(i, i, i);
    } else if (m_count >= 128) {
        m_kind = Kind::NeuQuant;
        learnNeuQuant(picture);
        buildNeuQuantIndex();
    } else {
        m_kind = Kind::BoxSplitting;
        splitBoxes(picture);
    }
}

int TImageQuantizer::index(Color color) const {
    return index(redOf(color), greenOf(color), blueOf(color));
}

int TImageQuantizer::index(int red, int green, int blue) const {
    switch (m_kind) {
    case Kind::GreyIdentity:
        return red;
    case Kind::NeuQuant:
        return searchNeuQuant(blue, green, red);
    case Kind::BoxSplitting:
        return m_cellIndex[((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3)];
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// NeuQuant (A. Dekker's Kohonen network). Channel values are scaled by 16 while learning.

int TImageQuantizer::samplingFactor(int64_t pixelCount) {
    if (pixelCount < 2000)
        return 1;
    int f = roundEven((13.0 * static_cast<double>(pixelCount) - 26000.0) / 148000.0 + 2.0);
    return std::clamp(f, 1, 30);
}

void TImageQuantizer::learnNeuQuant(const RgbPicture& picture) {
    const int n = m_count;
    m_network.assign(n, {0, 0, 0, 0});
    std::vector<int64_t> frequency(n, 65536 / n);
    std::vector<int64_t> bias(n, 0);
    for (int i = 0; i < n; ++i) {
        int v = i * 4096 / n;
        m_network[i] = {v, v, v, i};
    }

    const int64_t pixels = static_cast<int64_t>(picture.width) * picture.height;
    if (pixels > 0) {
        const int factor = samplingFactor(pixels);
        const int decay = 30 + (factor - 1) / 3;
        const int64_t samples = pixels / factor;
        const int64_t phase = std::max<int64_t>(1, samples / 100);

        int64_t alpha = 1024;
        int64_t radius = static_cast<int64_t>(n / 8) * 64;
        int64_t size = 0;
        std::vector<int64_t> weight;
        auto computeWeights = [&] {
            size = radius > 127 ? radius / 64 : 0;
            weight.assign(static_cast<size_t>(size), 0);
            for (int64_t k = 0; k < size; ++k)
                weight[k] = alpha * (((size * size - k * k) * 256) / (size * size));
        };
        computeWeights();

        int64_t step = 503;
        for (int prime : {499, 491, 487}) {
            if ((3 * pixels) % prime != 0) {
                step = prime;
                break;
            }
        }

        int64_t position = 0;
        for (int64_t i = 0; i < samples; ++i) {
            const int x = static_cast<int>(position % picture.width);
            const int y = static_cast<int>((position / picture.width) % picture.height);
            const uint8_t* p = picture.row(y) + static_cast<size_t>(x) * 3;
            const int64_t b = p[0] * 16, g = p[1] * 16, r = p[2] * 16;

            // Contest: the winner by biased distance, the closest by plain distance.
            int64_t bestDistance = std::numeric_limits<int64_t>::max();
            int64_t bestBiased = bestDistance;
            int closest = 0, winner = 0;
            for (int k = 0; k < n; ++k) {
                const auto& neuron = m_network[k];
                int64_t d = std::llabs(neuron[0] - b) + std::llabs(neuron[1] - g) + std::llabs(neuron[2] - r);
                if (d < bestDistance) {
                    bestDistance = d;
                    closest = k;
                }
                int64_t biased = d - bias[k] / 4096;
                if (biased < bestBiased) {
                    bestBiased = biased;
                    winner = k;
                }
                int64_t loss = frequency[k] / 1024;
                frequency[k] -= loss;
                bias[k] += loss * 1024;
            }
            frequency[closest] += 64;
            bias[closest] -= 65536;

            auto& w = m_network[winner];
            w[0] -= (w[0] - b) * alpha / 1024;
            w[1] -= (w[1] - g) * alpha / 1024;
            w[2] -= (w[2] - r) * alpha / 1024;

            if (size > 0) {
                for (int64_t k = 1; k < size; ++k) {
                    for (int64_t j : {winner + k, winner - k}) {
                        if (j < 0 || j >= n)
                            continue;
                        auto& v = m_network[j];
                        v[0] -= (v[0] - b) * weight[k] / 262144;
                        v[1] -= (v[1] - g) * weight[k] / 262144;
                        v[2] -= (v[2] - r) * weight[k] / 262144;
                    }
                }
            }

            position = (position + step) % pixels;
            if ((i + 1) % phase == 0) {
                alpha -= alpha / decay;
                radius -= radius / 30;
                computeWeights();
            }
        }
    }

    for (int i = 0; i < n; ++i) {
        auto& v = m_network[i];
        for (int c = 0; c < 3; ++c)
            v[c] = std::clamp(v[c] / 16, 0, 255);
        m_palette[i] = rgbColor(v[2], v[1], v[0]);
    }
}

void TImageQuantizer::buildNeuQuantIndex() {
    const int n = m_count;
    int previous = 0;
    int start = 0;
    for (int i = 0; i < n; ++i) {
        int smallest = i;
        int smallValue = m_network[i][1];
        for (int j = i + 1; j < n; ++j) {
            if (m_network[j][1] < smallValue) {
                smallest = j;
                smallValue = m_network[j][1];
            }
        }
        if (smallest != i)
            std::swap(m_network[i], m_network[smallest]);
        if (smallValue != previous) {
            m_greenIndex[previous] = (start + i) / 2;
            for (int j = previous + 1; j < smallValue; ++j)
                m_greenIndex[j] = i;
            previous = smallValue;
            start = i;
        }
    }
    m_greenIndex[previous] = (start + n - 1) / 2;
    for (int j = previous + 1; j < 256; ++j)
        m_greenIndex[j] = n - 1;
}

int TImageQuantizer::searchNeuQuant(int blue, int green, int red) const {
    const int n = m_count;
    int best = 1000;
    int result = 0;
    int i = m_greenIndex[green];
    int j = i - 1;
    while (i < n || j >= 0) {
        if (i < n) {
            const auto& p = m_network[i];
            int d = p[1] - green;
            if (d >= best) {
                i = n;
            } else {
                ++i;
                d = std::abs(d) + std::abs(p[0] - blue) + std::abs(p[2] - red);
                if (d < best) {
                    best = d;
                    result = p[3];
                }
            }
        }
        if (j >= 0) {
            const auto& p = m_network[j];
            int d = green - p[1];
            if (d >= best) {
                j = -1;
            } else {
                --j;
                d = std::abs(d) + std::abs(p[0] - blue) + std::abs(p[2] - red);
                if (d < best) {
                    best = d;
                    result = p[3];
                }
            }
        }
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Histogram box splitting over 32 x 32 x 32 cells (channels red 0, green 1, blue 2).

namespace {

constexpr int Slots = 32;

inline size_t cellOf(int r, int g, int b) {
    return (static_cast<size_t>(r) << 10) | (g << 5) | b;
}

struct Box {
    int low[3] = {0, 0, 0};
    int high[3] = {Slots, Slots, Slots}; // exclusive
    uint64_t count = 0;
    uint64_t histogram[3][Slots] = {};
    double error = 0;

    double mean(int channel) const {
        if (count == 0)
            return 0;
        double sum = 0;
        for (int s = 0; s < Slots; ++s)
            sum += static_cast<double>(histogram[channel][s]) * s;
        return sum / static_cast<double>(count);
    }
};

void countBox(Box& box, const std::vector<uint32_t>& cells) {
    box.count = 0;
    for (auto& h : box.histogram)
        std::fill(std::begin(h), std::end(h), 0);
    for (int r = box.low[0]; r < box.high[0]; ++r)
        for (int g = box.low[1]; g < box.high[1]; ++g)
            for (int b = box.low[2]; b < box.high[2]; ++b) {
                uint32_t n = cells[cellOf(r, g, b)];
                if (n == 0)
                    continue;
                box.count += n;
                box.histogram[0][r] += n;
                box.histogram[1][g] += n;
                box.histogram[2][b] += n;
            }
}

void computeError(Box& box, uint64_t totalPixels) {
    double error = 0;
    for (int c = 0; c < 3; ++c) {
        double m = box.mean(c);
        for (int s = 0; s < Slots; ++s) {
            double d = s - m;
            error += d * d * static_cast<double>(box.histogram[c][s]);
        }
    }
    box.error = totalPixels ? error / static_cast<double>(totalPixels) : 0;
}

// Recounts a half from the cells and shrinks its bounds to the occupied slots.
void settleBox(Box& box, const std::vector<uint32_t>& cells, uint64_t totalPixels) {
    countBox(box, cells);
    if (box.count == 0)
        return;
    for (int c = 0; c < 3; ++c) {
        int lo = box.low[c], hi = box.high[c] - 1;
        while (lo < hi && box.histogram[c][lo] == 0)
            ++lo;
        while (hi > lo && box.histogram[c][hi] == 0)
            --hi;
        box.low[c] = lo;
        box.high[c] = hi + 1;
    }
    computeError(box, totalPixels);
}

// The best cut along one channel: the last slot of the lower half, or -1 when none.
int cutPosition(const Box& box, int channel) {
    const int low = box.low[channel], high = box.high[channel];
    if (high == low + 1 || box.count == 0)
        return -1;
    const double n = static_cast<double>(box.count);
    const double m = box.mean(channel);
    const int s0 = std::max(low, roundEven((low + m) / 2));
    const int s1 = std::min(high - 1, roundEven((m + high) / 2));
    uint64_t running = 0;
    for (int s = low; s < s0; ++s)
        running += box.histogram[channel][s];
    double partialMean = 0;
    double bestScore = -1;
    int best = -1;
    for (int e = s0; e <= s1; ++e) {
        running += box.histogram[channel][e];
        if (running >= box.count)
            break;
        partialMean += static_cast<double>(box.histogram[channel][e]) * e / n;
        double score = static_cast<double>(running) / static_cast<double>(box.count - running) *
                       (m - partialMean) * (m - partialMean);
        if (score > bestScore) {
            bestScore = score;
            best = e;
        }
    }
    return best;
}

} // namespace

void TImageQuantizer::splitBoxes(const RgbPicture& picture) {
    std::vector<uint32_t> cells(Slots * Slots * Slots, 0);
    const size_t pixels = static_cast<size_t>(picture.width) * picture.height;
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* p = picture.bgr.data() + i * 3;
        ++cells[cellOf(p[2] >> 3, p[1] >> 3, p[0] >> 3)];
    }

    std::vector<Box> boxes(1);
    countBox(boxes[0], cells);
    computeError(boxes[0], pixels);

    while (static_cast<int>(boxes.size()) < m_count) {
        size_t worst = 0;
        for (size_t i = 1; i < boxes.size(); ++i)
            if (boxes[i].error > boxes[worst].error)
                worst = i;
        if (!(boxes[worst].error > 0))
            break;

        bool found = false;
        double bestSum = 0;
        Box bestLower, bestUpper;
        for (int c = 0; c < 3; ++c) {
            int e = cutPosition(boxes[worst], c);
            if (e < 0)
                continue;
            Box lower = boxes[worst], upper = boxes[worst];
            lower.high[c] = e + 1;
            upper.low[c] = e + 1;
            settleBox(lower, cells, pixels);
            settleBox(upper, cells, pixels);
            if (lower.count == 0 || upper.count == 0)
                continue;
            double sum = lower.error + upper.error;
            if (!found || sum < bestSum) {
                found = true;
                bestSum = sum;
                bestLower = lower;
                bestUpper = upper;
            }
        }
        if (!found) {
            boxes[worst].error = 0;
            continue;
        }
        boxes[worst] = bestLower;
        boxes.push_back(bestUpper);
    }

    m_cellIndex.assign(cells.size(), 0);
    for (size_t i = 0; i < boxes.size(); ++i) {
        const Box& box = boxes[i];
        m_palette[i] =
            rgbColor(roundEven(box.mean(0)) * 8, roundEven(box.mean(1)) * 8, roundEven(box.mean(2)) * 8);
        for (int r = box.low[0]; r < box.high[0]; ++r)
            for (int g = box.low[1]; g < box.high[1]; ++g)
                for (int b = box.low[2]; b < box.high[2]; ++b)
                    m_cellIndex[cellOf(r, g, b)] = static_cast<uint8_t>(i);
    }
}

// ---------------------------------------------------------------------------------------------
// Reductions

IndexedPicture quantizePicture(const RgbPicture& picture, int colorCount) {
    TImageQuantizer quantizer(picture, colorCount);
    IndexedPicture result;
    result.width = picture.width;
    result.height = picture.height;
    result.palette = quantizer.palette();
    const size_t pixels = static_cast<size_t>(picture.width) * picture.height;
    result.indexes.resize(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* p = picture.bgr.data() + i * 3;
        result.indexes[i] = static_cast<uint8_t>(quantizer.index(p[2], p[1], p[0]));
    }
    return result;
}

TwoColorPicture twoColorPicture(const RgbPicture& picture) {
    TwoColorPicture result;
    IndexedPicture& out = result.picture;
    out.width = picture.width;
    out.height = picture.height;
    const size_t pixels = static_cast<size_t>(picture.width) * picture.height;
    out.indexes.assign(pixels, 0);

    Color colors[2] = {0, 0};
    int distinct = 0;
    for (size_t i = 0; i < pixels && distinct <= 2; ++i) {
        const uint8_t* p = picture.bgr.data() + i * 3;
        Color c = rgbColor(p[2], p[1], p[0]);
        if (distinct > 0 && c == colors[0])
            continue;
        if (distinct > 1 && c == colors[1])
            continue;
        if (distinct < 2)
            colors[distinct] = c;
        ++distinct;
    }

    if (distinct <= 2) {
        if (distinct < 2) {
            // One colour (or an empty picture): that colour and black, every pixel entry 0.
            result.singleColor = true;
            out.palette = {colors[0], ColorBlack};
            return result;
        }
        auto luma = [](Color c) { return roundEven(weightedLuma(c) / 100.0); };
        if (luma(colors[1]) < luma(colors[0]))
            std::swap(colors[0], colors[1]);
        out.palette = {colors[0], colors[1]};
        for (size_t i = 0; i < pixels; ++i) {
            const uint8_t* p = picture.bgr.data() + i * 3;
            out.indexes[i] = rgbColor(p[2], p[1], p[0]) == colors[1] ? 1 : 0;
        }
        return result;
    }

    out.palette = {ColorBlack, ColorWhite};
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* row = picture.row(y);
        uint8_t* bits = out.indexes.data() + static_cast<size_t>(y) * picture.width;
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* p = row + static_cast<size_t>(x) * 3;
            int g = (21 * p[2] + 71 * p[1] + 8 * p[0]) / 400;
            bits[x] = BayerMatrix[x & 7][y & 7] < g ? 1 : 0;
        }
    }
    return result;
}

std::vector<uint8_t> blackWhiteBits(const TwoColorPicture& twoColor) {
    if (!twoColor.singleColor)
        return twoColor.picture.indexes;
    Color c = twoColor.picture.palette[0];
    int toWhite = (255 - redOf(c)) + (255 - greenOf(c)) + (255 - blueOf(c));
    int toBlack = redOf(c) + greenOf(c) + blueOf(c);
    return std::vector<uint8_t>(twoColor.picture.indexes.size(), toWhite < toBlack ? 1 : 0);
}

void packIndexRow(const uint8_t* indexes, int width, int bits, uint8_t* out) {
    if (bits == 8) {
        std::copy_n(indexes, width, out);
        return;
    }
    const size_t bytes = (static_cast<size_t>(width) * bits + 7) / 8;
    std::fill_n(out, bytes, 0);
    size_t bit = 0;
    for (int x = 0; x < width; ++x) {
        for (int k = bits - 1; k >= 0; --k, ++bit) {
            if ((indexes[x] >> k) & 1)
                out[bit / 8] |= static_cast<uint8_t>(0x80 >> (bit % 8));
        }
    }
}

} // namespace kelvara
