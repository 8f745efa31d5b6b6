// Every walk below is one cable shift per run of clocks; "TMS a / last b"
// means TMS=a on every bit of the run but the last and TMS=b on the last.
#include "jtag/tap.h"

#include <cstring>

#include "velnor.h"

namespace velnor {

// TMS 1 / last 0: five ones reach Test-Logic-Reset from any state, a sixth
// clock with TMS 0 moves to Run-Test/Idle.
std::uint32_t tap_reset(Jtag& jtag, std::int32_t clocks) {
  jtag.cable.shift(nullptr, nullptr, static_cast<std::uint32_t>(clocks), 1, 0);
  return 0;
}

std::uint32_t tap_idle(Jtag& jtag, std::int32_t clocks) {
  jtag.cable.shift(nullptr, nullptr, static_cast<std::uint32_t>(clocks), 0, 0);
  return 0;
}

// clang-format off
// | run | clocks                | TMS   | walk                                        |
// |-----|-----------------------|-------|---------------------------------------------|
// | 1   | 2                     | 1 / 1 | Idle/Update -> Select-DR -> Select-IR       |
// | 2   | 2                     | 0 / 0 | -> Capture-IR -> Shift-IR                   |
// | 3   | lead + length + trail | 0 / 1 | ones, instruction LSB first, ones; -> Exit1-IR |
// | 4   | 1                     | 1     | -> Update-IR                                |
// clang-format on
std::uint32_t shift_ir(Jtag& jtag, std::uint32_t instruction, std::int32_t ir_length) {
  const ChainPosition& at = jtag.position;
  const std::int32_t total = at.ir_lead + ir_length + at.ir_trail;
  if (ir_length < 0 || total <= 0 || total > MAX_INSTRUCTION_SCAN_BITS) return VELNOR_ERR_JTAG;
  jtag.cable.shift(nullptr, nullptr, 2, 1, 1);
  jtag.cable.shift(nullptr, nullptr, 2, 0, 0);
  std::uint8_t stream[MAX_INSTRUCTION_SCAN_BITS / 8];
  std::memset(stream, 0xFF, sizeof stream);
  const std::uint32_t loaded = instruction & 0xFF;  // IR bits above the eighth load 0
  for (std::int32_t i = 0; i < ir_length; ++i) {
    if (i >= 8 || ((loaded >> i) & 1) == 0) {
      const std::int32_t p = at.ir_lead + i;
      stream[p / 8] &= static_cast<std::uint8_t>(~(0x80u >> (p % 8)));
    }
  }
  jtag.cable.shift(stream, nullptr, static_cast<std::uint32_t>(total), 0, 1);
  jtag.cable.shift(nullptr, nullptr, 1, 1, 1);
  return 0;
}

// clang-format off
// | step  | when                              | clocks    | TMS                       |
// |-------|-----------------------------------|-----------|---------------------------|
// | enter | DR_ENTER                          | 2, then 1 | 1/0, then 0 (-> Shift-DR) |
// | skip  | DR_ENTER, DR_SKIP, tdo, dr_lead>0 | dr_lead   | 0 / 0                     |
// | data  | bit_count > 0                     | bit_count | 0 / exit-and-no-pad       |
// | pad   | DR_EXIT, DR_PAD, tdi, dr_trail>0  | dr_trail  | 0 / 1                     |
// | exit  | DR_EXIT                           | 1         | 1 (-> Update-DR)          |
// clang-format on
std::uint32_t shift_dr(Jtag& jtag, const std::uint8_t* tdi, std::uint8_t* tdo,
                       std::int32_t bit_count, std::uint32_t flags) {
  const ChainPosition& at = jtag.position;
  Cable& cable = jtag.cable;
  if (flags & DR_ENTER) {
    cable.shift(nullptr, nullptr, 2, 1, 0);
    cable.shift(nullptr, nullptr, 1, 0, 0);
    if ((flags & DR_SKIP) && at.dr_lead > 0 && tdo != nullptr) {
      cable.shift(nullptr, nullptr, static_cast<std::uint32_t>(at.dr_lead), 0, 0);
    }
  }
  if (bit_count <= 0) return 0;
  const auto bits = static_cast<std::uint32_t>(bit_count);
  if ((flags & DR_EXIT) == 0) {
    cable.shift(tdi, tdo, bits, 0, 0);
    return 0;
  }
  if ((flags & DR_PAD) && at.dr_trail > 0 && tdi != nullptr) {
    cable.shift(tdi, tdo, bits, 0, 0);
    cable.shift(nullptr, nullptr, static_cast<std::uint32_t>(at.dr_trail), 0, 1);
  } else {
    cable.shift(tdi, tdo, bits, 0, 1);
  }
  cable.shift(nullptr, nullptr, 1, 1, 1);
  return 0;
}

std::uint32_t scan_dr(Jtag& jtag, const std::uint8_t* tdi, std::uint8_t* tdo,
                      std::int32_t bit_count) {
  return shift_dr(jtag, tdi, tdo, bit_count, DR_SCAN);
}

}  // namespace velnor
