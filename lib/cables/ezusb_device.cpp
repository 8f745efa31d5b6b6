// Two handles on one device: the caller's thread writes (identity queries,
// download, bulk writes) on the first while the reader thread keeps a bulk
// read pending on the second, so a reply can arrive while its command is
// still being sent.
#include "cables/ezusb_device.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "core/diagnostics.h"
#include "platform/platform.h"
#include "protocol.h"

namespace velnor {
namespace {

// Requests of the general-purpose driver.
constexpr std::uint32_t kGetStringDescriptor = 0x222044;
constexpr std::uint32_t kVendorRequest = 0x222014;
constexpr std::uint32_t kDownload = 0x22201C;
constexpr std::uint32_t kBulkWrite = 0x222051;
constexpr std::uint32_t kBulkRead = 0x22204E;

constexpr std::uint32_t kMaxBulkPiece = 32768;
constexpr std::uint32_t kStringReplySize = 130;
constexpr std::uint16_t kStringLanguage = 0x001B;
// The 0xA0 request writes the EZ-USB's RAM; at 0x7F92 it reaches CPUCS,
// whose bit 0 holds the 8051 in reset.
constexpr std::uint8_t kFirmwareLoad = 0xA0;
constexpr std::uint16_t kCpuControl = 0x7F92;

constexpr int kMaxAttempts = 200;
constexpr std::uint32_t kReadWaitMs = 5000;
// Cancelling a read the thread has not yet issued hits nothing: cancel again
// until the thread reports idle.
constexpr std::uint32_t kCancelRetryMs = 10;

struct EzUsbState {
  platform::Handle write_handle = platform::kNoHandle;
  platform::Handle read_handle = platform::kNoHandle;
  platform::Handle request_event = platform::kNoHandle;
  platform::Handle idle_event = platform::kNoHandle;
  platform::Handle reader = platform::kNoHandle;
  // Handed between the caller and the reader thread; the events order the
  // hand-over, the atomics keep a timed-out wait's look at them defined.
  std::atomic<std::uint8_t*> read_pointer{nullptr};
  std::atomic<std::int32_t> read_remaining{0};
  std::atomic<std::uint32_t> read_pipe{0};
};

EzUsbState ezusb;

platform::Handle open_device_named(std::uint32_t device_number) {
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\ezusb-%u", device_number);
  return platform::open_device(name, platform::kGenericWrite, platform::kFileShareWrite,
                               platform::kOpenExisting, 0);
}

void close_handle(platform::Handle& handle) {
  if (handle != platform::kNoHandle) platform::close_device(handle);
  handle = platform::kNoHandle;
}

// A string descriptor as text: the low byte of each UTF-16 unit. Only the
// bytes the device returned are read.
bool read_string(std::uint8_t index, char* text, std::size_t text_size) {
  const std::uint8_t request[4] = {index, 0, kStringLanguage & 0xFF, kStringLanguage >> 8};
  std::uint8_t reply[kStringReplySize] = {};
  std::uint32_t returned = 0;
  if (!platform::device_control(ezusb.write_handle, kGetStringDescriptor, request, sizeof request,
                                reply, sizeof reply, &returned)) {
    return false;
  }
  const std::size_t returned_units = returned >= 2 ? (returned - 2) / 2 : 0;
  const std::size_t declared_units = reply[0] / 2 > 0 ? reply[0] / 2 - 1u : 0;
  const std::size_t count = std::min({declared_units, returned_units, text_size - 1});
  for (std::size_t k = 0; k < count; ++k) text[k] = static_cast<char>(reply[2 + 2 * k]);
  text[count] = '\0';
  return true;
}

bool runs_our_firmware(const char* manufacturer, const char* product) {
  char text[kStringReplySize / 2];
  if (!read_string(1, text, sizeof text) || std::strcmp(text, manufacturer) != 0) return false;
  return read_string(2, text, sizeof text) && std::strcmp(text, product) == 0;
}

bool set_cpu_reset(std::uint8_t held) {
  const std::uint8_t request[10] = {
      kFirmwareLoad,          0,   kCpuControl & 0xFF, kCpuControl >> 8, 0, 0, 1, 0,
      0 /* host to device */, held};
  std::uint32_t returned = 0;
  return platform::device_control(ezusb.write_handle, kVendorRequest, request, sizeof request,
                                  nullptr, 0, &returned);
}

// Holds the 8051, loads the image's downloaded part, lets it run. False after
// printing what failed.
bool boot_firmware(const std::uint8_t* image) {
  diagnostic("-Boot");
  if (!set_cpu_reset(1)) {
    diagnostic("i8051 halt err.\n");
    return false;
  }
  std::uint32_t returned = 0;
  if (!platform::device_control(ezusb.write_handle, kDownload, image, USB_JTAG_DOWNLOAD_SIZE,
                                nullptr, 0, &returned)) {
    diagnostic("usb dwnload err.\n");
    return false;
  }
  if (!set_cpu_reset(0)) {
    diagnostic("i8051 run err.\n");
    return false;
  }
  return true;
}

void reader_thread(void*) {
  platform::set_current_thread_priority(platform::kPriorityTimeCritical);
  for (;;) {
    ezusb.read_pointer = nullptr;
    platform::set_event(ezusb.idle_event);
    platform::wait_event(ezusb.request_event, platform::kWaitForever);
    platform::reset_event(ezusb.request_event);
    if (ezusb.read_pointer == nullptr) return;  // stop request
    while (ezusb.read_remaining > 0) {
      const std::uint32_t pipe = ezusb.read_pipe;
      const auto piece =
          std::min<std::uint32_t>(static_cast<std::uint32_t>(ezusb.read_remaining), kMaxBulkPiece);
      std::uint32_t received = 0;
      if (!platform::device_control(ezusb.read_handle, kBulkRead, &pipe, sizeof pipe,
                                    ezusb.read_pointer, piece, &received) ||
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
void settle_reader(std::uint32_t timeout_ms) {
  if (platform::wait_event(ezusb.idle_event, timeout_ms)) return;
  do {
    platform::cancel_device_io(ezusb.read_handle);
  } while (!platform::wait_event(ezusb.idle_event, kCancelRetryMs));
}

bool start_reader(std::uint32_t device_number) {
  ezusb.read_handle = open_device_named(device_number);
  ezusb.request_event = platform::create_event(true, false);
  ezusb.idle_event = platform::create_event(true, false);
  ezusb.read_pointer = nullptr;
  ezusb.read_remaining = 0;
  if (ezusb.read_handle != platform::kNoHandle && ezusb.request_event != platform::kNoHandle &&
      ezusb.idle_event != platform::kNoHandle) {
    ezusb.reader = platform::start_thread(reader_thread, nullptr);
  }
  return ezusb.reader != platform::kNoHandle;
}

// Releases whatever open acquired, in the order the reader thread needs:
// it must be gone before its handle and events are.
void release_all() {
  if (ezusb.reader != platform::kNoHandle) {
    settle_reader(0);
    ezusb.read_pointer = nullptr;
    platform::set_event(ezusb.request_event);
    platform::join_thread(ezusb.reader);
    ezusb.reader = platform::kNoHandle;
  }
  close_handle(ezusb.write_handle);
  close_handle(ezusb.read_handle);
  for (platform::Handle* event : {&ezusb.idle_event, &ezusb.request_event}) {
    if (*event != platform::kNoHandle) platform::close_event(*event);
    *event = platform::kNoHandle;
  }
}

}  // namespace

int open_ezusb(std::uint32_t device_number, const std::uint8_t* image, const char* manufacturer,
               const char* product) {
  int attempts = 0;
  bool booted = false;
  for (;;) {
    ezusb.write_handle = open_device_named(device_number);
    if (ezusb.write_handle == platform::kNoHandle) {
      if (attempts == 0) return -1;  // no device at all
      platform::sleep_ms(50);        // still away after the download
    } else if (booted) {
      // The handle still belongs to the device as it was before the download.
      diagnostic("-Reconnect");
      booted = false;
      close_handle(ezusb.write_handle);
      platform::sleep_ms(500);
      if (++attempts >= kMaxAttempts) return -1;
      continue;
    } else if (runs_our_firmware(manufacturer, product)) {
      // Unloaded with the cable still open, the library must not leave its
      // reader thread running in code that is gone.
      static const bool stop_at_unload = platform::at_unload(release_all);
      if (stop_at_unload && start_reader(device_number)) return 0;
      release_all();
      return -1;
    } else {
      const bool running = boot_firmware(image);
      close_handle(ezusb.write_handle);
      if (!running) return -1;
      booted = true;
      // The device leaves the bus and comes back with our descriptors.
      platform::sleep_ms(1500);
      diagnostic("-Wait");
    }
    ++attempts;
    diagnostic(".");
    if (attempts >= kMaxAttempts) return -1;
  }
}

void close_ezusb() { release_all(); }

int bulk_write(std::uint32_t pipe, const std::uint8_t* bytes, std::uint32_t length) {
  // After a lost reply the firmware may sit on an unread IN packet and never
  // take another OUT packet: a write then would wait for ever.
  if (ezusb.read_remaining < 0) return -1;
  while (length > 0) {
    const std::uint32_t piece = std::min(length, kMaxBulkPiece);
    std::uint32_t sent = 0;
    // The driver takes the data from the output buffer of the request.
    if (!platform::device_control(ezusb.write_handle, kBulkWrite, &pipe, sizeof pipe,
                                  const_cast<std::uint8_t*>(bytes), piece, &sent) ||
        sent == 0 || sent > piece) {
      return -1;
    }
    bytes += sent;
    length -= sent;
  }
  return 0;
}

void post_read(std::uint32_t pipe, std::uint8_t* buffer, std::int32_t length) {
  platform::wait_event(ezusb.idle_event, kReadWaitMs);
  if (ezusb.read_remaining != 0) return;
  platform::reset_event(ezusb.idle_event);
  ezusb.read_pointer = buffer;
  ezusb.read_remaining = length;
  ezusb.read_pipe = pipe;
  platform::set_event(ezusb.request_event);
}

std::int32_t wait_read() {
  // A cancelled read ends as a failed one: the reply stream is out of step.
  settle_reader(kReadWaitMs);
  return ezusb.read_remaining;
}

}  // namespace velnor
