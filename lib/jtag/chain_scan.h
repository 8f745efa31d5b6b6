// Discovering the chain: how many devices, how long each instruction
// register is, which known part each one is; and selecting one device for
// the TAP primitives.
#pragma once

#include <cstdint>

namespace velnor {

struct ChainDevice {
  const char* name;         // row name of device_types, null when not identified
  std::uint32_t idcode;     // as read, version nibble included
  std::int32_t ir_length;   // from the matching row
  std::uint8_t ir_capture;  // low 8 bits of what the instruction register captured
};

// The chain holds at most this many devices.
constexpr std::int32_t kChainCapacity = 8;

extern ChainDevice chain_devices[kChainCapacity];
extern std::int32_t device_count;

// Counts and identifies the devices; true when every counted device was
// identified. Leaves the TAP in Exit1-DR.
bool scan_chain();
// Fills table entries from the captured IR stream and the IDCODE stream (both
// most significant bit first); returns the number filled, or -1 when a device
// matches no row.
std::int32_t identify_devices(ChainDevice* table, std::int32_t capacity,
                              const std::uint8_t* ir_bits, std::int32_t ir_bit_count,
                              const std::uint8_t* id_bits, std::int32_t id_bit_count);
// Fills chain_position for the device and returns its IDCODE; 0 and no
// change when there is no such device.
std::uint32_t select_device(std::int32_t index);
// True when the last scan counted exactly two devices.
bool is_daisychain();

}  // namespace velnor
