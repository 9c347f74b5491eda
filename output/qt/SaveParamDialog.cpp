// The save-parameters dialog: its pages, change handlers, preview and "OK".
#include "output/qt/SaveParamDialog.h"

#include "input/PictureReader.h"
#include "output/ImageQuantizer.h"
#include "output/StillImageWriters.h"
#include "output/WriterSupport.h"
#include "output/qt/PaletteDialog.h"
#include "raster/Stream.h"

#include <QColorDialog>
#include <QMouseEvent>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvara {

namespace {

template <typename T> T* named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

// The pages in tab order.
constexpr StillImageFormat PageOrder[] = {
    StillImageFormat::Jpeg, StillImageFormat::Tiff, StillImageFormat::Gif, StillImageFormat::Bmp,
    StillImageFormat::Pcx,  StillImageFormat::Png,  StillImageFormat::Tga, StillImageFormat::Jpeg2000,
};

int pageIndex(StillImageFormat format) {
    for (int i = 0; i < 8; ++i)
        if (PageOrder[i] == format)
            return i;
    return 0;
}

QString colorsText(ColorsEntry entry) {
    switch (entry) {
    case ColorsEntry::BlackWhite:
        return "B/W";
    case ColorsEntry::C4:
        return "4";
    case ColorsEntry::C8:
        return "8";
    case ColorsEntry::C16:
        return "16";
    case ColorsEntry::C32:
        return "32";
    case ColorsEntry::C64:
        return "64";
    case ColorsEntry::C128:
        return "128";
    case ColorsEntry::C256:
        return "256";
    case ColorsEntry::C65536:
        return "65536";
    case ColorsEntry::C16M:
        return "16M";
    case ColorsEntry::C16M32:
        return "16M (32bit)";
    }
    return {};
}

void fillColorsList(QComboBox* box, StillImageFormat format) {
    for (ColorsEntry entry : colorsList(format))
        box->addItem(colorsText(entry));
}

ColorsEntry colorsAt(StillImageFormat format, int index) {
    const std::vector<ColorsEntry>& list = colorsList(format);
    return list[static_cast<size_t>(std::clamp(index, 0, static_cast<int>(list.size()) - 1))];
}

int colorsIndex(StillImageFormat format, ColorsEntry entry) {
    const std::vector<ColorsEntry>& list = colorsList(format);
    auto it = std::find(list.begin(), list.end(), entry);
    return it == list.end() ? 0 : static_cast<int>(it - list.begin());
}

// The integer in an edit, or fallback when the text is not one.
int integerIn(const QLineEdit* edit, int fallback) {
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok);
    return ok ? value : fallback;
}

// The JPEG 2000 rate in thousandths, as the rate edit and track bar show it.
int rateThousandths(double rate) {
    return static_cast<int>(std::trunc(rate * 1000));
}

// The TIFF colours entry the page shows for bits, samples and photometric.
ColorsEntry tiffColorsShown(const SaveParameterSet& set) {
    const ColorsEntry colors = tiffColorsEntry(set.tiffBitsPerSample, set.tiffSamplesPerPixel);
    switch (set.tiffPhotometric) {
    case TiffPhotometric::Cmyk:
    case TiffPhotometric::YCbCr:
    case TiffPhotometric::CieLab:
        return ColorsEntry::C16M;
    case TiffPhotometric::Rgb:
    case TiffPhotometric::RgbPalette:
    case TiffPhotometric::TranspMask:
        return colors == ColorsEntry::BlackWhite ? ColorsEntry::C16M : colors;
    case TiffPhotometric::WhiteIsZero:
    case TiffPhotometric::BlackIsZero:
        return set.tiffBitsPerSample == 1 ? ColorsEntry::BlackWhite : ColorsEntry::C256;
    }
    return colors;
}

// 2^(bits x samples), the number of colours a depth holds; capped far above 256.
int64_t colorsOfDepth(int bitsTimesSamples) {
    if (bitsTimesSamples >= 62)
        return std::numeric_limits<int64_t>::max();
    return int64_t(1) << std::max(0, bitsTimesSamples);
}

// A stream that keeps no data and only counts: its size after writing is the file's size.
class CountingStream final : public Stream {
public:
    size_t read(void*, size_t) override { return 0; }
    void write(const void*, size_t count) override {
        m_position += count;
        m_size = std::max(m_size, m_position);
    }
    uint64_t position() const override { return m_position; }
    void seek(uint64_t position) override { m_position = position; }
    uint64_t size() const override { return m_size; }

private:
    uint64_t m_position = 0;
    uint64_t m_size = 0;
};

QString bytesText(uint64_t bytes) {
    return QString::number(bytes) + " bytes";
}

