// Tests of the opt-in GIF choices: the high-quality colour mode, inter-frame optimisation and
// fitting a GIF under a file size, in the engine, the jobs and kelvara-cli.
#include "convert/AviToGif.h"
#include "convert/GifSizeFit.h"
#include "convert/TransitionGif.h"
#include "gif/GifDocument.h"
#include "gif/GifLossy.h"
#include "gif/GifOptimize.h"
#include "gif/GifPaletteSearch.h"
#include "gif/GifRefined.h"
#include "gif/GifTemporal.h"
#include "raster/Stream.h"
#include "support/AviWriter.h"
#include "support/GifDecode.h"
#include "support/GifJobSupport.h"
#include "support/TestUtil.h"
#include "video/FrameSource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <regex>

using namespace kelvara;
using namespace kelvara::test;

namespace {

class SilentObserver : public JobObserver {
public:
    void setProgressRange(int, int) override {}
    void setProgressPosition(int) override {}
};

std::vector<uint8_t> saved(const TGIFDocument& document) {
    MemoryStream stream;
    document.SaveToStream(stream);
    return stream.bytes();
}

// Each frame as shown: drawn over the picture before it (every frame here keeps what is under
// it), transparent pixels leaving it as it was. 0xRRGGBB per pixel.
std::vector<std::vector<uint32_t>> shownFrames(const GiflibImage& gif) {
    std::vector<std::vector<uint32_t>> shown;
    std::vector<uint32_t> screen(size_t(gif.screenWidth) * size_t(gif.screenHeight), 0);
    for (const GiflibFrame& f : gif.frames) {
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const int index = f.indices[size_t(y) * size_t(f.width) + size_t(x)];
                if (index == f.transparentIndex)
                    continue;
                const auto& c = f.colors.at(size_t(index));
                screen[size_t(f.top + y) * size_t(gif.screenWidth) + size_t(f.left + x)] =
                    (uint32_t(c[0]) << 16) | (uint32_t(c[1]) << 8) | c[2];
            }
        shown.push_back(screen);
    }
    return shown;
}

// What a viewer sees over time: each picture shown and for how long (hundredths), a picture shown
// by several frames in a row counted once.
std::vector<std::pair<std::vector<uint32_t>, int>> timeline(const GiflibImage& gif) {
    std::vector<std::pair<std::vector<uint32_t>, int>> seen;
    const std::vector<std::vector<uint32_t>> shown = shownFrames(gif);
    for (size_t i = 0; i < shown.size(); ++i) {
        if (!seen.empty() && seen.back().first == shown[i])
            seen.back().second += gif.frames[i].delay;
        else
            seen.emplace_back(shown[i], gif.frames[i].delay);
    }
    return seen;
}

bool sameBitmap(const Bitmap& a, const Bitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return false;
    return true;
}

