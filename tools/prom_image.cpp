#include "prom_image.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "velnor.h"

namespace velnor::tools {
namespace {

constexpr std::size_t kBlockBytes = 512;
// Larger than any PROM the library knows; a record past it is a bad file.
constexpr std::size_t kMaxImageBytes = 1u << 24;

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

bool read_file(const std::string& path, std::string* contents) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream buffer;
  buffer << file.rdbuf();
  *contents = buffer.str();
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool parse_intel_hex(const std::string& text, std::vector<std::uint8_t>* bytes,
                     std::string* error) {
  bytes->clear();
  std::istringstream lines(text);
  std::string line;
  std::uint32_t base = 0;
  for (int number = 1; std::getline(lines, line); ++number) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    std::vector<std::uint8_t> record;
    bool well_formed = line[0] == ':' && line.size() % 2 == 1 && line.size() >= 11;
    for (std::size_t i = 1; well_formed && i + 1 < line.size(); i += 2) {
      const int high = hex_digit(line[i]), low = hex_digit(line[i + 1]);
      well_formed = high >= 0 && low >= 0;
      record.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    if (!well_formed || record.size() != 5u + record[0]) {
      *error = "line " + std::to_string(number) + " is not an Intel HEX record";
      return false;
    }
    std::uint8_t sum = 0;
    for (std::uint8_t byte : record) sum = static_cast<std::uint8_t>(sum + byte);
    if (sum != 0) {
      *error = "line " + std::to_string(number) + ": checksum mismatch";
      return false;
    }
    const std::uint32_t offset = static_cast<std::uint32_t>(record[1] << 8 | record[2]);
    const std::uint8_t type = record[3];
    const std::uint8_t* data = record.data() + 4;
    if (type == 0x01) return true;
    if (type == 0x04 && record[0] == 2) {
      base = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 16;
    } else if (type == 0x00) {
      const std::size_t at = static_cast<std::size_t>(base) + offset;
      if (at + record[0] > kMaxImageBytes) {
        *error = "line " + std::to_string(number) + ": address past any PROM";
        return false;
      }
      if (bytes->size() < at + record[0]) bytes->resize(at + record[0], 0xFF);
      std::copy(data, data + record[0], bytes->begin() + static_cast<long>(at));
    } else if (type != 0x02 && type != 0x03 && type != 0x05) {
      *error = "line " + std::to_string(number) + ": unknown record type";
      return false;
    }
  }
  *error = "no end record";
  return false;
}

bool load_prom_image(const std::string& path, std::vector<std::uint8_t>* image,
                     std::string* error) {
  if (ends_with(path, ".bit")) {
    VelnorBitFileInfo info;
    std::string contents;
    if (velnor_bitfile_info(path.c_str(), &info) != VELNOR_OK || !read_file(path, &contents) ||
        contents.size() < info.length) {
      *error = "not a bitstream file";
      return false;
    }
    image->assign(contents.end() - static_cast<long>(info.length), contents.end());
    return true;
  }
  std::string contents;
  if (!read_file(path, &contents)) {
    *error = "cannot read the file";
    return false;
  }
  if (ends_with(path, ".mcs") || ends_with(path, ".hex")) {
    if (!parse_intel_hex(contents, image, error)) return false;
    for (std::uint8_t& byte : *image) byte = reversed(byte);
    return true;
  }
  image->assign(contents.begin(), contents.end());
  return true;
}

void pad_to_blocks(std::vector<std::uint8_t>* image) {
  image->resize((image->size() + kBlockBytes - 1) / kBlockBytes * kBlockBytes, 0xFF);
}

}  // namespace velnor::tools
