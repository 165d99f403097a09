#include "app/RunRecordWindow.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QHBoxLayout>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>
#include <cmath>
#include <functional>
#include <memory>

#include "app/RunRecordPlot.h"
#include "base/TextFile.h"

struct TRunRecordWindow::TBundles : std::map<QString, TDipBundle> {};

struct TRunRecordWindow::TComparison {
  std::map<QString, TDipBundle> Bundles;
  std::vector<TRecordRow> Rows;  // its dips without their Z reads: the bundles hold what is drawn
  QString Name, Line;            // its file's name; its line in the export's title
};

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
    if (end->TopAt >= 0) e += " after " + ClockText(double(end->TopAt));
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

namespace {
// A warning of the window, not modal to the program: a run waiting below it goes on.
void Warn(QWidget *window, const char *name, const QString &text) {
  auto *box = new QMessageBox(QMessageBox::Warning, "Run record", text, QMessageBox::Ok, window);
  box->setObjectName(name);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

// Live news is drawn at most this often: a picture costs the run's thread
// a few ms, which must not land on many of a dip's waits.
constexpr int LiveIntervalMs = 1000;

QPushButton *Button(const char *name, const QString &text, QWidget *parent) {
  auto *b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

// A view of its own over a chart (the chart is the view's).
TZoomView *View(const char *name, QWidget *parent) {
  auto *v = new TZoomView(new QChart, parent);
  v->setObjectName(name);
  return v;
}

// Where the run began, from the record's file name; empty when it has none.
QString RunDate(const std::string &path) {
  static const QRegularExpression stamp("^(\\d{4}-\\d\\d-\\d\\d)_(\\d\\d)-(\\d\\d)-(\\d\\d)_");
  const auto m = stamp.match(QFileInfo(QString::fromStdString(path)).fileName());
  return m.hasMatch() ? QString("%1 %2:%3:%4").arg(m.captured(1), m.captured(2), m.captured(3), m.captured(4))
                      : QString();
}

// The sample label the run was started with, from the description beside
// the record; empty when there is none.
QString RunSample(const std::string &path) {
  std::string text, error;
  if (path.size() < 4 || !ReadWholeFile(path.substr(0, path.size() - 4) + ".about.ini", text, error)) return {};
  const size_t at = text.find("\nSample=");
  if (at == std::string::npos) return {};
  const size_t end = text.find('\n', at + 1);
  return QString::fromStdString(text.substr(at + 8, end == std::string::npos ? end : end - at - 8));
}

// The file list without the reads files beside the records.
class TNoReadsFiles : public QSortFilterProxyModel {
public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
  bool filterAcceptsRow(int row, const QModelIndex &parent) const override {
    return !sourceModel()->index(row, 0, parent).data().toString().endsWith(".reads.csv", Qt::CaseInsensitive);
  }
};

// A file dialog over the run records (the "runs" folder if there is one);
// `chosen` gets the file. open(), not exec(): a task run must not wait for
// the operator's choice.
void RecordDialog(QWidget *parent, const QString &title,
                  const std::function<void(const std::string &)> &chosen) {
  QDir runs = QDir::current();
  const QString start = runs.exists("runs") ? runs.filePath("runs") : runs.path();
  auto *dialog = new QFileDialog(parent, title, start, "Run records (*.csv);;All files (*)");
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  // A record's ".reads.csv" companion is no record: not offered.
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setProxyModel(new TNoReadsFiles(dialog));
  QObject::connect(dialog, &QFileDialog::fileSelected, parent,
                   [chosen](const QString &file) { chosen(file.toStdString()); });
  dialog->open();
}

// The task the rows were recorded for; empty when none is named.
QString RecordTask(const std::vector<TRecordRow> &rows) {
  for (const TRecordRow &r : rows)
    if (!r.Task.empty()) return QString::fromStdString(r.Task);
  return {};
}

void PaintTitle(QPainter &p, const TTitleBlock &block, const QStringList &title) {
  p.setPen(Qt::black);
  for (int i = 0; i < title.size(); ++i) {
    p.setFont(i ? block.Small : block.Big);
    p.drawText(block.Rects[i], Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, title[i]);
  }
}

// Writes the picture `paint` draws at `size` as `kind` says; false when the
// file cannot be written.
bool WritePicture(const QString &path, const QString &kind, QSizeF size, const QStringList &title,
                  const std::function<void(QPainter &)> &paint) {
  QPainter p;
  if (kind == "png") {
    const double scale = 1.5;  // sharp enough for a printed page
    QImage image((size * scale).toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    p.begin(&image);
    p.scale(scale, scale);
    paint(p);
    p.end();
    return image.save(path, "PNG");
  }
  if (kind == "svg") {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size.toSize());
    svg.setViewBox(QRectF(QPointF(0, 0), size));
    // The page measures what the picture measured on this screen.
    const QScreen *screen = QGuiApplication::primaryScreen();
    svg.setResolution(screen ? qRound(screen->logicalDotsPerInch()) : 96);
    svg.setTitle(title.front());
    svg.setDescription(title.mid(1).join('\n'));
    if (!p.begin(&svg)) return false;
    paint(p);
    return p.end();
  }
  QPdfWriter pdf(path);
  pdf.setTitle(title.front());
  pdf.setCreator(QString("Kavetra %1").arg(KV_VERSION));
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
  pdf.setResolution(300);
  if (!p.begin(&pdf)) return false;
  const QRect page = pdf.pageLayout().paintRectPixels(pdf.resolution());
  const double scale = std::min(page.width() / size.width(), page.height() / size.height());
  p.scale(scale, scale);
  paint(p);
  return p.end();
}

}  // namespace

TTitleBlock LayOutTitle(const QStringList &title, double width) {
  TTitleBlock b;
  // Sizes in the picture's own units, whatever the device's resolution.
  b.Big = QFont("Arial"), b.Small = QFont("Arial");
  b.Big.setPixelSize(20);
  b.Big.setBold(true);
  b.Small.setPixelSize(13);
  double y = 6;
  for (int i = 0; i < title.size(); ++i) {
    // Each line wrapped at word ends within the margins, as tall as it needs.
    const QRectF room(12, y, width - 24, 1e6);
    const QRectF used = QFontMetricsF(i ? b.Small : b.Big)
                            .boundingRect(room, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, title[i]);
    b.Rects << QRectF(room.left(), y, room.width(), used.height());
    y += used.height() + (i ? 3 : 8);
  }
  b.Height = y + 6;
  return b;
}

TRunRecordWindow::TRunRecordWindow(QWidget *parent) : QWidget(parent, Qt::Window) {
  setObjectName("RunRecordWindow");
  Bundles = std::make_unique<TBundles>();
  setWindowTitle("Run record");
  // Closing the main window ends the program even while this one is open.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFont(QFont("Arial", 9));
  resize(980, 640);

  OpenButton = Button("OpenRecord", "Open...", this);
  CompareButton = Button("CompareRecord", "Compare...", this);
  CompareButton->setToolTip("Open a second run record as comparison: its dips and holds beside these");
  DropCompareButton = Button("DropComparison", "No comparison", this);
  DropCompareButton->setToolTip("Drop the run record opened as comparison");
  DropCompareButton->hide();
  CurrentButton = Button("CurrentRun", "Current run", this);
  WholeButton = Button("WholeRun", "Whole run", this);
  WholeButton->setToolTip(
      "Back to the whole run (also: double-click, Home). Zoom: wheel (Ctrl: both axes) "
      "or drag a box; pan: middle button, Shift+drag or the arrow keys.");
  ExportButton = Button("ExportRecord", "Export...", this);
  ExportButton->setToolTip("PNG, SVG or PDF with a title block (Ctrl+E)");
  DataButton = Button("ExportData", "Export data...", this);
  DataButton->setToolTip("The rows and Z reads of the visible time range as CSV");
  ProcessList = new QComboBox(this);
  ProcessList->setObjectName("ProcessList");
  ProcessList->setMinimumContentsLength(12);

  RunView = View("RunChart", this);
  Run = new TRunChart(RunView->chart());
  OverlayView = View("OverlayChart", this);
  HoldsView = View("HoldsChart", this);
  Tabs = new QTabWidget(this);
  Tabs->addTab(RunView, "Run");
  Tabs->addTab(OverlayView, "Dips overlaid");
  Tabs->addTab(HoldsView, "Holds and speed");
  ReadOut = new QLabel(this);
  ReadOut->setObjectName("ReadOut");
  ReadOut->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Info = new QLabel(this);
  Info->setObjectName("RecordInfo");
  Info->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Info->setWordWrap(true);  // a long summary must not widen the window off the screen

  auto *buttons = new QHBoxLayout;
  for (QWidget *w : {static_cast<QWidget *>(OpenButton), static_cast<QWidget *>(CompareButton),
                     static_cast<QWidget *>(CurrentButton), static_cast<QWidget *>(WholeButton),
                     static_cast<QWidget *>(ExportButton), static_cast<QWidget *>(DataButton)})
    buttons->addWidget(w);
  buttons->addStretch();
  buttons->addWidget(new QLabel("Process:", this));
  buttons->addWidget(ProcessList);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(Tabs, 1);
  layout->addWidget(ReadOut);
  // The comparison's drop button beside the line naming it, there only then.
  auto *info = new QHBoxLayout;
  info->addWidget(Info, 1);
  info->addWidget(DropCompareButton, 0, Qt::AlignTop);
  layout->addLayout(info);

  LiveTimer = new QTimer(this);
  LiveTimer->setInterval(LiveIntervalMs);
  connect(LiveTimer, &QTimer::timeout, this, &TRunRecordWindow::DrawNews);
  connect(OpenButton, &QPushButton::clicked, this, &TRunRecordWindow::OpenClick);
  connect(CompareButton, &QPushButton::clicked, this, &TRunRecordWindow::CompareClick);
  connect(DropCompareButton, &QPushButton::clicked, this, &TRunRecordWindow::DropComparison);
  connect(CurrentButton, &QPushButton::clicked, this, &TRunRecordWindow::FollowRecorder);
  connect(ExportButton, &QPushButton::clicked, this, &TRunRecordWindow::ExportClick);
  connect(DataButton, &QPushButton::clicked, this, &TRunRecordWindow::DataClick);
  connect(WholeButton, &QPushButton::clicked, this,
          [this] { static_cast<TZoomView *>(Tabs->currentWidget())->Whole(); });
  connect(RunView, &TZoomView::WholeAsked, this, &TRunRecordWindow::FitRun);
  connect(RunView, &TZoomView::Settled, this, [this] { Run->RoundTime(); });
  RunView->StepTime = [this](int steps) { Run->StepTime(steps); };
  connect(OverlayView, &TZoomView::WholeAsked, this, [this] {
    DetailStale = true;
    RefreshDetail();
  });
  connect(HoldsView, &TZoomView::WholeAsked, this, [this] {
    DetailStale = true;
    RefreshDetail();
  });
  connect(RunView, &TZoomView::Hover, this, &TRunRecordWindow::ShowRunHover);
  for (TZoomView *v : {RunView, OverlayView, HoldsView})
    connect(v, &TZoomView::Left, this, [this] {
      ReadOut->clear();
      QToolTip::hideText();
    });
  connect(Tabs, &QTabWidget::currentChanged, this, [this] { RefreshDetail(); });
  connect(ProcessList, &QComboBox::currentTextChanged, this, [this] {
    DetailStale = true;
    RefreshDetail();
  });
  new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);
  new QShortcut(QKeySequence("Ctrl+E"), this, this, &TRunRecordWindow::ExportClick);
  new QShortcut(QKeySequence("Ctrl+O"), this, this, &TRunRecordWindow::OpenClick);
  FollowRecorder();
}

TRunRecordWindow::~TRunRecordWindow() {
  Listen(false);
  delete Run;
}

const std::vector<TRecordRow> &TRunRecordWindow::Rows() const {
  return Follow ? RunRecorder().Rows() : Opened;
}

std::string TRunRecordWindow::Path() const { return Follow ? RunRecorder().Path() : OpenedPath; }

void TRunRecordWindow::FollowRecorder() {
  Follow = true;
  OldReadsOf.clear();
  Opened.clear();
  OpenedPath.clear();
  FedRows = nullptr;
  RunView->Whole();
  Listen(isVisible());
  DetailStale = true;
  Refresh();
}

void TRunRecordWindow::ShowRows(std::vector<TRecordRow> rows, const std::string &path) {
  Follow = false;
  Listen(false);
  Opened = std::move(rows);
  OpenedPath = path;
  FedRows = nullptr;
  RunView->Whole();
  DetailStale = true;
  Refresh();
}

bool TRunRecordWindow::OpenRecord(const std::string &path) {
  std::vector<TRecordRow> rows;
  std::string error;
  const bool ok = ReadRunRecord(path, rows, error);
  return TakeRecord(ok, std::move(rows), path, error, false);
}

bool TRunRecordWindow::TakeRecord(bool ok, std::vector<TRecordRow> rows, const std::string &path,
                                  const std::string &error, bool asComparison) {
  if (!ok) {
    CannotRead(path, error);
    return false;
  }
  if (asComparison) SetComparison(std::move(rows), path);
  else ShowRows(std::move(rows), path);
  return true;
}

namespace {
struct TRead {
  bool Ok = false;
  std::vector<TRecordRow> Rows;
  std::string Error;
};

// A record read on a thread of its own; `done` runs on the window's thread
// when it is read, and not at all when the window is gone by then.
void ReadBeside(QObject *window, const std::string &path, std::function<void(TRead &)> done) {
  auto read = std::make_shared<TRead>();
  QThread *thread = QThread::create([read, path] { read->Ok = ReadRunRecord(path, read->Rows, read->Error); });
  QObject::connect(thread, &QThread::finished, window, [read, done] { done(*read); });
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  thread->start();
}
QString OlderReadsError(const std::string &why) {
  return QString("the older reads cannot be read (%1)").arg(QString::fromStdString(why));
}
}  // namespace

void TRunRecordWindow::OpenInBackground(const std::string &path, bool asComparison) {
  if (ReadingFile) return;
  ReadingFile = true;
  for (QPushButton *b : {OpenButton, CompareButton}) b->setEnabled(false);
  ReadOut->setText("Reading " + QString::fromStdString(path) + " ...");
  ReadBeside(this, path, [this, path, asComparison](TRead &read) {
    ReadingFile = false;
    for (QPushButton *b : {OpenButton, CompareButton}) b->setEnabled(true);
    ReadOut->clear();
    TakeRecord(read.Ok, std::move(read.Rows), path, read.Error, asComparison);
  });
}

void TRunRecordWindow::CannotRead(const std::string &path, const std::string &error) {
  Warn(this, "RecordError",
       QString("The run record \"%1\" cannot be read: %2").arg(QString::fromStdString(path), QString::fromStdString(error)));
}

void TRunRecordWindow::OpenClick() {
  RecordDialog(this, "Open a run record", [this](const std::string &file) { OpenInBackground(file, false); });
}

void TRunRecordWindow::CompareClick() {
  RecordDialog(this, "Open a run record as comparison",
               [this](const std::string &file) { OpenInBackground(file, true); });
}

bool TRunRecordWindow::CompareRecord(const std::string &path) {
  std::vector<TRecordRow> rows;
  std::string error;
  const bool ok = ReadRunRecord(path, rows, error);
  return TakeRecord(ok, std::move(rows), path, error, true);
}

void TRunRecordWindow::SetComparison(std::vector<TRecordRow> rows, const std::string &path) {
  // Its bundles now, once: following a live run must not rebuild them.
  auto c = std::make_unique<TComparison>();
  c->Bundles = BundleDips(rows);
  c->Name = QFileInfo(QString::fromStdString(path)).fileName();
  const QString task = RecordTask(rows), sample = RunSample(path), date = RunDate(path);
  c->Line = "comparison: task " + (task.isEmpty() ? QString("(none)") : task) +
            (sample.isEmpty() ? QString() : ", sample " + sample) + "  ·  " +
            (date.isEmpty() ? QString("date not known") : "run began " + date) + "  ·  " +
            RecordSummary(rows, path, false);
  // What the holds chart needs: the dips, without their reads and outputs.
  for (TRecordRow &r : rows)
    if (r.Mode == RecordStepByStep) {
      std::vector<TReading>().swap(r.ZReads);
      std::string().swap(r.Outputs);
      c->Rows.push_back(std::move(r));
    }
  c->Rows.shrink_to_fit();
  Compared = std::move(c);
  ComparisonChanged();
}

void TRunRecordWindow::DropComparison() {
  Compared.reset();
  ComparisonChanged();
}

void TRunRecordWindow::ComparisonChanged() {
  DropCompareButton->setVisible(bool(Compared));
  // A zoomed chart keeps its series: back to the whole, refilled.
  for (TZoomView *v : {OverlayView, HoldsView})
    if (v->Zoomed()) v->Whole();
  DetailStale = true;
  Refresh();
}

const std::vector<TRecordRow> *TRunRecordWindow::ComparedRows() const {
  return Compared ? &Compared->Rows : nullptr;
}

const TDipBundle *TRunRecordWindow::ComparedDips(const QString &process) const {
  if (!Compared) return nullptr;
  const auto it = Compared->Bundles.find(process);
  return it == Compared->Bundles.end() ? nullptr : &it->second;
}

void TRunRecordWindow::ExportClick() {
  QString name = QFileInfo(QString::fromStdString(Path())).completeBaseName();
  if (name.isEmpty()) name = "run-record";
  // The folder used last, else the user's documents (not the program's hidden working folder).
  static QString lastFolder;
  const QString folder =
      lastFolder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) : lastFolder;
  auto *dialog = new QFileDialog(this, "Export the run record", QDir(folder).filePath(name + ".png"),
                                 "PNG picture (*.png);;SVG drawing (*.svg);;PDF page (*.pdf)");
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &file) {
    QString error;
    lastFolder = QFileInfo(file).absolutePath();
    if (Export(file, error)) {
      ReadOut->setText("Exported to " + file);
      return;
    }
    Warn(this, "ExportError", QString("The picture \"%1\" cannot be written: %2").arg(file, error));
  });
  dialog->open();
}

