#include "serial/ReplyEnd.h"

#include <cerrno>
#include <unistd.h>

#include "serial/SerialLine.h"

size_t ReplyWordCount(const std::string &text, std::string *first) {
  size_t words = 0;
  bool inWord = false;
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool sep = c >= 1 && c <= 32;
    if (!sep && !inWord) ++words;
    if (!sep && words == 1 && first) *first += ch;
    inWord = !sep;
  }
  return words;
}

void TReplyEnd::Sent(const std::string &frame, int fd) {
  std::string address;
  const size_t words = ReplyWordCount(frame, &address);
  uint32_t waiting = 0;
  if (fd >= 0 && LineInQueue(fd, waiting)) waiting = 1;  // unknown: not a quiet line
  std::lock_guard<std::mutex> g(Lock);
  Address = address;
  EchoWords = words;
  Armed = On && address.size() > 1 && address[0] == '#' && Bytes.empty() && waiting == 0;
}

uint32_t TReplyEnd::Take(int fd, uint32_t count) {
  std::lock_guard<std::mutex> g(Lock);
  const size_t old = Bytes.size();
  Bytes.resize(old + count);
  ssize_t r;
  do {
    r = ::read(fd, &Bytes[old], count);
  } while (r < 0 && errno == EINTR);
  Bytes.resize(old + size_t(r > 0 ? r : 0));
  return uint32_t(r > 0 ? r : 0);
}

uint32_t TReplyEnd::Held() {
  std::lock_guard<std::mutex> g(Lock);
  return uint32_t(Bytes.size());
}

bool TReplyEnd::Complete() {
  std::lock_guard<std::mutex> g(Lock);
  const size_t n = Bytes.size();
  if (!Armed || n < 2 || Bytes[n - 2] != '\r' || Bytes[n - 1] != '\n') return false;
  std::string first;
  return ReplyWordCount(Bytes, &first) > EchoWords && first == Address;
}

std::string TReplyEnd::Release() {
  std::lock_guard<std::mutex> g(Lock);
  Armed = false;
  std::string out;
  out.swap(Bytes);
  return out;
}

void TReplyEnd::Clear() {
  std::lock_guard<std::mutex> g(Lock);
  Bytes.clear();
  Armed = false;
}
