// The save-parameters dialog: its pages, change handlers, preview and "OK".
#include "output/qt/SaveParamDialog.h"

#include "convert/JobObserver.h"
#include "output/StillImageCodec.h"
#include "output/qt/PaletteDialog.h"

#include "widgets/FormHelpers.h"
#include "widgets/SlotGuard.h"
#include "widgets/WindowFit.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <set>

namespace kelvara {

namespace {

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

// Where a GIF file says which entry of its global colour table is transparent.
struct GifTransparency {
    size_t flagOffset;  // the packed byte of the graphic control extension
    size_t tableOffset; // the global colour table
    int tableEntries;
    int index;
};

// The first graphic control extension before the first image, when it sets transparency and the
// file has a global colour table; none otherwise.
std::optional<GifTransparency> findGifTransparency(const std::vector<uint8_t>& file) {
    const size_t size = file.size();
    if (size < 13 || (file[10] & 0x80) == 0)
        return std::nullopt;
    const int entries = 1 << ((file[10] & 7) + 1);
    size_t pos = 13 + 3 * static_cast<size_t>(entries);
    // Extensions: 0x21, a label, then data sub-blocks up to an empty one.
    while (pos + 1 < size && file[pos] == 0x21) {
        const uint8_t label = file[pos + 1];
        pos += 2;
        // GIF89a, Graphic Control Extension: block size 4, packed byte, delay, transparent index.
        if (label == 0xF9 && pos + 5 <= size && file[pos] == 4) {
            if ((file[pos + 1] & 1) == 0)
                return std::nullopt;
            return GifTransparency{pos + 1, 13, entries, file[pos + 4]};
        }
        while (pos < size && file[pos] != 0)
            pos += file[pos] + 1u;
        ++pos;
    }
    return std::nullopt;
}

} // namespace

Color transparencyCheckerColor(int x, int y) {
    return ((x / 8 + y / 8) % 2) == 0 ? rgbColor(153, 153, 153) : rgbColor(102, 102, 102);
}

void decodeStillImageShowingTransparency(StillImageFormat format, const std::vector<uint8_t>& file,
                                         Bitmap& picture) {
    const std::optional<GifTransparency> transparency =
        format == StillImageFormat::Gif ? findGifTransparency(file) : std::nullopt;
    if (!transparency || transparency->index >= transparency->tableEntries) {
        decodeStillImage(format, file.data(), file.size(), picture);
        return;
    }
    // The file read as if opaque, with the transparent entry's colour swapped for one the table
    // does not hold: the pixels of that colour are exactly the transparent ones.
    std::vector<uint8_t> opaque = file;
    opaque[transparency->flagOffset] &= 0xFE;
    std::set<Color> held;
    for (int i = 0; i < transparency->tableEntries; ++i) {
        const uint8_t* c = opaque.data() + transparency->tableOffset + 3 * static_cast<size_t>(i);
        held.insert(rgbColor(c[0], c[1], c[2]));
    }
    Color mark = 0;
    for (int k = 0; k <= 256; ++k) {
        mark = rgbColor(k & 0xFF, k >> 8, 1);
        if (!held.count(mark))
            break;
    }
    uint8_t* entry = opaque.data() + transparency->tableOffset + 3 * static_cast<size_t>(transparency->index);
    entry[0] = static_cast<uint8_t>(redOf(mark));
    entry[1] = static_cast<uint8_t>(greenOf(mark));
    entry[2] = static_cast<uint8_t>(blueOf(mark));
    decodeStillImage(format, opaque.data(), opaque.size(), picture);
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            if (picture.pixel(x, y) == mark)
                picture.setPixel(x, y, transparencyCheckerColor(x, y));
}

TSAVEparam::TSAVEparam(QWidget* parent) : QDialog(parent) {
    setObjectName("SAVEparam");
    setWindowTitle("Paramters preview");
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

    ImageView1 = named(new TImageView(this), "ImageView1");
    ImageView1->setCentered(true);
    ImageView1->setScrolling(ScrollBars::None);
    ImageView1->setMouseNavigation(true);
    ImageView2 = named(new TImageView(this), "ImageView2");
    ImageView2->setCentered(true);
    ImageView2->setScrolling(ScrollBars::None);
    for (TImageView* view : {ImageView1, ImageView2}) {
        view->setFixedSize(238, 168);
        view->setBackgroundColor(palette().color(QPalette::Window));
    }
    ProgressBar1 = named(new QProgressBar(this), "ProgressBar1");
    ProgressBar1->setFixedHeight(6);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    PageControl1->setTabPosition(QTabWidget::South);
    // Every page's tab shows whole: the dialog grows rather than scroll its tabs.
    PageControl1->tabBar()->setUsesScrollButtons(false);
    PageControl1->tabBar()->setElideMode(Qt::ElideNone);
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
    Button1->setDefault(true);
    Button2 = named(new QPushButton("Cancel", this), "Button2");
    Button3 = named(new QPushButton("&Preview", this), "Button3");
    SpeedButton1 = named(new QToolButton(this), "SpeedButton1");
    SpeedButton1->setText("Lock");
    SpeedButton1->setToolTip("Lock preview");
    SpeedButton1->setCheckable(true);
    SpeedButton1->setChecked(true);
    SpeedButton1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    Label4 = named(new QLabel("---", this), "Label4");
    Label25 = named(new QLabel("---", this), "Label25");
    for (QLabel* size : {Label4, Label25})
        minimumWidthFor(size, bytesText(999999999));
    buildLayout();
    fixAtOpeningSize(this, QSize(524, 417));

    connect(Button1, &QPushButton::clicked, this, guarded(this, &TSAVEparam::Button1Click));
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button3, &QPushButton::clicked, this, guarded(this, &TSAVEparam::Button3Click));
    connect(SpeedButton1, &QToolButton::clicked, this, guarded(this, &TSAVEparam::SpeedButton1Click));
    connect(ImageView1, &TImageView::viewChanged, this, guarded(this, &TSAVEparam::ImageView1ViewChange));
    // A page brought to the front while the dialog shows is filled from the parameter set and,
    // with "Lock preview" down, previewed; otherwise it would show its controls' blank state.
    connect(PageControl1, &QTabWidget::currentChanged, this, guarded([this] {
                if (!isVisible())
                    return;
                fillPage();
                changed();
            }));