void TRunRecordWindow::DataClick() {
  QString name = QFileInfo(QString::fromStdString(Path())).completeBaseName();
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  auto *dialog = new QFileDialog(this, "Export the data shown",
                                 QDir(folder).filePath((name.isEmpty() ? "run-record" : name) + "-data.csv"),
                                 "CSV table (*.csv)");
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &file) {
    auto write = [this, file](const TRead *read) {
      QString error;
      if (read && !read->Ok) error = OlderReadsError(read->Error);
      else if (ExportData(file, error, read ? &read->Rows : nullptr)) return ReadOut->setText("Exported to " + file);
      Warn(this, "ExportError", QString("The table \"%1\" cannot be written: %2").arg(file, error));
    };
    // A live run's older reads are on disk only: read beside the window.
    if (!Follow || RunRecorder().ReadsKeptFrom() == 0) return write(nullptr);
    ReadOut->setText("Reading the older reads ...");
    ReadBeside(this, Path(), [write](TRead &read) { write(&read); });
  });
  dialog->open();
}

bool TRunRecordWindow::ExportData(const QString &path, QString &error, const std::vector<TRecordRow> *onDisk) const {
  const double t0 = RecordMs(double(Run->Time->min().toMSecsSinceEpoch())),
               t1 = RecordMs(double(Run->Time->max().toMSecsSinceEpoch()));
  // QString::number writes "." whatever the locale; a text field is quoted.
  auto num = [](double v, int digits) { return std::isfinite(v) ? QString::number(v, 'f', digits) : QString(); };
  auto sec = [&](int64_t ms) { return ms < 0 ? QString() : num(double(ms) / 1000, 3); };
  auto text = [](const std::string &s) { return '"' + QString::fromStdString(s).replace('"', "\"\"") + '"'; };
  QString out = "kind,time s,Z cm,process,position,dip,dips,mode,bottom s,up s,top s,held bottom s,held top s,"
                "withdrawal cm/s,end\n";
  // A live run's older rows keep their reads on disk only.
  const std::vector<TRecordRow> &rows = Rows();
  std::vector<TRecordRow> read;
  std::string why;
  if (!onDisk && Follow && RunRecorder().ReadsKeptFrom() > 0 && !ReadRunRecord(Path(), read, why)) {
    error = OlderReadsError(why);
    return false;
  }
  const std::vector<TRecordRow> &disk = onDisk ? *onDisk : read;
  auto inRange = [&](const TReading &z) { return z.first >= t0 && z.first <= t1; };
  for (size_t i = 0; i < rows.size(); ++i) {
    const TRecordRow &r = rows[i];
    const int64_t from = r.DownAt >= 0 ? r.DownAt : r.WrittenAt, to = std::max(r.TopAt, r.WrittenAt);
    if (to < t0 || from > t1) continue;
    out += QStringList{"row", sec(from), QString(), text(r.Process), text(r.Position), QString::number(r.Dip),
                       QString::number(r.Dips), text(r.Mode), sec(r.BottomAt), sec(r.UpAt), sec(r.TopAt),
                       sec(r.HeldBottom), sec(r.HeldTop), num(r.Withdrawal, 5), text(r.End)}
               .join(',') + '\n';
    // All from one source: a read in the ms of a row's write goes to one row.
    const bool onDisk = i < disk.size() && disk[i].WrittenAt == r.WrittenAt;
    for (const TReading &z : onDisk ? disk[i].ZReads : r.ZReads)
      if (inRange(z)) out += "read," + sec(z.first) + ',' + num(z.second, 4) + ",,,,,,,,,,,,\n";
  }
  // The dip in progress: its reads so far, as the chart shows them.
  if (Follow && RunRecorder().Active())
    for (const TReading &z : RunRecorder().LiveZ())
      if (inRange(z)) out += "read," + sec(z.first) + ',' + num(z.second, 4) + ",,,,,,,,,,,,\n";
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(out.toUtf8()) < 0 || !file.commit()) {
    error = "the file cannot be written";
    return false;
  }
  return true;
}

