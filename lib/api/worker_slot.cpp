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
  if (session.worker.state.load(std::memory_order_acquire) > WORKER_DONE) return VELNOR_BUSY;
  return session.cable_open ? VELNOR_OK : VELNOR_ERR_PROBE;
}

std::uint32_t poll_operation(Session& session, std::int32_t kind) {
  WorkerSlot& slot = session.worker;
  const std::int32_t state = slot.state.load(std::memory_order_acquire);
  if (state == WORKER_IDLE || slot.kind.load(std::memory_order_relaxed) != kind) {
    return state > WORKER_DONE ? VELNOR_BUSY : VELNOR_ERR_FORMAT;
  }
  if (state != WORKER_DONE) return VELNOR_BUSY;
  const std::uint32_t result = slot.result.load(std::memory_order_relaxed);
  slot.state.store(WORKER_IDLE, std::memory_order_release);
  return result;
}

std::uint32_t start_operation(Session& session, std::int32_t kind, std::int32_t requested_state,
                              std::int32_t* count, std::uint32_t (*operation)(Session& session)) {
  WorkerSlot& slot = session.worker;
  std::int32_t idle = WORKER_IDLE;
  if (!slot.state.compare_exchange_strong(idle, requested_state, std::memory_order_acq_rel)) {
    return VELNOR_BUSY;
  }
  slot.kind.store(kind, std::memory_order_relaxed);
  const auto count_word = static_cast<std::uint32_t>(*count);
  if ((count_word & VELNOR_COUNT_BACKGROUND) == 0) {
    const std::uint32_t result = operation(session);
    slot.state.store(WORKER_IDLE, std::memory_order_release);
    return result;
  }
  *count = static_cast<std::int32_t>(count_word & ~VELNOR_COUNT_BACKGROUND);
  background_operation = operation;
  if (!platform::start_detached_thread(run_in_background)) {
    // No thread to run it: run it here rather than leave the slot stuck.
    finish_operation(session, operation(session));
  }
  while (slot.state.load(std::memory_order_acquire) > WORKER_RUNNING) {
    platform::sleep_ms(10);
  }
  // Finished already: its result is this call's.
  return poll_operation(session, kind);
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
