// The USB cable's JTAG side. Shifts of up to 64 cycles go out as pin bytes,
// one cycle per byte; those whose TDO nobody reads wait in a queue and go
// out with the next transfer, so a walk through the TAP costs no round trip.
// A shift that reads TDO asks for a reply only on its own bytes, and sends
// them with the queue in one packet: one round trip. Longer scans go out as
// a byte stream, eight TCK cycles per byte with TMS held, the reply landing
// straight in the caller's buffer; their last 0 to 8 cycles, where TMS may
// change, are pin bytes again.
// Order: the firmware serves pipe 1 before pipe 3, so pin bytes sent while
// pipe 1 may still hold stream packets wait behind them, and would be
// overtaken by a later stream; such a stream starts only once a reply has
// come back from the pin bytes (see protocol.h).
// The library's streams are most significant bit first; the firmware takes
// cycle k's TDI from bit (5 - k) mod 8 of a stream byte and answers TDO of
// cycle k in bit 7 - k, so each byte is rotated on its way out and its
// reply is already in the library's order.
#include "cables/usb/usb_cable.h"

#include <algorithm>

#include "base/messages.h"
#include "protocol.h"

namespace velnor {
namespace {

// Shifts this long or shorter go out as pin bytes.
constexpr std::uint32_t MAX_PIN_SHIFT = USB_PACKET_BYTES;

UsbCable& usb_of(void* cable) { return *static_cast<UsbCable*>(cable); }

// A stream byte as the firmware wants it: cycle k's TDI (bit 7 - k of the
// library's byte) in bit (5 - k) mod 8.
std::uint8_t stream_byte(std::uint8_t bits) {
  return static_cast<std::uint8_t>((bits >> 2 | bits << 6) & 0xFF);
}

// Sends count bytes on pipe and receives reply_count reply bytes into reply.
// A failed exchange (or none, the cable being closed) leaves the reply all
// zeros, never what the buffer held, and marks the cable failed.
bool exchange(UsbCable& usb, std::uint32_t pipe, const std::uint8_t* bytes, std::uint32_t count,
              std::uint8_t* reply, std::uint32_t reply_count) {
  bool done = !usb.offline;
  if (done) {
    post_read(usb.device, USB_JTAG_PIPE_REPLY, reply, static_cast<std::int32_t>(reply_count));
    const int sent = bulk_write(usb.device, pipe, bytes, count);
    const std::int32_t received = wait_read(usb.device);
    done = sent == 0 && received == 0;
  }
  if (done) {
    // A reply is shifted after every packet sent before it.
    usb.stream_unshifted = false;
    usb.pins_behind_stream = false;
  }
  if (!done) {
    std::fill_n(reply, reply_count, std::uint8_t{0});
    usb.failed = true;
  }
  return done;
}

// Sends the queued pin bytes; they ask for no reply. A failed write is
// reported here, at the transfer that carried them.
void send_queue(UsbCable& usb) {
  if (usb.queued == 0) return;
  const std::uint32_t count = usb.queued;
  usb.queued = 0;
  if (usb.offline || bulk_write(usb.device, USB_JTAG_PIPE_PINS, usb.pins.data(), count) != 0) {
    usb.failed = true;
    if (!usb.offline) message("error ! USB SPI TX\n");
  }
  usb.pins_behind_stream = usb.stream_unshifted;
}

void queue_pin(UsbCable& usb, std::uint8_t pin) {
  if (usb.queued == usb.pins.size()) send_queue(usb);
  usb.pins[usb.queued++] = pin;
}

// Sends the queue with count pin bytes that each want a reply (count at most
// one packet); their replies land in replies. False when the exchange failed.
bool exchange_pins(UsbCable& usb, const std::uint8_t* bytes, std::uint8_t* replies,
                   std::uint32_t count) {
  if (usb.queued + count > usb.pins.size()) send_queue(usb);
  for (std::uint32_t j = 0; j < count; ++j) {
    usb.pins[usb.queued++] = static_cast<std::uint8_t>(bytes[j] | USB_JTAG_PIN_REPLY);
  }
  const std::uint32_t total = usb.queued;
  usb.queued = 0;
  if (!exchange(usb, USB_JTAG_PIPE_PINS, usb.pins.data(), total, replies, count)) {
    if (!usb.offline) message("error ! USB SPI Protcol\n");
    return false;
  }
  return true;
}

std::int32_t usb_open(void* cable, std::uint32_t unit) {
  UsbCable& usb = usb_of(cable);
  usb.offline = true;
  usb.queued = 0;
  message("Setup EZ-USB Firmware\n");
  if (open_ezusb(usb.device, unit, usb_firmware_image, USB_JTAG_MANUFACTURER, USB_JTAG_PRODUCT) !=
      0) {
    message("\nCan't found EZ-USB\n");
    return 2;
  }
  message("\n");
  usb.offline = false;
  usb.tms_level = -1;
  usb.stream_unshifted = false;
  usb.pins_behind_stream = false;
  return 0;
}

std::int32_t usb_flush(void* cable) {
  UsbCable& usb = usb_of(cable);
  usb.failed = false;
  send_queue(usb);
  return usb.failed ? 1 : 0;
}

void usb_close(void* cable) {
  UsbCable& usb = usb_of(cable);
  send_queue(usb);
  close_ezusb(usb.device);
  usb.offline = true;
}

std::int32_t usb_target_power(void* cable) {
  UsbCable& usb = usb_of(cable);
  if (usb.offline) {
    usb.queued = 0;
    return -1;
  }
  // The query sets TMS high without a cycle, as the level the streams hold.
  const std::uint8_t query = USB_JTAG_SET_TMS_HIGH;
  std::uint8_t reply = 0;
  usb.tms_level = 1;
  // No answer is no word on the supply: the cable is what failed.
  if (!exchange_pins(usb, &query, &reply, 1)) return -1;
  return (reply & USB_JTAG_REPLY_TVCC) != 0 ? 1 : 0;
}

// Sends the whole bytes of n cycles (n >= 8) as a byte stream with TMS held
// at tms, presetting the level first when it changes; returns the cycles
// left over (0 to 7).
std::uint32_t shift_byte_stream(UsbCable& usb, const std::uint8_t*& tdi, std::uint8_t*& tdo,
                                std::uint32_t n, int tms) {
  if (usb.tms_level != tms) {
    usb.tms_level = tms;
    queue_pin(usb, tms ? USB_JTAG_SET_TMS_HIGH : USB_JTAG_SET_TMS_LOW);
  }
  if (tdo == nullptr && usb.stream_unshifted && (usb.queued != 0 || usb.pins_behind_stream)) {
    // The pin bytes must be shifted before this stream's packets: the last
    // one (or a byte that only sets the levels again) asks for a reply.
    const std::uint8_t last = usb.queued != 0 ? usb.pins[--usb.queued]
                              : tms           ? USB_JTAG_SET_TMS_HIGH
                                              : USB_JTAG_SET_TMS_LOW;
    std::uint8_t reply = 0;
    exchange_pins(usb, &last, &reply, 1);
  }
  send_queue(usb);
  while (n >= 8) {
    const std::uint32_t k = std::min(n / 8, USB_IO_BUFFER_BYTES);
    if (tdi != nullptr) {
      for (std::uint32_t j = 0; j < k; ++j) usb.io_buffer[j] = stream_byte(tdi[j]);
      tdi += k;
    } else {
      std::fill_n(usb.io_buffer.begin(), k, std::uint8_t{0});
    }
    if (tdo != nullptr) {
      if (!exchange(usb, USB_JTAG_PIPE_STREAM_TDO, usb.io_buffer.data(), k, tdo, k) &&
          !usb.offline) {
        message("error ! USB SPI TX-RX\n");
      }
      tdo += k;
    } else if (usb.offline ||
               bulk_write(usb.device, USB_JTAG_PIPE_STREAM, usb.io_buffer.data(), k) != 0) {
      usb.failed = true;
      if (!usb.offline) message("error ! USB SPI TX\n");
    } else {
      usb.stream_unshifted = true;
      usb.pins_behind_stream = false;
    }
    n -= 8 * k;
  }
  return n;
}

// m cycles (at most MAX_PIN_SHIFT) as pin bytes, TDI from tdi's first bits,
// TMS tms but tms_last on the last; queued, or exchanged when tdo wants
// their TDO.
void shift_pin_bytes(UsbCable& usb, const std::uint8_t* tdi, std::uint8_t* tdo, std::uint32_t m,
                     int tms, int tms_last) {
  std::uint8_t pins[MAX_PIN_SHIFT];
  for (std::uint32_t j = 0; j < m; ++j) {
    std::uint8_t pin = 0;
    if (j + 1 == m ? tms_last : tms) pin |= USB_JTAG_PIN_TMS;
    if (tdi != nullptr && (tdi[j / 8] & (0x80u >> (j % 8)))) pin |= USB_JTAG_PIN_TDI;
    pins[j] = pin;
  }
  if (tdo == nullptr) {
    for (std::uint32_t j = 0; j < m; ++j) queue_pin(usb, pins[j]);
    return;
  }
  std::uint8_t replies[MAX_PIN_SHIFT] = {};
  exchange_pins(usb, pins, replies, m);
  std::fill_n(tdo, (m + 7) / 8, std::uint8_t{0});
  for (std::uint32_t j = 0; j < m; ++j) {
    if (replies[j] & USB_JTAG_REPLY_TDO) tdo[j / 8] |= static_cast<std::uint8_t>(0x80u >> (j % 8));
  }
}

std::int32_t usb_shift(void* cable, const std::uint8_t* tdi, std::uint8_t* tdo,
                       std::uint32_t bit_count, int tms, int tms_last) {
  if (bit_count == 0) return 0;
  UsbCable& usb = usb_of(cable);
  usb.failed = false;
  tms = tms != 0;
  tms_last = tms_last != 0;
  if (bit_count <= MAX_PIN_SHIFT) {
    shift_pin_bytes(usb, tdi, tdo, bit_count, tms, tms_last);
    usb.tms_level = tms_last;
    return usb.failed ? 1 : 0;
  }
  // A last cycle whose TMS differs always goes out as a pin byte.
  const std::uint32_t last_differs = tms != tms_last ? 1 : 0;
  const std::uint32_t n = shift_byte_stream(usb, tdi, tdo, bit_count - last_differs, tms);
  const std::uint32_t m = n + last_differs;  // 0 to 8 cycles, TDI from the next byte
  if (m != 0) shift_pin_bytes(usb, tdi, tdo, m, tms, tms_last);
  usb.tms_level = tms_last;
  return usb.failed ? 1 : 0;
}

}  // namespace

const CableOps USB_CABLE_OPS = {
    usb_open, usb_target_power, usb_close, usb_shift, usb_flush,
};

}  // namespace velnor