// Reduces a picture to n colours (n <= 256) as the file would store it and gives the palette:
// ordered dithering to a 1-bit black-and-white picture for two colours, else the quantizer's
// palette entry in place of every pixel.
std::vector<Color> reduceToColors(Bitmap& picture, int n, const ProgressCallback& progress) {
    if (picture.PixelFormat() != PixelFormat::Bits24)
        picture.SetPixelFormat(PixelFormat::Bits24);
    const int width = picture.Width(), height = picture.Height();
    if (picture.Empty())
        return {};
    if (n <= 2) {
        std::vector<std::vector<uint8_t>> bits(static_cast<size_t>(height), std::vector<uint8_t>(width));
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = picture.ScanLine(y);
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = row + x * 3;
                const int g = (21 * p[2] + 71 * p[1] + 8 * p[0]) / 400;
                bits[y][x] = BayerMatrix[x % 8][y % 8] < g ? 1 : 0;
            }
        }
        picture.SetPixelFormat(PixelFormat::Bits1);
        picture.setPalette({PaletteEntry::fromColor(ColorBlack), PaletteEntry::fromColor(ColorWhite)});
        for (int y = 0; y < height; ++y)
            packIndexRow(bits[y].data(), width, 1, picture.ScanLine(y));
        return {ColorBlack, ColorWhite};
    }
    const RgbPicture rgb = rgbPictureOf(picture);
    const TImageQuantizer quantizer(rgb, n, QuantizerSource::Bitmap);
    const std::vector<Color>& palette = quantizer.palette();
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            uint8_t* p = row + x * 3;
            const Color c = palette[static_cast<size_t>(quantizer.index(p[2], p[1], p[0]))];
            p[0] = static_cast<uint8_t>(blueOf(c));
            p[1] = static_cast<uint8_t>(greenOf(c));
            p[2] = static_cast<uint8_t>(redOf(c));
        }
        reportProgress(progress, static_cast<int>(std::trunc(100.0 / (height + 0.5) * (y + 1))));
    }
    return palette;
}

// Each pixel becomes its grey level (21 R + 71 G + 8 B) div 100.
void convertToGrey(Bitmap& picture) {
    if (picture.PixelFormat() != PixelFormat::Bits24)
        picture.SetPixelFormat(PixelFormat::Bits24);
    for (int y = 0; y < picture.Height(); ++y) {
        uint8_t* row = picture.ScanLine(y);
        for (int x = 0; x < picture.Width(); ++x) {
            uint8_t* p = row + x * 3;
            const auto grey = static_cast<uint8_t>((21 * p[2] + 71 * p[1] + 8 * p[0]) / 100);
            p[0] = p[1] = p[2] = grey;
        }
    }
}

QColor toQColor(Color c) {
    return QColor(redOf(c), greenOf(c), blueOf(c));
}

} // namespace

ColorSwatch::ColorSwatch(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);
    setColor(ColorBlack);
}

void ColorSwatch::setColor(Color color) {
    m_color = color;
    QPalette p = palette();
    p.setColor(QPalette::Window, toQColor(color));
    setPalette(p);
}

