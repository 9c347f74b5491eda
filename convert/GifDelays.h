// GIF frame delays that follow the video's own timing: how long each picture taken shows, and
// those times in the hundredths of a second a GIF counts.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace kelvara {

class FrameReader;

// The GIF delays, in hundredths of a second, of frames that last the given times (microseconds),
// in the order they play. Each frame ends at the hundredth its end falls in, what is cut off being
// carried to the next, so that the frames end within a hundredth of their own ends and the GIF
// lasts as long as the frames do, to within a hundredth (30 frames a second give 3, 3, 4, ...).
// A delay is at least minimum (players show shorter ones far longer); a frame made longer so
// carries nothing on.
std::vector<uint16_t> gifDelaysForDurations(const std::vector<int64_t>& durationsUs, int minimum = 2);

// When each position of the open reader's video starts, in microseconds, for positions 0 to
// frameCount (the last being the end of the last picture): the pictures' own times where they
// carry them (a last picture of untold duration lasting as long as the one before it), else
// evenly spaced by the stream's rate. Empty when the video tells neither.
std::function<int64_t(int64_t)> pictureStartsUs(FrameReader& reader, int64_t frameCount);

// How long each of count pictures taken shows, in the order they are read: the positions first,
// first + step, ... (0-based), each lasting until the next one taken starts, the last one its own
// duration.
std::vector<int64_t> takenPictureSpansUs(int64_t first, int64_t count, int step,
                                         const std::function<int64_t(int64_t)>& startUs);

} // namespace kelvara
