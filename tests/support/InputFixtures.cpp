// Fixtures of the picture reader's tests.
#include "support/InputFixtures.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kelvara::test {

void writePatternPpm(const std::string& path, int width, int height) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const char rgb[3] = {static_cast<char>(x * 7 + 3), static_cast<char>(y * 11 + 5),
                                 static_cast<char>((x * y + x + y) * 5)};
            out.write(rgb, 3);
        }
}

bool imageMagickConvert(const std::string& arguments) {
    return runProcess("convert " + arguments).exitCode == 0;
}

std::vector<uint8_t> imageMagickRgb(const std::string& path, int& width, int& height) {
    // The size once upright: a quarter turn swaps the sides.
    ProcessResult size =
        runProcess("convert " + shellQuoted(path + "[0]") + " -auto-orient -format '%w %h\\n' info:");
    if (size.exitCode != 0 || std::sscanf(size.out.c_str(), "%d %d", &width, &height) != 2)
        return {};
    ScratchDir dir;
    const std::string raw = dir.file("pixels.rgb");
    ProcessResult r =
        runProcess("convert " + shellQuoted(path + "[0]") +
                   " -auto-orient -background white -alpha remove -alpha off -colorspace sRGB -depth 8 " +
                   shellQuoted("rgb:" + raw));
    if (r.exitCode != 0)
        return {};
    std::ifstream in(raw, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != size_t(width) * height * 3)
        return {};
    return bytes;
}

int maxChannelDifference(const Bitmap& picture, const std::vector<uint8_t>& rgb, int width, int height) {
    if (picture.Width() != width || picture.Height() != height || rgb.size() != size_t(width) * height * 3)
        return -1;
    int worst = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Color c = picture.pixel(x, y);
            const uint8_t* p = rgb.data() + (size_t(y) * width + x) * 3;
            worst = std::max(
                {worst, std::abs(redOf(c) - p[0]), std::abs(greenOf(c) - p[1]), std::abs(blueOf(c) - p[2])});
        }
    return worst;
}

namespace {
void putBe16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}
} // namespace

void setJpegSize(std::vector<uint8_t>& b, uint32_t width, uint32_t height) {
    for (size_t at = 2; at + 9 < b.size(); ++at)
        if (b[at] == 0xFF && (b[at + 1] == 0xC0 || b[at + 1] == 0xC2)) {
            putBe16(b, at + 5, height);
            putBe16(b, at + 7, width);
            return;
        }
    ADD_FAILURE() << "no start of frame";
}

void setPngSize(std::vector<uint8_t>& b, uint32_t width, uint32_t height) {
    putBe16(b, 16, width >> 16);
    putBe16(b, 18, width & 0xFFFF);
    putBe16(b, 20, height >> 16);
    putBe16(b, 22, height & 0xFFFF);
    const uint32_t crc = uint32_t(::crc32(::crc32(0, nullptr, 0), b.data() + 12, 17));
    putBe16(b, 29, crc >> 16);
    putBe16(b, 31, crc & 0xFFFF);
}

void setTiffField(std::vector<uint8_t>& b, uint16_t tag, uint32_t value) {
    auto le16 = [&](size_t at) { return uint32_t(b[at] | (b[at + 1] << 8)); };
    ASSERT_EQ(b[0], 'I');
    const size_t ifd = le16(4) | (le16(6) << 16);
    for (uint32_t i = 0, n = le16(ifd); i < n; ++i) {
        const size_t entry = ifd + 2 + 12 * i;
        if (le16(entry) != tag)
            continue;
        const int bytes = le16(entry + 2) == 3 ? 2 : 4;
        for (int k = 0; k < bytes; ++k)
            b[entry + 8 + k] = uint8_t(value >> (8 * k));
        return;
    }
    ADD_FAILURE() << "no field " << tag;
}

std::vector<uint8_t> damaged(const std::vector<uint8_t>& bytes, std::mt19937& random) {
    std::vector<uint8_t> out = bytes;
    if (out.empty())
        return out;
    auto position = [&](size_t limit) { return std::uniform_int_distribution<size_t>(0, limit - 1)(random); };
    // Headers hold most of the fields worth damaging, so the first bytes are hit more often.
    auto target = [&]() {
        return (random() % 2) ? position(std::min<size_t>(out.size(), 64)) : position(out.size());
    };
    switch (random() % 4) {
    case 0: { // overwrite a few bytes
        const int count = 1 + int(random() % 4);
        for (int i = 0; i < count; ++i)
            out[target()] = static_cast<uint8_t>(random());
        break;
    }
    case 1: // cut the file short
        out.resize(position(out.size()));
        break;
    case 2: { // a 16-bit field at an extreme
        const size_t p = target();
        const uint8_t v = (random() % 2) ? 0xFF : 0x00;
        out[p] = v;
        if (p + 1 < out.size())
            out[p + 1] = v;
        break;
    }
    default: { // both: overwrite, then cut
        out[target()] = static_cast<uint8_t>(random());
        out.resize(position(out.size()) + 1);
        break;
    }
    }
    return out;
}

} // namespace kelvara::test