void ColorSwatch::mouseReleaseEvent(QMouseEvent* event) {
    QFrame::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

TSAVEparam::TSAVEparam(QWidget* parent) : QDialog(parent) {
    setObjectName("SAVEparam");
    setWindowTitle("Paramters preview");
    setFixedSize(524, 417);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

    pickPaletteColor = [this](const std::vector<Color>& colors) {
        return TPaletteDialog::pickColor(colors, this);
    };
    chooseColor = [this](const QColor& initial) -> std::optional<QColor> {
        QColor c = QColorDialog::getColor(initial, this);
        if (!c.isValid())
            return std::nullopt;
        return c;
    };

    auto* sourceLabel = new QLabel("Source:", this);
    sourceLabel->move(16, 2);
    ImageView1 = named(new TImageView(this), "ImageView1");
    ImageView1->setGeometry(16, 18, 238, 168);
    ImageView1->setCentered(true);
    ImageView1->setScrolling(ScrollBars::None);
    ImageView1->setMouseNavigation(true);
    ImageView1->setBackgroundColor(palette().color(QPalette::Window));
    auto* resultLabel = new QLabel("Result:", this);
    resultLabel->move(270, 2);
    ImageView2 = named(new TImageView(this), "ImageView2");
    ImageView2->setGeometry(270, 18, 238, 168);
    ImageView2->setCentered(true);
    ImageView2->setScrolling(ScrollBars::None);
    ImageView2->setBackgroundColor(palette().color(QPalette::Window));
    ProgressBar1 = named(new QProgressBar(this), "ProgressBar1");
    ProgressBar1->setGeometry(16, 189, 492, 6);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    PageControl1->setGeometry(8, 200, 420, 188);
    PageControl1->setTabPosition(QTabWidget::South);
    const char* pageNames[] = {"JPEG", "TIFF", "GIF", "BMP", "PCX", "PNG", "TGA", "JPEG2000"};
    QWidget* pages[8];
    for (int i = 0; i < 8; ++i) {
        pages[i] = new QWidget;
        pages[i]->setObjectName(QString(pageNames[i]) + "Page");
        PageControl1->addTab(pages[i], pageNames[i]);
    }
    buildJpegPage(pages[0]);
    buildTiffPage(pages[1]);
    buildGifPage(pages[2]);
    buildBmpPage(pages[3]);
    buildPcxPage(pages[4]);
    buildPngPage(pages[5]);
    buildTgaPage(pages[6]);
    buildJpeg2000Page(pages[7]);

    Button1 = named(new QPushButton("OK", this), "Button1");
    Button1->setGeometry(436, 214, 80, 25);
    Button1->setDefault(true);
    Button2 = named(new QPushButton("Cancel", this), "Button2");
    Button2->setGeometry(436, 246, 80, 25);
    Button3 = named(new QPushButton("&Preview", this), "Button3");
    Button3->setGeometry(436, 290, 80, 25);
    SpeedButton1 = named(new QToolButton(this), "SpeedButton1");
    SpeedButton1->setGeometry(436, 322, 80, 25);
    SpeedButton1->setText("Lock");
    SpeedButton1->setToolTip("Lock preview");
    SpeedButton1->setCheckable(true);
    SpeedButton1->setChecked(true);

    auto* originalLabel = new QLabel("Original size:", this);
    originalLabel->move(10, 395);
    Label4 = named(new QLabel("---", this), "Label4");
    Label4->setGeometry(90, 395, 150, 16);
    auto* compressedLabel = new QLabel("Compressed size:", this);
    compressedLabel->move(250, 395);
    Label25 = named(new QLabel("---", this), "Label25");
    Label25->setGeometry(355, 395, 160, 16);

    connect(Button1, &QPushButton::clicked, this, &TSAVEparam::Button1Click);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button3, &QPushButton::clicked, this, &TSAVEparam::Button3Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TSAVEparam::SpeedButton1Click);
    connect(ImageView1, &TImageView::viewChanged, this, &TSAVEparam::ImageView1ViewChange);

    connect(TrackBar13, &QSlider::valueChanged, this, &TSAVEparam::TrackBar13Change);
    connect(CheckBox2, &QCheckBox::toggled, this, &TSAVEparam::TrackBar13Change);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TSAVEparam::TrackBar13Change);
    connect(CheckBox3, &QCheckBox::toggled, this, &TSAVEparam::TrackBar13Change);
    connect(ComboBox13, &QComboBox::currentIndexChanged, this, &TSAVEparam::TrackBar13Change);
    connect(Edit22, &QLineEdit::textChanged, this, &TSAVEparam::Edit22Change);
    connect(Edit23, &QLineEdit::textChanged, this, &TSAVEparam::Edit22Change);

    connect(TrackBar1, &QSlider::valueChanged, this, &TSAVEparam::TrackBar1Change);
    connect(ComboBox15, &QComboBox::currentIndexChanged, this, &TSAVEparam::TrackBar1Change);
    connect(Edit15, &QLineEdit::textChanged, this, &TSAVEparam::Edit15Change);

    for (QComboBox* box : {ComboBox2, ComboBox3, ComboBox4})
        connect(box, &QComboBox::currentIndexChanged, this, &TSAVEparam::ComboBox2Click);

    connect(ComboBox5, &QComboBox::currentIndexChanged, this, &TSAVEparam::ComboBox5Click);
    connect(CheckBox4, &QCheckBox::toggled, this, &TSAVEparam::ComboBox5Click);
    connect(CheckBox5, &QCheckBox::toggled, this, &TSAVEparam::ComboBox5Click);
    connect(Panel3, &ColorSwatch::clicked, this, &TSAVEparam::Panel3Click);
    connect(Panel4, &ColorSwatch::clicked, this, &TSAVEparam::Panel4Click);

    connect(ComboBox6, &QComboBox::currentIndexChanged, this, &TSAVEparam::ComboBox6Change);
    connect(ComboBox7, &QComboBox::currentIndexChanged, this, &TSAVEparam::ComboBox6Change);
    connect(ComboBox8, &QComboBox::currentIndexChanged, this, &TSAVEparam::ComboBox8Change);
    connect(ComboBox9, &QComboBox::currentIndexChanged, this, &TSAVEparam::ComboBox8Change);

    connect(ComboBox10, &QComboBox::currentIndexChanged, this, &TSAVEparam::ComboBox10Change);
    connect(ComboBox11, &QComboBox::currentIndexChanged, this, &TSAVEparam::ComboBox10Change);
    connect(CheckBox6, &QCheckBox::toggled, this, &TSAVEparam::ComboBox10Change);
    connect(ComboBox12, &QComboBox::currentIndexChanged, this, &TSAVEparam::ComboBox10Change);
    connect(Panel1, &ColorSwatch::clicked, this, &TSAVEparam::Panel1Click);

    connect(ComboBox14, &QComboBox::currentIndexChanged, this, &TSAVEparam::ComboBox14Click);
    connect(CheckBox1, &QCheckBox::toggled, this, &TSAVEparam::ComboBox14Click);
    connect(Edit13, &QLineEdit::textChanged, this, &TSAVEparam::Edit13Change);
    connect(Edit14, &QLineEdit::textChanged, this, &TSAVEparam::Edit13Change);
    connect(Panel5, &ColorSwatch::clicked, this, &TSAVEparam::Panel5Click);
}

namespace {

// A caption label at (x, y) whose mnemonic moves the focus to its control.
QLabel* captionFor(QWidget* page, const char* caption, QWidget* control, int x, int y) {
    auto* label = new QLabel(caption, page);
    label->move(x, y);
    label->setBuddy(control);
    return label;
}

QSlider* trackBar(QWidget* page, const char* name, int maximum, int tickInterval) {
    auto* slider = named(new QSlider(Qt::Horizontal, page), name);
    slider->setRange(0, maximum);
    slider->setTickInterval(tickInterval);
    slider->setTickPosition(QSlider::TicksBelow);
    return slider;
}

QComboBox* list(QWidget* page, const char* name, const QStringList& items) {
    auto* box = named(new QComboBox(page), name);
    box->addItems(items);
    return box;
}

} // namespace

