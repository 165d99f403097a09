#pragma once
// What the editor panels do with the recipe and the operator settings,
// apart from the widgets: number formats, range limits, names and the
// task-line builder. Every Take* converts a field's text (a text that is not
// a finite number raises EConvertError and changes nothing), limits it to its
// range, stores it in the current entry and returns the value stored.
#include <cstdint>
#include <string>

// Positions and times: 5 significant digits, then 2 decimals ("12.30").
std::string FormatPosition(double value);
// Speeds: 7 significant digits, then 4 decimals ("0.2500").
std::string FormatSpeed(double value);
// Rounds to `significant` digits, then shows `decimals` digits after ".";
// exponent form when more than `significant` digits stand before the point.
std::string FormatFixed(double value, int significant, int decimals);

// A finite number with "." as separator, else EConvertError.
double ReadNumber(const std::string &text);
// Below `low` gives `low`, above `high` gives `high`.
double LimitTo(double value, double low, double high);

// A name as stored: blanks, control characters and ";" (which would split
// the record in the definitions file) become "_", cut to 16 characters.
std::string CleanName(const std::string &text);
// The first line of a text, cut to the length of a task line.
std::string TaskLineOf(const std::string &text);

// Position panel, current position. axis 1 = X, 2 = Y.
double TakePosCoord(int axis, const std::string &text);

// Process panel, current process.
enum class TProcNumber { UpperPos, LowPos, InSpeed, OutSpeed, InTime, OutTime };
double TakeProcNumber(TProcNumber field, const std::string &text);
int32_t TakeNoTunks(const std::string &text);
// The channel lists only matter for dips driven step by step.
bool ChannelListsEnabled(double inTime);

// Settings panel.
enum class TSetting { HomeX, HomeY, HomeZ, StandardZ, StandardV };
double TakeSetting(TSetting field, const std::string &text);

// "Get" buttons: the live axis values, without range limits.
void GetPosXY();               // X, and Y when there is a Y axis
void GetProcZ(bool upper);     // Z top or Z bottom
void GetProcSpeed(bool down);  // V down or V up, from the speed display
void GetHomeXYZ();             // Y only when there is a Y axis
void GetStandardZ();
void GetStandardV();  // the present speed of manual moves

// "Goto XY": Z to the standard height, then Y (if any) and X to the texts
// of the position fields, within the travel limits. Both texts are checked
// before anything moves.
void GotoXY(const std::string &xText, const std::string &yText);

// Task-line builder: appends to the current task's line, cut to 255.
enum class TBuilderItem { Process, Bra, Plus, Ket, Star };
// `processNo` is used with TBuilderItem::Process only.
void AddToTaskLine(TBuilderItem item, int processNo = 0);
