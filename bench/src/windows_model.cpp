#include "bench/windows_model.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace velnor::bench {

namespace {

// The bench process runs in this folder; relative paths resolve against it.
constexpr const char* kCurrentFolder = "C:\\BENCH";
constexpr const char* kDriverFile = "giveio.sys";
constexpr const char* kServiceName = "giveio";
constexpr const char* kDeviceName = "\\\\.\\giveio";

// Service control manager rights (winsvc.h).
constexpr std::uint32_t kScManagerConnect = 0x0001;
constexpr std::uint32_t kScManagerCreateService = 0x0002;
// What the manager and a driver service grant an account outside the
// Administrators group: connect, enumerate and query, never change.
constexpr std::uint32_t kUserManagerRights = 0x20015;
constexpr std::uint32_t kUserServiceRights = 0x2018D;
// Service object rights.
constexpr std::uint32_t kServiceStart = 0x0010;
constexpr std::uint32_t kServiceStop = 0x0020;
constexpr std::uint32_t kDelete = 0x10000;
constexpr std::uint32_t kServiceControlStop = 1;
constexpr std::uint32_t kOpenExisting = 3;

std::string hex(std::uintmax_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%jX", value);
  return text;
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

// The absolute form Windows gives a path: backslashes only, repeated
// separators collapsed, rooted paths on the current drive, relative ones
// under the current folder.
std::string absolute(std::string_view path) {
  std::string joined;
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    joined = path;
  } else if (!path.empty() && is_separator(path[0])) {
    joined = std::string(kCurrentFolder, 2) + std::string(path);
  } else {
    joined = std::string(kCurrentFolder) + "\\" + std::string(path);
  }
  std::string result;
  for (char c : joined) {
    if (!is_separator(c)) {
      result += c;
    } else if (result.empty() || result.back() != '\\') {
      result += '\\';
    }
  }
  return result;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Windows compares file and service names without regard to case.
std::string file_key(std::string_view path) { return upper(absolute(path)); }

std::string drivers_folder_path(const std::string& system_root) {
  return absolute(system_root + "\\system32\\drivers\\" + kDriverFile);
}

bool same_name(const char* a, const char* b) { return upper(a) == upper(b); }

}  // namespace

WindowsModel::WindowsModel(const Config& config) : config_(config) {
  if (config_.driver_in_drivers_folder)
    files_.insert(file_key(drivers_folder_path(config_.system_root)));
  if (config_.driver_in_current_folder) files_.insert(file_key(kDriverFile));
  if (config_.giveio != ServiceState::Absent) {
    Service& giveio = services_[upper(kServiceName)];
    giveio.display_name = kServiceName;
    giveio.type = 1;           // kernel driver
    giveio.start = 3;          // demand start
    giveio.error_control = 1;  // normal
    giveio.binary_path = drivers_folder_path(config_.system_root);
    giveio.running = config_.giveio == ServiceState::Running;
  }
}

void WindowsModel::log(std::string line) { calls_.push_back(std::move(line)); }

Handle WindowsModel::new_handle(HandleKind kind, std::uint32_t access, const std::string& name) {
  Handle handle = next_handle_;
  next_handle_ += 4;  // kernel handles are multiples of four
  handles_.emplace(handle, OpenHandle{kind, access, name});
  return handle;
}

const WindowsModel::OpenHandle* WindowsModel::handle_of(Handle handle, HandleKind kind) const {
  auto found = handles_.find(handle);
  return found != handles_.end() && found->second.kind == kind ? &found->second : nullptr;
}

WindowsModel::Service* WindowsModel::service_of(const OpenHandle& handle) {
  auto found = services_.find(upper(handle.name));
  return found != services_.end() ? &found->second : nullptr;
}

bool WindowsModel::query_platform_id(std::uint32_t* platform_id) {
  if (config_.line == PlatformLine::QueryFails || platform_id == nullptr) {
    log("GetVersionEx -> failed");
    return false;
  }
  *platform_id = config_.line == PlatformLine::Nt ? 2 : 1;
  log("GetVersionEx -> " + std::to_string(*platform_id));
  return true;
}

const char* WindowsModel::environment(const char* name) {
  // Only SystemRoot is set in the model's environment; names ignore case.
  if (!same_name(name, "SystemRoot")) {
    log(std::string("getenv ") + name + " -> not set");
    return nullptr;
  }
  environment_value_ = config_.system_root;
  log(std::string("getenv ") + name + " -> " + environment_value_);
  return environment_value_.c_str();
}

bool WindowsModel::copy_file(const char* from, const char* to, bool fail_if_exists) {
  std::string line = std::string("CopyFile ") + from + " -> " + to + " -> ";
  const std::string target = file_key(to);
  const std::string system_folder = upper(absolute(config_.system_root)) + "\\";
  const char* failure = nullptr;
  if (!file_exists(from)) {
    failure = "no source";
  } else if (fail_if_exists && files_.count(target) != 0) {
    failure = "exists";
  } else if (!config_.administrator && target.starts_with(system_folder)) {
    failure = "access denied";  // the system folder is writable by administrators only
  }
  if (failure != nullptr) {
    log(line + "failed (" + failure + ")");
    return false;
  }
  files_.insert(target);
  log(line + "ok");
  return true;
}

std::size_t WindowsModel::full_path_name(const char* path, char* out, std::size_t out_size) {
  const std::string full = absolute(path);
  if (full.size() + 1 > out_size) {
    log(std::string("GetFullPathName ") + path + " -> failed (too long)");
    return 0;
  }
  std::memcpy(out, full.c_str(), full.size() + 1);
  log(std::string("GetFullPathName ") + path + " -> " + full);
  return full.size();
}

Handle WindowsModel::open_sc_manager(std::uint32_t access) {
  std::string line = "OpenSCManager " + hex(access) + " -> ";
  if (!config_.administrator && (access & ~kUserManagerRights) != 0) {
    log(line + "failed (access denied)");
    return 0;
  }
  log(line + "ok");
  return new_handle(HandleKind::Manager, access, "manager");
}

Handle WindowsModel::open_service(Handle manager, const char* name, std::uint32_t access) {
  std::string line = std::string("OpenService ") + name + " -> ";
  const OpenHandle* scm = handle_of(manager, HandleKind::Manager);
  const char* failure = nullptr;
  if (scm == nullptr) {
    failure = "bad handle";
  } else if ((scm->access & kScManagerConnect) == 0) {
    failure = "access denied";
  } else if (services_.count(upper(name)) == 0) {
    failure = "not found";
  } else if (!config_.administrator && (access & ~kUserServiceRights) != 0) {
    failure = "access denied";
  }
  if (failure != nullptr) {
    log(line + "failed (" + failure + ")");
    return 0;
  }
  log(line + "ok");
  return new_handle(HandleKind::Service, access, name);
}

Handle WindowsModel::create_service(Handle manager, const char* name, const char* display_name,
                                    std::uint32_t access, std::uint32_t type, std::uint32_t start,
                                    std::uint32_t error_control, const char* binary_path) {
  std::string line = std::string("CreateService ") + name + " -> ";
  const OpenHandle* scm = handle_of(manager, HandleKind::Manager);
  const char* failure = nullptr;
  if (scm == nullptr) {
    failure = "bad handle";
  } else if ((scm->access & kScManagerCreateService) == 0) {
    failure = "access denied";
  } else if (services_.count(upper(name)) != 0) {
    failure = "exists";
  }
  if (failure != nullptr) {
    log(line + "failed (" + failure + ")");
    return 0;
  }
  Service& created = services_[upper(name)];
  created.display_name = display_name;
  created.type = type;
  created.start = start;
  created.error_control = error_control;
  created.binary_path = binary_path;
  log(line + "ok");
  return new_handle(HandleKind::Service, access, name);
}

bool WindowsModel::start_service(Handle service) {
  const OpenHandle* handle = handle_of(service, HandleKind::Service);
  if (handle == nullptr) {
    log("StartService " + hex(service) + " -> failed (bad handle)");
    return false;
  }
  std::string line = "StartService " + handle->name + " -> ";
  Service* target = service_of(*handle);
  const char* failure = nullptr;
  if ((handle->access & kServiceStart) == 0) {
    failure = "access denied";
  } else if (target == nullptr) {
    failure = "deleted";
  } else if (target->running) {
    failure = "already running";
  } else if (!file_exists(target->binary_path)) {
    failure = "no driver file";  // the kernel reports ERROR_FILE_NOT_FOUND
  }
  if (failure != nullptr) {
    log(line + "failed (" + failure + ")");
    return false;
  }
  target->running = true;
  log(line + "ok");
  return true;
}

bool WindowsModel::control_service(Handle service, std::uint32_t control) {
  const OpenHandle* handle = handle_of(service, HandleKind::Service);
  if (handle == nullptr) {
    log("ControlService " + hex(service) + " -> failed (bad handle)");
    return false;
  }
  std::string line = "ControlService " + handle->name + " " +
                     (control == kServiceControlStop ? "stop" : std::to_string(control)) + " -> ";
  Service* target = service_of(*handle);
  const char* failure = nullptr;
  if (control != kServiceControlStop) {
    failure = "invalid control";  // a kernel driver accepts only stop
  } else if ((handle->access & kServiceStop) == 0) {
    failure = "access denied";
  } else if (target == nullptr) {
    failure = "deleted";
  } else if (!target->running) {
    failure = "not running";
  }
  if (failure != nullptr) {
    log(line + "failed (" + failure + ")");
    return false;
  }
  target->running = false;
  log(line + "ok");
  return true;
}

bool WindowsModel::delete_service(Handle service) {
  const OpenHandle* handle = handle_of(service, HandleKind::Service);
  if (handle == nullptr) {
    log("DeleteService " + hex(service) + " -> failed (bad handle)");
    return false;
  }
  std::string line = "DeleteService " + handle->name + " -> ";
  // Windows only marks the service and removes it when the last handle
  // closes; removing it at once is enough for everything the library does.
  const char* failure = nullptr;
  if ((handle->access & kDelete) == 0) {
    failure = "access denied";
  } else if (services_.erase(upper(handle->name)) == 0) {
    failure = "deleted";
  }
  if (failure != nullptr) {
    log(line + "failed (" + failure + ")");
    return false;
  }
  log(line + "ok");
  return true;
}

void WindowsModel::close_service_handle(Handle handle) {
  auto found = handles_.find(handle);
  if (found == handles_.end() || found->second.kind == HandleKind::Device) {
    log("CloseServiceHandle " + hex(handle) + " -> failed (bad handle)");
    return;
  }
  log("CloseServiceHandle " + found->second.name + " -> ok");
  handles_.erase(found);
}

Handle WindowsModel::open_device(const char* name, std::uint32_t /*access*/,
                                 std::uint32_t /*share_mode*/, std::uint32_t creation,
                                 std::uint32_t /*flags*/) {
  if (!same_name(name, kDeviceName)) return 0;
  std::string line = std::string("CreateFile ") + name + " -> ";
  const Service* giveio = service(kServiceName);
  if (creation != kOpenExisting) {
    log(line + "failed (not open-existing)");  // a device can only be opened
    return 0;
  }
  if (giveio == nullptr || !giveio->running) {
    log(line + "failed (driver not running)");
    return 0;
  }
  // The driver's open routine clears the process's I/O permission map; the
  // grant outlives the handle and the driver.
  port_io_granted_ = true;
  log(line + "ok");
  return new_handle(HandleKind::Device, 0, name);
}

bool WindowsModel::close_device(Handle device) {
  if (handle_of(device, HandleKind::Device) == nullptr) return false;
  log("CloseHandle " + handles_.at(device).name + " -> ok");
  handles_.erase(device);
  return true;
}

bool WindowsModel::port_io_allowed() const {
  // Only the NT line guards the I/O ports; 9x, or a system too old to
  // answer the version query, lets every process use them.
  return config_.line != PlatformLine::Nt || port_io_granted_;
}

const WindowsModel::Service* WindowsModel::service(const std::string& name) const {
  auto found = services_.find(upper(name));
  return found != services_.end() ? &found->second : nullptr;
}

bool WindowsModel::file_exists(const std::string& path) const {
  return files_.count(file_key(path)) != 0;
}

void WindowsModel::add_file(const std::string& path) { files_.insert(file_key(path)); }

const std::vector<std::string>& WindowsModel::calls() const { return calls_; }

std::size_t WindowsModel::open_handle_count() const { return handles_.size(); }

}  // namespace velnor::bench
