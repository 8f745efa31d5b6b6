// The scan drives the cable directly. It learns the total instruction length
// by filling every instruction register with zeros and counting the zeros
// that come out before a one; with every device then in BYPASS it counts the
// bypass bits the same way; after Test-Logic-Reset every device has its
// IDCODE register selected, which yields one 32-bit code per device.
#include "jtag/chain_scan.h"

#include <algorithm>
#include <cstring>

#include "base/bit_order.h"
#include "jtag/device_table.h"

namespace velnor {
namespace {

constexpr std::int32_t IR_SCAN_BITS = 64;
// A chain of 32 two-bit instruction registers is the longest the IR
// measurement admits; no count goes past it.
constexpr std::int32_t MAX_COUNT_CLOCKS = 64;
constexpr std::uint8_t TDI_HIGH = 0x80;

// Clocks ones in with TMS 0 until a one comes out; returns the zeros seen,
// or -1 when no one came within the limit.
std::int32_t count_zeros_until_one(Cable& cable) {
  for (std::int32_t zeros = 0; zeros < MAX_COUNT_CLOCKS; ++zeros) {
    std::uint8_t tdo = 0;
    cable.shift(&TDI_HIGH, &tdo, 1, 0, 0);
    if (tdo != 0) return zeros;
    if (cable.failed) return -1;  // no answer will come
  }
  return -1;
}

}  // namespace

namespace {

// The instruction register of ir_length bits from stream position start, if
// it lies within [low, high) and captured ...01 in its two bits nearest
// TDO, as IEEE 1149.1 has every instruction register do.
bool fitting_capture(const std::uint8_t* ir_bits, std::int32_t start, std::int32_t ir_length,
                     std::int32_t low, std::int32_t high, std::uint8_t* capture) {
  if (ir_length < 2 || start < low || start + ir_length > high) return false;
  const std::uint32_t value = lsb_first_value(ir_bits, start, std::min(ir_length, 8));
  if ((value & 3) != 1) return false;
  *capture = static_cast<std::uint8_t>(value);
  return true;
}

// Names the entry after the first part, of the device table and then of the
// added parts, with its code whose instruction register fits at the start
// of [low, high), or at its end when placed from the TDI side. A later part
// with the same code and another IR length may fit where an earlier does not.
bool identify(ChainDevice& entry, const AddedParts& added, const std::uint8_t* ir_bits,
              std::int32_t low, std::int32_t high, bool from_end) {
  const auto take = [&](const char* name, std::int32_t ir_length) {
    std::uint8_t capture = 0;
    const std::int32_t start = from_end ? high - ir_length : low;
    if (!fitting_capture(ir_bits, start, ir_length, low, high, &capture)) return false;
    entry = ChainDevice{name, entry.idcode, ir_length, capture};
    return true;
  };
  const std::uint32_t code = entry.idcode & IDCODE_WITHOUT_VERSION;
  for (const DeviceType* row = DEVICE_TYPES; row->name != nullptr; ++row) {
    if (row->idcode == code && take(row->name, row->ir_length)) return true;
  }
  for (std::int32_t i = 0; i < added.count; ++i) {
    const AddedPart& part = added.parts[i];
    if (part.idcode == code && take(part.name, part.ir_length)) return true;
  }
  return false;
}

}  // namespace

bool identify_devices(ChainDevice* devices, std::int32_t count, const AddedParts& added,
                      const std::uint8_t* ir_bits, std::int32_t ir_bit_count,
                      const std::uint8_t* id_bits) {
  for (std::int32_t i = 0; i < count; ++i) {
    devices[i] = ChainDevice{nullptr, lsb_first_value(id_bits, 32 * i, 32), 0, 0};
  }
  std::int32_t front = 0;
  std::int32_t first_unknown = 0;
  while (first_unknown < count &&
         identify(devices[first_unknown], added, ir_bits, front, ir_bit_count, false)) {
    front += devices[first_unknown++].ir_length;
  }
  if (first_unknown == count) return count > 0 && front == ir_bit_count;
  // Past an unknown register the positions are known only from the TDI end,
  // where the measured total ends.
  std::int32_t back = ir_bit_count;
  std::int32_t last_unknown = count - 1;
  while (last_unknown > first_unknown &&
         identify(devices[last_unknown], added, ir_bits, front, back, true)) {
    back -= devices[last_unknown--].ir_length;
  }
  // With one device unknown, the bits the others leave are its register.
  std::uint8_t capture = 0;
  if (last_unknown == first_unknown &&
      fitting_capture(ir_bits, front, back - front, front, back, &capture)) {
    devices[first_unknown].ir_length = back - front;
    devices[first_unknown].ir_capture = capture;
  }
  return false;
}

// clang-format off
// | step | clocks        | TDI   | TMS           | walk / purpose                               |
// |------|---------------|-------|---------------|----------------------------------------------|
// | 1    | 6             | 0     | 1 / 0         | Test-Logic-Reset, Run-Test/Idle              |
// | 2    | 2, 2          | 0     | 1/1, 0/0      | Select-DR, Select-IR; Capture-IR, Shift-IR   |
// | 3    | 64            | 0     | 0 / 0         | read the captured IRs, fill with zeros       |
// | 4    | 1 each, <= 64 | 1     | 0             | zeros before the first one: IR length L      |
// | 5    | 1; 2; 2       | 1;0;0 | 1; 1/1; 0/0   | Exit1-IR; Update-IR (all BYPASS), Select-DR; |
// |      |               |       |               | Capture-DR, Shift-DR                         |
// | 6    | 1 each, <= 64 | 1     | 0             | zeros before the first one: device count     |
// | 7    | 1; 6          | 0     | 1; 1/0        | Exit1-DR; Test-Logic-Reset (IDCODE), Idle    |
// | 8    | 1; 2          | 0     | 1; 0/0        | Select-DR; Capture-DR, Shift-DR              |
// | 9    | 32 per device | 0     | 0 / 1         | read the IDCODEs, end in Exit1-DR            |
// clang-format on
bool scan_chain(Jtag& jtag) {
  Cable& cable = jtag.cable;
  std::uint8_t ir_capture[IR_SCAN_BITS / 8];
  std::uint8_t idcodes[CHAIN_CAPACITY * 4];
  std::memset(jtag.devices, 0, sizeof jtag.devices);

  cable.shift(nullptr, nullptr, 6, 1, 0);
  cable.shift(nullptr, nullptr, 2, 1, 1);
  cable.shift(nullptr, nullptr, 2, 0, 0);
  cable.shift(nullptr, ir_capture, IR_SCAN_BITS, 0, 0);
  std::int32_t ir_total = count_zeros_until_one(cable);
  if (ir_total < 0) ir_total = IR_SCAN_BITS;

  cable.shift(&TDI_HIGH, nullptr, 1, 1, 1);
  cable.shift(nullptr, nullptr, 2, 1, 1);
  cable.shift(nullptr, nullptr, 2, 0, 0);
  const std::int32_t counted = count_zeros_until_one(cable);
  // TDO stuck at 0 never yields the one: the count is unknown.
  jtag.device_count = counted < 0 ? 0 : counted;

  cable.shift(nullptr, nullptr, 1, 1, 1);
  cable.shift(nullptr, nullptr, 6, 1, 0);
  if (jtag.device_count < 1 || 2 * jtag.device_count > ir_total) return false;
  // More devices than the table holds cannot all be identified.
  if (jtag.device_count > CHAIN_CAPACITY) return false;

  cable.shift(nullptr, nullptr, 1, 1, 1);
  cable.shift(nullptr, nullptr, 2, 0, 0);
  cable.shift(nullptr, idcodes, static_cast<std::uint32_t>(jtag.device_count * 32), 0, 1);

  return identify_devices(jtag.devices, jtag.device_count, jtag.added_parts, ir_capture, ir_total,
                          idcodes);
}

std::uint32_t select_device(Jtag& jtag, std::int32_t index) {
  const std::int32_t count = jtag.device_count;
  if (index < 0 || index >= count || count > CHAIN_CAPACITY) return 0;
  ChainPosition position = {index, 0, 0, index, count - index - 1, count - index - 1};
  for (std::int32_t i = 0; i < count; ++i) {
    if (i < index) position.ir_lead += jtag.devices[i].ir_length;
    if (i > index) position.ir_trail += jtag.devices[i].ir_length;
  }
  jtag.position = position;
  return jtag.devices[index].idcode;
}

bool is_daisychain(const Jtag& jtag) { return jtag.device_count == 2; }

}  // namespace velnor
