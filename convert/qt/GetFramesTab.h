// The "Get frames" tab: the frames and their size, extraction into the thumbnail list, the frame
// viewer, and "Save" of the extracted frames as still images.
#pragma once

#include "widgets/Controls.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QListWidget;
class QPushButton;
class QSettings;
class QRadioButton;

namespace kelvara {

class FrameTable;
class TabHost;
class TForm5;

namespace ui {

class GetFramesTab : public QWidget {
    Q_OBJECT
public:
    GetFramesTab(TabHost& host, FrameTable& frames, TForm5* viewer, QWidget* parent = nullptr);

    // What opening a video prepares here: empty lists, all frames at the video's size, the groups
    // and "Get frames" enabled.
    void videoOpened();
    // Empties the thumbnail list and the frame-number list.
    void clearLists();
    // Selects the first entry of the format list, as start-up does.
    void selectFirstFormat();

    void RadioButton6Click();
    void RadioButton7Click();
    void SpinEdit6Change();
    void RadioButton10Click();
    void RadioButton11Click();
    void SpinEdit10Change();
    void SpinEdit11Change();
    void Button12Click();
    void Button13Click();
    void Button14Click();
    void Button15Click();
    void Button16Click();
    void lbAVIDblClick();

    // The buttons the window's Ctrl+S and Esc press.
    QPushButton* saveButton() const { return Button15; }
    QPushButton* abortButton() const { return Button13; }

    // The settings a user expects kept between runs.
    void saveSettings(QSettings& settings) const;
    void restoreSettings(const QSettings& settings);

private:
    void build();
    void connectHandlers();
    void openViewer(int row);

    TabHost& m_host;
    FrameTable& m_frames;
    TForm5* m_viewer;
    bool m_viewerPlaced = false;

    QPushButton* Button12 = nullptr; // Get frames
    QPushButton* Button13 = nullptr; // Abort
    QPushButton* Button14 = nullptr; // Clear results
    QPushButton* Button15 = nullptr; // Save
    QPushButton* Button16 = nullptr; // Preview
    QListWidget* lbAVI = nullptr;
    QListWidget* ListBox1 = nullptr;
    QGroupBox* GroupBox6 = nullptr;
    QRadioButton* RadioButton6 = nullptr;
    QRadioButton* RadioButton7 = nullptr;
    QWidget* Panel5 = nullptr;
    SpinEdit* SpinEdit6 = nullptr;
    SpinEdit* SpinEdit7 = nullptr;
    QGroupBox* GroupBox7 = nullptr;
    QRadioButton* RadioButton10 = nullptr;
    QRadioButton* RadioButton11 = nullptr;
    SpinEdit* SpinEdit10 = nullptr;
    SpinEdit* SpinEdit11 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QComboBox* ComboBox6 = nullptr;
    QLineEdit* Edit3 = nullptr;
};

} // namespace ui
} // namespace kelvara
