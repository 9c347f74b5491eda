// The transition effect renderer: blends, wipes, corner slides, moves, random patterns and centre
// effects, each building one frame into the output surface.
#include "convert/TransitionRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

// The slides and horizontal moves form their quotients in the 80-bit extended format (64-bit
// significand); other formats give different column counts, visibly so for some sizes.
static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must be the 80-bit extended format (64-bit significand): the transition "
              "slides and moves depend on its rounding. Build for x86 or x86-64 with the x87 format.");

namespace kelvara {

const std::array<const char*, TransitionEffectCount> TransitionEffectNames = {
    "CrossDissolve",  "FadeOutIn",      "LeftRight",      "RightLeft",      "UpDown",
    "DownUp",         "FromUpLeft",     "FromUpRight",    "FromBottomLeft", "FromBottomRight",
    "MoveLeftRight1", "MoveLeftRight2", "MoveRightLeft1", "MoveRightLeft2", "MoveUpDown1",
    "MoveUpDown2",    "MoveDownUp1",    "MoveDownUp2",    "RandomPoints",   "RandomBoxes",
    "Center1",        "Center2",        "CenterZoom1",    "CenterZoom2",
};

namespace transition_detail {

int64_t roundDiv(int64_t a, int64_t n) {
    int64_t q = a / n, r = a % n;
    if (2 * r > n || (2 * r == n && (q & 1)))
        ++q;
    return q;
}

int quotientFirstTrunc(int i, int n, int length) {
    long double quotient = static_cast<long double>(i) / static_cast<long double>(n);
    long double product = quotient * static_cast<long double>(length);
    return static_cast<int>(std::trunc(product));
}

int quotientFirstRound(int i, int n, int length) {
    long double quotient = static_cast<long double>(i) / static_cast<long double>(n);
    long double product = quotient * static_cast<long double>(length);
    // rint rounds in the default mode: to nearest, halves to even.
    return static_cast<int>(std::rint(product));
}

} // namespace transition_detail

namespace {

using transition_detail::quotientFirstRound;
using transition_detail::quotientFirstTrunc;
using transition_detail::roundDiv;

struct Surfaces {
    Bitmap& S;
    Bitmap& T;
    Bitmap& B;
    Bitmap& O;
    int W;
    int H;
    int N;
};

// Read-only rows: taking them through a const bitmap never unshares a picture.
const uint8_t* row(const Bitmap& b, int y) {
    return b.ScanLine(y);
}

// Per-byte blend of two surfaces: out = Round((wa x a + wb x b) / N) with wa + wb = N. The exact
// quotients of all possible sums are tabulated once per frame.
void blend(Surfaces& s, const Bitmap& a, int64_t wa, const Bitmap& b, int64_t wb) {
    std::vector<uint8_t> table(static_cast<size_t>(255 * s.N + 1));
    for (size_t v = 0; v < table.size(); ++v)
        table[v] = static_cast<uint8_t>(roundDiv(static_cast<int64_t>(v), s.N));
    const int bytes = s.W * 3;
    for (int y = 0; y < s.H; ++y) {
        const uint8_t* pa = row(a, y);
        const uint8_t* pb = row(b, y);
        uint8_t* po = s.O.ScanLine(y);
        for (int x = 0; x < bytes; ++x)
            po[x] = table[static_cast<size_t>(wa * pa[x] + wb * pb[x])];
    }
}

void drawAt(Bitmap& dest, int x, int y, const Bitmap& source) {
    dest.Canvas().Draw(x, y, source);
}

void copyBlock(Surfaces& s, Bitmap& from, int x, int y, int w, int h) {
    if (w <= 0 || h <= 0)
        return;
    blockCopy(s.O.Canvas(), x, y, w, h, from.Canvas(), x, y);
}

void crossDissolve(Surfaces& s, int i) {
    blend(s, s.S, s.N - i, s.T, i);
}

// Fades out to the background in the first half and in from it in the second; the half point
// picks the case by its truncation while the weights use the real half, so for odd N the
// fade-in takes one step more than the fade-out. Intended: the middle frame is the plain background.
void fadeOutIn(Surfaces& s, int i) {
    const int N = s.N;
    const int h = N / 2;
    if (i < h)
        blend(s, s.S, N - 2 * i, s.B, 2 * i);
    else if (i == h)
        s.O.Assign(s.B);
    else
        blend(s, s.B, 2 * (N - i), s.T, 2 * i - N);
}

void wipe(Surfaces& s, TransitionEffect e, int i) {
    const int W = s.W, H = s.H, N = s.N;
    if (i == 0)
        drawAt(s.O, 0, 0, s.S);
    switch (e) {
    case TransitionEffect::LeftRight:
        copyBlock(s, s.T, 0, 0, static_cast<int>(int64_t(W) * i / N), H);
        break;
    case TransitionEffect::RightLeft:
        // The two roundings can leave the last column to a later frame; intended.
        copyBlock(s, s.T, static_cast<int>(roundDiv(int64_t(N - i) * W, N)), 0,
                  static_cast<int>(roundDiv(int64_t(i) * W, N)), H);
        break;
    case TransitionEffect::UpDown:
        copyBlock(s, s.T, 0, 0, W, static_cast<int>(roundDiv(int64_t(i) * H, N)));
        break;
    default: // DownUp
        copyBlock(s, s.T, 0, static_cast<int>(roundDiv(int64_t(N - i) * H, N)), W,
                  static_cast<int>(roundDiv(int64_t(i) * H, N)));
        break;
    }
}

void cornerSlide(Surfaces& s, TransitionEffect e, int i) {
    if (i == 0)
        drawAt(s.O, 0, 0, s.S);
    const int dx = quotientFirstTrunc(s.N - i, s.N, s.W);
    const int dy = quotientFirstTrunc(s.N - i, s.N, s.H);
    switch (e) {
    case TransitionEffect::FromUpLeft:
        drawAt(s.O, -dx, -dy, s.T);
        break;
    case TransitionEffect::FromUpRight:
        drawAt(s.O, dx, -dy, s.T);
        break;
    case TransitionEffect::FromBottomLeft:
        drawAt(s.O, -dx, dy, s.T);
        break;
    default: // FromBottomRight
        drawAt(s.O, dx, dy, s.T);
        break;
    }
}

// Each row of O is k pixels taken from columns [leftFrom, leftFrom + k) of one surface followed
// by W - k pixels from columns [rightFrom, rightFrom + W - k) of the other.
void spliceRows(Surfaces& s, int k, const Bitmap& left, int leftFrom, const Bitmap& right, int rightFrom) {
    k = std::clamp(k, 0, s.W);
    const size_t leftBytes = size_t(k) * 3, rightBytes = size_t(s.W - k) * 3;
    for (int y = 0; y < s.H; ++y) {
        uint8_t* po = s.O.ScanLine(y);
        if (leftBytes)
            std::memcpy(po, row(left, y) + size_t(leftFrom) * 3, leftBytes);
        if (rightBytes)
            std::memcpy(po + leftBytes, row(right, y) + size_t(rightFrom) * 3, rightBytes);
    }
}

void horizontalMove(Surfaces& s, TransitionEffect e, int i) {
    const int W = s.W, N = s.N;
    int k;
    switch (e) {
    case TransitionEffect::MoveLeftRight1:
        k = std::clamp(quotientFirstTrunc(i, N, W), 0, W);
        spliceRows(s, k, s.T, W - k, s.S, 0);
        break;
    case TransitionEffect::MoveLeftRight2:
        k = std::clamp(quotientFirstTrunc(i, N, W), 0, W);
        spliceRows(s, k, s.T, 0, s.S, 0);
        break;
    case TransitionEffect::MoveRightLeft1:
        k = std::clamp(quotientFirstTrunc(N - i, N, W), 0, W);
        spliceRows(s, k, s.S, W - k, s.T, 0);
        break;
    default: // MoveRightLeft2, the only one that rounds
        k = std::clamp(quotientFirstRound(N - i, N, W), 0, W);
        spliceRows(s, k, s.S, 0, s.T, 0);
        break;
    }
}

// Whole rows, padding included: rows [0, k) from `upper` starting at row upperFrom, rows [k, H)
// from `lower` starting at row lowerFrom.
void stackRows(Surfaces& s, int k, const Bitmap& upper, int upperFrom, const Bitmap& lower, int lowerFrom) {
    const size_t stride = s.O.rowStride();
    for (int y = 0; y < s.H; ++y) {
        const uint8_t* from = y < k ? row(upper, upperFrom + y) : row(lower, lowerFrom + y - k);
        std::memcpy(s.O.ScanLine(y), from, stride);
    }
}

void verticalMove(Surfaces& s, TransitionEffect e, int i) {
    const int H = s.H, N = s.N;
    switch (e) {
    case TransitionEffect::MoveUpDown1: {
        const int k = static_cast<int>(int64_t(H) * i / N);
        stackRows(s, k, s.T, H - k, s.S, 0);
        break;
    }
    case TransitionEffect::MoveUpDown2: {
        const int k = static_cast<int>(int64_t(H) * i / N);
        stackRows(s, k, s.T, 0, s.S, 0);
        break;
    }
    case TransitionEffect::MoveDownUp1: {
        const int k = static_cast<int>(int64_t(H) * (N - i) / N);
        stackRows(s, k, s.S, H - k, s.T, 0);
        break;
    }
    default: { // MoveDownUp2: the target stays fixed, so its rows keep their own place
        const int k = static_cast<int>(int64_t(H) * (N - i) / N);
        stackRows(s, k, s.S, H - k, s.T, k);
        break;
    }
    }
}

void randomPoints(Surfaces& s, int i, TransitionRunState& state, TransitionRandom& random) {
    if (i == 0) {
        const size_t stride = s.O.rowStride();
        for (int y = 0; y < s.H; ++y)
            std::memcpy(s.O.ScanLine(y), row(s.S, y), stride);
        return;
    }
    const int64_t total = roundDiv(int64_t(i) * s.W * i, s.N);
    const int64_t d = total - state.placed;
    state.placed = total;
    if (d <= 0)
        return;
    for (int y = 0; y < s.H; ++y) {
        const uint8_t* pt = row(s.T, y);
        uint8_t* po = s.O.ScanLine(y);
        for (int64_t j = 0; j < d; ++j) {
            const size_t x = size_t(random.next(s.W)) * 3;
            po[x] = pt[x];
            po[x + 1] = pt[x + 1];
            po[x + 2] = pt[x + 2];
        }
    }
}

void randomBoxes(Surfaces& s, int i, TransitionRunState& state, TransitionRandom& random) {
    if (i == 0) {
        drawAt(s.O, 0, 0, s.S);
        return;
    }
    const int64_t cells = (int64_t(s.W) * s.H) / 64;
    const int64_t total = roundDiv(cells * i * i, s.N);
    const int64_t d = total - state.placed;
    state.placed = total;
    for (int64_t j = 0; j < d; ++j) {
        const int x = random.next(s.W) & ~7;
        const int y = random.next(s.H) & ~7;
        blockCopy(s.O.Canvas(), x, y, 8, 8, s.T.Canvas(), x, y);
    }
}

void centre(Surfaces& s, TransitionEffect e, int i) {
    const int W = s.W, H = s.H, N = s.N;
    const bool growing = e == TransitionEffect::Center1 || e == TransitionEffect::CenterZoom1;
    const int64_t m = growing ? i : N - i;
    const int hw = W / 2, hh = H / 2;
    const int a = static_cast<int>(m * hw / N), w = static_cast<int>(m * W / N);
    const int b = static_cast<int>(m * hh / N), h = static_cast<int>(m * H / N);
    const int left = hw - a, top = hh - b;
    if (growing) {
        if (i == 0)
            drawAt(s.O, 0, 0, s.S);
    } else {
        drawAt(s.O, 0, 0, s.T);
    }
    switch (e) {
    case TransitionEffect::Center1:
        copyBlock(s, s.T, left, top, w, h);
        break;
    case TransitionEffect::Center2:
        copyBlock(s, s.S, left, top, w, h);
        break;
    case TransitionEffect::CenterZoom1:
        // Reduces in whatever stretch mode O's context holds: a context made new since the last
        // frame averages the dropped pixels in; after a Draw they are dropped.
        if (w > 0 && h > 0)
            stretchBlockCopy(s.O.Canvas(), left, top, w, h, s.T.Canvas(), 0, 0, W, H);
        break;
    default: // CenterZoom2: the Draw of T just before set the dropping mode
        if (w > 0 && h > 0)
            stretchBlockCopy(s.O.Canvas(), left, top, w, h, s.S.Canvas(), 0, 0, W, H);
        break;
    }
}

} // namespace

void RenderTransitionFrame(int effect, int i, int n, Bitmap& source, Bitmap& target, Bitmap& background,
                           Bitmap& output, TransitionRunState& state, TransitionRandom& random) {
    Surfaces s{source, target, background, output, output.Width(), output.Height(), n};
    const auto e = static_cast<TransitionEffect>(effect);
    switch (e) {
    case TransitionEffect::CrossDissolve:
        crossDissolve(s, i);
        break;
    case TransitionEffect::FadeOutIn:
        fadeOutIn(s, i);
        break;
    case TransitionEffect::LeftRight:
    case TransitionEffect::RightLeft:
    case TransitionEffect::UpDown:
    case TransitionEffect::DownUp:
        wipe(s, e, i);
        break;
    case TransitionEffect::FromUpLeft:
    case TransitionEffect::FromUpRight:
    case TransitionEffect::FromBottomLeft:
    case TransitionEffect::FromBottomRight:
        cornerSlide(s, e, i);
        break;
    case TransitionEffect::MoveLeftRight1:
    case TransitionEffect::MoveLeftRight2:
    case TransitionEffect::MoveRightLeft1:
    case TransitionEffect::MoveRightLeft2:
        horizontalMove(s, e, i);
        break;
    case TransitionEffect::MoveUpDown1:
    case TransitionEffect::MoveUpDown2:
    case TransitionEffect::MoveDownUp1:
    case TransitionEffect::MoveDownUp2:
        verticalMove(s, e, i);
        break;
    case TransitionEffect::RandomPoints:
        randomPoints(s, i, state, random);
        break;
    case TransitionEffect::RandomBoxes:
        randomBoxes(s, i, state, random);
        break;
    case TransitionEffect::Center1:
    case TransitionEffect::Center2:
    case TransitionEffect::CenterZoom1:
    case TransitionEffect::CenterZoom2:
        centre(s, e, i);
        break;
    }
}

} // namespace kelvara
