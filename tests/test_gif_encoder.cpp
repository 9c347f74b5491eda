// GIF compression: byte-exact examples, a reference LZW, giflib round trips for LZW and RLE,
// the sub-block writer, the string table and its bounded chains.
#include "gif/GifEncoder.h"
#include "gif/GifErrors.h"
#include "raster/Stream.h"
#include "support/GifDecode.h"
#include "support/LzwInputs.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using namespace kelvara;
using kelvara::test::decodeWithGiflib;

namespace {

std::vector<uint8_t> encode(int kind, int bpp, int width, int height, bool interlaced,
                            const std::vector<uint8_t>& pixels, int colors) {
    MemoryStream out;
    encodeGIFImage(kind, out, bpp, width, height, interlaced, pixels.empty() ? nullptr : pixels.data(),
                   colors);
    return out.bytes();
}

// A GIF file around encoded image data: a global grey table of 2^bpp entries and one frame.
std::vector<uint8_t> wrapImageData(int bpp, int width, int height, bool interlaced,
                                   const std::vector<uint8_t>& data) {
    bpp = std::max(bpp, 1);
    std::vector<uint8_t> f = {'G', 'I', 'F', '8', '9', 'a'};
    auto put16 = [&](int v) {
        f.push_back(static_cast<uint8_t>(v));
        f.push_back(static_cast<uint8_t>(v >> 8));
    };
    put16(width);
    put16(height);
    f.push_back(static_cast<uint8_t>(0x80 | ((bpp - 1) << 4) | (bpp - 1)));
    f.push_back(0);
    f.push_back(0);
    for (int i = 0; i < (1 << bpp); ++i)
        for (int c = 0; c < 3; ++c)
            f.push_back(static_cast<uint8_t>(i));
    f.push_back(0x2C);
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    f.push_back(interlaced ? 0x40 : 0x00);
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(0x3B);
    return f;
}

void expectGiflibDecodes(int kind, int bpp, int width, int height, bool interlaced,
                         const std::vector<uint8_t>& pixels) {
    const std::vector<uint8_t> data = encode(kind, bpp, width, height, interlaced, pixels, 1 << bpp);
    const auto image = decodeWithGiflib(wrapImageData(bpp, width, height, interlaced, data));
    ASSERT_EQ(image.frames.size(), 1u);
    ASSERT_EQ(image.frames[0].indices.size(), pixels.size());
    EXPECT_EQ(image.frames[0].indices, pixels) << "kind " << kind << " bpp " << bpp << " " << width << "x"
                                               << height << (interlaced ? " interlaced" : "");
}

// Sub-block layout of encoded data: code size, blocks of 1..255 bytes, terminator.
std::vector<uint8_t> unblock(const std::vector<uint8_t>& data, bool* wellFormed) {
    std::vector<uint8_t> bytes;
    size_t p = 1;
    *wellFormed = false;
    while (p < data.size()) {
        const int n = data[p++];
        if (n == 0) {
            *wellFormed = p == data.size();
            return bytes;
        }
        if (p + n > data.size())
            return bytes;
        bytes.insert(bytes.end(), data.begin() + p, data.begin() + p + n);
        p += n;
    }
    return bytes;
}

// An independent greedy LZW with the same clear and width rules, over a std::map.
std::vector<uint8_t> referenceLZW(int bpp, int width, int height, const std::vector<uint8_t>& pixels) {
    bpp = std::max(bpp, 2);
    const int clear = 1 << bpp;
    std::vector<uint8_t> bytes;
    uint64_t bucket = 0;
    int held = 0;
    int codeWidth = bpp + 1;
    auto put = [&](int code) {
        bucket |= static_cast<uint64_t>(code) << held;
        held += codeWidth;
        while (held >= 8) {
            bytes.push_back(static_cast<uint8_t>(bucket));
            bucket >>= 8;
            held -= 8;
        }
    };
    std::map<std::pair<int, int>, int> table;
    int next = clear + 2;
    auto emit = [&](int code) {
        put(code);
        if (next >= (1 << codeWidth) && codeWidth < 12)
            ++codeWidth;
    };
    auto emitClear = [&]() {
        put(clear);
        codeWidth = bpp + 1;
        table.clear();
        next = clear + 2;
    };
    emitClear();
    if (width > 0 && height > 0) {
        int prefix = pixels[0];
        for (size_t i = 1; i < pixels.size(); ++i) {
            const int c = pixels[i];
            auto it = table.find({prefix, c});
            if (it != table.end()) {
                prefix = it->second;
                continue;
            }
            emit(prefix);
            if (next >= 4095) {
                emitClear();
            } else {
                table[{prefix, c}] = next++;
            }
            prefix = c;
        }
        emit(prefix);
    }
    put(clear + 1);
    if (held > 0)
        bytes.push_back(static_cast<uint8_t>(bucket));
    std::vector<uint8_t> out = {static_cast<uint8_t>(bpp)};
    for (size_t i = 0; i < bytes.size(); i += 255) {
        const size_t n = std::min<size_t>(255, bytes.size() - i);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), bytes.begin() + i, bytes.begin() + i + n);
    }
    out.push_back(0);
    return out;
}

