#include "fpga/target.h"

#include "base/bit_order.h"
#include "jtag/chain_scan.h"
#include "jtag/tap.h"
#include "velnor.h"

namespace velnor {

std::uint32_t check_device(Target& target, std::int32_t* remembered,
                           bool (*accepts)(std::uint32_t idcode),
                           std::uint32_t (*read_back)(Target& target, std::uint32_t* idcode)) {
  Jtag& jtag = target.jtag;
  if (*remembered >= 0) {
    // A board may have changed since: the device must still be there. One
    // that answers with its IDCODE is powered, too.
    const std::uint32_t idcode = select_device(jtag, *remembered);
    if (idcode != 0 && accepts(idcode)) {
      std::uint32_t read = 0;
      if (read_back(target, &read) == VELNOR_OK && read == idcode && !jtag.cable.failed) {
        return VELNOR_OK;
      }
    }
    *remembered = -1;
  }
  const std::uint32_t powered = sense_power(target);
  if (powered != VELNOR_OK) return powered;
  target.open_channel = 0;
  if (!scan_chain(jtag)) return jtag.cable.failed ? VELNOR_ERR_PROBE : VELNOR_ERR_NO_TARGET;
  target.fpga_index = -1;
  target.prom_index = -1;
  for (std::int32_t index = 0;; ++index) {
    const std::uint32_t idcode = select_device(jtag, index);
    if (idcode == 0) return VELNOR_ERR_NO_TARGET;
    if (!accepts(idcode)) continue;
    std::uint32_t read = 0;
    const std::uint32_t result = read_back(target, &read);
    if (read != idcode) return result | VELNOR_ERR_NO_TARGET;
    *remembered = index;
    return result;
  }
}

std::uint32_t sense_power(Target& target) {
  const std::int32_t power = target.jtag.cable.target_power();
  if (power < 0) return VELNOR_ERR_PROBE;
  return power == 0 ? VELNOR_ERR_POWER_DOWN : VELNOR_OK;
}

// A TAP reset ends the frame of an open user channel; the next transfer must
// open it again with its start bit rather than shift into whatever state the
// reset left.
std::uint32_t reset_ending_any_frame(Target& target) {
  target.open_channel = 0;
  return tap_reset(target.jtag, 6);
}

std::uint32_t read_word(Target& target, std::uint32_t instruction, std::uint32_t ir_length,
                        std::uint32_t* out) {
  std::uint8_t bits[4] = {};
  std::uint32_t result = reset_ending_any_frame(target);
  result |= shift_ir(target.jtag, instruction, static_cast<std::int32_t>(ir_length));
  result |= scan_dr(target.jtag, nullptr, bits, 32);
  if (out != nullptr) *out = lsb_first_value(bits, 0, 32);
  return result;
}

}  // namespace velnor
