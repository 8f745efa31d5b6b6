// Backend choice and the exit list, the same on every system. How the bench
// module is found, how the library learns of its unload, threads and events
// are each system's own (module_*.cpp, threads_*.cpp).
#include "platform/platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "platform/backend.h"

namespace velnor::platform {
namespace {

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
      [](std::uint32_t milliseconds) { host_backend().sleep_ms(milliseconds); },
      [] {},
  };
  return backend;
}

const Backend& load_bench() {
  const VelnorBenchEntryPoint entry = find_bench_entry_point();
  const Backend* bench = entry != nullptr ? entry() : nullptr;
  if (bench == nullptr) return nothing_attached();
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

}  // namespace velnor::platform
