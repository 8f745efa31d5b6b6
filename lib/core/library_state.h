// The one process-wide state of the library, shared by every operation.
#pragma once

#include <atomic>
#include <cstdint>

#include "cables/cable_ops.h"

namespace velnor {

// The single slot for an operation that may run on a worker thread.
enum WorkerState : std::int32_t {
  WORKER_IDLE = 0,       // nothing pending
  WORKER_DONE = 1,       // finished; worker_result not yet collected
  WORKER_RUNNING = 2,    // past its preliminary steps, moving data
  WORKER_STARTING = 3,   // a transfer was requested, or the configuration thread began
  WORKER_REQUESTED = 4,  // a configuration was requested; its thread has not begun
};

struct LibraryState {
  std::int32_t cable_open = 0;
  CableOps cable = {};
  // Received bytes are handed back with the first bit in bit 7 while set.
  std::int32_t reverse_tdo = 0;
  // The caller's thread and one worker share these two words without a lock:
  // the worker stores the result before it publishes WORKER_DONE (release),
  // and the gate reads the result only after it saw WORKER_DONE (acquire).
  std::atomic<std::int32_t> worker_state{WORKER_IDLE};
  std::atomic<std::uint32_t> worker_result{0};
};

extern LibraryState library;

}  // namespace velnor
