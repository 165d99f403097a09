#pragma once
// The "Run record" window: a top-level window of its own (the main window
// and its STOP buttons can always be brought in front of it), with three
// charts of the current or last run, or of a past run's file: Z over time,
// all dips of a process on top of each other, and the holds and withdrawal
// speed per dip against the recipe. Zoom, pan, a read-out under the mouse,
// and export as PNG, SVG or PDF with a title block. It never blocks a run:
// the recorder only marks it stale, and a slow timer draws what is new.
#include <QFont>
#include <QList>
#include <QRectF>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "record/RunRecord.h"

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;
class TRunChart;
class TZoomView;
struct TDipBundle;

class TRunRecordWindow : public QWidget {
  Q_OBJECT
public:
  explicit TRunRecordWindow(QWidget *parent = nullptr);
  ~TRunRecordWindow() override;

  // "Current run": the recorder's rows, followed as they come.
  void FollowRecorder();
  // A past run's file. False when it cannot be read: a message box gives the
  // reason and the window keeps what it showed.
  bool OpenRecord(const std::string &path);
  // A second record shown beside this run "as comparison": its dips on the
  // overlay, its holds on the holds chart, a line in the export's title.
  // False when it cannot be read: a message box gives the reason and the
  // window keeps what it showed. It stays until dropped.
  bool CompareRecord(const std::string &path);
  // What Open... and Compare... do: the file read on a thread of its own, so
  // a run's polls and its STOP go on meanwhile; the window takes the rows
  // when they are read. Both buttons wait for it.
  void OpenInBackground(const std::string &path, bool asComparison);
  // A file is being read: one to open, or a live run's older reads.
  bool Reading() const { return ReadingFile || ReadingOld; }
  void DropComparison();
  bool Comparing() const { return bool(Compared); }
  // Rows read elsewhere, shown as a past run.
  void ShowRows(std::vector<TRecordRow> rows, const std::string &path);
  bool Following() const { return Follow; }

  // The picture for a notebook: title block and the three charts, as the
  // file's suffix says (.png, .svg or .pdf). False with the reason.
  bool Export(const QString &path, QString &error);
  // The title block's lines: task and sample, date and file, how the run
  // ended, the recipe of each process, the program and its version.
  QStringList TitleLines() const;
  // The rows and Z reads of the run chart's visible time range as one CSV
  // ("." decimals, seconds since the run began): a line per row, then its
  // reads in that range. False with the reason.
  // `onDisk`: the record as read from its file, for a live run's older reads
  // (read here when not given).
  bool ExportData(const QString &path, QString &error, const std::vector<TRecordRow> *onDisk = nullptr) const;
  // The read-out at a time of the run chart (ms since the run began): the
  // curve's nearest Z reading and the row there.
  QString ReadOutAt(double ms) const;
  // What the live timer does: draws the news the recorder marked, if any.
  void DrawNews();
  // The sample's label, when the record names one.

  TRunChart *Run;
  TZoomView *RunView, *OverlayView, *HoldsView;
  QTabWidget *Tabs;
  QComboBox *ProcessList;
  QLabel *Info;     // the record's file and how the run ended
  QLabel *ReadOut;  // what lies under the mouse
  QPushButton *OpenButton, *CurrentButton, *WholeButton, *ExportButton, *DataButton;
  QPushButton *CompareButton, *DropCompareButton;
  QTimer *LiveTimer;  // draws what came in since the last picture

protected:
  void showEvent(QShowEvent *event) override;
  void hideEvent(QHideEvent *event) override;

private:
  const std::vector<TRecordRow> &Rows() const;
  std::string Path() const;
  void OpenClick();
  // The rows read: shown, or as comparison; false with a box when not read.
  bool TakeRecord(bool ok, std::vector<TRecordRow> rows, const std::string &path, const std::string &error,
                  bool asComparison);
  void SetComparison(std::vector<TRecordRow> rows, const std::string &path);
  bool ReadingFile = false, ReadingOld = false;
  std::string OldReadsOf;             // the live run whose older reads were asked for
  std::vector<TRecordRow> OldReads;   // ... and them, until fed to the charts
  void CompareClick();
  void CannotRead(const std::string &path, const std::string &error);
  void ComparisonChanged();  // its button, the charts and the info line
  // The comparison's dips (without their Z reads), or null.
  const std::vector<TRecordRow> *ComparedRows() const;
  const TDipBundle *ComparedDips(const QString &process) const;
  void ExportClick();
  void DataClick();
  void Listen(bool on);
  void Feed();           // the rows not on the charts yet onto them
  void Refresh();        // new rows and reads onto the charts; the summary line
  void RefreshDetail();  // the overlay and holds charts of the chosen process
  void UpdateLive();
  void FitRun();
  void ShowRunHover(QPointF value, QPoint global);
  // The export's charts: the run as zoomed, every process's overlay and holds.
  std::vector<std::unique_ptr<QChartView>> ExportCharts(double width) const;

  bool Follow = true;
  bool Listening = false;
  bool Stale = false;  // the recorder has news the charts do not show
  bool DetailStale = true;
  bool OverlayStale = true, HoldsStale = true;  // news the chart in sight takes
  std::vector<TRecordRow> Opened;
  std::string OpenedPath;
  // What the charts were given: the rows' list, its file, how many rows.
  const void *FedRows = nullptr;
  std::string FedPath;
  size_t Fed = 0;
  struct TBundles;
  std::unique_ptr<TBundles> Bundles;  // per process, for the overlay
  QStringList Names;                      // processes with dips, in run order
  struct TComparison;
  std::unique_ptr<TComparison> Compared;  // built once when opened
};

// The export's title block: each line (the first large, the others small)
// wrapped at word ends into a rectangle of the picture's width less its
// margins, as tall as its text; the block's height.
struct TTitleBlock {
  QFont Big, Small;
  QList<QRectF> Rects;
  double Height = 0;
};
TTitleBlock LayOutTitle(const QStringList &title, double width);

// The line under the charts: file name, how the run ended and its first
// fault.
QString RecordSummary(const std::vector<TRecordRow> &rows, const std::string &path, bool running);
