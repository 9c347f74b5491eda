// The GIF document: file layout byte for byte, versions, padding, frame import from every
// bitmap depth, the logical screen and its warnings, copying, progress, failures, and giflib
// agreement with the ditherer's indices and colours.
#include "gif/GifDocument.h"
#include "gif/GifEncoder.h"
#include "raster/Bitmap.h"
#include "raster/Stream.h"
#include "support/GifDecode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

using namespace kelvara;
using kelvara::test::decodeWithGiflib;
using kelvara::test::gradientNoiseFrame;
using kelvara::test::makeBitmap24;

namespace {

// Adds a frame as the conversions do: looping block on frame 0, graphic control with the delay.
void addConversionFrame(TGIFDocument& doc, Bitmap& bitmap, uint16_t delay, bool loop = true) {
    const int index = doc.AddFrame(bitmap);
    TGIFSubImage& frame = doc.Frame(index);
    if (index == 0 && loop) {
        auto ns = std::make_unique<TGIFAppExtNSLoop>(&frame);
        ns->SetLoopCount(0);
        frame.Extensions().Append(std::move(ns));
    }
    auto gce = std::make_unique<TGIFGraphicControlExtension>(&frame);
    gce->SetDelayHundredths(delay);
    frame.Extensions().Append(std::move(gce));
}

std::vector<uint8_t> save(TGIFDocument& doc) {
    MemoryStream out;
    doc.SaveToStream(out);
    return out.bytes();
}

std::vector<uint8_t> bytesOf(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int b : v)
        out.push_back(static_cast<uint8_t>(b));
    return out;
}

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) {
    out.insert(out.end(), more.begin(), more.end());
}

std::vector<uint8_t> tableBytes(const TGIFColorMap& map, int entries) {
    std::vector<uint8_t> out(static_cast<size_t>(entries) * 3, 0);
    for (int i = 0; i < map.Count(); ++i) {
        out[3 * i] = map.Colors(i).red;
        out[3 * i + 1] = map.Colors(i).green;
        out[3 * i + 2] = map.Colors(i).blue;
    }
    return out;
}

std::vector<uint8_t> imageData(const TGIFSubImage& frame, int bits, int colors) {
    MemoryStream s;
    encodeGIFImage(0, s, bits, frame.Width(), frame.Height(), false, frame.Data(), colors);
    return s.bytes();
}

std::unique_ptr<Bitmap> palettised(PixelFormat format, int w, int h, const std::vector<PaletteEntry>& palette,
                                   const std::function<int(int, int)>& index) {
    auto b = std::make_unique<Bitmap>();
    b->SetPixelFormat(format);
    b->SetSize(1, 1);
    b->setPalette(palette);
    b->SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const int v = index(x, y);
            if (format == PixelFormat::Bits8)
                row[x] = static_cast<uint8_t>(v);
            else if (format == PixelFormat::Bits4)
                row[x >> 1] = static_cast<uint8_t>((x & 1) ? (row[x >> 1] & 0xF0) | v
                                                           : (row[x >> 1] & 0x0F) | (v << 4));
            else
                row[x >> 3] =
                    static_cast<uint8_t>((row[x >> 3] & ~(0x80 >> (x & 7))) | (v ? 0x80 >> (x & 7) : 0));
        }
    }
    return b;
}

std::vector<PaletteEntry> greyPalette(int n) {
    std::vector<PaletteEntry> p;
    for (int i = 0; i < n; ++i)
        p.push_back(PaletteEntry::fromColor(rgbColor(i * 40 % 256, i * 7 % 256, 255 - i)));
    return p;
}

struct Recorder {
    std::vector<std::string> warnings;
    std::vector<std::tuple<GIFProgressStage, int, std::string>> progress;
    void attach(TGIFDocument& doc) {
        doc.SetWarningHandler([this](GIFSeverity, const std::string& m) { warnings.push_back(m); });
        doc.SetOnProgress(
            [this](GIFProgressStage s, int p, const std::string& m) { progress.emplace_back(s, p, m); });
    }
};

// giflib's reading of a document agrees with the frames' own indices and maps.
void expectGiflibAgrees(TGIFDocument& doc) {
    const auto image = decodeWithGiflib(save(doc));
    ASSERT_EQ(static_cast<int>(image.frames.size()), doc.FrameCount());
    for (int i = 0; i < doc.FrameCount(); ++i) {
        const TGIFSubImage& f = doc.Frame(i);
        const auto& g = image.frames[static_cast<size_t>(i)];
        ASSERT_EQ(g.width, f.Width());
        ASSERT_EQ(g.height, f.Height());
        EXPECT_EQ(g.indices, std::vector<uint8_t>(f.Data(), f.Data() + f.DataSize())) << "frame " << i;
        const TGIFColorMap& map =
            f.ColorMap().Count() ? static_cast<const TGIFColorMap&>(f.ColorMap()) : doc.Header().ColorMap();
        ASSERT_GE(static_cast<int>(g.colors.size()), map.Count());
        for (int c = 0; c < map.Count(); ++c) {
            EXPECT_EQ(g.colors[c][0], map.Colors(c).red);
            EXPECT_EQ(g.colors[c][1], map.Colors(c).green);
            EXPECT_EQ(g.colors[c][2], map.Colors(c).blue);
        }
    }
}

} // namespace

