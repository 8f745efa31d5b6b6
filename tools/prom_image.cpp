#include "prom_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <sstream>

namespace velnor::tools {
namespace {

constexpr std::size_t kBlockBytes = 512;
// Larger than any PROM the library knows; a record past it is a bad file.
constexpr std::size_t kMaxImageBytes = 1u << 24;
// No PROM file for the parts the library knows comes near this: the largest
// image, 512 KiB, takes under 1.5 MiB as hex text. A larger file is the
// wrong file, and is refused before it is read.
constexpr std::uintmax_t kMaxFileBytes = 8u << 20;

constexpr std::uint8_t kBitPreamble[] = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F,
                                         0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
constexpr std::uint8_t kSyncBytes[] = {0xAA, 0x99, 0x55, 0x66};

// Configuration packets: type in bits 31..29, operation in 28..27, a type-1
// header's register in 26..13 and word count in 10..0, a type-2 header's
// count in 26..0 (for the register of the type-1 header before it).
constexpr std::uint32_t kType1 = 1;
constexpr std::uint32_t kType2 = 2;
constexpr std::uint32_t kOpWrite = 2;
constexpr std::uint32_t kCorRegister = 9;
// COR bits 21..20 select the start-up clock: 00 CCLK, 01 user clock, 1x the
// JTAG clock.
constexpr std::uint32_t kCorJtagClock = 1u << 21;

bool ends_with(const std::string& text, const char* suffix) {
  const std::string tail(suffix);
  if (text.size() < tail.size()) return false;
  std::string end = text.substr(text.size() - tail.size());
  for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == tail;
}

std::uint8_t reversed(std::uint8_t byte) {
  std::uint8_t out = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (byte & (1 << bit)) out = static_cast<std::uint8_t>(out | (0x80 >> bit));
  }
  return out;
}

// Only a regular file of a plausible size is read, so a mistyped name such
// as a device node or a disc image is refused without reading it.
bool read_file(const std::string& path, std::string* contents, std::string* error) {
#ifdef _WIN32
  // Windows opens no file non-blocking or close-on-exec; binary mode keeps
  // the bytes as they are.
  const int fd = ::open(path.c_str(), O_RDONLY | O_BINARY);
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#endif
  if (fd < 0) {
    *error = "cannot open the file";
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!ok) {
    *error = "not a regular file";
  } else if (static_cast<std::uintmax_t>(info.st_size) > kMaxFileBytes) {
    *error = std::to_string(info.st_size) + " bytes, larger than any PROM file";
    ok = false;
  }
  if (ok) {
    contents->resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (ok && done < contents->size()) {
#ifdef _WIN32
      // Windows' read takes an unsigned count; PROM files are far smaller.
      const int got =
          ::read(fd, contents->data() + done, static_cast<unsigned>(contents->size() - done));
#else
      const ssize_t got = ::read(fd, contents->data() + done, contents->size() - done);
#endif
      ok = got > 0;
      if (ok) done += static_cast<std::size_t>(got);
    }
    if (!ok) *error = "cannot read the file";
  }
  ::close(fd);
  return ok;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The hex pairs of a record line from `from` on.
bool decode_hex(const std::string& line, std::size_t from, std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  if ((line.size() - from) % 2 != 0) return false;
  for (std::size_t i = from; i < line.size(); i += 2) {
    const int high = hex_digit(line[i]), low = hex_digit(line[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return true;
}

std::uint32_t big_endian(const std::uint8_t* bytes, int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

// The image that data records fill: gaps read 0xFF, and no byte may be
// given twice (two records for one address mean a broken or merged file).
class RecordImage {
 public:
  bool place(std::uint64_t address, const std::uint8_t* data, std::size_t count,
             std::string* error) {
    if (address + count > kMaxImageBytes) {
      *error = "address past any PROM";
      return false;
    }
    const auto at = static_cast<std::size_t>(address);
    if (bytes_.size() < at + count) {
      bytes_.resize(at + count, 0xFF);
      written_.resize(at + count, false);
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (written_[at + i]) {
        std::ostringstream text;
        text << "overlaps an earlier record at 0x" << std::hex << std::uppercase << at + i;
        *error = text.str();
        return false;
      }
      written_[at + i] = true;
      bytes_[at + i] = data[i];
    }
    return true;
  }
  std::vector<std::uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
  std::vector<bool> written_;
};

template <typename ParseLine>
bool parse_lines(const std::string& text, ParseLine parse_line, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    std::string reason;
    bool end = false;
    if (!parse_line(line, &end, &reason)) {
      *error = "line " + std::to_string(number) + reason;
      return false;
    }
    if (end) return true;
  }
  *error = "no end record";
  return false;
}

// The .bit container: a fixed preamble, keyed fields 'a' to 'd' (a two-byte
// big-endian length, then text) and 'e' (a four-byte length, then the
// configuration data, which end the file).
bool bitstream_data(const std::string& file, std::vector<std::uint8_t>* image, std::string* error) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
  std::size_t at = sizeof kBitPreamble;
  while (at < file.size()) {
    const char key = file[at++];
    if (key == 'e' && file.size() - at >= 4) {
      const std::uint32_t length = big_endian(bytes + at, 4);
      at += 4;
      if (file.size() - at != length) {
        *error = "the header gives " + std::to_string(length) + " bytes of data, the file holds " +
                 std::to_string(file.size() - at);
        return false;
      }
      image->assign(bytes + at, bytes + file.size());
      return true;
    }
    if (key < 'a' || key > 'd' || file.size() - at < 2) break;
    at += 2 + big_endian(bytes + at, 2);
  }
  *error = "not a bitstream file";
  return false;
}

// Raw data in bitstream order: 0xFF padding, then the sync word (a .bit
// file's data, or what `prom read` saves of a programmed PROM).
bool opens_with_sync_word(const std::string& file) {
  const std::size_t first = file.find_first_not_of('\xFF');
  return first != std::string::npos && first + 4 <= file.size() &&
         std::equal(kSyncBytes, kSyncBytes + 4,
                    reinterpret_cast<const std::uint8_t*>(file.data()) + first);
}

}  // namespace

bool parse_intel_hex(const std::string& text, std::vector<std::uint8_t>* bytes,
                     std::string* error) {
  RecordImage image;
  std::uint32_t base = 0;
  std::vector<std::uint8_t> record;
  const auto parse_line = [&](const std::string& line, bool* end, std::string* reason) {
    if (line[0] != ':' || line.size() < 11 || !decode_hex(line, 1, &record) ||
        record.size() != 5u + record[0]) {
      *reason = " is not an Intel HEX record";
      return false;
    }
    std::uint8_t sum = 0;
    for (std::uint8_t byte : record) sum = static_cast<std::uint8_t>(sum + byte);
    if (sum != 0) {
      *reason = ": checksum mismatch";
      return false;
    }
    const std::uint32_t offset = big_endian(&record[1], 2);
    const std::uint8_t type = record[3];
    const std::uint8_t* data = record.data() + 4;
    switch (type) {
      case 0x00:
        if (!image.place(std::uint64_t{base} + offset, data, record[0], reason)) {
          *reason = ": " + *reason;
          return false;
        }
        return true;
      case 0x01:
        *end = true;
        return true;
      case 0x02:  // extended segment address: bits 19..4
      case 0x04:  // extended linear address: bits 31..16
        if (record[0] != 2) break;
        base = big_endian(data, 2) << (type == 0x02 ? 4 : 16);
        return true;
      case 0x03:  // start addresses, nothing for a PROM
      case 0x05:
        return true;
      default:
        break;
    }
    *reason = ": unknown record type";
    return false;
  };
  if (!parse_lines(text, parse_line, error)) return false;
  *bytes = image.take();
  return true;
}

bool parse_s_records(const std::string& text, std::vector<std::uint8_t>* bytes,
                     std::string* error) {
  // Address bytes by record type S0..S9; S4 does not exist.
  constexpr int kAddressBytes[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
  RecordImage image;
  std::uint32_t data_records = 0;
  std::vector<std::uint8_t> record;
  const auto parse_line = [&](const std::string& line, bool* end, std::string* reason) {
    const int type = line.size() > 1 ? line[1] - '0' : -1;
    if (line[0] != 'S' || type < 0 || type > 9 || type == 4 || !decode_hex(line, 2, &record) ||
        record.empty() || record.size() != 1u + record[0] || record[0] < kAddressBytes[type] + 1) {
      *reason = " is not an S-record";
      return false;
    }
    std::uint8_t sum = 0;
    for (std::uint8_t byte : record) sum = static_cast<std::uint8_t>(sum + byte);
    if (sum != 0xFF) {
      *reason = ": checksum mismatch";
      return false;
    }
    const int address_bytes = kAddressBytes[type];
    const std::uint32_t address = big_endian(&record[1], address_bytes);
    const std::size_t data_bytes = record[0] - address_bytes - 1u;
    if (type >= 1 && type <= 3) {
      ++data_records;
      if (!image.place(address, &record[1 + address_bytes], data_bytes, reason)) {
        *reason = ": " + *reason;
        return false;
      }
    } else if (type == 5 || type == 6) {
      // The count is as wide as the record's address field: 16 or 24 bits.
      if (address != (data_records & (type == 5 ? 0xFFFFu : 0xFFFFFFu))) {
        *reason = ": the count record says " + std::to_string(address) + " data records, not " +
                  std::to_string(data_records);
        return false;
      }
    } else if (type >= 7) {
      *end = true;
    }
    return true;
  };
  if (!parse_lines(text, parse_line, error)) return false;
  *bytes = image.take();
  return true;
}

bool load_prom_image(const std::string& path, PromFileFormat format,
                     std::vector<std::uint8_t>* image, std::string* error) {
  std::string contents;
  if (!read_file(path, &contents, error)) return false;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(contents.data());
  if (format == PromFileFormat::Raw || ends_with(path, ".bin")) {
    image->assign(bytes, bytes + contents.size());
    return true;
  }
  if (contents.size() >= sizeof kBitPreamble &&
      std::equal(kBitPreamble, kBitPreamble + sizeof kBitPreamble, bytes)) {
    return bitstream_data(contents, image, error);
  }
  // The vendor's PROM files hold every byte with its bits reversed.
  const std::size_t first = contents.find_first_not_of(" \t\r\n");
  const char lead = first == std::string::npos ? '\0' : contents[first];
  if (lead == ':' || (lead == 'S' && first + 1 < contents.size() &&
                      std::isdigit(static_cast<unsigned char>(contents[first + 1])))) {
    if (!(lead == ':' ? parse_intel_hex(contents, image, error)
                      : parse_s_records(contents, image, error))) {
      return false;
    }
    for (std::uint8_t& byte : *image) byte = reversed(byte);
    return true;
  }
  if (opens_with_sync_word(contents)) {
    image->assign(bytes, bytes + contents.size());
    return true;
  }
  *error = "not a bitstream, Intel HEX or S-record file (--format raw programs it as it is)";
  return false;
}

bool starts_up_on_jtag_clock(const std::vector<std::uint8_t>& image) {
  const auto sync = std::search(image.begin(), image.end(), kSyncBytes, kSyncBytes + 4);
  if (sync == image.end()) return false;
  std::size_t at = static_cast<std::size_t>(sync - image.begin()) + 4;
  std::uint32_t last_register = 0xFFFFFFFF;
  while (image.size() - at >= 4) {
    const std::uint32_t header = big_endian(&image[at], 4);
    at += 4;
    const std::uint32_t type = header >> 29;
    std::uint64_t count;
    if (type == kType1) {
      last_register = (header >> 13) & 0x3FFF;
      count = header & 0x7FF;
    } else if (type == kType2) {
      count = header & 0x7FFFFFF;
    } else {
      continue;  // fillers
    }
    if ((header >> 27 & 3) != kOpWrite) continue;
    if (last_register == kCorRegister && count >= 1 && image.size() - at >= 4) {
      return (big_endian(&image[at], 4) & kCorJtagClock) != 0;
    }
    if (4 * count > image.size() - at) return false;
    at += static_cast<std::size_t>(4 * count);
  }
  return false;
}

void pad_to_blocks(std::vector<std::uint8_t>* image) {
  image->resize((image->size() + kBlockBytes - 1) / kBlockBytes * kBlockBytes, 0xFF);
}

}  // namespace velnor::tools
