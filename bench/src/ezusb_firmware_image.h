// The library's USB cable firmware, for units that run it from the start.
#pragma once

#include <cstdint>
#include <span>

namespace velnor::bench {

// The 8192-byte 8051 memory image, as the library downloads it.
std::span<const std::uint8_t> usb_firmware_image();

}  // namespace velnor::bench
