#pragma once
// The main window: panels, menu, report log and the 5 ms display timer.
// It is also the host of the logic (report log, operator questions, event
// processing, clock) for as long as it exists.
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>

#include "base/Host.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;
class QDialog;
class TReportWindow;
class TRunRecordWindow;
class TSERSIOPanel;
class TSERSUtilities;
class TSerialNGBasicDLG;
class TSimulatedRobot;
struct TRunLabels;

// A label that reports double-clicks (the axis letters of the displays).
class TClickLabel : public QLabel {
  Q_OBJECT
public:
  using QLabel::QLabel;
signals:
  void doubleClicked();

protected:
  void mouseDoubleClickEvent(QMouseEvent *event) override;
};

class TTFormMain : public QMainWindow, public IOperator, public IEventPump, public IClock {
  Q_OBJECT
public:
  // withMachine false: no start-up and shut-down (tests of the window alone).
  explicit TTFormMain(bool withMachine = true, QWidget *parent = nullptr);
  ~TTFormMain() override;

  // IOperator / IEventPump / IClock
  unsigned Ask(TMsgKind kind, const std::string &text, unsigned buttons, unsigned closed,
               unsigned ending) override;
  bool AskTexts(const std::string &title, std::vector<std::pair<std::string, std::string>> &fields) override;
  void ProcessMessages() override;
  uint32_t GetTickCount() override;
  void Sleep(uint32_t ms) override;
  int64_t WallMs() override;

  // Enables and disables the jog pad, editors, task buttons and menu items
  // from the operation state and the connection. Runs on every state change.
  void UpdateControls();
  // The connection check reports here whether the jog pad may be used.
  void SetConnected(bool connected);
  bool IsConnected() const { return Connected; }
  // The task panel decides whether Start is offered while idle.
  void SetTaskStartAllowed(bool allowed);
  // A run started by lab automation: task `task` shown and run with the operator label given.
  void StartTaskFromOutside(uint8_t task, const std::string &labelsOperator);
  void RunShownTask(const TRunLabels *labels);

  // The program is told to end (signal): open questions are answered with
  // what moves nothing, as are those asked from now on; then the window closes.
  void EndProgram();
  // Two-motor machine: Y controls hidden, take-over buttons renamed.
  void AdaptToTwoMotors();

  // Recipe editors (FormRecipes.cpp): the panels shown from the tables.
  void UpdatePosEntry(uint8_t i);
  void UpdatePositionList();
  void UpdateProcEntry(uint8_t i);
  void UpdateProcessList();
  void UpdateChannelList();
  void UpdateTaskEntry(uint8_t i);
  void UpdateTaskList();
  void UpdateSettingsEntry();
  // Start-up: shown slots back to 0, then every editor and list filled.
  void RefreshEditors();
  // The four dialogs of the menu, made hidden in this order once the
  // start-up has loaded the channel tables (the output panel's range).
  void CreateDialogs();

