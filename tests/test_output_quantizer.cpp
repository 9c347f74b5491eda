// The still-image quantizer: sampling, algorithm choice, palettes and lookups, two-colour conversion.
#include "output/ImageQuantizer.h"
#include "support/OutputOracles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

using namespace kelvara;
using kelvara::test::still::fillPicture;

namespace {

template <typename F> RgbPicture makePicture(int w, int h, F colorAt) {
    Bitmap bitmap;
    fillPicture(bitmap, w, h, colorAt);
    return rgbPictureOf(bitmap);
}

int distance(Color a, Color b) {
    return std::abs(redOf(a) - redOf(b)) + std::abs(greenOf(a) - greenOf(b)) +
           std::abs(blueOf(a) - blueOf(b));
}

} // namespace

TEST(OutputQuantizer, SamplingFactorFollowsPictureSize) {
    struct Case {
        int64_t pixels;
        int factor;
    } cases[] = {
        {1, 1}, {1999, 1}, {2000, 2}, {10000, 3}, {640 * 480, 29}, {int64_t(4000) * 4000, 30},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TImageQuantizer::samplingFactor(c.pixels), c.factor) << c.pixels << " pixels";
}

TEST(OutputQuantizer, ChoosesAlgorithmByColourCountAndSource) {
    RgbPicture colourful = makePicture(16, 16, [](int x, int y) { return rgbColor(x * 16, y * 16, 77); });
    EXPECT_EQ(TImageQuantizer(colourful, 16).kind(), TImageQuantizer::Kind::BoxSplitting);
    EXPECT_EQ(TImageQuantizer(colourful, 127).kind(), TImageQuantizer::Kind::BoxSplitting);
    EXPECT_EQ(TImageQuantizer(colourful, 128).kind(), TImageQuantizer::Kind::NeuQuant);
    EXPECT_EQ(TImageQuantizer(colourful, 256, QuantizerSource::Bitmap).kind(),
              TImageQuantizer::Kind::NeuQuant);

    RgbPicture grey = makePicture(16, 16, [](int x, int y) {
        int v = (x * 16 + y) & 0xFF;
        return rgbColor(v, v, v);
    });
    TImageQuantizer identity(grey, 256, QuantizerSource::Bitmap);
    ASSERT_EQ(identity.kind(), TImageQuantizer::Kind::GreyIdentity);
    EXPECT_EQ(identity.palette()[200], rgbColor(200, 200, 200));
    EXPECT_EQ(identity.index(rgbColor(93, 1, 2)), 93);
    // The writers' own picture never takes the grey identity.
    EXPECT_EQ(TImageQuantizer(grey, 256).kind(), TImageQuantizer::Kind::NeuQuant);
    EXPECT_EQ(TImageQuantizer(grey, 128, QuantizerSource::Bitmap).kind(), TImageQuantizer::Kind::NeuQuant);
}

TEST(OutputQuantizer, BoxSplittingSeparatesColoursAndLeavesUnusedEntriesBlack) {
    // Four colours on exact cell values, in blocks of different sizes.
    const Color colours[4] = {rgbColor(248, 0, 0), rgbColor(0, 200, 40), rgbColor(16, 16, 160),
                              rgbColor(120, 120, 8)};
    RgbPicture picture = makePicture(20, 10, [&](int x, int) {
        return colours[x < 8 ? 0 : x < 13 ? 1 : x < 17 ? 2 : 3];
    });
    TImageQuantizer quantizer(picture, 16);
    std::set<int> used;
    for (Color c : colours) {
        int i = quantizer.index(c);
        used.insert(i);
        EXPECT_EQ(quantizer.palette()[i], c);
    }
    EXPECT_EQ(used.size(), 4u);
    ASSERT_EQ(quantizer.palette().size(), 16u);
    for (int i = 4; i < 16; ++i)
        EXPECT_EQ(quantizer.palette()[i], ColorBlack) << "entry " << i;
}

TEST(OutputQuantizer, BoxSplittingMapsEveryColourToANearbyEntry) {
    RgbPicture picture =
        makePicture(64, 48, [](int x, int y) { return rgbColor(x * 4, y * 5, (x + y) * 2); });
    TImageQuantizer quantizer(picture, 64);
    long total = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            total += distance(picture.at(x, y), quantizer.palette()[quantizer.index(picture.at(x, y))]);
    EXPECT_LT(total / (64 * 48), 40);
}

