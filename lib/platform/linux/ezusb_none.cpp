// A build without libusb-1.0 reaches no EZ-USB device: every unit fails to
// open, so nothing else is ever called.
#include "platform/linux/ezusb_libusb.h"

namespace velnor::platform::host {

Handle ezusb_open(std::uint32_t /*unit*/) { return NO_HANDLE; }
void ezusb_close(Handle) {}
bool ezusb_string_descriptor(Handle, std::uint8_t, std::uint8_t*, std::uint32_t, std::uint32_t*) {
  return false;
}
bool ezusb_vendor_request(Handle, std::uint8_t, std::uint16_t, std::uint16_t, std::uint8_t) {
  return false;
}
bool ezusb_download(Handle, const std::uint8_t*, std::uint32_t) { return false; }
bool ezusb_bulk_write(Handle, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t*) {
  return false;
}
bool ezusb_bulk_read(Handle, std::uint32_t, std::uint8_t*, std::uint32_t, std::uint32_t*) {
  return false;
}
bool ezusb_cancel(Handle) { return false; }
void release_ezusb() {}

}  // namespace velnor::platform::host