TEST(GifDocument, ANewDocumentReducesToTheColourCubeWithoutDitheringAndWritesLzw) {
    TGIFDocument doc;
    EXPECT_EQ(doc.Width(), 0);
    EXPECT_EQ(doc.Height(), 0);
    EXPECT_TRUE(doc.Empty());
    // A flat area of a colour off the 6 x 6 x 6 cube: without dithering every pixel takes the
    // nearest cube colour, entry 36r + 6g + b of a 256-entry map.
    Bitmap bitmap;
    bitmap.SetPixelFormat(PixelFormat::Bits24);
    bitmap.SetSize(6, 3);
    bitmap.Canvas().Brush.Color = rgbColor(100, 150, 210);
    bitmap.Canvas().FillRect({0, 0, 6, 3});
    bitmap.setPixel(5, 2, rgbColor(255, 0, 0));
    doc.AddFrame(bitmap);
    const TGIFSubImage& frame = doc.Frame(0);
    ASSERT_EQ(frame.ColorMap().Count(), 256);
    const int cube = 36 * 2 + 6 * 3 + 4;
    EXPECT_EQ(frame.ColorMap().Colors(cube).red, 102);
    EXPECT_EQ(frame.ColorMap().Colors(cube).green, 153);
    EXPECT_EQ(frame.ColorMap().Colors(cube).blue, 204);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(frame.Pixel(x, y), x == 5 && y == 2 ? 36 * 5 : cube) << x << ", " << y;
    // The image data is LZW, as giflib reads it.
    expectGiflibAgrees(doc);
    EXPECT_STREQ(TGIFDocument::FileExtension, "GIF");
    EXPECT_STREQ(TGIFDocument::Description, "GIF Image");
}

TEST(GifDocument, SavingWithoutFramesWritesNothing) {
    TGIFDocument doc;
    MemoryStream out;
    try {
        doc.SaveToStream(out);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::UnsupportedVersion);
    }
    EXPECT_TRUE(out.bytes().empty());
}

TEST(GifDocument, TenByTenFrameLayoutByteForByte) {
    TGIFDocument doc;
    doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    doc.SetDitherKind(GifDitherKind::FloydSteinberg);
    auto bitmap = gradientNoiseFrame(10, 10, 4);
    addConversionFrame(doc, *bitmap, 10, false);
    const TGIFSubImage& frame = doc.Frame(0);
    ASSERT_EQ(frame.ColorMap().Count(), 256);

    std::vector<uint8_t> expected = {'G', 'I', 'F', '8', '9', 'a'};
    append(expected, bytesOf({0x0A, 0x00, 0x0A, 0x00, 0x77, 0x00, 0x00}));
    append(expected, bytesOf({0x21, 0xF9, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00}));
    append(expected, bytesOf({0x2C, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x0A, 0x00, 0x87}));
    append(expected, tableBytes(frame.ColorMap(), 256));
    const auto data = imageData(frame, 8, 256);
    EXPECT_EQ(data[0], 0x08);
    EXPECT_EQ(data.back(), 0x00);
    append(expected, data);
    expected.push_back(0x3B);
    EXPECT_EQ(save(doc), expected);
    expectGiflibAgrees(doc);
}

TEST(GifDocument, WithoutExtensionsTheVersionIs87a) {
    TGIFDocument doc;
    doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    doc.SetDitherKind(GifDitherKind::FloydSteinberg);
    auto bitmap = gradientNoiseFrame(10, 10, 4);
    doc.AddFrame(*bitmap);
    const auto bytes = save(doc);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF87a");
    EXPECT_EQ(bytes[13], 0x2C);
    EXPECT_EQ(decodeWithGiflib(bytes).version, "GIF87a");
}

