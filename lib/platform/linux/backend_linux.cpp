// The real services on Linux. Linux grants printer-port access per device
// node (ppdev_ports.h opens and claims the node on first use and says why
// when it cannot), so no driver is installed and nothing is left to undo.
// EZ-USB devices are not reached yet: every unit fails to open.
#include <chrono>
#include <thread>

#include "platform/backend.h"
#include "platform/linux/ppdev_ports.h"

namespace velnor::platform {
namespace host {
namespace {

bool grant_port_access() { return true; }

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

void sleep_ms(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void release() {}

}  // namespace
}  // namespace host

const Backend& host_backend() {
  static const Backend linux_backend = {
      "Linux",
      host::grant_port_access,
      ppdev::port_read,
      ppdev::port_write,
      host::ezusb_open,
      host::ezusb_close,
      host::ezusb_string_descriptor,
      host::ezusb_vendor_request,
      host::ezusb_download,
      host::ezusb_bulk_write,
      host::ezusb_bulk_read,
      host::ezusb_cancel,
      host::sleep_ms,
      host::release,
  };
  return linux_backend;
}

}  // namespace velnor::platform
