#pragma once
// "Serial Basic Settings": the six line parameters of the port, shown from
// the port on opening and set on it (and stored in "COMPortSettings") on OK.
#include <string>

#include <QDialog>

class QCheckBox;
class QComboBox;
class QPushButton;
class TSerialPortNG;

class TSerialNGBasicDLG : public QDialog {
  Q_OBJECT
public:
  explicit TSerialNGBasicDLG(QWidget *parent = nullptr);
  QComboBox *CBPort, *CBBaud, *CBData, *CBStop, *CBParity, *CBFlow;
  QCheckBox *CBFastReplies;  // "Replies end at the line end"
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
