// The USB cable: an EZ-USB microcontroller that receives the library's own
// 8051 firmware at every open.
#pragma once

#include <array>
#include <cstdint>

#include "cables/cable.h"
#include "cables/usb/ezusb_device.h"

namespace velnor {

constexpr std::uint32_t USB_IO_BUFFER_BYTES = 32768;

struct UsbCable {
  EzUsbDevice device;
  std::array<std::uint8_t, USB_IO_BUFFER_BYTES> io_buffer{};
  // The TMS level the cable drives now as far as the library knows; -1
  // until the first shift after open.
  int tms_level = -1;
  // Set from the start of open until it succeeds: no transfers meanwhile.
  bool offline = true;
  // An exchange of the current shift failed.
  bool shift_failed = false;
};

extern const CableOps USB_CABLE_OPS;

}  // namespace velnor