TEST(GifDocument, ConversionFilesLoopBlockThenGraphicControl) {
    TGIFDocument doc;
    doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    doc.SetDitherKind(GifDitherKind::FloydSteinberg);
    for (uint32_t i = 0; i < 3; ++i) {
        auto b = gradientNoiseFrame(33, 21, i);
        addConversionFrame(doc, *b, 7);
    }
    const auto bytes = save(doc);
    std::vector<uint8_t> head = {'G', 'I', 'F', '8', '9', 'a', 33, 0, 21, 0, 0x77, 0, 0, 0x21, 0xFF, 0x0B};
    for (char c : std::string("NETSCAPE2.0"))
        head.push_back(static_cast<uint8_t>(c));
    append(head,
           bytesOf({0x03, 0x01, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x00, 0x07, 0x00, 0x00, 0x00, 0x2C}));
    ASSERT_GT(bytes.size(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
    const auto image = decodeWithGiflib(bytes);
    EXPECT_EQ(image.loopCount, 0);
    ASSERT_EQ(image.frames.size(), 3u);
    for (const auto& f : image.frames) {
        EXPECT_TRUE(f.hasGraphicControl);
        EXPECT_EQ(f.delay, 7);
        EXPECT_EQ(f.colors.size(), 256u);
    }
    expectGiflibAgrees(doc);
}

TEST(GifDocument, LoopBlockBufferSubBlockOnlyWhenSet) {
    TGIFDocument doc;
    auto b = makeBitmap24(2, 2, [](int, int) { return 0; });
    doc.AddFrame(*b);
    auto ns = std::make_unique<TGIFAppExtNSLoop>(&doc.Frame(0));
    ns->SetLoopCount(0x1234);
    ns->SetBufferBytes(0x01020304);
    doc.Frame(0).Extensions().Append(std::move(ns));
    MemoryStream out;
    doc.Frame(0).Extensions().SaveToStream(out);
    std::vector<uint8_t> expected = {0x21, 0xFF, 0x0B};
    for (char c : std::string("NETSCAPE2.0"))
        expected.push_back(static_cast<uint8_t>(c));
    append(expected, bytesOf({0x03, 0x01, 0x34, 0x12, 0x05, 0x02, 0x04, 0x03, 0x02, 0x01, 0x00}));
    EXPECT_EQ(out.bytes(), expected);
}

TEST(GifDocument, EmptyBitmapGivesAnEmptyFrame) {
    TGIFDocument doc;
    Bitmap empty;
    EXPECT_EQ(doc.AddFrame(empty), 0);
    EXPECT_TRUE(doc.Frame(0).Empty());
    EXPECT_EQ(doc.Frame(0).Data(), nullptr);
    auto gce = std::make_unique<TGIFGraphicControlExtension>(&doc.Frame(0));
    gce->SetDelayHundredths(5);
    doc.Frame(0).Extensions().Append(std::move(gce));
    auto b = makeBitmap24(3, 2, [](int x, int) { return rgbColor(x * 80, 0, 0); });
    doc.SetReductionMode(GifReductionMode::None);
    doc.AddFrame(*b);
    const auto bytes = save(doc);
    // Header, the empty frame's graphic control block, then straight on to the second frame.
    EXPECT_EQ(bytes[13], 0x21);
    EXPECT_EQ(bytes[14], 0xF9);
    EXPECT_EQ(bytes[21], 0x2C);
    EXPECT_EQ(bytes[22 + 4], 3); // the second frame's width
}

TEST(GifDocument, FiveEntryMapIsPaddedToEight) {
    TGIFDocument doc;
    auto b = palettised(PixelFormat::Bits8, 4, 3, greyPalette(5), [](int x, int y) { return (x + y) % 5; });
    doc.AddFrame(*b);
    const TGIFSubImage& frame = doc.Frame(0);
    EXPECT_EQ(frame.ColorMap().Count(), 5);
    EXPECT_EQ(frame.ColorMap().BitsPerPixel(), 3);
    const auto bytes = save(doc);
    EXPECT_EQ(bytes[10], 0x22); // header: resolution and size fields 3 - 1, no global table
    EXPECT_EQ(bytes[13], 0x2C);
    EXPECT_EQ(bytes[22], 0x82); // local table present, size bits 2
    std::vector<uint8_t> table(bytes.begin() + 23, bytes.begin() + 23 + 24);
    EXPECT_EQ(table, tableBytes(frame.ColorMap(), 8));
    for (int i = 15; i < 24; ++i)
        EXPECT_EQ(table[i], 0);
    EXPECT_EQ(bytes[47], 0x03); // code size of a 3-bit map
    expectGiflibAgrees(doc);
}

TEST(GifDocument, ColourMapBitsAndCapacity) {
    TGIFDocument doc;
    TGIFColorMap& map = doc.Header().ColorMap();
    EXPECT_EQ(map.BitsPerPixel(), 0);
    EXPECT_EQ(map.Capacity(), 0);
    const int bits[] = {1, 1, 2, 2, 3, 3, 3, 3, 4};
    for (int i = 0; i < 9; ++i) {
        map.Add({0, 0, 0});
        EXPECT_EQ(map.BitsPerPixel(), bits[i]) << i + 1;
    }
    EXPECT_EQ(map.Capacity(), 16);
    while (map.Count() < 17)
        map.Add({1, 2, 3});
    EXPECT_EQ(map.Capacity(), 32);
    while (map.Count() < 129)
        map.Add({1, 2, 3});
    EXPECT_EQ(map.BitsPerPixel(), 8);
    EXPECT_EQ(map.Capacity(), 160);
    while (map.Count() < 256)
        map.Add({1, 2, 3});
    EXPECT_EQ(map.Capacity(), 256);
    try {
        map.Add({0, 0, 0});
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::ColorTableOverflow);
    }
}

TEST(GifDocument, ImportsOneFourAndEightBitBitmaps) {
    TGIFDocument doc;
    auto one =
        palettised(PixelFormat::Bits1, 13, 3, greyPalette(2), [](int x, int y) { return (x * y + x) & 1; });
    auto four =
        palettised(PixelFormat::Bits4, 9, 4, greyPalette(16), [](int x, int y) { return (x + 3 * y) & 15; });
    auto eight = palettised(PixelFormat::Bits8, 7, 5, greyPalette(256),
                            [](int x, int y) { return (x * 37 + y) & 255; });
    doc.AddFrame(*one);
    doc.AddFrame(*four);
    doc.AddFrame(*eight);
    const Bitmap* sources[] = {one.get(), four.get(), eight.get()};
    for (int i = 0; i < 3; ++i) {
        const TGIFSubImage& f = doc.Frame(i);
        const Bitmap& src = *sources[i];
        ASSERT_EQ(f.ColorMap().Count(), static_cast<int>(src.palette().size()));
        for (int c = 0; c < f.ColorMap().Count(); ++c)
            EXPECT_EQ(rgbColor(f.ColorMap().Colors(c).red, f.ColorMap().Colors(c).green,
                               f.ColorMap().Colors(c).blue),
                      src.palette()[c].color());
        for (int y = 0; y < src.Height(); ++y)
            for (int x = 0; x < src.Width(); ++x)
                EXPECT_EQ(src.palette()[f.Pixel(x, y)].color(), src.pixel(x, y));
        EXPECT_TRUE(f.HasDisplayBitmap());
        Bitmap shown;
        f.AssignTo(shown);
        EXPECT_EQ(shown.PixelFormat(), src.PixelFormat());
    }
    EXPECT_EQ(doc.Width(), 13);
    EXPECT_EQ(doc.Height(), 5);
    expectGiflibAgrees(doc);
}

TEST(GifDocument, ReductionModeZeroKeepsExactColoursInOrderOfAppearance) {
    TGIFDocument doc;
    doc.SetReductionMode(GifReductionMode::None);
    auto b = makeBitmap24(5, 2, [](int x, int y) { return rgbColor(10 * ((x + y * 5) % 4), 0, 1); });
    doc.AddFrame(*b);
    const TGIFSubImage& f = doc.Frame(0);
    ASSERT_EQ(f.ColorMap().Count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(f.ColorMap().Colors(i), (GifRGB{static_cast<uint8_t>(10 * i), 0, 1}));
    EXPECT_EQ(f.Pixel(4, 0), 0);
    EXPECT_EQ(f.Pixel(0, 1), 1);

    // 257 colours: the import fails and the document is as it was.
    Recorder rec;
    rec.attach(doc);
    auto many = makeBitmap24(257, 40, [](int x, int) { return rgbColor(x & 255, x >> 8, 0); });
    try {
        doc.AddFrame(*many);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::ColorTableOverflow);
    }
    EXPECT_EQ(doc.FrameCount(), 1);
    EXPECT_EQ(doc.Width(), 5);
    EXPECT_EQ(doc.Height(), 2);
    ASSERT_GE(rec.progress.size(), 2u);
    EXPECT_EQ(std::get<0>(rec.progress.front()), GIFProgressStage::Starting);
    EXPECT_EQ(rec.progress.back(),
              std::make_tuple(GIFProgressStage::Ending, 0, std::string("Converting...")));
}

TEST(GifDocument, ConversionFramesHave256EntryMaps) {
    for (int mode : {1, 2, 3, 4, 5, 6, 7, 8}) {
        TGIFDocument doc;
        doc.SetReductionMode(static_cast<GifReductionMode>(mode));
        doc.SetDitherKind(GifDitherKind::FloydSteinberg);
        auto b = gradientNoiseFrame(40, 30, static_cast<uint32_t>(mode));
        doc.AddFrame(*b);
        EXPECT_EQ(doc.Frame(0).ColorMap().Count(), 256) << mode;
        const auto bytes = save(doc);
        EXPECT_EQ(bytes[10], 0x77);
        expectGiflibAgrees(doc);
    }
}

TEST(GifDocument, AddFrameReducesAThirtyTwoBitBitmapAsItsTwentyFourBitCopyAndLeavesIt) {
    auto b24 = gradientNoiseFrame(21, 13, 9);
    Bitmap b32;
    b32.Assign(*b24);
    b32.SetPixelFormat(PixelFormat::Bits32);
    TGIFDocument from24, from32;
    for (TGIFDocument* doc : {&from24, &from32}) {
        doc->SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
        doc->SetDitherKind(GifDitherKind::FloydSteinberg);
    }
    from24.AddFrame(*b24);
    from32.AddFrame(b32);
    EXPECT_EQ(save(from32), save(from24));
    EXPECT_EQ(b32.PixelFormat(), PixelFormat::Bits32);
}

TEST(GifDocument, FrameBoundsGrowTheScreenWithWarningsInOrder) {
    TGIFDocument doc;
    Recorder rec;
    rec.attach(doc);
    doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    auto small = gradientNoiseFrame(10, 8, 1);
    auto big = gradientNoiseFrame(20, 16, 2);
    auto same = gradientNoiseFrame(20, 16, 3);
    doc.AddFrame(*small);
    EXPECT_TRUE(rec.warnings.empty());
    EXPECT_EQ(doc.Width(), 10);
    EXPECT_EQ(doc.Height(), 8);
    doc.AddFrame(*big);
    EXPECT_EQ(rec.warnings, (std::vector<std::string>{GifMessages::BadWidth, GifMessages::ScreenBadSize,
                                                      GifMessages::BadHeight, GifMessages::ScreenBadSize}));
    EXPECT_EQ(doc.Width(), 20);
    EXPECT_EQ(doc.Height(), 16);
    rec.warnings.clear();
    doc.AddFrame(*same);
    doc.AddFrame(*small);
    EXPECT_TRUE(rec.warnings.empty());
    // Moving a frame reallocates nothing but still grows the screen.
    doc.Frame(0).SetLeft(15);
    EXPECT_EQ(doc.Width(), 25);
    EXPECT_EQ(rec.warnings, (std::vector<std::string>{GifMessages::BadWidth, GifMessages::ScreenBadSize}));
    EXPECT_EQ(doc.Frame(0).DataSize(), 80u);
    expectGiflibAgrees(doc);
}

TEST(GifDocument, ScreenSizeCannotShrinkBelowAFrame) {
    TGIFDocument doc;
    auto b = gradientNoiseFrame(10, 8, 1);
    doc.AddFrame(*b);
    try {
        doc.SetWidth(9);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::BadWidth);
    }
    try {
        doc.SetHeight(7);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::BadHeight);
    }
    int changes = 0;
    doc.SetOnChange([&] { ++changes; });
    doc.SetWidth(30);
    doc.SetWidth(30);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(doc.Width(), 30);
}

