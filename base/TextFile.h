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

// Reads the file as lines; CR LF and LF both end a line, a last line without
// an end counts. False with `error` set (the system's reason) when the file
// cannot be opened or read.
bool ReadTextLines(const std::string &path, std::vector<std::string> &lines, std::string &error);
