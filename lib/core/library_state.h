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

struct OperationParameters {
  // Configuration: a file name or bitstream bytes in memory.
  const void* source;
  // Data transfer.
  std::uint8_t channel;
  const std::uint8_t* transmit;
  std::uint8_t* receive;
  // Both: the caller's count word, which the operation counts down.
  std::int32_t* count;
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
  // Chain indices found by the FPGA and PROM target checks; -1 until found.
  // They survive closing and reopening the cable, so later checks only
  // reselect.
  std::int32_t fpga_index = -1;
  std::int32_t prom_index = -1;
  // The user channel whose frame transfers continue (0: none), and the one
  // whose instruction is loaded with Shift-DR entered (0 after a TAP reset
  // or an ended frame). -1: not known since load, configuration or shutdown.
  std::int32_t open_channel = -1;
  std::int32_t loaded_channel = -1;
  // What the operation in the slot works on, written before it starts.
  OperationParameters operation = {};
};

extern LibraryState library;

}  // namespace velnor
