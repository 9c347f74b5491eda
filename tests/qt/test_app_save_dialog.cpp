// Tests of the save-parameters dialog: its pages and defaults, the sizes it shows, "Lock preview",
// the coupled TIFF lists, the reductions of the preview, the palette picker and "OK".
#include "AppFixture.h"
#include "input/PictureReader.h"
#include "output/ImageQuantizer.h"
#include "output/StillImageCodec.h"
#include "raster/Stream.h"
#include "support/OutputOracles.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

using namespace kelvara;
using namespace kelvara::test;

namespace {

// A picture of many colours: red across, green down, blue in a checker.
void gradient(Bitmap& bitmap, int w, int h) {
    bitmap.SetPixelFormat(PixelFormat::Bits24);
    bitmap.SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            row[x * 3 + 0] = static_cast<uint8_t>(((x / 8 + y / 8) % 2) * 200);
            row[x * 3 + 1] = static_cast<uint8_t>(y * 255 / std::max(1, h - 1));
            row[x * 3 + 2] = static_cast<uint8_t>(x * 255 / std::max(1, w - 1));
        }
    }
}

struct Dialog {
    AppWindows app;
    TSAVEparam& d = *app.saveParam;
    Bitmap source;
    StillImageSaveOptions options;
    std::vector<size_t> pickerSizes; // the number of colours the palette picker offered, each time
    std::optional<Color> pickerAnswer;

    explicit Dialog(StillImageFormat page, int w = 64, int h = 48) {
        gradient(source, w, h);
        d.pickPaletteColor = [this](const std::vector<Color>& colors) {
            pickerSizes.push_back(colors.size());
            return pickerAnswer;
        };
        d.chooseColor = [](const QColor&) -> std::optional<QColor> { return std::nullopt; };
        show(page);
    }
    ~Dialog() { d.hide(); }
    // Shows the dialog as execute does, without its modal loop: activation happens on showing.
    void show(StillImageFormat page) {
        d.hide();
        d.setSource(source);
        d.setPage(page);
        d.setSaveOptions(&options);
        d.show();
    }
    uint64_t compressedSize() const { return d.Label25->text().section(' ', 0, 0).toULongLong(); }
    const Bitmap& result() const { return d.ImageView2->picture(); }
};

// The size of the file "Save" writes with the given options.
uint64_t savedSize(const Bitmap& picture, const StillImageSaveOptions& options, StillImageFormat format) {
    return encodeStillImage(picture, options, format).bytes.size();
}

// Expects the result view to show exactly the picture the file holds, as the picture reader
// gives it.
void expectShowsFile(const Bitmap& result, const EncodedImage& file, StillImageFormat format) {
    Bitmap held;
    decodeStillImage(format, file.bytes.data(), file.bytes.size(), held);
    ASSERT_EQ(result.Width(), held.Width());
    ASSERT_EQ(result.Height(), held.Height());
    for (int y = 0; y < held.Height(); ++y)
        for (int x = 0; x < held.Width(); ++x)
            ASSERT_EQ(result.pixel(x, y), held.pixel(x, y)) << x << ", " << y;
}

// The picture in a file as a viewer shows it: read by the picture reader, and for a GIF by
// giflib, its transparent pixels as the result view's checkerboard.
void readShownFile(const std::vector<uint8_t>& file, StillImageFormat format, Bitmap& shown) {
    if (format != StillImageFormat::Gif) {
        decodeStillImage(format, file.data(), file.size(), shown);
        return;
    }
    const still::GifFacts gif = still::readGifFactsWithGiflib(file);
    still::fillPicture(shown, gif.width, gif.height, [&](int x, int y) {
        const int index = gif.indexes[static_cast<size_t>(y) * gif.width + x];
        return gif.transparent && index == gif.transparentIndex ? transparencyCheckerColor(x, y)
                                                                : gif.globalColors[size_t(index)];
    });
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Presses "OK" and saves the source picture as "Save" of the "Get frames" tab does; gives the
// file's bytes.
std::vector<uint8_t> okAndSave(Dialog& t, StillImageFormat format, const ScratchDir& dir) {
    t.d.Button1Click();
    const std::string path = dir.file(std::string("frame1") + stillImageExtension(format));
    saveStillImageFile(t.source, t.options, format, path, ExistingFile::Replace);
    return fileBytes(path);
}

std::set<Color> colorsOf(const Bitmap& bitmap) {
    std::set<Color> colors;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            colors.insert(bitmap.pixel(x, y));
    return colors;
}

} // namespace

