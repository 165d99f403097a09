#pragma once
// Who may do what on the remote server, decided from a screened request
// alone (so the fuzz target judges exactly what the server does).
//
// Local: only this computer's names for itself with the server's port are
// served ("Host"), and a request sent by a page of another origin is refused
// ("Origin"), so neither another web page nor DNS rebinding reads it; reading
// needs no token. Lab: reading needs the read token or the control token,
// from "Authorization: Bearer" or "?token=". Everywhere STOP needs the
// control token in "Authorization: Bearer", which no other page can send.
#include <string>

#include "remote/HttpGate.h"

enum class TRoute { None, Page, Status, Runs, RunFile, Version, Events, Stop };

struct TAccess {
  bool Lab = false;
  int Port = 0;  // the server's own
  std::string ReadToken, ControlToken;
};

struct TVerdict {
  int Status = 0;  // 0: served by Route; else 400, 401, 403, 404 or 405
  TRoute Route = TRoute::None;
  bool Full = false;  // "?full=1" of the status
  std::string Name;   // the record of RunFile, a plain file name
  std::string Path;   // the path as sent (percent-encoded), for the log of a refusal
};

TVerdict JudgeRequest(const THttpHead &head, const TAccess &access);
// The token of "Authorization: Bearer <token>" (the scheme in any case); "" when none.
std::string BearerToken(const std::string &authorization);
