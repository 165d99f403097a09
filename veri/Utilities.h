#pragma once
// Service operations of the VERI utilities dialog: a short move off a limit
// switch, and the upload of a controller program with its read-back.
#include <cstdint>
#include <string>

extern const char *const ProgramCodeFile;      // ".\KV1pgm.ini"
extern const char *const ProgramDownloadFile;  // ".\KV1pgmdwn.txt"

// The upload's progress bar.
class IUploadView {
public:
  virtual ~IUploadView() = default;
  virtual void ShowBar(bool visible) = 0;
  virtual void SetBar(int position, int maximum) = 0;
  virtual void StepBar() = 0;
};

// Moves the axis at `address` for about half a second: direction 1 back / up,
// 2 forward / down. Clears the error and warning registers first.
void ManualLimitSwitchMove(uint8_t address, int direction);

// Sends the lines of the program code file to the controller between "NEW"
// and "QUIT", lists them back with as many "LIST+" and writes the answers to
// the download file. A code file that cannot be read stops it before
// anything is sent; both file errors are shown to the operator. False when
// a file error ended it.
bool UploadProgram(uint8_t address, IUploadView &view);
