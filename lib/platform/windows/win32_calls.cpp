// The real Windows calls behind the windows backend, and the host backend on
// Windows. Each slot of Win32Api is the call its declaration names.
// First, before <windows.h> defines its own macros of the same names as
// the table's constants.
#include "platform/windows/win32_api.h"
// Then the system's declarations.
#include <windows.h>

#include <cstdlib>

#if defined(_M_X64) || defined(__x86_64__)
#include <intrin.h>
#else
#include <conio.h>
#endif

namespace velnor::platform {
namespace windows {
namespace {

HANDLE native(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
SC_HANDLE native_service(Handle handle) { return reinterpret_cast<SC_HANDLE>(handle); }
Handle handle_of(SC_HANDLE handle) { return reinterpret_cast<Handle>(handle); }

bool query_platform_id(std::uint32_t* platform_id) {
  OSVERSIONINFOA version{};
  // The record of the ANSI query: its size field tells which record it is.
  static_assert(sizeof version == 148);
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version) == 0) return false;
  *platform_id = version.dwPlatformId;
  return true;
}

const char* environment(const char* name) { return std::getenv(name); }

bool copy_file(const char* from, const char* to, bool fail_if_exists) {
  return CopyFileA(from, to, fail_if_exists) != 0;
}

std::size_t full_path_name(const char* path, char* out, std::size_t out_size) {
  const DWORD length = GetFullPathNameA(path, static_cast<DWORD>(out_size), out, nullptr);
  return length == 0 || length >= out_size ? 0 : length;
}

Handle open_sc_manager(std::uint32_t access) {
  return handle_of(OpenSCManagerA(nullptr, nullptr, access));
}

Handle open_service(Handle manager, const char* name, std::uint32_t access) {
  return handle_of(OpenServiceA(native_service(manager), name, access));
}

Handle create_service(Handle manager, const ServiceDefinition& definition) {
  return handle_of(CreateServiceA(
      native_service(manager), definition.name, definition.display_name, definition.desired_access,
      definition.service_type, definition.start_type, definition.error_control,
      definition.binary_path, nullptr, nullptr, nullptr, nullptr, nullptr));
}

bool start_service(Handle service) {
  return StartServiceA(native_service(service), 0, nullptr) != 0;
}

bool control_service(Handle service, std::uint32_t control) {
  SERVICE_STATUS status{};
  return ControlService(native_service(service), control, &status) != 0;
}

bool delete_service(Handle service) { return DeleteService(native_service(service)) != 0; }

void close_service_handle(Handle handle) { CloseServiceHandle(native_service(handle)); }

Handle create_file(const char* name, std::uint32_t access, std::uint32_t share_mode,
                   std::uint32_t creation, std::uint32_t flags) {
  HANDLE file = CreateFileA(name, access, share_mode, nullptr, creation, flags, nullptr);
  return file == INVALID_HANDLE_VALUE ? NO_HANDLE : reinterpret_cast<Handle>(file);
}

void close_handle(Handle handle) { CloseHandle(native(handle)); }

bool device_io_control(Handle device, std::uint32_t code, const void* in, std::uint32_t in_size,
                       void* out, std::uint32_t out_size, std::uint32_t* returned) {
  DWORD got = 0;
  const BOOL ok = DeviceIoControl(native(device), code, const_cast<void*>(in), in_size, out,
                                  out_size, &got, nullptr);
  *returned = got;
  return ok != 0;
}

bool cancel_io(Handle device) { return CancelIoEx(native(device), nullptr) != 0; }

// Direct port I/O: the C runtime's _inp/_outp where it has them (32-bit),
// the compiler's in/out instructions on 64-bit, which has no such functions.
// Either faults unless giveio granted the process the ports.
std::uint8_t port_in(std::uint16_t port) {
#if defined(_M_X64) || defined(__x86_64__)
  return __inbyte(port);
#else
  return static_cast<std::uint8_t>(_inp(port));
#endif
}

void port_out(std::uint16_t port, std::uint8_t value) {
#if defined(_M_X64) || defined(__x86_64__)
  __outbyte(port, value);
#else
  _outp(port, value);
#endif
}

void sleep(std::uint32_t milliseconds) { Sleep(milliseconds); }

const Win32Api real_calls = {
    "Windows",       query_platform_id, environment,
    copy_file,       full_path_name,    open_sc_manager,
    open_service,    create_service,    start_service,
    control_service, delete_service,    close_service_handle,
    create_file,     close_handle,      device_io_control,
    cancel_io,       port_in,           port_out,
    sleep,
};

}  // namespace

const Win32Api& system_calls() { return real_calls; }

}  // namespace windows

const Backend& host_backend() { return windows::windows_backend(windows::real_calls); }

}  // namespace velnor::platform