void TSAVEparam::buildJpegPage(QWidget* page) {
    TrackBar13 = trackBar(page, "TrackBar13", 100, 5);
    TrackBar13->setGeometry(80, 6, 220, 28);
    captionFor(page, "&Quality:", TrackBar13, 8, 12);
    Edit22 = named(new QLineEdit(page), "Edit22");
    Edit22->setReadOnly(true);
    Edit22->setGeometry(308, 8, 40, 22);
    ComboBox1 = list(page, "ComboBox1", {"ISLOW", "IFAST", "FLOAT"});
    ComboBox1->setGeometry(110, 42, 90, 22);
    captionFor(page, "&DCT method:", ComboBox1, 8, 46);
    Edit23 = named(new QLineEdit(page), "Edit23");
    Edit23->setGeometry(110, 74, 40, 22);
    UpDown11 = named(new UpDown(page), "UpDown11");
    UpDown11->setGeometry(150, 74, 16, 22);
    UpDown11->setMinimum(0);
    UpDown11->setMaximum(100);
    UpDown11->setBuddy(Edit23);
    captionFor(page, "&Smoothing factor:", Edit23, 8, 78);
    ComboBox13 = list(page, "ComboBox13", {"RGB", "GrayScale", "YCbCr", "CMYK", "YCbCrK"});
    ComboBox13->setGeometry(300, 42, 100, 22);
    captionFor(page, "Color space:", ComboBox13, 220, 46);
    CheckBox2 = named(new QCheckBox("&Optimal Huffman", page), "CheckBox2");
    CheckBox2->setGeometry(220, 76, 180, 20);
    CheckBox3 = named(new QCheckBox("P&rogressive", page), "CheckBox3");
    CheckBox3->setGeometry(220, 100, 180, 20);
}

void TSAVEparam::buildTiffPage(QWidget* page) {
    ComboBox2 = list(
        page, "ComboBox2",
        {"UNCOMPRESSED", "CCITT1D", "G3FAX1D", "G3FAX2D", "G4FAX", "LZW", "OLDJPEG", "JPEG", "PACKBITS"});
    ComboBox2->setGeometry(100, 10, 160, 22);
    captionFor(page, "&Compression:", ComboBox2, 8, 14);
    ComboBox3 = list(page, "ComboBox3",
                     {"WHITEISZERO/Gray", "BLACKISZERO/Gray", "RGB", "RGBPALETTE", "TRANSPMASK", "CMYK",
                      "YCBCR", "CIELAB"});
    ComboBox3->setGeometry(100, 42, 160, 22);
    captionFor(page, "P&hotometric:", ComboBox3, 8, 46);
    ComboBox4 = named(new QComboBox(page), "ComboBox4");
    fillColorsList(ComboBox4, StillImageFormat::Tiff);
    ComboBox4->setGeometry(100, 74, 160, 22);
    captionFor(page, "C&olors:", ComboBox4, 8, 78);
}

void TSAVEparam::buildGifPage(QWidget* page) {
    ComboBox5 = named(new QComboBox(page), "ComboBox5");
    fillColorsList(ComboBox5, StillImageFormat::Gif);
    ComboBox5->setCurrentIndex(7);
    ComboBox5->setGeometry(130, 10, 100, 22);
    captionFor(page, "&Colors:", ComboBox5, 8, 14);
    CheckBox4 = named(new QCheckBox("&Transparent:", page), "CheckBox4");
    CheckBox4->setLayoutDirection(Qt::RightToLeft);
    CheckBox4->setGeometry(8, 40, 140, 20);
    Panel3 = named(new ColorSwatch(page), "Panel3");
    Panel3->setGeometry(130, 66, 40, 20);
    transparentColorLabel = captionFor(page, "T&ransparent color:", nullptr, 8, 68);
    transparentColorLabel->setObjectName("transparentColorLabel");
    CheckBox5 = named(new QCheckBox("I&nterlaced:", page), "CheckBox5");
    CheckBox5->setLayoutDirection(Qt::RightToLeft);
    CheckBox5->setGeometry(8, 92, 140, 20);
    Panel4 = named(new ColorSwatch(page), "Panel4");
    Panel4->setGeometry(130, 118, 40, 20);
    captionFor(page, "&Background:", nullptr, 8, 120);
}

void TSAVEparam::buildBmpPage(QWidget* page) {
    ComboBox6 = list(page, "ComboBox6", {"UNCOMPRESSED", "RLE"});
    ComboBox6->setGeometry(100, 10, 140, 22);
    captionFor(page, "&Compression:", ComboBox6, 8, 14);
    ComboBox7 = named(new QComboBox(page), "ComboBox7");
    fillColorsList(ComboBox7, StillImageFormat::Bmp);
    ComboBox7->setGeometry(100, 42, 140, 22);
    captionFor(page, "C&olors:", ComboBox7, 8, 46);
}

void TSAVEparam::buildPcxPage(QWidget* page) {
    ComboBox8 = list(page, "ComboBox8", {"UNCOMPRESSED", "RLE"});
    ComboBox8->setGeometry(100, 10, 140, 22);
    captionFor(page, "&Compression:", ComboBox8, 8, 14);
    ComboBox9 = named(new QComboBox(page), "ComboBox9");
    fillColorsList(ComboBox9, StillImageFormat::Pcx);
    ComboBox9->setGeometry(100, 42, 140, 22);
    captionFor(page, "C&olors:", ComboBox9, 8, 46);
}

void TSAVEparam::buildPngPage(QWidget* page) {
    ComboBox10 = named(new QComboBox(page), "ComboBox10");
    fillColorsList(ComboBox10, StillImageFormat::Png);
    ComboBox10->setCurrentIndex(2);
    ComboBox10->setGeometry(100, 10, 100, 22);
    captionFor(page, "C&olors:", ComboBox10, 8, 14);
    Panel1 = named(new ColorSwatch(page), "Panel1");
    Panel1->setGeometry(100, 42, 40, 20);
    captionFor(page, "&Background:", nullptr, 8, 44);
    ComboBox11 = list(page, "ComboBox11", {"NONE", "SUB", "PAETH"});
    ComboBox11->setGeometry(100, 72, 100, 22);
    captionFor(page, "&Filter", ComboBox11, 8, 76);
    CheckBox6 = named(new QCheckBox("I&nterlaced:", page), "CheckBox6");
    CheckBox6->setLayoutDirection(Qt::RightToLeft);
    CheckBox6->setGeometry(220, 12, 120, 20);
    ComboBox12 = list(page, "ComboBox12", {"NONE", "1", "2", "3", "4", "5", "6", "7", "8", "MAX"});
    ComboBox12->setGeometry(310, 42, 90, 22);
    captionFor(page, "Co&mpression", ComboBox12, 220, 46);
}

