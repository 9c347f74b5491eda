// The "AVI to animated GIF" tab: the picture area (window picking), the GIF size, the frames, the
// direction, the sampling step and the frame interval; "Convert", "Abort", "Clear GIF", "Save"
// and the looping preview of the result.
#pragma once

#include "widgets/Controls.h"

#include <QSpinBox>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSettings;
class QTimer;

namespace kelvara {

class FrameTable;
class TabHost;
class TGIFform1;

namespace ui {

class AviToGifTab : public QWidget {
    Q_OBJECT
public:
    AviToGifTab(TabHost& host, FrameTable& frames, TGIFform1* preview, QWidget* parent = nullptr);

    // What opening a video prepares here: the size labels, the range edits, the groups and
    // "Convert" enabled, the GIF base size and crop rectangle of the whole picture.
    void videoOpened();

    void ComboBox2Change();
    void SpinEdit8Change();
    void SpinEdit9Change();
    void RadioButton3Click();
    void RadioButton4Click();
    void RadioButton5Click();
    void SpinEdit1Change();
    void Edit5Change();
    void Button5Click();
    void Button7Click();
    void Button4Click();
    void Button6Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void Button8Click();
    void GIFviewMouseMove(int x, int y);
    void GIFviewMouseUp(int x, int y);
    void PreviewTimerTimer();

    // The buttons the window's Ctrl+S and Esc press.
    QPushButton* saveButton() const { return Button6; }
    QPushButton* abortButton() const { return Button7; }

    // The settings a user expects kept between runs.
    void saveSettings(QSettings& settings) const;
    void restoreSettings(const QSettings& settings);

private:
    void build();
    void connectHandlers();
    void resetRangeEdits();
    // The tab after a run that built nothing: ready for another "Convert".
    void backToIdle();

    TabHost& m_host;
    FrameTable& m_frames;
    TGIFform1* m_preview;

    QPushButton* Button5 = nullptr; // Convert
    QPushButton* Button7 = nullptr; // Abort
    QPushButton* Button4 = nullptr; // Clear GIF
    QPushButton* Button6 = nullptr; // Save
    QWidget* StatusBar2 = nullptr;
    QLabel* StatusBar2Panel0 = nullptr;
    QLabel* StatusBar2Panel1 = nullptr;
    QLabel* StatusBar2Panel2 = nullptr; // the size of the file "Save" writes
    QGroupBox* GroupBox2 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QPushButton* Button8 = nullptr; // Pick window
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QGroupBox* GroupBox8 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QWidget* Panel6 = nullptr;
    QComboBox* ComboBox3 = nullptr;
    QWidget* Panel7 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    SpinEdit* SpinEdit8 = nullptr;
    SpinEdit* SpinEdit9 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QRadioButton* RadioButton3 = nullptr;
    QRadioButton* RadioButton4 = nullptr;
    QRadioButton* RadioButton5 = nullptr;
    QWidget* Panel8 = nullptr;
    QWidget* Panel9 = nullptr;
    SpinEdit* SpinEdit2 = nullptr;
    SpinEdit* SpinEdit3 = nullptr;
    SpinEdit* SpinEdit4 = nullptr;
    SpinEdit* SpinEdit5 = nullptr;
    QGroupBox* RadioGroup1 = nullptr;
    QRadioButton* RadioGroup1Forward = nullptr;
    QRadioButton* RadioGroup1Backward = nullptr;
    QGroupBox* GroupBox9 = nullptr;
    SpinEdit* SpinEdit1 = nullptr;
    QGroupBox* GroupBox10 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QTimer* PreviewTimer = nullptr;
    // Beyond the classic GIF, all off by default: the colour quality, storing frames as their
    // changes, and a size the file must fit under (MB; empty for none).
    QGroupBox* m_outputGroup = nullptr;
    QComboBox* m_quality = nullptr;
    QSpinBox* m_level = nullptr; // of the high quality, 1..100; lower levels give smaller files
    QCheckBox* m_optimise = nullptr;
    QLineEdit* m_fitUnder = nullptr;
};

} // namespace ui
} // namespace kelvara
