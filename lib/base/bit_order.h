// The library's one bit order: a bit stream is held most significant bit
// first, stream bit p being mask 0x80 >> (p % 8) of byte p / 8, for TDI and
// TDO alike. A cable whose hardware orders bits otherwise converts at its
// edge.
#pragma once

#include <cstdint>

namespace velnor {

inline bool stream_bit(const std::uint8_t* bits, std::int32_t p) {
  return (bits[p / 8] & (0x80u >> (p % 8))) != 0;
}

// The value's bit_count low bits as a stream, bit 0 first (JTAG shifts
// registers least significant bit first). bits must hold (bit_count + 7) / 8
// bytes; bits past bit_count are zero.
void lsb_first_stream(std::uint32_t value, std::int32_t bit_count, std::uint8_t* bits);

// bit_count stream bits from position p, the first as bit 0 of the value.
std::uint32_t lsb_first_value(const std::uint8_t* bits, std::int32_t p, std::int32_t bit_count);

// Removes the first bit_count bits of a stream, leaving byte_count bytes at
// the start of buffer. When bit_count is not a multiple of 8 the buffer must
// hold bit_count / 8 + byte_count + 1 bytes.
void drop_leading_bits(std::uint8_t* buffer, std::int32_t byte_count, std::int32_t bit_count);

}  // namespace velnor