TEST(SaveDialog, HasItsPagesControlsAndCaptions) {
    Dialog t(StillImageFormat::Jpeg);
    TSAVEparam& d = t.d;
    EXPECT_EQ(d.windowTitle(), "Paramters preview");
    // 524 x 417 where the pages fit; wider where every page's tab needs more room.
    EXPECT_GE(d.width(), 524);
    EXPECT_GE(d.height(), 417);
    EXPECT_EQ(d.ImageView1->size(), QSize(238, 168));
    EXPECT_EQ(d.ImageView2->size(), QSize(238, 168));
    const QStringList tabs = {"JPEG", "TIFF", "GIF", "BMP", "PCX", "PNG", "TGA", "JPEG2000"};
    ASSERT_EQ(d.PageControl1->count(), tabs.size());
    for (int i = 0; i < tabs.size(); ++i)
        EXPECT_EQ(d.PageControl1->tabText(i), tabs[i]);
    EXPECT_EQ(d.PageControl1->tabPosition(), QTabWidget::South);
    EXPECT_EQ(d.Button1->text(), "OK");
    EXPECT_TRUE(d.Button1->isDefault());
    EXPECT_EQ(d.Button3->text(), "&Preview");
    EXPECT_EQ(d.findChild<QToolButton*>("SpeedButton1")->toolTip(), "Lock preview");
    EXPECT_EQ(d.TrackBar13->maximum(), 100);
    EXPECT_EQ(d.TrackBar13->tickInterval(), 5);
    EXPECT_TRUE(d.Edit22->isReadOnly());
    EXPECT_EQ(d.TrackBar1->maximum(), 1000);
    EXPECT_EQ(d.TrackBar1->tickInterval(), 20);
    EXPECT_EQ(d.ComboBox3->itemText(0), "WHITEISZERO/Gray");
    EXPECT_EQ(d.ComboBox7->itemText(5), "16M (32bit)");
    EXPECT_EQ(d.ComboBox5->count(), 8);
    EXPECT_EQ(d.ComboBox12->itemText(9), "MAX");
    EXPECT_EQ(d.findChild<QComboBox*>("ComboBox13")->itemText(4), "YCbCrK");
}

TEST(SaveDialog, ActivationResetsTheDefaultsLocksThePreviewAndMakesIt) {
    Dialog t(StillImageFormat::Jpeg);
    TSAVEparam& d = t.d;
    EXPECT_EQ(d.Edit22->text(), "50");
    EXPECT_EQ(d.TrackBar13->value(), 50);
    EXPECT_EQ(d.ComboBox13->currentText(), "YCbCrK");
    EXPECT_EQ(d.ComboBox1->currentText(), "ISLOW");
    EXPECT_EQ(d.Edit23->text(), "0");
    EXPECT_TRUE(d.SpeedButton1->isChecked());
    EXPECT_FALSE(d.Button3->isEnabled());
    // The preview: the JPEG the writer makes, read back.
    EXPECT_EQ(t.compressedSize(),
              savedSize(t.source, defaultSaveOptions(StillImageFormat::Jpeg), StillImageFormat::Jpeg));
    EXPECT_EQ(d.Label25->text(), QString::number(t.compressedSize()) + " bytes");
    ASSERT_EQ(t.result().Width(), 64);
    const Color c = t.result().pixel(40, 30), s = t.source.pixel(40, 30);
    EXPECT_NEAR(redOf(c), redOf(s), 40);
    EXPECT_NEAR(greenOf(c), greenOf(s), 40);

    // A changed quality is forgotten at the next activation.
    d.TrackBar13->setValue(90);
    EXPECT_EQ(d.parameterSet().jpeg.quality, 90);
    EXPECT_EQ(d.Edit22->text(), "90");
    t.show(StillImageFormat::Jpeg);
    EXPECT_EQ(d.parameterSet().jpeg.quality, 50);
    EXPECT_EQ(d.TrackBar13->value(), 50);
}

TEST(SaveDialog, OriginalSizeIsThatOfAnUncompressedBitmap) {
    struct Case {
        int w, h;
        PixelFormat format;
        const char* text;
    };
    for (Case c :
         {Case{320, 240, PixelFormat::Bits24, "230400 bytes"}, Case{33, 10, PixelFormat::Bits1, "80 bytes"},
          Case{1, 1, PixelFormat::Bits24, "4 bytes"}}) {
        SCOPED_TRACE(c.text);
        Dialog t(StillImageFormat::Bmp, c.w, c.h);
        t.source.SetPixelFormat(c.format);
        t.show(StillImageFormat::Bmp);
        EXPECT_EQ(t.d.Label4->text(), c.text);
    }
}

