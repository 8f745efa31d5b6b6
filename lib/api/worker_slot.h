// The gate every target operation passes first, and the start of an
// operation that may continue on a worker thread.
#pragma once

#include <cstdint>

#include "api/session.h"

namespace velnor {

// 0 lets the caller go on. Otherwise the value ends the call: VELNOR_BUSY
// while an operation runs on the worker thread, VELNOR_ERR_PROBE with no
// cable open. A finished operation's result waits for its poll.
std::uint32_t worker_gate(Session& session);

// The poll of a background operation of this kind: VELNOR_BUSY while it
// runs, then its result, exactly once; VELNOR_ERR_FORMAT when none of this
// kind is pending.
std::uint32_t poll_operation(Session& session, std::int32_t kind);

// Runs operation in the slot, claiming it (VELNOR_BUSY when it is not
// idle: running, or a result not yet polled). requested_state is
// WORKER_REQUESTED or WORKER_STARTING. With bit 31 of *count set, the bit is
// cleared and the operation continues on a detached thread; the call returns
// once the operation is running (VELNOR_BUSY) or has finished (its result).
// Otherwise it runs on the caller's thread and returns its result.
std::uint32_t start_operation(Session& session, std::int32_t kind, std::int32_t requested_state,
                              std::int32_t* count, std::uint32_t (*operation)(Session& session));

// Returns once no operation is running in the slot (a finished one's result
// stays for the gate).
void wait_for_operation(Session& session);

// For the operation, through its Progress: it has passed its preliminary
// steps.
Progress running_progress(Session& session);

}  // namespace velnor
