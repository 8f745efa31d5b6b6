// Two handles on one device: the caller's thread writes (identity queries,
// download, bulk writes) on the first while the reader thread keeps a bulk
// read pending on the second, so a reply can arrive while its command is
// still being sent.
#include "cables/usb/ezusb_device.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/messages.h"
#include "platform/platform.h"
#include "protocol.h"

namespace velnor {
namespace {

constexpr std::uint32_t MAX_BULK_PIECE = 32768;
constexpr std::uint32_t STRING_REPLY_SIZE = 130;
// The 0xA0 request writes the EZ-USB's RAM; at 0x7F92 it reaches CPUCS,
// whose bit 0 holds the 8051 in reset.
constexpr std::uint8_t FIRMWARE_LOAD = 0xA0;
constexpr std::uint16_t CPU_CONTROL = 0x7F92;

constexpr int MAX_ATTEMPTS = 200;
constexpr std::uint32_t READ_WAIT_MS = 5000;
// Cancelling a read the thread has not yet issued hits nothing: cancel again
// until the thread reports idle.
constexpr std::uint32_t CANCEL_RETRY_MS = 10;

void close_handle(platform::Handle& handle) {
  if (handle != platform::NO_HANDLE) platform::ezusb_close(handle);
  handle = platform::NO_HANDLE;
}

// A string descriptor as text: the low byte of each UTF-16 unit. Only the
// bytes the device returned are read.
bool read_string(EzUsbDevice& ezusb, std::uint8_t index, char* text, std::size_t text_size) {
  std::uint8_t reply[STRING_REPLY_SIZE] = {};
  std::uint32_t returned = 0;
  if (!platform::ezusb_string_descriptor(ezusb.write_handle, index, reply, sizeof reply,
                                         &returned)) {
    return false;
  }
  const std::size_t returned_units = returned >= 2 ? (returned - 2) / 2 : 0;
  const std::size_t declared_units = reply[0] / 2 > 0 ? reply[0] / 2 - 1u : 0;
  const std::size_t count = std::min({declared_units, returned_units, text_size - 1});
  for (std::size_t k = 0; k < count; ++k) text[k] = static_cast<char>(reply[2 + 2 * k]);
  text[count] = '\0';
  return true;
}

bool runs_our_firmware(EzUsbDevice& ezusb, const char* manufacturer, const char* product) {
  char text[STRING_REPLY_SIZE / 2];
  if (!read_string(ezusb, 1, text, sizeof text) || std::strcmp(text, manufacturer) != 0) {
    return false;
  }
  return read_string(ezusb, 2, text, sizeof text) && std::strcmp(text, product) == 0;
}

bool set_cpu_reset(EzUsbDevice& ezusb, std::uint8_t held) {
  return platform::ezusb_vendor_request(ezusb.write_handle, FIRMWARE_LOAD, CPU_CONTROL, 0, held);
}

// Holds the 8051, loads the image's downloaded part, lets it run. False after
// printing what failed.
bool boot_firmware(EzUsbDevice& ezusb, const std::uint8_t* image) {
  message("-Boot");
  if (!set_cpu_reset(ezusb, 1)) {
    message("i8051 halt err.\n");
    return false;
  }
  if (!platform::ezusb_download(ezusb.write_handle, image, USB_JTAG_DOWNLOAD_SIZE)) {
    message("usb dwnload err.\n");
    return false;
  }
  if (!set_cpu_reset(ezusb, 0)) {
    message("i8051 run err.\n");
    return false;
  }
  return true;
}

void reader_thread(void* argument) {
  EzUsbDevice& ezusb = *static_cast<EzUsbDevice*>(argument);
  platform::set_current_thread_priority(platform::PRIORITY_TIME_CRITICAL);
  for (;;) {
    ezusb.read_pointer = nullptr;
    platform::set_event(ezusb.idle_event);
    platform::wait_event(ezusb.request_event, platform::WAIT_FOREVER);
    platform::reset_event(ezusb.request_event);
    if (ezusb.read_pointer == nullptr) return;  // stop request
    while (ezusb.read_remaining > 0) {
      const std::uint32_t pipe = ezusb.read_pipe;
      const auto piece =
          std::min<std::uint32_t>(static_cast<std::uint32_t>(ezusb.read_remaining), MAX_BULK_PIECE);
      std::uint32_t received = 0;
      if (!platform::ezusb_bulk_read(ezusb.read_handle, pipe, ezusb.read_pointer, piece,
                                     &received) ||
          received > piece) {
        ezusb.read_remaining = -1;  // stays failed until the cable is reopened
        break;
      }
      ezusb.read_remaining -= static_cast<std::int32_t>(received);
      ezusb.read_pointer = ezusb.read_pointer + received;
    }
  }
}

// Returns once the reader thread is idle, cancelling its read when it does
// not finish within timeout_ms.
void settle_reader(EzUsbDevice& ezusb, std::uint32_t timeout_ms) {
  if (platform::wait_event(ezusb.idle_event, timeout_ms)) return;
  do {
    platform::ezusb_cancel(ezusb.read_handle);
  } while (!platform::wait_event(ezusb.idle_event, CANCEL_RETRY_MS));
}

bool start_reader(EzUsbDevice& ezusb, std::uint32_t unit) {
  ezusb.read_handle = platform::ezusb_open(unit);
  ezusb.request_event = platform::create_event(true, false);
  ezusb.idle_event = platform::create_event(true, false);
  ezusb.read_pointer = nullptr;
  ezusb.read_remaining = 0;
  if (ezusb.read_handle != platform::NO_HANDLE && ezusb.request_event != platform::NO_HANDLE &&
      ezusb.idle_event != platform::NO_HANDLE) {
    ezusb.reader = platform::start_thread(reader_thread, &ezusb);
  }
  return ezusb.reader != platform::NO_HANDLE;
}

// Releases whatever open acquired, in the order the reader thread needs:
// it must be gone before its handle and events are.
void release_all(EzUsbDevice& ezusb) {
  if (ezusb.reader != platform::NO_HANDLE) {
    settle_reader(ezusb, 0);
    ezusb.read_pointer = nullptr;
    platform::set_event(ezusb.request_event);
    platform::join_thread(ezusb.reader);
    ezusb.reader = platform::NO_HANDLE;
  }
  close_handle(ezusb.write_handle);
  close_handle(ezusb.read_handle);
  for (platform::Handle* event : {&ezusb.idle_event, &ezusb.request_event}) {
    if (*event != platform::NO_HANDLE) platform::close_event(*event);
    *event = platform::NO_HANDLE;
  }
}

}  // namespace

int open_ezusb(EzUsbDevice& ezusb, std::uint32_t unit, const std::uint8_t* image,
               const char* manufacturer, const char* product) {
  int attempts = 0;
  bool booted = false;
  for (;;) {
    ezusb.write_handle = platform::ezusb_open(unit);
    if (ezusb.write_handle == platform::NO_HANDLE) {
      if (attempts == 0) return -1;  // no device at all
      platform::sleep_ms(50);        // still away after the download
    } else if (booted) {
      // The handle still belongs to the device as it was before the download.
      message("-Reconnect");
      booted = false;
      close_handle(ezusb.write_handle);
      platform::sleep_ms(500);
      if (++attempts >= MAX_ATTEMPTS) return -1;
      continue;
    } else if (runs_our_firmware(ezusb, manufacturer, product)) {
      if (start_reader(ezusb, unit)) return 0;
      release_all(ezusb);
      return -1;
    } else {
      const bool running = boot_firmware(ezusb, image);
      close_handle(ezusb.write_handle);
      if (!running) return -1;
      booted = true;
      // The device leaves the bus and comes back with our descriptors.
      platform::sleep_ms(1500);
      message("-Wait");
    }
    ++attempts;
    message(".");
    if (attempts >= MAX_ATTEMPTS) return -1;
  }
}

void close_ezusb(EzUsbDevice& ezusb) { release_all(ezusb); }

int bulk_write(EzUsbDevice& ezusb, std::uint32_t pipe, const std::uint8_t* bytes,
               std::uint32_t length) {
  // After a lost reply the firmware may sit on an unread IN packet and never
  // take another OUT packet: a write then would wait for ever.
  if (ezusb.read_remaining < 0) return -1;
  while (length > 0) {
    const std::uint32_t piece = std::min(length, MAX_BULK_PIECE);
    std::uint32_t sent = 0;
    if (!platform::ezusb_bulk_write(ezusb.write_handle, pipe, bytes, piece, &sent) || sent == 0 ||
        sent > piece) {
      return -1;
    }
    bytes += sent;
    length -= sent;
  }
  return 0;
}

void post_read(EzUsbDevice& ezusb, std::uint32_t pipe, std::uint8_t* buffer, std::int32_t length) {
  platform::wait_event(ezusb.idle_event, READ_WAIT_MS);
  if (ezusb.read_remaining != 0) return;
  platform::reset_event(ezusb.idle_event);
  ezusb.read_pointer = buffer;
  ezusb.read_remaining = length;
  ezusb.read_pipe = pipe;
  platform::set_event(ezusb.request_event);
}

std::int32_t wait_read(EzUsbDevice& ezusb) {
  // A cancelled read ends as a failed one: the reply stream is out of step.
  settle_reader(ezusb, READ_WAIT_MS);
  return ezusb.read_remaining;
}

}  // namespace velnor
