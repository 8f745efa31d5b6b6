// Each TCK cycle is two writes to the data register (TCK low with the new TDI
// and TMS, then TCK high) and, when TDO is wanted, one status read between
// them: TDO is valid after the falling edge and before the rising one. No
// delays: the port's access time sets the TCK rate (about 1 µs per access on
// an ISA-speed port).
#include "cables/parallel/parallel_cable.h"

#include "base/messages.h"
#include "platform/platform.h"

namespace velnor {
namespace {

constexpr ParallelCableWiring WIRING = XILINX_PARALLEL_CABLE;

ParallelCable& parallel(void* cable) { return *static_cast<ParallelCable*>(cable); }
std::uint8_t read_status(const ParallelCable& cable) {
  return platform::port_read(static_cast<std::uint16_t>(cable.io_base + 1));
}
void write_data(const ParallelCable& cable, std::uint8_t value) {
  platform::port_write(cable.io_base, value);
}

// The cable loops its detect output back to two status inputs, one of them
// inverted by the port; another device on the port, or none, fails one of
// the four readings.
bool cable_detected(const ParallelCable& cable) {
  const std::uint8_t detect_high = WIRING.enable | WIRING.detect_out | WIRING.tck;  // 0x52
  const std::uint8_t detect_low = WIRING.enable | WIRING.tck;                       // 0x12
  write_data(cable, detect_high);
  if ((read_status(cable) & WIRING.detect_in) == 0) return false;
  if ((read_status(cable) & WIRING.detect_in_inverted) != 0) return false;
  write_data(cable, detect_low);
  if ((read_status(cable) & WIRING.detect_in) != 0) return false;
  if ((read_status(cable) & WIRING.detect_in_inverted) == 0) return false;
  return true;
}

std::int32_t parallel_open(void* state, std::uint32_t unit) {
  ParallelCable& cable = parallel(state);
  cable.io_base = unit == 0 ? DEFAULT_PRINTER_PORT : static_cast<std::uint16_t>(unit);
  if (!platform::grant_port_access()) {
    message("Can't access GIVEIO system\n");
    return 1;
  }
  if (!cable_detected(cable)) {
    message("No Probe\n");
    return 1;
  }
  return 0;  // the data register stays at TCK high, TMS and TDI low
}

std::int32_t parallel_target_power(void* state) {
  return (read_status(parallel(state)) & WIRING.power) != 0 ? 1 : 0;
}

// Port I/O stays granted after close; the backend undoes its work at unload.
void parallel_close(void* /*state*/) {}

std::int32_t parallel_shift(void* state, const std::uint8_t* tdi, std::uint8_t* tdo,
                            std::uint32_t bit_count, int tms, int tms_last) {
  const ParallelCable& cable = parallel(state);
  std::uint8_t tdi_byte = 0;
  for (std::uint32_t i = 0; i < bit_count; ++i) {
    std::uint8_t value = WIRING.enable;
    if (tdi != nullptr) {
      tdi_byte = (i % 8 == 0) ? tdi[i / 8] : static_cast<std::uint8_t>(tdi_byte << 1);
      if (tdi_byte & 0x80) value |= WIRING.tdi;
    }
    if ((i + 1 == bit_count) ? tms_last : tms) value |= WIRING.tms;
    write_data(cable, value);
    if (tdo != nullptr) {
      if (i % 8 == 0) tdo[i / 8] = 0;
      if (read_status(cable) & WIRING.tdo)
        tdo[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
    }
    write_data(cable, value | WIRING.tck);
  }
  return 0;
}

}  // namespace

const CableOps PARALLEL_CABLE_OPS = {
    parallel_open, parallel_target_power, parallel_close, parallel_shift,
    nullptr,  // every port write goes out at once
};

}  // namespace velnor