    connect(TrackBar13, &QSlider::valueChanged, this, guarded(this, &TSAVEparam::TrackBar13Change));
    connect(CheckBox2, &QCheckBox::toggled, this, guarded(this, &TSAVEparam::TrackBar13Change));
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::TrackBar13Change));
    connect(CheckBox3, &QCheckBox::toggled, this, guarded(this, &TSAVEparam::TrackBar13Change));
    connect(ComboBox13, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::TrackBar13Change));
    connect(Edit22, &QLineEdit::textChanged, this, guarded(this, &TSAVEparam::Edit22Change));
    connect(Edit23, &QLineEdit::textChanged, this, guarded(this, &TSAVEparam::Edit22Change));

    connect(TrackBar1, &QSlider::valueChanged, this, guarded(this, &TSAVEparam::TrackBar1Change));
    connect(ComboBox15, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::TrackBar1Change));
    connect(Edit15, &QLineEdit::textChanged, this, guarded(this, &TSAVEparam::Edit15Change));

    for (QComboBox* box : {ComboBox2, ComboBox3, ComboBox4})
        connect(box, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::ComboBox2Click));

    connect(ComboBox5, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::ComboBox5Click));
    connect(CheckBox4, &QCheckBox::toggled, this, guarded(this, &TSAVEparam::ComboBox5Click));
    connect(CheckBox5, &QCheckBox::toggled, this, guarded(this, &TSAVEparam::ComboBox5Click));
    connect(Panel3, &ColorSwatch::clicked, this, guarded(this, &TSAVEparam::Panel3Click));
    connect(Panel4, &ColorSwatch::clicked, this, guarded(this, &TSAVEparam::Panel4Click));

    connect(ComboBox6, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::ComboBox6Change));
    connect(ComboBox7, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::ComboBox6Change));
    connect(ComboBox8, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::ComboBox8Change));
    connect(ComboBox9, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::ComboBox8Change));

    connect(ComboBox10, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::ComboBox10Change));
    connect(ComboBox11, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::ComboBox10Change));
    connect(CheckBox6, &QCheckBox::toggled, this, guarded(this, &TSAVEparam::ComboBox10Change));
    connect(ComboBox12, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::ComboBox10Change));
    connect(Panel1, &ColorSwatch::clicked, this, guarded(this, &TSAVEparam::Panel1Click));

    connect(ComboBox14, &QComboBox::currentIndexChanged, this, guarded(this, &TSAVEparam::ComboBox14Click));
    connect(CheckBox1, &QCheckBox::toggled, this, guarded(this, &TSAVEparam::ComboBox14Click));
    connect(Edit13, &QLineEdit::textChanged, this, guarded(this, &TSAVEparam::Edit13Change));
    connect(Edit14, &QLineEdit::textChanged, this, guarded(this, &TSAVEparam::Edit13Change));
    connect(Panel5, &ColorSwatch::clicked, this, guarded(this, &TSAVEparam::Panel5Click));
}