TEST(GifDocument, FrameListAndObjectErrors) {
    TGIFDocument doc;
    try {
        doc.Frame(5);
        FAIL();
    } catch (const ListIndexError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (5)");
    }
    try {
        doc.AddFrame(std::unique_ptr<TGIFSubImage>());
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::UnsupportedObject);
    }
    auto frame = std::make_unique<TGIFSubImage>(&doc);
    frame->SetBounds(0, 0, 3, 3);
    EXPECT_EQ(doc.AddFrame(std::move(frame)), 0);
    EXPECT_EQ(doc.FrameCount(), 1);
    EXPECT_EQ(doc.Width(), 3);
}

TEST(GifDocument, ProgressStagesAndMessages) {
    TGIFDocument doc;
    doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    doc.SetDitherKind(GifDitherKind::FloydSteinberg);
    Recorder rec;
    rec.attach(doc);
    auto b = gradientNoiseFrame(20, 80, 1);
    doc.AddFrame(*b);
    using P = std::tuple<GIFProgressStage, int, std::string>;
    const std::string conv = GifMessages::Converting;
    EXPECT_EQ(rec.progress, (std::vector<P>{{GIFProgressStage::Starting, 0, conv},
                                            {GIFProgressStage::Running, 0, conv},
                                            {GIFProgressStage::Running, 40, conv},
                                            {GIFProgressStage::Running, 80, conv},
                                            {GIFProgressStage::Ending, 100, conv}}));
    // 32 / 72 = 44.4 % and 64 / 72 = 88.9 %: rounded to the nearest.
    rec.progress.clear();
    auto c = gradientNoiseFrame(20, 72, 1);
    doc.AddFrame(*c);
    EXPECT_EQ(std::get<1>(rec.progress[2]), 44);
    EXPECT_EQ(std::get<1>(rec.progress[3]), 89);
    rec.progress.clear();
    auto d = gradientNoiseFrame(5, 5, 1);
    doc.AddFrame(*d);
    save(doc);
    const std::string saving = GifMessages::Saving;
    EXPECT_EQ(rec.progress.back(), P(GIFProgressStage::Ending, 100, saving));
    // Saving reports per frame (1 / 3 = 33.3 %, 2 / 3 = 66.7 %).
    std::vector<P> expected = {{GIFProgressStage::Starting, 0, saving},
                               {GIFProgressStage::Running, 33, saving},
                               {GIFProgressStage::Running, 67, saving},
                               {GIFProgressStage::Running, 100, saving},
                               {GIFProgressStage::Ending, 100, saving}};
    std::vector<P> tail(rec.progress.end() - 5, rec.progress.end());
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(roundedPercent(1, 8), 0);    // 0.125
    EXPECT_EQ(roundedPercent(100, 8), 12); // 12.5: ties to even
    EXPECT_EQ(roundedPercent(300, 8), 38); // 37.5
}