void TSAVEparam::buildTgaPage(QWidget* page) {
    ComboBox14 = named(new QComboBox(page), "ComboBox14");
    fillColorsList(ComboBox14, StillImageFormat::Tga);
    ComboBox14->setCurrentIndex(2);
    ComboBox14->setGeometry(100, 10, 100, 22);
    captionFor(page, "C&olors:", ComboBox14, 8, 14);
    Panel5 = named(new ColorSwatch(page), "Panel5");
    Panel5->setGeometry(100, 42, 40, 20);
    captionFor(page, "&Background:", nullptr, 8, 44);
    CheckBox1 = named(new QCheckBox("Compression:", page), "CheckBox1");
    CheckBox1->setLayoutDirection(Qt::RightToLeft);
    CheckBox1->setGeometry(220, 12, 120, 20);
    Edit13 = named(new QLineEdit(page), "Edit13");
    Edit13->setGeometry(100, 72, 300, 22);
    captionFor(page, "&Name:", Edit13, 8, 76);
    Edit14 = named(new QLineEdit(page), "Edit14");
    Edit14->setGeometry(100, 104, 300, 22);
    captionFor(page, "&Description:", Edit14, 8, 108);
}

void TSAVEparam::buildJpeg2000Page(QWidget* page) {
    TrackBar1 = trackBar(page, "TrackBar1", 1000, 20);
    TrackBar1->setGeometry(80, 6, 220, 28);
    TrackBar1->setValue(500);
    captionFor(page, "&Rate:", TrackBar1, 8, 12);
    Edit15 = named(new QLineEdit(page), "Edit15");
    Edit15->setReadOnly(true);
    Edit15->setGeometry(308, 8, 50, 22);
    ComboBox15 = list(page, "ComboBox15", {"GrayScale", "RGB", "YCbCr"});
    ComboBox15->setGeometry(110, 42, 100, 22);
    captionFor(page, "Color space:", ComboBox15, 8, 46);
}

void TSAVEparam::setSource(const Bitmap& source) {
    ImageView1->picture().Assign(source);
    ImageView1->update();
}

void TSAVEparam::setPage(StillImageFormat page) {
    PageControl1->setCurrentIndex(pageIndex(page));
}

StillImageFormat TSAVEparam::page() const {
    return PageOrder[std::clamp(PageControl1->currentIndex(), 0, 7)];
}

bool TSAVEparam::execute(StillImageFormat page, const Bitmap& source, StillImageSaveOptions& options) {
    setSource(source);
    setPage(page);
    setSaveOptions(&options);
    const bool accepted = exec() == QDialog::Accepted;
    setSaveOptions(nullptr);
    return accepted;
}

void TSAVEparam::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TSAVEparam::FormActivate() {
    m_set = SaveParameterSet{};
    SpeedButton1->setChecked(true);
    Button3->setEnabled(false);
    fillPage();
    makePreview();
}

void TSAVEparam::fillPage() {
    struct Filling {
        bool& flag;
        explicit Filling(bool& f) : flag(f) { flag = true; }
        ~Filling() { flag = false; }
    } filling(m_filling);

    // The size of the picture as an uncompressed bottom-up bitmap with rows padded to 4 bytes.
    const Bitmap& source = ImageView1->picture();
    const int64_t depth = source.PixelFormat() == PixelFormat::Bits1 ? 1 : 24;
    const int64_t rowBytes = (source.Width() * depth + 31) / 32 * 4;
    Label4->setText(bytesText(static_cast<uint64_t>(source.Height() * rowBytes)));

    const SaveParameterSet& s = m_set;
    switch (page()) {
    case StillImageFormat::Jpeg:
        Edit22->setText(QString::number(s.jpegQuality));
        TrackBar13->setValue(s.jpegQuality);
        ComboBox13->setCurrentIndex(static_cast<int>(s.jpegColorSpace));
        ComboBox1->setCurrentIndex(static_cast<int>(s.jpegDctMethod));
        CheckBox2->setChecked(s.jpegOptimalHuffman);
        CheckBox3->setChecked(s.jpegProgressive);
        UpDown11->setPosition(s.jpegSmoothing);
        Edit23->setText(QString::number(s.jpegSmoothing));
        break;
    case StillImageFormat::Jpeg2000:
        Edit15->setText(QString::number(rateThousandths(s.jp2Rate)));
        TrackBar1->setValue(rateThousandths(s.jp2Rate));
        ComboBox15->setCurrentIndex(static_cast<int>(s.jp2ColorSpace));
        break;
    case StillImageFormat::Tiff:
        ComboBox2->setCurrentIndex(static_cast<int>(s.tiffCompression));
        ComboBox3->setCurrentIndex(static_cast<int>(s.tiffPhotometric));
        ComboBox4->setCurrentIndex(colorsIndex(StillImageFormat::Tiff, tiffColorsShown(s)));
        break;
    case StillImageFormat::Gif:
        ComboBox5->setCurrentIndex(s.gifBitsPerPixel - 1);
        CheckBox4->setChecked(s.gifTransparent);
        CheckBox5->setChecked(s.gifInterlaced);
        Panel3->setColor(s.gifTransparentColor);
        Panel4->setColor(s.gifBackground);
        transparentColorLabel->setEnabled(s.gifTransparent);
        Panel3->setEnabled(s.gifTransparent);
        break;
    case StillImageFormat::Bmp:
        ComboBox6->setCurrentIndex(s.bmpCompression);
        ComboBox7->setCurrentIndex(colorsIndex(StillImageFormat::Bmp, s.bmpColors));
        break;
    case StillImageFormat::Pcx:
        ComboBox8->setCurrentIndex(s.pcxCompression);
        ComboBox9->setCurrentIndex(colorsIndex(StillImageFormat::Pcx, s.pcxColors));
        break;
    case StillImageFormat::Png:
        ComboBox10->setCurrentIndex(colorsIndex(StillImageFormat::Png, s.pngColors));
        CheckBox6->setChecked(s.pngInterlaced);
        Panel1->setColor(s.pngBackground);
        ComboBox11->setCurrentIndex(static_cast<int>(s.pngFilter));
        ComboBox12->setCurrentIndex(s.pngCompression);
        break;
    case StillImageFormat::Tga:
        ComboBox14->setCurrentIndex(colorsIndex(StillImageFormat::Tga, s.tgaColors));
        Panel5->setColor(s.tgaBackground);
        CheckBox1->setChecked(s.tgaCompressed);
        Edit13->setText(QString::fromStdString(s.tgaName));
        Edit14->setText(QString::fromStdString(s.tgaDescription));
        break;
    }
}

