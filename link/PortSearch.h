#pragma once

#include <string>

#include "platform/Prompt.h"
#include "platform/Registry.h"

namespace ketrion {

// The port name used when the registry names no card port. It cannot be
// opened on Linux, so the open that follows reports the missing board.
inline constexpr const char* kDefaultPortName = "COM1:";

// Finds the board's serial port in the registry's "Drivers\Active": first any
// driver whose PnpId begins with "Quatech" or "CF-Serial_I-O"; failing that,
// after the message "Could not find Quatech CF card.", the keys "00" to "50"
// whose PnpId begins with "Socket". Returns the matching driver's Name, or
// kDefaultPortName. Registry failures on single keys or values skip that key.
std::string FindBoardPort(const Registry& registry, Prompt& prompt);

}  // namespace ketrion
