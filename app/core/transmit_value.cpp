#include "transmit_value.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace moxtest {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::size_t skip_digits(std::string_view text, std::size_t at) {
  while (at < text.size() && is_digit(text[at])) ++at;
  return at;
}

// The power of ten of the first significant digit of "digits[.digits]",
// exponent left out: 0 for "5.1", 2 for "100", -3 for "0.001".
long leading_digit_power(std::string_view mantissa) {
  const std::size_t point = mantissa.find('.');
  const std::string_view whole = mantissa.substr(0, point);
  const std::size_t first = whole.find_first_not_of('0');
  if (first != std::string_view::npos) return static_cast<long>(whole.size() - first) - 1;
  if (point == std::string_view::npos) return std::numeric_limits<long>::min() / 2;
  const std::string_view fraction = mantissa.substr(point + 1);
  const std::size_t significant = fraction.find_first_not_of('0');
  if (significant == std::string_view::npos) return std::numeric_limits<long>::min() / 2;
  return -static_cast<long>(significant) - 1;
}

}  // namespace

double leading_number(std::string_view text) {
  std::size_t at = text.find_first_not_of(" \t");
  if (at == std::string_view::npos) return 0;
  bool negative = false;
  if (text[at] == '+' || text[at] == '-') negative = text[at++] == '-';
  const std::size_t mantissa_start = at;
  at = skip_digits(text, at);
  bool has_digits = at > mantissa_start;
  if (at < text.size() && text[at] == '.') {
    const std::size_t fraction_start = at + 1;
    at = skip_digits(text, fraction_start);
    has_digits = has_digits || at > fraction_start;
  }
  if (!has_digits) return 0;
  const std::size_t mantissa_end = at;
  // An exponent counts only with at least one digit.
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t exponent = at + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    const std::size_t exponent_end = skip_digits(text, exponent);
    if (exponent_end > exponent) at = exponent_end;
  }
  const std::string_view number = text.substr(mantissa_start, at - mantissa_start);
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Too large, or too small to tell from zero: the first significant
    // digit's power of ten says which.
    long exponent = 0;
    if (mantissa_end < at) {
      const std::string_view digits = text.substr(mantissa_end + 1, at - mantissa_end - 1);
      const bool exponent_negative = digits.front() == '-';
      const std::string_view magnitude = digits.substr(digits.front() == '+' || exponent_negative);
      // Exponents beyond a long's range saturate; either way they are out of
      // any double's range.
      if (std::from_chars(magnitude.data(), magnitude.data() + magnitude.size(), exponent).ec !=
          std::errc())
        exponent = std::numeric_limits<long>::max() / 2;
      if (exponent_negative) exponent = -exponent;
    }
    const std::string_view mantissa = text.substr(mantissa_start, mantissa_end - mantissa_start);
    value = leading_digit_power(mantissa) + exponent >= 0 ? std::numeric_limits<double>::infinity()
                                                          : 0.0;
  }
  return negative ? -value : value;
}

std::optional<std::uint8_t> transmit_byte(std::string_view text) {
  // nearbyint rounds halves to even in the default rounding mode.
  const double rounded = std::nearbyint(leading_number(text));
  if (!(rounded >= 0 && rounded <= 255)) return std::nullopt;
  return static_cast<std::uint8_t>(rounded);
}

}  // namespace moxtest