void TRunRecordWindow::Listen(bool on) {
  // The recorder has one listener; it is ours only while we follow and show.
  // It runs inside the run (every row, every read), so it only marks.
  if (on == Listening) return;
  Listening = on;
  RunRecorder().SetListener(on ? TRunRecorder::TListener([this] { Stale = true; }) : nullptr);
}

void TRunRecordWindow::Feed() {
  const std::vector<TRecordRow> &rows = Rows();
  const std::string path = Path();
  if (FedRows != &rows || rows.size() < Fed || path != FedPath) {
    Run->Clear();
    Bundles->clear();
    Names.clear();
    Fed = 0, FedRows = &rows, FedPath = path;
    DetailStale = true;
  }
  // The recorder keeps the reads of its newest rows only: older ones come
  // from the file, read beside the window once when it begins to follow a
  // long run (a run's polls do not wait for it); then the charts are fed
  // again with them.
  if (Follow && Fed < RunRecorder().ReadsKeptFrom() && OldReadsOf != path) {
    OldReadsOf = path;
    ReadingOld = true;
    ReadBeside(this, path, [this, path](TRead &read) {
      ReadingOld = false;
      if (!Follow || Path() != path || !read.Ok) return;  // another run, or nothing to add
      OldReads = std::move(read.Rows);
      FedRows = nullptr;
      if (isVisible()) Refresh();
    });
  }
  std::vector<TRecordRow> &disk = OldReads;
  for (; Fed < rows.size(); ++Fed) {
    const TRecordRow *r = &rows[Fed];
    TRecordRow whole;
    if (Fed < disk.size() && r->ZReads.empty() && disk[Fed].WrittenAt == r->WrittenAt) {
      whole = *r;
      whole.ZReads = std::move(disk[Fed].ZReads);
      r = &whole;
    }
    Run->Add(*r);
    if (r->Mode == RecordStepByStep) {
      const QString p = QString::fromStdString(r->Process);
      if (!Names.contains(p)) Names << p;
      (*Bundles)[p].Add(*r);
    }
    DetailStale = true;
  }
  std::vector<TRecordRow>().swap(OldReads);  // on the charts now
}