// Reads the codes of an LZW stream with decoder width rules: (code, width) pairs.
std::vector<std::pair<int, int>> listCodes(const std::vector<uint8_t>& data) {
    bool ok;
    const std::vector<uint8_t> bytes = unblock(data, &ok);
    const int bpp = data[0];
    const int clear = 1 << bpp;
    std::vector<std::pair<int, int>> codes;
    uint64_t bucket = 0;
    int held = 0;
    size_t p = 0;
    int codeWidth = bpp + 1;
    int available = clear + 2;
    bool first = true;
    for (;;) {
        while (held < codeWidth && p < bytes.size()) {
            bucket |= static_cast<uint64_t>(bytes[p++]) << held;
            held += 8;
        }
        if (held < codeWidth)
            break;
        const int code = static_cast<int>(bucket & ((1u << codeWidth) - 1));
        bucket >>= codeWidth;
        held -= codeWidth;
        codes.push_back({code, codeWidth});
        if (code == clear) {
            codeWidth = bpp + 1;
            available = clear + 2;
            first = true;
            continue;
        }
        if (code == clear + 1)
            break;
        if (!first && available < 4096) {
            ++available;
            if (available == (1 << codeWidth) && codeWidth < 12)
                ++codeWidth;
        }
        first = false;
    }
    return codes;
}

std::vector<uint8_t> randomPixels(size_t n, int colors, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> p(n);
    for (auto& v : p)
        v = static_cast<uint8_t>(rng() % static_cast<uint32_t>(colors));
    return p;
}

// Runs of random lengths (1 to maxRun) of random colours.
std::vector<uint8_t> runPixels(size_t n, int colors, int maxRun, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> p;
    while (p.size() < n) {
        const uint8_t c = static_cast<uint8_t>(rng() % static_cast<uint32_t>(colors));
        const size_t len = 1 + rng() % static_cast<uint32_t>(maxRun);
        for (size_t i = 0; i < len && p.size() < n; ++i)
            p.push_back(c);
    }
    return p;
}

} // namespace

TEST(GifEncoder, FourPixelExample) {
    // Codes: clear 4, then 0, 6, 0 in 3 bits, then the end code 5 in 4 bits.
    const std::vector<uint8_t> expected = {0x02, 0x02, 0x84, 0x51, 0x00};
    EXPECT_EQ(encode(0, 1, 4, 1, false, {0, 0, 0, 0}, 2), expected);
    EXPECT_EQ(encode(0, 1, 2, 2, false, {0, 0, 0, 0}, 2), expected);
}

TEST(GifEncoder, EightBitFrameStartsWithNineBitClear) {
    const auto data = encode(0, 8, 3, 1, false, {1, 2, 3}, 256);
    ASSERT_GE(data.size(), 4u);
    EXPECT_EQ(data[0], 0x08);
    const auto codes = listCodes(data);
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes[0], std::make_pair(256, 9));
}

