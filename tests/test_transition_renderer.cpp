// Tests of the transition renderer: the arithmetic of each effect family, the random generator and
// patterns, the centre effects' stretch modes, and the first and last frames of every effect.
#include "convert/TransitionRenderer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

using namespace kelvara;

namespace {

using transition_detail::quotientFirstRound;
using transition_detail::quotientFirstTrunc;
using transition_detail::roundDiv;

using PixelFn = std::function<Color(int x, int y)>;

void makeSurface(Bitmap& b, int w, int h, const PixelFn& f) {
    b.SetPixelFormat(PixelFormat::Bits24);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.setPixel(x, y, f(x, y));
}

// Distinct, position-dependent colours so that any misplaced pixel shows.
Color sourceColor(int x, int y) {
    return rgbColor(x * 7 + 1, y * 11 + 3, 200);
}
Color targetColor(int x, int y) {
    return rgbColor(250 - x * 5, 100 + y * 3, 17);
}

// The four surfaces of a run and its state, stepped the way the builder steps them: after each
// frame O's picture is handed on and the message queue is pumped, so O's context is new.
struct EffectRun {
    Bitmap S, T, B, O, shown;
    TransitionRunState state;
    TransitionRandom ownRandom;
    TransitionRandom* random = &ownRandom; // another run's, to go on with its numbers
    int n;

    EffectRun(
        int w, int h, int steps, PixelFn s = sourceColor, PixelFn t = targetColor,
        PixelFn b = [](int, int) { return rgbColor(40, 50, 60); })
        : n(steps) {
        makeSurface(S, w, h, s);
        makeSurface(T, w, h, t);
        makeSurface(B, w, h, b);
        O.SetPixelFormat(PixelFormat::Bits24);
        O.SetSize(w, h);
    }
    void frame(int effect, int i) {
        RenderTransitionFrame(effect, i, n, S, T, B, O, state, *random);
        shown.Assign(O);
        releaseCanvasContexts();
    }
};

bool sameRows(const Bitmap& a, const Bitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Width()) * 3) != 0)
            return false;
    return true;
}

// A 1 x 1 surface whose three bytes are all v.
PixelFn grey(int v) {
    return [v](int, int) { return rgbColor(v, v, v); };
}

} // namespace

TEST(TransitionArithmetic, ExactRoundingGoesToEven) {
    EXPECT_EQ(roundDiv(23, 2), 12); // 11.5
    EXPECT_EQ(roundDiv(21, 2), 10); // 10.5
    EXPECT_EQ(roundDiv(5, 2), 2);
    EXPECT_EQ(roundDiv(7, 2), 4);
    EXPECT_EQ(roundDiv(10, 3), 3);
    EXPECT_EQ(roundDiv(11, 3), 4);
}

TEST(TransitionArithmetic, QuotientFirstInExtendedFormat) {
    // (5 / 7) x 21 falls just below 15 in the extended format.
    EXPECT_EQ(quotientFirstTrunc(5, 7, 21), 14);
    // (3 / 10) x 95 lands just above 28.5, so it rounds up where the exact 28.5 would go to 28.
    EXPECT_EQ(quotientFirstRound(3, 10, 95), 29);
    EXPECT_EQ(quotientFirstTrunc(7, 7, 21), 21);
    EXPECT_EQ(quotientFirstTrunc(0, 7, 21), 0);
}

TEST(TransitionBlends, CrossDissolveRoundsHalvesToEven) {
    struct Case {
        int s, t, expected;
    } cases[] = {{10, 13, 12}, {10, 11, 10}, {0, 255, 128}, {255, 0, 128}};
    for (const Case& c : cases) {
        EffectRun run(1, 1, 2, grey(c.s), grey(c.t));
        run.frame(0, 0);
        EXPECT_EQ(run.O.pixel(0, 0), rgbColor(c.s, c.s, c.s));
        run.frame(0, 1);
        EXPECT_EQ(run.O.pixel(0, 0), rgbColor(c.expected, c.expected, c.expected)) << c.s << " " << c.t;
        run.frame(0, 2);
        EXPECT_EQ(run.O.pixel(0, 0), rgbColor(c.t, c.t, c.t));
    }
}

