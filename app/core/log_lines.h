// The lines the test window prints into its log. Numbers are in upper-case
// hexadecimal without leading zeros or prefix: 0 is "0", a byte "A5".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace moxtest {

std::string hex_text(std::uint32_t value);

// "<label> : err = <result>", e.g. "INIT : err = 40000000".
std::string result_line(std::string_view label, std::uint32_t result);

// "SPI XFER TXD=1 RXD=A5: err = 0".
std::string transfer_line(std::uint8_t transmitted, std::uint8_t received, std::uint32_t result);

// The labels that begin the result lines of the other buttons.
inline constexpr std::string_view kInitLabel = "INIT";
inline constexpr std::string_view kConfigLabel = "CONFIG";
inline constexpr std::string_view kSpiCloseLabel = "SPI close";
inline constexpr std::string_view kShutdownLabel = "Shutdown";

}  // namespace moxtest
