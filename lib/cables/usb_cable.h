// The USB cable: an EZ-USB microcontroller that receives the library's own
// 8051 firmware at every open, reached through the EZ-USB general-purpose
// driver's devices "\\.\ezusb-N".
#pragma once

#include "cables/cable_ops.h"

namespace velnor {

extern const CableOps usb_cable_ops;

}  // namespace velnor
