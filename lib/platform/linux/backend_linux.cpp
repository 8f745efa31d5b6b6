// The real services on Linux. Linux grants printer-port access per device
// node (ppdev_ports.h opens and claims the node on first use and says why
// when it cannot), so no driver is installed; EZ-USB devices go through
// libusb (ezusb_libusb.cpp), closed at unload.
#include <chrono>
#include <thread>

#include "platform/backend.h"
#include "platform/linux/ezusb_libusb.h"
#include "platform/linux/ppdev_ports.h"

namespace velnor::platform {
namespace host {
namespace {

bool grant_port_access() { return true; }

void sleep_ms(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void release() { release_ezusb(); }

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