void TSAVEparam::changed() {
    if (SpeedButton1->isChecked())
        makePreview();
}

void TSAVEparam::TrackBar13Change() {
    if (m_filling)
        return;
    const int quality = TrackBar13->value();
    const auto colorSpace = static_cast<JpegColorSpace>(std::max(0, ComboBox13->currentIndex()));
    const auto dctMethod = static_cast<JpegDctMethod>(std::max(0, ComboBox1->currentIndex()));
    const bool huffman = CheckBox2->isChecked();
    const int smoothing = integerIn(Edit23, 0);
    const bool progressive = CheckBox3->isChecked();
    if (quality == m_set.jpegQuality && colorSpace == m_set.jpegColorSpace &&
        dctMethod == m_set.jpegDctMethod && huffman == m_set.jpegOptimalHuffman &&
        smoothing == m_set.jpegSmoothing && progressive == m_set.jpegProgressive)
        return;
    m_set.jpegQuality = quality;
    m_set.jpegColorSpace = colorSpace;
    m_set.jpegDctMethod = dctMethod;
    m_set.jpegOptimalHuffman = huffman;
    m_set.jpegSmoothing = smoothing;
    m_set.jpegProgressive = progressive;
    Edit22->setText(QString::number(quality));
    changed();
}

void TSAVEparam::Edit22Change() {
    if (m_filling)
        return;
    const int quality = integerIn(Edit22, 50);
    const int smoothing = integerIn(Edit23, 0);
    if (quality == m_set.jpegQuality && smoothing == m_set.jpegSmoothing)
        return;
    TrackBar13->setValue(quality);
    TrackBar13Change();
}

void TSAVEparam::TrackBar1Change() {
    if (m_filling)
        return;
    const double rate = TrackBar1->value() / 1000.0;
    const auto colorSpace = static_cast<Jpeg2000ColorSpace>(std::max(0, ComboBox15->currentIndex()));
    if (rate == m_set.jp2Rate && colorSpace == m_set.jp2ColorSpace)
        return;
    m_set.jp2Rate = rate;
    m_set.jp2ColorSpace = colorSpace;
    Edit15->setText(QString::number(rateThousandths(rate)));
    changed();
}

void TSAVEparam::Edit15Change() {
    if (m_filling)
        return;
    const double rate = integerIn(Edit15, 1000) / 1000.0;
    if (rate == m_set.jp2Rate)
        return;
    TrackBar1->setValue(rateThousandths(rate));
    TrackBar1Change();
}

void TSAVEparam::ComboBox2Click() {
    if (m_filling)
        return;
    SaveParameterSet next = m_set;
    const auto photometric = static_cast<TiffPhotometric>(std::max(0, ComboBox3->currentIndex()));
    const ColorsEntry colors = colorsAt(StillImageFormat::Tiff, ComboBox4->currentIndex());
    // The two lists are coupled: a new photometric picks the colours it can hold, new colours
    // the photometric that can show them.
    if (photometric != m_set.tiffPhotometric) {
        chooseTiffPhotometric(next, photometric);
        const QSignalBlocker blocker(ComboBox4);
        ComboBox4->setCurrentIndex(colorsIndex(
            StillImageFormat::Tiff, tiffColorsEntry(next.tiffBitsPerSample, next.tiffSamplesPerPixel)));
    } else if (colors != tiffColorsEntry(m_set.tiffBitsPerSample, m_set.tiffSamplesPerPixel)) {
        chooseTiffColors(next, colors);
        const QSignalBlocker blocker(ComboBox3);
        ComboBox3->setCurrentIndex(static_cast<int>(next.tiffPhotometric));
    }
    next.tiffCompression = static_cast<TiffCompression>(std::max(0, ComboBox2->currentIndex()));
    if (next.tiffCompression == m_set.tiffCompression && next.tiffPhotometric == m_set.tiffPhotometric &&
        next.tiffBitsPerSample == m_set.tiffBitsPerSample &&
        next.tiffSamplesPerPixel == m_set.tiffSamplesPerPixel)
        return;
    m_set.tiffCompression = next.tiffCompression;
    m_set.tiffPhotometric = next.tiffPhotometric;
    m_set.tiffBitsPerSample = next.tiffBitsPerSample;
    m_set.tiffSamplesPerPixel = next.tiffSamplesPerPixel;
    changed();
}