// The two views with the progress bar beneath them; the pages with the buttons at their right;
// the two sizes along the bottom.
void TSAVEparam::buildLayout() {
    auto* views = new QGridLayout;
    views->setVerticalSpacing(2);
    views->addWidget(new QLabel("Source:", this), 0, 0);
    views->addWidget(new QLabel("Result:", this), 0, 1);
    views->addWidget(ImageView1, 1, 0);
    views->addWidget(ImageView2, 1, 1);
    views->addWidget(ProgressBar1, 2, 0, 1, 2);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addSpacing(12);
    buttons->addWidget(Button3);
    buttons->addWidget(SpeedButton1);
    buttons->addStretch(1);
    auto* middle = new QHBoxLayout;
    middle->addWidget(PageControl1, 1);
    middle->addLayout(buttons);

    auto* sizes = new QHBoxLayout;
    sizes->addWidget(new QLabel("Original size:", this));
    sizes->addWidget(Label4, 1);
    sizes->addWidget(new QLabel("Compressed size:", this));
    sizes->addWidget(Label25, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(views);
    layout->addLayout(middle, 1);
    layout->addLayout(sizes);
}

namespace {

// A caption label in a page's grid whose mnemonic moves the focus to its control.
QLabel* captionFor(QGridLayout* grid, const char* caption, QWidget* control, int row, int column) {
    auto* label = new QLabel(caption, grid->parentWidget());
    label->setBuddy(control);
    grid->addWidget(label, row, column);
    return label;
}

// A check box whose text stands before its box, as a caption does.
QCheckBox* captionCheckBox(QWidget* page, const char* name, const char* caption) {
    auto* box = named(new QCheckBox(caption, page), name);
    box->setLayoutDirection(Qt::RightToLeft);
    box->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return box;
}

QSlider* trackBar(QWidget* page, const char* name, int maximum, int tickInterval) {
    auto* slider = named(new QSlider(Qt::Horizontal, page), name);
    slider->setRange(0, maximum);
    slider->setTickInterval(tickInterval);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setMinimumWidth(160);
    return slider;
}

QComboBox* list(QWidget* page, const char* name, const QStringList& items) {
    auto* box = named(new QComboBox(page), name);
    box->addItems(items);
    return box;
}

// A page's grid: captions in the even columns, their controls beside them, room to the right.
QGridLayout* pageGrid(QWidget* page, int columns) {
    auto* grid = new QGridLayout(page);
    grid->setColumnStretch(columns, 1);
    return grid;
}

void endPage(QGridLayout* grid) {
    grid->setRowStretch(grid->rowCount(), 1);
}

} // namespace

void TSAVEparam::buildJpegPage(QWidget* page) {
    QGridLayout* grid = pageGrid(page, 4);
    TrackBar13 = trackBar(page, "TrackBar13", 100, 5);
    captionFor(grid, "&Quality:", TrackBar13, 0, 0);
    grid->addWidget(TrackBar13, 0, 1, 1, 2);
    Edit22 = named(new QLineEdit(page), "Edit22");
    Edit22->setReadOnly(true);
    fitEditTo(Edit22, "0000");
    grid->addWidget(Edit22, 0, 3, Qt::AlignLeft);
    ComboBox1 = list(page, "ComboBox1", {"ISLOW", "IFAST", "FLOAT"});
    captionFor(grid, "&DCT method:", ComboBox1, 1, 0);
    grid->addWidget(ComboBox1, 1, 1);
    ComboBox13 = list(page, "ComboBox13", {"RGB", "GrayScale", "YCbCr", "CMYK", "YCbCrK"});
    captionFor(grid, "Color space:", ComboBox13, 1, 2);
    grid->addWidget(ComboBox13, 1, 3);
    Edit23 = named(new QLineEdit(page), "Edit23");
    fitEditTo(Edit23, "0000");
    UpDown11 = named(new UpDown(page), "UpDown11");
    UpDown11->setMinimum(0);
    UpDown11->setMaximum(100);
    UpDown11->setBuddy(Edit23);
    auto* smoothing = new QHBoxLayout;
    smoothing->setSpacing(0);
    smoothing->addWidget(Edit23);
    smoothing->addWidget(UpDown11);
    smoothing->addStretch(1);
    captionFor(grid, "&Smoothing factor:", Edit23, 2, 0);
    grid->addLayout(smoothing, 2, 1);
    CheckBox2 = named(new QCheckBox("&Optimal Huffman", page), "CheckBox2");
    grid->addWidget(CheckBox2, 2, 2, 1, 2);
    CheckBox3 = named(new QCheckBox("P&rogressive", page), "CheckBox3");
    grid->addWidget(CheckBox3, 3, 2, 1, 2);
    endPage(grid);
}

void TSAVEparam::buildTiffPage(QWidget* page) {
    QGridLayout* grid = pageGrid(page, 2);
    ComboBox2 = list(
        page, "ComboBox2",
        {"UNCOMPRESSED", "CCITT1D", "G3FAX1D", "G3FAX2D", "G4FAX", "LZW", "OLDJPEG", "JPEG", "PACKBITS"});
    captionFor(grid, "&Compression:", ComboBox2, 0, 0);
    grid->addWidget(ComboBox2, 0, 1);
    ComboBox3 = list(page, "ComboBox3",
                     {"WHITEISZERO/Gray", "BLACKISZERO/Gray", "RGB", "RGBPALETTE", "TRANSPMASK", "CMYK",
                      "YCBCR", "CIELAB"});
    captionFor(grid, "P&hotometric:", ComboBox3, 1, 0);
    grid->addWidget(ComboBox3, 1, 1);
    ComboBox4 = named(new QComboBox(page), "ComboBox4");
    fillColorsList(ComboBox4, StillImageFormat::Tiff);
    captionFor(grid, "C&olors:", ComboBox4, 2, 0);
    grid->addWidget(ComboBox4, 2, 1);
    endPage(grid);
}

void TSAVEparam::buildGifPage(QWidget* page) {
    QGridLayout* grid = pageGrid(page, 2);
    ComboBox5 = named(new QComboBox(page), "ComboBox5");
    fillColorsList(ComboBox5, StillImageFormat::Gif);
    ComboBox5->setCurrentIndex(7);
    captionFor(grid, "&Colors:", ComboBox5, 0, 0);
    grid->addWidget(ComboBox5, 0, 1);
    CheckBox4 = captionCheckBox(page, "CheckBox4", "&Transparent:");
    grid->addWidget(CheckBox4, 1, 0, 1, 2, Qt::AlignLeft | Qt::AlignAbsolute);
    Panel3 = named(new ColorSwatch(page), "Panel3");
    transparentColorLabel = captionFor(grid, "T&ransparent color:", Panel3, 2, 0);
    transparentColorLabel->setObjectName("transparentColorLabel");
    grid->addWidget(Panel3, 2, 1, Qt::AlignLeft);
    CheckBox5 = captionCheckBox(page, "CheckBox5", "I&nterlaced:");
    grid->addWidget(CheckBox5, 3, 0, 1, 2, Qt::AlignLeft | Qt::AlignAbsolute);
    Panel4 = named(new ColorSwatch(page), "Panel4");
    captionFor(grid, "&Background:", Panel4, 4, 0);
    grid->addWidget(Panel4, 4, 1, Qt::AlignLeft);
    endPage(grid);
}

void TSAVEparam::buildBmpPage(QWidget* page) {
    QGridLayout* grid = pageGrid(page, 2);
    ComboBox6 = list(page, "ComboBox6", {"UNCOMPRESSED", "RLE"});
    captionFor(grid, "&Compression:", ComboBox6, 0, 0);
    grid->addWidget(ComboBox6, 0, 1);
    ComboBox7 = named(new QComboBox(page), "ComboBox7");
    fillColorsList(ComboBox7, StillImageFormat::Bmp);
    captionFor(grid, "C&olors:", ComboBox7, 1, 0);
    grid->addWidget(ComboBox7, 1, 1);
    endPage(grid);
}

void TSAVEparam::buildPcxPage(QWidget* page) {
    QGridLayout* grid = pageGrid(page, 2);
    ComboBox8 = list(page, "ComboBox8", {"UNCOMPRESSED", "RLE"});
    captionFor(grid, "&Compression:", ComboBox8, 0, 0);
    grid->addWidget(ComboBox8, 0, 1);
    ComboBox9 = named(new QComboBox(page), "ComboBox9");
    fillColorsList(ComboBox9, StillImageFormat::Pcx);
    captionFor(grid, "C&olors:", ComboBox9, 1, 0);
    grid->addWidget(ComboBox9, 1, 1);
    endPage(grid);
}

void TSAVEparam::buildPngPage(QWidget* page) {
    QGridLayout* grid = pageGrid(page, 4);
    ComboBox10 = named(new QComboBox(page), "ComboBox10");
    fillColorsList(ComboBox10, StillImageFormat::Png);
    ComboBox10->setCurrentIndex(2);
    captionFor(grid, "C&olors:", ComboBox10, 0, 0);
    grid->addWidget(ComboBox10, 0, 1);
    Panel1 = named(new ColorSwatch(page), "Panel1");
    captionFor(grid, "&Background:", Panel1, 1, 0);
    grid->addWidget(Panel1, 1, 1, Qt::AlignLeft);
    ComboBox11 = list(page, "ComboBox11", {"NONE", "SUB", "PAETH"});
    captionFor(grid, "&Filter", ComboBox11, 2, 0);
    grid->addWidget(ComboBox11, 2, 1);
    CheckBox6 = captionCheckBox(page, "CheckBox6", "I&nterlaced:");
    grid->addWidget(CheckBox6, 0, 2, 1, 2, Qt::AlignLeft | Qt::AlignAbsolute);
    ComboBox12 = list(page, "ComboBox12", {"NONE", "1", "2", "3", "4", "5", "6", "7", "8", "MAX"});
    captionFor(grid, "Co&mpression", ComboBox12, 1, 2);
    grid->addWidget(ComboBox12, 1, 3);
    endPage(grid);
}

void TSAVEparam::buildTgaPage(QWidget* page) {
    QGridLayout* grid = pageGrid(page, 4);
    ComboBox14 = named(new QComboBox(page), "ComboBox14");
    fillColorsList(ComboBox14, StillImageFormat::Tga);
    ComboBox14->setCurrentIndex(2);
    captionFor(grid, "C&olors:", ComboBox14, 0, 0);
    grid->addWidget(ComboBox14, 0, 1);
    CheckBox1 = captionCheckBox(page, "CheckBox1", "Compression:");
    grid->addWidget(CheckBox1, 0, 2, 1, 2, Qt::AlignLeft | Qt::AlignAbsolute);
    Panel5 = named(new ColorSwatch(page), "Panel5");
    captionFor(grid, "&Background:", Panel5, 1, 0);
    grid->addWidget(Panel5, 1, 1, Qt::AlignLeft);
    Edit13 = named(new QLineEdit(page), "Edit13");
    captionFor(grid, "&Name:", Edit13, 2, 0);
    grid->addWidget(Edit13, 2, 1, 1, 4);
    Edit14 = named(new QLineEdit(page), "Edit14");
    captionFor(grid, "&Description:", Edit14, 3, 0);
    grid->addWidget(Edit14, 3, 1, 1, 4);
    endPage(grid);
}

void TSAVEparam::buildJpeg2000Page(QWidget* page) {
    QGridLayout* grid = pageGrid(page, 3);
    TrackBar1 = trackBar(page, "TrackBar1", 1000, 20);
    TrackBar1->setValue(500);
    captionFor(grid, "&Rate:", TrackBar1, 0, 0);
    grid->addWidget(TrackBar1, 0, 1);
    Edit15 = named(new QLineEdit(page), "Edit15");
    Edit15->setReadOnly(true);
    fitEditTo(Edit15, "00000");
    grid->addWidget(Edit15, 0, 2, Qt::AlignLeft);
    ComboBox15 = list(page, "ComboBox15", {"GrayScale", "RGB", "YCbCr"});
    captionFor(grid, "Color space:", ComboBox15, 1, 0);
    grid->addWidget(ComboBox15, 1, 1, Qt::AlignLeft);
    endPage(grid);
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
    // 524 x 417 where the pages fit, centred.
    fixAtOpeningSize(this, QSize(524, 417));
    centreOnScreen(this);
    QDialog::showEvent(event);
    runGuarded([this] { FormActivate(); });
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
    const auto compression = static_cast<TiffCompression>(std::max(0, ComboBox2->currentIndex()));
    const auto photometric = static_cast<TiffPhotometric>(std::max(0, ComboBox3->currentIndex()));
    const ColorsEntry colors = colorsAt(StillImageFormat::Tiff, ComboBox4->currentIndex());
    // The lists are coupled as the writer couples them: a new photometric picks the colours it
    // can hold, new colours the photometric that can show them, a CCITT coding black and white;
    // then the page shows what the file will carry.
    if (photometric != m_set.tiff.photometric)
        chooseTiffPhotometric(next, photometric);
    else if (colors != tiffColorsEntry(m_set.tiffBitsPerSample, m_set.tiffSamplesPerPixel))
        chooseTiffColors(next, colors);
    if (compression != m_set.tiff.compression)
        chooseTiffCompression(next, compression);
    else
        settleTiffPage(next);
    {
        const QSignalBlocker blocker2(ComboBox2);
        const QSignalBlocker blocker3(ComboBox3);
        const QSignalBlocker blocker4(ComboBox4);
        ComboBox2->setCurrentIndex(static_cast<int>(next.tiff.compression));
        ComboBox3->setCurrentIndex(static_cast<int>(next.tiff.photometric));
        ComboBox4->setCurrentIndex(colorsIndex(
            StillImageFormat::Tiff, tiffColorsEntry(next.tiffBitsPerSample, next.tiffSamplesPerPixel)));
    }
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
    const bool transparent = CheckBox4->isChecked();
    transparentColorLabel->setEnabled(transparent);
    Panel3->setEnabled(transparent);
    // Transparency changes the file as the colours do, so it is previewed too.
    if (bits == m_set.gifBitsPerPixel && interlaced == m_set.gif.interlaced &&
        transparent == m_set.gif.transparent)
        return;
    m_set.gifBitsPerPixel = bits;
    m_set.gif.interlaced = interlaced;
    m_set.gif.transparent = transparent;
    changed();
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
    const std::string name = Edit13->text().toStdString();
    const std::string description = Edit14->text().toStdString();
    if (name == m_set.tga.name && description == m_set.tga.description)
        return;
    // The name and the description are stored in the file, so its size follows them.
    m_set.tga.name = name;
    m_set.tga.description = description;
    changed();
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

// A swatch's colour into the parameter set, previewed when it differs: the colours are part of
// the file.
void TSAVEparam::storeColor(Color& field, Color color) {
    if (field == color)
        return;
    field = color;
    changed();
}

void TSAVEparam::Panel3Click() {
    if (m_colorMap.empty()) {
        // No preview has left a colour map to pick from: the colour dialog instead.
        if (std::optional<QColor> c = chooseColor(toQColor(Panel3->color())))
            Panel3->setColor(rgbColor(c->red(), c->green(), c->blue()));
    } else if (std::optional<Color> picked = pickFromColorMap(1 << m_set.gifBitsPerPixel)) {
        Panel3->setColor(*picked);
    }
    storeColor(m_set.gif.transparentColor, Panel3->color());
}

void TSAVEparam::Panel4Click() {
    if (m_colorMap.empty()) {
        if (std::optional<QColor> c = chooseColor(toQColor(Panel4->color())))
            Panel4->setColor(rgbColor(c->red(), c->green(), c->blue()));
    } else if (std::optional<Color> picked = pickFromColorMap(1 << m_set.gifBitsPerPixel)) {
        Panel4->setColor(*picked);
    }
    storeColor(m_set.gif.background, Panel4->color());
}

void TSAVEparam::Panel1Click() {
    const ColorDepth depth = colorDepth(StillImageFormat::Png, m_set.pngColors);
    storeColor(m_set.png.background, pickBackground(Panel1, depth.bitsPerSample * depth.samplesPerPixel));
}

void TSAVEparam::Panel5Click() {
    const ColorDepth depth = colorDepth(StillImageFormat::Tga, m_set.tgaColors);
    storeColor(m_set.tga.background, pickBackground(Panel5, depth.bitsPerSample * depth.samplesPerPixel));
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
    // The options are those "OK" would leave for "Save": the save options with this page copied in.
    const StillImageFormat format = page();
    StillImageSaveOptions options = m_options ? *m_options : StillImageSaveOptions{};
    copyPageToSaveOptions(format, m_set, options);
    const EncodedImage encoded = encodeStillImage(
        source, options, format, [&bar](int percent) { bar.setProgressPosition(percent / 2); });
    Label25->setText(bytesText(encoded.bytes.size()));
    bar.setProgressPosition(50);
    decodeStillImageShowingTransparency(format, encoded.bytes, result);
    // The palette pickers of the GIF, PNG and TGA pages offer the palette of the last preview of a
    // page whose file keeps one.
    if (format == StillImageFormat::Gif || format == StillImageFormat::Tiff ||
        format == StillImageFormat::Png || format == StillImageFormat::Tga)
        m_colorMap = encoded.palette;

    ImageView2->setZoomAndScroll(ImageView1->zoom(), ImageView1->scrollX(), ImageView1->scrollY());
    ImageView2->update();
}

} // namespace kelvara
