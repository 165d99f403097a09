#pragma once
// What Linux itself says about serial devices, put plainly for the operator:
// which devices exist, and why one would not open.
#include <string>
#include <vector>

// /dev/ttyUSB*, /dev/ttyACM* that exist and /dev/ttyS* with a UART behind
// them (the kernel makes ttyS nodes for ports that are not there), in
// natural order. Nothing is opened, so no adapter sees its DTR line move.
std::vector<std::string> SerialDevices();

// One line that names the device and what to do about the failed open
// (errno `e`), or "" when there is nothing plainer to say than the code.
std::string SerialOpenAdvice(const std::string &path, int e);
// The line for a device that went away while open (adapter unplugged).
std::string SerialLostAdvice(const std::string &path);
