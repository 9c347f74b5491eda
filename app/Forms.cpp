// The secondary windows of the program.
#include "app/Forms.h"

#include "widgets/WindowFit.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

// The program's resources live in a static library: register them before the first use.
static void initProgramResources() {
    Q_INIT_RESOURCE(kelvara);
}

namespace kelvara {

namespace {

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

// Decodes a JPEG held in memory as 24-bit RGB; a null image when it cannot.
QImage decodeJpeg(const QByteArray& bytes) {
    jpeg_decompress_struct info;
    JpegErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<JpegErrorManager*>(c->err)->jump, 1);
    };
    QImage image;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB; // colour, also for a greyscale picture
    jpeg_start_decompress(&info);
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

} // namespace

QImage splashPicture() {
    initProgramResources();
    QFile file(":/SPLASH");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decodeJpeg(file.readAll());
}

TSplashForm::TSplashForm(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::SplashScreen) {
    setObjectName("SplashForm");
    setFixedSize(400, 266);
    m_picture = splashPicture();
    centreOnScreen(this);
}

void TSplashForm::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_picture.isNull())
        return;
    // Stretched to fit with its proportions, centred.
    QSize size = m_picture.size().scaled(this->size(), Qt::KeepAspectRatio);
    painter.drawImage(QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size),
                      m_picture);
}

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutForm");
    setWindowTitle("About");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    auto* layout = new QVBoxLayout(this);
    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setFixedSize(400, 266);
    Image1->setScaledContents(true);
    ProductName = new QLabel("Kelvara 5.2", this);
    ProductName->setObjectName("ProductName");
    ProductName->setAlignment(Qt::AlignCenter);
    QFont font = ProductName->font();
    font.setBold(true);
    ProductName->setFont(font);
    OKButton = new QPushButton("OK", this);
    OKButton->setObjectName("OKButton");
    layout->addWidget(Image1);
    layout->addWidget(ProductName);
    layout->addWidget(OKButton, 0, Qt::AlignCenter);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutForm::showEvent(QShowEvent* event) {
    Image1->setPixmap(QPixmap::fromImage(splashPicture()));
    QDialog::showEvent(event);
    centreOnScreen(this);
}

void TAboutForm::hideEvent(QHideEvent* event) {
    Image1->clear(); // the picture is let go while hidden
    QDialog::hideEvent(event);
}

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName("Form3");
    setWindowTitle("GIF preview");
    resize(172, 124);
}

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("Form2");
    setWindowTitle("Frame number");
    Label1 = new QLabel("Put the frame number", this);
    Label1->setObjectName("Label1");
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Label1->setBuddy(Edit1);
    Button2 = new QPushButton("OK", this);
    Button2->setObjectName("Button2");
    Button2->setDefault(true);
    Button1 = new QPushButton("Cancel", this);
    Button1->setObjectName("Button1");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button2);
    buttons->addWidget(Button1);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(Edit1);
    layout->addStretch(1);
    layout->addLayout(buttons);
    fitToContent();
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
}

// 229 x 110 when the prompt fits; a longer prompt (a video of many frames) or a larger font
// widens it.
void TForm2::fitToContent() {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    fixAtOpeningSize(this, QSize(229, 110));
}

void TForm2::showEvent(QShowEvent* event) {
    fitToContent();
    centreOnScreen(this);
    QDialog::showEvent(event);
}

} // namespace kelvara
