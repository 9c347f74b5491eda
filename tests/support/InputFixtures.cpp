// Fixtures of the picture reader's tests.
#include "support/InputFixtures.h"

#include "support/TestUtil.h"

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
    ProcessResult size = runProcess("identify -format '%w %h\\n' " + shellQuoted(path + "[0]"));
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
