// Backend choice, and the services every backend shares: threads, events
// and the exit list.
#include "platform/platform.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

#include "platform/backend.h"

namespace velnor::platform {
namespace {

constexpr const char* BENCH_MODULE_NAME = "libvelnor_bench.so";

// A board with nothing attached: what serves when the virtual board was
// asked for but its module cannot be loaded. A stray VELNOR_BENCH must never
// make the real hardware answer, nor a virtual board appear.
const Backend& nothing_attached() {
  static const Backend backend = {
      "nothing attached",
      [] { return false; },
      [](std::uint16_t) -> std::uint8_t { return 0xFF; },
      [](std::uint16_t, std::uint8_t) {},
      [](std::uint32_t) { return NO_HANDLE; },
      [](Handle) {},
      [](Handle, std::uint8_t, std::uint8_t*, std::uint32_t, std::uint32_t*) { return false; },
      [](Handle, std::uint8_t, std::uint16_t, std::uint16_t, std::uint8_t) { return false; },
      [](Handle, const std::uint8_t*, std::uint32_t) { return false; },
      [](Handle, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t*) {
        return false;
      },
      [](Handle, std::uint32_t, std::uint8_t*, std::uint32_t, std::uint32_t*) { return false; },
      [](Handle) { return false; },
      [](std::uint32_t milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      },
      [] {},
  };
  return backend;
}

// The module beside the library's own file (or beside the program, for a
// program that has the library's code built in).
std::string bench_module_path() {
  Dl_info info{};
  std::string path = BENCH_MODULE_NAME;
  if (dladdr(reinterpret_cast<void*>(&bench_module_path), &info) != 0 &&
      info.dli_fname != nullptr) {
    const std::string own = info.dli_fname;
    const std::size_t slash = own.rfind('/');
    if (slash != std::string::npos) path = own.substr(0, slash + 1) + BENCH_MODULE_NAME;
  }
  return path;
}

const Backend& load_bench() {
  void* entry = dlsym(RTLD_DEFAULT, VELNOR_BENCH_ENTRY_POINT);
  if (entry == nullptr) {
    const std::string path = bench_module_path();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      std::fprintf(stderr,
                   "velnor: VELNOR_BENCH is set but the virtual board cannot be loaded: %s\n",
                   dlerror());
      return nothing_attached();
    }
    entry = dlsym(module, VELNOR_BENCH_ENTRY_POINT);
  }
  const Backend* bench =
      entry != nullptr ? reinterpret_cast<VelnorBenchEntryPoint>(entry)() : nullptr;
  if (bench == nullptr) {
    std::fprintf(stderr, "velnor: the virtual board's module has no entry point\n");
    return nothing_attached();
  }
  std::fprintf(stderr, "virtual board: %s\n", bench->description);
  return *bench;
}

// Chosen at first use, for the whole process.
std::atomic<const Backend*> chosen_backend{nullptr};
const Backend& backend() {
  static const Backend& chosen = []() -> const Backend& {
    const Backend* selected =
        std::getenv("VELNOR_BENCH") != nullptr ? &load_bench() : &host_backend();
    chosen_backend.store(selected, std::memory_order_release);
    return *selected;
  }();
  return chosen;
}

}  // namespace

bool grant_port_access() { return backend().grant_port_access(); }
std::uint8_t port_read(std::uint16_t port) { return backend().port_read(port); }
void port_write(std::uint16_t port, std::uint8_t value) { backend().port_write(port, value); }
Handle ezusb_open(std::uint32_t unit) { return backend().ezusb_open(unit); }
void ezusb_close(Handle device) { backend().ezusb_close(device); }
bool ezusb_string_descriptor(Handle device, std::uint8_t index, std::uint8_t* reply,
                             std::uint32_t reply_size, std::uint32_t* returned) {
  return backend().ezusb_string_descriptor(device, index, reply, reply_size, returned);
}
bool ezusb_vendor_request(Handle device, std::uint8_t request, std::uint16_t value,
                          std::uint16_t index, std::uint8_t data) {
  return backend().ezusb_vendor_request(device, request, value, index, data);
}
bool ezusb_download(Handle device, const std::uint8_t* image, std::uint32_t size) {
  return backend().ezusb_download(device, image, size);
}
bool ezusb_bulk_write(Handle device, std::uint32_t pipe, const std::uint8_t* bytes,
                      std::uint32_t length, std::uint32_t* sent) {
  return backend().ezusb_bulk_write(device, pipe, bytes, length, sent);
}
bool ezusb_bulk_read(Handle device, std::uint32_t pipe, std::uint8_t* bytes, std::uint32_t length,
                     std::uint32_t* received) {
  return backend().ezusb_bulk_read(device, pipe, bytes, length, received);
}
bool ezusb_cancel(Handle device) { return backend().ezusb_cancel(device); }
void sleep_ms(std::uint32_t milliseconds) { backend().sleep_ms(milliseconds); }

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
  // A backend never chosen has changed nothing.
  if (const Backend* chosen = chosen_backend.load(std::memory_order_acquire)) chosen->release();
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
    return NO_HANDLE;
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
  if (timeout_ms == WAIT_FOREVER) {
    event->changed.wait(lock, is_set);
  } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), is_set)) {
    return false;
  }
  if (!event->manual_reset) event->set = false;
  return true;
}

void close_event(Handle handle) { delete event_of(handle); }

}  // namespace velnor::platform
