#pragma once
// Private profile (INI) files, read and written the way the Windows profile
// calls do, so files written by hand or by the older program read the same:
// - section and key names compare without regard to case;
// - blanks around keys and values are dropped; a line starting with ";" is a
//   comment; unknown lines, comments and the order of everything are kept;
// - the first section of a name and the first key of a name count;
// - CR LF and LF line ends are both read; the file is written with CR LF;
// - a write replaces the value, or appends the key after the last line of its
//   section, or appends the section at the end, creating the file if needed.
// Each write replaces the whole file atomically (temporary file in the same
// folder, fsync, rename), so a crash leaves the old or the new file, never a
// half one. Reads never fail: a missing file, section or key, or a value that
// does not convert, gives the default.
#include <cstdint>
#include <string>

// ".\KVHardware.ini" -> "./KVHardware.ini": a leading ".\" and every
// backslash become "/". Every function below maps its file name this way.
std::string ProfilePath(const std::string &file);

std::string ProfileReadString(const std::string &file, const std::string &section, const std::string &key,
                              const std::string &def);
// Decimal, or hex with a "0x"/"0X" prefix (8 hex digits wrap like a 32-bit word).
int32_t ProfileReadInt(const std::string &file, const std::string &section, const std::string &key,
                       int32_t def);
// Decimal with "." whatever the locale; infinities and NaN do not convert.
double ProfileReadFloat(const std::string &file, const std::string &section, const std::string &key,
                        double def);
// Read as an integer; any non-zero value is true.
bool ProfileReadBool(const std::string &file, const std::string &section, const std::string &key, bool def);

// A failed write throws std::runtime_error("Unable to write to <file>: <reason>")
// and leaves the file as it was. A file without any write permission bit counts
// as read-only, as on Windows, even for a user that could replace it.
void ProfileWriteString(const std::string &file, const std::string &section, const std::string &key,
                        const std::string &value);
void ProfileWriteInt(const std::string &file, const std::string &section, const std::string &key,
                     int32_t value);
// Shortest general form: 54, 20.5, 0.25.
void ProfileWriteFloat(const std::string &file, const std::string &section, const std::string &key,
                       double value);
// 1 or 0.
void ProfileWriteBool(const std::string &file, const std::string &section, const std::string &key,
                      bool value);
