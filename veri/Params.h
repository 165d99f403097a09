#pragma once
// Parameter reads and writes, motor current, reference runs and position
// reads. Axis 255 means every axis of the machine (Y only when NMotors is 3).
#include <cstdint>
#include <string>

// value 0 and a text beginning with "*" when the exchange failed or the
// answer held no value; error empty otherwise.
void VERIGetParam(uint8_t address, int32_t number, double &value, std::string &error);
void VERIGetParamI(uint8_t address, int32_t number, int32_t &value, std::string &error);
// Empty, or the failure text of the exchange.
std::string VERIPutParamI(uint8_t address, int32_t number, int32_t value);

void VERIMotorOnOff(uint8_t axis, bool on);
// Runs the axis (255: Z, Y, X in turn) to its reference position and waits,
// processing window events. STOP or a controller that stops answering ends it.
void VERIGotoReference(uint8_t axis);
// Reads P51 into Axes[axis].Position (cm); a failed read leaves it as it was.
// False when the read failed: the axis keeps its last position.
bool VERIGetPosition(uint8_t axis);

// The number after the first "=" (from the second character on) of a
// parameter answer; false when there is none. Open for tests.
bool VERIParamValue(const std::string &answer, double &value);
bool VERIParamValueI(const std::string &answer, int32_t &value);
