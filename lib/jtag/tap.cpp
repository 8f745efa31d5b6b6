// Every walk below is one cable shift per run of clocks; "TMS a / last b"
// means TMS=a on every bit of the run but the last and TMS=b on the last.
#include "jtag/tap.h"

#include <array>
#include <cstring>

#include "core/library_state.h"
#include "velnor.h"

namespace velnor {

ChainPosition chain_position = {};

namespace {

constexpr std::array<std::uint8_t, 256> make_reversal_table() {
  std::array<std::uint8_t, 256> table{};
  for (int value = 0; value < 256; ++value) {
    int reversed = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (value & (1 << bit)) reversed |= 0x80 >> bit;
    }
    table[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(reversed);
  }
  return table;
}
constexpr std::array<std::uint8_t, 256> kReversed = make_reversal_table();

void shift(const std::uint8_t* tdi, std::uint8_t* tdo, std::int32_t bit_count, int tms,
           int tms_last) {
  library.cable.shift(tdi, tdo, static_cast<std::uint32_t>(bit_count), tms, tms_last);
}

}  // namespace

void reverse_bits_in_bytes(std::uint8_t* bytes, std::int32_t byte_count) {
  for (std::int32_t i = 0; i < byte_count; ++i) bytes[i] = kReversed[bytes[i]];
}

// TMS 1 / last 0: five ones reach Test-Logic-Reset from any state, a sixth
// clock with TMS 0 moves to Run-Test/Idle.
std::uint32_t tap_reset(std::int32_t clocks) {
  shift(nullptr, nullptr, clocks, 1, 0);
  return 0;
}

std::uint32_t tap_idle(std::int32_t clocks) {
  shift(nullptr, nullptr, clocks, 0, 0);
  return 0;
}

// | run | clocks                       | TMS       | walk                                |
// |-----|------------------------------|-----------|-------------------------------------|
// | 1   | 2                            | 1 / 1     | Idle/Update -> Select-DR -> Select-IR |
// | 2   | 2                            | 0 / 0     | -> Capture-IR -> Shift-IR           |
// | 3   | lead + length + trail        | 0 / 1     | ones, instruction LSB first, ones; last bit ->
// Exit1-IR | | 4   | 1                            | 1         | -> Update-IR |
std::uint32_t shift_ir(std::uint32_t instruction, std::int32_t ir_length) {
  const ChainPosition& at = chain_position;
  const std::int32_t total = at.ir_lead + ir_length + at.ir_trail;
  if (ir_length < 0 || total <= 0 || total > kMaxInstructionScanBits) return VELNOR_ERR_JTAG;
  shift(nullptr, nullptr, 2, 1, 1);
  shift(nullptr, nullptr, 2, 0, 0);
  std::uint8_t stream[kMaxInstructionScanBits / 8];
  std::memset(stream, 0xFF, sizeof stream);
  const std::uint32_t loaded = instruction & 0xFF;  // IR bits above the eighth load 0
  for (std::int32_t i = 0; i < ir_length; ++i) {
    if (i >= 8 || ((loaded >> i) & 1) == 0) {
      const std::int32_t p = at.ir_lead + i;
      stream[p / 8] &= static_cast<std::uint8_t>(~(0x80u >> (p % 8)));
    }
  }
  shift(stream, nullptr, total, 0, 1);
  shift(nullptr, nullptr, 1, 1, 1);
  return 0;
}

// | step  | when                              | clocks    | TMS   |
// |-------|-----------------------------------|-----------|-------|
// | enter | DR_ENTER                          | 2, then 1 | 1/0, then 0 (-> Shift-DR) |
// | skip  | DR_ENTER, DR_SKIP, tdo, dr_lead>0 | dr_lead   | 0 / 0 |
// | data  | bit_count > 0                     | bit_count | 0 / exit-and-no-pad |
// | pad   | DR_EXIT, DR_PAD, tdi, dr_trail>0  | dr_trail  | 0 / 1 |
// | exit  | DR_EXIT                           | 1         | 1 (-> Update-DR) |
std::uint32_t shift_dr(const std::uint8_t* tdi, std::uint8_t* tdo, std::int32_t bit_count,
                       std::uint32_t flags) {
  const ChainPosition& at = chain_position;
  if (flags & DR_ENTER) {
    shift(nullptr, nullptr, 2, 1, 0);
    shift(nullptr, nullptr, 1, 0, 0);
    if ((flags & DR_SKIP) && at.dr_lead > 0 && tdo != nullptr) {
      shift(nullptr, nullptr, at.dr_lead, 0, 0);
    }
  }
  if (bit_count <= 0) return 0;
  if ((flags & DR_EXIT) == 0) {
    shift(tdi, tdo, bit_count, 0, 0);
  } else {
    if ((flags & DR_PAD) && at.dr_trail > 0 && tdi != nullptr) {
      shift(tdi, tdo, bit_count, 0, 0);
      shift(nullptr, nullptr, at.dr_trail, 0, 1);
    } else {
      shift(tdi, tdo, bit_count, 0, 1);
    }
    shift(nullptr, nullptr, 1, 1, 1);
  }
  if (tdo != nullptr && library.reverse_tdo) reverse_bits_in_bytes(tdo, (bit_count + 7) / 8);
  return 0;
}

std::uint32_t scan_dr(const std::uint8_t* tdi, std::uint8_t* tdo, std::int32_t bit_count) {
  return shift_dr(tdi, tdo, bit_count, DR_SCAN);
}

void drop_leading_bits(std::uint8_t* buffer, std::int32_t byte_count, std::int32_t bit_count) {
  if (bit_count <= 0 || byte_count <= 0) return;
  const std::int32_t k = bit_count / 8;
  const std::int32_t r = bit_count % 8;
  if (r == 0) {
    std::memmove(buffer, buffer + k, static_cast<std::size_t>(byte_count));
    return;
  }
  for (std::int32_t i = 0; i < byte_count; ++i) {
    const unsigned pair = static_cast<unsigned>(buffer[k + i]) << 8 | buffer[k + i + 1];
    buffer[i] = static_cast<std::uint8_t>(pair >> (8 - r));
  }
}

}  // namespace velnor
