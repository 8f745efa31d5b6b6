#include "jtag/bitfile.h"

#include <cstring>
#include <new>

#include "core/diagnostics.h"

namespace velnor {
namespace {

bool read_exactly(BitFile* file, void* buffer, std::size_t count) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  while (count > 0) {
    const std::size_t got = platform::read_file(file->handle, bytes, count);
    if (got == 0) return false;
    bytes += got;
    count -= got;
  }
  return true;
}

bool read_big_endian(BitFile* file, int byte_count, std::uint32_t* value) {
  std::uint8_t bytes[4];
  if (!read_exactly(file, bytes, static_cast<std::size_t>(byte_count))) return false;
  *value = 0;
  for (int i = 0; i < byte_count; ++i) *value = *value << 8 | bytes[i];
  return true;
}

// A text field of length bytes: what fits is kept with a NUL after it, the
// rest is read past.
bool read_text_field(BitFile* file, char* text) {
  std::uint32_t length = 0;
  if (!read_big_endian(file, 2, &length)) return false;
  const std::size_t kept = length < kBitFileTextSize ? length : kBitFileTextSize - 1;
  if (!read_exactly(file, text, kept)) return false;
  text[kept] = '\0';
  char skipped[kBitFileTextSize];
  for (std::size_t rest = length - kept; rest > 0;) {
    const std::size_t part = rest < sizeof skipped ? rest : sizeof skipped;
    if (!read_exactly(file, skipped, part)) return false;
    rest -= part;
  }
  return true;
}

bool read_header(BitFile* file) {
  if (!read_exactly(file, file->preamble, sizeof file->preamble)) return false;
  for (;;) {
    std::uint8_t key = 0;
    if (!read_exactly(file, &key, 1)) return false;
    switch (key) {
      case 'a':
        if (!read_text_field(file, file->design_name)) return false;
        break;
      case 'b':
        if (!read_text_field(file, file->part_name)) return false;
        break;
      case 'c':
        if (!read_text_field(file, file->date)) return false;
        break;
      case 'd':
        if (!read_text_field(file, file->time)) return false;
        break;
      case 'e':
        return read_big_endian(file, 4, &file->length);
      default:
        diagnostic("Unknown header ID %02x found\n", key);
        return false;
    }
  }
}

}  // namespace

BitFile* bitfile_open(const char* path) {
  const platform::Handle handle = platform::open_file_for_reading(path);
  if (handle == platform::kNoHandle) return nullptr;
  auto* file = new (std::nothrow) BitFile{};
  if (file == nullptr) {
    platform::close_file(handle);
    return nullptr;
  }
  file->handle = handle;
  if (!read_header(file)) {
    bitfile_close(file);
    return nullptr;
  }
  return file;
}

std::size_t bitfile_read(BitFile* file, std::uint8_t* buffer, std::size_t count) {
  return platform::read_file(file->handle, buffer, count);
}

void bitfile_close(BitFile* file) {
  platform::close_file(file->handle);
  delete file;
}

}  // namespace velnor