TEST(GifDocument, CopySavesTheSameBytesAndDropsEncoderKind) {
    TGIFDocument source;
    source.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    source.SetDitherKind(GifDitherKind::FloydSteinberg);
    source.SetQuantizeBits(5);
    source.SetEncoderKind(1);
    for (uint32_t i = 0; i < 4; ++i) {
        auto b = gradientNoiseFrame(25 + static_cast<int>(i), 19, i);
        addConversionFrame(source, *b, 12);
    }
    auto comment = std::make_unique<TGIFCommentExtension>(&source.Frame(1));
    comment->Lines() = {"made by a test", std::string(300, 'x')};
    source.Frame(1).Extensions().Append(std::move(comment));
    auto unknown = std::make_unique<TGIFUnknownAppExtension>(&source.Frame(2));
    unknown->SetIdentifier("KELVARA1.0X");
    unknown->Blocks().push_back({{1, 2, 3}});
    source.Frame(2).Extensions().Append(std::move(unknown));

    Recorder rec;
    rec.attach(source);
    TGIFDocument copy;
    copy.SetQuantizeBits(3);
    copy.Assign(&source);
    EXPECT_EQ(copy.EncoderKind(), 0);
    EXPECT_EQ(copy.QuantizeBits(), 3);
    EXPECT_EQ(copy.ReductionMode(), GifReductionMode::QuantizeWithSystemColors);
    EXPECT_EQ(copy.DitherKind(), GifDitherKind::FloydSteinberg);
    EXPECT_FALSE(copy.OnProgress());
    EXPECT_FALSE(copy.WarningHandler());
    const std::string copying = GifMessages::Copying;
    using P = std::tuple<GIFProgressStage, int, std::string>;
    EXPECT_EQ(rec.progress, (std::vector<P>{{GIFProgressStage::Starting, 0, copying},
                                            {GIFProgressStage::Running, 25, copying},
                                            {GIFProgressStage::Running, 50, copying},
                                            {GIFProgressStage::Running, 75, copying},
                                            {GIFProgressStage::Running, 100, copying},
                                            {GIFProgressStage::Ending, 100, copying}}));

    source.SetEncoderKind(0);
    source.SetOnProgress(nullptr);
    EXPECT_EQ(save(copy), save(source));
    // The copy re-read its extensions: they are new objects of the right classes.
    EXPECT_NE(dynamic_cast<TGIFAppExtNSLoop*>(&copy.Frame(0).Extensions().Items(0)), nullptr);
    EXPECT_NE(dynamic_cast<TGIFCommentExtension*>(&copy.Frame(1).Extensions().Items(1)), nullptr);
    EXPECT_NE(dynamic_cast<TGIFUnknownAppExtension*>(&copy.Frame(2).Extensions().Items(1)), nullptr);
    EXPECT_NE(copy.Frame(3).GraphicControlExtension(), nullptr);

    // Copying a document whose EncoderKind is 1 gives a copy that writes with LZW.
    source.SetEncoderKind(1);
    const auto rle = save(source);
    TGIFDocument lzw;
    lzw.Assign(&source);
    source.SetEncoderKind(0);
    EXPECT_EQ(save(lzw), save(source));
    EXPECT_NE(save(lzw), rle);

    // Self and null.
    copy.Assign(&copy);
    EXPECT_EQ(copy.FrameCount(), 4);
    copy.Assign(static_cast<const TGIFDocument*>(nullptr));
    EXPECT_EQ(copy.FrameCount(), 0);
    EXPECT_EQ(copy.Width(), 0);
}

