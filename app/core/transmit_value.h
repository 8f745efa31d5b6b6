// The byte typed into the transmit box. The box is read the way the
// platform's text-to-number conversion reads a text: its leading decimal
// number, or 0 when it does not start with one ("255", "2.6", "1e2", " 7";
// "abc" is 0).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace moxtest {

// The leading decimal number of a text (spaces and tabs before it skipped,
// sign, fraction and exponent allowed); 0 without one. A number too large
// for a double is infinite.
double leading_number(std::string_view text);

// The leading number rounded to the nearest integer (halves to the even
// neighbour, as the platform converts to a byte); none when that is
// outside 0 to 255, which is an overflow.
std::optional<std::uint8_t> transmit_byte(std::string_view text);

}  // namespace moxtest
