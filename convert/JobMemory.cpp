#include "convert/JobMemory.h"

#include <algorithm>
#include <limits>

namespace kelvara {

namespace {

uint64_t pixelsOf(int width, int height) {
    return uint64_t(std::max(width, 0)) * uint64_t(std::max(height, 0));
}

// What any job holds besides its frames: the program, the decoder and its buffers.
constexpr uint64_t JobBase = uint64_t(96) << 20;

uint64_t saturatingMultiply(uint64_t a, uint64_t b) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a)
        return std::numeric_limits<uint64_t>::max();
    return a * b;
}

} // namespace

uint64_t heldGifFramesMemory(int width, int height, int64_t frames) {
    // Measured at 1920 x 1080 and 3840 x 2160: five bytes a pixel for each frame kept (the 24-bit
    // picture, its indices, the stored copy), and about eight for the frame being built.
    const uint64_t pixels = pixelsOf(width, height);
    const uint64_t perFrame = saturatingMultiply(pixels, 5);
    return JobBase + saturatingMultiply(perFrame, uint64_t(std::max<int64_t>(frames, 0))) + pixels * 8;
}

uint64_t streamedGifFramesMemory(int width, int height, int framesInFlight) {
    // Each frame in flight: the 24-bit picture, its indices and the frame's compressed bytes.
    const uint64_t pixels = pixelsOf(width, height);
    return JobBase + saturatingMultiply(pixels * 5, uint64_t(std::max(framesInFlight, 1)));
}

uint64_t heldPicturesMemory(int width, int height, int64_t pictures) {
    const uint64_t pixels = pixelsOf(width, height);
    return JobBase + saturatingMultiply(pixels * 3, uint64_t(std::max<int64_t>(pictures, 0))) + pixels * 8;
}

std::string memoryRefusal(const std::string& what, uint64_t needed, uint64_t limit, const char* advice) {
    const auto megabytes = [](uint64_t bytes) {
        return std::to_string(bytes / (1 << 20) + (bytes % (1 << 20) != 0 ? 1 : 0));
    };
    return what + " needs about " + megabytes(needed) + " MB of memory, more than the " + megabytes(limit) +
           " MB a job may use: " + advice + ".";
}

void checkMemoryNeed(const std::string& what, uint64_t needed, uint64_t limit, const char* advice) {
    if (needed > limit)
        throw MemoryLimitError(memoryRefusal(what, needed, limit, advice));
}

std::string gifFramesWords(int64_t frames, int width, int height) {
    return "A GIF of " + std::to_string(frames) + (frames == 1 ? " frame" : " frames") + " of " +
           std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

std::optional<uint64_t> memorySizeFromText(const std::string& text) {
    std::string number = text;
    // "2GB" and "2GiB" say the same as "2G".
    const auto unitAt = [&](size_t at) {
        return std::string("KkMmGg").find(number[at]) != std::string::npos;
    };
    if (number.size() >= 3 && (number.ends_with("iB") || number.ends_with("ib")) && unitAt(number.size() - 3))
        number.resize(number.size() - 2);
    else if (number.size() >= 2 && (number.back() == 'B' || number.back() == 'b') &&
             unitAt(number.size() - 2))
        number.pop_back();
    if (number.empty())
        return std::nullopt;
    int shift = 0;
    switch (number.back()) {
    case 'K':
    case 'k':
        shift = 10;
        break;
    case 'M':
    case 'm':
        shift = 20;
        break;
    case 'G':
    case 'g':
        shift = 30;
        break;
    default:
        break;
    }
    if (shift != 0)
        number.pop_back();
    if (number.empty() || number.size() > 12 ||
        number.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(number.begin(), number.end(), '.') > 1 || number == ".")
        return std::nullopt;
    const long double bytes = std::stold(number) * static_cast<long double>(uint64_t(1) << shift);
    if (bytes < 1 || bytes > static_cast<long double>(uint64_t(1) << 50))
        return std::nullopt;
    return static_cast<uint64_t>(bytes);
}

} // namespace kelvara
