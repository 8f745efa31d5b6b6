#include "core/fpga.h"

#include "core/library_state.h"
#include "core/target_check.h"
#include "jtag/device_table.h"
#include "jtag/tap.h"
#include "platform/platform.h"
#include "velnor.h"

namespace velnor {
namespace {

constexpr std::uint32_t kSupportedFpgas[] = {
    0x0608093,  // XC2S15
    0x060C093,  // XC2S30
    0x0610093,  // XC2S50
    0x0614093,  // XC2S100
    0x0618093,  // XC2S150
    0x061C093,  // XC2S200
};

// Configuration packets, as bytes in shifting order.
// | 2800E001 00000000     | read STAT (register 7), one word; filler       |
constexpr std::uint8_t STAT_READ_WORDS[] = {
    0x28, 0x00, 0xE0, 0x01, 0x00, 0x00, 0x00, 0x00,
};
// | word                  | meaning                                        |
// |-----------------------|------------------------------------------------|
// | 30008001 00000009     | CMD: SWITCH                                    |
// | 30012001 00A0BF2D     | COR: shutdown (bit 15), start-up clock = TCK    |
// | 30008001 00000005     | CMD: START, which runs the shutdown sequence   |
// | 30008001 00000007     | CMD: RCRC                                      |
// | 00000000              | filler                                         |
constexpr std::uint8_t SHUTDOWN_WORDS[] = {
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x09, 0x30, 0x01, 0x20, 0x01,
    0x00, 0xA0, 0xBF, 0x2D, 0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x05,
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00,
};
// | 30008001 00000008     | CMD: AGHIGH                                    |
// | 30012001 00A03F2D     | COR: back to start-up (bit 15 clear)           |
// | 00000000              | filler                                         |
constexpr std::uint8_t RESTORE_WORDS[] = {
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x08, 0x30, 0x01,
    0x20, 0x01, 0x00, 0xA0, 0x3F, 0x2D, 0x00, 0x00, 0x00, 0x00,
};

// Each step of the shutdown leaves the configuration logic this long.
constexpr std::uint32_t kShutdownSettleMs = 50;
constexpr std::int32_t kStartupClocks = 16;

std::uint32_t reverse_word(std::uint32_t word) {
  std::uint32_t reversed = 0;
  for (int bit = 0; bit < 32; ++bit) {
    if (word & (1u << bit)) reversed |= 1u << (31 - bit);
  }
  return reversed;
}

}  // namespace

// A TAP reset ends the frame of an open user channel; the next transfer must
// open it again with its start bit rather than shift into whatever state the
// reset left.
std::uint32_t reset_ending_any_frame() {
  library.open_channel = 0;
  return tap_reset(6);
}

bool is_supported_fpga(std::uint32_t idcode) {
  for (std::uint32_t supported : kSupportedFpgas) {
    if ((idcode & kIdcodeWithoutVersion) == supported) return true;
  }
  return false;
}

std::uint32_t check_target() {
  return check_device(&library.fpga_index, is_supported_fpga, read_idcode);
}

std::uint32_t read_idcode(std::uint32_t* out) { return read_word(IDCODE, FPGA_IR_LENGTH, out); }
std::uint32_t read_usercode(std::uint32_t* out) { return read_word(USERCODE, FPGA_IR_LENGTH, out); }

std::uint32_t word_from_tdo(const std::uint8_t* bytes) {
  std::uint8_t reversed[4] = {bytes[0], bytes[1], bytes[2], bytes[3]};
  reverse_bits_in_bytes(reversed, 4);
  return static_cast<std::uint32_t>(reversed[0]) | static_cast<std::uint32_t>(reversed[1]) << 8 |
         static_cast<std::uint32_t>(reversed[2]) << 16 |
         static_cast<std::uint32_t>(reversed[3]) << 24;
}

// With u devices between TDI and the FPGA, their u bypass registers would put
// u stray zeros ahead of the data. (32 - u) mod 32 leading zeros make that a
// whole zero word, which the configuration logic ignores, and u trailing
// zeros push the last data bit into the FPGA.
std::uint32_t write_cfg_in(const std::uint8_t* bytes, std::int32_t byte_count) {
  const std::int32_t u = chain_position.bypass_bits;
  if (u == 0) return scan_dr(bytes, nullptr, 8 * byte_count);
  std::uint32_t result = shift_dr(nullptr, nullptr, (32 - u) % 32, DR_ENTER);
  result |= shift_dr(bytes, nullptr, 8 * byte_count, 0);
  result |= shift_dr(nullptr, nullptr, u, DR_EXIT);
  return result;
}

// The configuration logic shifts the status register out most significant
// bit first, behind one pipeline bit; the 33-bit scan skips the bypass bits
// between the FPGA and TDO.
std::uint32_t read_status(std::uint32_t* out) {
  std::uint8_t bytes[5];
  std::uint32_t result = reset_ending_any_frame();
  result |= tap_reset(6);
  result |= shift_ir(CFG_IN, FPGA_IR_LENGTH);
  result |= write_cfg_in(STAT_READ_WORDS, sizeof STAT_READ_WORDS);
  result |= shift_ir(CFG_OUT, FPGA_IR_LENGTH);
  result |= scan_dr(nullptr, bytes, 33);
  drop_leading_bits(bytes, 4, 1);
  result |= tap_idle(1);
  if (out != nullptr) *out = reverse_word(word_from_tdo(bytes));
  return result;
}

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
std::uint32_t fpga_shutdown() {
  std::uint32_t result = reset_ending_any_frame();
  result |= shift_ir(CFG_IN, FPGA_IR_LENGTH);
  result |= write_cfg_in(SHUTDOWN_WORDS, sizeof SHUTDOWN_WORDS);
  platform::sleep_ms(kShutdownSettleMs);
  result |= shift_ir(JSTART, FPGA_IR_LENGTH);
  result |= scan_dr(nullptr, nullptr, kStartupClocks);
  platform::sleep_ms(kShutdownSettleMs);
  result |= shift_ir(CFG_IN, FPGA_IR_LENGTH);
  result |= write_cfg_in(RESTORE_WORDS, sizeof RESTORE_WORDS);
  platform::sleep_ms(kShutdownSettleMs);
  library.loaded_channel = -1;
  return result;
}

std::uint32_t get_status(std::uint32_t* idcode, std::uint32_t* status, std::uint32_t* usercode) {
  std::uint32_t result = check_target();
  if (result != VELNOR_OK) return result;
  if (idcode != nullptr && (result = read_idcode(idcode)) != VELNOR_OK) return result;
  if (status != nullptr && (result |= read_status(status)) != VELNOR_OK) return result;
  if (usercode != nullptr) result |= read_usercode(usercode);
  return result;
}

std::uint32_t shutdown() {
  std::uint32_t result = check_target();
  if (result != VELNOR_OK) return result;
  // The second check reselects from the index the first one found.
  result = check_target();
  if (result != VELNOR_OK) return result;
  return fpga_shutdown();
}

}  // namespace velnor
