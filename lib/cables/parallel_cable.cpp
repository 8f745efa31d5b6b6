// Each TCK cycle is two writes to the data register (TCK low with the new TDI
// and TMS, then TCK high) and, when TDO is wanted, one status read between
// them: TDO is valid after the falling edge and before the rising one. No
// delays: the port's access time sets the TCK rate (about 1 µs per access on
// an ISA-speed port).
#include "cables/parallel_cable.h"

#include <cstdio>

#include "cables/port_io_installer.h"
#include "core/diagnostics.h"
#include "platform/platform.h"

namespace velnor {

std::uint16_t io_base = kDefaultPrinterPort;

namespace {

constexpr ParallelCableWiring kWiring = kXilinxParallelCable;

std::uint16_t status_port() { return static_cast<std::uint16_t>(io_base + 1); }
std::uint8_t read_status() { return platform::port_read(status_port()); }
void write_data(std::uint8_t value) { platform::port_write(io_base, value); }

// The cable loops its detect output back to two status inputs, one of them
// inverted by the port; another device on the port, or none, fails one of
// the four readings.
bool cable_detected() {
  const std::uint8_t detect_high = kWiring.enable | kWiring.detect_out | kWiring.tck;  // 0x52
  const std::uint8_t detect_low = kWiring.enable | kWiring.tck;                        // 0x12
  write_data(detect_high);
  if ((read_status() & kWiring.detect_in) == 0) return false;
  if ((read_status() & kWiring.detect_in_inverted) != 0) return false;
  write_data(detect_low);
  if ((read_status() & kWiring.detect_in) != 0) return false;
  if ((read_status() & kWiring.detect_in_inverted) == 0) return false;
  return true;
}

std::int32_t parallel_max_bits() { return kCableMaxBits; }

std::int32_t parallel_open(std::uint32_t unit, std::uint32_t /*rate*/, char* description) {
  io_base = unit == 0 ? kDefaultPrinterPort : static_cast<std::uint16_t>(unit);
  if (description != nullptr) {
    std::snprintf(description, kCableDescriptionSize,
                  "Xilinx Parallel ISP Cable (JTAG),IO Base=%04X", io_base);
  }
  if (enable_port_io() == 0) {
    diagnostic("Can't access GIVEIO system\n");
    return 1;
  }
  if (!cable_detected()) {
    diagnostic("No Probe\n");
    return 1;
  }
  return 0;  // the data register stays at TCK high, TMS and TDI low
}

std::int32_t parallel_target_power() { return (read_status() & kWiring.power) != 0 ? 1 : 0; }

// Port I/O stays enabled after close; the installer undoes its work at unload.
void parallel_close() {}

std::int32_t parallel_shift(const std::uint8_t* tdi, std::uint8_t* tdo, std::uint32_t bit_count,
                            int tms, int tms_last) {
  std::uint8_t tdi_byte = 0;
  for (std::uint32_t i = 0; i < bit_count; ++i) {
    std::uint8_t value = kWiring.enable;
    if (tdi != nullptr) {
      tdi_byte = (i % 8 == 0) ? tdi[i / 8] : static_cast<std::uint8_t>(tdi_byte << 1);
      if (tdi_byte & 0x80) value |= kWiring.tdi;
    }
    if ((i + 1 == bit_count) ? tms_last : tms) value |= kWiring.tms;
    write_data(value);
    if (tdo != nullptr) {
      if (i % 8 == 0) tdo[i / 8] = 0;
      if (read_status() & kWiring.tdo) tdo[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
    }
    write_data(value | kWiring.tck);
  }
  return 0;
}

}  // namespace

const CableOps parallel_cable_ops = {
    parallel_max_bits, parallel_open, parallel_target_power, parallel_close, parallel_shift,
};

}  // namespace velnor