// The peak signal-to-noise ratio of a shown frame against the picture it was made from, in dB.
double psnr(const std::vector<uint32_t>& shown, const Bitmap& source) {
    double sum = 0;
    for (int y = 0; y < source.Height(); ++y)
        for (int x = 0; x < source.Width(); ++x) {
            const Color c = source.pixel(x, y);
            const uint32_t s = shown[size_t(y) * size_t(source.Width()) + size_t(x)];
            const int d[3] = {int(s >> 16) - redOf(c), int((s >> 8) & 0xFF) - greenOf(c),
                              int(s & 0xFF) - blueOf(c)};
            sum += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        }
    const double mse = sum / (3.0 * source.Width() * source.Height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A document as the jobs make it: the looping block on the first frame and a control block with
// the delay on every frame.
void addJobFrame(TGIFDocument& document, const Bitmap& picture, int delay) {
    const int j = document.AddFrame(picture);
    TGIFSubImage& frame = document.Frame(j);
    if (j == 0)
        frame.Extensions().Append(std::make_unique<TGIFAppExtNSLoop>(&frame));
    auto control = std::make_unique<TGIFGraphicControlExtension>(&frame);
    control->SetDelayHundredths(static_cast<uint16_t>(delay));
    frame.Extensions().Append(std::move(control));
}

std::unique_ptr<TGIFDocument> jobDocument(GifQuality quality) {
    auto document = std::make_unique<TGIFDocument>();
    document->SetReductionMode(reductionModeFor(quality));
    document->SetDitherKind(GifDitherKind::FloydSteinberg);
    return document;
}

// A picture of few colours: bands of a small set.
std::unique_ptr<Bitmap> bands(int width, int height, int colours) {
    return makeBitmap24(width, height, [&](int x, int y) {
        const int k = (x * 7 + y * 3) % colours;
        return rgbColor(k * 37 % 256, k * 101 % 256, k * 13 % 256);
    });
}

} // namespace

TEST(GifHighQuality, FewColoursAreKeptExactly) {
    // Odd and prime sizes; each frame has at most 256 colours, so each keeps them all.
    const struct {
        int width, height, colours;
    } cases[] = {{1, 1, 1}, {7, 3, 5}, {113, 157, 256}, {64, 9, 2}};
    for (const auto& c : cases) {
        auto document = jobDocument(GifQuality::High);
        auto picture = bands(c.width, c.height, c.colours);
        addJobFrame(*document, *picture, 10);
        const GiflibImage gif = decodeWithGiflib(saved(*document));
        ASSERT_EQ(gif.frames.size(), 1u);
        EXPECT_LE(gif.frames[0].colors.size(), 256u);
        EXPECT_EQ(psnr(shownFrames(gif)[0], *picture), 99) << c.width << "x" << c.height;
    }
}

TEST(GifHighQuality, ManyColoursComeCloserThanTheClassicMode) {
    // Smooth gradients with noise: far more than 256 colours. The refined palette must beat the
    // classic one clearly, with and without diffusion, and every index must lie in its table.
    for (const GifDitherKind dither : {GifDitherKind::Nearest, GifDitherKind::FloydSteinberg}) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            auto picture = gradientNoiseFrame(96, 64, seed);
            double quality[2];
            for (const GifQuality mode : {GifQuality::Classic, GifQuality::High}) {
                auto document = jobDocument(mode);
                document->SetDitherKind(dither);
                addJobFrame(*document, *picture, 10);
                const GiflibImage gif = decodeWithGiflib(saved(*document));
                ASSERT_EQ(gif.frames.size(), 1u);
                for (const uint8_t index : gif.frames[0].indices)
                    ASSERT_LT(index, gif.frames[0].colors.size());
                quality[mode == GifQuality::High] = psnr(shownFrames(gif)[0], *picture);
            }
            EXPECT_GT(quality[1], quality[0] + 1.5) << "seed " << seed << " dither " << int(dither);
        }
    }
}

// The exact search gives the lowest index among the entries nearest by squared distance, with or
// without a hint, whatever the palette's size: palettes with repeated entries (ties), a few
// entries, a full table of close greys, and colours far outside them.
TEST(GifHighQuality, NearestSearchIsExactAndTiesGoToTheLowestIndex) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const int size : {1, 2, 7, 16, 17, 100, 255, 256}) {
        std::vector<GifRGB> palette(static_cast<size_t>(size));
        for (int i = 0; i < size; ++i) {
            if (size == 256) {
                const auto v = static_cast<uint8_t>(i);
                palette[size_t(i)] = GifRGB{v, v, static_cast<uint8_t>(255 - v)};
            } else if (i > 0 && i % 3 == 0) {
                palette[size_t(i)] = palette[size_t(i / 2)]; // the same colour at a higher index
            } else {
                palette[size_t(i)] =
                    GifRGB{static_cast<uint8_t>(byte(random)), static_cast<uint8_t>(byte(random)),
                           static_cast<uint8_t>(byte(random))};
            }
        }
        const NearestSearch search(palette);
        for (int probe = 0; probe < 3000; ++probe) {
            const int r = byte(random), g = byte(random), b = byte(random);
            int expected = 0, best = INT_MAX;
            for (int i = 0; i < size; ++i) {
                const GifRGB& e = palette[size_t(i)];
                const int d =
                    (e.red - r) * (e.red - r) + (e.green - g) * (e.green - g) + (e.blue - b) * (e.blue - b);
                if (d < best) {
                    best = d;
                    expected = i;
                }
            }
            ASSERT_EQ(search.find(r, g, b), expected)
                << size << " entries, colour " << r << "," << g << "," << b;
            const int hint = probe % size;
            ASSERT_EQ(search.find(r, g, b, hint), expected) << size << " entries, hint " << hint;
        }
        for (int i = 0; i < size; ++i) {
            const GifRGB& e = palette[size_t(i)];
            const int found = search.find(e.red, e.green, e.blue);
            EXPECT_LE(found, i);
            EXPECT_TRUE(palette[size_t(found)] == e);
        }
    }
}

TEST(GifHighQuality, ReductionIsTheSameOnEveryRun) {
    auto picture = gradientNoiseFrame(50, 30, 7);
    std::vector<uint8_t> first;
    for (int run = 0; run < 2; ++run) {
        auto document = jobDocument(GifQuality::High);
        addJobFrame(*document, *picture, 10);
        if (run == 0)
            first = saved(*document);
        else
            EXPECT_EQ(saved(*document), first);
    }
}