TEST(TransitionBlends, FadeOutInPassesThroughTheBackground) {
    const int S = 200, B = 10, T = 101;
    auto round = [](int num, int den) { return static_cast<int>(roundDiv(num, den)); };
    struct Case {
        int n;
        std::vector<int> frames;
    } cases[] = {
        {1, {B, T}},
        {3, {S, B, round(2 * B + T, 3), T}},
        {4, {S, round(S + B, 2), B, round(B + T, 2), T}},
        // Frame 2 is exactly B, not the blend 0.2 S + 0.8 B; frame 3 weighs B by 2(N - i) = 4 and
        // T by 2i - N = 1, frame 4 by 2 and 3.
        {5, {S, round(3 * S + 2 * B, 5), B, round(4 * B + T, 5), round(2 * B + 3 * T, 5), T}},
    };
    for (const Case& c : cases) {
        EffectRun run(1, 1, c.n, grey(S), grey(T), grey(B));
        for (int i = 0; i <= c.n; ++i) {
            run.frame(1, i);
            int v = c.frames[size_t(i)];
            EXPECT_EQ(run.O.pixel(0, 0), rgbColor(v, v, v)) << "N=" << c.n << " frame " << i;
        }
    }
}

TEST(TransitionWipes, LeftRightWidthsTruncate) {
    EffectRun run(10, 3, 3);
    const int widths[] = {0, 3, 6, 10};
    for (int i = 0; i <= 3; ++i) {
        run.frame(2, i);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(run.O.pixel(x, y), x < widths[i] ? targetColor(x, y) : sourceColor(x, y))
                    << "frame " << i << " at " << x << "," << y;
    }
}

TEST(TransitionWipes, RightLeftLeavesTheLastColumnToALaterFrame) {
    EffectRun run(5, 2, 2);
    run.frame(3, 0);
    EXPECT_TRUE(sameRows(run.O, run.S));
    run.frame(3, 1);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(run.O.pixel(x, y), (x == 2 || x == 3) ? targetColor(x, y) : sourceColor(x, y)) << x;
    run.frame(3, 2);
    EXPECT_TRUE(sameRows(run.O, run.T));
}

TEST(TransitionWipes, UpDownAndDownUpRoundTheirBlocks) {
    // H = 5, N = 2, frame 1: UpDown covers Round(2.5) = 2 rows; DownUp covers rows 2 and 3.
    EffectRun up(2, 5, 2), down(2, 5, 2);
    up.frame(4, 0);
    up.frame(4, 1);
    down.frame(5, 0);
    down.frame(5, 1);
    for (int y = 0; y < 5; ++y) {
        EXPECT_EQ(up.O.pixel(1, y), y < 2 ? targetColor(1, y) : sourceColor(1, y)) << y;
        EXPECT_EQ(down.O.pixel(1, y), (y == 2 || y == 3) ? targetColor(1, y) : sourceColor(1, y)) << y;
    }
}

TEST(TransitionSlides, FromUpLeftUsesTheExtendedOffset) {
    // W = 21, N = 7, frame 2: dx = 14, not 15; H = 14 gives dy = 10.
    EffectRun run(21, 14, 7);
    run.frame(6, 0);
    run.frame(6, 1);
    run.frame(6, 2);
    const int dx = quotientFirstTrunc(5, 7, 21), dy = quotientFirstTrunc(5, 7, 14);
    ASSERT_EQ(dx, 14);
    ASSERT_EQ(dy, 10);
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 21; ++x) {
            Color expected = (x < 21 - dx && y < 14 - dy) ? targetColor(x + dx, y + dy) : sourceColor(x, y);
            ASSERT_EQ(run.O.pixel(x, y), expected) << x << "," << y;
        }
}

