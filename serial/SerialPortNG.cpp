#include "serial/SerialPortNG.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <unistd.h>

#include "base/Host.h"
#include "serial/SerialDevices.h"
#include "serial/SerialLine.h"
#include "serial/WorkThread.h"

TSerialCluster::TSerialCluster(const char *bytes, uint32_t size, uint32_t error)
    : Size(size), CCError(error) {
  if (size > 0) {
    Data.reset(new char[size]);
    std::memcpy(Data.get(), bytes, size);
  }
}

std::string TSerialCluster::DataAsString() const {
  return Size ? std::string(Data.get(), Size) : std::string();
}

TSerialPortNG::TSerialPortNG(void *) {
  // No event objects to create here: the worker's wake-up descriptor takes
  // their place, and the worker starts idle until the port is opened.
  Worker.reset(new TWorkThread(*this));
}

TSerialPortNG::~TSerialPortNG() {
  {
    std::lock_guard<std::mutex> g(CallLock);
    Destroying = true;
  }
  CallCv.notify_all();
  ReopenPort(false);
  Worker->Terminate();
  for (int i = 0; i < 10 && ThreadIsRunning; ++i) WaitWorkerIdle(75);
  Worker->WaitFor();
  {
    std::lock_guard<std::mutex> g(CallLock);
    Calls.clear();
  }
  std::lock_guard<std::mutex> g(ClusterLock);
  ClusterList.clear();
}

void TSerialPortNG::SetActive(bool v) {
  if (v) LineDown();  // a device that went away is closed first, so it reopens
  if (v != Active()) ReopenPort(v);
}

bool TSerialPortNG::LineDown() {
  if (FLineLost && FFd >= 0) {
    ProcessError(114, EIO, 0, SerialLostAdvice(SerialDevicePath(FCommPort)));
    ReopenPort(false);
  }
  return FFd < 0;
}

void TSerialPortNG::SetCommPort(const std::string &v) {
  std::string name = v.substr(0, 255);
  if (name == FCommPort) return;
  FCommPort = name;
  ReopenPort(Active());
}

void TSerialPortNG::SetBaudRate(uint32_t v) {
  if (v == FBaudRate) return;
  FBaudRate = v;
  if (FXTOAuto) UpdateXTOAuto();
  if (Active()) ApplyCommSettings();
}

void TSerialPortNG::SetXONLimDiv(uint8_t v) {
  if (v == FXONLimDiv) return;
  if (v > 100) {
    ProcessError(100, v, 1, "Warning XOnLimDef set to 100");
    v = 100;
  }
  FXONLimDiv = v;
  if (Active()) ApplyCommSettings();
}

void TSerialPortNG::SetXOFFLimDiv(uint8_t v) {
  if (v == FXOFFLimDiv) return;
  if (v > 100) {
    ProcessError(100, v, 1, "Warning XOffLimDef set to 100");
    v = 100;
  }
  FXOFFLimDiv = v;
  if (Active()) ApplyCommSettings();
}

void TSerialPortNG::SetStripNullChars(bool v) {
  if (v == FStripNullChars) return;
  FStripNullChars = v;
  if (Active()) ApplyCommSettings();
}

// The tty has no settable queue sizes; what is left of the call is its
// failure on a closed port, so the caller learns the size waits for the open.
void TSerialPortNG::SetupQueues(uint32_t place) {
  if (FFd < 0) ProcessError(place, EBADF, 0, "Error can not set Quesize");
}

void TSerialPortNG::SetRxQueueSize(uint16_t v) {
  if (v == FRxQueueSize) return;
  FRxQueueSize = v;
  SetupQueues(101);
}

void TSerialPortNG::SetTxQueueSize(uint16_t v) {
  if (v == FTxQueueSize) return;
  FTxQueueSize = v;
  SetupQueues(102);
}

void TSerialPortNG::SetXTOAuto(bool v) {
  if (v == FXTOAuto) return;
  FXTOAuto = v;
  if (v) UpdateXTOAuto();
}