// The colours a reduced frame shows, 0xRRGGBB per pixel.
std::vector<uint32_t> shownColours(const ReducedFrame& frame) {
    std::vector<uint32_t> colours;
    for (const uint8_t index : frame.indices) {
        const GifRGB& c = frame.colors.at(index);
        colours.push_back((uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | c.blue);
    }
    return colours;
}

TEST(GifQualityLevels, StillPicturesStayStill) {
    // A still clip: after the first frame nothing changes, at every level, and below the full
    // quality also with noise of a level (a camera on a tripod). Where the picture moves, it
    // follows.
    for (const auto& [level, noise] : {std::pair{100, 0}, std::pair{60, 1}, std::pair{1, 1}}) {
        SCOPED_TRACE("level " + std::to_string(level));
        GifTemporalReducer reducer(level);
        const auto base = gradientNoiseFrame(64, 48, 7);
        std::vector<uint32_t> first;
        for (int i = 0; i < 6; ++i) {
            auto frame = makeBitmap24(64, 48, [&](int x, int y) {
                const Color c = base->pixel(x, y);
                const int d = i == 0 ? 0 : noise * (((x * 7 + y * 3 + i) % 3) - 1); // -1, 0 or 1
                return rgbColor(std::clamp(redOf(c) + d, 0, 255), greenOf(c),
                                std::clamp(blueOf(c) - d, 0, 255));
            });
            const std::vector<uint32_t> shown = shownColours(reducer.reduce(uint64_t(i), *frame));
            if (i == 0)
                first = shown;
            else
                EXPECT_EQ(shown, first) << "frame " << i;
        }
        // A square moves in: its pixels show it.
        auto moved = makeBitmap24(64, 48, [&](int x, int y) {
            return x >= 20 && x < 30 && y >= 10 && y < 20 ? rgbColor(250, 10, 10) : base->pixel(x, y);
        });
        const ReducedFrame reduced = reducer.reduce(6, *moved);
        const GifRGB& square = reduced.colors.at(reduced.indices[size_t(15 * 64 + 25)]);
        EXPECT_GT(square.red, 200);
        EXPECT_LT(square.green, 60);
    }
}

TEST(GifQualityLevels, FewColoursAreExactAndLevelsTradeFidelityForSize) {
    // At full quality a frame of at most 256 colours is shown exactly, in every frame of a clip.
    GifTemporalReducer full(100);
    for (int i = 0; i < 3; ++i) {
        auto picture = bands(113, 57, 256 - i * 40);
        const ReducedFrame reduced = full.reduce(uint64_t(i), *picture);
        std::vector<uint32_t> expected;
        for (int y = 0; y < picture->Height(); ++y)
            for (int x = 0; x < picture->Width(); ++x)
                expected.push_back(picture->pixel(x, y));
        EXPECT_EQ(shownColours(reduced), expected) << "frame " << i;
    }
    // Lower levels give smaller files of a noisy clip.
    ScratchDir dir;
    std::vector<std::unique_ptr<Bitmap>> frames;
    for (uint32_t seed = 1; seed <= 8; ++seed)
        frames.push_back(gradientNoiseFrame(96, 64, seed));
    std::vector<size_t> sizes;
    for (const int level : {100, 70, 30}) {
        GifTemporalReducer reducer(level);
        TGIFDocument document;
        for (size_t i = 0; i < frames.size(); ++i) {
            TGIFSubImage& image = document.Frame(document.addReducedFrame(reducer.reduce(i, *frames[i])));
            appendAnimationBlocks(image, int(i), 0, 4);
        }
        optimizeFrames(document);
        sizes.push_back(saved(document).size());
    }
    EXPECT_GT(sizes[0], sizes[1]);
    EXPECT_GT(sizes[1], sizes[2]);
}

TEST(GifQualityLevels, LossyCompressionStaysWithinItsError) {
    // Every pixel of a lossy frame shows a colour within the error of its own, in every channel,
    // and the file is smaller; an error of 0 changes nothing.
    auto picture = gradientNoiseFrame(120, 80, 3);
    const ReducedFrame reduced =
        reduceFrame(*picture, GifReductionMode::QuantizeWithSystemColors, GifDitherKind::FloydSteinberg, 8);
    auto encoded = [](const ReducedFrame& frame) {
        MemoryStream bytes;
        writeReducedFrame(bytes, frame, 8);
        return bytes.size();
    };
    for (const int error : {0, 4, 16}) {
        ReducedFrame lossy = reduced;
        lossyIndices(lossy.indices, lossy.colors, error);
        for (size_t k = 0; k < lossy.indices.size(); ++k) {
            const GifRGB& a = reduced.colors[reduced.indices[k]];
            const GifRGB& b = lossy.colors[lossy.indices[k]];
            ASSERT_LE(std::abs(a.red - b.red), error);
            ASSERT_LE(std::abs(a.green - b.green), error);
            ASSERT_LE(std::abs(a.blue - b.blue), error);
        }
        if (error == 0)
            EXPECT_EQ(lossy.indices, reduced.indices);
        else if (error < 16)
            EXPECT_LE(encoded(lossy), encoded(reduced));
        else
            EXPECT_LT(encoded(lossy), encoded(reduced));
    }
}

TEST(GifOptimize, FramesShowTheSamePictures) {
    const int w = 40, h = 30;
    auto solid = [&](Color colour) { return makeBitmap24(w, h, [&](int, int) { return colour; }); };
    auto square = [&](int left, int top) {
        return makeBitmap24(w, h, [&](int x, int y) {
            const bool in = x >= left && x < left + 6 && y >= top && y < top + 5;
            // Stripes of few colours: each frame's table holds them exactly, so what did not
            // change decodes to the same colours.
            return in ? rgbColor(250, 20, 20) : rgbColor(((x / 6) % 4) * 60, ((y / 5) % 3) * 100, 90);
        });
    };
    auto corners = [&] {
        auto b = square(10, 10);
        b->setPixel(0, 0, rgbColor(1, 2, 3));
        b->setPixel(w - 1, h - 1, rgbColor(3, 2, 1));
        return b;
    };
    struct Clip {
        const char* name;
        std::vector<std::shared_ptr<Bitmap>> frames;
        // The rectangle the second frame keeps (left, top, width, height), when there is one.
        std::array<int, 4> second;
    };
    const std::vector<Clip> clips = {
        {"one frame", {square(3, 3)}, {}},
        // The second frame shows nothing new: it goes, and its time with the first.
        {"identical frames", {square(3, 3), square(3, 3), solid(rgbColor(0, 0, 255))}, {0, 0, w, h}},
        {"full change", {solid(rgbColor(0, 0, 0)), solid(rgbColor(255, 255, 255))}, {0, 0, w, h}},
        {"moving square", {square(3, 3), square(5, 4), square(30, 20)}, {3, 3, 8, 6}},
        {"changed corners", {square(10, 10), corners()}, {0, 0, w, h}},
        {"noise",
         {gradientNoiseFrame(w, h, 1), gradientNoiseFrame(w, h, 2), gradientNoiseFrame(w, h, 2)},
         {0, 0, w, h}},
    };
    for (const GifQuality quality : {GifQuality::Classic, GifQuality::High}) {
        for (const Clip& clip : clips) {
            SCOPED_TRACE(std::string(clip.name) + (quality == GifQuality::High ? " high" : " classic"));
            auto plain = jobDocument(quality);
            auto optimized = jobDocument(quality);
            for (size_t i = 0; i < clip.frames.size(); ++i) {
                addJobFrame(*plain, *clip.frames[i], int(5 + i));
                addJobFrame(*optimized, *clip.frames[i], int(5 + i));
            }
            optimizeFrames(*optimized);
            // Few colours in all: one global table, and the frames without tables of their own.
            if (std::string(clip.name) == "moving square") {
                EXPECT_GT(optimized->Header().ColorMap().Count(), 0);
                EXPECT_EQ(optimized->Frame(1).ColorMap().Count(), 0);
            }
            const std::vector<uint8_t> plainBytes = saved(*plain), optimizedBytes = saved(*optimized);
            EXPECT_LE(optimizedBytes.size(), plainBytes.size());
            const GiflibImage before = decodeWithGiflib(plainBytes), after = decodeWithGiflib(optimizedBytes);
            // A frame that repeats the one before goes, its time given to that one.
            size_t repeats = 0;
            for (size_t i = 1; i < clip.frames.size(); ++i)
                repeats +=
                    clip.frames[i] == clip.frames[i - 1] || sameBitmap(*clip.frames[i], *clip.frames[i - 1]);
            ASSERT_EQ(after.frames.size(), clip.frames.size() - repeats);
            EXPECT_EQ(after.screenWidth, w);
            EXPECT_EQ(after.screenHeight, h);
            EXPECT_EQ(after.loopCount, 0);
            EXPECT_EQ(timeline(after), timeline(before));
            if (std::string(clip.name) == "identical frames") {
                EXPECT_EQ(after.frames[0].delay, 5 + 6);
            }
            if (clip.frames.size() > 1) {
                const GiflibFrame& second = after.frames[1];
                EXPECT_EQ((std::array<int, 4>{second.left, second.top, second.width, second.height}),
                          clip.second);
            }
        }
    }
}

TEST(GifOptimize, AnyNumberOfThreadsGivesTheSameDocument) {
    // More frames than a batch of three threads, with a frame the optimiser leaves as it is.
    std::vector<std::unique_ptr<Bitmap>> frames;
    for (uint32_t i = 0; i < 30; ++i)
        frames.push_back(makeBitmap24(40, 30, [i](int x, int y) {
            const bool square = x >= int(i) && x < int(i) + 6 && y >= int(i % 20) && y < int(i % 20) + 6;
            return square ? rgbColor(250, 240, 10) : rgbColor((x / 8) * 50, (y / 6) * 50, 90);
        }));
    std::vector<uint8_t> first;
    for (const int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(threads);
        auto document = jobDocument(GifQuality::High);
        for (size_t i = 0; i < frames.size(); ++i) {
            if (i == 17)
                addJobFrame(*document, *gradientNoiseFrame(20, 20, 3), 4);
            addJobFrame(*document, *frames[i], 4);
        }
        optimizeFrames(*document, threads);
        const std::vector<uint8_t> bytes = saved(*document);
        if (first.empty())
            first = bytes;
        EXPECT_EQ(bytes, first);
    }
    // The colours are few and kept exactly, so every frame is stored as the rectangle the square
    // changed, also after one stored as a smaller rectangle; only the first, the frame left as it
    // is and the frame after it are whole.
    const GiflibImage gif = decodeWithGiflib(first);
    ASSERT_EQ(gif.frames.size(), 31u);
    for (size_t i = 0; i < gif.frames.size(); ++i) {
        const bool whole = i == 0 || i == 17 || i == 18;
        if (!whole) {
            EXPECT_LT(gif.frames[i].width * gif.frames[i].height, 40 * 30) << i;
        }
    }
}

TEST(GifOptimize, FramesItCannotReadAreLeftAsTheyAre) {
    // A frame smaller than the screen is not a whole picture: it stays, and the frame after it
    // is stored whole again.
    TGIFDocument document;
    document.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    addJobFrame(document, *gradientNoiseFrame(20, 20, 1), 10);
    addJobFrame(document, *gradientNoiseFrame(10, 10, 2), 10);
    addJobFrame(document, *gradientNoiseFrame(20, 20, 3), 10);
    const std::vector<uint8_t> before = saved(document);
    optimizeFrames(document);
    const GiflibImage gif = decodeWithGiflib(saved(document));
    ASSERT_EQ(gif.frames.size(), 3u);
    EXPECT_EQ(gif.frames[1].width, 10);
    EXPECT_EQ(gif.frames[2].width, 20);
    EXPECT_EQ(shownFrames(gif), shownFrames(decodeWithGiflib(before)));
}

namespace {

// A clip of a square moving over still stripes, as an uncompressed AVI.
std::string movingSquareAvi(const ScratchDir& dir, int w, int h, int count) {
    AviFixture f;
    f.width = w;
    f.height = h;
    for (int i = 0; i < count; ++i)
        f.frames.push_back(dibBits24(w, h, [&](int x, int y) {
            const int left = (i * 3) % (w - 8), top = (i * 2) % (h - 8);
            if (x >= left && x < left + 8 && y >= top && y < top + 8)
                return rgbColor(240, 240, 40);
            return rgbColor(((x / 6) % 4) * 60, ((y / 5) % 3) * 100, 90);
        }));
    const std::string path = dir.file("square" + std::to_string(count) + ".avi");
    writeAvi(path, f);
    return path;
}

} // namespace

TEST(GifJobs, OptionsReachTheVideoAndTransitionJobs) {
    ScratchDir dir;
    const std::string path = movingSquareAvi(dir, 48, 32, 8);
    FrameTable table(GifFrameTableSize);
    SilentObserver observer;
    // The video job: every option with a step, backwards and scaled; the optimised GIF shows
    // what the plain one shows.
    for (const GifQuality quality : {GifQuality::Classic, GifQuality::High}) {
        AviToGifOptions o = optionsFor(path);
        o.build.quality = quality;
        o.samplingStep = 2;
        o.direction = Direction::Backward;
        o.sizeMode = GifSizeMode::Scale;
        o.scaleIndex = 3; // 2:1
        TGIFDocument plain, optimized;
        ASSERT_EQ(convertAviToGif(o, table, plain, observer).frames, 4);
        o.build.optimize = true;
        o.threads = 2;
        ASSERT_EQ(convertAviToGif(o, table, optimized, observer).frames, 4);
        const GiflibImage a = decodeWithGiflib(saved(plain)), b = decodeWithGiflib(saved(optimized));
        EXPECT_EQ(b.screenWidth, 96);
        EXPECT_EQ(shownFrames(a), shownFrames(b));
        EXPECT_LT(b.frames[1].width * b.frames[1].height, 96 * 64);
        EXPECT_LT(saved(optimized).size(), saved(plain).size());
    }
    // The transition job.
    TransitionTab tab;
    tab.steps = 6;
    tab.effect = 2; // LeftRight: a wipe, so most of each frame stays
    tab.spinWidth = 40;
    tab.spinHeight = 20;
    tab.sourceSide.background = rgbColor(10, 20, 200);
    FrameTable transitionTable(TransitionFrameTableSize);
    TGIFDocument plain, optimized;
    buildTransitionGif(tab, transitionTable, plain, observer, 0, {GifQuality::High, false});
    buildTransitionGif(tab, transitionTable, optimized, observer, 0, {GifQuality::High, true});
    const GiflibImage a = decodeWithGiflib(saved(plain)), b = decodeWithGiflib(saved(optimized));
    ASSERT_EQ(b.frames.size(), 7u);
    EXPECT_EQ(shownFrames(a), shownFrames(b));
    EXPECT_LT(saved(optimized).size(), saved(plain).size());
}

TEST(GifSizeFit, LimitsAndWords) {
    const struct {
        const char* text;
        std::optional<uint64_t> bytes;
    } limits[] = {{"10M", 10'000'000},      {"2.5M", 2'500'000},   {"800K", 800'000},
                  {"800k", 800'000},        {"500000", 500'000},   {"1", 1},
                  {"0", std::nullopt},      {"", std::nullopt},    {"M", std::nullopt},
                  {"1.2.3M", std::nullopt}, {"-5M", std::nullopt}, {"10MB", 10'000'000},
                  {"10mb", 10'000'000},     {"10B", std::nullopt}, {"1e9", std::nullopt}};
    for (const auto& l : limits)
        EXPECT_EQ(byteLimitFromText(l.text), l.bytes) << l.text;
    EXPECT_EQ(byteSizeText(9'649'999), "9.6 MB");
    EXPECT_EQ(byteSizeText(999'999), "999.9 KB");
    EXPECT_EQ(byteSizeText(999), "999 bytes");
    EXPECT_EQ(frameStepText(1), "every frame");
    EXPECT_EQ(frameStepText(2), "every 2nd frame");
    EXPECT_EQ(frameStepText(3), "every 3rd frame");
    EXPECT_EQ(frameStepText(11), "every 11th frame");
    EXPECT_EQ(frameStepText(21), "every 21st frame");
    EXPECT_EQ(frameStepText(112), "every 112th frame");
}

TEST(GifSizeFit, NeverOverTheLimit) {
    ScratchDir dir;
    AviFixture f;
    f.width = 160;
    f.height = 120;
    for (uint32_t i = 0; i < 30; ++i) {
        auto frame = gradientNoiseFrame(160, 120, i + 1);
        f.frames.push_back(dibBits24(160, 120, [&](int x, int y) { return frame->pixel(x, y); }));
    }
    const std::string path = dir.file("noise.avi");
    writeAvi(path, f);
    FrameTable table(GifFrameTableSize);
    SilentObserver observer;
    AviToGifOptions o = optionsFor(path);
    TGIFDocument whole;
    const uint64_t full = saved([&]() -> TGIFDocument& {
                              convertAviToGif(o, table, whole, observer);
                              return whole;
                          }())
                              .size();
    o.build.optimize = true;
    const struct {
        uint64_t limit;
        bool fits;
        bool smaller; // a smaller size than 160 x 120
        bool stepped; // fewer frames
    } cases[] = {
        {full * 2, true, false, false}, // fits as it is
        {full / 2, true, true, false},  // a smaller size
        {full / 40, true, true, true},  // even 85 x 64 is too large: every n-th frame
        {200, false, true, true},       // not even one frame fits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        TGIFDocument built;
        GifSizeFitOptions fit;
        fit.limit = c.limit;
        const GifSizeFitResult r = fitGifUnderSize(o, fit, table, built, observer);
        ASSERT_EQ(r.fits, c.fits) << r.message;
        if (!c.fits) {
            EXPECT_EQ(r.message.rfind("No GIF of these frames fits under 200 bytes: the smallest tried, ", 0),
                      0u)
                << r.message;
            EXPECT_TRUE(r.file.empty());
            continue;
        }
        EXPECT_LE(r.file.size(), c.limit);
        EXPECT_EQ(r.file.size(), r.bytes);
        EXPECT_EQ(r.file, saved(built)); // the document holds the chosen GIF
        EXPECT_EQ(r.width < 160, c.smaller);
        EXPECT_EQ(r.step > 1, c.stepped);
        EXPECT_NEAR(double(r.width) / r.height, 160.0 / 120.0, 0.05);
        EXPECT_GE(std::min(r.width, r.height), 64);
        EXPECT_LE(r.encodes, 8);
        const GiflibImage gif = decodeWithGiflib(r.file);
        EXPECT_EQ(gif.screenWidth, r.width);
        EXPECT_EQ(int(gif.frames.size()), (30 + r.step - 1) / r.step);
        EXPECT_EQ(r.summary, std::to_string(r.width) + "x" + std::to_string(r.height) + ", " +
                                 frameStepText(r.step) + ", " + byteSizeText(r.bytes));
        if (c.smaller && !c.stepped) {
            EXPECT_GT(double(r.bytes), 0.7 * double(c.limit)); // not far smaller than it may be
        }
    }

    // A frame limit: the search starts at the step that keeps to it, and the delay follows the
    // step.
    TGIFDocument built;
    GifSizeFitOptions fit;
    fit.limit = full * 2;
    fit.maxFrames = 10;
    fit.delayFollowsStep = true;
    o.delayHundredths = 4;
    const GifSizeFitResult r = fitGifUnderSize(o, fit, table, built, observer);
    ASSERT_TRUE(r.fits) << r.message;
    EXPECT_EQ(r.step, 3);
    const GiflibImage gif = decodeWithGiflib(r.file);
    ASSERT_EQ(gif.frames.size(), 10u);
    EXPECT_EQ(gif.frames[0].delay, 12);
}

TEST(GifSizeFit, HighQualityChoosesTheLevelFirstAndGrowsWithTheLimit) {
    // A clip that moves over a still background: the level, not the size, gives way first, and
    // a larger limit never gives a smaller or lower GIF.
    ScratchDir dir;
    AviFixture f;
    f.width = 96;
    f.height = 64;
    const auto background = gradientNoiseFrame(96, 64, 9);
    for (int i = 0; i < 16; ++i)
        f.frames.push_back(dibBits24(96, 64, [&](int x, int y) {
            const bool square = x >= 4 * i && x < 4 * i + 20 && y >= 20 && y < 40;
            const Color c = background->pixel(x, y);
            return square ? rgbColor(230, 30 + 10 * i, 40)
                          : rgbColor(redOf(c), greenOf(c), (blueOf(c) + i % 2) & 0xFF);
        }));
    const std::string path = dir.file("moving.avi");
    writeAvi(path, f);
    FrameTable table(GifFrameTableSize);
    SilentObserver observer;
    AviToGifOptions o = optionsFor(path);
    o.build.quality = GifQuality::High;
    o.build.optimize = true;
    TGIFDocument whole;
    convertAviToGif(o, table, whole, observer);
    const uint64_t full = saved(whole).size();
    GifSizeFitResult last;
    for (const double share : {0.3, 0.5, 0.7, 0.9, 2.0}) {
        const uint64_t limit = uint64_t(double(full) * share);
        SCOPED_TRACE(limit);
        TGIFDocument built;
        GifSizeFitOptions fit;
        fit.limit = limit;
        const GifSizeFitResult r = fitGifUnderSize(o, fit, table, built, observer);
        ASSERT_TRUE(r.fits) << r.message;
        EXPECT_LE(r.file.size(), limit);
        EXPECT_EQ(r.file, saved(built));
        EXPECT_EQ(r.summary, std::to_string(r.width) + "x" + std::to_string(r.height) + ", " +
                                 frameStepText(r.step) + ", quality " + std::to_string(r.level) + ", " +
                                 byteSizeText(r.bytes));
        if (share >= 2) {
            EXPECT_EQ(r.level, 100);
            EXPECT_EQ(r.file.size(), full);
        }
        if (share >= 0.5) {
            EXPECT_EQ(r.width, 96); // the level gives way first
        }
        if (last.fits) {
            EXPECT_GE(r.bytes, last.bytes);
            EXPECT_GE(r.width, last.width);
            EXPECT_LE(r.step, last.step);
            if (r.width == last.width && r.step == last.step) {
                EXPECT_GE(r.level, last.level);
            }
        }
        last = r;
    }
}

TEST(GifJobs, StreamedChangesShowWhatTheFramesShow) {
    // Written as they are made, the frames stored as their changes show the plain GIF's frames;
    // going backward that is refused before anything is written.
    ScratchDir dir;
    const std::string path = movingSquareAvi(dir, 48, 32, 10);
    SilentObserver observer;
    for (const GifQuality quality : {GifQuality::Classic, GifQuality::High}) {
        AviToGifOptions o = optionsFor(path);
        o.build.quality = quality;
        o.loopCount = 3;
        MemoryStream plain, changes;
        ASSERT_EQ(streamAviToGif(o, plain, observer).frames, 10);
        o.build.optimize = true;
        o.threads = 2;
        ASSERT_EQ(streamAviToGif(o, changes, observer).frames, 10);
        const GiflibImage a = decodeWithGiflib(plain.bytes()), b = decodeWithGiflib(changes.bytes());
        EXPECT_EQ(shownFrames(a), shownFrames(b));
        EXPECT_EQ(b.loopCount, 3);
        EXPECT_EQ(b.frames[4].delay, a.frames[4].delay);
        EXPECT_LT(b.frames[1].width * b.frames[1].height, 48 * 32);
        EXPECT_LT(changes.size(), plain.size());

        o.direction = Direction::Backward;
        MemoryStream refused;
        EXPECT_THROW(streamAviToGif(o, refused, observer), Error);
        EXPECT_EQ(refused.size(), 0u);
    }
}

TEST(CliGif, QualityOptimizeAndMaxSize) {
    ScratchDir dir;
    const std::string video = movingSquareAvi(dir, 96, 64, 12);
    const std::string cli = shellQuoted(KELVARA_CLI_PATH);
    const std::string plain = dir.file("plain.gif"), small = dir.file("small.gif"), fit = dir.file("fit.gif");
    ProcessResult r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(plain) +
                                 " --quality high --quiet");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(small) +
                   " --quality high --optimize");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "kelvara-cli gif: wrote " + small + ": Size: 96 x 64 pixels  Frames: 12\n");
    EXPECT_LT(readFile(small).size(), readFile(plain).size());
    EXPECT_EQ(shownFrames(decodeWithGiflib(readFile(small))), shownFrames(decodeWithGiflib(readFile(plain))));

    r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(fit) + " --max-size 9K");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LE(readFile(fit).size(), 9000u);
    EXPECT_TRUE(std::regex_search(
        r.err, std::regex("^kelvara-cli gif: [0-9]+x[0-9]+, every (frame|[0-9]+(st|nd|rd|th) frame), "
                          "[0-9.]+ (KB|bytes)\n$")))
        << r.err;

    // Refusals write nothing: a limit no GIF meets, and options that are not understood.
    const std::string other = dir.file("other.gif");
    r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(other) +
                   " --max-size 100 --quiet");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("No GIF of these frames fits under 100 bytes"), std::string::npos) << r.err;
    for (const char* bad : {"--quality best", "--max-size 10Q", "--max-size 0"}) {
        r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(other) + " " + bad);
        EXPECT_EQ(r.exitCode, 2) << bad;
    }
    EXPECT_FALSE(std::filesystem::exists(other));

    // Two empty pictures of one colour: every frame shows the same, so one frame holds all the
    // time of the eleven.
    r = runProcess(cli + " transition -o " + shellQuoted(other) +
                   " --effect LeftRight --size 30x20 --quality high --optimize --quiet");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const GiflibImage still = decodeWithGiflib(readFile(other));
    ASSERT_EQ(still.frames.size(), 1u);
    EXPECT_EQ(still.frames[0].delay, 11 * 10);
}

