#include "fpga/fpga.h"

#include "base/bit_order.h"
#include "jtag/device_table.h"
#include "jtag/tap.h"
#include "platform/platform.h"
#include "velnor.h"

namespace velnor {
namespace {

constexpr std::uint32_t SUPPORTED_FPGAS[] = {
    0x0608093,  // XC2S15
    0x060C093,  // XC2S30
    0x0610093,  // XC2S50
    0x0614093,  // XC2S100
    0x0618093,  // XC2S150
    0x061C093,  // XC2S200
};

// clang-format off
// Configuration packets, as bytes in shifting order.
// | word                  | meaning                                        |
// |-----------------------|------------------------------------------------|
// | 2800E001 00000000     | read STAT (register 7), one word; filler       |
constexpr std::uint8_t STAT_READ_WORDS[] = {
    0x28, 0x00, 0xE0, 0x01, 0x00, 0x00, 0x00, 0x00,
};
// | 30008001 00000009     | CMD: SWITCH                                    |
// | 30012001 00A0BF2D     | COR: shutdown (bit 15), start-up clock = TCK   |
// | 30008001 00000005     | CMD: START, which runs the shutdown sequence   |
// | 30008001 00000007     | CMD: RCRC                                      |
// | 00000000              | filler                                         |
constexpr std::uint8_t SHUTDOWN_WORDS[] = {
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x09,
    0x30, 0x01, 0x20, 0x01, 0x00, 0xA0, 0xBF, 0x2D,
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x05,
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x07,
    0x00, 0x00, 0x00, 0x00,
};
// | 30008001 00000008     | CMD: AGHIGH                                    |
// | 30012001 00A03F2D     | COR: back to start-up (bit 15 clear)           |
// | 00000000              | filler                                         |
constexpr std::uint8_t RESTORE_WORDS[] = {
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x08,
    0x30, 0x01, 0x20, 0x01, 0x00, 0xA0, 0x3F, 0x2D,
    0x00, 0x00, 0x00, 0x00,
};
// clang-format on

// Each step of the shutdown leaves the configuration logic this long.
constexpr std::uint32_t SHUTDOWN_SETTLE_MS = 50;

}  // namespace

bool is_supported_fpga(std::uint32_t idcode) {
  for (std::uint32_t supported : SUPPORTED_FPGAS) {
    if ((idcode & IDCODE_WITHOUT_VERSION) == supported) return true;
  }
  return false;
}

std::uint32_t check_target(Target& target) {
  return check_device(target, &target.fpga_index, is_supported_fpga, read_idcode);
}

std::uint32_t read_idcode(Target& target, std::uint32_t* out) {
  return read_word(target, IDCODE, FPGA_IR_LENGTH, out);
}
std::uint32_t read_usercode(Target& target, std::uint32_t* out) {
  return read_word(target, USERCODE, FPGA_IR_LENGTH, out);
}

std::uint32_t cfg_in_begin(Target& target) {
  const std::int32_t u = target.jtag.position.bypass_bits;
  return shift_dr(target.jtag, nullptr, nullptr, (32 - u) % 32, DR_ENTER);
}

std::uint32_t cfg_in_data(Target& target, const std::uint8_t* bytes, std::int32_t byte_count,
                          bool last) {
  const std::int32_t u = target.jtag.position.bypass_bits;
  if (!last || u == 0) {
    return shift_dr(target.jtag, bytes, nullptr, 8 * byte_count, last ? DR_EXIT : 0);
  }
  std::uint32_t result = shift_dr(target.jtag, bytes, nullptr, 8 * byte_count, 0);
  return result | shift_dr(target.jtag, nullptr, nullptr, u, DR_EXIT);
}

std::uint32_t write_cfg_in(Target& target, const std::uint8_t* bytes, std::int32_t byte_count) {
  return cfg_in_begin(target) | cfg_in_data(target, bytes, byte_count, true);
}

// The configuration logic shifts the status register out most significant
// bit first, behind one pipeline bit; the 33-bit scan skips the bypass bits
// between the FPGA and TDO.
std::uint32_t read_status(Target& target, std::uint32_t* out) {
  std::uint8_t bits[5] = {};
  std::uint32_t result = reset_ending_any_frame(target);
  result |= tap_reset(target.jtag, 6);
  result |= shift_ir(target.jtag, CFG_IN, FPGA_IR_LENGTH);
  result |= write_cfg_in(target, STAT_READ_WORDS, sizeof STAT_READ_WORDS);
  result |= shift_ir(target.jtag, CFG_OUT, FPGA_IR_LENGTH);
  result |= scan_dr(target.jtag, nullptr, bits, 33);
  drop_leading_bits(bits, 4, 1);
  result |= tap_idle(target.jtag, 1);
  if (out != nullptr) {
    *out = static_cast<std::uint32_t>(bits[0]) << 24 | static_cast<std::uint32_t>(bits[1]) << 16 |
           static_cast<std::uint32_t>(bits[2]) << 8 | bits[3];
  }
  return result;
}

// clang-format off
// | step | action                                                  |
// |------|---------------------------------------------------------|
// | 1    | TAP reset                                               |
// | 2    | CFG_IN, shutdown words                                  |
// | 3    | 50 ms                                                   |
// | 4    | JSTART, 16 clocks in Shift-DR: the shutdown sequence    |
// | 5    | 50 ms                                                   |
// | 6    | CFG_IN, restore words                                   |
// | 7    | 50 ms                                                   |
// | 8    | the user channels must be selected afresh               |
// clang-format on
std::uint32_t fpga_shutdown(Target& target) {
  Jtag& jtag = target.jtag;
  std::uint32_t result = reset_ending_any_frame(target);
  result |= shift_ir(jtag, CFG_IN, FPGA_IR_LENGTH);
  result |= write_cfg_in(target, SHUTDOWN_WORDS, sizeof SHUTDOWN_WORDS);
  jtag.cable.flush();
  platform::sleep_ms(SHUTDOWN_SETTLE_MS);
  result |= shift_ir(jtag, JSTART, FPGA_IR_LENGTH);
  result |= scan_dr(jtag, nullptr, nullptr, STARTUP_CLOCKS);
  jtag.cable.flush();
  platform::sleep_ms(SHUTDOWN_SETTLE_MS);
  result |= shift_ir(jtag, CFG_IN, FPGA_IR_LENGTH);
  result |= write_cfg_in(target, RESTORE_WORDS, sizeof RESTORE_WORDS);
  jtag.cable.flush();
  platform::sleep_ms(SHUTDOWN_SETTLE_MS);
  target.loaded_channel = -1;
  return result;
}

std::uint32_t get_status(Target& target, std::uint32_t* idcode, std::uint32_t* status,
                         std::uint32_t* usercode) {
  std::uint32_t result = check_target(target);
  if (result != VELNOR_OK) return result;
  if (idcode != nullptr && (result = read_idcode(target, idcode)) != VELNOR_OK) return result;
  if (status != nullptr && (result |= read_status(target, status)) != VELNOR_OK) return result;
  if (usercode != nullptr) result |= read_usercode(target, usercode);
  return result;
}

std::uint32_t shutdown(Target& target) {
  const std::uint32_t result = check_target(target);
  if (result != VELNOR_OK) return result;
  return fpga_shutdown(target);
}

}  // namespace velnor