TEST(GifEncoder, EncodeWithoutPixelsWritesTheEndCodeAlone) {
    // Up to 7 bits the end code fits one byte; at 8 bits it is 9 bits wide and takes two.
    for (int bpp = 1; bpp <= 7; ++bpp) {
        const int codeSize = std::max(bpp, 2);
        const std::vector<uint8_t> expected = {static_cast<uint8_t>(codeSize), 0x01,
                                               static_cast<uint8_t>((1 << codeSize) + 1), 0x00};
        EXPECT_EQ(encode(0, bpp, 0, 0, false, {}, 1 << bpp), expected) << bpp;
        EXPECT_EQ(encode(0, bpp, 5, 0, false, {}, 1 << bpp), expected) << bpp;
        EXPECT_EQ(encode(1, bpp, 0, 5, false, {}, 1 << bpp), expected) << bpp;
        EXPECT_EQ(encode(0, bpp, 0, 5, false, {1, 2, 3}, 1 << bpp), expected) << bpp;
    }
    const std::vector<uint8_t> eight = {0x08, 0x02, 0x01, 0x01, 0x00};
    EXPECT_EQ(encode(0, 8, 0, 0, false, {}, 256), eight);
    EXPECT_EQ(encode(1, 8, 0, 0, false, {}, 256), eight);
}

TEST(GifEncoder, MatchesReferenceLZW) {
    for (int bpp = 1; bpp <= 8; ++bpp) {
        for (uint32_t seed = 0; seed < 4; ++seed) {
            const int w = 37 + static_cast<int>(seed) * 61, h = 23 + static_cast<int>(seed) * 17;
            const auto noise = randomPixels(static_cast<size_t>(w) * h, 1 << bpp, seed + 100 * bpp);
            EXPECT_EQ(encode(0, bpp, w, h, false, noise, 1 << bpp), referenceLZW(bpp, w, h, noise)) << bpp;
            const auto runs = runPixels(static_cast<size_t>(w) * h, 1 << bpp, 40, seed + 7);
            EXPECT_EQ(encode(0, bpp, w, h, false, runs, 1 << bpp), referenceLZW(bpp, w, h, runs)) << bpp;
        }
    }
}

TEST(GifEncoder, FullTableGivesTwelveBitClearThenNineBitCodes) {
    const int w = 211, h = 199;
    const auto pixels = randomPixels(static_cast<size_t>(w) * h, 256, 5);
    const auto data = encode(0, 8, w, h, false, pixels, 256);
    const auto codes = listCodes(data);
    int clears = 0;
    for (size_t i = 1; i + 1 < codes.size(); ++i) {
        if (codes[i].first == 256) {
            ++clears;
            EXPECT_EQ(codes[i].second, 12);
            EXPECT_EQ(codes[i + 1].second, 9);
        }
        EXPECT_LE(codes[i].second, 12);
    }
    EXPECT_GE(clears, 5);
    expectGiflibDecodes(0, 8, w, h, false, pixels);
}

TEST(GifEncoder, DataOfExactly255BytesHasNoEmptySubBlock) {
    bool found = false;
    for (uint32_t seed = 0; seed < 20 && !found; ++seed) {
        for (int n = 150; n < 300 && !found; ++n) {
            const auto pixels = randomPixels(static_cast<size_t>(n), 256, seed);
            const auto data = encode(0, 8, n, 1, false, pixels, 256);
            if (data.size() != 1 + 1 + 255 + 1)
                continue;
            found = true;
            EXPECT_EQ(data[0], 0x08);
            EXPECT_EQ(data[1], 0xFF);
            EXPECT_EQ(data[257], 0x00);
            expectGiflibDecodes(0, 8, n, 1, false, pixels);
        }
    }
    EXPECT_TRUE(found);
}

TEST(GifEncoder, SubBlocksAreFullExceptTheLast) {
    const auto pixels = randomPixels(5000, 256, 9);
    const auto data = encode(0, 8, 100, 50, false, pixels, 256);
    size_t p = 1;
    std::vector<int> sizes;
    while (data[p] != 0) {
        sizes.push_back(data[p]);
        p += 1 + data[p];
    }
    EXPECT_EQ(p + 1, data.size());
    for (size_t i = 0; i + 1 < sizes.size(); ++i)
        EXPECT_EQ(sizes[i], 255);
    EXPECT_GE(sizes.back(), 1);
}