void TSAVEparam::ComboBox5Click() {
    if (m_filling)
        return;
    const int bits = std::max(0, ComboBox5->currentIndex()) + 1;
    const bool interlaced = CheckBox5->isChecked();
    if (bits != m_set.gifBitsPerPixel || interlaced != m_set.gifInterlaced) {
        m_set.gifBitsPerPixel = bits;
        m_set.gifInterlaced = interlaced;
        changed();
    }
    m_set.gifTransparent = CheckBox4->isChecked();
    transparentColorLabel->setEnabled(m_set.gifTransparent);
    Panel3->setEnabled(m_set.gifTransparent);
    m_set.gifInterlaced = CheckBox5->isChecked();
}

void TSAVEparam::ComboBox6Change() {
    if (m_filling)
        return;
    const ColorsEntry colors = colorsAt(StillImageFormat::Bmp, ComboBox7->currentIndex());
    const uint8_t compression = ComboBox6->currentIndex() == 0 ? 0 : 1;
    if (colors == m_set.bmpColors && compression == m_set.bmpCompression)
        return;
    m_set.bmpColors = colors;
    m_set.bmpCompression = compression;
    changed();
}

void TSAVEparam::ComboBox8Change() {
    if (m_filling)
        return;
    const ColorsEntry colors = colorsAt(StillImageFormat::Pcx, ComboBox9->currentIndex());
    const uint8_t compression = ComboBox8->currentIndex() == 0 ? 0 : 1;
    if (colors == m_set.pcxColors && compression == m_set.pcxCompression)
        return;
    m_set.pcxColors = colors;
    m_set.pcxCompression = compression;
    changed();
}

void TSAVEparam::ComboBox10Change() {
    if (m_filling)
        return;
    const ColorsEntry colors = colorsAt(StillImageFormat::Png, ComboBox10->currentIndex());
    const bool interlaced = CheckBox6->isChecked();
    const auto filter = static_cast<PngFilter>(std::max(0, ComboBox11->currentIndex()));
    const int compression = std::max(0, ComboBox12->currentIndex());
    if (colors == m_set.pngColors && interlaced == m_set.pngInterlaced && filter == m_set.pngFilter &&
        compression == m_set.pngCompression)
        return;
    m_set.pngColors = colors;
    m_set.pngInterlaced = interlaced;
    m_set.pngFilter = filter;
    m_set.pngCompression = compression;
    changed();
}

void TSAVEparam::ComboBox14Click() {
    if (m_filling)
        return;
    const ColorsEntry colors = colorsAt(StillImageFormat::Tga, ComboBox14->currentIndex());
    const bool compressed = CheckBox1->isChecked();
    if (colors == m_set.tgaColors && compressed == m_set.tgaCompressed)
        return;
    m_set.tgaColors = colors;
    m_set.tgaCompressed = compressed;
    changed();
}

void TSAVEparam::Edit13Change() {
    if (m_filling)
        return;
    m_set.tgaName = Edit13->text().toStdString();
    m_set.tgaDescription = Edit14->text().toStdString();
}

// The palette picker on the first entries of the colour map the last preview left.
std::optional<Color> TSAVEparam::pickFromColorMap(int entries) {
    std::vector<Color> colors = m_params.colorMap;
    if (colors.size() > static_cast<size_t>(std::max(0, entries)))
        colors.resize(static_cast<size_t>(std::max(0, entries)));
    return pickPaletteColor(colors);
}

// PNG and TGA backgrounds: the palette picker when the writer parameters hold a colour map,
// else the colour dialog. Gives the swatch's colour after the choice.
Color TSAVEparam::pickBackground(ColorSwatch* swatch, int bitsTimesSamples) {
    std::optional<Color> picked;
    if (!m_params.colorMap.empty()) {
        picked = pickFromColorMap(static_cast<int>(std::min<int64_t>(colorsOfDepth(bitsTimesSamples), 256)));
    } else if (std::optional<QColor> c = chooseColor(toQColor(swatch->color()))) {
        picked = rgbColor(c->red(), c->green(), c->blue());
    }
    if (picked)
        swatch->setColor(*picked);
    return swatch->color();
}

void TSAVEparam::Panel3Click() {
    if (m_params.colorMap.empty()) {
        // No preview has left a colour map to pick from: the colour dialog instead.
        if (std::optional<QColor> c = chooseColor(toQColor(Panel3->color())))
            Panel3->setColor(rgbColor(c->red(), c->green(), c->blue()));
    } else if (std::optional<Color> picked = pickFromColorMap(1 << m_set.gifBitsPerPixel)) {
        Panel3->setColor(*picked);
    }
    m_set.gifTransparentColor = Panel3->color();
}

void TSAVEparam::Panel4Click() {
    if (m_params.colorMap.empty()) {
        if (std::optional<QColor> c = chooseColor(toQColor(Panel4->color())))
            Panel4->setColor(rgbColor(c->red(), c->green(), c->blue()));
    } else if (std::optional<Color> picked = pickFromColorMap(1 << m_set.gifBitsPerPixel)) {
        Panel4->setColor(*picked);
    }
    m_set.gifBackground = Panel4->color();
}

void TSAVEparam::Panel1Click() {
    const ColorDepth depth = colorDepth(StillImageFormat::Png, m_set.pngColors);
    m_set.pngBackground = pickBackground(Panel1, depth.bitsPerSample * depth.samplesPerPixel);
}

