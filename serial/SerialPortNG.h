#pragma once
// The serial port component: one tty, every line parameter as a property,
// a worker thread (TWorkThread) that cuts received bytes into clusters, and
// one error event with place numbers.
//
// Threads: everything here is called from the main thread. The worker never
// calls a handler itself; it queues the call and waits until the main thread
// has run it (RunPendingCalls). It stops waiting as soon as the port is
// being closed or the component destroyed, so a main thread that closes the
// port, or waits on the worker in any other way, cannot deadlock with it;
// calls queued by then still run at the next RunPendingCalls (none after
// destruction has begun). Assign MainThreadWaker (called from the worker
// thread) to have RunPendingCalls scheduled, e.g. by a queued Qt call.
// Handlers are plain std::function fields: assign them while the port is
// closed.
//
// Failures go to OnProcessError; with no handler assigned they go to the
// report log: errors as "*** Serial port ...", warnings as plain lines,
// progress messages as "$" traces. Places 113 (why an open failed) and 114
// (device gone) are plain sentences that name the device and the fix.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "serial/ClusterPort.h"
#include "serial/ReplyEnd.h"

class TSerialPortNG;
class TWorkThread;

using TNotifyEvent = std::function<void(TSerialPortNG *sender)>;
using TNotifyErrorEvent = std::function<void(TSerialPortNG *sender, uint32_t place, uint32_t code,
                                             const std::string &msg, uint8_t noise)>;

// DCB flag bits of the four flow-control choices.
constexpr int32_t fcNone = 0, fcXOnXOff = 0x0380, fcRtsCts = 0x2004, fcDsrDtr = 0x0028;

constexpr uint32_t INVALID_HANDLE_VALUE = 0xFFFFFFFFu;

// Status bits of CommStateFlags, bit 0 to 6.
enum TCommStateFlag : uint8_t {
  fCtlHold = 0x01,
  fDsrHold = 0x02,
  fRlsHold = 0x04,
  fXoffHold = 0x08,
  fXOffSent = 0x10,
  fEof = 0x20,
  fTxim = 0x40
};

// Event mask bits.
constexpr uint32_t EV_RXCHAR = 0x0001, EV_RXFLAG = 0x0002, EV_TXEMPTY = 0x0004, EV_CTS = 0x0008,
                   EV_DSR = 0x0010, EV_RLSD = 0x0020, EV_BREAK = 0x0040, EV_ERR = 0x0080, EV_RING = 0x0100;

// One piece of received input.
class TSerialCluster {
public:
  TSerialCluster(const char *bytes, uint32_t size, uint32_t error);
  std::unique_ptr<char[]> Data;  // null when Size is 0
  uint32_t Size;
  uint32_t CCError;
  std::string DataAsString() const;
};

class TSerialPortNG : public IClusterPort {
public:
  explicit TSerialPortNG(void *owner = nullptr);
  ~TSerialPortNG() override;
  TSerialPortNG(const TSerialPortNG &) = delete;
  TSerialPortNG &operator=(const TSerialPortNG &) = delete;