TEST(GifDocument, TakingGivesWhatACopyGivesAndEmptiesTheSource) {
    TGIFDocument source;
    source.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    source.SetDitherKind(GifDitherKind::FloydSteinberg);
    for (uint32_t i = 0; i < 3; ++i) {
        auto b = gradientNoiseFrame(20 + static_cast<int>(i), 14, i);
        addConversionFrame(source, *b, 7);
    }
    auto comment = std::make_unique<TGIFCommentExtension>(&source.Frame(2));
    comment->Lines() = {"kept"};
    source.Frame(2).Extensions().Append(std::move(comment));

    TGIFDocument copy;
    copy.Assign(&source);
    Recorder rec;
    rec.attach(source);
    TGIFDocument taken;
    taken.Take(source);
    const std::string copying = GifMessages::Copying;
    using P = std::tuple<GIFProgressStage, int, std::string>;
    EXPECT_EQ(rec.progress, (std::vector<P>{{GIFProgressStage::Starting, 0, copying},
                                            {GIFProgressStage::Running, 33, copying},
                                            {GIFProgressStage::Running, 67, copying},
                                            {GIFProgressStage::Running, 100, copying},
                                            {GIFProgressStage::Ending, 100, copying}}));
    EXPECT_EQ(save(taken), save(copy));
    EXPECT_EQ(taken.ReductionMode(), GifReductionMode::QuantizeWithSystemColors);
    for (int i = 0; i < 3; ++i) {
        // What the preview shows of each frame is the same too.
        Bitmap fromTaken, fromCopy;
        taken.Frame(i).AssignTo(fromTaken);
        copy.Frame(i).AssignTo(fromCopy);
        ASSERT_TRUE(taken.Frame(i).HasDisplayBitmap());
        ASSERT_EQ(fromTaken.Height(), fromCopy.Height());
        for (int y = 0; y < fromCopy.Height(); ++y)
            EXPECT_EQ(std::memcmp(fromTaken.ScanLine(y), fromCopy.ScanLine(y), fromCopy.Width()), 0);
    }
    EXPECT_EQ(source.FrameCount(), 0);
    EXPECT_EQ(source.Width(), 0);
    taken.Take(taken);
    EXPECT_EQ(taken.FrameCount(), 3);
}

