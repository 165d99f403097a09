#pragma once
// "Replies end at the line end": with it on, the worker takes the bytes of
// a reply off the line as they come and closes the cluster as soon as they
// are a complete reply to the frame last sent (its address's echo, more
// words than the echo, CR LF at the end) instead of waiting until the line
// has been quiet for the cut time. Everything else still waits for the cut.
//
// Bytes already waiting when a frame goes out belong to an earlier frame:
// their cluster, and every one until the next frame, is left to the cut.
#include <atomic>
#include <bitset>
#include <cstdint>
#include <mutex>
#include <string>

class TReplyEnd {
public:
  // Some address closes at the line end: the worker takes bytes as they come.
  std::atomic<bool> On{false};
  // The addresses whose replies with answer words, and whose echo-only
  // replies (frames sent without answer words), close at their CR LF.
  void SetRule(const std::bitset<256> &answers, const std::bitset<256> &echoOnly);
  std::bitset<256> Answers();
  std::bitset<256> EchoOnly();

  // Main thread, before the frame is written; fd is the open port.
  void Sent(const std::string &frame, int fd, bool answerWords = true);
  // Worker: moves the `count` bytes the driver holds into the held ones.
  // Returns the bytes read (0 on failure or none).
  uint32_t Take(int fd, uint32_t count);
  uint32_t Held();
  // The held bytes are a complete reply to the frame last sent.
  bool Complete();
  // Hands the held bytes over to a cluster; no early close until the next frame.
  std::string Release();
  // The port is closed: what was held is gone with the line.
  void Clear();

private:
  std::mutex Lock;
  std::string Bytes;
  std::string Address;    // "#3" of the frame last sent
  size_t EchoWords = 0;   // words of that frame
  bool EchoEnds = false;  // its echo alone, with CR LF, is a complete reply
  bool Armed = false;     // a frame went out on a quiet line, no cluster since
  std::bitset<256> AnswersAt, EchoOnlyAt;
};

// Words are runs of characters above code 32.
size_t ReplyWordCount(const std::string &text, std::string *first = nullptr);
// `bytes` are a complete reply to a frame to `address` ("#3") of `echoWords`
// words: one line from that "#" to its only CR LF, more words than the echo
// (or none when `echoEnds`); a status poll's (echo "#3" alone) is "#3 OKn".
bool ReplyComplete(const std::string &bytes, const std::string &address, size_t echoWords, bool echoEnds);