void TSerialPortNG::SetRTSState(bool v) {
  if (!Active()) return;
  if (int e = LineSetModemBit(FFd, TIOCM_RTS_BIT, v))
    ProcessError(v ? 501 : 502, e, 0, v ? "Error setting RTS" : "Error clearing RTS");
  FRTSState = v;
}

void TSerialPortNG::SetDTRState(bool v) {
  if (!Active()) return;
  if (int e = LineSetModemBit(FFd, TIOCM_DTR_BIT, v))
    ProcessError(v ? 601 : 602, e, 0, v ? "Error setting DTR" : "Error clearing DTR");
  FDTRState = v;
}

void TSerialPortNG::SetBREAKState(bool v) {
  if (!Active()) return;
  if (int e = LineSetBreak(FFd, v))
    ProcessError(v ? 701 : 702, e, 0, v ? "Error setting BREAK State" : "Error clearing BREAK State");
  FBREAKState = v;
}

void TSerialPortNG::SetReadRequest(bool v) {
  FReadRequest = v;
  if (v) Worker->Wake();
}

void TSerialPortNG::UpdateXTOAuto() {
  static const struct {
    uint32_t Baud, Delay;
  } table[] = {{110, 100000}, {300, 37000}, {600, 18000}, {1200, 9000}, {2400, 4500},
               {4800, 2300},  {9600, 1100}, {14400, 760}, {19200, 570}, {38400, 290},
               {56000, 200},  {57600, 190}, {115200, 95}, {128000, 85}, {256000, 43}};
  uint32_t delay = 1100;
  for (const auto &row : table)
    if (row.Baud <= FBaudRate) delay = row.Delay;
  SetRTOCharDelayTime(delay);
  SetWTOCharDelayTime(delay);
}

void TSerialPortNG::ApplyCommSettings() {
  int fd = FFd;
  TLineSettings held;
  if (int e = LineRead(fd, held)) {
    ProcessError(801, e, 0, "Error getting DCB from CommState");
    return;
  }
  TLineSettings s;
  s.BaudRate = FBaudRate;
  s.DataBits = FDataBits;
  s.ParityType = FParityType;
  s.StopBits = FStopBits;
  // One and a half stop bits exist only with five data bits (the stock
  // code 1 comes with 8): the line then runs with one, the code stays stored.
  if (FStopBits == 1 && FDataBits != 5) {
    s.StopBits = 0;
    ProcessError(803, 0, 2, "Msg 1.5 stop bits need 5 data bits, line set to 1 stop bit");
  }
  s.FlowControl = FFlowControl;
  s.XONChar = FXONChar;
  s.XOFFChar = FXOFFChar;
  // Immediate-return reads come with the line settings (VMIN 0, VTIME 0);
  // the XON/XOFF limits and the error character have no tty counterpart.
  if (int e = LineApply(fd, s))
    ProcessError(802, e, 0, "Error setting CommState, 87 indicate that Parms are incorrect");
}

