// Every service answered by the virtual board.
#include "bench/board.h"
#include "platform/backend.h"

namespace velnor::platform::bench {
namespace {
velnor::bench::Board& board() { return velnor::bench::active_board(); }
velnor::bench::WindowsModel& windows() { return board().windows(); }
}  // namespace

std::uint8_t port_read(std::uint16_t port) { return board().port_read(port); }
void port_write(std::uint16_t port, std::uint8_t value) { board().port_write(port, value); }
bool query_platform_id(std::uint32_t* platform_id) {
  return windows().query_platform_id(platform_id);
}
const char* environment(const char* name) { return windows().environment(name); }
bool copy_file(const char* from, const char* to, bool fail_if_exists) {
  return windows().copy_file(from, to, fail_if_exists);
}
std::size_t full_path_name(const char* path, char* out, std::size_t out_size) {
  return windows().full_path_name(path, out, out_size);
}
Handle open_sc_manager(std::uint32_t access) { return windows().open_sc_manager(access); }
Handle open_service(Handle manager, const char* name, std::uint32_t access) {
  return windows().open_service(manager, name, access);
}
Handle create_service(Handle manager, const ServiceDefinition& definition) {
  return windows().create_service(manager, definition.name, definition.display_name,
                                  definition.desired_access, definition.service_type,
                                  definition.start_type, definition.error_control,
                                  definition.binary_path);
}
bool start_service(Handle service) { return windows().start_service(service); }
bool control_service(Handle service, std::uint32_t control) {
  return windows().control_service(service, control);
}
bool delete_service(Handle service) { return windows().delete_service(service); }
void close_service_handle(Handle handle) { windows().close_service_handle(handle); }
Handle open_device(const char* name, std::uint32_t access, std::uint32_t share_mode,
                   std::uint32_t creation, std::uint32_t flags) {
  return board().open_device(name, access, share_mode, creation, flags);
}
void close_device(Handle device) { board().close_device(device); }
bool device_control(Handle device, std::uint32_t code, const void* in, std::uint32_t in_size,
                    void* out, std::uint32_t out_size, std::uint32_t* returned) {
  return board().device_control(device, code, in, in_size, out, out_size, returned);
}
bool cancel_device_io(Handle device) { return board().cancel_device_io(device); }
void sleep_ms(std::uint32_t milliseconds) { board().clock().sleep_ms(milliseconds); }
std::uint64_t now_ms() { return board().clock().now_ms(); }

}  // namespace velnor::platform::bench
