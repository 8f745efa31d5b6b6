// The scan drives the cable directly. It learns the total instruction length
// by filling every instruction register with zeros and counting the zeros
// that come out before a one; with every device then in BYPASS it counts the
// bypass bits the same way; after Test-Logic-Reset every device has its
// IDCODE register selected, which yields one 32-bit code per device.
#include "jtag/chain_scan.h"

#include <cstring>

#include "core/library_state.h"
#include "jtag/device_table.h"
#include "jtag/tap.h"

namespace velnor {

ChainDevice chain_devices[kChainCapacity];
std::int32_t device_count = 0;

namespace {

constexpr std::int32_t kIrScanBits = 64;
// A chain of 32 two-bit instruction registers is the longest the IR
// measurement admits; no count goes past it.
constexpr std::int32_t kMaxCountClocks = 64;
constexpr std::uint8_t kTdiHigh = 0x80;

void shift(const std::uint8_t* tdi, std::uint8_t* tdo, std::int32_t bit_count, int tms,
           int tms_last) {
  library.cable.shift(tdi, tdo, static_cast<std::uint32_t>(bit_count), tms, tms_last);
}

// Clocks ones in with TMS 0 until a one comes out; returns the zeros seen,
// or -1 when no one came within the limit.
std::int32_t count_zeros_until_one() {
  for (std::int32_t zeros = 0; zeros < kMaxCountClocks; ++zeros) {
    std::uint8_t tdo = 0;
    shift(&kTdiHigh, &tdo, 1, 0, 0);
    if (tdo != 0) return zeros;
  }
  return -1;
}

bool stream_bit(const std::uint8_t* bits, std::int32_t p) {
  return (bits[p / 8] & (0x80 >> (p % 8))) != 0;
}

// count bits from position, the first as bit 0.
std::uint32_t assemble_lsb_first(const std::uint8_t* bits, std::int32_t position,
                                 std::int32_t count) {
  std::uint32_t value = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    if (stream_bit(bits, position + i)) value |= 1u << i;
  }
  return value;
}

}  // namespace

std::int32_t identify_devices(ChainDevice* table, std::int32_t capacity,
                              const std::uint8_t* ir_bits, std::int32_t ir_bit_count,
                              const std::uint8_t* id_bits, std::int32_t id_bit_count) {
  if (ir_bit_count < 1 || id_bit_count < 1 || capacity < 1) return 0;
  std::int32_t count = 0;
  std::int32_t id_position = 0;
  std::int32_t ir_position = 0;
  do {
    ChainDevice& entry = table[count];
    const std::uint32_t idcode = assemble_lsb_first(id_bits, id_position, 32);
    entry = ChainDevice{nullptr, 0, 0, 0};
    for (const DeviceType* row = device_types; row->name != nullptr; ++row) {
      if (row->idcode != (idcode & kIdcodeWithoutVersion)) continue;
      // Only bits the IR measurement captured can be this device's.
      if (ir_position + row->ir_length > ir_bit_count) continue;
      const std::uint32_t capture = assemble_lsb_first(ir_bits, ir_position, row->ir_length);
      // Every instruction register captures ...01 in its two bits nearest TDO.
      if ((capture & 3) != 1) continue;
      entry = ChainDevice{row->name, idcode, row->ir_length, static_cast<std::uint8_t>(capture)};
      break;
    }
    if (entry.name == nullptr) return -1;
    id_position += 32;
    ++count;
    ir_position += entry.ir_length;
  } while (ir_position < ir_bit_count && id_position < id_bit_count && count < capacity);
  return count;
}

// | step | clocks          | TDI | TMS   | walk / purpose                          |
// |------|-----------------|-----|-------|-----------------------------------------|
// | 1    | 6               | 0   | 1 / 0 | Test-Logic-Reset, Run-Test/Idle         |
// | 2    | 2, 2            | 0   | 1/1, 0/0 | Select-DR, Select-IR; Capture-IR, Shift-IR |
// | 3    | 64              | 0   | 0 / 0 | read the captured IRs, fill with zeros  |
// | 4    | 1 each, <= 64   | 1   | 0     | zeros before the first one: IR length L |
// | 5    | 1; 2; 2         | 1;0;0 | 1; 1/1; 0/0 | Exit1-IR; Update-IR (all BYPASS), Select-DR;
// Capture-DR, Shift-DR | | 6    | 1 each, <= 64   | 1   | 0     | zeros before the first one:
// device count | | 7    | 1; 6            | 0   | 1; 1/0 | Exit1-DR; Test-Logic-Reset (IDCODE),
// Run-Test/Idle | | 9    | 1; 2            | 0   | 1; 0/0 | Select-DR; Capture-DR, Shift-DR | | 10
// | 32 per device   | 0   | 0 / 1 | read the IDCODEs, end in Exit1-DR       |
bool scan_chain() {
  std::uint8_t ir_capture[kIrScanBits / 8];
  std::uint8_t idcodes[kChainCapacity * 4];
  std::memset(chain_devices, 0, sizeof chain_devices);

  shift(nullptr, nullptr, 6, 1, 0);
  shift(nullptr, nullptr, 2, 1, 1);
  shift(nullptr, nullptr, 2, 0, 0);
  shift(nullptr, ir_capture, kIrScanBits, 0, 0);
  std::int32_t ir_total = count_zeros_until_one();
  if (ir_total < 0) ir_total = kIrScanBits;

  shift(&kTdiHigh, nullptr, 1, 1, 1);
  shift(nullptr, nullptr, 2, 1, 1);
  shift(nullptr, nullptr, 2, 0, 0);
  const std::int32_t counted = count_zeros_until_one();
  // TDO stuck at 0 never yields the one: the count is unknown.
  device_count = counted < 0 ? 0 : counted;

  shift(nullptr, nullptr, 1, 1, 1);
  shift(nullptr, nullptr, 6, 1, 0);
  if (device_count < 1 || 2 * device_count > ir_total) return false;
  // More devices than the table holds cannot all be identified.
  if (device_count > kChainCapacity) return false;

  shift(nullptr, nullptr, 1, 1, 1);
  shift(nullptr, nullptr, 2, 0, 0);
  shift(nullptr, idcodes, device_count * 32, 0, 1);

  if (library.reverse_tdo) {
    reverse_bits_in_bytes(ir_capture, sizeof ir_capture);
    reverse_bits_in_bytes(idcodes, device_count * 4);
  }
  return identify_devices(chain_devices, kChainCapacity, ir_capture, ir_total, idcodes,
                          device_count * 32) == device_count;
}

std::uint32_t select_device(std::int32_t index) {
  if (index < 0 || index >= device_count || device_count > kChainCapacity) return 0;
  ChainPosition position = {index, 0, 0, index, device_count - index - 1, device_count - index - 1};
  for (std::int32_t i = 0; i < device_count; ++i) {
    if (i < index) position.ir_lead += chain_devices[i].ir_length;
    if (i > index) position.ir_trail += chain_devices[i].ir_length;
  }
  chain_position = position;
  return chain_devices[index].idcode;
}

bool is_daisychain() { return device_count == 2; }

}  // namespace velnor