void TSerialPortNG::ReopenPort(bool activate) {
  if (FFd >= 0) {
    ProcessError(100, 0, 2, "Msg start deactivating Port");
    {
      std::lock_guard<std::mutex> g(CallLock);
      FActive = false;  // releases a worker waiting on a hand-over
    }
    CallCv.notify_all();
    // A device that went away has no queues or lines left to tidy.
    const bool gone = FLineLost;
    if (int e = gone ? 0 : LineFlush(FFd)) ProcessError(102, e, 0, "Error clearing Queues");
    if (FSendInProgress) WriteAbort = true;
    Worker->Wake();
    for (int i = 0; i < 15 && ThreadIsRunning; ++i) {
      RunPendingCalls();
      WaitWorkerIdle(75);
    }
    if (ThreadIsRunning) ProcessError(104, 0, 1, "Warning ThreadIsRunning");
    if (int e = gone ? 0 : LineSetModemBit(FFd, TIOCM_DTR_BIT, false))
      ProcessError(602, e, 0, "Error clearing DTR");
    FDTRState = false;
    if (int e = gone ? 0 : LineSetModemBit(FFd, TIOCM_RTS_BIT, false))
      ProcessError(502, e, 0, "Error clearing RTS");
    FRTSState = false;
    int e;
    {
      std::lock_guard<std::mutex> g(FdLock);
      e = LineClose(FFd);
      FFd = -1;
      ReplyEnd.Clear();
    }
    // What a line earned says nothing of the line opened next.
    if (FFastReplies == TFastReplies::Automatic) SetReplyRule(TReplyRule());
    if (e) ProcessError(103, e, 0, "Error closing Port");
  }
  if (activate) {
    ProcessError(110, 0, 2, "Msg start reactivating Port");
    int fd = -1;
    int e = LineOpen(SerialDevicePath(FCommPort), fd);
    if (e) {
      ProcessError(112, e, 0, "Error reopening Port");
      const std::string advice = SerialOpenAdvice(SerialDevicePath(FCommPort), e);
      if (!advice.empty()) ProcessError(113, e, 0, advice);
      return;
    }
    FLineLost = false;
    FFd = fd;
    FActive = true;
    ApplyCommSettings();
    SetDTRState(true);
    SetRTSState(true);
    Worker->Wake();
  }
}

void TSerialPortNG::ProcessError(uint32_t place, uint32_t code, uint8_t noise, const std::string &msg) {
  if (Destroying || noise > FErrorNoise) return;
  if (OnProcessError) {
    OnProcessError(this, place, code, msg, noise);
    return;
  }
  // The plain answers name the device and the fix themselves.
  if (place == 113 || place == 114) {
    ReportLine("*** " + msg);
    return;
  }
  std::string where = "Serial port " + FCommPort + ": " + msg + " (place " + std::to_string(place);
  if (code) where += ", code " + std::to_string(code);
  if (code && noise == 0 && place < 9000) where += std::string(": ") + std::strerror(int(code));
  where += ")";
  if (noise == 0) ReportLine("*** " + where);
  else if (noise == 1) ReportLine(where);
  else ReportLine("$" + where);
}

void TSerialPortNG::SendBytes(const char *buffer, int32_t count) {
  if (FSendInProgress) {
    ProcessError(901, 0, 2, "Msg, dont enter SendData while SendInProgress is set");
    return;
  }
  int fd = FFd;
  if (fd < 0) {
    ProcessError(902, EBADF, 0, "Error setting CommTimeout");
    ProcessError(903, EBADF, 0, "Error writing Data");
    return;
  }
  if (count < 0) {
    ProcessError(903, EINVAL, 0, "Error writing Data");
    return;
  }
  WriteTimeoutMs = uint32_t(uint64_t(FWTOCharDelayTime) * uint32_t(count) / 1000 + FWTOExtraDelayTime);
  RequestedWriteCount = uint32_t(count);
  ssize_t w = 0;
  if (count > 0) {
    do {
      w = ::write(fd, buffer, size_t(count));
    } while (w < 0 && errno == EINTR);
  }
  if (w == count) {
    FWrittenBytes = uint32_t(count);
    if (OnWriteDone) OnWriteDone(this);
    return;
  }
  if (w < 0 && errno != EAGAIN) {
    ProcessError(903, errno, 0, "Error writing Data");
    FSendInProgress = false;
    return;
  }
  // The rest goes out from the worker, within the write time-out.
  if (w < 0) w = 0;
  PendingWrite.assign(buffer + w, size_t(count - w));
  PendingWritten = size_t(w);
  WriteStartTick = WorkerTick();
  WriteAbort = false;
  FSendInProgress = true;
  Worker->Wake();
}

void TSerialPortNG::SendText(const std::string &text) { SendFrame(text, true); }