  bool Active() const { return FActive; }
  void SetActive(bool v);
  uint32_t ComHandle() const { return FFd < 0 ? INVALID_HANDLE_VALUE : uint32_t(FFd.load()); }
  const std::string &CommPort() const { return FCommPort; }
  void SetCommPort(const std::string &v);
  uint32_t BaudRate() const { return FBaudRate; }
  void SetBaudRate(uint32_t v);
  uint8_t ParityType() const { return FParityType; }
  void SetParityType(uint8_t v) { SetAndApply(FParityType, v); }
  char ParityErrorChar() const { return FParityErrorChar; }
  void SetParityErrorChar(char v) { SetAndApply(FParityErrorChar, v); }
  bool ParityErrorReplacement() const { return FParityErrorReplacement; }
  void SetParityErrorReplacement(bool v) { SetAndApply(FParityErrorReplacement, v); }
  uint8_t StopBits() const { return FStopBits; }
  void SetStopBits(uint8_t v) { SetAndApply(FStopBits, v); }
  uint8_t DataBits() const { return FDataBits; }
  void SetDataBits(uint8_t v) { SetAndApply(FDataBits, v); }
  char XONChar() const { return FXONChar; }
  void SetXONChar(char v) { SetAndApply(FXONChar, v); }
  char XOFFChar() const { return FXOFFChar; }
  void SetXOFFChar(char v) { SetAndApply(FXOFFChar, v); }
  uint8_t XONLimDiv() const { return FXONLimDiv; }
  void SetXONLimDiv(uint8_t v);
  uint8_t XOFFLimDiv() const { return FXOFFLimDiv; }
  void SetXOFFLimDiv(uint8_t v);
  int32_t FlowControl() const { return FFlowControl; }
  void SetFlowControl(int32_t v) { SetAndApply(FFlowControl, v); }
  bool StripNullChars() const { return FStripNullChars; }
  void SetStripNullChars(bool v);
  char EventChar() const { return FEventChar; }
  void SetEventChar(char v) { SetAndApply(FEventChar, v); }
  uint32_t RTOCharDelayTime() const { return FRTOCharDelayTime; }
  void SetRTOCharDelayTime(uint32_t v) { FRTOCharDelayTime = v; }
  uint16_t RTOExtraDelayTime() const { return FRTOExtraDelayTime; }
  void SetRTOExtraDelayTime(uint16_t v) { FRTOExtraDelayTime = v; }
  uint16_t ClusterSize() const { return FClusterSize; }
  void SetClusterSize(uint16_t v) { FClusterSize = v; }
  uint16_t RxQueueSize() const { return FRxQueueSize; }
  void SetRxQueueSize(uint16_t v);
  uint16_t TxQueueSize() const { return FTxQueueSize; }
  void SetTxQueueSize(uint16_t v);
  uint32_t WTOCharDelayTime() const { return FWTOCharDelayTime; }
  void SetWTOCharDelayTime(uint32_t v) { SetAndApply(FWTOCharDelayTime, v); }
  uint16_t WTOExtraDelayTime() const { return FWTOExtraDelayTime; }
  void SetWTOExtraDelayTime(uint16_t v) { SetAndApply(FWTOExtraDelayTime, v); }
  bool XTOAuto() const { return FXTOAuto; }
  void SetXTOAuto(bool v);
  bool RTSState() const { return FRTSState; }
  void SetRTSState(bool v);
  bool DTRState() const { return FDTRState; }
  void SetDTRState(bool v);
  bool BREAKState() const { return FBREAKState; }
  void SetBREAKState(bool v);
  bool CTSState() const { return FCTSState; }
  bool DSRState() const { return FDSRState; }
  bool RLSDState() const { return FRLSDState; }
  bool RingState() const { return FRingState; }
  uint8_t ErrorNoise() const { return FErrorNoise; }
  void SetErrorNoise(uint8_t v) { FErrorNoise = v; }
  bool ReadRequest() const { return FReadRequest; }
  void SetReadRequest(bool v);
  bool SendInProgress() const { return FSendInProgress; }
  // "Replies end at the line end" (see TReplyEnd): Off, On, or Automatic
  // (the default: at the line end once a line check passed, see ReplyRule).
  TFastReplies FastReplies() const { return FFastReplies; }
  void SetFastReplies(TFastReplies v);
  TFastReplies FastRepliesSetting() const override { return FFastReplies; }
  TReplyRule ReplyRule() const override { return FRule; }
  void SetReplyRule(TReplyRule rule) override;
  std::string TakeHeld() override { return ReplyEnd.Release(); }
  uint32_t CommError() const { return FCommError; }
  uint8_t CommStateFlags() const { return FCommStateFlags; }
  uint32_t CommStateInQueue() const { return FCommStateInQueue; }
  uint32_t CommStateOutQueue() const { return FCommStateOutQueue; }
  uint32_t ModemState() const { return FModemState; }
  uint32_t CommEvent() const { return FCommEvent; }
  uint32_t WrittenBytes() const { return FWrittenBytes; }
  // When true the worker raises no events and relays no reports.
  std::atomic<bool> ThreadQuietMode{false};

  TNotifyEvent OnCommEvent, OnCommStat, OnTxQueueEmptyEvent, OnWriteDone, OnBreakEvent, OnCTSEvent,
      OnDSREvent, OnLineErrorEvent, OnRingEvent, OnRIEvent, OnRLSDEvent, OnRxClusterEvent, OnRxCharEvent,
      OnRxEventCharEvent;
  TNotifyErrorEvent OnProcessError;
  // Called from the worker thread whenever a call waits for RunPendingCalls.
  std::function<void()> MainThreadWaker;

  void ReopenPort(bool activate);
  // True while nothing can cross the line (closed, or the device went away).
  // A device found gone is reported once (place 114) and the port closed,
  // so Active true reopens it when it is back.
  bool LineDown() override;
  void ApplyCommSettings();
  void UpdateXTOAuto();
  void ProcessError(uint32_t place, uint32_t code, uint8_t noise, const std::string &msg);

