#include "remote/RemoteServer.h"

const char *StatusPageHtml() { return "<!doctype html><html><body>TODO</body></html>"; }
