#include "log_lines.h"

#include <charconv>

namespace moxtest {

std::string hex_text(std::uint32_t value) {
  char digits[8];
  const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
  std::string text(digits, end);
  for (char& digit : text)
    if (digit >= 'a' && digit <= 'f') digit = static_cast<char>(digit - 'a' + 'A');
  return text;
}

std::string result_line(std::string_view label, std::uint32_t result) {
  return std::string(label) + " : err = " + hex_text(result);
}

std::string transfer_line(std::uint8_t transmitted, std::uint8_t received, std::uint32_t result) {
  return "SPI XFER TXD=" + hex_text(transmitted) + " RXD=" + hex_text(received) +
         ": err = " + hex_text(result);
}

}  // namespace moxtest