  // One write of count bytes; the bytes are copied, so the caller may free them.
  void SendBytes(const char *buffer, int32_t count);
  void SendText(const std::string &text) override;
  void SendFrame(const std::string &text, bool answerWords) override;
  int32_t NextClusterLength() override;
  int32_t NextClusterCCError() override;
  std::string ReadNextClusterText() override;
  bool WaitForCluster(uint32_t ms) override;

  // Main thread: runs the calls the worker has queued, oldest first.
  void RunPendingCalls();

private:
  friend class TWorkThread;
  template <class T, class V>
  void SetAndApply(T &field, V v) {
    if (field == v) return;
    field = v;
    if (Active()) ApplyCommSettings();
  }
  void SetupQueues(uint32_t place);
  // Worker side of the hand-over.
  void RunInMainThread(std::function<void()> call);
  bool WaitWorkerIdle(uint32_t ms);

  std::atomic<bool> FActive{false};
  std::atomic<int> FFd{-1};
  std::string FCommPort = "COM1";
  uint32_t FBaudRate = 9600;
  uint8_t FParityType = 0;
  char FParityErrorChar = 0;
  bool FParityErrorReplacement = false;
  uint8_t FStopBits = 0;
  uint8_t FDataBits = 8;
  char FXONChar = 17, FXOFFChar = 19;
  uint8_t FXONLimDiv = 33, FXOFFLimDiv = 33;
  int32_t FFlowControl = 0;
  std::atomic<bool> FStripNullChars{false};
  char FEventChar = 0;
  std::atomic<uint32_t> FRTOCharDelayTime{1100};
  std::atomic<uint16_t> FRTOExtraDelayTime{250};
  std::atomic<uint16_t> FClusterSize{3072};
  uint16_t FRxQueueSize = 4096, FTxQueueSize = 4096;
  uint32_t FWTOCharDelayTime = 1100;
  uint16_t FWTOExtraDelayTime = 250;
  bool FXTOAuto = true;
  bool FRTSState = true, FDTRState = true, FBREAKState = false;
  std::atomic<bool> FCTSState{false}, FDSRState{false}, FRLSDState{false}, FRingState{false};
  std::atomic<uint8_t> FErrorNoise{255};
  std::atomic<bool> FReadRequest{false};
  std::atomic<bool> FSendInProgress{false};
  std::atomic<uint32_t> FCommError{0};
  std::atomic<uint8_t> FCommStateFlags{0};
  std::atomic<uint32_t> FCommStateInQueue{0}, FCommStateOutQueue{0};
  std::atomic<uint32_t> FModemState{0}, FCommEvent{0}, FWrittenBytes{0};

  // Write hand-over: filled by SendBytes before SendInProgress is set, then
  // owned by the worker until it clears SendInProgress.
  uint32_t RequestedWriteCount = 0;
  std::string PendingWrite;
  size_t PendingWritten = 0;
  uint32_t WriteTimeoutMs = 0;
  uint32_t WriteStartTick = 0;
  std::atomic<bool> WriteAbort{false};

  // Set by the worker when the open device hangs up; cleared by an open.
  std::atomic<bool> FLineLost{false};
  std::atomic<bool> ThreadIsRunning{false};
  std::atomic<bool> Destroying{false};
  std::mutex IdleLock;
  std::condition_variable IdleCv;  // ThreadIsRunning cleared
  // Held by the worker for one pass, by ReopenPort around close(): the
  // descriptor is never closed (and its number reused) under the worker.
  std::mutex FdLock;

  std::mutex ClusterLock;
  std::deque<std::unique_ptr<TSerialCluster>> ClusterList;
  std::condition_variable ClusterCv;  // a cluster was appended
  TReplyEnd ReplyEnd;
  TFastReplies FFastReplies = TFastReplies::Automatic;
  TReplyRule FRule;  // main thread; ReplyEnd holds the worker's copy

  struct TPendingCall {
    uint64_t Id;
    std::function<void()> Call;
  };
  std::mutex CallLock;
  std::condition_variable CallCv;
  std::deque<TPendingCall> Calls;
  uint64_t NextCallId = 0, LastCallRun = 0;

  std::unique_ptr<TWorkThread> Worker;
};

// The program's one port. CreateSerialPortNG1 makes it with "COM1", 19200
// baud, 570 us char delays and ErrorNoise 255 (closed) and points VeriPort()
// at it; DestroySerialPortNG1 closes and frees it and clears VeriPort().
extern TSerialPortNG *SerialPortNG1;
TSerialPortNG *CreateSerialPortNG1();
void DestroySerialPortNG1();