TEST(OutputQuantizer, NeuQuantLearnsTheColoursOfThePicture) {
    const Color colours[3] = {rgbColor(250, 10, 10), rgbColor(10, 240, 30), rgbColor(40, 40, 230)};
    RgbPicture picture = makePicture(100, 100, [&](int x, int y) { return colours[(x / 10 + y / 10) % 3]; });
    for (int n : {128, 256}) {
        TImageQuantizer quantizer(picture, n);
        ASSERT_EQ(quantizer.palette().size(), static_cast<size_t>(n));
        for (Color c : colours) {
            int i = quantizer.index(c);
            ASSERT_GE(i, 0);
            ASSERT_LT(i, n);
            EXPECT_LE(distance(quantizer.palette()[i], c), 12) << n << " colours";
        }
    }
}

TEST(OutputQuantizer, NeuQuantIndexIsTheNearestNeuron) {
    RgbPicture picture =
        makePicture(50, 40, [](int x, int y) { return rgbColor(x * 5, y * 6, 255 - x * 5); });
    TImageQuantizer quantizer(picture, 128);
    for (int i = 0; i < 200; ++i) {
        Color c = rgbColor((i * 37) & 0xFF, (i * 91) & 0xFF, (i * 13) & 0xFF);
        int best = distance(quantizer.palette()[0], c);
        for (Color p : quantizer.palette())
            best = std::min(best, distance(p, c));
        EXPECT_EQ(distance(quantizer.palette()[quantizer.index(c)], c), best);
    }
}

TEST(OutputQuantizer, TwoColourPicturesAreStoredExactlyWithTheDarkerFirst) {
    RgbPicture blackWhite = makePicture(2, 1, [](int x, int) { return x ? ColorWhite : ColorBlack; });
    TwoColorPicture a = twoColorPicture(blackWhite);
    EXPECT_EQ(a.picture.palette, (std::vector<Color>{ColorBlack, ColorWhite}));
    EXPECT_EQ(a.picture.indexes, (std::vector<uint8_t>{0, 1}));

    const Color darkBlue = rgbColor(0, 0, 128), yellow = rgbColor(255, 255, 0);
    RgbPicture blueYellow = makePicture(3, 2, [&](int x, int y) { return (x + y) % 2 ? darkBlue : yellow; });
    TwoColorPicture b = twoColorPicture(blueYellow);
    EXPECT_FALSE(b.singleColor);
    EXPECT_EQ(b.picture.palette, (std::vector<Color>{darkBlue, yellow}));
    EXPECT_EQ(b.picture.indexes, (std::vector<uint8_t>{1, 0, 1, 0, 1, 0}));
    EXPECT_EQ(blackWhiteBits(b), b.picture.indexes);
}

TEST(OutputQuantizer, OneColourPicturesKeepTheirColourAndShowAsNearestOfBlackAndWhite) {
    struct Case {
        Color colour;
        uint8_t bit;
    } cases[] = {{ColorWhite, 1}, {rgbColor(200, 190, 100), 1}, {rgbColor(40, 40, 40), 0}, {ColorBlack, 0}};
    for (const Case& c : cases) {
        TwoColorPicture t = twoColorPicture(makePicture(5, 3, [&](int, int) { return c.colour; }));
        EXPECT_TRUE(t.singleColor);
        EXPECT_EQ(t.picture.palette, (std::vector<Color>{c.colour, ColorBlack}));
        EXPECT_EQ(t.picture.indexes, std::vector<uint8_t>(15, 0));
        EXPECT_EQ(blackWhiteBits(t), std::vector<uint8_t>(15, c.bit)) << std::hex << c.colour;
    }
}

TEST(OutputQuantizer, ManyColoursAreDitheredWithTheBayerMatrix) {
    // Mid grey with a third colour somewhere so that the picture has more than two colours.
    RgbPicture grey = makePicture(16, 16, [](int x, int y) {
        if (x == 15 && y == 15)
            return rgbColor(0, 0, 0);
        if (x == 14 && y == 15)
            return rgbColor(255, 255, 255);
        return rgbColor(128, 128, 128);
    });
    TwoColorPicture t = twoColorPicture(grey);
    EXPECT_EQ(t.picture.palette, (std::vector<Color>{ColorBlack, ColorWhite}));
    int white = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            uint8_t bit = t.picture.indexes[y * 16 + x];
            EXPECT_EQ(bit, BayerMatrix[x][y] < 32 ? 1 : 0) << x << "," << y;
            white += bit;
        }
    EXPECT_EQ(white, 32);
    // The matrix is indexed [x mod 8][y mod 8]: at grey 12 (g = 3) pixel (0, 4) meets entry 2 and
    // turns white, while (4, 0) meets entry 3 and stays black.
    RgbPicture dark = makePicture(8, 8, [](int x, int y) {
        return x + y == 14 ? ColorWhite : x + y == 13 ? ColorBlack : rgbColor(12, 12, 12);
    });
    TwoColorPicture d = twoColorPicture(dark);
    EXPECT_EQ(d.picture.indexes[4 * 8 + 0], 1);
    EXPECT_EQ(d.picture.indexes[0 * 8 + 4], 0);
}
