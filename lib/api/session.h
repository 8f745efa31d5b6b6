// The library's one session: the open cable, the chain behind it, the
// devices found on it, and the worker slot. The exports own it and pass it
// down; nothing below them reaches for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "fpga/target.h"

namespace velnor {

// The single slot for an operation that may run on a worker thread.
enum WorkerState : std::int32_t {
  WORKER_IDLE = 0,       // nothing pending
  WORKER_DONE = 1,       // finished; the result not yet collected
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

// Which export started the operation in the slot: only that export's poll
// collects its result.
enum WorkerKind : std::int32_t {
  WORKER_CONFIGURATION = 1,
  WORKER_TRANSFER = 2,
};

struct WorkerSlot {
  // The exports and one worker share these words without a lock: the worker
  // stores the result before it publishes WORKER_DONE (release), and a poll
  // reads the result only after it saw WORKER_DONE (acquire).
  std::atomic<std::int32_t> state{WORKER_IDLE};
  std::atomic<std::uint32_t> result{0};
  std::atomic<std::int32_t> kind{0};
  // What the operation in the slot works on, written before it starts.
  OperationParameters operation = {};
};

struct Session {
  // Serialises the exports: one call at a time works on the cable; a worker
  // thread holds the device through the slot instead, and calls meanwhile
  // answer VELNOR_BUSY.
  std::mutex calls;
  std::int32_t cable_open = 0;
  Target target;
  WorkerSlot worker;
};

// The process's session.
Session& session();

}  // namespace velnor
