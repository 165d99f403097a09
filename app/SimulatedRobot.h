#pragma once
// "Use the simulated robot": the simulator program (kavetra-sim installed,
// veri-sim in the build) started on a pseudo-terminal of the user's own,
// $XDG_RUNTIME_DIR/kavetra-sim.pty (without it /tmp/kavetra-<uid>, 0700),
// and ended with the program (also when the program dies: the child gets
// SIGTERM from the kernel). One program of the user at a time runs it.
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
  void StopSimulator();
  QProcess *Sim = nullptr;
  int Lock = -1;  // the link's lock file, held while our simulator runs
};

// Makes `dir` (mode 0700) unless it is there; false with the reason unless
// it is a folder, not a link, of this user with mode 0700.
bool PrivateFolder(const QString &dir, QString &error);

// Gives the dialog's "Use the simulated robot" button its work: start the
// simulator, put its link into the port field and close the dialog with OK
// (the caller applies and stores the settings as for any OK). A failure is
// told in a box and the dialog stays open.
void ConnectSimulatedRobot(TSerialNGBasicDLG &dlg, TSimulatedRobot &robot);
