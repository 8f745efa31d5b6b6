// The real services on Linux. Linux grants port access per device node, so
// no port-I/O driver is ever needed, and there is no service manager.
// Printer ports go through the ppdev driver (ppdev_ports.h); the USB cable
// (libusb) is not reached yet: every device fails to open.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/backend.h"
#include "platform/ppdev_ports.h"

namespace velnor::platform::host {

std::uint8_t port_read(std::uint16_t port) { return ppdev::port_read(port); }
void port_write(std::uint16_t port, std::uint8_t value) { ppdev::port_write(port, value); }

bool query_platform_id(std::uint32_t* platform_id) {
  *platform_id = kPlatformWindows;  // the line that needs no driver for port I/O
  return true;
}

const char* environment(const char* name) { return std::getenv(name); }

bool copy_file(const char* from, const char* to, bool fail_if_exists) {
  std::error_code error;
  auto options = fail_if_exists ? std::filesystem::copy_options::none
                                : std::filesystem::copy_options::overwrite_existing;
  return std::filesystem::copy_file(from, to, options, error) && !error;
}

std::size_t full_path_name(const char* path, char* out, std::size_t out_size) {
  std::error_code error;
  const std::string full = std::filesystem::absolute(path, error).string();
  if (error || full.size() + 1 > out_size) return 0;
  std::memcpy(out, full.c_str(), full.size() + 1);
  return full.size();
}

Handle open_sc_manager(std::uint32_t /*access*/) { return kNoHandle; }
Handle open_service(Handle, const char*, std::uint32_t) { return kNoHandle; }
Handle create_service(Handle, const ServiceDefinition&) { return kNoHandle; }
bool start_service(Handle) { return false; }
bool control_service(Handle, std::uint32_t) { return false; }
bool delete_service(Handle) { return false; }
void close_service_handle(Handle) {}

Handle open_device(const char*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
  return kNoHandle;
}
void close_device(Handle) {}
bool device_control(Handle, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                    std::uint32_t*) {
  return false;
}
bool cancel_device_io(Handle) { return false; }

void sleep_ms(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint64_t now_ms() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace velnor::platform::host
