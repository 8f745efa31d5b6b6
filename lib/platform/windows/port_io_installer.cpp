#include "platform/windows/port_io_installer.h"

#include <cstdio>

namespace velnor::platform::windows {

PortIoState port_io = {0, NO_HANDLE};

namespace {

constexpr const char* SERVICE_NAME = "giveio";
constexpr const char* DRIVER_FILE = "giveio.sys";
constexpr const char* DEVICE_NAME = "\\\\.\\giveio";
constexpr std::size_t MAX_PATH_CHARS = 260;  // MAX_PATH

constexpr int METHOD_DEVICE_OPEN = 2;
constexpr int METHOD_SERVICE_START = 3;
constexpr int METHOD_SERVICE_CREATE = 4;

bool ensure_scm_handle(const Win32Api& api) {
  if (port_io.scm_handle == NO_HANDLE) {
    port_io.scm_handle = api.open_sc_manager(SC_MANAGER_ALL_ACCESS);
  }
  return port_io.scm_handle != NO_HANDLE;
}

// Opening the device is what grants the process port I/O; the handle itself
// is not needed afterwards. Returns the method number, or 0 on failure.
int open_device(const Win32Api& api, int method) {
  Handle device = api.create_file(DEVICE_NAME, GENERIC_READ_ACCESS, 0, OPEN_EXISTING_FILE,
                                  FILE_ATTRIBUTE_NORMAL_FLAG);
  if (device == NO_HANDLE) return 0;
  api.close_handle(device);
  if (port_io.port_io_method == 0) port_io.port_io_method = method;
  return method;
}

// Opens the installed service, starts it and opens the device.
int start_service_and_open(const Win32Api& api, int method) {
  Handle service = api.open_service(port_io.scm_handle, SERVICE_NAME, SERVICE_ALL_ACCESS);
  if (service == NO_HANDLE) return 0;
  bool started = api.start_service(service);
  api.close_service_handle(service);
  return started ? open_device(api, method) : 0;
}

int start_installed_service(const Win32Api& api) {
  if (!ensure_scm_handle(api)) return 0;
  return start_service_and_open(api, METHOD_SERVICE_START);
}

int create_and_start_service(const Win32Api& api, const char* driver_path) {
  // A driver file already in the drivers folder is used as it is, and a
  // missing local copy is no error: the start will tell.
  api.copy_file(DRIVER_FILE, driver_path, true);
  if (!ensure_scm_handle(api)) return 0;
  char binary_path[MAX_PATH_CHARS];
  if (api.full_path_name(driver_path, binary_path, sizeof binary_path) == 0) return 0;
  const ServiceDefinition definition = {
      SERVICE_NAME,         SERVICE_NAME,         SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary_path,
  };
  Handle service = api.create_service(port_io.scm_handle, definition);
  if (service == NO_HANDLE) return 0;
  api.close_service_handle(service);
  return start_service_and_open(api, METHOD_SERVICE_CREATE);
}

// Opens the service, applies action to it and closes it again; skipped when
// the manager or the service cannot be opened.
template <typename Action>
void with_service(const Win32Api& api, Action action) {
  if (!ensure_scm_handle(api)) return;
  Handle service = api.open_service(port_io.scm_handle, SERVICE_NAME, SERVICE_ALL_ACCESS);
  if (service == NO_HANDLE) return;
  action(service);
  api.close_service_handle(service);
}

}  // namespace

int enable_port_io(const Win32Api& api) {
  std::uint32_t platform_id = 0;
  if (!api.query_platform_id(&platform_id) || platform_id != PLATFORM_NT) {
    return 1;
  }
  // An unset SystemRoot leaves a path from the root of the current drive.
  const char* system_root = api.environment("SystemRoot");
  char driver_path[MAX_PATH_CHARS];
  std::snprintf(driver_path, sizeof driver_path, "%s/system32/drivers/%s",
                system_root != nullptr ? system_root : "", DRIVER_FILE);

  if (int method = open_device(api, METHOD_DEVICE_OPEN); method != 0) return method;
  if (int method = start_installed_service(api); method != 0) return method;
  return create_and_start_service(api, driver_path);
}

void release_port_io(const Win32Api& api) {
  if (port_io.port_io_method == METHOD_SERVICE_START ||
      port_io.port_io_method == METHOD_SERVICE_CREATE) {
    with_service(api,
                 [&api](Handle service) { api.control_service(service, SERVICE_CONTROL_STOP); });
  }
  if (port_io.port_io_method == METHOD_SERVICE_CREATE) {
    with_service(api, [&api](Handle service) { api.delete_service(service); });
  }
  if (port_io.scm_handle != NO_HANDLE) {
    api.close_service_handle(port_io.scm_handle);
    port_io.scm_handle = NO_HANDLE;
  }
}

}  // namespace velnor::platform::windows
