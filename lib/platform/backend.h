// What a backend supplies: the services that differ between the real
// systems and the virtual board. platform.cpp picks one per process and
// forwards to it; files, threads, events and the exit list are the host's
// own on every backend.
#pragma once

#include "platform/platform.h"

namespace velnor::platform {

struct Backend {
  // Names what serves the process, e.g. the virtual board's description.
  const char* description;
  bool (*grant_port_access)();
  std::uint8_t (*port_read)(std::uint16_t port);
  void (*port_write)(std::uint16_t port, std::uint8_t value);
  Handle (*ezusb_open)(std::uint32_t unit);
  void (*ezusb_close)(Handle device);
  bool (*ezusb_string_descriptor)(Handle device, std::uint8_t index, std::uint8_t* reply,
                                  std::uint32_t reply_size, std::uint32_t* returned);
  bool (*ezusb_vendor_request)(Handle device, std::uint8_t request, std::uint16_t value,
                               std::uint16_t index, std::uint8_t data);
  bool (*ezusb_download)(Handle device, const std::uint8_t* image, std::uint32_t size);
  bool (*ezusb_bulk_write)(Handle device, std::uint32_t pipe, const std::uint8_t* bytes,
                           std::uint32_t length, std::uint32_t* sent);
  bool (*ezusb_bulk_read)(Handle device, std::uint32_t pipe, std::uint8_t* bytes,
                          std::uint32_t length, std::uint32_t* received);
  bool (*ezusb_cancel)(Handle device);
  void (*sleep_ms)(std::uint32_t milliseconds);
  // Undoes what the backend changed in the system (a driver service it
  // started or installed); run at unload.
  void (*release)();
};

// The real system's backend.
const Backend& host_backend();

}  // namespace velnor::platform

// The virtual board's module exports this entry point; the library looks it
// up in the process first (a test program linked with the module) and
// otherwise loads the module from beside the library.
#define VELNOR_BENCH_ENTRY_POINT "velnor_bench_platform"
extern "C" {
typedef const velnor::platform::Backend* (*VelnorBenchEntryPoint)();
}

namespace velnor::platform {
// The virtual board's entry point: in the process when a program linked the
// module, otherwise in the module loaded from beside the library's own file.
// Null, with the reason on stderr, when neither has it.
VelnorBenchEntryPoint find_bench_entry_point();
#ifdef _WIN32
// The process is ending and Windows has ended every thread but the caller:
// from now on a wait for an event returns at once (threads_win32.cpp).
void other_threads_ended();
#endif
}  // namespace velnor::platform
