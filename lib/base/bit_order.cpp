#include "base/bit_order.h"

#include <cstring>

namespace velnor {
void lsb_first_stream(std::uint32_t value, std::int32_t bit_count, std::uint8_t* bits) {
  std::memset(bits, 0, static_cast<std::size_t>((bit_count + 7) / 8));
  for (std::int32_t p = 0; p < bit_count; ++p) {
    if ((value >> p) & 1u) bits[p / 8] |= static_cast<std::uint8_t>(0x80u >> (p % 8));
  }
}

std::uint32_t lsb_first_value(const std::uint8_t* bits, std::int32_t p, std::int32_t bit_count) {
  std::uint32_t value = 0;
  for (std::int32_t i = 0; i < bit_count; ++i) {
    if (stream_bit(bits, p + i)) value |= 1u << i;
  }
  return value;
}

void drop_leading_bits(std::uint8_t* buffer, std::int32_t byte_count, std::int32_t bit_count) {
  if (bit_count <= 0 || byte_count <= 0) return;
  const std::int32_t k = bit_count / 8;
  const std::int32_t r = bit_count % 8;
  if (r == 0) {
    std::memmove(buffer, buffer + k, static_cast<std::size_t>(byte_count));
    return;
  }
  for (std::int32_t i = 0; i < byte_count; ++i) {
    const unsigned pair = static_cast<unsigned>(buffer[k + i]) << 8 | buffer[k + i + 1];
    buffer[i] = static_cast<std::uint8_t>(pair >> (8 - r));
  }
}

}  // namespace velnor
