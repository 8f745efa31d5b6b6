// The services that differ between backends. platform.cpp picks one backend
// per process and forwards to it; threads, events and the exit list are the
// same on every backend of a platform and live in platform.cpp.
#pragma once

#include "platform/platform.h"

#define VELNOR_BACKEND_SERVICES                                                                 \
  std::uint8_t port_read(std::uint16_t port);                                                   \
  void port_write(std::uint16_t port, std::uint8_t value);                                      \
  bool query_platform_id(std::uint32_t* platform_id);                                           \
  const char* environment(const char* name);                                                    \
  bool copy_file(const char* from, const char* to, bool fail_if_exists);                        \
  std::size_t full_path_name(const char* path, char* out, std::size_t out_size);                \
  Handle open_sc_manager(std::uint32_t access);                                                 \
  Handle open_service(Handle manager, const char* name, std::uint32_t access);                  \
  Handle create_service(Handle manager, const ServiceDefinition& definition);                   \
  bool start_service(Handle service);                                                           \
  bool control_service(Handle service, std::uint32_t control);                                  \
  bool delete_service(Handle service);                                                          \
  void close_service_handle(Handle handle);                                                     \
  Handle open_device(const char* name, std::uint32_t access, std::uint32_t share_mode,          \
                     std::uint32_t creation, std::uint32_t flags);                              \
  void close_device(Handle device);                                                             \
  bool device_control(Handle device, std::uint32_t code, const void* in, std::uint32_t in_size, \
                      void* out, std::uint32_t out_size, std::uint32_t* returned);              \
  bool cancel_device_io(Handle device);                                                         \
  void sleep_ms(std::uint32_t milliseconds);                                                    \
  std::uint64_t now_ms();

namespace velnor::platform {
// The operating system the library was built for.
namespace host {
VELNOR_BACKEND_SERVICES
}
#if VELNOR_WITH_BENCH
// The virtual board of the bench.
namespace bench {
VELNOR_BACKEND_SERVICES
}
#endif
}  // namespace velnor::platform

#undef VELNOR_BACKEND_SERVICES