TEST(GifDocument, AssigningABitmapMakesItTheOnlyFrame) {
    TGIFDocument doc;
    auto a = gradientNoiseFrame(8, 8, 1);
    auto b = gradientNoiseFrame(4, 3, 2);
    doc.AddFrame(*a);
    doc.Assign(*b);
    EXPECT_EQ(doc.FrameCount(), 1);
    EXPECT_EQ(doc.Width(), 4);
    EXPECT_EQ(doc.Height(), 3);
}

TEST(GifDocument, ColourNotInTableWhileSaving) {
    TGIFDocument doc;
    auto b = palettised(PixelFormat::Bits8, 4, 4, greyPalette(2), [](int x, int) { return x == 3 ? 5 : 0; });
    doc.AddFrame(*b);
    MemoryStream out;
    try {
        doc.SaveToStream(out);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), GifMessages::BadColorIndex);
    }
    // Header, descriptor, table and the code size byte stay.
    EXPECT_EQ(out.bytes().size(), 13u + 10u + 6u + 1u);
}

TEST(GifDocument, GraphicControlRecordAndTransparency) {
    TGIFDocument doc;
    auto b = gradientNoiseFrame(4, 4, 1);
    doc.AddFrame(*b);
    TGIFSubImage& f = doc.Frame(0);
    auto first = std::make_unique<TGIFGraphicControlExtension>(&f);
    TGIFGraphicControlExtension* firstPtr = first.get();
    auto second = std::make_unique<TGIFGraphicControlExtension>(&f);
    EXPECT_EQ(f.GraphicControlExtension(), firstPtr);
    first->SetTransparent(true);
    first->SetTransparentColorIndex(3);
    EXPECT_TRUE(f.Transparent());
    f.Extensions().Append(std::move(first));
    f.Extensions().Append(std::move(second));
    EXPECT_EQ(f.RequiredVersion(), 2);
    f.Extensions().Delete(0);
    EXPECT_FALSE(f.Transparent());
    EXPECT_EQ(f.GraphicControlExtension(), nullptr);
    EXPECT_EQ(f.Extensions().Count(), 1);
    {
        TGIFGraphicControlExtension unlisted(&f); // never appended
        EXPECT_EQ(f.GraphicControlExtension(), &unlisted);
    }
    EXPECT_EQ(f.GraphicControlExtension(), nullptr);

    f.Extensions().Clear();
    auto t = std::make_unique<TGIFGraphicControlExtension>(&f);
    t->SetTransparent(true);
    t->SetDisposal(2);
    f.Extensions().Append(std::move(t));
    const auto image = decodeWithGiflib(save(doc));
    EXPECT_EQ(image.frames[0].transparentIndex, 0);
}

TEST(GifDocument, InterlacedFramesWithAGlobalMap) {
    for (int kind = 0; kind <= 1; ++kind) {
        for (int h = 1; h <= 9; ++h) {
            TGIFDocument doc;
            doc.SetEncoderKind(static_cast<uint8_t>(kind));
            for (int i = 0; i < 16; ++i)
                doc.Header().ColorMap().Add({static_cast<uint8_t>(i * 16), 0, static_cast<uint8_t>(255 - i)});
            auto frame = std::make_unique<TGIFSubImage>(&doc);
            frame->SetBounds(0, 0, 7, static_cast<uint16_t>(h));
            frame->SetInterlaced(true);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < 7; ++x)
                    frame->ScanLine(y)[x] = static_cast<uint8_t>((x + 5 * y) % 16);
            doc.AddFrame(std::move(frame));
            const auto bytes = save(doc);
            EXPECT_EQ(bytes[10], 0xB3); // global table, resolution and size 4 - 1
            const auto image = decodeWithGiflib(bytes);
            EXPECT_TRUE(image.frames[0].interlaced);
            expectGiflibAgrees(doc);
        }
    }
}

