#pragma once
// "Use the simulated robot": the simulator program (kavetra-sim installed,
// veri-sim in the build) started on a pseudo-terminal of the user's own,
// $XDG_RUNTIME_DIR/kavetra-sim.pty, and ended with the program (also when
// the program dies: the child gets SIGTERM from the kernel).
#include <QObject>
#include <QString>

class QProcess;
class TSerialNGBasicDLG;

class TSimulatedRobot : public QObject {
  Q_OBJECT
public:
  explicit TSimulatedRobot(QObject *parent = nullptr);
  ~TSimulatedRobot() override;  // stops it

  // Where the simulator's pseudo-terminal is linked, per user.
  static QString LinkPath();
  // The simulator beside this program (kavetra-sim, then veri-sim), else
  // kavetra-sim on the PATH; empty when there is none.
  static QString Program();

  // Starts it unless it runs, and waits (a few seconds at most) for its
  // link; false with the reason.
  bool Start(QString &error);
  bool Running() const;
  void Stop();

private:
  QProcess *Sim = nullptr;
};

// Gives the dialog's "Use the simulated robot" button its work: start the
// simulator, put its link into the port field and close the dialog with OK
// (the caller applies and stores the settings as for any OK). A failure is
// told in a box and the dialog stays open.
void ConnectSimulatedRobot(TSerialNGBasicDLG &dlg, TSimulatedRobot &robot);
