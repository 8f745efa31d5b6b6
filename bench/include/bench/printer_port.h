// A PC printer port (data, status and control registers at base, base+1,
// base+2) and what is plugged into it: the Xilinx parallel JTAG cable wired
// to the chain, nothing, or some other device.
//
// The cable's wiring, as register bits:
//   data    bit 0 TDI, bit 1 TCK, bit 2 TMS, bit 4 buffer enable,
//           bit 6 cable-detect drive
//   status  bit 3 target power sense, bit 4 TDO,
//           bit 5 detect loop (follows data bit 6),
//           bit 7 detect loop on BUSY (the port inverts that pin)
#pragma once

#include <cstdint>

#include "bench/chain.h"

namespace velnor::bench {

class PrinterPort {
 public:
  enum class Attached { XilinxCable, Nothing, OtherDevice };
  PrinterPort(std::uint16_t base, Attached attached, Chain* chain);
  std::uint16_t base() const;
  Attached attached() const;
  // Register access; offset 0 data, 1 status, 2 control.
  std::uint8_t read(std::uint16_t offset);
  void write(std::uint16_t offset, std::uint8_t value);
  std::uint8_t data() const;

 private:
  void drive_chain();
  std::uint8_t status() const;
  std::uint16_t base_;
  Attached attached_;
  Chain* chain_;
  std::uint8_t data_ = 0;
  std::uint8_t control_ = 0;
};

}  // namespace velnor::bench
