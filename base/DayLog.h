#pragma once
// The report log on disk: every report line, time-stamped, appended to
// <folder>/YYYY-MM-DD.log (local date). Each line is one write(2) on an
// O_APPEND descriptor, so a crash loses nothing already reported; a small
// thread syncs written lines to the disk about once a second, without making
// the caller wait. Earlier days' files are compressed (.log.gz) and the
// oldest removed to keep the folder within a size, on a thread of their own
// so today's lines are synced meanwhile. Off until opened: only the program
// switches it on.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TDayLog {
public:
  ~TDayLog() { Close(); }
  // `folder` is taken relative to the current folder now and created when
  // missing, at the first line. `keepBytes` above 0: a tidying thread
  // compresses earlier days and prunes the oldest to keep within it.
  void Open(const std::string &folder, int64_t keepBytes = 0);
  // Syncs and closes the file and ends both threads: the tidying stops at
  // once, leaving the day it was on plain.
  void Close();
  bool IsOpen();
  // Appends "YYYY-MM-DD hh:mm:ss.mmm <line>" to the day's file of `wallMs`
  // (ms since the epoch). Returns the "***" line to report when the file has
  // just become unwritable, else "": one such line until writing works again.
  std::string Write(const std::string &line, int64_t wallMs);

private:
  void SyncLoop();

  std::mutex M;
  std::condition_variable Wake;
  std::thread Syncer, Tidier;
  std::atomic<bool> Quit{false};  // the tidying's stop, read between chunks
  bool On = false, Stop = false, Dirty = false, Reported = false;
  std::string Folder, Shown;  // absolute, and as given (for the message)
  int Fd = -1;
  int FdDay = 0;             // YYYYMMDD of Fd
  std::vector<int> Retired;  // earlier days' files, to sync and close
  int64_t StampSec = INT64_MIN;
  int StampDay = 0;
  char Stamp[64] = {};  // "YYYY-MM-DD hh:mm:ss" of StampSec
};

// Compresses each "YYYY-MM-DD.log" of `folder` older than `today`
// ("YYYY-MM-DD") to ".log.gz", streamed a chunk at a time (the file is
// replaced only once the copy is complete and synced), then removes the
// oldest compressed days until the folder's day logs sum to at most
// `keepBytes`. Today's file stays. A ".part" left by a kill is removed first.
// Once `*stop` is set it returns within a chunk, the day it was on left plain.
void TidyDayLogs(const std::string &folder, const std::string &today, int64_t keepBytes,
                 const std::atomic<bool> *stop = nullptr);

// The program's day log, written by ReportLine and ReportDirect.
TDayLog &DayLog();
