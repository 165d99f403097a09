#pragma once
// Thin layer over the POSIX tty interface for the serial port component:
// open exclusively, line settings, modem lines, break, queue counts and
// line errors. Every call returns 0 or the errno value of the failure.
#include <cstdint>
#include <string>

// "COM1".."COM8" -> "/dev/ttyS0".."/dev/ttyS7"; a name starting with "/" is
// used as it stands; any other name is looked for under "/dev/".
// Only the first 79 characters of the name count.
std::string SerialDevicePath(const std::string &commPort);

// O_RDWR | O_NOCTTY | O_NONBLOCK, then TIOCEXCL and an exclusive flock;
// a device another opener holds gives EBUSY. fd = -1 on failure.
int LineOpen(const std::string &path, int &fd);
int LineClose(int fd);

// Windows-style codes, as the component keeps them.
struct TLineSettings {
  uint32_t BaudRate = 9600;
  uint8_t DataBits = 8;     // 5..8 work; 4 does not exist here
  uint8_t ParityType = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;     // 0 one, 1 one and a half (with 5 data bits only), 2 two
  int32_t FlowControl = 0;  // DCB bits: 0x0380 XON/XOFF, 0x2004 RTS/CTS, 0x0028 DSR/DTR (not here)
  char XONChar = 17;
  char XOFFChar = 19;
};

// Raw mode, reads return at once (VMIN 0, VTIME 0). Everything the platform
// can do is applied even when one setting cannot be; that one makes the
// result EINVAL.
int LineApply(int fd, const TLineSettings &s);
// Reads back what the driver holds (tests, diagnostics).
int LineRead(int fd, TLineSettings &s);

// Modem control: bit is TIOCM_DTR_BIT or TIOCM_RTS_BIT. A tty without modem lines
// (a pseudo-terminal) counts as success.
constexpr int TIOCM_DTR_BIT = 0x002, TIOCM_RTS_BIT = 0x004;
int LineSetModemBit(int fd, int bit, bool on);
int LineSetBreak(int fd, bool on);
// Windows modem status word: CTS 0x10, DSR 0x20, RING 0x40, RLSD 0x80
// (0 on a tty without modem lines).
int LineModemStatus(int fd, uint32_t &word);

// Error counters of the driver; all 0 where it has none.
struct TLineCounters {
  uint32_t Frame = 0, Overrun = 0, Parity = 0, Brk = 0, BufOverrun = 0;
};
int LineCounters(int fd, TLineCounters &c);
// CE_ flags for the errors counted between two readings.
uint32_t LineErrorFlags(const TLineCounters &before, const TLineCounters &after);

int LineInQueue(int fd, uint32_t &count);
int LineOutQueue(int fd, uint32_t &count);
// Throws away what waits in both directions.
int LineFlush(int fd);

constexpr uint32_t CE_RXOVER = 0x0001, CE_OVERRUN = 0x0002, CE_RXPARITY = 0x0004, CE_FRAME = 0x0008,
                   CE_BREAK = 0x0010;
