#include "serial/SerialLine.h"

// termios2 (any baud rate) lives in the kernel's header, which clashes with
// <termios.h>; this file is the only one that sees it.
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

std::string SerialDevicePath(const std::string &commPort) {
  std::string name = commPort.substr(0, 79);
  if (!name.empty() && name[0] == '/') return name;
  if (name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0) &&
      name[3] >= '1' && name[3] <= '8')
    return "/dev/ttyS" + std::string(1, char(name[3] - 1));
  return "/dev/" + name;
}

int LineOpen(const std::string &path, int &fd) {
  fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  // TIOCEXCL does not hold off root; the lock holds off every opener that
  // asks for it (this program, picocom, ...).
  int e = ::ioctl(fd, TIOCEXCL) != 0 ? errno : 0;
  if (!e && ::flock(fd, LOCK_EX | LOCK_NB) != 0) e = errno == EWOULDBLOCK ? EBUSY : errno;
  if (e) {
    ::close(fd);
    fd = -1;
  }
  return e;
}

int LineClose(int fd) {
  if (fd < 0) return EBADF;
  ::ioctl(fd, TIOCNXCL);
  return ::close(fd) == 0 ? 0 : errno;
}

namespace {
// Rates with their own Bnnn code; the rest go through BOTHER.
speed_t StandardCode(uint32_t baud) {
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return 0;
  }
}
static_assert(TIOCM_DTR_BIT == TIOCM_DTR && TIOCM_RTS_BIT == TIOCM_RTS, "modem bits");
bool ModemLess(int e) { return e == ENOTTY || e == EINVAL; }
}  // namespace

int LineApply(int fd, const TLineSettings &s) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  int result = 0;
  t.c_iflag = IGNBRK;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL;
  speed_t code = StandardCode(s.BaudRate);
  if (s.BaudRate == 0) {
    result = EINVAL;
    code = B9600;
  }
  if (code) {
    t.c_cflag |= code;
  } else {
    t.c_cflag |= BOTHER;
    t.c_ispeed = t.c_ospeed = s.BaudRate;
  }
  switch (s.DataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default:
      t.c_cflag |= CS8;
      result = EINVAL;
      break;
  }
  switch (s.ParityType) {
    case 0: break;
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: result = EINVAL; break;
  }
  if (s.ParityType >= 1 && s.ParityType <= 4) t.c_iflag |= INPCK;
  // With five data bits the UART's second stop bit is one and a half long.
  if (s.StopBits == 2 || (s.StopBits == 1 && s.DataBits == 5)) t.c_cflag |= CSTOPB;
  else if (s.StopBits != 0) result = EINVAL;
  if (s.FlowControl & 0x0004) t.c_cflag |= CRTSCTS;
  if (s.FlowControl & 0x0100) t.c_iflag |= IXON;
  if (s.FlowControl & 0x0200) t.c_iflag |= IXOFF;
  if (s.FlowControl & 0x0008) result = EINVAL;  // DSR/DTR handshake: no such thing here
  t.c_cc[VSTART] = static_cast<cc_t>(s.XONChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.XOFFChar);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::ioctl(fd, TCSETS2, &t) != 0) return errno;
  return result;
}

int LineRead(int fd, TLineSettings &s) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  s.BaudRate = t.c_ospeed;
  switch (t.c_cflag & CSIZE) {
    case CS5: s.DataBits = 5; break;
    case CS6: s.DataBits = 6; break;
    case CS7: s.DataBits = 7; break;
    default: s.DataBits = 8; break;
  }
  if (!(t.c_cflag & PARENB)) s.ParityType = 0;
  else if (t.c_cflag & CMSPAR) s.ParityType = (t.c_cflag & PARODD) ? 3 : 4;
  else s.ParityType = (t.c_cflag & PARODD) ? 1 : 2;
  s.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
  s.FlowControl = 0;
  if (t.c_cflag & CRTSCTS) s.FlowControl |= 0x2004;
  if (t.c_iflag & (IXON | IXOFF)) s.FlowControl |= 0x0380;
  s.XONChar = static_cast<char>(t.c_cc[VSTART]);
  s.XOFFChar = static_cast<char>(t.c_cc[VSTOP]);
  return 0;
}

int LineSetModemBit(int fd, int bit, bool on) {
  if (fd < 0) return EBADF;
  if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return 0;
  return ModemLess(errno) ? 0 : errno;
}

int LineSetBreak(int fd, bool on) {
  if (fd < 0) return EBADF;
  return ::ioctl(fd, on ? TIOCSBRK : TIOCCBRK) == 0 ? 0 : errno;
}

int LineModemStatus(int fd, uint32_t &word) {
  word = 0;
  int bits = 0;
  if (::ioctl(fd, TIOCMGET, &bits) != 0) return ModemLess(errno) ? 0 : errno;
  if (bits & TIOCM_CTS) word |= 0x10;
  if (bits & TIOCM_DSR) word |= 0x20;
  if (bits & TIOCM_RI) word |= 0x40;
  if (bits & TIOCM_CD) word |= 0x80;
  return 0;
}

int LineCounters(int fd, TLineCounters &c) {
  c = TLineCounters{};
  serial_icounter_struct ic{};
  if (::ioctl(fd, TIOCGICOUNT, &ic) != 0) return ModemLess(errno) ? 0 : errno;
  c.Frame = ic.frame;
  c.Overrun = ic.overrun;
  c.Parity = ic.parity;
  c.Brk = ic.brk;
  c.BufOverrun = ic.buf_overrun;
  return 0;
}

uint32_t LineErrorFlags(const TLineCounters &b, const TLineCounters &a) {
  uint32_t f = 0;
  if (a.BufOverrun != b.BufOverrun) f |= CE_RXOVER;
  if (a.Overrun != b.Overrun) f |= CE_OVERRUN;
  if (a.Parity != b.Parity) f |= CE_RXPARITY;
  if (a.Frame != b.Frame) f |= CE_FRAME;
  if (a.Brk != b.Brk) f |= CE_BREAK;
  return f;
}

int LineInQueue(int fd, uint32_t &count) {
  int n = 0;
  count = 0;
  if (::ioctl(fd, FIONREAD, &n) != 0) return errno;
  count = n > 0 ? uint32_t(n) : 0;
  return 0;
}

int LineOutQueue(int fd, uint32_t &count) {
  int n = 0;
  count = 0;
  if (::ioctl(fd, TIOCOUTQ, &n) != 0) return errno;
  count = n > 0 ? uint32_t(n) : 0;
  return 0;
}

int LineFlush(int fd) { return ::ioctl(fd, TCFLSH, TCIOFLUSH) == 0 ? 0 : errno; }
