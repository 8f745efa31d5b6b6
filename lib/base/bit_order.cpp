#include "base/bit_order.h"

#include <array>
#include <cstring>

namespace velnor {
namespace {

constexpr std::array<std::uint8_t, 256> make_reversal_table() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned value = 0; value < 256; ++value) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (value & (1u << bit)) reversed |= 0x80u >> bit;
    }
    table[value] = static_cast<std::uint8_t>(reversed);
  }
  return table;
}
constexpr std::array<std::uint8_t, 256> REVERSED = make_reversal_table();

}  // namespace

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

std::uint8_t reversed_bits(std::uint8_t byte) { return REVERSED[byte]; }

void reverse_bits_in_bytes(std::uint8_t* bytes, std::int32_t byte_count) {
  for (std::int32_t i = 0; i < byte_count; ++i) bytes[i] = REVERSED[bytes[i]];
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
