#include "api/worker_slot.h"

#include <atomic>

#include "platform/platform.h"
#include "velnor.h"

namespace velnor {
namespace {

// The detached thread's operation: one slot, so one at a time.
std::uint32_t (*background_operation)(Session& session) = nullptr;

void finish_operation(Session& session, std::uint32_t result) {
  session.worker.result.store(result, std::memory_order_relaxed);
  session.worker.state.store(WORKER_DONE, std::memory_order_release);
}

void run_in_background() {
  Session& it = session();
  if (it.worker.state.load(std::memory_order_acquire) == WORKER_REQUESTED) {
    it.worker.state.store(WORKER_STARTING, std::memory_order_release);
  }
  finish_operation(it, background_operation(it));
}

}  // namespace

std::uint32_t worker_gate(Session& session) {
  WorkerSlot& slot = session.worker;
  const std::int32_t state = slot.state.load(std::memory_order_acquire);
  if (state == WORKER_IDLE) return session.cable_open ? VELNOR_OK : VELNOR_ERR_PROBE;
  if (state == WORKER_DONE) {
    slot.state.store(WORKER_IDLE, std::memory_order_relaxed);
    return slot.result.load(std::memory_order_relaxed);
  }
  return VELNOR_BUSY;
}

std::uint32_t start_operation(Session& session, std::int32_t requested_state, std::int32_t* count,
                              std::uint32_t (*operation)(Session& session)) {
  WorkerSlot& slot = session.worker;
  slot.state.store(requested_state, std::memory_order_release);
  const auto count_word = static_cast<std::uint32_t>(*count);
  if (count_word & VELNOR_COUNT_BACKGROUND) {
    *count = static_cast<std::int32_t>(count_word & ~VELNOR_COUNT_BACKGROUND);
    background_operation = operation;
    if (!platform::start_detached_thread(run_in_background)) {
      // No thread to run it: run it here rather than leave the slot stuck.
      finish_operation(session, operation(session));
    }
    while (slot.state.load(std::memory_order_acquire) > WORKER_RUNNING) {
      platform::sleep_ms(10);
    }
  } else {
    finish_operation(session, operation(session));
  }
  return worker_gate(session);
}

void wait_for_operation(Session& session) {
  while (session.worker.state.load(std::memory_order_acquire) > WORKER_DONE) {
    platform::sleep_ms(10);
  }
}

Progress running_progress(Session& session) {
  return {[](void* context) {
            static_cast<Session*>(context)->worker.state.store(WORKER_RUNNING,
                                                               std::memory_order_release);
          },
          &session};
}

}  // namespace velnor
