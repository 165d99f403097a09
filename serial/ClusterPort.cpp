#include "serial/ClusterPort.h"

IClusterPort *&VeriPort() {
  static IClusterPort *port = nullptr;
  return port;
}
