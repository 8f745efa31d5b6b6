// What the JTAG layer works on: the open cable and the chain behind it as
// the last scan found it, with the one device selected for the primitives.
#pragma once

#include <cstdint>

#include "cables/cable.h"
#include "jtag/device_table.h"

namespace velnor {

struct ChainDevice {
  const char* name;         // name of the matching part, null when not identified
  std::uint32_t idcode;     // as read, version nibble included, identified or not
  std::int32_t ir_length;   // from the matching part; see identify_devices when unidentified
  std::uint8_t ir_capture;  // low 8 bits of what the instruction register captured
};

// The chain holds at most this many devices.
constexpr std::int32_t CHAIN_CAPACITY = 8;

// Where the selected device sits; devices count from 0 at the TDO end.
struct ChainPosition {
  std::int32_t index;
  std::int32_t ir_lead;      // IR bits between the device and TDO: shifted before the instruction
  std::int32_t ir_trail;     // IR bits between TDI and the device: shifted after it
  std::int32_t dr_lead;      // BYPASS bits between the device and TDO
  std::int32_t dr_trail;     // BYPASS bits between TDI and the device
  std::int32_t bypass_bits;  // dr_trail, for code that pads its own scans
};

struct Jtag {
  Cable cable;
  ChainDevice devices[CHAIN_CAPACITY] = {};
  std::int32_t device_count = 0;
  ChainPosition position = {};
  // Searched by every scan after the device table; names of devices point
  // into it.
  AddedParts added_parts;
};

}  // namespace velnor