void TRunRecordWindow::Refresh() {
  Stale = false;
  const TRunRecorder &rec = RunRecorder();
  const bool live = Follow && rec.Active();
  const std::vector<TRecordRow> &rows = Rows();
  Feed();
  Run->SetLive(live ? &rec.LiveZ() : nullptr);
  if (!RunView->Zoomed()) Run->Fit();  // draws too
  else Run->Draw();
  Info->setText(RecordSummary(rows, Path(), live) +
                (Compared ? "  ·  compared with " + Compared->Name : QString()));
  // The process list: the one with the most dips first chosen.
  QStringList shown;
  for (int i = 0; i < ProcessList->count(); ++i) shown << ProcessList->itemText(i);
  if (Names != shown) {
    const QString keep = ProcessList->currentText();
    QSignalBlocker quiet(ProcessList);
    ProcessList->clear();
    ProcessList->addItems(Names);
    int pick = Names.indexOf(keep);
    if (pick < 0 && !Names.isEmpty()) {
      int most = 0;
      for (int i = 0; i < Names.size(); ++i)
        if ((*Bundles)[Names[i]].Count > most) most = (*Bundles)[Names[i]].Count, pick = i;
    }
    ProcessList->setCurrentIndex(pick);
    DetailStale = true;
  }
  RefreshDetail();
  UpdateLive();
}

