// GIF frame delays from the video's own timing.
#include "convert/GifDelays.h"

#include "video/FrameSource.h"

#include <algorithm>
#include <limits>

namespace kelvara {

namespace {

constexpr int64_t UsPerHundredth = 10'000;
// Timestamps are whole microseconds rounded from the file's own clock: an end this close below
// a hundredth counts as on it.
constexpr int64_t Slack = 100;

} // namespace

std::vector<uint16_t> gifDelaysForDurations(const std::vector<int64_t>& durationsUs, int minimum) {
    std::vector<uint16_t> delays;
    delays.reserve(durationsUs.size());
    int64_t carried = 0; // microseconds of frames already played not yet given to a delay
    for (const int64_t duration : durationsUs) {
        const int64_t total = carried + std::max<int64_t>(0, duration);
        int64_t delay = (total + Slack) / UsPerHundredth;
        carried = total - delay * UsPerHundredth;
        if (delay < minimum) {
            delay = minimum;
            carried = 0;
        }
        delays.push_back(
            static_cast<uint16_t>(std::min<int64_t>(delay, std::numeric_limits<uint16_t>::max())));
    }
    return delays;
}

std::function<int64_t(int64_t)> pictureStartsUs(FrameReader& reader, int64_t frameCount) {
    if (!reader.isAvi()) {
        if (const FrameTimes* times = reader.frameTimes(); times && !times->startUs.empty()) {
            const int64_t origin = times->startUs.front();
            const std::vector<int64_t>& starts = times->startUs;
            // A last picture whose packet does not tell its duration lasts as long as the one
            // before it: a variable frame rate's last part keeps its own pace.
            int64_t end = times->endUs;
            if (!times->endTold && starts.size() >= 2)
                end = starts.back() + std::max<int64_t>(0, starts.back() - starts[starts.size() - 2]);
            return [&starts, origin, end, frameCount](int64_t position) {
                const int64_t known = static_cast<int64_t>(starts.size());
                if (position < known && position < frameCount)
                    return starts[size_t(position)] - origin;
                return end - origin;
            };
        }
        const double fps = reader.facts().fps;
        if (!(fps > 0))
            return {};
        return [fps](int64_t position) { return static_cast<int64_t>(double(position) * 1e6 / fps + 0.5); };
    }
    // AVI positions are evenly spaced by the stream's rate (rate / scale pictures a second).
    const AviStreamInfo& info = reader.streamInfo();
    if (info.rate == 0 || info.scale == 0)
        return {};
    const uint64_t rate = info.rate, scale = info.scale;
    return [rate, scale](int64_t position) {
        const unsigned __int128 us = static_cast<unsigned __int128>(position) * scale * 1'000'000 + rate / 2;
        return static_cast<int64_t>(us / rate);
    };
}

std::vector<int64_t> takenPictureSpansUs(int64_t first, int64_t count, int step,
                                         const std::function<int64_t(int64_t)>& startUs) {
    std::vector<int64_t> spans;
    spans.reserve(size_t(std::max<int64_t>(0, count)));
    for (int64_t k = 0; k < count; ++k) {
        const int64_t position = first + k * step;
        const int64_t next = k + 1 < count ? position + step : position + 1;
        spans.push_back(startUs(next) - startUs(position));
    }
    return spans;
}

} // namespace kelvara
