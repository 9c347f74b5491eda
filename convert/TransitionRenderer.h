// The transition effect renderer: builds frame i of one of the 24 effects into the output surface.
#pragma once

#include "raster/Bitmap.h"

#include <array>
#include <cstdint>

namespace kelvara {

inline constexpr int TransitionEffectCount = 24;

// The effects in the order of the effect list; the value is the effect index.
enum class TransitionEffect : int {
    CrossDissolve,
    FadeOutIn,
    LeftRight,
    RightLeft,
    UpDown,
    DownUp,
    FromUpLeft,
    FromUpRight,
    FromBottomLeft,
    FromBottomRight,
    MoveLeftRight1,
    MoveLeftRight2,
    MoveRightLeft1,
    MoveRightLeft2,
    MoveUpDown1,
    MoveUpDown2,
    MoveDownUp1,
    MoveDownUp2,
    RandomPoints,
    RandomBoxes,
    Center1,
    Center2,
    CenterZoom1,
    CenterZoom2,
};

// The item texts of the effect list, by effect index.
extern const std::array<const char*, TransitionEffectCount> TransitionEffectNames;

// What a run carries from frame to frame besides the content of the output surface: the
// running total of points or boxes the random effects have placed. Zero when a run starts.
struct TransitionRunState {
    int64_t placed = 0;
};

// The generator of the random effects: state := state x 134775813 + 1 (mod 2^32), result
// (state x n) >> 32, in 0..n - 1. A new one starts at 0 and is never seeded. Its owner keeps it
// from run to run (the desktop program one for its session), so a run goes on with the numbers
// where the run before stopped.
class TransitionRandom {
public:
    explicit TransitionRandom(uint32_t state = 0) : m_state(state) {}
    int next(int n) {
        m_state = m_state * 134775813u + 1u;
        return static_cast<int>((uint64_t(m_state) * uint64_t(uint32_t(n))) >> 32);
    }
    uint32_t state() const { return m_state; }

private:
    uint32_t m_state;
};

// Builds frame i (0..n) of the effect into output from the source, target and background
// surfaces, all four 24-bit and of the same size (at least 1 x 1), with 1 <= n. The output is
// not cleared between frames: frame i starts from frame i - 1 of the same run. The random
// effects draw their numbers from random.
void RenderTransitionFrame(int effect, int i, int n, Bitmap& source, Bitmap& target, Bitmap& background,
                           Bitmap& output, TransitionRunState& state, TransitionRandom& random);

namespace transition_detail {
// Round(a / n) of the exact fraction, halves to even; a >= 0, n >= 1.
int64_t roundDiv(int64_t a, int64_t n);
// Trunc((i / n) x length) and Round((i / n) x length), the quotient formed first in the 80-bit
// extended format and the product rounded in it before the result is truncated or rounded.
int quotientFirstTrunc(int i, int n, int length);
int quotientFirstRound(int i, int n, int length);
} // namespace transition_detail

} // namespace kelvara
