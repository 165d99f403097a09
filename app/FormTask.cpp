// Task run handlers of the main window and its wait label and bar.
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

#include "app/FormMain.h"
#include "recipes/Definitions.h"
#include "tasks/Estimate.h"
#include "tasks/Process.h"
#include "tasks/TaskRun.h"

namespace {

// The main window's wait label and bar as process execution sees them.
class TFormWaitView : public IWaitView {
public:
  explicit TFormWaitView(TTFormMain *form) : Form(form) {}
  void ShowWait(const std::string &label, int max) override {
    Form->WaitLabel->setText(QString::fromStdString(label));
    Form->WaitBar->setMaximum(max > 0 ? max : 1);
    Form->WaitBar->setValue(0);
    Form->WaitLabel->show();
    Form->WaitBar->show();
  }
  void SetWaitPosition(int position) override {
    if (position <= Form->WaitBar->maximum()) Form->WaitBar->setValue(position);
  }
  void HideWait() override {
    Form->WaitLabel->hide();
    Form->WaitBar->hide();
  }

private:
  TTFormMain *Form;
};

}  // namespace

void TTFormMain::TaskStartClick() { RunShownTask(nullptr); }

void TTFormMain::StartTaskFromOutside(uint8_t task, const std::string &labelsOperator) {
  // The screen shows which task runs; the labels say who started it.
  CurTask = task;
  UpdateTaskEntry(task);
  TRunLabels labels;
  labels.Operator = labelsOperator;
  RunShownTask(&labels);
}

void TTFormMain::RunShownTask(const TRunLabels *labels) {
  TFormWaitView view(this);
  // Elapsed and remaining time in the status bar, refreshed each second of
  // the run; the run's own event processing lets the timer fire.
  auto *panel = statusBar()->findChild<QLabel *>("StatusPanel0");
  QTimer progress;
  progress.setInterval(1000);
  connect(&progress, &QTimer::timeout, this,
          [panel] { panel->setText(QString::fromStdString(EstimateStatusText())); });
  if (panel) progress.start();
  ::TaskStart(&view, labels);
  progress.stop();
  if (panel) panel->clear();
}

void TTFormMain::TaskStopClick() { ::TaskStop(); }

void TTFormMain::CheckSyntaxClick() { ::CheckSyntax(); }
