// The USB cable: an EZ-USB microcontroller that receives the library's own
// 8051 firmware at every open.
#pragma once

#include <array>
#include <cstdint>

#include "cables/cable.h"
#include "cables/usb/ezusb_device.h"

namespace velnor {

constexpr std::uint32_t USB_IO_BUFFER_BYTES = 32768;
// One full-speed bulk packet: pin bytes queued and the replies of one
// exchange stay within it, so an exchange has one reply packet.
constexpr std::uint32_t USB_PACKET_BYTES = 64;

struct UsbCable {
  EzUsbDevice device;
  std::array<std::uint8_t, USB_IO_BUFFER_BYTES> io_buffer{};
  // Pin bytes whose TDO nobody reads, sent with the next transfer.
  std::array<std::uint8_t, USB_PACKET_BYTES> pins{};
  std::uint32_t queued = 0;
  // The TMS level the cable drives now as far as the library knows; -1
  // until the first shift after open.
  int tms_level = -1;
  // Pipe 1 may still hold packets the firmware has not shifted (a stream
  // went out with no reply since), and pin bytes went out behind them.
  bool stream_unshifted = false;
  bool pins_behind_stream = false;
  // Set from the start of open until it succeeds: no transfers meanwhile.
  bool offline = true;
  // An exchange of the current shift or flush failed.
  bool failed = false;
};

extern const CableOps USB_CABLE_OPS;

}  // namespace velnor