TEST(CliGif, OptimizeWritesLongGifsAsTheyAreMade) {
    // Past the frames kept in memory, --optimize going forward writes the changes as they are
    // made; going backward, and past --max-frames, it refuses and writes nothing.
    ScratchDir dir;
    const std::string video = movingSquareAvi(dir, 24, 16, 300);
    const std::string cli = shellQuoted(KELVARA_CLI_PATH);
    const std::string plain = dir.file("plain.gif"), changes = dir.file("changes.gif");
    ProcessResult r =
        runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(plain) + " --quiet");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(changes) + " --optimize");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "kelvara-cli gif: wrote " + changes + ": Size: 24 x 16 pixels  Frames: 300\n");
    const GiflibImage a = decodeWithGiflib(readFile(plain)), b = decodeWithGiflib(readFile(changes));
    ASSERT_EQ(b.frames.size(), 300u);
    EXPECT_EQ(shownFrames(a), shownFrames(b));
    EXPECT_LT(readFile(changes).size(), readFile(plain).size());

    const std::string other = dir.file("other.gif");
    const struct {
        const char* options;
        const char* says;
    } refusals[] = {
        {"--optimize --backward", "--optimize with --backward keeps the frames in memory, at most 256"},
        {"--optimize --max-frames 299", "more than --max-frames 299"},
    };
    for (const auto& c : refusals) {
        r = runProcess(cli + " gif " + shellQuoted(video) + " -o " + shellQuoted(other) + " " + c.options);
        EXPECT_EQ(r.exitCode, 2) << c.options;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(other));
}
