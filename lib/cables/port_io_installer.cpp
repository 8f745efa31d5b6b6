#include "cables/port_io_installer.h"

#include <cstdio>

namespace velnor {

PortIoState port_io = {0, platform::kNoHandle};

namespace {

constexpr const char* kServiceName = "giveio";
constexpr const char* kDriverFile = "giveio.sys";
constexpr const char* kDeviceName = "\\\\.\\giveio";
constexpr std::size_t kMaxPath = 260;  // MAX_PATH

constexpr int kMethodDeviceOpen = 2;
constexpr int kMethodServiceStart = 3;
constexpr int kMethodServiceCreate = 4;

bool ensure_scm_handle() {
  if (port_io.scm_handle == platform::kNoHandle) {
    port_io.scm_handle = platform::open_sc_manager(platform::kScManagerAllAccess);
  }
  return port_io.scm_handle != platform::kNoHandle;
}

// Opening the device is what grants the process port I/O; the handle itself
// is not needed afterwards. Returns the method number, or 0 on failure.
int open_device(int method) {
  platform::Handle device =
      platform::open_device(kDeviceName, platform::kGenericRead, 0, platform::kOpenExisting,
                            platform::kFileAttributeNormal);
  if (device == platform::kNoHandle) return 0;
  platform::close_device(device);
  if (port_io.port_io_method == 0) {
    port_io.port_io_method = method;
    platform::at_unload(release_port_io);
  }
  return method;
}

// Opens the installed service, starts it and opens the device.
int start_service_and_open(int method) {
  platform::Handle service =
      platform::open_service(port_io.scm_handle, kServiceName, platform::kServiceAllAccess);
  if (service == platform::kNoHandle) return 0;
  bool started = platform::start_service(service);
  platform::close_service_handle(service);
  return started ? open_device(method) : 0;
}

int start_installed_service() {
  if (!ensure_scm_handle()) return 0;
  return start_service_and_open(kMethodServiceStart);
}

int create_and_start_service(const char* driver_path) {
  // A driver file already in the drivers folder is used as it is, and a
  // missing local copy is no error: the start will tell.
  platform::copy_file(kDriverFile, driver_path, true);
  if (!ensure_scm_handle()) return 0;
  char binary_path[kMaxPath];
  if (platform::full_path_name(driver_path, binary_path, sizeof binary_path) == 0) return 0;
  const platform::ServiceDefinition definition = {
      kServiceName,
      kServiceName,
      platform::kServiceAllAccess,
      platform::kServiceKernelDriver,
      platform::kServiceDemandStart,
      platform::kServiceErrorNormal,
      binary_path,
  };
  platform::Handle service = platform::create_service(port_io.scm_handle, definition);
  if (service == platform::kNoHandle) return 0;
  platform::close_service_handle(service);
  return start_service_and_open(kMethodServiceCreate);
}

// Opens the service, applies action to it and closes it again; skipped when
// the manager or the service cannot be opened.
void with_service(bool (*action)(platform::Handle service)) {
  if (!ensure_scm_handle()) return;
  platform::Handle service =
      platform::open_service(port_io.scm_handle, kServiceName, platform::kServiceAllAccess);
  if (service == platform::kNoHandle) return;
  action(service);
  platform::close_service_handle(service);
}

}  // namespace

int enable_port_io() {
  std::uint32_t platform_id = 0;
  if (!platform::query_platform_id(&platform_id) || platform_id != platform::kPlatformNt) {
    return 1;
  }
  // An unset SystemRoot leaves a path from the root of the current drive.
  const char* system_root = platform::environment("SystemRoot");
  char driver_path[kMaxPath];
  std::snprintf(driver_path, sizeof driver_path, "%s/system32/drivers/%s",
                system_root != nullptr ? system_root : "", kDriverFile);

  if (int method = open_device(kMethodDeviceOpen); method != 0) return method;
  if (int method = start_installed_service(); method != 0) return method;
  return create_and_start_service(driver_path);
}

void release_port_io() {
  if (port_io.port_io_method == kMethodServiceStart ||
      port_io.port_io_method == kMethodServiceCreate) {
    with_service([](platform::Handle service) {
      return platform::control_service(service, platform::kServiceControlStop);
    });
  }
  if (port_io.port_io_method == kMethodServiceCreate) {
    with_service(platform::delete_service);
  }
  if (port_io.scm_handle != platform::kNoHandle) {
    platform::close_service_handle(port_io.scm_handle);
    port_io.scm_handle = platform::kNoHandle;
  }
}

}  // namespace velnor