TEST(TransitionSlides, CornersMirrorEachOther) {
    // W = 6, H = 4, N = 2, frame 1: offsets (3, 2).
    struct Case {
        int effect;
        int tx, ty; // where T's corner lands
    } cases[] = {{6, -3, -2}, {7, 3, -2}, {8, -3, 2}, {9, 3, 2}};
    for (const Case& c : cases) {
        EffectRun run(6, 4, 2);
        run.frame(c.effect, 0);
        run.frame(c.effect, 1);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) {
                int sx = x - c.tx, sy = y - c.ty;
                bool fromT = sx >= 0 && sx < 6 && sy >= 0 && sy < 4;
                ASSERT_EQ(run.O.pixel(x, y), fromT ? targetColor(sx, sy) : sourceColor(x, y))
                    << TransitionEffectNames[size_t(c.effect)] << " " << x << "," << y;
            }
    }
}

TEST(TransitionMoves, HorizontalMovesSpliceRows) {
    struct Case {
        int effect, w, n, i, k;
        bool leftFromTarget;
        bool leftFromEnd; // left part taken from the end of its row
        bool rightFromTarget;
    } cases[] = {
        {10, 21, 7, 5, 14, true, true, false},   // MoveLeftRight1: T[7, 21) then S[0, 7)
        {11, 21, 7, 5, 14, true, false, false},  // MoveLeftRight2: T[0, 14) then S[0, 7)
        {12, 21, 7, 2, 14, false, true, true},   // MoveRightLeft1: S[7, 21) then T[0, 7)
        {13, 95, 10, 7, 29, false, false, true}, // MoveRightLeft2: S[0, 29) then T[0, 66)
    };
    for (const Case& c : cases) {
        EffectRun run(c.w, 3, c.n);
        run.frame(c.effect, c.i);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < c.w; ++x) {
                Color expected;
                if (x < c.k) {
                    int from = c.leftFromEnd ? c.w - c.k + x : x;
                    expected = c.leftFromTarget ? targetColor(from, y) : sourceColor(from, y);
                } else {
                    int from = x - c.k;
                    expected = c.rightFromTarget ? targetColor(from, y) : sourceColor(from, y);
                }
                ASSERT_EQ(run.O.pixel(x, y), expected)
                    << TransitionEffectNames[size_t(c.effect)] << " x=" << x;
            }
    }
}

TEST(TransitionMoves, VerticalMovesCopyWholeRows) {
    // H = 10, N = 4: frame 1 gives k = 2 for the downward moves, frame 3 gives k = 2 upward.
    struct Case {
        int effect, i;
        std::function<Color(int x, int y)> expected;
    } cases[] = {
        {14, 1, [](int x, int y) { return y < 2 ? targetColor(x, 8 + y) : sourceColor(x, y - 2); }},
        {15, 1, [](int x, int y) { return y < 2 ? targetColor(x, y) : sourceColor(x, y - 2); }},
        {16, 3, [](int x, int y) { return y < 2 ? sourceColor(x, 8 + y) : targetColor(x, y - 2); }},
        {17, 3, [](int x, int y) { return y < 2 ? sourceColor(x, 8 + y) : targetColor(x, y); }},
    };
    for (const Case& c : cases) {
        EffectRun run(3, 10, 4);
        run.frame(c.effect, c.i);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 3; ++x)
                ASSERT_EQ(run.O.pixel(x, y), c.expected(x, y))
                    << TransitionEffectNames[size_t(c.effect)] << " " << x << "," << y;
    }
}

