// The save-parameters dialog: its pages, change handlers, preview and "OK".
#include "output/qt/SaveParamDialog.h"

#include "convert/JobObserver.h"
#include "output/StillImageCodec.h"
#include "output/qt/PaletteDialog.h"

#include <QColorDialog>
#include <QMouseEvent>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

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

QString bytesText(uint64_t bytes) {
    return QString::number(bytes) + " bytes";
}

// The dialog's progress bar, moved as a job moves its own.
class ProgressBarObserver final : public JobObserver {
public:
    explicit ProgressBarObserver(QProgressBar* bar) : m_bar(bar) {}
    void setProgressRange(int minimum, int maximum) override { m_bar->setRange(minimum, maximum); }
    void setProgressPosition(int position) override { m_bar->setValue(position); }

private:
    QProgressBar* m_bar;
};

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
        Edit22->setText(QString::number(s.jpeg.quality));
        TrackBar13->setValue(s.jpeg.quality);
        ComboBox13->setCurrentIndex(static_cast<int>(s.jpeg.colorSpace));
        ComboBox1->setCurrentIndex(static_cast<int>(s.jpeg.dctMethod));
        CheckBox2->setChecked(s.jpeg.optimalHuffman);
        CheckBox3->setChecked(s.jpeg.progressive);
        UpDown11->setPosition(s.jpeg.smoothing);
        Edit23->setText(QString::number(s.jpeg.smoothing));
        break;
    case StillImageFormat::Jpeg2000:
        Edit15->setText(QString::number(rateThousandths(s.jpeg2000.rate)));
        TrackBar1->setValue(rateThousandths(s.jpeg2000.rate));
        ComboBox15->setCurrentIndex(static_cast<int>(s.jpeg2000.colorSpace));
        break;
    case StillImageFormat::Tiff:
        ComboBox2->setCurrentIndex(static_cast<int>(s.tiff.compression));
        ComboBox3->setCurrentIndex(static_cast<int>(s.tiff.photometric));
        ComboBox4->setCurrentIndex(colorsIndex(StillImageFormat::Tiff, tiffColorsShown(s)));
        break;
    case StillImageFormat::Gif:
        ComboBox5->setCurrentIndex(s.gifBitsPerPixel - 1);
        CheckBox4->setChecked(s.gif.transparent);
        CheckBox5->setChecked(s.gif.interlaced);
        Panel3->setColor(s.gif.transparentColor);
        Panel4->setColor(s.gif.background);
        transparentColorLabel->setEnabled(s.gif.transparent);
        Panel3->setEnabled(s.gif.transparent);
        break;
    case StillImageFormat::Bmp:
        ComboBox6->setCurrentIndex(s.bmp.compression);
        ComboBox7->setCurrentIndex(colorsIndex(StillImageFormat::Bmp, s.bmpColors));
        break;
    case StillImageFormat::Pcx:
        ComboBox8->setCurrentIndex(s.pcx.compression);
        ComboBox9->setCurrentIndex(colorsIndex(StillImageFormat::Pcx, s.pcxColors));
        break;
    case StillImageFormat::Png:
        ComboBox10->setCurrentIndex(colorsIndex(StillImageFormat::Png, s.pngColors));
        CheckBox6->setChecked(s.png.interlaced);
        Panel1->setColor(s.png.background);
        ComboBox11->setCurrentIndex(static_cast<int>(s.png.filter));
        ComboBox12->setCurrentIndex(s.png.compression);
        break;
    case StillImageFormat::Tga:
        ComboBox14->setCurrentIndex(colorsIndex(StillImageFormat::Tga, s.tgaColors));
        Panel5->setColor(s.tga.background);
        CheckBox1->setChecked(s.tga.compressed);
        Edit13->setText(QString::fromStdString(s.tga.name));
        Edit14->setText(QString::fromStdString(s.tga.description));
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
    JpegOptions jpeg;
    jpeg.quality = TrackBar13->value();
    jpeg.colorSpace = static_cast<JpegColorSpace>(std::max(0, ComboBox13->currentIndex()));
    jpeg.dctMethod = static_cast<JpegDctMethod>(std::max(0, ComboBox1->currentIndex()));
    jpeg.optimalHuffman = CheckBox2->isChecked();
    jpeg.smoothing = integerIn(Edit23, 0);
    jpeg.progressive = CheckBox3->isChecked();
    if (jpeg == m_set.jpeg)
        return;
    m_set.jpeg = jpeg;
    Edit22->setText(QString::number(jpeg.quality));
    changed();
}

