#include "serial/WorkThread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <memory>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "serial/SerialPortNG.h"

uint32_t WorkerTick() {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

namespace {
constexpr uint32_t BusyWaitMs = 75, IdleWaitMs = 200;
constexpr uint32_t ReceiveErrors = 0x001F;
}  // namespace

TWorkThread::TWorkThread(TSerialPortNG &port) : Port(port) {
  WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  Thread = std::thread(&TWorkThread::Execute, this);
}

TWorkThread::~TWorkThread() {
  Terminate();
  WaitFor();
  if (WakeFd >= 0) ::close(WakeFd);
}

void TWorkThread::Terminate() {
  FTerminated = true;
  Wake();
}

void TWorkThread::WaitFor() {
  if (Thread.joinable()) Thread.join();
}

void TWorkThread::Wake() {
  uint64_t one = 1;
  if (WakeFd >= 0) (void)!::write(WakeFd, &one, sizeof one);
}

void TWorkThread::DrainWake() {
  uint64_t n;
  if (WakeFd >= 0) (void)!::read(WakeFd, &n, sizeof n);
}

void TWorkThread::SleepOnWake(uint32_t ms) {
  pollfd p{WakeFd, POLLIN, 0};
  if (::poll(&p, 1, int(ms)) > 0) DrainWake();
}

uint32_t TWorkThread::CutDelayMs(uint32_t waiting) const {
  return uint32_t(std::ceil(double(waiting) * Port.FRTOCharDelayTime / 1000.0 + Port.FRTOExtraDelayTime));
}

void TWorkThread::Execute() {
  LastRxTick = WorkerTick();
  bool busy = Port.FActive;
  bool fresh = true;
  bool stop = false;
  while (!stop) {
    if (busy) {
      Port.ThreadIsRunning = true;
      std::lock_guard<std::mutex> g(Port.FdLock);
      Fd = Port.FFd;
      if (fresh) {
        // Errors counted before this opening are not this line's news.
        LineCounters(Fd, Counters);
        LineGone = HangupReported = false;
        LastRxTick = WorkerTick();
        fresh = false;
      }
      EventMask = 0;
      if (Port.FActive) CheckLineStatus();
      CheckWriteCompletion();
      if (Port.FActive) TryRead();
      if (Port.FActive || Port.FSendInProgress) WaitForLine();
      if (EventMask && Port.FActive) DispatchCommEvents(EventMask);
      if (!Port.FActive && !Port.FSendInProgress) busy = false;
    } else {
      {
        std::lock_guard<std::mutex> g(Port.IdleLock);
        Port.ThreadIsRunning = false;
      }
      Port.IdleCv.notify_all();
      busy = Port.FActive;
      fresh = true;
      if (!busy && !FTerminated) SleepOnWake(IdleWaitMs);
    }
    if (FTerminated && !busy) stop = true;
  }
  {
    std::lock_guard<std::mutex> g(Port.IdleLock);
    Port.ThreadIsRunning = false;
  }
  Port.IdleCv.notify_all();
}

void TWorkThread::CheckLineStatus() {
  uint32_t word = 0;
  if (int e = LineModemStatus(Fd, word)) {
    ReportFromWorker(9905, uint32_t(e), "Error getting ModemStatus");
  } else {
    uint32_t old = Port.FModemState;
    bool riChanged = ((word ^ old) & 0x40) != 0;
    if ((word ^ old) & 0x10) EventMask |= EV_CTS;
    if ((word ^ old) & 0x20) EventMask |= EV_DSR;
    if ((word ^ old) & 0x80) EventMask |= EV_RLSD;
    if ((old & 0x40) && !(word & 0x40)) EventMask |= EV_RING;  // end of a ring
    Port.FModemState = word;
    Port.FCTSState = (word & 0x10) != 0;
    Port.FDSRState = (word & 0x20) != 0;
    Port.FRLSDState = (word & 0x80) != 0;
    Port.FRingState = (word & 0x40) != 0;
    if (riChanged && Port.OnRIEvent) {
      TSerialPortNG *p = &Port;
      Port.RunInMainThread([p] {
        if (p->OnRIEvent) p->OnRIEvent(p);
      });
    }
  }
  // Read until a reading matches the stored state; each reading takes the
  // errors counted since the previous one, so they clear as they are read.
  for (int i = 0; i < 16; ++i) {
    TLineCounters now;
    uint32_t inq = 0, outq = 0;
    int e = LineCounters(Fd, now);
    if (!e) e = LineInQueue(Fd, inq);
    if (!e) e = LineOutQueue(Fd, outq);
    if (e) {
      ReportFromWorker(9803, uint32_t(e), "Error ClearCommError");
      return;
    }
    uint32_t err = LineErrorFlags(Counters, now);
    Counters = now;
    if (err) EventMask |= EV_ERR;
    if (err & CE_BREAK) EventMask |= EV_BREAK;
    if (inq > Port.FCommStateInQueue) EventMask |= EV_RXCHAR;
    if (outq == 0 && Port.FCommStateOutQueue > 0) EventMask |= EV_TXEMPTY;
    const uint8_t flags = 0;  // the tty reports no hold states
    if (err == Port.FCommError && flags == Port.FCommStateFlags && inq == Port.FCommStateInQueue &&
        outq == Port.FCommStateOutQueue)
      return;
    Port.FCommError = err;
    Port.FCommStateFlags = flags;
    Port.FCommStateInQueue = inq;
    Port.FCommStateOutQueue = outq;
    if (Port.OnCommStat) {
      TSerialPortNG *p = &Port;
      Port.RunInMainThread([p] {
        if (p->OnCommStat) p->OnCommStat(p);
      });
    }
  }
}

void TWorkThread::CheckWriteCompletion() {
  if (!Port.FSendInProgress) return;
  TSerialPortNG *p = &Port;
  auto finish = [&](uint32_t written) {
    Port.FWrittenBytes = written;
    Port.FSendInProgress = false;
  };
  auto writeDone = [&] {
    Port.RunInMainThread([p] {
      if (p->OnWriteDone) p->OnWriteDone(p);
    });
  };
  if (Port.WriteAbort) {
    Port.WriteAbort = false;
    finish(uint32_t(Port.PendingWritten));
    ReportFromWorker(9702, ECANCELED, "Error getting Overlapped Result");
    writeDone();
    return;
  }
  const size_t total = Port.RequestedWriteCount;
  const size_t start = total - Port.PendingWrite.size();
  while (Port.PendingWritten < total) {
    ssize_t w =
        ::write(Fd, Port.PendingWrite.data() + (Port.PendingWritten - start), total - Port.PendingWritten);
    if (w > 0) {
      Port.PendingWritten += size_t(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN) {
      int e = errno;
      finish(uint32_t(Port.PendingWritten));
      ReportFromWorker(9702, uint32_t(e), "Error getting Overlapped Result");
      writeDone();
      return;
    }
    break;
  }
  if (Port.PendingWritten >= total) {
    finish(uint32_t(total));
    writeDone();
  } else if (WorkerTick() - Port.WriteStartTick >= Port.WriteTimeoutMs) {
    // Once finish() clears SendInProgress the next SendBytes owns the count.
    const uint32_t written = uint32_t(Port.PendingWritten);
    finish(written);
    ReportFromWorker(9701, written, "Error write TimeOut");
    writeDone();
  }
}

void TWorkThread::TryRead() {
  uint32_t inq = Port.FCommStateInQueue;
  if (inq > 0 && Port.ReplyEnd.On && !Port.FReadRequest) {
    // Fast replies: off the line as they come, so a reply's end can be seen.
    inq -= std::min(inq, Port.ReplyEnd.Take(Fd, inq));
    Port.FCommStateInQueue = inq;
  }
  const uint32_t n = inq + Port.ReplyEnd.Held();
  const uint32_t now = WorkerTick();
  if (n == 0) {
    LastRxTick = now;
    return;
  }
  if (!Port.FReadRequest && n < Port.FClusterSize) {
    double limit = double(n) * Port.FRTOCharDelayTime / 1000.0 + Port.FRTOExtraDelayTime;
    if (double(uint32_t(now - LastRxTick)) <= limit && !(Port.FCommError & ReceiveErrors) &&
        !Port.ReplyEnd.Complete())
      return;
  }
  std::string data = Port.ReplyEnd.Release();  // empty unless fast replies held bytes
  if (data.empty() && inq == 0) {
    LastRxTick = now;  // the main thread took the held bytes for its stale drain
    return;
  }
  ssize_t r = 0;
  int err = 0;
  if (inq > 0) {
    const size_t held = data.size();
    data.resize(held + inq);
    do {
      r = ::read(Fd, &data[held], inq);
    } while (r < 0 && errno == EINTR);
    if (r < 0) err = errno;
    data.resize(held + size_t(r > 0 ? r : 0));
  }
  const bool readOk = inq == 0 || r > 0 || err == EAGAIN;
  if (readOk || !data.empty()) {
    Port.FReadRequest = false;
    if (Port.FStripNullChars) data.erase(std::remove(data.begin(), data.end(), '\0'), data.end());
    Port.FCommStateInQueue = (r > 0 && uint32_t(r) < inq) ? inq - uint32_t(r) : 0;
    StoreCluster(uint32_t(data.size()), data.data());
    LastRxTick = WorkerTick();
    if (readOk) {
      HangupReported = false;
      return;
    }
  }
  Port.FReadRequest = false;
  if (r == 0) {
    // End of file on a tty: the other side hung up. Said once, not every pass.
    LineGone = Port.FLineLost = true;
    if (!HangupReported) ReportFromWorker(9804, EIO, "Error reading Data");
    HangupReported = true;
    return;
  }
  if (err == EIO || err == ENODEV || err == ENXIO) Port.FLineLost = true;
  ReportFromWorker(9804, uint32_t(err), "Error reading Data");
}

void TWorkThread::StoreCluster(uint32_t count, const char *buffer) {
  if (Port.Destroying) return;
  auto cluster = std::make_unique<TSerialCluster>(buffer, count, Port.FCommError);
  {
    std::lock_guard<std::mutex> g(Port.ClusterLock);
    Port.ClusterList.push_back(std::move(cluster));
  }
  Port.ClusterCv.notify_all();
  if (Port.OnRxClusterEvent) {
    TSerialPortNG *p = &Port;
    Port.RunInMainThread([p] {
      if (p->OnRxClusterEvent) p->OnRxClusterEvent(p);
    });
  }
}

// One wait of at most 75 ms for input on an empty queue, for room to write,
// or for a wake-up; with input waiting, no longer than until it is due.
void TWorkThread::WaitForLine() {
  const uint32_t t0 = WorkerTick();
  if (LineGone) {
    SleepOnWake(BusyWaitMs);
    pollfd q{Fd, POLLIN, 0};
    if (Fd >= 0 && ::poll(&q, 1, 0) >= 0 && !(q.revents & (POLLHUP | POLLERR | POLLNVAL))) LineGone = false;
    if (Port.FActive) CheckLineStatus();
    return;
  }
  // Held bytes (fast replies) wait for their cut like bytes in the driver,
  // but the next byte must still wake the worker.
  const uint32_t inDriver = Port.FCommStateInQueue, held = Port.ReplyEnd.Held();
  const uint32_t waiting = inDriver + held;
  pollfd fds[2] = {{WakeFd, POLLIN, 0}, {Fd, 0, 0}};
  if (Port.FActive && inDriver == 0) fds[1].events |= POLLIN;
  if (Port.FSendInProgress) fds[1].events |= POLLOUT;
  nfds_t nf = (fds[1].events && Fd >= 0) ? 2 : 1;
  uint32_t timeout = BusyWaitMs;
  if (Port.FActive && waiting > 0 && !(Port.FCommError & ReceiveErrors)) {
    uint32_t due = CutDelayMs(waiting) + 1, waited = t0 - LastRxTick;
    timeout = due > waited ? std::min(BusyWaitMs, due - waited) : 1;
  }
  int r = ::poll(fds, nf, int(timeout));
  if (r < 0) {
    if (errno != EINTR) {
      ReportFromWorker(9911, uint32_t(errno), "Error getting Overlappedresult");
      SleepOnWake(BusyWaitMs);
    }
    return;
  }
  if (fds[0].revents) DrainWake();
  if (nf == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
    // A hung-up line polls ready for ever; wait out the pass instead of spinning.
    if (!LineGone) ReportFromWorker(9911, EIO, "Error getting Overlappedresult");
    LineGone = Port.FLineLost = true;
    uint32_t spent = WorkerTick() - t0;
    if (spent < BusyWaitMs) SleepOnWake(BusyWaitMs - spent);
  } else if (nf == 2 && (fds[1].revents & POLLIN) && held == 0) {
    LastRxTick = WorkerTick();  // the queue was seen empty until just now
  }
  if (Port.FActive) CheckLineStatus();
}

void TWorkThread::DispatchCommEvents(uint32_t mask) {
  if (Port.Destroying) return;
  Port.FCommEvent = mask;
  TSerialPortNG *p = &Port;
  static const struct {
    uint32_t Bit;
    TNotifyEvent TSerialPortNG::*Event;
  } order[] = {{EV_BREAK, &TSerialPortNG::OnBreakEvent},
               {EV_CTS, &TSerialPortNG::OnCTSEvent},
               {EV_DSR, &TSerialPortNG::OnDSREvent},
               {EV_ERR, &TSerialPortNG::OnLineErrorEvent},
               {EV_RING, &TSerialPortNG::OnRingEvent},
               {EV_RLSD, &TSerialPortNG::OnRLSDEvent},
               {EV_RXCHAR, &TSerialPortNG::OnRxCharEvent},
               {EV_RXFLAG, &TSerialPortNG::OnRxEventCharEvent},
               {EV_TXEMPTY, &TSerialPortNG::OnTxQueueEmptyEvent}};
  for (const auto &o : order) {
    auto ev = o.Event;
    if ((mask & o.Bit) && (Port.*ev))
      Port.RunInMainThread([p, ev] {
        if (p->*ev) (p->*ev)(p);
      });
  }
  if (mask && Port.OnCommEvent)
    Port.RunInMainThread([p] {
      if (p->OnCommEvent) p->OnCommEvent(p);
    });
}

void TWorkThread::ReportFromWorker(uint32_t place, uint32_t code, const std::string &message) {
  SlotPlace = place;
  SlotCode = code;
  SlotMsg = message;
  SlotNoise = 0;
  TSerialPortNG *p = &Port;
  Port.RunInMainThread([p, place, code, message] { p->ProcessError(place, code, 0, message); });
}
