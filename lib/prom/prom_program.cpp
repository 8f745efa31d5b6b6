// Erasing and programming the PROM. Programming writes whole 512-byte
// blocks; a part whose data page is smaller (the XCF01S) takes each block as
// several pages, so the caller's byte addressing stays the same on all parts.
#include <cstring>

#include "jtag/tap.h"
#include "platform/platform.h"
#include "prom/prom.h"
#include "velnor.h"

namespace velnor {
namespace {

// Erasing addresses the whole array through address register value 1.
constexpr std::uint32_t ERASE_ADDRESS = 0x0001;
constexpr std::uint32_t PROGRAM_WAIT_MS = 14;
constexpr std::uint32_t ERASE_WAIT_MS = 15000;

// The block being shifted; one PROM operation at a time uses it.
std::uint8_t prom_block_buffer[PROM_BLOCK_BYTES];

// clang-format off
// | step | action                                                          |
// |------|-----------------------------------------------------------------|
// | 1    | leave ISC mode (110 ms), TAP reset                              |
// | 2    | ISC_ENABLE with its six bits                                    |
// | 3    | per page: ISC_DATA_SHIFT with the page, 2 idle clocks           |
// | 4    | first page only: ISC_ADDRESS_SHIFT, 2 idle clocks               |
// | 5    | ISC_PROGRAM, 1 + 10 idle clocks, 14 ms, 10 idle clocks; the     |
// |      | PROM moves its address to the next page by itself               |
// clang-format on
std::uint32_t prom_program(Target& target, const PromPart& part, const std::uint8_t* data,
                           std::int32_t address, std::int32_t length) {
  Jtag& jtag = target.jtag;
  std::uint32_t result = prom_isc_disable(target);
  result |= tap_reset(jtag, 6);
  result |= prom_isc_enable(target);
  bool first = true;
  for (; length > PROM_BLOCK_BYTES - 1 && result == VELNOR_OK && !jtag.cable.failed;
       length -= PROM_BLOCK_BYTES, data += PROM_BLOCK_BYTES) {
    std::memcpy(prom_block_buffer, data, PROM_BLOCK_BYTES);
    for (std::int32_t page = 0; page < PROM_BLOCK_BYTES && result == VELNOR_OK;
         page += part.page_bytes) {
      result |= shift_ir(jtag, ISC_DATA_SHIFT, PROM_IR_LENGTH);
      result |= scan_dr(jtag, prom_block_buffer + page, nullptr, 8 * part.page_bytes);
      result |= tap_idle(jtag, 1);
      result |= tap_idle(jtag, 1);
      if (first) {
        result |= load_prom_address(target, prom_address_value(part, address));
        first = false;
      }
      const std::uint32_t started = shift_ir(jtag, ISC_PROGRAM, PROM_IR_LENGTH) | tap_idle(jtag, 1);
      if (started == VELNOR_OK) {
        result |= tap_idle(jtag, 10);
        jtag.cable.flush();
        platform::sleep_ms(PROGRAM_WAIT_MS);
        result |= tap_idle(jtag, 10);
      }
      result |= started;
      // A page programmed without supply is not programmed: stop there.
      result |= sense_power(target);
    }
  }
  return result;
}

// clang-format off
// | step | action                                                          |
// |------|-----------------------------------------------------------------|
// | 1    | TAP reset; ISC_ENABLE with its six bits                         |
// | 2    | ISC_ADDRESS_SHIFT 0x0001, 2 idle clocks                         |
// | 3    | ISC_ERASE, 1 + 10 idle clocks, 15 s, 10 idle clocks             |
// | 4    | leave ISC mode; BYPASS with one 0 bit                           |
// clang-format on
std::uint32_t prom_erase(Target& target) {
  static const std::uint8_t ZERO = 0x00;
  Jtag& jtag = target.jtag;
  std::uint32_t result = tap_reset(jtag, 6);
  result |= prom_isc_enable(target);
  result |= load_prom_address(target, ERASE_ADDRESS);
  result |= shift_ir(jtag, ISC_ERASE, PROM_IR_LENGTH);
  result |= tap_idle(jtag, 1);
  result |= tap_idle(jtag, 10);
  jtag.cable.flush();
  platform::sleep_ms(ERASE_WAIT_MS);
  result |= tap_idle(jtag, 10);
  result |= prom_isc_disable(target);
  result |= shift_ir(jtag, PROM_BYPASS, PROM_IR_LENGTH);
  result |= scan_dr(jtag, &ZERO, nullptr, 1);
  return result;
}

}  // namespace

std::uint32_t prom_program_image(Target& target, const std::uint8_t* data, std::int32_t address,
                                 std::int32_t length) {
  if (address < 0 || length < 0 || (length > 0 && data == nullptr)) return VELNOR_ERR_FORMAT;
  const std::uint32_t checked = check_prom(target);
  if (checked != VELNOR_OK) return checked;
  const PromPart& part = selected_prom(target);
  const std::int64_t start = address / PROM_BLOCK_BYTES * PROM_BLOCK_BYTES;
  const std::int64_t written = length / PROM_BLOCK_BYTES * PROM_BLOCK_BYTES;
  if (start + written > part.size_bytes) return VELNOR_ERR_FORMAT;
  return prom_program(target, part, data, address, length);
}

std::uint32_t prom_erase_all(Target& target) {
  const std::uint32_t checked = check_prom(target);
  if (checked != VELNOR_OK) return checked;
  return prom_erase(target) | sense_power(target);
}

}  // namespace velnor
