#include "ezusb_descriptors.h"

#include <cstdio>

namespace velnor::bench::usb {

namespace {

constexpr std::uint8_t kInterfaceDescriptor = 4;
constexpr std::uint8_t kEndpointDescriptor = 5;

constexpr std::uint8_t kCoreDevice[18] = {18,
                                          kDeviceDescriptor,
                                          0x00,
                                          0x01,  // USB 1.00
                                          0xFF,
                                          0xFF,
                                          0xFF,  // vendor-specific class
                                          64,    // endpoint 0 packet size
                                          kCoreVendor & 0xFF,
                                          kCoreVendor >> 8,
                                          kCoreProduct & 0xFF,
                                          kCoreProduct >> 8,
                                          0x00,
                                          0x00,  // device release
                                          0,
                                          0,
                                          0,  // no strings
                                          1};
constexpr std::uint8_t kCoreConfiguration[18] = {
    9, kConfigurationDescriptor, 18, 0, 1, 1,    0,    0x80, 50,  // bus powered, 100 mA
    9, kInterfaceDescriptor,     0,  0, 0, 0xFF, 0xFF, 0xFF, 0};

std::uint16_t word(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::string hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

}  // namespace

std::vector<std::uint8_t> core_device_descriptor(std::uint16_t vendor, std::uint16_t product) {
  std::vector<std::uint8_t> bytes(std::begin(kCoreDevice), std::end(kCoreDevice));
  bytes[8] = static_cast<std::uint8_t>(vendor);
  bytes[9] = static_cast<std::uint8_t>(vendor >> 8);
  bytes[10] = static_cast<std::uint8_t>(product);
  bytes[11] = static_cast<std::uint8_t>(product >> 8);
  return bytes;
}

std::span<const std::uint8_t> core_configuration_descriptor() { return kCoreConfiguration; }

bool check_device_descriptor(std::span<const std::uint8_t> bytes, std::uint16_t vendor,
                             std::uint16_t product, std::string* why) {
  if (bytes.size() != 18 || bytes[0] != 18 || bytes[1] != kDeviceDescriptor) {
    *why = "device descriptor of " + std::to_string(bytes.size()) + " bytes is malformed";
    return false;
  }
  if (bytes[7] != 64) {
    *why = "endpoint 0 packet size " + std::to_string(bytes[7]) + ", the core's is 64";
    return false;
  }
  if (word(bytes, 8) != vendor || word(bytes, 10) != product) {
    *why = "vendor " + hex(word(bytes, 8), 4) + " product " + hex(word(bytes, 10), 4) +
           " is not the driver's " + hex(vendor, 4) + "/" + hex(product, 4);
    return false;
  }
  if (bytes[17] == 0) {
    *why = "device descriptor lists no configuration";
    return false;
  }
  return true;
}

bool parse_configuration(std::span<const std::uint8_t> bytes, std::uint8_t in_valid,
                         std::uint8_t out_valid, std::vector<UsbPipe>* pipes, std::string* why) {
  pipes->clear();
  if (bytes.size() < 9 || bytes[0] != 9 || bytes[1] != kConfigurationDescriptor ||
      word(bytes, 2) != bytes.size()) {
    *why = "configuration descriptor of " + std::to_string(bytes.size()) + " bytes is malformed";
    return false;
  }
  if (bytes[5] != 1) {
    *why = "configuration value " + std::to_string(bytes[5]) + ", the driver selects 1";
    return false;
  }
  int endpoints_expected = -1;
  std::uint8_t seen_endpoints[2] = {0, 0};
  for (std::size_t at = 9; at < bytes.size();) {
    const std::size_t length = bytes[at];
    if (length < 2 || at + length > bytes.size()) {
      *why = "descriptor at offset " + std::to_string(at) + " runs past the configuration";
      return false;
    }
    const std::span<const std::uint8_t> d = bytes.subspan(at, length);
    at += length;
    if (d[1] == kInterfaceDescriptor) {
      if (length != 9) {
        *why = "interface descriptor of " + std::to_string(length) + " bytes";
        return false;
      }
      // The driver takes the pipes of interface 0 in its first setting.
      if (d[2] == 0 && d[3] == 0) endpoints_expected = d[4];
      continue;
    }
    if (d[1] != kEndpointDescriptor || endpoints_expected < 0 ||
        static_cast<int>(pipes->size()) >= endpoints_expected) {
      continue;
    }
    if (length != 7) {
      *why = "endpoint descriptor of " + std::to_string(length) + " bytes";
      return false;
    }
    const UsbPipe pipe{d[2], static_cast<std::uint8_t>(d[3] & 0x03), word(d, 4)};
    const unsigned number = pipe.address & 0x0F;
    const bool in = (pipe.address & 0x80) != 0;
    const std::string name = "endpoint " + hex(pipe.address, 2);
    if (number == 0 || number > 7 || (pipe.address & 0x70) != 0) {
      *why = name + " does not exist on the EZ-USB";
      return false;
    }
    if (pipe.attributes != 2 && pipe.attributes != 3) {
      *why = name + " is neither bulk nor interrupt";
      return false;
    }
    if (pipe.max_packet == 0 || pipe.max_packet > 64) {
      *why = name + " has packet size " + std::to_string(pipe.max_packet);
      return false;
    }
    if ((seen_endpoints[in] >> number & 1) != 0) {
      *why = name + " listed twice";
      return false;
    }
    seen_endpoints[in] = static_cast<std::uint8_t>(seen_endpoints[in] | 1u << number);
    if (((in ? in_valid : out_valid) >> number & 1) == 0) {
      *why = name + " is listed but its " + (in ? "IN07VAL" : "OUT07VAL") + " bit is clear";
      return false;
    }
    pipes->push_back(pipe);
  }
  if (endpoints_expected < 0) {
    *why = "configuration has no interface 0";
    return false;
  }
  if (static_cast<int>(pipes->size()) != endpoints_expected) {
    *why = "interface 0 announces " + std::to_string(endpoints_expected) + " endpoints and lists " +
           std::to_string(pipes->size());
    return false;
  }
  return true;
}

}  // namespace velnor::bench::usb