void TSAVEparam::Edit22Change() {
    if (m_filling)
        return;
    const int quality = integerIn(Edit22, 50);
    const int smoothing = integerIn(Edit23, 0);
    if (quality == m_set.jpeg.quality && smoothing == m_set.jpeg.smoothing)
        return;
    TrackBar13->setValue(quality);
    TrackBar13Change();
}

void TSAVEparam::TrackBar1Change() {
    if (m_filling)
        return;
    Jpeg2000Options jpeg2000 = m_set.jpeg2000;
    jpeg2000.rate = TrackBar1->value() / 1000.0;
    jpeg2000.colorSpace = static_cast<Jpeg2000ColorSpace>(std::max(0, ComboBox15->currentIndex()));
    if (jpeg2000 == m_set.jpeg2000)
        return;
    m_set.jpeg2000 = jpeg2000;
    Edit15->setText(QString::number(rateThousandths(jpeg2000.rate)));
    changed();
}

void TSAVEparam::Edit15Change() {
    if (m_filling)
        return;
    const double rate = integerIn(Edit15, 1000) / 1000.0;
    if (rate == m_set.jpeg2000.rate)
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
    if (photometric != m_set.tiff.photometric) {
        chooseTiffPhotometric(next, photometric);
        const QSignalBlocker blocker(ComboBox4);
        ComboBox4->setCurrentIndex(colorsIndex(
            StillImageFormat::Tiff, tiffColorsEntry(next.tiffBitsPerSample, next.tiffSamplesPerPixel)));
    } else if (colors != tiffColorsEntry(m_set.tiffBitsPerSample, m_set.tiffSamplesPerPixel)) {
        chooseTiffColors(next, colors);
        const QSignalBlocker blocker(ComboBox3);
        ComboBox3->setCurrentIndex(static_cast<int>(next.tiff.photometric));
    }
    next.tiff.compression = static_cast<TiffCompression>(std::max(0, ComboBox2->currentIndex()));
    if (next.tiff == m_set.tiff && next.tiffBitsPerSample == m_set.tiffBitsPerSample &&
        next.tiffSamplesPerPixel == m_set.tiffSamplesPerPixel)
        return;
    m_set = next;
    changed();
}

void TSAVEparam::ComboBox5Click() {
    if (m_filling)
        return;
    const int bits = std::max(0, ComboBox5->currentIndex()) + 1;
    const bool interlaced = CheckBox5->isChecked();
    if (bits != m_set.gifBitsPerPixel || interlaced != m_set.gif.interlaced) {
        m_set.gifBitsPerPixel = bits;
        m_set.gif.interlaced = interlaced;
        changed();
    }
    m_set.gif.transparent = CheckBox4->isChecked();
    transparentColorLabel->setEnabled(m_set.gif.transparent);
    Panel3->setEnabled(m_set.gif.transparent);
    m_set.gif.interlaced = CheckBox5->isChecked();
}

void TSAVEparam::ComboBox6Change() {
    if (m_filling)
        return;
    const ColorsEntry colors = colorsAt(StillImageFormat::Bmp, ComboBox7->currentIndex());
    const uint8_t compression = ComboBox6->currentIndex() == 0 ? 0 : 1;
    if (colors == m_set.bmpColors && compression == m_set.bmp.compression)
        return;
    m_set.bmpColors = colors;
    m_set.bmp.compression = compression;
    changed();
}

void TSAVEparam::ComboBox8Change() {
    if (m_filling)
        return;
    const ColorsEntry colors = colorsAt(StillImageFormat::Pcx, ComboBox9->currentIndex());
    const uint8_t compression = ComboBox8->currentIndex() == 0 ? 0 : 1;
    if (colors == m_set.pcxColors && compression == m_set.pcx.compression)
        return;
    m_set.pcxColors = colors;
    m_set.pcx.compression = compression;
    changed();
}

void TSAVEparam::ComboBox10Change() {
    if (m_filling)
        return;
    const ColorsEntry colors = colorsAt(StillImageFormat::Png, ComboBox10->currentIndex());
    PngOptions png = m_set.png;
    png.interlaced = CheckBox6->isChecked();
    png.filter = static_cast<PngFilter>(std::max(0, ComboBox11->currentIndex()));
    png.compression = std::max(0, ComboBox12->currentIndex());
    if (colors == m_set.pngColors && png == m_set.png)
        return;
    m_set.pngColors = colors;
    m_set.png = png;
    changed();
}

