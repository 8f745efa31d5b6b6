// The Windows calls the windows backend is written in, one slot each, so
// that the same backend runs on the real system (each slot the call named
// beside it) and on the virtual board's model of a Windows PC.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/backend.h"

namespace velnor::platform::windows {

// GetVersionExA's dwPlatformId.
constexpr std::uint32_t PLATFORM_WIN32S = 0;
constexpr std::uint32_t PLATFORM_WINDOWS = 1;  // the 9x line: port I/O needs no driver
constexpr std::uint32_t PLATFORM_NT = 2;

constexpr std::uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr std::uint32_t SERVICE_ALL_ACCESS = 0xF01FF;
constexpr std::uint32_t SERVICE_KERNEL_DRIVER = 1;
constexpr std::uint32_t SERVICE_DEMAND_START = 3;
constexpr std::uint32_t SERVICE_ERROR_NORMAL = 1;
constexpr std::uint32_t SERVICE_CONTROL_STOP = 1;

constexpr std::uint32_t GENERIC_READ_ACCESS = 0x80000000;
constexpr std::uint32_t GENERIC_WRITE_ACCESS = 0x40000000;
constexpr std::uint32_t FILE_SHARE_WRITE_MODE = 2;
constexpr std::uint32_t OPEN_EXISTING_FILE = 3;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL_FLAG = 0x80;

struct ServiceDefinition {
  const char* name;
  const char* display_name;
  std::uint32_t desired_access;
  std::uint32_t service_type;
  std::uint32_t start_type;
  std::uint32_t error_control;
  const char* binary_path;
};

struct Win32Api {
  const char* description;
  // GetVersionExA with its 148-byte record: false when the query fails.
  bool (*query_platform_id)(std::uint32_t* platform_id);
  // getenv: null when not set.
  const char* (*environment)(const char* name);
  bool (*copy_file)(const char* from, const char* to, bool fail_if_exists);  // CopyFileA
  // GetFullPathNameA: the length written, 0 on failure or when it does not fit.
  std::size_t (*full_path_name)(const char* path, char* out, std::size_t out_size);
  Handle (*open_sc_manager)(std::uint32_t access);  // OpenSCManagerA(NULL, NULL, access)
  Handle (*open_service)(Handle manager, const char* name, std::uint32_t access);
  Handle (*create_service)(Handle manager, const ServiceDefinition& definition);
  bool (*start_service)(Handle service);  // StartServiceA(service, 0, NULL)
  bool (*control_service)(Handle service, std::uint32_t control);
  bool (*delete_service)(Handle service);
  void (*close_service_handle)(Handle handle);
  Handle (*create_file)(const char* name, std::uint32_t access, std::uint32_t share_mode,
                        std::uint32_t creation, std::uint32_t flags);  // CreateFileA
  void (*close_handle)(Handle handle);
  bool (*device_io_control)(Handle device, std::uint32_t code, const void* in,
                            std::uint32_t in_size, void* out, std::uint32_t out_size,
                            std::uint32_t* returned);
  bool (*cancel_io)(Handle device);                          // CancelIoEx(device, NULL)
  std::uint8_t (*port_in)(std::uint16_t port);               // _inp
  void (*port_out)(std::uint16_t port, std::uint8_t value);  // _outp
  void (*sleep)(std::uint32_t milliseconds);                 // Sleep
};

// The backend over these calls. One process has one.
const Backend& windows_backend(const Win32Api& api);

#ifdef _WIN32
// The real system's calls (win32_calls.cpp).
const Win32Api& system_calls();
#endif

}  // namespace velnor::platform::windows
