// The Connect button and what the connection check shows in the window.
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>

#include "app/FormMain.h"
#include "base/OpState.h"
#include "serial/SerialPortNG.h"
#include "veri/Connection.h"

namespace {

class TFormConnectionView : public IConnectionView {
public:
  void SetProgress(int position) override {
    if (!FormMain) return;
    FormMain->ProgressBar1->setMaximum(100);
    FormMain->ProgressBar1->setValue(position);
    FormMain->ProgressBar1->show();
  }
  void EnableManualMove() override {
    if (FormMain) FormMain->SetConnected(true);
  }
  void Finished() override {
    if (!FormMain) return;
    FormMain->ProgressBar1->hide();
    // The button's own colours back: black text, greyed while disabled.
    FormMain->ConnectButton->setPalette(FormMain->palette());
  }
};
TFormConnectionView FormConnectionView;

}  // namespace

void TTFormMain::ConnectButtonClick() {
  // Busy while it checks: Start and the menus are off, a click queued while
  // it pumps events starts no second check, and a close waits for its end.
  // The check's own Retry nests deliberately and does not pass here.
  TBusyGuard busy(Connecting, {Idle});
  if (!busy.Entered()) return;
  IConnectionView *old = SetConnectionView(&FormConnectionView);
  struct TEnd {
    IConnectionView *Old;
    ~TEnd() { SetConnectionView(Old); }
  } end{old};
  // A port that did not open, or whose adapter was unplugged, gets another
  // try: a device plugged in since works without restarting the program.
  if (SerialPortNG1) SerialPortNG1->SetActive(true);
  VERICheckConnection();
}