TEST(TransitionRandom, SequencesFromProgramStart) {
    TransitionRandom random;
    std::vector<int> hundred;
    for (int j = 0; j < 5; ++j)
        hundred.push_back(random.next(100));
    EXPECT_EQ(hundred, (std::vector<int>{0, 3, 86, 20, 27}));
    TransitionRandom fresh;
    std::vector<int> ten;
    for (int j = 0; j < 10; ++j)
        ten.push_back(fresh.next(10));
    EXPECT_EQ(ten, (std::vector<int>{0, 0, 8, 2, 2, 6, 3, 1, 3, 4}));
}

TEST(TransitionRandom, RandomPointsDrawsRowByRow) {
    // W = 4, H = 3, N = 2: frame 1 draws 2 per row, frame 2 six more per row.
    EffectRun run(4, 3, 2);
    run.ownRandom = TransitionRandom(12345);
    run.frame(18, 0);
    EXPECT_TRUE(sameRows(run.O, run.S));
    EXPECT_EQ(run.random->state(), 12345u);

    Bitmap expected;
    expected.Assign(run.S);
    TransitionRandom replayer(12345);
    auto replay = [&](int perRow) {
        for (int y = 0; y < 3; ++y)
            for (int j = 0; j < perRow; ++j) {
                int x = replayer.next(4);
                expected.setPixel(x, y, targetColor(x, y));
            }
    };
    replay(2);
    uint32_t afterFrame1 = replayer.state();
    replay(6);
    uint32_t afterFrame2 = replayer.state();

    run.frame(18, 1);
    EXPECT_EQ(run.state.placed, 2);
    EXPECT_EQ(run.random->state(), afterFrame1);
    run.frame(18, 2);
    EXPECT_EQ(run.state.placed, 8);
    EXPECT_EQ(run.random->state(), afterFrame2);
    EXPECT_TRUE(sameRows(run.O, expected));
}

TEST(TransitionRandom, ASecondRunContinuesTheGenerator) {
    // A second run on the same generator goes on with its numbers; a new generator starts over.
    EffectRun first(16, 16, 3), second(16, 16, 3), fresh(16, 16, 3);
    second.random = &first.ownRandom;
    for (int i = 0; i <= 3; ++i)
        first.frame(18, i);
    for (int i = 0; i <= 3; ++i)
        second.frame(18, i);
    for (int i = 0; i <= 3; ++i)
        fresh.frame(18, i);
    EXPECT_FALSE(sameRows(first.O, second.O));
    EXPECT_TRUE(sameRows(first.O, fresh.O));
}

TEST(TransitionRandom, RandomBoxesTotalsAndPlacement) {
    EffectRun run(10, 10, 10);
    run.ownRandom = TransitionRandom(777);
    run.frame(19, 0);
    EXPECT_TRUE(sameRows(run.O, run.S));
    const int64_t totals[] = {0, 0, 1, 2, 2, 4, 5, 6, 8, 10};
    Bitmap expected;
    expected.Assign(run.S);
    TransitionRandom replayer(777);
    int64_t placed = 0;
    for (int i = 1; i <= 10; ++i) {
        run.frame(19, i);
        EXPECT_EQ(run.state.placed, totals[i - 1]) << "frame " << i;
        // Replay the frame's boxes: x then y, each a multiple of 8, clipped at the edges.
        for (int64_t j = placed; j < totals[i - 1]; ++j) {
            int bx = replayer.next(10) & ~7, by = replayer.next(10) & ~7;
            for (int y = by; y < std::min(10, by + 8); ++y)
                for (int x = bx; x < std::min(10, bx + 8); ++x)
                    expected.setPixel(x, y, targetColor(x, y));
        }
        EXPECT_EQ(replayer.state(), run.random->state()) << "frame " << i << " draws two numbers per box";
        placed = totals[i - 1];
        EXPECT_TRUE(sameRows(run.O, expected)) << "frame " << i;
    }
}

