// USB descriptors on the EZ-USB model's side of the bus: the core's own
// identity, answered while RENUM is clear, and the strict checks the host's
// enumeration makes of the descriptors a firmware presents.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "bench/ezusb.h"

namespace velnor::bench::usb {

constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kSetAddress = 5;
constexpr std::uint8_t kSetConfiguration = 9;
constexpr std::uint8_t kDeviceDescriptor = 1;
constexpr std::uint8_t kConfigurationDescriptor = 2;
constexpr std::uint8_t kStringDescriptor = 3;
constexpr std::uint16_t kCoreVendor = 0x0547;
constexpr std::uint16_t kCoreProduct = 0x2131;

// The bare chip's device and configuration descriptors: the vendor and
// product it was given, no strings, one interface without endpoints.
std::vector<std::uint8_t> core_device_descriptor(std::uint16_t vendor, std::uint16_t product);
std::span<const std::uint8_t> core_configuration_descriptor();

// False with the reason when the device descriptor is not one the driver
// of that vendor and product binds to.
bool check_device_descriptor(std::span<const std::uint8_t> bytes, std::uint16_t vendor,
                             std::uint16_t product, std::string* why);
// The configuration's endpoints in order (the driver's pipes); false with
// the reason when the descriptor is malformed or names an endpoint whose
// IN07VAL/OUT07VAL bit the firmware left clear.
bool parse_configuration(std::span<const std::uint8_t> bytes, std::uint8_t in_valid,
                         std::uint8_t out_valid, std::vector<UsbPipe>* pipes, std::string* why);

}  // namespace velnor::bench::usb