  // Panels
  QGroupBox *GroupBoxPosition, *GroupBoxProcess, *GroupBoxTask, *GroupBoxSettings;
  QGroupBox *GroupBoxReport, *GroupBoxExecute, *GroupBoxX, *GroupBoxY, *GroupBoxZ, *GroupBoxV;
  QGroupBox *GroupBoxManualMove, *GroupBox1;
  // Position panel
  QLineEdit *PositionNr, *PosNameEdit, *PosXEdit, *PosYEdit;
  QSpinBox *PosUpDown;
  QLabel *PosXLabel, *PosYLabel;
  QPushButton *PosAdd, *PosDel, *PosGetXY, *PosGotoXY;
  // Process panel
  QLineEdit *ProcessNr, *ProcNameEdit, *UpperPosEdit, *InSpeedEdit, *InTimeEdit;
  QLineEdit *LowPosEdit, *OutSpeedEdit, *OutTimeEdit, *NoTunksEdit;
  QSpinBox *ProcUpDown;
  QComboBox *PositionSelect, *ChModeSelect, *ChNoSelect;
  QPushButton *GetZUpper, *GetZLower, *GetInSpeed, *GetOutSpeed, *ProcAdd, *ProcDel;
  // Task panel
  QLineEdit *TaskNr, *TaskNameEdit, *TaskEdit;
  QSpinBox *TaskUpDown;
  QComboBox *ProcessSelect;
  QPushButton *BraButton, *PlusButton, *KetButton, *StarButton, *TaskAdd, *TaskDel, *CheckSyntax;
  // Settings panel
  QLineEdit *HomeXEdit, *HomeYEdit, *HomeZEdit, *MasterZEdit, *MasterSpeedEdit;
  QLabel *HomeXLabel, *HomeYLabel, *HomeZLabel;
  QPushButton *GetXYZ, *GetMasterZ, *GetMasterSpeed;
  // Report, task run
  TReportWindow *ReportWindow;
  QPushButton *TaskStart, *TaskStop;
  QLabel *WaitLabel;
  QProgressBar *WaitBar;
  // Displays: axis letter (double-click), value, unit
  TClickLabel *XLabel, *YLabel, *ZLabel, *VLabel;
  QLabel *ShowXPos, *ShowYPos, *ShowZPos, *ShowV, *XUnit, *YUnit, *ZUnit, *VUnit;
  // Jog pad
  QPushButton *HomePos, *YPlus, *ZMinus, *XMinus, *ManualStop, *XPlus;
  QPushButton *ReferencePos, *YMinus, *ZPlus, *VMinus, *VStandard, *VPlus;
  // Bottom right
  QPushButton *ConnectButton, *BitBtn1;
  QProgressBar *ProgressBar1;
  // Menu items
  QAction *New1, *Save1, *SaveAs1, *Open1, *OpenDialog1, *AddFile1, *Exit1;
  QAction *Communication1, *VERI1, *DigitalOutput1, *RunRecord1, *RemoteAccess1, *LabAutomation1, *About1;
  QTimer *ShowPos;
  // Null until CreateDialogs. Top-level and modeless, never above the main
  // window: opened while something may move, its STOP stays in reach, and
  // no nested event loop holds the move's own waiting.
  TSerialNGBasicDLG *SerialNGBasicDLG = nullptr;
  QDialog *AboutBox = nullptr;
  TSERSIOPanel *SERSIOPanel = nullptr;
  TSERSUtilities *SERSUtilities = nullptr;

public slots:
  // Menu
  void New1Click();
  void SaveClick(QObject *sender);
  void OpenClick(QObject *sender);
  void LoadDefinitionsFrom(const std::string &path, bool append);  // and the editors refreshed
  TRunRecordWindow *RunRecordWindow() const { return RunRecordView; }  // null until first shown
  void Exit1Click();
  void ChangeSerialSettings();
  void VERI1Click();
  void DigitalOutput1Click();
  void RunRecord1Click();
  void About1Click();
  // Position panel
  void PosUpDownClick();
  void PosNameEditChange();
  void PosNameEditExit();
  void PosXEditChange();
  void PosYEditChange();
  void PosAddClick();
  void PosDelClick();
  void PosGetXYClick();
  void PosGotoXYClick();
  // Process panel
  void ProcUpDownClick();
  void ProcNameEditChange();
  void ProcNameEditExit();
  void PositionSelectChange();
  void UpperPosEditChange();
  void InSpeedEditChange();
  void InTimeEditChange();
  void LowPosEditChange();
  void OutSpeedEditChange();
  void OutTimeEditChange();
  void GetZUpperClick();
  void GetZLowerClick();
  void GetInSpeedClick();
  void GetOutSpeedClick();
  void ChModeSelectChange();
  void ChNoSelectChange();
  void NoTunksEditChange();
  void ProcAddClick();
  void ProcDelClick();
  // Task panel; ProcessSelectChange also serves the four builder buttons
  // and the panel's background, told apart by `sender`.
  void TaskUpDownClick();
  void TaskNameEditChange();
  void TaskNameEditExit();
  void TaskEditChange();
  void ProcessSelectChange(QObject *sender);
  void TaskAddClick();
  void TaskDelClick();
  void CheckSyntaxClick();
  // Settings panel
  void HomeXEditChange();
  void HomeYEditChange();
  void HomeZEditChange();
  void MasterZEditChange();
  void MasterSpeedEditChange();
  void GetXYZClick();
  void GetMasterZClick();
  void GetMasterSpeedClick();
  // Task run
  void TaskStartClick();
  void TaskStopClick();
  // Jog pad and displays; XYZLabelClick is told the axis by `sender`.
  void XPlusClick();
  void XMinusClick();
  void YPlusClick();
  void YMinusClick();
  void ZPlusClick();
  void ZMinusClick();
  void ManualStopClick();
  void HomePosClick();
  void ReferencePosClick();
  void VStandardClick();
  void VPlusClick();
  void VMinusClick();
  void XYZLabelClick(QObject *sender);
  void ConnectButtonClick();
  void ShowPosTimer();
  // Restarts the display timer when something waits to be shown.
  void WakeDisplay();

protected:
  // Closing while the machine is busy stops it first and closes once idle.
  void closeEvent(QCloseEvent *event) override;
  void FormCreate();   // start-up sequence
  void FormDestroy();  // shut-down sequence, once

private:
  void BuildPanels();  // FormLayout.cpp
  void BuildPositionPanel();
  void BuildProcessPanel();
  void BuildTaskPanel();
  void BuildSettingsPanel();
  void BuildExecutePanel();
  void BuildDisplays();
  void BuildJogPad();
  void BuildBottomBox();
  void BuildStatusBar();
  void SerialSettingsAccepted();  // OK in "Serial Basic Settings"
  void BuildMenu();        // FormMenu.cpp
  void ConnectHandlers();  // FormMenu.cpp

  bool WithMachine;
  bool ShutDownDone = false;
  bool CloseWhenIdle = false;
  bool Ending = false;  // closing or told to end: no more choices asked
  bool Connected = false;
  bool TaskStartAllowed = true;
  TRunRecordWindow *RunRecordView = nullptr;  // made when first asked for
  // Started by "Use the simulated robot", or at start when the port is its
  // link; a child, so it ends after the shut-down has closed the port.
  TSimulatedRobot *Simulator;

public:
  // The simulator's link named as the port: start it (told in the log).
  void StartSimulatorFor(const std::string &port);
  QElapsedTimer Clock;
};

// The one main window while it exists, else null.
extern TTFormMain *FormMain;
