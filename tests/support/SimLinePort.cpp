#include "SimLinePort.h"

#include "base/Host.h"

TSimLinePort::TSimLinePort(const std::vector<int> &addresses) : Bus(addresses), Saved(VeriPort()) {
  Bus.Log = [this](const std::string &line) { Log.push_back(line); };
  VeriPort() = this;
}

TSimLinePort::~TSimLinePort() { VeriPort() = Saved; }

int64_t TSimLinePort::Now() const { return static_cast<int64_t>(GetTickCount()); }

void TSimLinePort::SendText(const std::string &text) {
  Sent.push_back(text);
  Bus.Receive(text, Now());
}

void TSimLinePort::Pull() {
  for (auto &piece : Bus.TakeDue(Now())) {
    Queue.push_back({piece, NextCCError});
    NextCCError = 0;
  }
}

int32_t TSimLinePort::NextClusterLength() {
  Pull();
  return Queue.empty() ? -1 : static_cast<int32_t>(Queue.front().Text.size());
}

int32_t TSimLinePort::NextClusterCCError() {
  Pull();
  return Queue.empty() ? -1 : Queue.front().CCError;
}

std::string TSimLinePort::ReadNextClusterText() {
  Pull();
  if (Queue.empty()) return "";
  std::string t = Queue.front().Text;
  Queue.pop_front();
  return t;
}

void TSimLinePort::Inject(const std::string &cluster, int32_t ccError) {
  Pull();
  Queue.push_back({cluster, ccError});
}

std::string TSimLinePort::Control(const std::string &line) { return Bus.Control(line, Now()); }

std::vector<std::string> TSimLinePort::Commands(int address) const {
  std::vector<std::string> out;
  const std::string head = "#" + std::to_string(address) + " ";
  for (auto &s : Sent) {
    if (s.compare(0, head.size(), head) != 0) continue;
    std::string c = s.substr(head.size());
    if (!c.empty() && c.back() == '\r') c.pop_back();
    out.push_back(c);
  }
  return out;
}