TEST(SaveDialog, WithLockPreviewUpChangesWaitForPreview) {
    Dialog t(StillImageFormat::Jpeg);
    TSAVEparam& d = t.d;
    const uint64_t before = t.compressedSize();
    const Color pixelBefore = t.result().pixel(10, 10);

    QTest::mouseClick(d.SpeedButton1, Qt::LeftButton);
    EXPECT_FALSE(d.SpeedButton1->isChecked());
    EXPECT_TRUE(d.Button3->isEnabled());
    d.TrackBar13->setValue(2);
    EXPECT_EQ(d.parameterSet().jpeg.quality, 2);
    EXPECT_EQ(t.compressedSize(), before);
    EXPECT_EQ(t.result().pixel(10, 10), pixelBefore);

    QTest::mouseClick(d.Button3, Qt::LeftButton);
    StillImageSaveOptions low = defaultSaveOptions(StillImageFormat::Jpeg);
    low.jpeg.quality = 2;
    EXPECT_EQ(t.compressedSize(), savedSize(t.source, low, StillImageFormat::Jpeg));
    EXPECT_LT(t.compressedSize(), before);

    // Pressed down again it makes the preview at once and disables "&Preview".
    d.TrackBar13->setValue(95);
    EXPECT_LT(t.compressedSize(), before);
    QTest::mouseClick(d.SpeedButton1, Qt::LeftButton);
    EXPECT_FALSE(d.Button3->isEnabled());
    EXPECT_GT(t.compressedSize(), before);
}

TEST(SaveDialog, JpegEditsReadTheirNumbersOrTheirDefaults) {
    Dialog t(StillImageFormat::Jpeg);
    TSAVEparam& d = t.d;
    d.Edit23->setText("7");
    EXPECT_EQ(d.parameterSet().jpeg.smoothing, 7);
    d.Edit23->setText("x");
    EXPECT_EQ(d.parameterSet().jpeg.smoothing, 0);
    d.Edit22->setText("33");
    EXPECT_EQ(d.TrackBar13->value(), 33);
    EXPECT_EQ(d.parameterSet().jpeg.quality, 33);
    d.Edit22->setText("");
    EXPECT_EQ(d.parameterSet().jpeg.quality, 50);
}

TEST(SaveDialog, TiffListsAreCoupled) {
    Dialog t(StillImageFormat::Tiff);
    TSAVEparam& d = t.d;
    EXPECT_EQ(d.ComboBox3->currentText(), "RGB");
    EXPECT_EQ(d.ComboBox4->currentText(), "16M");

    d.ComboBox3->setCurrentText("RGBPALETTE");
    EXPECT_EQ(d.ComboBox4->currentText(), "256");
    EXPECT_EQ(d.parameterSet().tiffBitsPerSample, 8);
    EXPECT_EQ(d.parameterSet().tiffSamplesPerPixel, 1);

    d.ComboBox3->setCurrentText("RGB");
    EXPECT_EQ(d.ComboBox4->currentText(), "16M");
    d.ComboBox4->setCurrentText("16");
    EXPECT_EQ(d.ComboBox3->currentText(), "RGBPALETTE");
    EXPECT_EQ(d.parameterSet().tiffBitsPerSample, 4);

    d.ComboBox4->setCurrentText("B/W");
    EXPECT_EQ(d.ComboBox3->currentText(), "BLACKISZERO/Gray");
    d.ComboBox3->setCurrentText("CMYK");
    EXPECT_EQ(d.ComboBox4->currentText(), "16M");
    EXPECT_EQ(d.parameterSet().tiffBitsPerSample, 8);
    EXPECT_EQ(d.parameterSet().tiffSamplesPerPixel, 4);
    d.ComboBox3->setCurrentText("WHITEISZERO/Gray");
    EXPECT_EQ(d.ComboBox4->currentText(), "256");

    d.ComboBox2->setCurrentText("LZW");
    d.Button1Click();
    EXPECT_EQ(t.options.tiff.compression, TiffCompression::Lzw);
    EXPECT_EQ(t.options.tiff.photometric, TiffPhotometric::WhiteIsZero);
    EXPECT_EQ(t.options.bitsPerSample, 8);
    EXPECT_EQ(t.options.samplesPerPixel, 1);
}

