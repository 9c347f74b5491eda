// Picking pictures by time.
#include "convert/FrameSelection.h"

#include "raster/Error.h"
#include "video/FrameSource.h"

#include <algorithm>
#include <cmath>

namespace kelvara {

PictureTimes pictureTimes(FrameReader& reader, int64_t count, int64_t lengthMs) {
    PictureTimes times;
    if (const FrameTimes* own = reader.isAvi() ? nullptr : reader.frameTimes();
        own && !own->startUs.empty()) {
        const int64_t zero = own->startUs.front();
        times.startUs.reserve(own->startUs.size());
        for (int64_t t : own->startUs)
            times.startUs.push_back(t - zero);
        times.endUs = own->endUs - zero;
        return times;
    }
    times.startUs.reserve(static_cast<size_t>(std::max<int64_t>(count, 0)));
    for (int64_t i = 0; i < count; ++i)
        times.startUs.push_back(static_cast<int64_t>(static_cast<long double>(i) * lengthMs * 1000 / count));
    times.endUs = lengthMs * 1000;
    return times;
}

void framesOfTimeRange(FrameReader& reader, int64_t count, int64_t lengthMs, int64_t fromUs, int64_t toUs,
                       int64_t& first, int64_t& last) {
    const FrameTimes* times = reader.isAvi() ? nullptr : reader.frameTimes();
    if (times && !times->startUs.empty()) {
        const std::vector<int64_t>& starts = times->startUs;
        auto from = std::lower_bound(starts.begin(), starts.end(), starts.front() + fromUs);
        auto to = std::upper_bound(starts.begin(), starts.end(), starts.front() + toUs);
        first = (from - starts.begin()) + 1;
        last = to - starts.begin();
        return;
    }
    if (lengthMs <= 0)
        throw Error("The video has no length, so a time range cannot be converted.");
    first = static_cast<int64_t>(static_cast<long double>(fromUs) * count /
                                 (static_cast<long double>(lengthMs) * 1000));
    last = static_cast<int64_t>(static_cast<long double>(toUs) * count /
                                (static_cast<long double>(lengthMs) * 1000));
    first = std::max<int64_t>(first, 1);
    last = std::min(last, count);
}

std::vector<RatePick> framesAtRate(const PictureTimes& times, int64_t first, int64_t last, double rate) {
    std::vector<RatePick> frames;
    const auto n = static_cast<int64_t>(times.startUs.size());
    first = std::max<int64_t>(first, 1);
    last = std::min(last, n);
    if (first > last || !(rate > 0))
        return frames;
    const int64_t start = times.startUs[static_cast<size_t>(first - 1)];
    const int64_t end =
        last < n ? times.startUs[static_cast<size_t>(last)] : std::max(times.endUs, times.startUs.back() + 1);
    int64_t picture = first; // the picture on display at the time looked at
    for (int64_t k = 0;; ++k) {
        const auto t =
            start + static_cast<int64_t>(std::llround(static_cast<long double>(k) * 1'000'000 / rate));
        if (t >= end)
            break;
        while (picture < last && times.startUs[static_cast<size_t>(picture)] <= t)
            ++picture;
        if (frames.empty() || frames.back().frame != picture)
            frames.push_back({picture, 1});
        else
            ++frames.back().ticks;
    }
    return frames;
}

} // namespace kelvara
