#include "veri/Utilities.h"

#include <cstring>
#include <system_error>
#include <vector>

#include "base/Host.h"
#include "base/Profile.h"
#include "base/TextFile.h"
#include "veri/Params.h"
#include "veri/Transport.h"

const char *const ProgramCodeFile = ".\\KV1pgm.ini";
const char *const ProgramDownloadFile = ".\\KV1pgmdwn.txt";

void ManualLimitSwitchMove(uint8_t address, int direction) {
  VERIPutParamI(address, 11, 0);
  VERIPutParamI(address, 12, 0);
  VERIDialog(address, "P1019=600");
  VERIPutParamI(address, 1031, direction);
  // The window stays blocked: the move is meant to be this short.
  SleepMs(500);
  const std::string answer = VERIDialog(address, "S");
  ReportLine(" Manual Move LS: HWAddr, Response:" + std::to_string(address) + ", " + answer);
}

bool UploadProgram(uint8_t address, IUploadView &view) {
  view.ShowBar(true);
  ReportLine(std::string("Load pgm code from : ") + ProgramCodeFile);
  std::vector<std::string> code;
  std::string error;
  if (!ReadTextLines(ProfilePath(ProgramCodeFile), code, error)) {
    view.ShowBar(false);
    const std::string text = std::string("Cannot read ") + ProgramCodeFile + ": " + error;
    ReportLine("*** " + text);
    AskOperator(TMsgKind::Error, text, mbOK, mbOK);
    return false;
  }
  const int n = static_cast<int>(code.size());
  ReportLine("Writing pgm code to VERI; please wait! ");
  view.SetBar(1, 2 * n);

  ReportLine("$ rsp to NEW : " + VERIDialog(address, "NEW"));
  for (const std::string &line : code) {
    ReportLine("$ : " + line + " : " + VERIDialog(address, line));
    view.StepBar();
  }
  ReportLine("$ rsp to QUIT : " + VERIDialog(address, "QUIT"));

  ReportLine("Download pgm code from axis " + std::to_string(address));
  std::string listing;
  for (int i = 0; i < n; ++i) {
    const std::string answer = VERIDialog(address, "LIST+");
    listing += answer + "\r\n";
    ReportLine("$ > " + answer);
    view.StepBar();
  }
  ReportLine(std::string("Save pgm download -> ") + ProgramDownloadFile);
  try {
    ReplaceFileAtomically(ProfilePath(ProgramDownloadFile), listing);
  } catch (const std::system_error &e) {
    view.ShowBar(false);
    const std::string text =
        std::string("Cannot write ") + ProgramDownloadFile + ": " + std::strerror(e.code().value());
    ReportLine("*** " + text);
    AskOperator(TMsgKind::Error, text, mbOK, mbOK);
    return false;
  }
  view.ShowBar(false);
  return true;
}