TEST(SaveDialog, GreyTiffPreviewShowsTheSavedFileAndReducedTiffKeepsItsPalette) {
    Dialog t(StillImageFormat::Tiff);
    TSAVEparam& d = t.d;
    // The first preview of the page, made with the lock up and "&Preview".
    d.SpeedButton1->click();
    d.ComboBox3->setCurrentText("BLACKISZERO/Gray");
    d.Button3Click();
    // "Save" writes a grey 8-bit TIFF as a palette of 256 colours: the preview shows exactly what
    // that file holds, and its palette is the colour map.
    d.Button1Click();
    ASSERT_EQ(t.options.tiff.photometric, TiffPhotometric::BlackIsZero);
    const EncodedImage file = encodeStillImage(t.source, t.options, StillImageFormat::Tiff);
    expectShowsFile(t.result(), file, StillImageFormat::Tiff);
    EXPECT_EQ(t.compressedSize(), file.bytes.size());
    EXPECT_EQ(d.colorMap(), file.palette);
    EXPECT_EQ(d.colorMap().size(), 256u);

    d.ComboBox4->setCurrentText("16");
    d.Button3Click();
    EXPECT_EQ(d.colorMap().size(), 16u);
    EXPECT_LE(colorsOf(t.result()).size(), 16u);
}

TEST(SaveDialog, BlackAndWhiteGifPreviewAndItsPalettePicker) {
    Dialog t(StillImageFormat::Gif);
    TSAVEparam& d = t.d;
    EXPECT_EQ(d.ComboBox5->currentText(), "256");
    EXPECT_FALSE(d.Panel3->isEnabled());
    EXPECT_EQ(d.colorMap().size(), 256u);

    d.ComboBox5->setCurrentText("B/W");
    EXPECT_EQ(colorsOf(t.result()), (std::set<Color>{ColorBlack, ColorWhite}));
    // Ordered dithering: pixel (5, 3) is white when the Bayer entry there, 27, is below g.
    const Color s = t.source.pixel(5, 3);
    const int g = (21 * redOf(s) + 71 * greenOf(s) + 8 * blueOf(s)) / 400;
    EXPECT_EQ(t.result().pixel(5, 3), 27 < g ? ColorWhite : ColorBlack);
    EXPECT_EQ(BayerMatrix[5][3], 27);
    StillImageSaveOptions bw = defaultSaveOptions(StillImageFormat::Gif);
    bw.bitsPerSample = 1;
    EXPECT_EQ(t.compressedSize(), savedSize(t.source, bw, StillImageFormat::Gif));
    expectShowsFile(t.result(), encodeStillImage(t.source, bw, StillImageFormat::Gif), StillImageFormat::Gif);

    // Mid-grey (g = 32) dithers to white on exactly the 32 matrix entries below 32. Two pixels of
    // the neighbouring greys 127 (g = 31) and 129 (g = 32), placed where their g changes nothing,
    // make it a picture of three colours: one of one or two colours is stored exactly.
    Bitmap grey;
    grey.SetPixelFormat(PixelFormat::Bits24);
    grey.SetSize(8, 8);
    grey.Canvas().Brush.Color = rgbColor(128, 128, 128);
    grey.Canvas().FillRect({0, 0, 8, 8});
    grey.setPixel(0, 1, rgbColor(127, 127, 127)); // entry 32
    grey.setPixel(7, 7, rgbColor(129, 129, 129)); // entry 21
    d.setSource(grey);
    d.Button3Click();
    int white = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            white += t.result().pixel(x, y) == ColorWhite;
    EXPECT_EQ(white, 32);
    EXPECT_EQ(t.result().pixel(0, 0), ColorWhite); // entry 0
    EXPECT_EQ(t.result().pixel(0, 1), ColorBlack); // entry 32
    EXPECT_EQ(t.result().pixel(7, 7), ColorWhite); // entry 21

    t.pickerAnswer = ColorWhite;
    d.Panel4Click();
    ASSERT_EQ(t.pickerSizes, std::vector<size_t>{2});
    EXPECT_EQ(d.Panel4->color(), ColorWhite);

    // Transparent enables its colour; the picker's cancel keeps the swatch's colour.
    d.CheckBox4->setChecked(true);
    EXPECT_TRUE(d.Panel3->isEnabled());
    EXPECT_TRUE(d.transparentColorLabel->isEnabled());
    t.pickerAnswer.reset();
    d.Panel3Click();
    EXPECT_EQ(d.Panel3->color(), ColorBlack);

    d.Button1Click();
    EXPECT_EQ(t.options.gif.background, ColorWhite);
    EXPECT_TRUE(t.options.gif.transparent);
    EXPECT_EQ(t.options.bitsPerSample, 1);
}

