#include "core/worker_slot.h"

#include <atomic>

#include "core/library_state.h"
#include "platform/platform.h"
#include "velnor.h"

namespace velnor {

std::uint32_t worker_gate() {
  const std::int32_t state = library.worker_state.load(std::memory_order_acquire);
  if (state == WORKER_IDLE) return library.cable_open ? VELNOR_OK : VELNOR_ERR_PROBE;
  if (state == WORKER_DONE) {
    library.worker_state.store(WORKER_IDLE, std::memory_order_relaxed);
    return library.worker_result.load(std::memory_order_relaxed);
  }
  return VELNOR_BUSY;
}

std::uint32_t start_operation(std::int32_t requested_state, std::int32_t* count,
                              void (*operation)()) {
  library.worker_state.store(requested_state, std::memory_order_release);
  const auto count_word = static_cast<std::uint32_t>(*count);
  if (count_word & VELNOR_COUNT_BACKGROUND) {
    *count = static_cast<std::int32_t>(count_word & ~VELNOR_COUNT_BACKGROUND);
    if (!platform::start_detached_thread(operation)) {
      // No thread to run it: run it here rather than leave the slot stuck.
      operation();
    }
    while (library.worker_state.load(std::memory_order_acquire) > WORKER_RUNNING) {
      platform::sleep_ms(10);
    }
  } else {
    operation();
  }
  return worker_gate();
}

void wait_for_operation() {
  while (library.worker_state.load(std::memory_order_acquire) > WORKER_DONE) {
    platform::sleep_ms(10);
  }
}

void publish_count(std::int32_t* count, std::int32_t value) {
  std::atomic_ref<std::int32_t>(*count).store(value, std::memory_order_relaxed);
}

void mark_operation_running() {
  library.worker_state.store(WORKER_RUNNING, std::memory_order_release);
}

void finish_operation(std::uint32_t result) {
  library.worker_result.store(result, std::memory_order_relaxed);
  library.worker_state.store(WORKER_DONE, std::memory_order_release);
}

}  // namespace velnor
