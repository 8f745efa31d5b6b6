// Discovering the chain: how many devices, how long each instruction
// register is, which known part each one is; and selecting one device for
// the TAP primitives.
#pragma once

#include <cstdint>

#include "jtag/jtag.h"

namespace velnor {

// Counts and identifies the devices into jtag.devices; true when every
// counted device was identified. Leaves the TAP in Run-Test/Idle or Exit1-DR.
bool scan_chain(Jtag& jtag);
// Fills table entries from the captured IR stream and the IDCODE stream;
// returns the number filled, or -1 when a device matches no row.
std::int32_t identify_devices(ChainDevice* table, std::int32_t capacity,
                              const std::uint8_t* ir_bits, std::int32_t ir_bit_count,
                              const std::uint8_t* id_bits, std::int32_t id_bit_count);
// Fills jtag.position for the device and returns its IDCODE; 0 and no change
// when there is no such device.
std::uint32_t select_device(Jtag& jtag, std::int32_t index);
// True when the last scan counted exactly two devices.
bool is_daisychain(const Jtag& jtag);

}  // namespace velnor