void TRunRecordWindow::RefreshDetail() {
  // Only the chart in sight is filled (a live tick's cost); the other on its turn.
  if (DetailStale) OverlayStale = HoldsStale = true, DetailStale = false;
  auto hover = [this](const QString &text) { ReadOut->setText(text); };
  const QString process = ProcessList->currentText();
  if (Tabs->currentWidget() == OverlayView && OverlayStale) {
    OverlayStale = false;
    const auto it = Bundles->find(process);
    if (!OverlayView->Zoomed())
      FillOverlayChart(OverlayView->chart(), it == Bundles->end() ? nullptr : &it->second, process, hover,
                       ComparedDips(process));
  }
  if (Tabs->currentWidget() == HoldsView && HoldsStale) {
    HoldsStale = false;
    if (!HoldsView->Zoomed()) FillHoldsChart(HoldsView->chart(), Rows(), process, hover, ComparedRows());
  }
}

void TRunRecordWindow::DrawNews() {
  if (Stale || !RunRecorder().Active()) Refresh();
}

void TRunRecordWindow::FitRun() { Run->Fit(); }

void TRunRecordWindow::UpdateLive() {
  const bool live = isVisible() && Follow && RunRecorder().Active();
  if (live && !LiveTimer->isActive()) LiveTimer->start();
  // One more picture after the run's end, then rest.
  if (!live && LiveTimer->isActive() && !Stale) LiveTimer->stop();
}

