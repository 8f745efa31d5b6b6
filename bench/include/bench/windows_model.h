// The Windows services that the port-I/O installer talks to, modelled so that
// its whole logic runs on the bench: the platform line, the environment, the
// file system around the drivers folder, the service control manager with its
// database, the "\\.\giveio" device that opens only while its service runs,
// and the port-I/O grant that opening that device gives the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace velnor::bench {

using Handle = std::uintptr_t;

class WindowsModel {
 public:
  enum class PlatformLine { Nt, Windows9x, QueryFails };
  enum class ServiceState { Absent, Stopped, Running };

  struct Config {
    PlatformLine line = PlatformLine::Nt;
    bool administrator = true;  // may open the manager with all access
    ServiceState giveio = ServiceState::Running;
    bool driver_in_drivers_folder = true;  // giveio.sys under SystemRoot
    bool driver_in_current_folder = true;  // giveio.sys beside the program
    std::string system_root = "C:\\WINDOWS";
  };

  explicit WindowsModel(const Config& config);

  // The services, with the meaning of the Windows calls of the same name.
  bool query_platform_id(std::uint32_t* platform_id);
  const char* environment(const char* name);
  bool copy_file(const char* from, const char* to, bool fail_if_exists);
  std::size_t full_path_name(const char* path, char* out, std::size_t out_size);
  Handle open_sc_manager(std::uint32_t access);
  Handle open_service(Handle manager, const char* name, std::uint32_t access);
  Handle create_service(Handle manager, const char* name, const char* display_name,
                        std::uint32_t access, std::uint32_t type, std::uint32_t start,
                        std::uint32_t error_control, const char* binary_path);
  bool start_service(Handle service);
  bool control_service(Handle service, std::uint32_t control);
  bool delete_service(Handle service);
  void close_service_handle(Handle handle);
  // Devices this model owns ("\\.\giveio"); returns 0 for any other name.
  Handle open_device(const char* name, std::uint32_t access, std::uint32_t share_mode,
                     std::uint32_t creation, std::uint32_t flags);
  // True when the handle was one of this model's and is now closed.
  bool close_device(Handle device);

  // Port I/O is allowed without a grant off the NT line, and on the NT line
  // once "\\.\giveio" has been opened by the process.
  bool port_io_allowed() const;

  // For tests: views of the state, and a file put in place by hand.
  struct Service {
    std::string display_name;
    std::uint32_t type = 0;
    std::uint32_t start = 0;
    std::uint32_t error_control = 0;
    std::string binary_path;
    bool running = false;
  };
  const Service* service(const std::string& name) const;
  bool file_exists(const std::string& path) const;
  // Puts a file in place, as someone copying it by hand would.
  void add_file(const std::string& path);
  // Every call made, one line each, e.g. "OpenSCManager 0xF003F -> ok",
  // "CreateService giveio -> failed (exists)", in the order made.
  const std::vector<std::string>& calls() const;
  // Handles of any kind still open (a leak check for tests).
  std::size_t open_handle_count() const;

 private:  // free for the implementation to reshape
  enum class HandleKind { Manager, Service, Device };
  struct OpenHandle {
    HandleKind kind;
    std::uint32_t access;  // rights granted when opened
    std::string name;      // the service or device, as the caller spelled it
  };

  Handle new_handle(HandleKind kind, std::uint32_t access, const std::string& name);
  // The handle's record when it is open and of the given kind, else null.
  const OpenHandle* handle_of(Handle handle, HandleKind kind) const;
  // The service a service handle refers to; null once it was deleted.
  Service* service_of(const OpenHandle& handle);
  void log(std::string line);

  Config config_;
  std::map<std::string, Service> services_;  // keyed by upper-case name
  std::set<std::string> files_;              // absolute, upper case, backslashes
  std::map<Handle, OpenHandle> handles_;
  Handle next_handle_ = 0x100;
  bool port_io_granted_ = false;
  std::vector<std::string> calls_;
  std::string environment_value_;
};

}  // namespace velnor::bench