TEST(SaveDialog, PngAndTgaBackgroundsUseThePaletteOnlyWhenThereIsOne) {
    Dialog t(StillImageFormat::Png);
    TSAVEparam& d = t.d;
    int colorDialogs = 0;
    d.chooseColor = [&](const QColor&) -> std::optional<QColor> {
        ++colorDialogs;
        return QColor(10, 20, 30);
    };
    // "16M" leaves no colour map: the colour dialog.
    d.Panel1Click();
    EXPECT_EQ(colorDialogs, 1);
    EXPECT_TRUE(t.pickerSizes.empty());
    EXPECT_EQ(d.parameterSet().png.background, rgbColor(10, 20, 30));

    d.ComboBox10->setCurrentText("256");
    EXPECT_EQ(d.colorMap().size(), 256u);
    t.pickerAnswer = d.colorMap()[3];
    d.Panel1Click();
    EXPECT_EQ(colorDialogs, 1);
    ASSERT_EQ(t.pickerSizes, std::vector<size_t>{256});
    EXPECT_EQ(d.Panel1->color(), *t.pickerAnswer);
    d.Button1Click();
    EXPECT_EQ(t.options.png.background, *t.pickerAnswer);
    EXPECT_EQ(t.options.bitsPerSample, 8);
    EXPECT_EQ(t.options.samplesPerPixel, 1);

    t.show(StillImageFormat::Tga);
    d.ComboBox14->setCurrentText("B/W");
    d.Panel5Click();
    EXPECT_EQ(t.pickerSizes.back(), 2u);
}

TEST(SaveDialog, BmpTrueColourAnd32BitGiveTheSamePreviewAndOptions) {
    Dialog t(StillImageFormat::Bmp);
    TSAVEparam& d = t.d;
    const uint64_t size = t.compressedSize();
    d.Button1Click();
    const StillImageSaveOptions first = t.options;
    d.ComboBox7->setCurrentText("16M (32bit)");
    EXPECT_EQ(t.compressedSize(), size);
    EXPECT_EQ(t.compressedSize(), savedSize(t.source, first, StillImageFormat::Bmp));
    EXPECT_EQ(colorsOf(t.result()), colorsOf(t.source));
    d.Button1Click();
    EXPECT_EQ(t.options.bitsPerSample, first.bitsPerSample);
    EXPECT_EQ(t.options.samplesPerPixel, first.samplesPerPixel);

    // "16": the plain reduction leaves at most 16 colours; the size is that of the saved file.
    d.ComboBox7->setCurrentText("16");
    d.Button1Click();
    EXPECT_LE(colorsOf(t.result()).size(), 16u);
    EXPECT_EQ(t.compressedSize(), savedSize(t.source, t.options, StillImageFormat::Bmp));
}

TEST(SaveDialog, Jpeg2000PreviewIsReadBackAndTheRateEditFollowsTheTrackBar) {
    Dialog t(StillImageFormat::Jpeg2000);
    TSAVEparam& d = t.d;
    EXPECT_EQ(d.Edit15->text(), "500");
    EXPECT_EQ(d.ComboBox15->currentText(), "YCbCr");
    ASSERT_EQ(t.result().Width(), 64);
    const StillImageSaveOptions options = defaultSaveOptions(StillImageFormat::Jpeg2000);
    EXPECT_EQ(t.compressedSize(), savedSize(t.source, options, StillImageFormat::Jpeg2000));

    for (int position : {290, 1, 1000, 570}) {
        d.TrackBar1->setValue(position);
        EXPECT_EQ(d.Edit15->text(), QString::number(position));
        EXPECT_EQ(d.TrackBar1->value(), position);
    }
    d.ComboBox15->setCurrentText("GrayScale");
    const Color c = t.result().pixel(30, 30);
    EXPECT_EQ(redOf(c), greenOf(c));
    EXPECT_EQ(greenOf(c), blueOf(c));
    d.Button1Click();
    EXPECT_DOUBLE_EQ(t.options.jpeg2000.rate, 0.57);
    EXPECT_EQ(t.options.jpeg2000.colorSpace, Jpeg2000ColorSpace::Gray);
    EXPECT_EQ(t.options.samplesPerPixel, 1);
}

