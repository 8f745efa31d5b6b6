#include "base/bitfile.h"

#include <cstring>

#include "base/messages.h"

namespace velnor {

bool read_exactly(const ByteSource& source, void* buffer, std::size_t count) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  while (count > 0) {
    const std::size_t got = source.read(source.context, bytes, count);
    if (got == 0) return false;
    bytes += got;
    count -= got;
  }
  return true;
}

namespace {

bool read_big_endian(const ByteSource& file, int byte_count, std::uint32_t* value) {
  std::uint8_t bytes[4];
  if (!read_exactly(file, bytes, static_cast<std::size_t>(byte_count))) return false;
  *value = 0;
  for (int i = 0; i < byte_count; ++i) *value = *value << 8 | bytes[i];
  return true;
}

// A text field of length bytes: what fits is kept with a NUL after it, the
// rest is read past.
bool read_text_field(const ByteSource& file, char* text) {
  std::uint32_t length = 0;
  if (!read_big_endian(file, 2, &length)) return false;
  const std::size_t kept = length < BITFILE_TEXT_SIZE ? length : BITFILE_TEXT_SIZE - 1;
  if (!read_exactly(file, text, kept)) return false;
  text[kept] = '\0';
  char skipped[BITFILE_TEXT_SIZE];
  for (std::size_t rest = length - kept; rest > 0;) {
    const std::size_t part = rest < sizeof skipped ? rest : sizeof skipped;
    if (!read_exactly(file, skipped, part)) return false;
    rest -= part;
  }
  return true;
}

}  // namespace

bool read_bitfile_header(const ByteSource& file, BitFileHeader* header) {
  *header = BitFileHeader{};
  std::uint8_t preamble[13];
  if (!read_exactly(file, preamble, sizeof preamble)) return false;
  for (;;) {
    std::uint8_t key = 0;
    if (!read_exactly(file, &key, 1)) return false;
    switch (key) {
      case 'a':
        if (!read_text_field(file, header->design_name)) return false;
        break;
      case 'b':
        if (!read_text_field(file, header->part_name)) return false;
        break;
      case 'c':
        if (!read_text_field(file, header->date)) return false;
        break;
      case 'd':
        if (!read_text_field(file, header->time)) return false;
        break;
      case 'e':
        return read_big_endian(file, 4, &header->length);
      default:
        message("Unknown header ID %02x found\n", key);
        return false;
    }
  }
}

}  // namespace velnor
