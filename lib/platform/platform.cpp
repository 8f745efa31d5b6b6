// Backend choice, and the services every backend of this platform shares:
// threads, events and the exit list.
#include "platform/platform.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <thread>

#include "platform/backend.h"

namespace velnor::platform {
#if VELNOR_WITH_BENCH
namespace {
// The bench serves the whole process when VELNOR_BENCH is set at first use.
bool bench_selected() {
  static const bool selected = std::getenv("VELNOR_BENCH") != nullptr;
  return selected;
}
}  // namespace

#define VELNOR_FORWARD(call) return bench_selected() ? bench::call : host::call
#else
#define VELNOR_FORWARD(call) return host::call
#endif

std::uint8_t port_read(std::uint16_t port) { VELNOR_FORWARD(port_read(port)); }
void port_write(std::uint16_t port, std::uint8_t value) { VELNOR_FORWARD(port_write(port, value)); }
bool query_platform_id(std::uint32_t* platform_id) {
  VELNOR_FORWARD(query_platform_id(platform_id));
}
const char* environment(const char* name) { VELNOR_FORWARD(environment(name)); }
bool copy_file(const char* from, const char* to, bool fail_if_exists) {
  VELNOR_FORWARD(copy_file(from, to, fail_if_exists));
}
std::size_t full_path_name(const char* path, char* out, std::size_t out_size) {
  VELNOR_FORWARD(full_path_name(path, out, out_size));
}
Handle open_sc_manager(std::uint32_t access) { VELNOR_FORWARD(open_sc_manager(access)); }
Handle open_service(Handle manager, const char* name, std::uint32_t access) {
  VELNOR_FORWARD(open_service(manager, name, access));
}
Handle create_service(Handle manager, const ServiceDefinition& definition) {
  VELNOR_FORWARD(create_service(manager, definition));
}
bool start_service(Handle service) { VELNOR_FORWARD(start_service(service)); }
bool control_service(Handle service, std::uint32_t control) {
  VELNOR_FORWARD(control_service(service, control));
}
bool delete_service(Handle service) { VELNOR_FORWARD(delete_service(service)); }
void close_service_handle(Handle handle) { VELNOR_FORWARD(close_service_handle(handle)); }
Handle open_device(const char* name, std::uint32_t access, std::uint32_t share_mode,
                   std::uint32_t creation, std::uint32_t flags) {
  VELNOR_FORWARD(open_device(name, access, share_mode, creation, flags));
}
void close_device(Handle device) { VELNOR_FORWARD(close_device(device)); }
bool device_control(Handle device, std::uint32_t code, const void* in, std::uint32_t in_size,
                    void* out, std::uint32_t out_size, std::uint32_t* returned) {
  VELNOR_FORWARD(device_control(device, code, in, in_size, out, out_size, returned));
}
bool cancel_device_io(Handle device) { VELNOR_FORWARD(cancel_device_io(device)); }
void sleep_ms(std::uint32_t milliseconds) { VELNOR_FORWARD(sleep_ms(milliseconds)); }
std::uint64_t now_ms() { VELNOR_FORWARD(now_ms()); }

#undef VELNOR_FORWARD

// --- Exit list ---------------------------------------------------------------

namespace {
// Plain storage with nothing to destroy, so the list is intact whenever the
// runtime gets round to the unload.
void (*unload_functions[16])();
std::size_t unload_count = 0;
}  // namespace

bool at_unload(void (*function)()) {
  if (unload_count == std::size(unload_functions)) return false;
  unload_functions[unload_count++] = function;
  return true;
}

void run_unload_list() {
  while (unload_count > 0) unload_functions[--unload_count]();
}

namespace {
// The library's own unload: the runtime calls it when the shared library
// leaves the process.
__attribute__((destructor)) void unload_library() { run_unload_list(); }
}  // namespace

// --- Threads -----------------------------------------------------------------

bool start_detached_thread(void (*function)()) {
  try {
    std::thread(function).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

Handle start_thread(void (*function)(void* argument), void* argument) {
  try {
    return reinterpret_cast<Handle>(new std::thread(function, argument));
  } catch (const std::system_error&) {
    return kNoHandle;
  }
}

void join_thread(Handle thread) {
  auto* running = reinterpret_cast<std::thread*>(thread);
  if (running == nullptr) return;
  running->join();
  delete running;
}

bool set_current_thread_priority(int /*priority*/) {
  // Raising a thread above normal needs real-time scheduling rights here; the
  // reader thread works at normal priority, only with more latency.
  return false;
}

// --- Events ------------------------------------------------------------------

namespace {
struct Event {
  std::mutex mutex;
  std::condition_variable changed;
  bool manual_reset;
  bool set;
};
Event* event_of(Handle handle) { return reinterpret_cast<Event*>(handle); }
}  // namespace

Handle create_event(bool manual_reset, bool initially_set) {
  return reinterpret_cast<Handle>(new Event{{}, {}, manual_reset, initially_set});
}

void set_event(Handle handle) {
  Event* event = event_of(handle);
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->set = true;
  }
  event->changed.notify_all();
}

void reset_event(Handle handle) {
  Event* event = event_of(handle);
  std::lock_guard<std::mutex> lock(event->mutex);
  event->set = false;
}

bool wait_event(Handle handle, std::uint32_t timeout_ms) {
  Event* event = event_of(handle);
  std::unique_lock<std::mutex> lock(event->mutex);
  auto is_set = [event] { return event->set; };
  if (timeout_ms == kWaitForever) {
    event->changed.wait(lock, is_set);
  } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), is_set)) {
    return false;
  }
  if (!event->manual_reset) event->set = false;
  return true;
}

void close_event(Handle handle) { delete event_of(handle); }

}  // namespace velnor::platform
