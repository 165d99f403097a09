#pragma once
// "Serial Basic Settings": the six line parameters of the port, shown from
// the port on opening and set on it (and stored in "COMPortSettings") on OK.
// Shown modeless by the main window, which owns it: a task started from the
// remote page while it is open leaves the window's STOP usable.
#include <functional>
#include <string>

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class TSerialPortNG;

class TSerialNGBasicDLG : public QDialog {
  Q_OBJECT
public:
  explicit TSerialNGBasicDLG(QWidget *parent = nullptr);
  QComboBox *CBPort, *CBBaud, *CBData, *CBStop, *CBParity, *CBFlow;
  // "Replies end at the line end": "Off", "On", "Automatic" (stored 0, 1, 2).
  QComboBox *CBFastReplies;
  // "Check line": runs OnCheckLine on the line as it is now, shows its text.
  QPushButton *CheckLineButton;
  QLabel *CheckLineResult;
  std::function<std::string()> OnCheckLine;
  // "Use the simulated robot": the program above gives it its work.
  QPushButton *UseSimulator;

  void LoadPortSettings(const TSerialPortNG &port);
  // Sets the six properties in dialog order, then opens the port.
  void ApplyPortSettings(TSerialPortNG &port);
};

// What OK does: applies the dialog's choices to `port` and writes them to
// `iniFile`. A failed write throws the profile writer's std::runtime_error;
// the port has the new values by then.
void SaveSerialSettings(TSerialNGBasicDLG &dlg, TSerialPortNG &port, const std::string &iniFile);
