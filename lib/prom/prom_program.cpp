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

constexpr std::uint8_t kProgramEnableData = 0x37;  // six bits 001101 in shift order
constexpr std::uint8_t kEraseAddress[2] = {0x80, 0x00};  // 0x0001, least significant bit first
constexpr std::uint32_t kProgramWaitMs = 14;
constexpr std::uint32_t kEraseWaitMs = 15000;

// The block being shifted; one PROM operation at a time uses it.
std::uint8_t prom_block_buffer[kPromBlockBytes];

std::uint32_t enable_for_writing() {
  std::uint32_t result = shift_ir(ISC_ENABLE, PROM_IR_LENGTH);
  return result | scan_dr(&kProgramEnableData, nullptr, 6);
}

// | step | action                                                          |
// |------|-----------------------------------------------------------------|
// | 1    | leave ISC mode (110 ms), TAP reset                              |
// | 2    | ISC_ENABLE with its six bits                                    |
// | 3    | per page: ISC_DATA_SHIFT with the page, 2 idle clocks           |
// | 4    | first page only: ISC_ADDRESS_SHIFT, 2 idle clocks               |
// | 5    | ISC_PROGRAM, 1 + 10 idle clocks, 14 ms, 10 idle clocks; the      |
// |      | PROM moves its address to the next page by itself               |
std::uint32_t prom_program(const PromPart& part, const std::uint8_t* data, std::int32_t address,
                           std::int32_t length) {
  std::uint8_t address_bytes[2];
  prom_address_bytes(part, address, address_bytes);
  std::uint32_t result = prom_isc_disable();
  result |= tap_reset(6);
  result |= enable_for_writing();
  bool first = true;
  for (; length > kPromBlockBytes - 1; length -= kPromBlockBytes, data += kPromBlockBytes) {
    std::memcpy(prom_block_buffer, data, kPromBlockBytes);
    for (std::int32_t page = 0; page < kPromBlockBytes; page += part.page_bytes) {
      result |= shift_ir(ISC_DATA_SHIFT, PROM_IR_LENGTH);
      result |= scan_dr(prom_block_buffer + page, nullptr, 8 * part.page_bytes);
      result |= tap_idle(1);
      result |= tap_idle(1);
      if (first) {
        result |= shift_ir(ISC_ADDRESS_SHIFT, PROM_IR_LENGTH);
        result |= scan_dr(address_bytes, nullptr, 16);
        result |= tap_idle(1);
        result |= tap_idle(1);
        first = false;
      }
      const std::uint32_t started =
          shift_ir(ISC_PROGRAM, PROM_IR_LENGTH) | tap_idle(1);
      if (started == VELNOR_OK) {
        result |= tap_idle(10);
        platform::sleep_ms(kProgramWaitMs);
        result |= tap_idle(10);
      }
      result |= started;
    }
  }
  return result;
}

// | step | action                                                          |
// |------|-----------------------------------------------------------------|
// | 1    | TAP reset; ISC_ENABLE with its six bits                         |
// | 2    | ISC_ADDRESS_SHIFT 0x0001, 2 idle clocks                         |
// | 3    | ISC_ERASE, 1 + 10 idle clocks, 15 s, 10 idle clocks             |
// | 4    | leave ISC mode; BYPASS with one 0 bit                           |
std::uint32_t prom_erase() {
  static const std::uint8_t kZero = 0x00;
  std::uint32_t result = tap_reset(6);
  result |= enable_for_writing();
  result |= shift_ir(ISC_ADDRESS_SHIFT, PROM_IR_LENGTH);
  result |= scan_dr(kEraseAddress, nullptr, 16);
  result |= tap_idle(1);
  result |= tap_idle(1);
  result |= shift_ir(ISC_ERASE, PROM_IR_LENGTH);
  result |= tap_idle(1);
  result |= tap_idle(10);
  platform::sleep_ms(kEraseWaitMs);
  result |= tap_idle(10);
  result |= prom_isc_disable();
  result |= shift_ir(PROM_BYPASS, PROM_IR_LENGTH);
  result |= scan_dr(&kZero, nullptr, 1);
  return result;
}

}  // namespace

std::uint32_t prom_program_image(const std::uint8_t* data, std::int32_t address,
                                 std::int32_t length) {
  const std::uint32_t checked = check_prom();
  if (checked != VELNOR_OK) return checked;
  if (address < 0 || length < 0 || (length > 0 && data == nullptr)) return VELNOR_ERR_FORMAT;
  const PromPart& part = selected_prom();
  const std::int64_t start = address / kPromBlockBytes * kPromBlockBytes;
  const std::int64_t written = length / kPromBlockBytes * kPromBlockBytes;
  if (start + written > part.size_bytes) return VELNOR_ERR_FORMAT;
  prom_program(part, data, address, length);
  return VELNOR_OK;
}

std::uint32_t prom_erase_all() {
  const std::uint32_t checked = check_prom();
  if (checked != VELNOR_OK) return checked;
  prom_erase();
  return VELNOR_OK;
}

}  // namespace velnor
