// A board's trace as text, one line per entry, so that two runs (two
// processes, two backends) can be compared line by line:
//   W 0378 52            port write: address, value
//   R 0379 7F            port read: address, value
//   C 1 0 1 00000000000000F1  TCK cycle: TMS, TDI, TDO, TAP states (hex, 4 bits each)
#pragma once

#include <string>

#include "bench/trace.h"

namespace velnor::bench {

std::string trace_text(const Trace& trace);

}  // namespace velnor::bench
