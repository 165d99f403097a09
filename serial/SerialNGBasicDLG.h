#pragma once
// "Serial Basic Settings": the six line parameters of the port, shown from
// the port on opening and set on it (and stored in "COMPortSettings") on OK.
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

// Created once by the main window at start (CreateSerialNGBasicDLG).
extern TSerialNGBasicDLG *SerialNGBasicDLG;
TSerialNGBasicDLG *CreateSerialNGBasicDLG(QWidget *parent = nullptr);

// Runs the dialog on `port`; on OK applies the choices and writes them to
// `iniFile`; true when OK was pressed. A failed write throws the profile
// writer's std::runtime_error; the port has the new values by then.
bool ChangeSerialSettings(TSerialNGBasicDLG &dlg, TSerialPortNG &port, const std::string &iniFile);