TEST(GifEncoder, ColorNotInColorTable) {
    MemoryStream out;
    const std::vector<uint8_t> pixels = {0, 1, 5};
    try {
        encodeGIFImage(0, out, 2, 3, 1, false, pixels.data(), 4);
        FAIL() << "no exception";
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::BadColorIndex);
    }
    // Only the code size byte: the six bits of codes never made a byte.
    EXPECT_EQ(out.bytes(), std::vector<uint8_t>{0x02});
    // The first pixel is checked too, and the RLE encoder checks the same way.
    EXPECT_THROW(encode(0, 8, 1, 1, false, {200}, 100), GIFException);
    EXPECT_THROW(encode(1, 8, 2, 1, false, {1, 200}, 100), GIFException);

    // Later in a frame: the full sub-blocks and the pending bytes stay, no terminator.
    std::vector<uint8_t> big = randomPixels(4000, 16, 3);
    big.push_back(16);
    MemoryStream partial;
    EXPECT_THROW(encodeGIFImage(0, partial, 4, static_cast<int>(big.size()), 1, false, big.data(), 16),
                 GIFException);
    const auto& b = partial.bytes();
    ASSERT_GT(b.size(), 256u);
    EXPECT_EQ(b[0], 4);
    size_t p = 1;
    while (p < b.size()) {
        ASSERT_NE(b[p], 0);
        p += 1 + b[p];
    }
    EXPECT_EQ(p, b.size());
}

