// The bench as the library's platform: a Windows PC with the virtual board
// attached. The library's own windows backend runs here unchanged, its
// Windows calls answered by the board's model of the system, the giveio
// driver and the EZ-USB general-purpose driver. The library finds this
// module's entry point when VELNOR_BENCH is set.
#include "bench/platform_module.h"

#include <cstdlib>
#include <string>

#include "bench/board.h"
#include "platform/backend.h"
#include "platform/windows/win32_api.h"

namespace velnor::bench {
namespace {

namespace win = platform::windows;

Board& board() { return active_board(); }
WindowsModel& system() { return board().windows(); }

std::string board_description() {
  const char* text = std::getenv("VELNOR_BENCH");
  return text == nullptr || *text == '\0' ? Board::kDefaultDescription : text;
}

}  // namespace

const win::Win32Api& windows_api() {
  static const std::string description = board_description();
  static const win::Win32Api api = {
      description.c_str(),
      [](std::uint32_t* id) { return system().query_platform_id(id); },
      [](const char* name) { return system().environment(name); },
      [](const char* from, const char* to, bool fail_if_exists) {
        return system().copy_file(from, to, fail_if_exists);
      },
      [](const char* path, char* out, std::size_t size) {
        return system().full_path_name(path, out, size);
      },
      [](std::uint32_t access) { return system().open_sc_manager(access); },
      [](Handle manager, const char* name, std::uint32_t access) {
        return system().open_service(manager, name, access);
      },
      [](Handle manager, const win::ServiceDefinition& service) {
        return system().create_service(
            manager, service.name, service.display_name, service.desired_access,
            service.service_type, service.start_type, service.error_control, service.binary_path);
      },
      [](Handle service) { return system().start_service(service); },
      [](Handle service, std::uint32_t control) {
        return system().control_service(service, control);
      },
      [](Handle service) { return system().delete_service(service); },
      [](Handle handle) { system().close_service_handle(handle); },
      [](const char* name, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
         std::uint32_t flags) { return board().open_device(name, access, share, creation, flags); },
      [](Handle device) { board().close_device(device); },
      [](Handle device, std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
         std::uint32_t out_size, std::uint32_t* returned) {
        return board().device_control(device, code, in, in_size, out, out_size, returned);
      },
      [](Handle device) { return board().cancel_device_io(device); },
      [](std::uint16_t port) { return board().port_read(port); },
      [](std::uint16_t port, std::uint8_t value) { board().port_write(port, value); },
      [](std::uint32_t milliseconds) { board().clock().sleep_ms(milliseconds); },
  };
  return api;
}

}  // namespace velnor::bench

extern "C" __attribute__((visibility("default"))) const velnor::platform::Backend*
velnor_bench_platform() {
  return &velnor::platform::windows::windows_backend(velnor::bench::windows_api());
}
