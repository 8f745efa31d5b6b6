// The Xilinx parallel JTAG cable on a PC printer port, driven bit by bit.
#pragma once

#include <cstdint>

#include "cables/cable_ops.h"

namespace velnor {

// Which printer-port register bit carries which cable signal.
struct ParallelCableWiring {
  // Data register (written).
  std::uint8_t tdi;
  std::uint8_t tck;
  std::uint8_t tms;
  std::uint8_t enable;      // held high in every value written: drives the cable's buffers
  std::uint8_t detect_out;  // drives the cable's detect loop
  // Status register (read).
  std::uint8_t power;  // target supply sensed
  std::uint8_t tdo;
  std::uint8_t detect_in;           // the loop, as driven
  std::uint8_t detect_in_inverted;  // the loop on BUSY, which the port inverts
};

constexpr ParallelCableWiring kXilinxParallelCable = {
    0x01, 0x02, 0x04, 0x10, 0x40, 0x08, 0x10, 0x20, 0x80,
};

constexpr std::uint16_t kDefaultPrinterPort = 0x378;

extern const CableOps parallel_cable_ops;

// The I/O base of the data register; the status register is the next one.
extern std::uint16_t io_base;

}  // namespace velnor
