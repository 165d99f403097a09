#include "app/RunRecordWindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

QString RecordSummary(const std::vector<TRecordRow> &rows, const std::string &path, bool running) {
  QStringList parts;
  parts << (path.empty() ? QString("(no file)") : QFileInfo(QString::fromStdString(path)).fileName());
  const TRecordRow *end = nullptr, *fault = nullptr;
  for (const TRecordRow &r : rows) {
    if (r.Mode == RecordEnd) end = &r;
    else if (!fault && r.End != EndDone) fault = &r;
  }
  if (running) parts << "run in progress";
  else if (end) {
    QString e = "run ended: " + QString::fromStdString(end->End);
    if (end->TopAt >= 0) e += QString(" after %1 s").arg(end->TopAt / 1000.0, 0, 'f', 2);
    parts << e;
    if (!end->Seen.empty()) parts << QString::fromStdString(end->Seen);  // the estimate's line
  } else if (rows.empty()) parts << "no run recorded yet";
  else parts << "no end row: the run did not close its record";
  if (fault) {
    const QString what =
        fault->Mode == RecordTravel ? QString("travel to %1").arg(QString::fromStdString(fault->Position))
        : fault->Mode == RecordFast ? QString("%1 fast dips").arg(QString::fromStdString(fault->Process))
                                    : QString("%1 dip %2 of %3")
                                          .arg(QString::fromStdString(fault->Process))
                                          .arg(fault->Dip)
                                          .arg(fault->Dips);
    parts << QString("first fault: %1: %2")
                 .arg(what, QString::fromStdString(fault->End.empty() ? "?" : fault->End));
  }
  return parts.join("  ·  ");
}

TRunRecordWindow::TRunRecordWindow(QWidget *parent) : QDialog(parent) {
  setObjectName("RunRecordWindow");
  setWindowTitle("Run record");
  setModal(false);
  setFont(QFont("Arial", 9));
  resize(900, 520);

  OpenButton = new QPushButton("Open...", this);
  OpenButton->setObjectName("OpenRecord");
  OpenButton->setAutoDefault(false);
  CurrentButton = new QPushButton("Current run", this);
  CurrentButton->setObjectName("CurrentRun");
  CurrentButton->setAutoDefault(false);
  Plot = new TRunRecordPlot(this);
  Info = new QLabel(this);
  Info->setObjectName("RecordInfo");
  Info->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto *buttons = new QHBoxLayout;
  buttons->addWidget(OpenButton);
  buttons->addWidget(CurrentButton);
  buttons->addStretch();
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(Plot, 1);
  layout->addWidget(Info);

  // Live reads come faster than anyone can look; a few pictures a second do.
  LiveTimer = new QTimer(this);
  LiveTimer->setInterval(200);
  connect(LiveTimer, &QTimer::timeout, this, [this] {
    Plot->update();
    if (!RunRecorder().Active()) Refresh();
  });
  connect(OpenButton, &QPushButton::clicked, this, &TRunRecordWindow::OpenClick);
  connect(CurrentButton, &QPushButton::clicked, this, &TRunRecordWindow::FollowRecorder);
  FollowRecorder();
}

TRunRecordWindow::~TRunRecordWindow() { Listen(false); }

void TRunRecordWindow::FollowRecorder() {
  Follow = true;
  Opened.clear();
  OpenedPath.clear();
  Listen(isVisible());
  Refresh();
}

void TRunRecordWindow::ShowRows(std::vector<TRecordRow> rows, const std::string &path) {
  Follow = false;
  Listen(false);
  Opened = std::move(rows);
  OpenedPath = path;
  Refresh();
}

bool TRunRecordWindow::OpenRecord(const std::string &path) {
  std::vector<TRecordRow> rows;
  std::string error;
  if (!ReadRunRecord(path, rows, error)) {
    // Not modal to the program: a run waiting below this window goes on.
    auto *box = new QMessageBox(QMessageBox::Warning, "Run record",
                                QString("The run record \"%1\" cannot be read: %2")
                                    .arg(QString::fromStdString(path), QString::fromStdString(error)),
                                QMessageBox::Ok, this);
    box->setObjectName("RecordError");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return false;
  }
  ShowRows(std::move(rows), path);
  return true;
}

void TRunRecordWindow::OpenClick() {
  QDir runs = QDir::current();
  const QString start = runs.exists("runs") ? runs.filePath("runs") : runs.path();
  // open(), not exec(): a task run must not wait for the operator's choice.
  auto *dialog = new QFileDialog(this, "Open a run record", start, "Run records (*.csv);;All files (*)");
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QFileDialog::fileSelected, this,
          [this](const QString &file) { OpenRecord(file.toStdString()); });
  dialog->open();
}

void TRunRecordWindow::Listen(bool on) {
  // The recorder has one listener; it is ours only while we follow and show.
  if (on == Listening) return;
  Listening = on;
  RunRecorder().SetListener(on ? TRunRecorder::TListener([this] { Changed(); }) : nullptr);
}

void TRunRecordWindow::Changed() {
  // Called from inside the run (every row, every read): draw later, once.
  Plot->update();
  if (RefreshDue) return;
  RefreshDue = true;
  QTimer::singleShot(0, this, [this] {
    RefreshDue = false;
    Refresh();
  });
}

void TRunRecordWindow::Refresh() {
  const TRunRecorder &rec = RunRecorder();
  if (Follow) {
    Plot->SetRows(&rec.Rows(), rec.Active() ? &rec.LiveZ() : nullptr);
    Info->setText(RecordSummary(rec.Rows(), rec.Path(), rec.Active()));
  } else {
    Plot->SetRows(&Opened, nullptr);
    Info->setText(RecordSummary(Opened, OpenedPath, false));
  }
  UpdateLive();
}

void TRunRecordWindow::UpdateLive() {
  const bool live = isVisible() && Follow && RunRecorder().Active();
  if (live && !LiveTimer->isActive()) LiveTimer->start();
  if (!live) LiveTimer->stop();
}

void TRunRecordWindow::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  Listen(Follow);
  Refresh();
}

void TRunRecordWindow::hideEvent(QHideEvent *event) {
  Listen(false);
  LiveTimer->stop();
  QDialog::hideEvent(event);
}
