#include "serial/ClusterPort.h"

IClusterPort *&VeriPort() {
  static IClusterPort *port = nullptr;
  return port;
}

std::string ReplyRuleText(const IClusterPort &port) {
  switch (port.FastRepliesSetting()) {
    case TFastReplies::Off: return "off";
    case TFastReplies::On: return "on";
    default: return port.ReplyRule().AtLineEnd() ? "automatic, at the line end" : "automatic, by the cut rule";
  }
}
