#pragma once
// The two service dialogs of the Settings menu, owned by the main window and
// shown modeless; what they send to the controllers runs only while idle.
#include <functional>

#include <QDialog>

#include "veri/Utilities.h"  // IUploadView

class QButtonGroup;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;

// "VERI Utilities": limit-switch moves and the program code upload.
class TSERSUtilities : public QDialog, public IUploadView {
  Q_OBJECT
public:
  explicit TSERSUtilities(QWidget *parent = nullptr);
  QGroupBox *AxisSelector, *GroupBox1;
  QButtonGroup *AxisButtons;
  QPushButton *LeftButn, *RightBtn, *Upload, *OKBtn;
  QProgressBar *UploadBar1;

  // Address of the selected axis: X 1, Y 2, Z 3.
  uint8_t SelectedAddress() const;
  void LeftButnClick();
  void RightBtnClick();
  void UploadClick();

  void ShowBar(bool visible) override;
  void SetBar(int position, int maximum) override;
  void StepBar() override;
};

// "DigitalOutputTest": rename and switch the digital output channels.
class TSERSIOPanel : public QDialog {
  Q_OBJECT
public:
  explicit TSERSIOPanel(QWidget *parent = nullptr);
  QSpinBox *DOUpDown;
  QLineEdit *DOName, *DOAxis, *DOPin, *DOState;
  QPushButton *Button1, *OKBtn;
  // Runs after a name was stored (the process editor's channel list).
  std::function<void()> OnNameChanged;

  int Channel() const;
  void ShowChannel(int n);
  void DONameExit();
  void Button1Click();
};
