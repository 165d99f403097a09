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

bool ReplyComplete(const std::string &bytes, const std::string &address, size_t echoWords, bool echoEnds) {
  const size_t n = bytes.size();
  if (n < 2 || bytes[n - 2] != '\r' || bytes[n - 1] != '\n' || bytes[0] != '#') return false;
  // One line only: a CR LF inside is a reply in two lines or two replies.
  if (bytes.find("\r\n") != n - 2) return false;
  std::string first;
  const size_t words = ReplyWordCount(bytes, &first);
  if (echoWords == 1 && !echoEnds) {
    // Any line of this controller "echoes" a poll: only "OK" and the state answer it.
    const size_t ok = bytes.find_first_not_of(" \t", first.size());
    if (ok == std::string::npos || bytes.compare(ok, 2, "OK") != 0) return false;
  }
  return first == address && (words > echoWords || (echoEnds && words == echoWords));
}

void TReplyEnd::SetRule(const std::bitset<256> &answers, const std::bitset<256> &echoOnly) {
  std::lock_guard<std::mutex> g(Lock);
  AnswersAt = answers;
  EchoOnlyAt = echoOnly;
  On = answers.any() || echoOnly.any();
}

std::bitset<256> TReplyEnd::Answers() {
  std::lock_guard<std::mutex> g(Lock);
  return AnswersAt;
}

std::bitset<256> TReplyEnd::EchoOnly() {
  std::lock_guard<std::mutex> g(Lock);
  return EchoOnlyAt;
}

void TReplyEnd::Sent(const std::string &frame, int fd, bool answerWords) {
  std::string address;
  const size_t words = ReplyWordCount(frame, &address);
  uint32_t waiting = 0;
  if (fd >= 0 && LineInQueue(fd, waiting)) waiting = 1;  // unknown: not a quiet line
  int number = -1;
  if (address.size() > 1 && address.size() <= 4 && address[0] == '#' &&
      address.find_first_not_of("0123456789", 1) == std::string::npos)
    number = std::stoi(address.substr(1));
  std::lock_guard<std::mutex> g(Lock);
  Address = address;
  EchoWords = words;
  EchoEnds = !answerWords;
  const bool earned = number >= 0 && number < 256 && (answerWords ? AnswersAt : EchoOnlyAt)[size_t(number)];
  Armed = earned && Bytes.empty() && waiting == 0;
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
  return Armed && ReplyComplete(Bytes, Address, EchoWords, EchoEnds);
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
