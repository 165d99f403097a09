// The Connect button and what the connection check shows in the window.
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>

#include "app/FormMain.h"
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
  // A click queued while a check pumps events must not start a second one;
  // the check's own Retry nests deliberately and does not pass here.
  static bool checking = false;
  if (checking) return;
  checking = true;
  IConnectionView *old = SetConnectionView(&FormConnectionView);
  struct TEnd {
    IConnectionView *Old;
    ~TEnd() {
      SetConnectionView(Old);
      checking = false;
    }
  } end{old};
  // A port that did not open, or whose adapter was unplugged, gets another
  // try: a device plugged in since works without restarting the program.
  if (SerialPortNG1) SerialPortNG1->SetActive(true);
  VERICheckConnection();
}
