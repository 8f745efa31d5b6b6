// The Xilinx parallel JTAG cable on a PC printer port, driven bit by bit.
#pragma once

#include <cstdint>

#include "cables/cable.h"

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

constexpr ParallelCableWiring XILINX_PARALLEL_CABLE = {
    0x01, 0x02, 0x04, 0x10, 0x40, 0x08, 0x10, 0x20, 0x80,
};

constexpr std::uint16_t DEFAULT_PRINTER_PORT = 0x378;

struct ParallelCable {
  // The I/O base of the data register; the status register is the next one.
  std::uint16_t io_base = DEFAULT_PRINTER_PORT;
};

extern const CableOps PARALLEL_CABLE_OPS;

}  // namespace velnor