void TSerialPortNG::SendFrame(const std::string &text, bool answerWords) {
  if (text.empty()) return;
  if (!FSendInProgress) ReplyEnd.Sent(text, FFd, answerWords);
  SendBytes(text.data(), int32_t(text.size()));
}

void TSerialPortNG::SetFastReplies(TFastReplies v) {
  // The same setting again (OK in the settings dialog) keeps what was earned.
  if (v == FFastReplies) return;
  FFastReplies = v;
  // Automatic starts on the cut rule: only a line check earns the line end.
  SetReplyRule(v == TFastReplies::On ? TReplyRule::All() : TReplyRule());
}

void TSerialPortNG::SetReplyRule(TReplyRule rule) {
  FRule = rule;
  ReplyEnd.SetRule(rule.Answers, rule.EchoOnly);
}

int32_t TSerialPortNG::NextClusterLength() {
  std::lock_guard<std::mutex> g(ClusterLock);
  return ClusterList.empty() ? -1 : int32_t(ClusterList.front()->Size);
}

int32_t TSerialPortNG::NextClusterCCError() {
  std::lock_guard<std::mutex> g(ClusterLock);
  return ClusterList.empty() ? -1 : int32_t(ClusterList.front()->CCError);
}

std::string TSerialPortNG::ReadNextClusterText() {
  std::lock_guard<std::mutex> g(ClusterLock);
  if (ClusterList.empty()) return std::string();
  std::string text = ClusterList.front()->DataAsString();
  ClusterList.pop_front();
  return text;
}

// Only with fast replies: otherwise the caller keeps its own sleep (and clock).
bool TSerialPortNG::WaitForCluster(uint32_t ms) {
  if (!ReplyEnd.On) return false;
  std::unique_lock<std::mutex> g(ClusterLock);
  ClusterCv.wait_for(g, std::chrono::milliseconds(ms), [&] { return !ClusterList.empty(); });
  return true;
}

void TSerialPortNG::RunInMainThread(std::function<void()> call) {
  if (ThreadQuietMode) return;
  uint64_t id;
  {
    std::lock_guard<std::mutex> g(CallLock);
    if (Destroying) return;
    id = ++NextCallId;
    Calls.push_back({id, std::move(call)});
  }
  if (MainThreadWaker) MainThreadWaker();
  std::unique_lock<std::mutex> g(CallLock);
  CallCv.wait(g, [&] { return LastCallRun >= id || !FActive || Destroying || Worker->Terminated(); });
}

void TSerialPortNG::RunPendingCalls() {
  for (;;) {
    TPendingCall c;
    {
      std::lock_guard<std::mutex> g(CallLock);
      if (Calls.empty() || Destroying) return;
      c = std::move(Calls.front());
      Calls.pop_front();
    }
    c.Call();
    {
      std::lock_guard<std::mutex> g(CallLock);
      LastCallRun = c.Id;
    }
    CallCv.notify_all();
  }
}

// The worker runs in real time, so closing waits on it for real.
bool TSerialPortNG::WaitWorkerIdle(uint32_t ms) {
  std::unique_lock<std::mutex> g(IdleLock);
  return IdleCv.wait_for(g, std::chrono::milliseconds(ms), [&] { return !ThreadIsRunning; });
}

TSerialPortNG *SerialPortNG1 = nullptr;

TSerialPortNG *CreateSerialPortNG1() {
  if (!SerialPortNG1) {
    SerialPortNG1 = new TSerialPortNG();
    SerialPortNG1->SetCommPort("COM1");
    SerialPortNG1->SetBaudRate(19200);
    SerialPortNG1->SetRTOCharDelayTime(570);
    SerialPortNG1->SetWTOCharDelayTime(570);
    SerialPortNG1->SetErrorNoise(255);
  }
  VeriPort() = SerialPortNG1;
  return SerialPortNG1;
}

void DestroySerialPortNG1() {
  if (VeriPort() == SerialPortNG1) VeriPort() = nullptr;
  delete SerialPortNG1;
  SerialPortNG1 = nullptr;
}
