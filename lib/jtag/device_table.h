// The Xilinx parts the library recognises on a chain.
#pragma once

#include <cstdint>

namespace velnor {

struct DeviceType {
  const char* name;      // short part name; null ends the table
  std::uint32_t idcode;  // without the version nibble (compare with IDCODE & 0x0FFFFFFF)
  std::int32_t ir_length;
};

constexpr std::uint32_t IDCODE_WITHOUT_VERSION = 0x0FFFFFFF;

// Searched in order; the first row whose code and capture pattern fit wins.
extern const DeviceType DEVICE_TYPES[];

}  // namespace velnor