QString TRunRecordWindow::ReadOutAt(double ms) const {
  const double ms1 = RecordMs(double(Run->Time->max().toMSecsSinceEpoch()));
  const double ms0 = RecordMs(double(Run->Time->min().toMSecsSinceEpoch()));
  const double slack = (ms1 - ms0) / 300;  // a few pixels either side
  // The curve's nearest reading, not the cursor's height: Z is what was read.
  QPointF read;
  QString text = Run->Nearest(AxisTime(ms), slack, read)
                     ? QString("%1, Z %2 cm").arg(ClockText(RecordMs(read.x()))).arg(read.y(), 0, 'f', 2)
                     : QString("%1, no Z read").arg(ClockText(ms));
  if (const TRecordRow *r = RowAt(Rows(), ms, slack)) text += "\n" + RowText(*r);
  return text;
}

void TRunRecordWindow::ShowRunHover(QPointF value, QPoint global) {
  const QString text = ReadOutAt(RecordMs(value.x()));
  ReadOut->setText(text.section('\n', 0, 1));
  if (text.contains('\n')) QToolTip::showText(global, text.section('\n', 1), RunView);
  else QToolTip::hideText();
}

void TRunRecordWindow::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  Listen(Follow);
  Refresh();
}

void TRunRecordWindow::hideEvent(QHideEvent *event) {
  Listen(false);
  LiveTimer->stop();
  QWidget::hideEvent(event);
}

