// The windows backend: printer-port I/O through _inp/_outp once the giveio
// installer has granted it, and the EZ-USB devices "\\.\ezusb-N" of the
// general-purpose driver through its device I/O control requests.
#include <cstdio>

#include "platform/windows/port_io_installer.h"
#include "platform/windows/win32_api.h"

namespace velnor::platform::windows {
namespace {

// Requests of the EZ-USB general-purpose driver.
constexpr std::uint32_t IOCTL_GET_STRING_DESCRIPTOR = 0x222044;
constexpr std::uint32_t IOCTL_VENDOR_REQUEST = 0x222014;
constexpr std::uint32_t IOCTL_ANCHOR_DOWNLOAD = 0x22201C;
constexpr std::uint32_t IOCTL_BULK_WRITE = 0x222051;
constexpr std::uint32_t IOCTL_BULK_READ = 0x22204E;
// The string requests ask for US English.
constexpr std::uint16_t STRING_LANGUAGE = 0x001B;

const Win32Api* api = nullptr;

bool grant_port_access() { return enable_port_io(*api) != 0; }
std::uint8_t port_read(std::uint16_t port) { return api->port_in(port); }
void port_write(std::uint16_t port, std::uint8_t value) { api->port_out(port, value); }

Handle ezusb_open(std::uint32_t unit) {
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\ezusb-%u", unit);
  return api->create_file(name, GENERIC_WRITE_ACCESS, FILE_SHARE_WRITE_MODE, OPEN_EXISTING_FILE, 0);
}

void ezusb_close(Handle device) { api->close_handle(device); }

bool ezusb_string_descriptor(Handle device, std::uint8_t index, std::uint8_t* reply,
                             std::uint32_t reply_size, std::uint32_t* returned) {
  const std::uint8_t request[4] = {index, 0, STRING_LANGUAGE & 0xFF, STRING_LANGUAGE >> 8};
  return api->device_io_control(device, IOCTL_GET_STRING_DESCRIPTOR, request, sizeof request, reply,
                                reply_size, returned);
}

// The driver's vendor-request record: bRequest, a pad byte, wValue, wIndex,
// wLength (all little-endian), the direction (0: host to device) and the
// one data byte.
bool ezusb_vendor_request(Handle device, std::uint8_t request, std::uint16_t value,
                          std::uint16_t index, std::uint8_t data) {
  const std::uint8_t record[10] = {request,
                                   0,
                                   static_cast<std::uint8_t>(value),
                                   static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(index),
                                   static_cast<std::uint8_t>(index >> 8),
                                   1,
                                   0,
                                   0,
                                   data};
  std::uint32_t returned = 0;
  return api->device_io_control(device, IOCTL_VENDOR_REQUEST, record, sizeof record, nullptr, 0,
                                &returned);
}

bool ezusb_download(Handle device, const std::uint8_t* image, std::uint32_t size) {
  std::uint32_t returned = 0;
  return api->device_io_control(device, IOCTL_ANCHOR_DOWNLOAD, image, size, nullptr, 0, &returned);
}

// Both bulk requests take the pipe number as input; the data travel in the
// output buffer, in either direction.
bool ezusb_bulk_write(Handle device, std::uint32_t pipe, const std::uint8_t* bytes,
                      std::uint32_t length, std::uint32_t* sent) {
  return api->device_io_control(device, IOCTL_BULK_WRITE, &pipe, sizeof pipe,
                                const_cast<std::uint8_t*>(bytes), length, sent);
}

bool ezusb_bulk_read(Handle device, std::uint32_t pipe, std::uint8_t* bytes, std::uint32_t length,
                     std::uint32_t* received) {
  return api->device_io_control(device, IOCTL_BULK_READ, &pipe, sizeof pipe, bytes, length,
                                received);
}

bool ezusb_cancel(Handle device) { return api->cancel_io(device); }
void sleep_ms(std::uint32_t milliseconds) { api->sleep(milliseconds); }
void release() { release_port_io(*api); }

}  // namespace

const Backend& windows_backend(const Win32Api& calls) {
  api = &calls;
  static const Backend backend = {
      calls.description,
      grant_port_access,
      port_read,
      port_write,
      ezusb_open,
      ezusb_close,
      ezusb_string_descriptor,
      ezusb_vendor_request,
      ezusb_download,
      ezusb_bulk_write,
      ezusb_bulk_read,
      ezusb_cancel,
      sleep_ms,
      release,
  };
  return backend;
}

}  // namespace velnor::platform::windows