TEST(GifEncoder, InterlacedFramesOfSmallHeights) {
    for (int kind = 0; kind <= 1; ++kind)
        for (int h = 1; h <= 20; ++h)
            for (int w : {1, 3, 17}) {
                std::vector<uint8_t> pixels(static_cast<size_t>(w) * h);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        pixels[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>((y * 7 + x) % 16);
                expectGiflibDecodes(kind, 4, w, h, true, pixels);
            }
}

TEST(GifEncoder, LZWRoundTripsThroughGiflib) {
    for (int bpp = 1; bpp <= 8; ++bpp) {
        for (int w : {1, 2, 7, 64, 301}) {
            const int h = 1 + (w * 13) % 97;
            expectGiflibDecodes(0, bpp, w, h, false,
                                randomPixels(static_cast<size_t>(w) * h, 1 << bpp, w + bpp));
            expectGiflibDecodes(0, bpp, w, h, false,
                                runPixels(static_cast<size_t>(w) * h, 1 << bpp, 300, w * bpp));
        }
    }
    // One colour over a large frame: the longest strings and many clears.
    expectGiflibDecodes(0, 8, 640, 480, false, std::vector<uint8_t>(640 * 480, 7));
    expectGiflibDecodes(0, 2, 1000, 1000, false, std::vector<uint8_t>(1000 * 1000, 3));
}

TEST(GifEncoder, RLERoundTripsThroughGiflib) {
    for (int bpp = 1; bpp <= 8; ++bpp) {
        for (int maxRun : {1, 2, 5, 40, 1000, 20000}) {
            for (int w : {1, 13, 320}) {
                const int h = 1 + (w * 7 + maxRun) % 150;
                expectGiflibDecodes(
                    1, bpp, w, h, false,
                    runPixels(static_cast<size_t>(w) * h, 1 << bpp, maxRun, bpp * 31 + maxRun + w));
            }
        }
    }
    // Very long runs: whole-table repeat codes, forced clears and the cost split across clears.
    for (int bpp : {1, 2, 3, 4, 8}) {
        expectGiflibDecodes(1, bpp, 1000, 1000, false, std::vector<uint8_t>(1000 * 1000, 1));
        std::vector<uint8_t> mixed(1200 * 900);
        for (size_t i = 0; i < mixed.size(); ++i)
            mixed[i] = static_cast<uint8_t>((i / 333331) % 2);
        expectGiflibDecodes(1, bpp, 1200, 900, false, mixed);
    }
    // Alternating run lengths that grow, shrink and repeat.
    std::vector<uint8_t> grow;
    for (int len = 1; grow.size() < 200000; len = len % 3000 + 7)
        grow.insert(grow.end(), static_cast<size_t>(len), static_cast<uint8_t>(len % 5));
    grow.resize(200000);
    for (int bpp : {3, 8})
        expectGiflibDecodes(1, bpp, 400, 500, false, grow);
}

TEST(GifEncoder, RLEWritesOnlyLiteralsClearsAndRunCodes) {
    // A single flat frame needs far fewer codes than pixels.
    const auto data = encode(1, 8, 100, 100, false, std::vector<uint8_t>(10000, 9), 256);
    EXPECT_LT(data.size(), 300u);
    const auto codes = listCodes(data);
    EXPECT_EQ(codes.front().first, 256);
    EXPECT_EQ(codes.back().first, 257);
}

TEST(GifWriter, SubBlocksAndRefusedOperations) {
    for (size_t n : {0u, 1u, 254u, 255u, 256u, 510u, 511u}) {
        MemoryStream out;
        {
            TGIFWriter writer(out);
            for (size_t i = 0; i < n; ++i)
                writer.writeByte(static_cast<uint8_t>(i));
        }
        size_t expectedSize = n + (n + 254) / 255;
        EXPECT_EQ(out.bytes().size(), expectedSize) << n;
        if (n == 255) {
            EXPECT_EQ(out.bytes()[0], 255);
        }
    }
    MemoryStream out;
    TGIFWriter writer(out);
    uint8_t b;
    try {
        writer.read(&b, 1);
        FAIL();
    } catch (const GIFStreamError& e) {
        EXPECT_STREQ(e.what(), GifMessages::InvalidStream);
    }
    EXPECT_THROW(writer.seek(0), GIFStreamError);
    EXPECT_THROW((void)writer.position(), GIFStreamError);
    EXPECT_THROW((void)writer.size(), GIFStreamError);
}

TEST(LzwStringTable, FindsWhatItStoredAndNothingElse) {
    // Strings of prefix codes and pixels as the encoders make them, the largest one (prefix 4095,
    // pixel 255, whose slot value would read as an empty slot's) among them: every string stored
    // is found with its code, others are not, and a cleared table holds nothing. Both sizes.
    std::mt19937 rng(5);
    std::set<std::pair<int, int>> unique;
    while (unique.size() < 4000)
        unique.insert({static_cast<int>(rng() % 4095), static_cast<int>(rng() % 256)});
    unique.insert({4095, 255});
    const std::vector<std::pair<int, int>> strings(unique.begin(), unique.end());
    for (const int sizeBits : {LzwStringTable::EncoderSizeBits, LzwStringTable::SimulationSizeBits}) {
        LzwStringTable table(LzwStringTable::Chains::Unbounded, sizeBits);
        EXPECT_EQ(table.find(4095, 255), -1);
        for (size_t i = 0; i < strings.size(); ++i)
            ASSERT_TRUE(table.insert(strings[i].first, strings[i].second, static_cast<int>(i % 4096)));
        EXPECT_FALSE(table.insert(strings[7].first, strings[7].second, 1)) << "already there";
        for (size_t i = 0; i < strings.size(); ++i)
            ASSERT_EQ(table.find(strings[i].first, strings[i].second), static_cast<int>(i % 4096));
        for (int prefix = 0; prefix < 4096; prefix += 13)
            for (int k = 0; k < 256; k += 7)
                if (!unique.count({prefix, k})) {
                    ASSERT_EQ(table.find(prefix, k), -1) << prefix << " " << k;
                }
        table.clear();
        for (const auto& [prefix, k] : strings)
            ASSERT_EQ(table.find(prefix, k), -1);
    }
}

TEST(LzwStringTable, BoundedChainsFillLikeTheHashedTable) {
    // The hashed table of 8009 slots: hash ((key >> 4) XOR key) mod 8009, the probe going from h
    // to h - (8009 - h), or from 0 to 8008, plus 8009 when negative. The chain from slot 1 holds
    // 4004 slots; strings whose hash lies on it fill it, one more is left out, and strings
    // hashing elsewhere still go in. A table of unbounded chains keeps them all.
    const auto hashOf = [](int prefix, int k) {
        const uint32_t key = static_cast<uint32_t>(prefix) * 256 + static_cast<uint32_t>(k);
        return ((key >> 4) ^ key) % 8009;
    };
    std::vector<bool> onChain(8009, false);
    uint32_t slot = 1;
    int chainLength = 0;
    do {
        onChain[slot] = true;
        ++chainLength;
        const int next = static_cast<int>(slot) - (8009 - static_cast<int>(slot));
        slot = static_cast<uint32_t>(next < 0 ? next + 8009 : next);
    } while (slot != 1);
    ASSERT_EQ(chainLength, 4004);
    std::vector<std::pair<int, int>> chained, elsewhere, zero;
    for (int prefix = 0; prefix < 4096 && (chained.size() < 4010 || zero.size() < 3); ++prefix)
        for (int k = 0; k < 256; ++k) {
            const uint32_t h = hashOf(prefix, k);
            (h == 0 ? zero : onChain[h] ? chained : elsewhere).push_back({prefix, k});
        }
    ASSERT_GE(zero.size(), 3u);
    LzwStringTable bounded(LzwStringTable::Chains::Bounded);
    LzwStringTable unbounded;
    // The first string hashing to slot 0 takes that slot; the next one goes on into the chain.
    EXPECT_TRUE(bounded.insert(zero[0].first, zero[0].second, 1));
    EXPECT_TRUE(bounded.insert(zero[1].first, zero[1].second, 2));
    int stored = 2;
    for (size_t i = 0; i < 4009; ++i)
        stored += bounded.insert(chained[i].first, chained[i].second, static_cast<int>(i % 4096)) ? 1 : 0;
    EXPECT_EQ(stored, 2 + 4003);
    EXPECT_EQ(bounded.find(chained[4002].first, chained[4002].second), 4002);
    EXPECT_EQ(bounded.find(chained[4003].first, chained[4003].second), -1);
    EXPECT_FALSE(bounded.insert(zero.back().first, zero.back().second, 9)) << "slot 0 and its chain are full";
    EXPECT_TRUE(bounded.insert(elsewhere[0].first, elsewhere[0].second, 5));
    EXPECT_EQ(bounded.find(elsewhere[0].first, elsewhere[0].second), 5);
    for (size_t i = 0; i < 4009; ++i)
        ASSERT_TRUE(unbounded.insert(chained[i].first, chained[i].second, static_cast<int>(i % 4096)));
    // A clear empties the chains too.
    bounded.clear();
    for (size_t i = 0; i < 4004; ++i)
        ASSERT_TRUE(bounded.insert(chained[i].first, chained[i].second, 1));
}

TEST(GifEncoder, FullHashChainsLeaveStringsOut) {
    // Maps of 2 to 6 bits whose strings fill one class of the hashed table: the strings that find
    // their chain full are left out (codes differ from a table that keeps every string), giflib
    // still reads every pixel back, and the bytes are those the GIF files written so far carry.
    const std::map<int, uint64_t> digests = {{2, 0x28bbbaee0c90b472ull},
                                             {3, 0x0b076252fa9434c7ull},
                                             {4, 0x4a3e6244738e7c35ull},
                                             {5, 0x573fe1c54769b569ull},
                                             {6, 0x1dd178fc3e5b5f93ull}};
    for (const auto& [bits, digest] : digests) {
        const int w = 97;
        const std::vector<uint8_t> pixels = test::fullChainIndexes(bits, 20000, w, 0);
        const int h = static_cast<int>(pixels.size()) / w;
        const std::vector<uint8_t> data = encode(0, bits, w, h, false, pixels, 1 << bits);
        EXPECT_NE(data, referenceLZW(bits, w, h, pixels)) << bits;
        uint64_t fnv = 1469598103934665603ull;
        for (const uint8_t b : data)
            fnv = (fnv ^ b) * 1099511628211ull;
        EXPECT_EQ(fnv, digest) << bits;
        expectGiflibDecodes(0, bits, w, h, false, pixels);
    }
}

TEST(GifEncoder, SmallMapsNeverHang) {
    // Two-bit maps can fill more entries than one probe chain holds; whatever the input, the
    // encoder finishes and giflib reads the pixels back.
    for (uint32_t seed = 0; seed < 6; ++seed) {
        const int w = 700, h = 700;
        expectGiflibDecodes(0, 2, w, h, false, randomPixels(static_cast<size_t>(w) * h, 4, seed));
        expectGiflibDecodes(0, 1, w, h, false, randomPixels(static_cast<size_t>(w) * h, 2, seed));
    }
}
