// The USB cable's JTAG side. Long scans go out as a byte stream, eight TCK
// cycles per byte with TMS held, the reply landing straight in the caller's
// buffer; the last 0 to 8 cycles of a shift, where TMS may change, and TMS
// presets go out as pin bytes, one cycle per byte with a reply each.
// The firmware clocks stream bytes from bit 0 up and answers in the same
// order, so each byte is bit-reversed on its way out and its reply on its way
// back: the library's streams are most significant bit first.
#include "cables/usb/usb_cable.h"

#include <algorithm>

#include "base/bit_order.h"
#include "base/messages.h"
#include "protocol.h"

namespace velnor {
namespace {

UsbCable& usb_of(void* cable) { return *static_cast<UsbCable*>(cable); }

// Sends count bytes on pipe and receives count reply bytes into reply; a
// failed exchange leaves the reply all zeros, never what the buffer held.
bool exchange(UsbCable& usb, std::uint32_t pipe, std::uint8_t* reply, std::uint32_t count) {
  bool done = !usb.offline;
  if (done) {
    post_read(usb.device, USB_JTAG_PIPE_REPLY, reply, static_cast<std::int32_t>(count));
    const int sent = bulk_write(usb.device, pipe, usb.io_buffer.data(), count);
    const std::int32_t received = wait_read(usb.device);
    done = sent == 0 && received == 0;
  }
  if (!done) {
    std::fill_n(reply, count, std::uint8_t{0});
    usb.shift_failed = true;
  }
  return done;
}

// Pin bytes in io_buffer, their replies back in place.
void exchange_pin_bytes(UsbCable& usb, std::uint32_t count) {
  if (!exchange(usb, USB_JTAG_PIPE_PINS, usb.io_buffer.data(), count) && !usb.offline) {
    message("error ! USB SPI Protcol\n");
  }
}

std::int32_t usb_open(void* cable, std::uint32_t unit) {
  UsbCable& usb = usb_of(cable);
  usb.offline = true;
  message("Setup EZ-USB Firmware\n");
  if (open_ezusb(usb.device, unit, usb_firmware_image, USB_JTAG_MANUFACTURER, USB_JTAG_PRODUCT) !=
      0) {
    message("\nCan't found EZ-USB\n");
    return 2;
  }
  message("\n");
  usb.offline = false;
  usb.tms_level = -1;
  return 0;
}

void usb_close(void* cable) {
  UsbCable& usb = usb_of(cable);
  close_ezusb(usb.device);
  usb.offline = true;
}

std::int32_t usb_target_power(void* cable) {
  UsbCable& usb = usb_of(cable);
  usb.io_buffer[0] = USB_JTAG_SET_TMS_HIGH;  // the power query
  if (usb.offline) return -1;
  // The query drives TMS high: a shift that goes on must preset it again.
  usb.tms_level = 1;
  if (!exchange(usb, USB_JTAG_PIPE_PINS, usb.io_buffer.data(), 1)) {
    message("error ! USB SPI Protcol\n");
    return -1;
  }
  return (usb.io_buffer[0] & USB_JTAG_REPLY_TVCC) != 0 ? 1 : 0;
}

// Sends the whole bytes of n cycles (n >= 8) as a byte stream with TMS held
// at tms, presetting the level first when it changes; returns the cycles
// left over (0 to 7).
std::uint32_t shift_byte_stream(UsbCable& usb, const std::uint8_t*& tdi, std::uint8_t*& tdo,
                                std::uint32_t n, int tms) {
  if (usb.tms_level != tms) {
    usb.tms_level = tms;
    usb.io_buffer[0] = tms ? USB_JTAG_SET_TMS_HIGH : USB_JTAG_SET_TMS_LOW;
    exchange_pin_bytes(usb, 1);
  }
  while (n >= 8) {
    const std::uint32_t k = std::min(n / 8, USB_IO_BUFFER_BYTES);
    if (tdi != nullptr) {
      for (std::uint32_t j = 0; j < k; ++j) usb.io_buffer[j] = reversed_bits(tdi[j]);
      tdi += k;
    } else {
      std::fill_n(usb.io_buffer.begin(), k, std::uint8_t{0});
    }
    if (tdo != nullptr) {
      if (!exchange(usb, USB_JTAG_PIPE_STREAM_TDO, tdo, k) && !usb.offline) {
        message("error ! USB SPI TX-RX\n");
      }
      reverse_bits_in_bytes(tdo, static_cast<std::int32_t>(k));
      tdo += k;
    } else if (usb.offline ||
               bulk_write(usb.device, USB_JTAG_PIPE_STREAM, usb.io_buffer.data(), k) != 0) {
      usb.shift_failed = true;
      if (!usb.offline) message("error ! USB SPI TX\n");
    }
    n -= 8 * k;
  }
  return n;
}

std::int32_t usb_shift(void* cable, const std::uint8_t* tdi, std::uint8_t* tdo,
                       std::uint32_t bit_count, int tms, int tms_last) {
  if (bit_count == 0) return 0;
  UsbCable& usb = usb_of(cable);
  usb.shift_failed = false;
  tms = tms != 0;
  tms_last = tms_last != 0;
  // A last cycle whose TMS differs always goes out as a pin byte.
  const std::uint32_t last_differs = tms != tms_last ? 1 : 0;
  std::uint32_t n = bit_count - last_differs;
  if (n >= 8) n = shift_byte_stream(usb, tdi, tdo, n, tms);

  const std::uint32_t m = n + last_differs;  // 0 to 8 cycles, TDI from the next byte
  const std::uint8_t tdi_byte = (m != 0 && tdi != nullptr) ? tdi[0] : 0;
  for (std::uint32_t j = 0; j < m; ++j) {
    std::uint8_t pins = 0;
    if (j + 1 == m ? tms_last : tms) pins |= USB_JTAG_PIN_TMS;
    if (tdi_byte & (0x80u >> j)) pins |= USB_JTAG_PIN_TDI;
    usb.io_buffer[j] = pins;
  }
  if (m != 0) {
    exchange_pin_bytes(usb, m);
    if (tdo != nullptr) {
      tdo[0] = 0;
      for (std::uint32_t j = 0; j < m; ++j) {
        if (usb.io_buffer[j] & USB_JTAG_REPLY_TDO) tdo[0] |= static_cast<std::uint8_t>(0x80u >> j);
      }
    }
  }
  usb.tms_level = tms_last;
  return usb.shift_failed ? 1 : 0;
}

}  // namespace

const CableOps USB_CABLE_OPS = {
    usb_open,
    usb_target_power,
    usb_close,
    usb_shift,
};

}  // namespace velnor