TEST(GifDocument, GlobalMapIsPaddedToTheDeclaredSize) {
    TGIFDocument doc;
    for (int i = 0; i < 4; ++i)
        doc.Header().ColorMap().Add({static_cast<uint8_t>(60 * i), 0, 0});
    auto global = std::make_unique<TGIFSubImage>(&doc);
    global->SetBounds(0, 0, 5, 5);
    global->ScanLine(2)[2] = 3;
    doc.AddFrame(std::move(global));
    doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    auto local = gradientNoiseFrame(5, 5, 3);
    doc.AddFrame(*local);
    const auto bytes = save(doc);
    EXPECT_EQ(bytes[10], 0xF7);
    EXPECT_EQ(bytes[13 + 768], 0x2C); // the 4-entry global map padded to 256
    expectGiflibAgrees(doc);
}

TEST(GifDocument, GiflibAgreesForLZWAndRLEAndFullTables) {
    for (int kind = 0; kind <= 1; ++kind) {
        TGIFDocument doc;
        doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
        doc.SetDitherKind(GifDitherKind::FloydSteinberg);
        doc.SetEncoderKind(static_cast<uint8_t>(kind));
        for (uint32_t i = 0; i < 3; ++i) {
            auto b = gradientNoiseFrame(320, 240, i);
            addConversionFrame(doc, *b, 10);
        }
        // Noise forces 12-bit codes and clears.
        std::mt19937 rng(5);
        auto noise = makeBitmap24(211, 157, [&](int, int) { return static_cast<Color>(rng() & 0xFFFFFF); });
        addConversionFrame(doc, *noise, 10);
        expectGiflibAgrees(doc);
    }
}

TEST(GifDocument, ReadingBackGivesTheSameBytes) {
    TGIFDocument doc;
    doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    doc.SetDitherKind(GifDitherKind::FloydSteinberg);
    for (uint32_t i = 0; i < 3; ++i) {
        auto b = gradientNoiseFrame(41, 29, i);
        addConversionFrame(doc, *b, 4);
    }
    const auto bytes = save(doc);
    TGIFDocument read;
    MemoryStream in(bytes);
    read.LoadFromStream(in);
    ASSERT_EQ(read.FrameCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::vector<uint8_t>(read.Frame(i).Data(), read.Frame(i).Data() + read.Frame(i).DataSize()),
                  std::vector<uint8_t>(doc.Frame(i).Data(), doc.Frame(i).Data() + doc.Frame(i).DataSize()));
    EXPECT_EQ(save(read), bytes);
}

TEST(GifDocument, SaveToFileGoesThroughATemporaryName) {
    const auto dir = std::filesystem::temp_directory_path() / "kelvara_gif_doc_test";
    std::filesystem::create_directories(dir);
    const auto path = (dir / "out.gif").string();
    TGIFDocument doc;
    auto b = gradientNoiseFrame(6, 6, 1);
    doc.AddFrame(*b);
    doc.SaveToFile(path);
    EXPECT_EQ(readFile(path), save(doc));
    TGIFDocument empty;
    EXPECT_THROW(empty.SaveToFile((dir / "none.gif").string()), GIFException);
    EXPECT_FALSE(std::filesystem::exists(dir / "none.gif"));
    std::filesystem::remove_all(dir);
}

TEST(GifDocument, DisplayBitmapOfAReducedFrame) {
    TGIFDocument doc;
    doc.SetReductionMode(GifReductionMode::QuantizeWithSystemColors);
    doc.SetDitherKind(GifDitherKind::FloydSteinberg);
    auto b = gradientNoiseFrame(12, 9, 1);
    doc.AddFrame(*b);
    const TGIFSubImage& f = doc.Frame(0);
    Bitmap shown;
    f.AssignTo(shown);
    ASSERT_EQ(shown.PixelFormat(), PixelFormat::Bits8);
    ASSERT_EQ(shown.Width(), 12);
    ASSERT_EQ(shown.palette().size(), 256u);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x)
            EXPECT_EQ(shown.ScanLine(y)[x], f.Pixel(x, y));
    TGIFDocument copy;
    copy.Assign(&doc);
    EXPECT_TRUE(copy.Frame(0).HasDisplayBitmap());
}

// Found by the fuzzer: a 46-byte file whose frame asks for about 270 million pixels. It is refused
// before anything that size is allocated.
TEST(GifDocumentRegression, HugeFrameWithoutDataIsRefused) {
    const std::vector<uint8_t> bytes = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x05, 0x00, 0x03, 0x00, 0xF1, 0x00, 0x00, 0xFF, 0x00, 0x00,
        0x00, 0x00, 0xFF, 0x80, 0x00, 0x80, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x2C, 0x00, 0x00, 0x00, 0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x05, 0x00, 0x3B};
    kelvara::MemoryStream stream(bytes);
    kelvara::TGIFDocument document;
    try {
        document.LoadFromStream(stream);
        ADD_FAILURE() << "read a frame its data cannot fill";
    } catch (const kelvara::GIFException& e) {
        EXPECT_STREQ(e.what(), kelvara::GifMessages::OutOfData);
    }
}
