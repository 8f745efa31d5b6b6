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
// Fills one entry per device from the IDCODE stream (count codes) and the
// captured IR stream (ir_bit_count bits, the measured total): every entry
// keeps its IDCODE; name, IR length and capture come from the first fitting
// part of the device table, then of the added parts. An unidentified device
// has no name and IR length 0, unless it is the only one: then the bits the
// others leave of the total are its register. True when every device was
// identified and their registers fill the total exactly.
bool identify_devices(ChainDevice* devices, std::int32_t count, const AddedParts& added,
                      const std::uint8_t* ir_bits, std::int32_t ir_bit_count,
                      const std::uint8_t* id_bits);
// Fills jtag.position for the device and returns its IDCODE; 0 and no change
// when there is no such device.
std::uint32_t select_device(Jtag& jtag, std::int32_t index);
// True when the last scan counted exactly two devices.
bool is_daisychain(const Jtag& jtag);

}  // namespace velnor
