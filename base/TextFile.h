#pragma once
// Whole text files, as the program keeps them: INI files, recipes and the
// controller program files. A write never leaves a half file behind.
#include <string>
#include <sys/types.h>
#include <vector>

// Replaces the file by `text` in one step (temporary file in the same folder,
// fsync, rename): a crash leaves the old or the new file, never a truncated
// one. A failure throws std::system_error with the system's code and leaves
// the old file as it was.
void ReplaceFileAtomically(const std::string &path, const std::string &text, mode_t mode = 0644);

// Appends `text` to the file open at `fd` (O_APPEND) whole or not at all: a
// short write (a full disk) is taken back at once, so no cut line is left.
// False with errno set.
bool AppendWhole(int fd, const std::string &text);

// Creates `path` holding `text`: the file appears whole or not at all, never
// empty or cut. False with errno set; EEXIST when it is there already.
bool CreateWithText(const std::string &path, const std::string &text, mode_t mode = 0644);

// SHA-256 of `text`, 64 lower-case hex digits.
std::string Sha256Hex(const std::string &text);
// The whole file as bytes; false with `error` set when it cannot be read.
bool ReadWholeFile(const std::string &path, std::string &text, std::string &error);

// Reads the file as lines; CR LF and LF both end a line, a last line without
// an end counts. False with `error` set (the system's reason) when the file
// cannot be opened or read.
bool ReadTextLines(const std::string &path, std::vector<std::string> &lines, std::string &error);
