// The USB cable's place in the cable table. This build does not yet carry the
// firmware download or the transfer protocol: open looks for "\\.\ezusb-N"
// and reports the cable as not found, so the cable never comes online and
// no other operation touches USB.
#include "cables/usb_cable.h"

#include <cstdio>

#include "core/diagnostics.h"
#include "platform/platform.h"

namespace velnor {
namespace {

std::int32_t usb_max_bits() { return kCableMaxBits; }

std::int32_t usb_open(std::uint32_t unit, std::uint32_t /*rate*/, char* description) {
  if (description != nullptr) {
    std::snprintf(description, kCableDescriptionSize,
                  "EZ-USB No.%d : SPI(PC1=TCK,PA5=TDI,PC2=TMS,PC0=TDO,PC3=TVCC)",
                  static_cast<int>(unit));
  }
  diagnostic("Setup EZ-USB Firmware\n");
  char device_name[32];
  std::snprintf(device_name, sizeof device_name, "\\\\.\\ezusb-%d", static_cast<int>(unit));
  const platform::Handle device = platform::open_device(
      device_name, platform::kGenericWrite, platform::kFileShareWrite, platform::kOpenExisting, 0);
  // Without the firmware download a device found here cannot be used yet.
  if (device != platform::kNoHandle) platform::close_device(device);
  diagnostic("\nCan't found EZ-USB\n");
  return 2;
}

// An offline cable senses no target and clocks nothing.
std::int32_t usb_target_power() { return 0; }
std::int32_t usb_shift(const std::uint8_t*, std::uint8_t*, std::uint32_t, int, int) { return 0; }

// A failed open leaves nothing open.
void usb_close() {}

}  // namespace

const CableOps usb_cable_ops = {
    usb_max_bits, usb_open, usb_target_power, usb_close, usb_shift,
};

}  // namespace velnor