void TSAVEparam::Panel5Click() {
    const ColorDepth depth = colorDepth(StillImageFormat::Tga, m_set.tgaColors);
    m_set.tgaBackground = pickBackground(Panel5, depth.bitsPerSample * depth.samplesPerPixel);
}

void TSAVEparam::ImageView1ViewChange() {
    ImageView2->setZoomAndScroll(ImageView1->zoom(), ImageView1->scrollX(), ImageView1->scrollY());
}

void TSAVEparam::SpeedButton1Click() {
    const bool locked = SpeedButton1->isChecked();
    Button3->setEnabled(!locked);
    if (locked)
        makePreview();
}

void TSAVEparam::Button3Click() {
    makePreview();
}

void TSAVEparam::Button1Click() {
    if (m_options)
        copyPageToSaveOptions(page(), m_set, *m_options);
}

void TSAVEparam::makePreview() {
    struct ProgressReset {
        QProgressBar* bar;
        ~ProgressReset() { bar->setValue(0); }
    } reset{ProgressBar1};

    const Bitmap& source = ImageView1->picture();
    Bitmap& result = ImageView2->picture();
    if (source.Empty()) {
        // Nothing to encode: the writers refuse an empty picture.
        ImageView2->clear();
        Label25->setText("---");
        return;
    }

    int base = 0;
    int divisor = 1;
    const ProgressCallback progress = [&](int percent) { ProgressBar1->setValue(percent / divisor + base); };

    // The writer parameters as "Save" would hand them to the writer with this page's options, so
    // that the size shown is the size of the file; the colour map of the last preview stays.
    const StillImageFormat format = page();
    StillImageSaveOptions options;
    copyPageToSaveOptions(format, m_set, options);
    std::vector<Color> colorMap = std::move(m_params.colorMap);
    m_params = writerParams(options, format);
    m_params.colorMap = std::move(colorMap);

    // Palette reduction keeps the palette as the colour map; plain reduction leaves it.
    enum class Reduction { None, Palette, Plain };
    auto reduce = [&](int64_t colors, Reduction reduction) {
        if (reduction == Reduction::None)
            return;
        if (colors > 256) {
            if (reduction == Reduction::Palette)
                m_params.colorMap.clear();
            return;
        }
        std::vector<Color> palette = reduceToColors(result, static_cast<int>(colors), progress);
        if (reduction == Reduction::Palette)
            m_params.colorMap = std::move(palette);
    };

    if (format == StillImageFormat::Jpeg || format == StillImageFormat::Jpeg2000) {
        divisor = 2;
        MemoryStream encoded;
        if (format == StillImageFormat::Jpeg) {
            writeJpeg(encoded, source, m_params, progress);
        } else {
            writeJpeg2000(encoded, source, m_params, Jpeg2000Format::CodeStream, progress);
        }
        Label25->setText(bytesText(encoded.size()));
        base = 50;
        decodePicture(format == StillImageFormat::Jpeg ? PictureFileType::Jpeg
                                                       : PictureFileType::Jpeg2000CodeStream,
                      encoded.bytes().data(), encoded.bytes().size(), result);
    } else {
        CountingStream counter;
        int64_t colors = 0;
        Reduction reduction = Reduction::Palette;
        bool grey = false;
        switch (format) {
        case StillImageFormat::Tiff: {
            writeTiff(counter, source, m_params, progress);
            const TiffPhotometric photometric = m_set.tiffPhotometric;
            const bool greyPhotometric =
                photometric == TiffPhotometric::WhiteIsZero || photometric == TiffPhotometric::BlackIsZero;
            grey = greyPhotometric && m_set.tiffBitsPerSample == 8 && m_set.tiffSamplesPerPixel == 1;
            if (static_cast<int>(photometric) >= static_cast<int>(TiffPhotometric::Cmyk))
                reduction = Reduction::None;
            colors = colorsOfDepth(m_set.tiffBitsPerSample * m_set.tiffSamplesPerPixel);
            break;
        }
        case StillImageFormat::Gif:
            m_params.bitsPerSample = m_set.gifBitsPerPixel;
            m_params.samplesPerPixel = 1;
            writeGif(counter, source, m_params, progress);
            colors = colorsOfDepth(m_set.gifBitsPerPixel);
            break;
        case StillImageFormat::Bmp:
            writeBmp(counter, source, m_params, progress);
            reduction = Reduction::Plain;
            break;
        case StillImageFormat::Pcx:
            writePcx(counter, source, m_params, progress);
            reduction = Reduction::Plain;
            break;
        case StillImageFormat::Png:
            writePng(counter, source, m_params, progress);
            break;
        case StillImageFormat::Tga:
            writeTga(counter, source, m_params, progress);
            break;
        case StillImageFormat::Jpeg:
        case StillImageFormat::Jpeg2000:
            break;
        }
        if (format != StillImageFormat::Tiff && format != StillImageFormat::Gif)
            colors = colorsOfDepth(m_params.bitsPerSample * m_params.samplesPerPixel);
        Label25->setText(bytesText(counter.size()));

        result.Assign(source);
        if (grey) {
            convertToGrey(result);
            m_params.colorMap.clear();
        } else {
            reduce(colors, reduction);
        }
    }
    ProgressBar1->setValue(0);
    ImageView2->setZoomAndScroll(ImageView1->zoom(), ImageView1->scrollX(), ImageView1->scrollY());
    ImageView2->update();
}

} // namespace kelvara
