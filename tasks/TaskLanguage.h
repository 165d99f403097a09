#pragma once
// The task line interpreter: walks a line such as "(A + B)*2 + C" once from
// left to right and hands every process name to a callback, as often as its
// term's count says, at the moment the walk reaches it. There is no syntax
// tree: a fault stops the walk where it is found, after the terms before it
// have been handed over.
#include <cstdint>
#include <functional>
#include <string>

// Modes handed through to the callback.
constexpr uint8_t TaskModeCheck = 1;
constexpr uint8_t TaskModeRun = 2;

// Task error word bits set by the walk itself. Bits 7 to 13 belong to the
// callback (process execution).
constexpr int TaskErrEmpty = 0;      // the line is empty
constexpr int TaskErrFirstChar = 1;  // first character not blank, "(" or a letter
constexpr int TaskErrNoClose = 2;    // "(" without its ")"
constexpr int TaskErrCount = 3;      // "*" without a valid count
constexpr int TaskErrJoin = 4;       // a term not followed by "+", or a "+" ending its range

// Called for every name: (name, mode, nesting level, error word, remaining
// count). The callback reports a failure by setting a bit in the error word;
// any non-zero word stops the walk.
using TaskTermCallback =
    std::function<void(const std::string &name, uint8_t mode, uint8_t level, uint16_t &error, int32_t count)>;

// Walks `line` and returns the error word (0 = no fault).
uint16_t ParseTask(const std::string &line, uint8_t mode, const TaskTermCallback &callback);

// Whether bit n (0..31) of value is 1; false for n outside 0..31.
bool BitIsSet(int n, uint32_t value);
// Sets (on) or clears bit n (0..15) of word; n outside 0..15 changes nothing.
void SetFlag(uint16_t &word, int n, bool on);
