#pragma once
// The definitions file (".dip"): one record per line, fields separated by
// ";", comment lines beginning with "#". Written with CR LF; CR LF and LF
// are read. Slot 0 of each table is never written.
#include <functional>
#include <string>
#include <vector>

#include "recipes/Definitions.h"

extern const char *const LastDefinitionsFile;  // "LastDefinitions.dip"

// Cuts a line into fields at every ";" and every run of blanks or control
// characters; an empty field only where a ";" follows the line's start or
// another ";", or ends the line. No quoting.
std::vector<std::string> SplitFields(const std::string &line);

// The whole file as text. An empty `Line` becomes two blanks in the task
// table too, as it is written. Names are written without blanks or ";".
std::string FormatDefinitions();

// The same text, leaving the tables exactly as they are.
std::string DefinitionsText();

struct TDefRecord {
  enum TKind { Pos, Proc, Task } Kind = Pos;
  TPosEntry PosEntry;
  TProcEntry ProcEntry;
  TTaskEntry TaskEntry;
};

// Reads the records of a file's lines (line ends already taken off) without
// touching the tables. On the first malformed record: false, and `error`
// names the line number and the field.
bool ParseDefinitions(const std::vector<std::string> &lines, std::vector<TDefRecord> &records,
                      std::string &error);
// Puts parsed records into the tables after the present entries, in file
// order, with the "$ ... detected" report line of each; a record that finds
// its table full is skipped. Each current slot ends on its table's last entry.
void ApplyDefinitions(const std::vector<TDefRecord> &records);

// The file commands without their dialogs. Both write the report lines and
// show an error box on failure (returning false).
// Saving writes a temporary file beside the target that replaces it only
// once complete: a failed save leaves the old file as it was.
bool SaveDefinitions(const std::string &path);
// `append` false: the tables are reset first, but only once the whole file
// has been read and checked; a file that fails leaves everything unchanged.
// `refresh` runs after the tables are filled (the editor panels).
bool LoadDefinitions(const std::string &path, bool append, const std::function<void()> &refresh);

// The .dip file last loaded or saved, for the run record: its path, its
// text as read or written, and the tables' text right after (to tell edits
// made since). Empty until a file is loaded or saved.
struct TDefinitionsSource {
  std::string Path, Text, Sha256, TablesText;
  bool Appended = false;  // loaded onto tables that held more
};
const TDefinitionsSource &DefinitionsSource();
