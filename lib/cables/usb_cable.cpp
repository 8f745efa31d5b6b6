// The USB cable's JTAG side. Long scans go out as a byte stream, eight TCK
// cycles per byte with TMS held, the reply landing straight in the caller's
// buffer; the last 0 to 8 cycles of a shift, where TMS may change, and TMS
// presets go out as pin bytes, one cycle per byte with a reply each.
// The firmware clocks stream bytes from bit 0 up, so each caller byte (most
// significant bit first) is sent bit-reversed.
#include "cables/usb_cable.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "cables/ezusb_device.h"
#include "core/diagnostics.h"
#include "protocol.h"

namespace velnor {
namespace {

constexpr std::uint32_t kIoBufferSize = 32768;

struct UsbCableState {
  std::array<std::uint8_t, 256> bit_reverse{};
  std::array<std::uint8_t, kIoBufferSize> io_buffer{};
  // The TMS level the cable drives now as far as the library knows; -1
  // until the first shift after open.
  int tms_level = -1;
  // Set from the start of open until it succeeds: no transfers meanwhile.
  bool offline = true;
};

UsbCableState usb;

void build_bit_reverse() {
  for (unsigned value = 0; value < 256; ++value) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (value & (1u << bit)) reversed |= 0x80u >> bit;
    }
    usb.bit_reverse[value] = static_cast<std::uint8_t>(reversed);
  }
}

// Sends count bytes on pipe and receives count reply bytes into reply.
bool exchange(std::uint32_t pipe, std::uint8_t* reply, std::uint32_t count) {
  post_read(USB_JTAG_PIPE_REPLY, reply, static_cast<std::int32_t>(count));
  const int sent = bulk_write(pipe, usb.io_buffer.data(), count);
  const std::int32_t received = wait_read();
  return sent == 0 && received == 0;
}

// Pin bytes in io_buffer, their replies back in place.
void exchange_pin_bytes(std::uint32_t count) {
  if (!exchange(USB_JTAG_PIPE_PINS, usb.io_buffer.data(), count)) {
    diagnostic("error ! USB SPI Protcol\n");
  }
}

std::int32_t usb_max_bits() { return kCableMaxBits; }

std::int32_t usb_open(std::uint32_t unit, std::uint32_t /*rate*/, char* description) {
  build_bit_reverse();
  if (description != nullptr) {
    std::snprintf(description, kCableDescriptionSize,
                  "EZ-USB No.%d : SPI(PC1=TCK,PA5=TDI,PC2=TMS,PC0=TDO,PC3=TVCC)",
                  static_cast<int>(unit));
  }
  usb.offline = true;
  diagnostic("Setup EZ-USB Firmware\n");
  if (open_ezusb(unit, usb_firmware_image, USB_JTAG_MANUFACTURER, USB_JTAG_PRODUCT) != 0) {
    diagnostic("\nCan't found EZ-USB\n");
    return 2;
  }
  diagnostic("\n");
  usb.offline = false;
  usb.tms_level = -1;
  return 0;
}

void usb_close() {
  close_ezusb();
  usb.offline = true;
}

std::int32_t usb_target_power() {
  usb.io_buffer[0] = USB_JTAG_SET_TMS_HIGH;  // the power query
  if (usb.offline) return 0;
  if (!exchange(USB_JTAG_PIPE_PINS, usb.io_buffer.data(), 1)) {
    diagnostic("error ! USB SPI Protcol\n");
    return 0;
  }
  // A reply that never came leaves the query byte, whose supply bit is 0.
  return (usb.io_buffer[0] & USB_JTAG_REPLY_TVCC) != 0 ? 1 : 0;
}

// Sends the whole bytes of n cycles (n >= 8) as a byte stream with TMS held
// at tms, presetting the level first when it changes; returns the cycles
// left over (0 to 7).
std::uint32_t shift_byte_stream(const std::uint8_t*& tdi, std::uint8_t*& tdo, std::uint32_t n,
                                int tms) {
  if (usb.tms_level != tms) {
    usb.tms_level = tms;
    usb.io_buffer[0] = tms ? USB_JTAG_SET_TMS_HIGH : USB_JTAG_SET_TMS_LOW;
    if (!usb.offline) exchange_pin_bytes(1);
  }
  while (n >= 8) {
    const std::uint32_t k = std::min(n / 8, kIoBufferSize);
    if (tdi != nullptr) {
      for (std::uint32_t j = 0; j < k; ++j) usb.io_buffer[j] = usb.bit_reverse[tdi[j]];
      tdi += k;
    } else {
      std::fill_n(usb.io_buffer.begin(), k, std::uint8_t{0});
    }
    if (tdo != nullptr) {
      if (!usb.offline && !exchange(USB_JTAG_PIPE_STREAM_TDO, tdo, k)) {
        diagnostic("error ! USB SPI TX-RX\n");
      }
      tdo += k;
    } else if (!usb.offline && bulk_write(USB_JTAG_PIPE_STREAM, usb.io_buffer.data(), k) != 0) {
      diagnostic("error ! USB SPI TX\n");
    }
    n -= 8 * k;
  }
  return n;
}

std::int32_t usb_shift(const std::uint8_t* tdi, std::uint8_t* tdo, std::uint32_t bit_count, int tms,
                       int tms_last) {
  if (bit_count == 0) return 0;
  tms = tms != 0;
  tms_last = tms_last != 0;
  // A last cycle whose TMS differs always goes out as a pin byte.
  const std::uint32_t last_differs = tms != tms_last ? 1 : 0;
  std::uint32_t n = bit_count - last_differs;
  if (n >= 8) n = shift_byte_stream(tdi, tdo, n, tms);

  const std::uint32_t m = n + last_differs;  // 0 to 8 cycles, TDI from the next byte
  const std::uint8_t tdi_byte = (m != 0 && tdi != nullptr) ? tdi[0] : 0;
  for (std::uint32_t j = 0; j < m; ++j) {
    std::uint8_t pins = 0;
    if (j + 1 == m ? tms_last : tms) pins |= USB_JTAG_PIN_TMS;
    if (tdi_byte & (0x80u >> j)) pins |= USB_JTAG_PIN_TDI;
    usb.io_buffer[j] = pins;
  }
  if (m != 0) {
    if (!usb.offline) exchange_pin_bytes(m);
    if (tdo != nullptr) {
      tdo[0] = 0;
      for (std::uint32_t j = 0; j < m; ++j) {
        if (usb.io_buffer[j] & USB_JTAG_REPLY_TDO) tdo[0] |= static_cast<std::uint8_t>(1u << j);
      }
    }
  }
  usb.tms_level = tms_last;
  return 1;
}

}  // namespace

const CableOps usb_cable_ops = {
    usb_max_bits, usb_open, usb_target_power, usb_close, usb_shift,
};

}  // namespace velnor
