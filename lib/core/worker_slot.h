// The gate every target operation passes first, and the start of an
// operation that may continue on a worker thread.
#pragma once

#include <cstdint>

namespace velnor {

// 0 lets the caller go on. Otherwise the value ends the call: VELNOR_BUSY
// while an operation runs, VELNOR_ERR_PROBE with no cable open, or the
// result of a finished operation, delivered exactly once.
std::uint32_t worker_gate();

// Runs operation in the slot, which must be idle. requested_state is
// WORKER_REQUESTED or WORKER_STARTING. With bit 31 of *count set, the bit is
// cleared and the operation continues on a detached thread; the call returns
// once the operation is running (VELNOR_BUSY) or has finished (its result).
// Otherwise it runs on the caller's thread. operation must end with
// finish_operation.
std::uint32_t start_operation(std::int32_t requested_state, std::int32_t* count,
                              void (*operation)());

// Returns once no operation is running in the slot (a finished one's result
// stays for the gate).
void wait_for_operation();

// For the operation: updates the caller's count word, which the caller may
// read at any time while the operation runs.
void publish_count(std::int32_t* count, std::int32_t value);

// For the operation: it has passed its preliminary steps.
void mark_operation_running();
// For the operation: stores its result and frees the slot for the gate.
void finish_operation(std::uint32_t result);

}  // namespace velnor