TEST(SaveDialog, ResultViewFollowsTheSourceView) {
    Dialog t(StillImageFormat::Pcx, 400, 300);
    TSAVEparam& d = t.d;
    d.ImageView1->setZoom(200);
    d.ImageView1->setScrollPosition(150, 90);
    EXPECT_EQ(d.ImageView2->zoom(), 200);
    EXPECT_EQ(d.ImageView2->scrollX(), d.ImageView1->scrollX());
    EXPECT_EQ(d.ImageView2->scrollY(), d.ImageView1->scrollY());
    EXPECT_EQ(d.ImageView1->scrollX(), 150);

    // The mouse: Ctrl and the wheel zoom the source view, the wheel scrolls it.
    auto wheel = [&](Qt::KeyboardModifiers modifiers, int delta) {
        const QPointF at(100, 80);
        QWheelEvent event(at, d.ImageView1->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(d.ImageView1, &event);
    };
    wheel(Qt::ControlModifier, 120);
    EXPECT_EQ(d.ImageView1->zoom(), 400);
    EXPECT_EQ(d.ImageView2->zoom(), 400);
    const int y = d.ImageView1->scrollY();
    wheel(Qt::NoModifier, -120);
    EXPECT_EQ(d.ImageView1->scrollY(), y + 40);
    EXPECT_EQ(d.ImageView2->scrollY(), y + 40);
}

TEST(SaveDialog, ATgaNameTypedThenOkAtOnceIsCopied) {
    AppWindows app;
    TSAVEparam& d = *app.saveParam;
    Bitmap source;
    gradient(source, 20, 10);
    StillImageSaveOptions options;
    QTimer::singleShot(0, &d, [&] {
        QTest::keyClicks(d.Edit13, "Sunset");
        d.Edit14->setText("over the bay");
        QTest::mouseClick(d.Button1, Qt::LeftButton);
    });
    ASSERT_TRUE(d.execute(StillImageFormat::Tga, source, options));
    EXPECT_EQ(options.tga.name, "Sunset");
    EXPECT_EQ(options.tga.description, "over the bay");
    EXPECT_TRUE(options.tga.compressed);
    EXPECT_EQ(options.bitsPerSample, 8);
    EXPECT_EQ(options.samplesPerPixel, 3);

    // Cancel copies nothing.
    StillImageSaveOptions untouched;
    untouched.tga.name = "kept";
    QTimer::singleShot(0, &d, [&] {
        d.Edit13->setText("other");
        QTest::mouseClick(d.Button2, Qt::LeftButton);
    });
    EXPECT_FALSE(d.execute(StillImageFormat::Tga, source, untouched));
    EXPECT_EQ(untouched.tga.name, "kept");
}

// Every page, with its defaults and with options that change what is written: the result view
// is the saved file as a viewer shows it, and "Compressed size:" is that file's length.
TEST(SaveDialog, ResultAndSizeAreThoseOfTheSavedFile) {
    using F = StillImageFormat;
    struct Case {
        const char* name;
        F format;
        std::function<void(TSAVEparam&)> choose;
    };
    const Case cases[] = {
        {"JPEG", F::Jpeg, {}},
        {"JPEG grey, quality 90, progressive", F::Jpeg,
         [](TSAVEparam& d) {
             d.TrackBar13->setValue(90);
             d.ComboBox13->setCurrentText("GrayScale");
             d.CheckBox3->setChecked(true);
         }},
        {"TIFF", F::Tiff, {}},
        {"TIFF LZW", F::Tiff, [](TSAVEparam& d) { d.ComboBox2->setCurrentText("LZW"); }},
        {"TIFF 16 colours PACKBITS", F::Tiff,
         [](TSAVEparam& d) {
             d.ComboBox4->setCurrentText("16");
             d.ComboBox2->setCurrentText("PACKBITS");
         }},
        {"TIFF G4FAX", F::Tiff, [](TSAVEparam& d) { d.ComboBox2->setCurrentText("G4FAX"); }},
        {"TIFF G3FAX2D", F::Tiff, [](TSAVEparam& d) { d.ComboBox2->setCurrentText("G3FAX2D"); }},
        {"TIFF B/W", F::Tiff, [](TSAVEparam& d) { d.ComboBox4->setCurrentText("B/W"); }},
        {"TIFF CMYK", F::Tiff, [](TSAVEparam& d) { d.ComboBox3->setCurrentText("CMYK"); }},
        {"GIF", F::Gif, {}},
        {"GIF 4 colours, transparent", F::Gif,
         [](TSAVEparam& d) {
             d.ComboBox5->setCurrentText("4");
             d.CheckBox4->setChecked(true);
         }},
        {"GIF B/W interlaced", F::Gif,
         [](TSAVEparam& d) {
             d.ComboBox5->setCurrentText("B/W");
             d.CheckBox5->setChecked(true);
         }},
        {"BMP", F::Bmp, {}},
        {"BMP 256 RLE", F::Bmp,
         [](TSAVEparam& d) {
             d.ComboBox7->setCurrentText("256");
             d.ComboBox6->setCurrentText("RLE");
         }},
        {"BMP 16", F::Bmp, [](TSAVEparam& d) { d.ComboBox7->setCurrentText("16"); }},
        {"BMP B/W", F::Bmp, [](TSAVEparam& d) { d.ComboBox7->setCurrentText("B/W"); }},
        {"PCX", F::Pcx, {}},
        {"PCX 16M uncompressed", F::Pcx,
         [](TSAVEparam& d) {
             d.ComboBox9->setCurrentText("16M");
             d.ComboBox8->setCurrentText("UNCOMPRESSED");
         }},
        {"PCX B/W", F::Pcx, [](TSAVEparam& d) { d.ComboBox9->setCurrentText("B/W"); }},
        {"PNG", F::Png, {}},
        {"PNG 256 interlaced, PAETH, MAX", F::Png,
         [](TSAVEparam& d) {
             d.ComboBox10->setCurrentText("256");
             d.CheckBox6->setChecked(true);
             d.ComboBox11->setCurrentText("PAETH");
             d.ComboBox12->setCurrentText("MAX");
         }},
        {"PNG B/W", F::Png, [](TSAVEparam& d) { d.ComboBox10->setCurrentText("B/W"); }},
        {"TGA", F::Tga, {}},
        {"TGA with a name and a description typed", F::Tga,
         [](TSAVEparam& d) {
             QTest::keyClicks(d.Edit13, "Sunset");
             QTest::keyClicks(d.Edit14, "over the bay");
         }},
        {"TGA 256 uncompressed", F::Tga,
         [](TSAVEparam& d) {
             d.ComboBox14->setCurrentText("256");
             d.CheckBox1->setChecked(false);
         }},
        {"TGA B/W", F::Tga, [](TSAVEparam& d) { d.ComboBox14->setCurrentText("B/W"); }},
        {"JPEG2000", F::Jpeg2000, {}},
        {"JPEG2000 grey, rate 100", F::Jpeg2000,
         [](TSAVEparam& d) {
             d.ComboBox15->setCurrentText("GrayScale");
             d.TrackBar1->setValue(100);
         }},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Odd sizes, so that row padding and bit packing show.
        Dialog t(c.format, 61, 37);
        if (c.choose)
            c.choose(t.d);
        const std::vector<uint8_t> file = okAndSave(t, c.format, dir);
        EXPECT_EQ(t.compressedSize(), file.size());
        Bitmap shown;
        readShownFile(file, c.format, shown);
        ASSERT_EQ(t.result().Width(), shown.Width());
        ASSERT_EQ(t.result().Height(), shown.Height());
        int differing = 0;
        for (int y = 0; y < shown.Height(); ++y)
            for (int x = 0; x < shown.Width(); ++x)
                differing += t.result().pixel(x, y) != shown.pixel(x, y);
        EXPECT_EQ(differing, 0);
    }
}

// A fax coding is written for black and white only: the page says so, and with B/W it shows the
// photometric the file carries.
TEST(SaveDialog, FaxCodingsMakeTheTiffPageBlackAndWhite) {
    Dialog t(StillImageFormat::Tiff);
    TSAVEparam& d = t.d;
    ScratchDir dir;
    struct Expected {
        const char* compression;
        int tag;
    };
    for (Expected fax : {Expected{"CCITT1D", 2}, {"G3FAX1D", 3}, {"G3FAX2D", 3}, {"G4FAX", 4}}) {
        SCOPED_TRACE(fax.compression);
        d.ComboBox3->setCurrentText("RGB");
        ASSERT_EQ(d.ComboBox4->currentText(), "16M");
        d.ComboBox2->setCurrentText(fax.compression);
        EXPECT_EQ(d.ComboBox4->currentText(), "B/W");
        EXPECT_EQ(d.ComboBox3->currentText(), "WHITEISZERO/Gray");
        EXPECT_EQ(colorsOf(t.result()), (std::set<Color>{ColorBlack, ColorWhite}));
        const std::vector<uint8_t> file = okAndSave(t, StillImageFormat::Tiff, dir);
        EXPECT_EQ(t.compressedSize(), file.size());
        const still::TiffFacts tiff = still::decodeWithLibtiff(file);
        EXPECT_EQ(tiff.compression, fax.tag);
        EXPECT_EQ(tiff.photometric, 0); // WhiteIsZero
        EXPECT_EQ(tiff.bitsPerSample, 1);
    }

    // Colours other than B/W take the coding back to none.
    d.ComboBox4->setCurrentText("256");
    EXPECT_EQ(d.ComboBox2->currentText(), "UNCOMPRESSED");
    d.ComboBox2->setCurrentText("G4FAX");
    d.ComboBox3->setCurrentText("RGB");
    EXPECT_EQ(d.ComboBox4->currentText(), "16M");
    EXPECT_EQ(d.ComboBox2->currentText(), "UNCOMPRESSED");

    // B/W without a fax coding is written BlackIsZero, whichever grey was asked for.
    for (const char* compression : {"UNCOMPRESSED", "LZW", "PACKBITS"}) {
        SCOPED_TRACE(compression);
        d.ComboBox2->setCurrentText(compression);
        d.ComboBox4->setCurrentText("B/W");
        d.ComboBox3->setCurrentText("WHITEISZERO/Gray");
        EXPECT_EQ(d.ComboBox3->currentText(), "BLACKISZERO/Gray");
        const still::TiffFacts tiff = still::decodeWithLibtiff(okAndSave(t, StillImageFormat::Tiff, dir));
        EXPECT_EQ(tiff.photometric, 1); // BlackIsZero
        EXPECT_EQ(tiff.bitsPerSample, 1);
        EXPECT_EQ(t.options.tiff.photometric, TiffPhotometric::BlackIsZero);
    }
}

// With few colours the transparent colour keeps an entry of its own: black is transparent, the
// dark red that would share black's entry is not, and the result view shows exactly that.
TEST(SaveDialog, GifTransparencyTakesOnlyTheTransparentColour) {
    // Black and a dark red beside four light colours: reduced to four entries together, the two
    // dark ones share one.
    constexpr int w = 48, h = 24;
    Dialog t(StillImageFormat::Gif, w, h);
    TSAVEparam& d = t.d;
    const Color light[] = {rgbColor(250, 250, 120), rgbColor(120, 250, 250), rgbColor(250, 120, 250),
                           rgbColor(250, 250, 250)};
    still::fillPicture(t.source, w, h, [&](int x, int) {
        return x < 8 ? ColorBlack : x < 16 ? rgbColor(70, 0, 0) : light[(x - 16) / 8];
    });
    t.show(StillImageFormat::Gif);
    d.ComboBox5->setCurrentText("4");
    d.CheckBox4->setChecked(true); // transparent colour black, the default
    ScratchDir dir;
    const std::vector<uint8_t> file = okAndSave(t, StillImageFormat::Gif, dir);
    const still::GifFacts gif = still::readGifFactsWithGiflib(file);
    ASSERT_TRUE(gif.transparent);
    EXPECT_EQ(gif.globalColors[size_t(gif.transparentIndex)], ColorBlack);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int index = gif.indexes[size_t(y) * w + x];
            ASSERT_EQ(index == gif.transparentIndex, x < 8) << x << ", " << y;
            ASSERT_EQ(t.result().pixel(x, y), index == gif.transparentIndex ? transparencyCheckerColor(x, y)
                                                                            : gif.globalColors[size_t(index)])
                << x << ", " << y;
        }
    EXPECT_EQ(t.compressedSize(), file.size());
    // The palette picker offers the file's four entries, the transparent one among them.
    t.pickerAnswer = std::nullopt;
    d.Panel3Click();
    ASSERT_EQ(t.pickerSizes.size(), 1u);
    EXPECT_EQ(t.pickerSizes[0], 4u);
}