void TSAVEparam::ComboBox14Click() {
    if (m_filling)
        return;
    const ColorsEntry colors = colorsAt(StillImageFormat::Tga, ComboBox14->currentIndex());
    const bool compressed = CheckBox1->isChecked();
    if (colors == m_set.tgaColors && compressed == m_set.tga.compressed)
        return;
    m_set.tgaColors = colors;
    m_set.tga.compressed = compressed;
    changed();
}

void TSAVEparam::Edit13Change() {
    if (m_filling)
        return;
    m_set.tga.name = Edit13->text().toStdString();
    m_set.tga.description = Edit14->text().toStdString();
}

// The palette picker on the first entries of the colour map the last preview left.
std::optional<Color> TSAVEparam::pickFromColorMap(int entries) {
    std::vector<Color> colors = m_colorMap;
    if (colors.size() > static_cast<size_t>(std::max(0, entries)))
        colors.resize(static_cast<size_t>(std::max(0, entries)));
    return pickPaletteColor(colors);
}

// PNG and TGA backgrounds: the palette picker when the writer parameters hold a colour map,
// else the colour dialog. Gives the swatch's colour after the choice.
Color TSAVEparam::pickBackground(ColorSwatch* swatch, int bitsTimesSamples) {
    std::optional<Color> picked;
    if (!m_colorMap.empty()) {
        picked = pickFromColorMap(bitsTimesSamples >= 8 ? 256 : 1 << std::max(0, bitsTimesSamples));
    } else if (std::optional<QColor> c = chooseColor(toQColor(swatch->color()))) {
        picked = rgbColor(c->red(), c->green(), c->blue());
    }
    if (picked)
        swatch->setColor(*picked);
    return swatch->color();
}

void TSAVEparam::Panel3Click() {
    if (m_colorMap.empty()) {
        // No preview has left a colour map to pick from: the colour dialog instead.
        if (std::optional<QColor> c = chooseColor(toQColor(Panel3->color())))
            Panel3->setColor(rgbColor(c->red(), c->green(), c->blue()));
    } else if (std::optional<Color> picked = pickFromColorMap(1 << m_set.gifBitsPerPixel)) {
        Panel3->setColor(*picked);
    }
    m_set.gif.transparentColor = Panel3->color();
}

void TSAVEparam::Panel4Click() {
    if (m_colorMap.empty()) {
        if (std::optional<QColor> c = chooseColor(toQColor(Panel4->color())))
            Panel4->setColor(rgbColor(c->red(), c->green(), c->blue()));
    } else if (std::optional<Color> picked = pickFromColorMap(1 << m_set.gifBitsPerPixel)) {
        Panel4->setColor(*picked);
    }
    m_set.gif.background = Panel4->color();
}

void TSAVEparam::Panel1Click() {
    const ColorDepth depth = colorDepth(StillImageFormat::Png, m_set.pngColors);
    m_set.png.background = pickBackground(Panel1, depth.bitsPerSample * depth.samplesPerPixel);
}

void TSAVEparam::Panel5Click() {
    const ColorDepth depth = colorDepth(StillImageFormat::Tga, m_set.tgaColors);
    m_set.tga.background = pickBackground(Panel5, depth.bitsPerSample * depth.samplesPerPixel);
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
    ProgressBarObserver bar(ProgressBar1);
    const ProgressReset reset(bar);

    const Bitmap& source = ImageView1->picture();
    Bitmap& result = ImageView2->picture();
    if (source.Empty()) {
        // Nothing to encode: the writers refuse an empty picture.
        ImageView2->clear();
        Label25->setText("---");
        return;
    }

    // The file as "Save" would write it with this page's options, then read back: the size shown
    // is the file's, the result what it holds. Writing fills the first half of the bar.
    const StillImageFormat format = page();
    StillImageSaveOptions options;
    copyPageToSaveOptions(format, m_set, options);
    options.jpeg2000.format = Jpeg2000Format::CodeStream;
    const EncodedImage encoded = encodeStillImage(
        source, options, format, [&bar](int percent) { bar.setProgressPosition(percent / 2); });
    Label25->setText(bytesText(encoded.bytes.size()));
    bar.setProgressPosition(50);
    decodeStillImage(format, encoded.bytes.data(), encoded.bytes.size(), result);
    // The palette pickers of the GIF, PNG and TGA pages offer the palette of the last preview of a
    // page whose file keeps one.
    if (format == StillImageFormat::Gif || format == StillImageFormat::Tiff ||
        format == StillImageFormat::Png || format == StillImageFormat::Tga)
        m_colorMap = encoded.palette;

    ImageView2->setZoomAndScroll(ImageView1->zoom(), ImageView1->scrollX(), ImageView1->scrollY());
    ImageView2->update();
}

} // namespace kelvara
