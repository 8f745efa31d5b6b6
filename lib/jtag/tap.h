// TAP-level primitives over the cable's shift, addressing the selected device
// of the chain: every other device holds BYPASS and the primitives add the
// bypass bits on both sides themselves.
//
// Buffers are bit streams in the library's one order (base/bit_order.h);
// JTAG values (instructions, IDCODEs) go into the chain least significant
// bit first.
#pragma once

#include <cstdint>

#include "jtag/jtag.h"

namespace velnor {

// shift_dr flags.
constexpr std::uint32_t DR_EXIT = 1;   // leave Shift-DR on the last bit, then Update-DR
constexpr std::uint32_t DR_ENTER = 2;  // walk from Idle/Update to Shift-DR first
constexpr std::uint32_t DR_SKIP = 4;   // with DR_ENTER and a tdo buffer: skip dr_lead bits
constexpr std::uint32_t DR_PAD = 8;    // with DR_EXIT and a tdi buffer: push through dr_trail bits
constexpr std::uint32_t DR_SCAN = DR_EXIT | DR_ENTER | DR_SKIP | DR_PAD;

// The instruction scan buffer: lead, instruction and trail together.
constexpr std::int32_t MAX_INSTRUCTION_SCAN_BITS = 64;

// Each primitive returns 0, except shift_ir, which refuses a scan longer than
// the instruction buffer (VELNOR_ERR_JTAG) without touching the chain.
std::uint32_t tap_reset(Jtag& jtag, std::int32_t clocks);
std::uint32_t tap_idle(Jtag& jtag, std::int32_t clocks);
std::uint32_t shift_ir(Jtag& jtag, std::uint32_t instruction, std::int32_t ir_length);
std::uint32_t shift_dr(Jtag& jtag, const std::uint8_t* tdi, std::uint8_t* tdo,
                       std::int32_t bit_count, std::uint32_t flags);
std::uint32_t scan_dr(Jtag& jtag, const std::uint8_t* tdi, std::uint8_t* tdo,
                      std::int32_t bit_count);

}  // namespace velnor
