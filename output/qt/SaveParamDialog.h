// The save-parameters dialog: the options of one still-image format, a preview of the picture as
// that format stores it, and the size of the encoded file.
#pragma once

#include "output/SaveOptions.h"
#include "preview/qt/ImageView.h"
#include "widgets/Controls.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QToolButton>

#include <functional>
#include <optional>
#include <vector>

namespace kelvara {

// How a viewer shows a transparent pixel at (x, y): a checkerboard of 8-pixel grey squares.
Color transparencyCheckerColor(int x, int y);

// Decodes a file of a format as the result view shows it: transparent pixels of a GIF show the
// checkerboard of transparencyCheckerColor, every other pixel as the picture reader reads it.
void decodeStillImageShowingTransparency(StillImageFormat format, const std::vector<uint8_t>& file,
                                         Bitmap& picture);

class TSAVEparam : public QDialog {
    Q_OBJECT
public:
    explicit TSAVEparam(QWidget* parent = nullptr);

    // Shows the dialog modally on the page of a format with the picture to be saved; "OK" copies
    // the page into options and returns true, "Cancel" leaves options as they are.
    bool execute(StillImageFormat page, const Bitmap& source, StillImageSaveOptions& options);

    // The steps of execute, for callers that show the dialog themselves: the picture to be saved
    // goes into the source view, the format's page to the front, and "OK" copies into options.
    void setSource(const Bitmap& source);
    void setPage(StillImageFormat page);
    StillImageFormat page() const;
    void setSaveOptions(StillImageSaveOptions* options) { m_options = options; }

    const SaveParameterSet& parameterSet() const { return m_set; }
    // The palette of the last preview's file that the palette pickers offer.
    const std::vector<Color>& colorMap() const { return m_colorMap; }

    // Seams: the palette picker (the colours offered; the colour picked, none when cancelled)
    // and the colour dialog ColorDialog1 (the colour chosen, none when cancelled).
    std::function<std::optional<Color>(const std::vector<Color>& colors)> pickPaletteColor;
    std::function<std::optional<QColor>(const QColor& initial)> chooseColor;

    TImageView* ImageView1 = nullptr; // source
    TImageView* ImageView2 = nullptr; // result
    QProgressBar* ProgressBar1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QPushButton* Button1 = nullptr;      // OK
    QPushButton* Button2 = nullptr;      // Cancel
    QPushButton* Button3 = nullptr;      // &Preview
    QToolButton* SpeedButton1 = nullptr; // Lock preview
    QLabel* Label4 = nullptr;            // original size
    QLabel* Label25 = nullptr;           // compressed size

    // "JPEG"
    QSlider* TrackBar13 = nullptr;
    QLineEdit* Edit22 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLineEdit* Edit23 = nullptr;
    UpDown* UpDown11 = nullptr;
    QComboBox* ComboBox13 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    // "TIFF"
    QComboBox* ComboBox2 = nullptr;
    QComboBox* ComboBox3 = nullptr;
    QComboBox* ComboBox4 = nullptr;
    // "GIF"
    QComboBox* ComboBox5 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QLabel* transparentColorLabel = nullptr;
    ColorSwatch* Panel3 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    ColorSwatch* Panel4 = nullptr;
    // "BMP"
    QComboBox* ComboBox6 = nullptr;
    QComboBox* ComboBox7 = nullptr;
    // "PCX"
    QComboBox* ComboBox8 = nullptr;
    QComboBox* ComboBox9 = nullptr;
    // "PNG"
    QComboBox* ComboBox10 = nullptr;
    ColorSwatch* Panel1 = nullptr;
    QComboBox* ComboBox11 = nullptr;
    QCheckBox* CheckBox6 = nullptr;
    QComboBox* ComboBox12 = nullptr;
    // "TGA"
    QComboBox* ComboBox14 = nullptr;
    ColorSwatch* Panel5 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QLineEdit* Edit13 = nullptr;
    QLineEdit* Edit14 = nullptr;
    // "JPEG2000"
    QSlider* TrackBar1 = nullptr;
    QLineEdit* Edit15 = nullptr;
    QComboBox* ComboBox15 = nullptr;

    void FormActivate();
    void Button1Click();
    void Button3Click();
    void SpeedButton1Click();
    void TrackBar13Change();
    void Edit22Change();
    void TrackBar1Change();
    void Edit15Change();
    void ComboBox2Click();
    void ComboBox5Click();
    void ComboBox6Change();
    void ComboBox8Change();
    void ComboBox10Change();
    void ComboBox14Click();
    void Edit13Change();
    void Panel3Click();
    void Panel4Click();
    void Panel1Click();
    void Panel5Click();
    void ImageView1ViewChange();

    // Makes the preview of the page in front: the result picture, "Compressed size:" and the
    // colour map.
    void makePreview();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildLayout();
    void buildJpegPage(QWidget* page);
    void buildTiffPage(QWidget* page);
    void buildGifPage(QWidget* page);
    void buildBmpPage(QWidget* page);
    void buildPcxPage(QWidget* page);
    void buildPngPage(QWidget* page);
    void buildTgaPage(QWidget* page);
    void buildJpeg2000Page(QWidget* page);
    // Fills the controls of the page in front from the parameter set, its handlers silenced.
    void fillPage();
    void changed();
    std::optional<Color> pickFromColorMap(int entries);
    Color pickBackground(ColorSwatch* swatch, int bitsTimesSamples);
    void storeColor(Color& field, Color color);

    SaveParameterSet m_set;
    std::vector<Color> m_colorMap;
    StillImageSaveOptions* m_options = nullptr;
    // While the controls are filled their change handlers do nothing.
    bool m_filling = false;
};

} // namespace kelvara
