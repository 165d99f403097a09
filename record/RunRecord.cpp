#include "record/RunRecord.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "base/Convert.h"
#include "base/Host.h"
#include "base/TextFile.h"

bool TRunRecorder::Begin(const std::string &task, std::time_t start, uint32_t tick) {
  Retry();  // an earlier run's last lines go first
  Open = false;
  Disk = false;
  Failed = false;
  Reason.clear();
  RowsSoFar.clear();
  Live.clear();
  Pending.clear();
  PendingReads.clear();
  Started = tick;
  ReadsFlushed = 0;
  TaskName = task;
  const std::string first = RunRecordPath(task, start);
  FilePath = first;
  ::mkdir("runs", 0755);
  // A second run within the same second gets its own file.
  // Each file is made with its header: none is ever left empty.
  bool made = false;
  for (int n = 2;; ++n) {
    made = CreateWithText(FilePath, RecordHeader() + "\n");
    if (made || errno != EEXIST || n > 99) break;
    FilePath = first.substr(0, first.size() - 4) + "_" + std::to_string(n) + ".csv";
  }
  ReadsPath = RunReadsPath(FilePath);
  Open = true;  // rows are kept for the window even without a file
  Disk = made;
  if (!Disk) {
    Reason = std::strerror(errno);
    Changed();
    return false;
  }
  try {
    ReplaceFileAtomically(ReadsPath, "Time ms,Axis,cm\n");
  } catch (const std::system_error &e) {
    Failed = true;
    ReportLine("*** Run record " + ReadsPath + " cannot be written: " + e.code().message());
  }
  Changed();
  return true;
}

int64_t TRunRecorder::Since(uint32_t tick) const { return static_cast<uint32_t>(tick - Started); }
int64_t TRunRecorder::Now() const { return Since(GetTickCount()); }

void TRunRecorder::NoteRead(uint8_t axis, double cm) {
  if (!Open) return;
  const int64_t now = Now();
  PendingReads += std::to_string(now) + "," + std::to_string(axis) + "," + RecordNumber(cm) + "\n";
  // Reads go out about once a second between the events.
  if (now - ReadsFlushed >= 1000 && Pending.empty() && Append(ReadsPath, PendingReads, false))
    ReadsFlushed = now;
  if (axis == 3) {
    Live.emplace_back(now, cm);
    Changed();
  }
}

void TRunRecorder::Queue(const TRecordRow &row) {
  TRecordRow r = row;
  r.WrittenAt = Now();
  Pending += FormatRecordRow(r) + "\n";
  if (r.Mode != RecordEvent) {
    RowsSoFar.push_back(std::move(r));
    Live.clear();
    if (RowsSoFar.size() > KeepReadsRows) {
      std::vector<TReading> &old = RowsSoFar[RowsSoFar.size() - KeepReadsRows - 1].ZReads;
      old.clear();
      old.shrink_to_fit();
    }
  }
}

void TRunRecorder::Add(const TRecordRow &row) {
  if (!Open) return;
  Queue(row);
  Flush();
  Changed();
}

void TRunRecorder::Event(const std::string &text) {
  if (!Open) return;
  TRecordRow r;
  r.Task = TaskName;
  r.Mode = RecordEvent;
  r.Event = text;
  Queue(r);
  Flush();
}

bool TRunRecorder::Append(const std::string &path, std::string &pending, bool sync) {
  if (pending.empty()) return true;
  // Opened per write: a folder gone for a while and back takes the lines again.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = AppendWhole(fd, pending);
  if (ok) pending.clear();
  const int err = errno;
  if (ok && sync) ok = ::fdatasync(fd) == 0;
  ::close(fd);
  errno = ok ? 0 : err;
  return ok;
}

void TRunRecorder::Flush() {
  if (!Disk) return Pending.clear(), PendingReads.clear();
  // Reads first: a row's reads are on disk before it.
  bool ok = Append(ReadsPath, PendingReads, false);
  if (ok) ReadsFlushed = Now();
  ok = Append(FilePath, Pending, true) && ok;
  if (!ok && !Failed) {
    Failed = true;
    ReportLine("*** Run record " + FilePath + " cannot be written: " + std::strerror(errno) +
               "; its rows are kept and written when it can be");
  } else if (ok && Failed) {
    Failed = false;
    ReportLine("Run record " + FilePath + " written again: no row lost");
  }
}

bool TRunRecorder::Keep(const std::string &suffix, const std::string &text) {
  if (!Disk) return false;
  try {
    ReplaceFileAtomically(FilePath.substr(0, FilePath.size() - 4) + suffix, text);
    return true;
  } catch (const std::system_error &e) {
    if (!Failed) ReportLine("*** Run record file " + suffix + " cannot be written: " + e.code().message());
    return false;
  }
}

void TRunRecorder::Finish(const std::string &end, uint16_t error, const std::string &seen) {
  if (!Open) return;
  TRecordRow r;
  r.Task = TaskName;
  r.Mode = RecordEnd;
  r.TopAt = Now();
  r.Seen = seen;
  r.ErrorBits = error;
  r.End = end;
  Add(r);
  Open = false;
  if (Disk && (!Pending.empty() || !PendingReads.empty())) {
    Tails.push_back({FilePath, ReadsPath, std::move(Pending), std::move(PendingReads)});
    Pending.clear(), PendingReads.clear();
  }
  Changed();
}

void TRunRecorder::Retry() {
  if (Open && (!Pending.empty() || !PendingReads.empty())) Flush();
  for (size_t i = 0; i < Tails.size();) {
    TTail &t = Tails[i];
    const bool ok = Append(t.ReadsPath, t.Reads, false) && Append(t.Path, t.Lines, true);
    if (!ok) {
      ++i;
      continue;
    }
    ReportLine("Run record " + t.Path + " written again: no row lost");
    Tails.erase(Tails.begin() + long(i));
  }
}

void TRunRecorder::Changed() const {
  if (Listener) Listener();
}

TRunRecorder &RunRecorder() {
  static TRunRecorder recorder;
  return recorder;
}