TEST(TransitionRandom, RandomBoxesBelowOneCellKeepsTheSource) {
    EffectRun run(7, 9, 5);
    for (int i = 0; i <= 5; ++i) {
        run.frame(19, i);
        EXPECT_TRUE(sameRows(run.O, run.S)) << "frame " << i;
    }
    EXPECT_EQ(run.state.placed, 0);
}

TEST(TransitionCentre, Center1GrowsACentredRectangle) {
    EffectRun run(11, 7, 2);
    run.frame(20, 0);
    run.frame(20, 1);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 11; ++x) {
            bool inside = x >= 3 && x <= 7 && y >= 2 && y <= 4;
            ASSERT_EQ(run.O.pixel(x, y), inside ? targetColor(x, y) : sourceColor(x, y)) << x << "," << y;
        }
}

TEST(TransitionCentre, Center2ShrinksTheSourceOverTheTarget) {
    EffectRun run(11, 7, 2);
    run.frame(21, 1); // m = 1: the same rectangle, now from S over T
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 11; ++x) {
            bool inside = x >= 3 && x <= 7 && y >= 2 && y <= 4;
            ASSERT_EQ(run.O.pixel(x, y), inside ? sourceColor(x, y) : targetColor(x, y)) << x << "," << y;
        }
}

TEST(TransitionCentre, CenterZoom1AveragesAndCenterZoom2Drops) {
    // Checkerboards scaled by one half: every 2 x 2 block holds two black and two white pixels.
    // Averaging gives mid grey (510 / 4 rounded); dropping keeps the even pixel, which is white.
    auto checker = [](int x, int y) { return ((x + y) % 2) ? ColorBlack : ColorWhite; };
    EffectRun zoom1(
        8, 8, 2, [](int, int) { return rgbColor(9, 9, 9); }, checker);
    zoom1.frame(22, 0);
    zoom1.frame(22, 1);
    EffectRun zoom2(8, 8, 2, checker, [](int, int) { return rgbColor(9, 9, 9); });
    zoom2.frame(23, 0);
    zoom2.frame(23, 1);
    // R: left 4 - 2 = 2, width 4, the same vertically.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            bool inside = x >= 2 && x < 6 && y >= 2 && y < 6;
            EXPECT_EQ(zoom1.O.pixel(x, y), inside ? rgbColor(128, 128, 128) : rgbColor(9, 9, 9))
                << x << "," << y;
            EXPECT_EQ(zoom2.O.pixel(x, y), inside ? ColorWhite : rgbColor(9, 9, 9)) << x << "," << y;
        }
}

TEST(TransitionFrames, FirstFrameIsSourceAndLastIsTargetExceptRandom) {
    const int sizes[][2] = {{1, 1}, {13, 7}, {21, 17}};
    for (const auto& size : sizes)
        for (int n : {1, 2, 7}) {
            for (int e = 0; e < TransitionEffectCount; ++e) {
                EffectRun run(size[0], size[1], n);
                for (int i = 0; i <= n; ++i) {
                    run.frame(e, i);
                    if (i == 0 && !(e == 1 && n == 1)) {
                        EXPECT_TRUE(sameRows(run.O, run.S))
                            << TransitionEffectNames[size_t(e)] << " frame 0, " << size[0] << "x" << size[1];
                    }
                }
                if (e != 18 && e != 19) {
                    EXPECT_TRUE(sameRows(run.O, run.T)) << TransitionEffectNames[size_t(e)] << " frame N, "
                                                        << size[0] << "x" << size[1] << " N=" << n;
                }
            }
        }
}

TEST(TransitionFrames, EffectChangeMidRunContinuesFromTheOutput) {
    // LeftRight for frames 0 and 1, then UpDown for frame 2: O keeps the left third of T and
    // adds the top two thirds.
    EffectRun run(9, 9, 3);
    run.frame(2, 0);
    run.frame(2, 1);
    run.frame(4, 2);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(run.O.pixel(x, y), (x < 3 || y < 6) ? targetColor(x, y) : sourceColor(x, y));
}
