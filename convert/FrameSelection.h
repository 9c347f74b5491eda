// Which pictures of a video a range, a step or a frame rate picks, by the pictures' own times
// where the file carries them and by the frame count and the length where it does not (AVI files).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvara {

class FrameReader;

// When each picture starts, counted from the first, and when the last ends, in microseconds;
// worked out from the frame count and the length for files without times of their own.
struct PictureTimes {
    std::vector<int64_t> startUs;
    int64_t endUs = 0;
};

// The times of the pictures of the open reader; count and lengthMs (the video's facts) serve
// files without times of their own.
PictureTimes pictureTimes(FrameReader& reader, int64_t count, int64_t lengthMs);

// The 1-based frames of a time range, as the GIF conversion takes them: by the pictures' own
// times where the reader gives them, else by Trunc(t x count / length). first > last when none.
void framesOfTimeRange(FrameReader& reader, int64_t count, int64_t lengthMs, int64_t fromUs, int64_t toUs,
                       int64_t& first, int64_t& last);

// A picture a frame rate takes, and for how many of the rate's ticks it stays on display.
struct RatePick {
    int64_t frame = 0; // 1-based
    int ticks = 1;
};

// The 1-based frames first..last that a frame rate takes: for each time start + k / rate before
// the end of frame last (start being the start of frame first), the picture on display then.
// Ticks that show the picture taken before lengthen it rather than repeat it.
std::vector<RatePick> framesAtRate(const PictureTimes& times, int64_t first, int64_t last, double rate);

} // namespace kelvara