QStringList TRunRecordWindow::TitleLines() const {
  const std::vector<TRecordRow> &rows = Rows();
  std::string task = Follow ? RunRecorder().Task() : std::string();
  for (const TRecordRow &r : rows)
    if (task.empty() && !r.Task.empty()) task = r.Task;
  QString head = "Run record of task " + (task.empty() ? QString("(none)") : QString::fromStdString(task));
  const QString sample = RunSample(Path());
  if (!sample.isEmpty()) head += ", sample " + sample;
  QStringList lines{head};
  const QString date = RunDate(Path());
  lines << (date.isEmpty() ? QString("date not known") : "run began " + date) + "  ·  " +
               RecordSummary(rows, Path(), Follow && RunRecorder().Active());
  if (Compared) lines << Compared->Line;
  for (const QString &r : RecipeLines(rows)) lines << "recipe: " + r;
  lines << QString("Kavetra %1").arg(KV_VERSION);
  return lines;
}

std::vector<std::unique_ptr<QChartView>> TRunRecordWindow::ExportCharts(double width) const {
  // Hidden views of their own at the picture's size, drawn as the window
  // draws its charts; the run chart keeps the window's zoom.
  auto view = [](QChart *chart, const QSizeF &size) {
    auto v = std::make_unique<QChartView>(chart);
    v->setAttribute(Qt::WA_DontShowOnScreen);
    v->setRenderHint(QPainter::Antialiasing);
    v->setFrameStyle(QFrame::NoFrame);
    v->resize(size.toSize());
    v->show();  // not on the screen: only its resize and layout
    return v;
  };
  auto runChart = new QChart;
  TRunChart run(runChart);
  run.CopyFrom(*Run);
  run.Fit();
  if (RunView->Zoomed()) {
    run.Time->setRange(Run->Time->min(), Run->Time->max());
    run.Z->setRange(Run->Z->min(), Run->Z->max());
  }
  std::vector<std::unique_ptr<QChartView>> views;
  views.push_back(view(runChart, QSizeF(width, 520)));
  // Every process's overlay and holds chart, the chosen one first.
  const QString process = ProcessList->currentText();
  QStringList processes = Names;
  if (processes.removeAll(process)) processes.prepend(process);
  if (processes.isEmpty()) processes << QString();
  for (const QString &name : processes) {
    auto *overlay = new QChart, *holds = new QChart;
    const auto bundle = Bundles->find(name);
    FillOverlayChart(overlay, bundle == Bundles->end() ? nullptr : &bundle->second, name, nullptr,
                     ComparedDips(name));
    FillHoldsChart(holds, Rows(), name, nullptr, ComparedRows());
    views.push_back(view(overlay, QSizeF(width, 440)));
    views.push_back(view(holds, QSizeF(width, 440)));
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  return views;
}

bool TRunRecordWindow::Export(const QString &path, QString &error) {
  const QString kind = QFileInfo(path).suffix().toLower();
  if (kind != "png" && kind != "svg" && kind != "pdf") {
    error = "the name must end in .png, .svg or .pdf";
    return false;
  }
  const double width = 1200;
  const std::vector<std::unique_ptr<QChartView>> views = ExportCharts(width);
  const QStringList title = TitleLines();
  const TTitleBlock block = LayOutTitle(title, width);
  double height = block.Height;
  for (const auto &v : views) height += v->height();
  auto paint = [&](QPainter &p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRectF(0, 0, width, height), Qt::white);
    PaintTitle(p, block, title);
    double top = block.Height;
    for (const auto &v : views) {
      v->render(&p, QRectF(0, top, v->width(), v->height()), v->rect());
      top += v->height();
    }
  };
  if (!WritePicture(path, kind, QSizeF(width, height), title, paint)) {
    error = "the file cannot be written";
    return false;
  }
  return true;
}
