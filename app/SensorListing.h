#pragma once
// --list: the sensors a program could open, one line each on standard
// output, from the same bus the program would use: the virtual sensors of
// --simulate (with --sensors N), or the real ones through libusb.

#include <string>

// Returns the program's exit status: 0 with at least one sensor listed, 1
// (with a message on standard error) when there is none or the bus cannot be
// read.
int ListSensors(const std::string& program, bool simulate, unsigned virtualSensors);
